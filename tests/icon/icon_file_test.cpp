#include "file/icon_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "support/test_files.h"

namespace {

const char kHeaderUnreadable[] = "ファイルヘッダを読み込めませんでした。";
const char kNotIconFile[] = "アイコンファイルではありません。";
const char kEntriesUnreadable[] = "アイコンエントリテーブルを読み込めませんでした。";
const char kImageUnreadable[] = "画像データの読み込みに失敗しました。";
const char kNoIconData[] = "アイコンデータがありません。";
const char kHeaderUnwritable[] = "ファイルヘッダの書き出しに失敗しました。";
const char kEntryUnwritable[] = "アイコンエントリの書き出しに失敗しました。";
const char kImageUnwritable[] = "画像データの書き出しに失敗しました。";

#define EXPECT_RESULT(result, text) EXPECT_STREQ(GetResultText(result), text)

uint32_t Crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return crc ^ 0xFFFFFFFFu;
}

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// An icon image (BITMAPINFOHEADER, palette, colour rows, mask rows, both
// bottom up) as RGBA pixels top down: the alpha channel of 32-bit images,
// the mask otherwise. Empty when the bytes are too short.
std::vector<uint8_t> DibPixels(const uint8_t* dib, uint32_t size) {
    if (size < 40) return {};
    const uint32_t header = Le32(dib);
    const uint32_t width = Le32(dib + 4);
    const uint32_t height = Le32(dib + 8) / 2;
    const uint32_t bits = Le16(dib + 14);
    const uint32_t used = Le32(dib + 32);
    const uint32_t colours = bits <= 8 ? (used != 0 ? used : 1u << bits) : 0;
    const uint64_t pixels = header + 4ull * colours;
    const uint32_t stride = (width * bits + 31) / 32 * 4;
    const uint32_t mask_stride = (width + 31) / 32 * 4;
    const uint64_t mask = pixels + static_cast<uint64_t>(stride) * height;
    if (mask + static_cast<uint64_t>(mask_stride) * height > size) return {};
    std::vector<uint8_t> out;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = dib + pixels + static_cast<uint64_t>(height - 1 - y) * stride;
        const uint8_t* mask_row = dib + mask + static_cast<uint64_t>(height - 1 - y) * mask_stride;
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t alpha = (mask_row[x / 8] >> (7 - x % 8) & 1) ? 0 : 255;
            uint8_t r, g, b, a = alpha;
            if (bits == 32) {
                b = row[4 * x], g = row[4 * x + 1], r = row[4 * x + 2], a = row[4 * x + 3];
            } else if (bits == 24) {
                b = row[3 * x], g = row[3 * x + 1], r = row[3 * x + 2];
            } else if (bits == 16) {
                const uint32_t v = Le16(row + 2 * x);
                r = static_cast<uint8_t>((v >> 10 & 31) * 255 / 31);
                g = static_cast<uint8_t>((v >> 5 & 31) * 255 / 31);
                b = static_cast<uint8_t>((v & 31) * 255 / 31);
            } else {
                const uint32_t bit = x * bits;
                const uint32_t index = row[bit / 8] >> (8 - bits - bit % 8) & ((1u << bits) - 1);
                const uint8_t* entry = dib + header + 4 * index;
                b = entry[0], g = entry[1], r = entry[2];
            }
            out.insert(out.end(), {r, g, b, a});
        }
    }
    return out;
}

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    return fields;
}

// Takes at most limit bytes in all, then refuses.
class LimitedFile : public VectorFile {
public:
    explicit LimitedFile(uint32_t limit) : limit_(limit) {}
    uint32_t Write(const void* buffer, uint32_t count) override {
        if (count > limit_) count = limit_;
        limit_ -= count;
        return VectorFile::Write(buffer, count);
    }

private:
    uint32_t limit_;
};

struct Image {
    uint8_t width, height, colours;
    uint16_t bits;
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> IconBytes(uint16_t reserved, uint16_t count, const std::vector<Image>& images) {
    std::vector<uint8_t> b = {static_cast<uint8_t>(reserved), static_cast<uint8_t>(reserved >> 8), 1, 0,
                              static_cast<uint8_t>(count),    static_cast<uint8_t>(count >> 8)};
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (const Image& image : images) {
        const uint32_t size = static_cast<uint32_t>(image.bytes.size());
        b.insert(b.end(), {image.width, image.height, image.colours, 0, 1, 0, static_cast<uint8_t>(image.bits), 0});
        for (uint32_t v : {size, offset})
            for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
        offset += size;
    }
    for (const Image& image : images) b.insert(b.end(), image.bytes.begin(), image.bytes.end());
    return b;
}

std::vector<uint8_t> Pattern(uint32_t n, uint8_t seed) {
    std::vector<uint8_t> b(n);
    for (uint32_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + seed);
    return b;
}

}  // namespace

// Icon groups of the Wine installation as wrestool rebuilt them: every image
// reads with the entry and the pixels icotool reports, and writing the icon
// back reproduces the file.
TEST(IconReal, MatchesIcotoolAndWritesBackByteForByte) {
    const std::vector<std::string> names = Lines(TestDataDir() + "/icons.txt");
    ASSERT_GE(names.size(), 100u);
    size_t dib = 0, png = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string path = HostPath(TestDataDir() + "/icons/" + name);
        const std::vector<uint8_t> original = ReadHostFile(path);
        const std::vector<std::string> reference = Lines(path + ".ref");
        VectorFile source(modeRead, original);
        EWin32IconFile icon;
        ASSERT_EQ(icon.ReadIconFile(&source), ResultSuccess);
        ASSERT_EQ(icon.GetImageCount(), reference.size());
        for (uint32_t i = 0; i < icon.GetImageCount(); ++i) {
            const std::vector<std::string> want = Fields(reference[i]);
            const uint8_t* data = icon.GetImageData(i);
            const uint32_t size = icon.GetImageSize(i);
            ASSERT_NE(data, nullptr);
            ASSERT_EQ(size, icon.GetEntry(i)->bytes_in_resource);
            if (want[6] == "-") {
                EXPECT_EQ(Crc32(data, size), std::stoul(want[5], nullptr, 16)) << i;
                ++png;
                continue;
            }
            const IconDirectoryEntry& entry = *icon.GetEntry(i);
            // icotool takes the size from the bitmap; an entry's 0 only says "large".
            EXPECT_TRUE(entry.width == 0 || entry.width == std::stoul(want[1])) << i;
            EXPECT_TRUE(entry.height == 0 || entry.height == std::stoul(want[2])) << i;
            EXPECT_EQ(entry.bit_count, std::stoul(want[3])) << i;
            const uint32_t palette = entry.color_count != 0 ? entry.color_count
                                     : entry.bit_count <= 8 ? 1u << entry.bit_count
                                                            : 0;
            EXPECT_EQ(palette, std::stoul(want[4])) << i;
            const std::vector<uint8_t> pixels = DibPixels(data, size);
            ASSERT_FALSE(pixels.empty()) << i;
            EXPECT_EQ(Crc32(pixels.data(), pixels.size()), std::stoul(want[6], nullptr, 16)) << i;
            ++dib;
        }
        // wrestool's files run on past the last image (their length counts
        // the group's directory once more); that tail is no part of the icon.
        VectorFile written;
        ASSERT_EQ(icon.WriteIconFile(&written, icon.GetHeader().type), ResultSuccess);
        ASSERT_LE(written.bytes.size(), original.size());
        EXPECT_TRUE(std::equal(written.bytes.begin(), written.bytes.end(), original.begin()));
    }
    EXPECT_GT(dib, 1000u);
    EXPECT_GT(png, 20u);
}

TEST(IconFile, TwoImagesReadAndWriteAtTheirOffsets) {
    const std::vector<uint8_t> first = Pattern(40, 1), second = Pattern(13, 2);
    const std::vector<uint8_t> bytes = IconBytes(0, 2, {{16, 16, 0, 8, first}, {32, 32, 16, 4, second}});
    VectorFile source(modeRead, bytes);
    EWin32IconFile icon;
    ASSERT_EQ(icon.ReadIconFile(&source), ResultSuccess);
    ASSERT_EQ(icon.GetImageCount(), 2u);
    EXPECT_EQ(std::vector<uint8_t>(icon.GetImageData(0), icon.GetImageData(0) + icon.GetImageSize(0)), first);
    EXPECT_EQ(std::vector<uint8_t>(icon.GetImageData(1), icon.GetImageData(1) + icon.GetImageSize(1)), second);
    EXPECT_EQ(icon.GetEntry(1)->color_count, 16);
    EXPECT_EQ(icon.GetEntry(2), nullptr);
    EXPECT_EQ(icon.GetImageData(2), nullptr);
    EXPECT_EQ(icon.GetImageSize(2), 0u);

    VectorFile written;
    ASSERT_EQ(icon.WriteIconFile(&written, 1), ResultSuccess);
    EXPECT_EQ(Le32(&written.bytes[6 + 12]), 38u);
    EXPECT_EQ(Le32(&written.bytes[22 + 12]), 38u + 40);
    EXPECT_EQ(written.bytes, bytes);

    // An icon file further into a file: its offsets count from its start.
    std::vector<uint8_t> later(100, 0xEE);
    later.insert(later.end(), bytes.begin(), bytes.end());
    VectorFile shifted(modeRead, later);
    shifted.Seek(100, FromBegin);
    ASSERT_EQ(icon.ReadIconFile(&shifted), ResultSuccess);
    EXPECT_EQ(std::vector<uint8_t>(icon.GetImageData(1), icon.GetImageData(1) + icon.GetImageSize(1)), second);
}

TEST(IconFile, DamagedFilesAreRefused) {
    const std::vector<uint8_t> image = Pattern(40, 3);
    std::vector<uint8_t> huge = IconBytes(0, 0xFFFF, {});
    // 65,535 entries of 4 GB each, all present in the table.
    for (uint32_t i = 0; i < 0xFFFF; ++i) {
        const uint8_t entry[16] = {32, 32, 0, 0, 1, 0, 8, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x10, 0, 0, 0};
        huge.insert(huge.end(), entry, entry + 16);
    }
    std::vector<uint8_t> short_image = IconBytes(0, 2, {{16, 16, 0, 8, image}, {16, 16, 0, 8, image}});
    short_image.pop_back();
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* result;
        uint32_t images_left;
    } cases[] = {
        {"no header", {0, 0, 1, 0}, kHeaderUnreadable, 0},
        {"reserved 1", IconBytes(1, 1, {{16, 16, 0, 8, image}}), kNotIconFile, 0},
        {"3 claimed, 2 entries", IconBytes(0, 3, {{16, 16, 0, 8, {}}, {16, 16, 0, 8, {}}}), kEntriesUnreadable, 0},
        {"65535 claimed, none there", IconBytes(0, 0xFFFF, {}), kEntriesUnreadable, 0},
        {"65535 of 4 GB each", huge, kImageUnreadable, 0},
        {"last image short", short_image, kImageUnreadable, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VectorFile source(modeRead, c.bytes);
        EWin32IconFile icon;
        EXPECT_RESULT(icon.ReadIconFile(&source), c.result);
        EXPECT_EQ(icon.GetImageCount(), c.images_left);
    }
}

TEST(IconFile, AddImageBuildsTheEntryFromTheBitmapHeader) {
    std::vector<uint8_t> dib(40 + 1024 + 32 * 32 + 32 * 4, 0);
    const uint8_t info[16] = {40, 0, 0, 0, 32, 0, 0, 0, 64, 0, 0, 0, 1, 0, 8, 0};
    std::copy(info, info + 16, dib.begin());
    EWin32IconFile icon;
    ASSERT_EQ(icon.AddImage(dib.data(), static_cast<uint32_t>(dib.size()), nullptr), ResultSuccess);
    const IconDirectoryEntry* entry = icon.GetEntry(0);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->width, 32);
    EXPECT_EQ(entry->height, 64);
    EXPECT_EQ(entry->color_count, 0);
    EXPECT_EQ(entry->bit_count, 0);
    EXPECT_EQ(entry->bytes_in_resource, dib.size());
    // A 4-bit header, and bytes too short to hold one (read as zeros).
    dib[14] = 4;
    ASSERT_EQ(icon.AddImage(dib.data(), static_cast<uint32_t>(dib.size()), nullptr), ResultSuccess);
    EXPECT_EQ(icon.GetEntry(1)->color_count, 16);
    ASSERT_EQ(icon.AddImage(dib.data(), 6, nullptr), ResultSuccess);
    EXPECT_EQ(icon.GetEntry(2)->width, 32);
    EXPECT_EQ(icon.GetEntry(2)->height, 0);
    EXPECT_EQ(icon.GetEntry(2)->color_count, 1);
    const IconDirectoryEntry given{48, 48, 0, 0, 1, 32, 999, 999};
    ASSERT_EQ(icon.AddImage(dib.data(), 100, &given), ResultSuccess);

    VectorFile written;
    ASSERT_EQ(icon.WriteIconFile(&written, 2), ResultSuccess);
    VectorFile again(modeRead, written.bytes);
    EWin32IconFile read;
    ASSERT_EQ(read.ReadIconFile(&again), ResultSuccess);
    EXPECT_EQ(read.GetHeader().type, 2);
    ASSERT_EQ(read.GetImageCount(), 4u);
    EXPECT_EQ(read.GetEntry(3)->bytes_in_resource, 100u);
    EXPECT_EQ(read.GetEntry(3)->bit_count, 32);
    EXPECT_EQ(read.GetImageSize(2), 6u);
    // No bytes at all: an empty image whose header reads as zeros; a null
    // pointer with a length is refused.
    ASSERT_EQ(icon.AddImage(nullptr, 0, nullptr), ResultSuccess);
    EXPECT_EQ(icon.GetEntry(4)->width, 0);
    EXPECT_EQ(icon.GetEntry(4)->bytes_in_resource, 0u);
    EXPECT_EQ(icon.AddImage(nullptr, 8, nullptr), ResultInvalidParameter);
    EXPECT_EQ(icon.GetImageCount(), 5u);
    icon.Clear();
    EXPECT_EQ(icon.GetImageCount(), 0u);
    EXPECT_EQ(icon.GetEntry(0), nullptr);
}

TEST(IconFile, WriteFailures) {
    EWin32IconFile icon;
    VectorFile unused;
    EXPECT_RESULT(icon.WriteIconFile(&unused, 1), kNoIconData);
    EXPECT_TRUE(unused.bytes.empty());
    const std::vector<uint8_t> image = Pattern(40, 4);
    const IconDirectoryEntry entry{16, 16, 0, 0, 1, 8, 0, 0};
    icon.AddImage(image.data(), 40, &entry);
    icon.AddImage(image.data(), 40, &entry);
    const struct {
        uint32_t limit;
        const char* result;
    } cases[] = {{5, kHeaderUnwritable}, {6 + 16 + 15, kEntryUnwritable}, {6 + 32 + 79, kImageUnwritable}};
    for (const auto& c : cases) {
        LimitedFile destination(c.limit);
        EXPECT_RESULT(icon.WriteIconFile(&destination, 1), c.result);
    }
    LimitedFile exact(6 + 32 + 80);
    EXPECT_EQ(icon.WriteIconFile(&exact, 1), ResultSuccess);
}

// Real icon files damaged thousands of times with a fixed seed: every outcome
// is one of the described results, and what was read writes back whole.
TEST(IconMutation, DamagedIconsGiveResultsNeverFaults) {
    std::vector<std::vector<uint8_t>> files;
    for (const std::string& name : Lines(TestDataDir() + "/icons.txt"))
        files.push_back(ReadHostFile(HostPath(TestDataDir() + "/icons/" + name)));
    ASSERT_FALSE(files.empty());
    uint32_t state = 0x1C0F11E5u;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    const char* const results[] = {kHeaderUnreadable, kNotIconFile, kEntriesUnreadable, kImageUnreadable};
    const uint32_t edges[] = {0, 1, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFF0};
    std::map<std::string, int> outcomes;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = files[next() % files.size()];
        const uint32_t table = 6 + 16 * Le16(&bytes[4]);
        if (next() % 8 == 0) {
            bytes.resize(next() % bytes.size());
        } else {
            for (uint32_t n = 1 + next() % 4; n > 0; --n) {
                const uint32_t at = next() % (next() % 4 == 0 ? static_cast<uint32_t>(bytes.size()) : table);
                const uint32_t value = next() % 2 ? edges[next() % 7] : next();
                for (uint32_t i = 0; i < (1u << next() % 3) && at + i < bytes.size(); ++i)
                    bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
            }
        }
        VectorFile source(modeRead, bytes);
        EWin32IconFile icon;
        const ResultCode r = icon.ReadIconFile(&source);
        bool known = r == ResultSuccess;
        for (const char* text : results) known = known || std::strcmp(GetResultText(r), text) == 0;
        ASSERT_TRUE(known) << round;
        ++outcomes[r == ResultSuccess ? "success" : GetResultText(r)];
        uint64_t total = 0;
        for (uint32_t i = 0; i < icon.GetImageCount(); ++i) {
            ASSERT_EQ(icon.GetImageSize(i), icon.GetEntry(i)->bytes_in_resource);
            ASSERT_LE(icon.GetImageSize(i), bytes.size());
            total += icon.GetImageSize(i);
        }
        if (icon.GetImageCount() == 0) continue;
        VectorFile written;
        ASSERT_EQ(icon.WriteIconFile(&written, 1), ResultSuccess);
        ASSERT_EQ(written.bytes.size(), 6 + 16 * icon.GetImageCount() + total);
    }
    for (const auto& [outcome, count] : outcomes) std::printf("  %6d  %s\n", count, outcome.c_str());
    EXPECT_GE(outcomes.size(), 4u);
}
