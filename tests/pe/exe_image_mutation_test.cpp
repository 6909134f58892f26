// Real images, truncated and damaged thousands of times with a fixed seed: every
// outcome must be one of the reader's results, and nothing may be read outside
// the image (the host build runs this under AddressSanitizer).
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "pe_support.h"

namespace {

class Random {
public:
    explicit Random(uint32_t seed) : state_(seed) {}
    uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : Next() % n; }

private:
    uint32_t state_;
};

uint32_t Le32At(const std::vector<uint8_t>& b, uint32_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// Touches every byte of the data it is given, so that a pointer outside the
// loaded image is caught.
class TouchingImage : public EXEImageFileObject {
public:
    ResultCode OnEnumResource(const char* type, const char* name, uint16_t, const uint8_t* data,
                              uint32_t size) override {
        if (!IsIntResource(type)) sum += static_cast<uint8_t>(type[std::strlen(type) / 2]);
        if (!IsIntResource(name)) sum += static_cast<uint8_t>(name[std::strlen(name) / 2]);
        if (touch) sum += Crc32(data, size);
        return ResultSuccess;
    }
    bool touch = false;
    uint32_t sum = 0;
};

struct Lookup {
    const char* type;
    const char* name;
    uint16_t language;
};

const Lookup kLookups[] = {
    {MakeIntResource(RT_RCDATA_ID), "IDR_ARCHIVE", 0},
    {MakeIntResource(RT_RCDATA_ID), "IDR_TWO", 0x0411},
    {MakeIntResource(3), MakeIntResource(1), 0},
    {MakeIntResource(14), MakeIntResource(1), 0},
    {MakeIntResource(16), MakeIntResource(1), 0},
    {"WINE_REGISTRY", MakeIntResource(1), 0},
};

class Outcomes {
public:
    void Add(const char* step, ResultCode r) {
        EXPECT_TRUE(IsImageResult(r)) << step << " gave " << r;
        ++counts_[std::string(step) + ": " + (r == ResultSuccess ? "success" : GetResultText(r))];
    }
    size_t Distinct() const { return counts_.size(); }
    void Print() const {
        for (const auto& [outcome, count] : counts_) std::printf("  %6u  %s\n", count, outcome.c_str());
    }

private:
    std::map<std::string, uint32_t> counts_;
};

void Exercise(const std::vector<uint8_t>& bytes, Outcomes& outcomes) {
    {
        VectorFile file(modeRead, bytes);
        TouchingImage image;
        ResultCode r = image.LoadPEImage(&file, false);
        outcomes.Add("load", r);
        if (r == ResultSuccess) {
            image.touch = true;
            outcomes.Add("enumerate loaded", image.EnumResources(nullptr, nullptr, 0));
            for (const Lookup& l : kLookups) {
                ResourceData data{};
                r = image.FindResourceData(&data, l.type, l.name, l.language);
                outcomes.Add("find loaded", r);
                if (r == ResultSuccess) image.sum += Crc32(data.data, data.size);
            }
        }
    }
    VectorFile file(modeRead, bytes);
    TouchingImage image;
    ResultCode r = image.OpenPEImageFile(&file);
    outcomes.Add("open", r);
    if (r != ResultSuccess) return;
    outcomes.Add("enumerate head", image.EnumResources(nullptr, nullptr, 0));
    std::vector<uint8_t> buffer;
    for (const Lookup& l : kLookups) {
        r = image.OpenResource(l.type, l.name, l.language);
        outcomes.Add("open resource", r);
        if (r != ResultSuccess || image.GetLength() > (16u << 20)) continue;
        // The buffer holds exactly the window; the count asks for far more.
        buffer.resize(image.GetLength() + 1);
        uint32_t got = image.Read(buffer.data(), 0xFFFFFFFFu);
        EXPECT_LE(got, image.GetLength());
        EXPECT_EQ(image.Seek(-1, FromBegin), 0u);
    }
}

}  // namespace

TEST(PEImageMutation, DamagedImagesGiveResultsNeverFaults) {
    const char* dir = std::getenv("HVB_WINE_IMAGES");
    const std::string wine = dir != nullptr ? dir : "/usr/lib/i386-linux-gnu/wine/i386-windows";
    const std::vector<std::string> images = {
        HostPath(TestDataDir() + "/archive_70001.exe"),
        HostPath(wine + "/write.exe"),
        HostPath(wine + "/clock.exe"),
        HostPath(wine + "/winemine.exe"),
    };
    Random random(0x5EED1234u);
    Outcomes outcomes;
    const uint32_t kEdgeValues[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFF0, 0x80000010, 0x10000};
    for (const std::string& path : images) {
        SCOPED_TRACE(path);
        const std::vector<uint8_t> original = ReadHostFile(path);
        ASSERT_GT(original.size(), 4096u);
        // Damage where the reader looks: the headers and the resource directory.
        const uint32_t header = Le32At(original, 0x3C);
        const uint32_t sections = original[header + 6] | original[header + 7] << 8;
        const uint32_t table = header + 24 + (original[header + 20] | original[header + 21] << 8);
        const uint32_t headers_end = table + 40 * sections;
        uint32_t rsrc = 0;
        uint32_t rsrc_size = 0;
        for (uint32_t i = 0; i < sections; ++i) {
            if (std::memcmp(&original[table + 40 * i], ".rsrc\0\0", 8) == 0) {
                rsrc = Le32At(original, table + 40 * i + 20);
                rsrc_size = Le32At(original, table + 40 * i + 16);
            }
        }
        ASSERT_NE(rsrc, 0u);
        const uint32_t directory_span = std::min<uint32_t>(rsrc_size, 8192);

        for (int round = 0; round < 800; ++round) {
            std::vector<uint8_t> bytes = original;
            const uint32_t kind = random.Below(10);
            if (kind == 0) {
                bytes.resize(random.Below(static_cast<uint32_t>(bytes.size())));
            } else if (kind == 1) {
                bytes.resize(rsrc + random.Below(directory_span));
            } else {
                for (uint32_t n = 1 + random.Below(4); n > 0; --n) {
                    uint32_t at = random.Below(3) == 0 ? random.Below(headers_end)
                                                       : rsrc + random.Below(directory_span);
                    at &= ~3u;
                    if (at + 4 > bytes.size()) continue;
                    uint32_t value = random.Below(2) == 0 ? kEdgeValues[random.Below(8)] : random.Next();
                    uint32_t width = 1u << random.Below(3);
                    for (uint32_t i = 0; i < width; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
                }
            }
            Exercise(bytes, outcomes);
            if (testing::Test::HasFailure()) return;
        }
    }
    outcomes.Print();
    // The damage reached more than the first check.
    EXPECT_GT(outcomes.Distinct(), 12u);
}
