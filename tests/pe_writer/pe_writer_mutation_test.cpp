// Images damaged thousands of times with a fixed seed, fed to the writer
// (load, declare every resource found, write): every outcome is a described
// result, and whatever was written reads back with the bytes declared.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>

#include "pe_writer_support.h"

namespace {

bool IsWriterResult(ResultCode r) {
    if (IsImageResult(r) || r == ResultGeneralError) return true;
    for (const char* text : {kNoResourceSection, kNotLastSection, kHeadNotWritten, kDirectoryNotWritten, kNotBegun,
                             kLeafNotFound, kDataNotWritten, kOverlay})
        if (std::strcmp(GetResultText(r), text) == 0) return true;
    return false;
}

// A small image with named and numbered resources in several languages.
std::vector<uint8_t> SmallImage() {
    VectorFile source(modeRead, MakeImage(0x600, 0x2000));
    EXEImageFileObject image;
    EXPECT_EQ(image.LoadPEImage(&source, false), ResultSuccess);
    const char* names[] = {"IDR_ARCHIVE", "Beta", MakeIntResource(7), MakeIntResource(300)};
    const char* types[] = {MakeIntResource(10), "DATA", MakeIntResource(3)};
    uint32_t size = 3;
    for (const char* type : types)
        for (const char* name : names)
            for (uint16_t language : {0, 0x409, 0x411}) image.AddResource(type, name, language, size += 5);
    VectorFile out;
    EXPECT_EQ(image.BeginWritingPEImage(&out), ResultSuccess);
    std::vector<uint8_t> bytes(1000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    size = 3;
    for (const char* type : types)
        for (const char* name : names)
            for (uint16_t language : {0, 0x409, 0x411})
                EXPECT_EQ(image.WriteResourceData(type, name, language, bytes.data(), size += 5), ResultSuccess);
    return out.bytes;
}

std::string Key(const HeldKey& k) { return k.text.empty() ? "#" + std::to_string(k.id) : "=" + k.text; }

}  // namespace

TEST(PEWriterMutation, DamagedImagesGiveResultsNeverFaults) {
    std::vector<std::vector<uint8_t>> originals = {SmallImage()};
    for (const char* name : {"winemine.exe", "clock.exe"})
        originals.push_back(ReadHostFile(HostPath(TestDataDir() + "/images/" + name)));
    uint32_t state = 0x3E5C0DE5u;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    const uint32_t edges[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFF0, 0x80000010, 0x10000};
    std::map<std::string, int> outcomes;
    size_t checked = 0;
    for (int round = 0; round < 2400; ++round) {
        // Mostly the small image: under qemu the pages of each large copy are
        // mapped ever higher, until AddressSanitizer's address range runs out.
        const std::vector<uint8_t>& original = originals[round % 6 < 4 ? 0 : round % 6 - 3];
        ASSERT_GT(original.size(), 1024u);
        const uint32_t header = Le32At(original, 0x3C);
        const uint32_t sections = Le16At(original, header + 6);
        const uint32_t table = header + 24 + Le16At(original, header + 20);
        uint32_t rsrc = 0;
        for (uint32_t i = 0; i < sections; ++i)
            if (std::memcmp(&original[table + 40 * i], ".rsrc", 6) == 0) rsrc = Le32At(original, table + 40 * i + 20);
        ASSERT_NE(rsrc, 0u);
        std::vector<uint8_t> bytes = original;
        if (next() % 10 == 0) {
            bytes.resize(rsrc + next() % (static_cast<uint32_t>(bytes.size()) - rsrc));
        } else {
            for (uint32_t n = 1 + next() % 4; n > 0; --n) {
                // The headers and the resource directory, where the writer looks.
                uint32_t at = next() % 3 == 0 ? next() % (table + 40 * sections) : rsrc + next() % 2048;
                at &= ~3u;
                if (at + 4 > bytes.size()) continue;
                const uint32_t value = next() % 2 ? edges[next() % 8] : next();
                for (uint32_t i = 0; i < (1u << next() % 3); ++i)
                    bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
            }
        }

        VectorFile source(modeRead, bytes);
        GatheringImage image;
        ResultCode r = image.LoadPEImage(&source, false);
        VectorFile out;
        if (r == ResultSuccess) {
            // A damaged directory may declare the same data many times over;
            // copies of more than 16 MB are not made here.
            image.found.clear();
            if (image.EnumResources(nullptr, nullptr, 0) == ResultSuccess) {
                uint64_t total = 0;
                for (const GatheredResource& g : image.found) total += g.size;
                if (total > (16u << 20)) {
                    ++outcomes["skipped: more than 16 MB declared"];
                    continue;
                }
            }
            r = RewriteWithAllResources(image, &out);
        }
        ASSERT_TRUE(IsWriterResult(r)) << round << ": " << r;
        ++outcomes[r == ResultSuccess ? "success" : GetResultText(r)];
        if (r != ResultSuccess) continue;

        // What was declared reads back from the copy, byte for byte, where
        // its keys name one resource alone.
        VectorFile written(modeRead, out.bytes);
        EXEImageFileObject check;
        ASSERT_EQ(check.LoadPEImage(&written, false), ResultSuccess) << round;
        std::map<std::string, int> uses;
        for (const GatheredResource& g : image.found) ++uses[Key(g.type) + Key(g.name) + std::to_string(g.language)];
        for (const GatheredResource& g : image.found) {
            if (uses[Key(g.type) + Key(g.name) + std::to_string(g.language)] != 1 || g.type.text[0] == '#' ||
                g.name.text[0] == '#' || g.language == 0)
                continue;
            ResourceData data{};
            ASSERT_EQ(check.FindResourceData(&data, g.type.get(), g.name.get(), g.language), ResultSuccess) << round;
            ASSERT_EQ(data.size, g.size) << round;
            ASSERT_EQ(Crc32(data.data, data.size), Crc32(g.data, g.size)) << round;
            ++checked;
        }
    }
    for (const auto& [outcome, count] : outcomes) std::printf("  %6d  %s\n", count, outcome.c_str());
    EXPECT_GT(outcomes.size(), 6u);
    EXPECT_LT(outcomes["skipped: more than 16 MB declared"], 100);
    EXPECT_GT(checked, 10000u);
}
