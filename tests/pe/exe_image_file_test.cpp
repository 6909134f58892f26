#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "file/raw_file.h"
#include "pe_support.h"

namespace {

const char kNotPEImage[] = "有効な PE イメージファイルではありません。";
const char kBadSectionHeader[] = "セクションヘッダが不正です。";
const char kNoResourceSection[] = "リソースセクションがありません。";
const char kTypeNotFound[] = "リソースタイプが見つかりません。";
const char kNameNotFound[] = "リソース識別子が見つかりません。";
const char kLanguageNotFound[] = "言語識別子が見つかりません。";
const char kBadDataEntry[] = "データエントリが不正です。";
const char kResourceDataNotFound[] = "リソースデータが見つかりませんでした。";
const char kNotOpened[] = "OpenPEImageFile 関数でイメージファイルが開かれていません。";

const char* const kRcData = MakeIntResource(RT_RCDATA_ID);
const uint32_t kPayloadSizes[] = {1, 70001, 3145811};

std::string WineImage(const std::string& name) {
    const char* dir = std::getenv("HVB_WINE_IMAGES");
    return HostPath(std::string(dir != nullptr ? dir : "/usr/lib/i386-linux-gnu/wine/i386-windows") + "/" + name);
}

std::string ArchiveImage(uint32_t size) { return HostPath(TestDataDir() + "/archive_" + std::to_string(size) + ".exe"); }

std::vector<std::string> Split(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, separator)) fields.push_back(field);
    return fields;
}

// A key of a listing ("#10", "=NAME") as the lookups take it.
const char* LookupKey(const std::string& key) {
    return key[0] == '#' ? MakeIntResource(static_cast<uint16_t>(std::stoul(key.substr(1)))) : key.c_str() + 1;
}

uint32_t Le32At(const std::vector<uint8_t>& b, uint32_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void PutLe32(std::vector<uint8_t>& b, uint32_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// File offset of the resource section's raw data, found the plain way.
uint32_t ResourceRawData(const std::vector<uint8_t>& b) {
    uint32_t header = Le32At(b, 0x3C);
    uint32_t count = b[header + 6] | b[header + 7] << 8;
    uint32_t table = header + 24 + (b[header + 20] | b[header + 21] << 8);
    for (uint32_t i = 0; i < count; ++i)
        if (std::memcmp(&b[table + 40 * i], ".rsrc\0\0", 8) == 0) return Le32At(b, table + 40 * i + 20);
    return 0;
}

}  // namespace

// Images no one here wrote: what EnumResources and the windowed lookups give
// must be what objdump lists, byte for byte.
TEST(PEImageReal, ResourcesMatchObjdump) {
    std::ifstream names_file(TestDataDir() + "/samples.txt");
    std::string names_line;
    ASSERT_TRUE(std::getline(names_file, names_line)) << "missing sample list";
    std::vector<std::string> samples = Split(names_line, ' ');
    ASSERT_GE(samples.size(), 30u);
    size_t total = 0;
    for (const std::string& sample : samples) {
        SCOPED_TRACE(sample);
        std::ifstream listing(TestDataDir() + "/listings/" + sample + ".lst");
        std::vector<std::vector<std::string>> expected;
        for (std::string line; std::getline(listing, line);) expected.push_back(Split(line, '\t'));
        ASSERT_FALSE(expected.empty());

        ERawFile file;
        ASSERT_EQ(file.Open(WineImage(sample).c_str(), modeRead | shareRead), ResultSuccess);
        RecordingImage loaded;
        ASSERT_EQ(loaded.LoadPEImage(&file, true), ResultSuccess);
        EXPECT_TRUE(loaded.IsMapped());
        ASSERT_EQ(loaded.EnumResources(nullptr, nullptr, 0), ResultSuccess);
        ASSERT_EQ(loaded.seen.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            const EnumeratedResource& got = loaded.seen[i];
            const auto& want = expected[i];
            ASSERT_EQ(got.type, want[0]) << i;
            ASSERT_EQ(got.name, want[1]) << i;
            ASSERT_EQ(got.language, std::stoul(want[2])) << i;
            ASSERT_EQ(got.size, std::stoul(want[3])) << i;
            ASSERT_EQ(got.crc, std::stoul(want[4], nullptr, 16)) << i;
        }

        // The same bytes streamed through a resource window of a head-only image.
        file.Seek(0, FromBegin);
        EXEImageFileObject streamed;
        ASSERT_EQ(streamed.OpenPEImageFile(&file), ResultSuccess);
        EXPECT_LT(streamed.GetImageMemoryLength(), streamed.GetImageLength());
        std::vector<uint8_t> buffer;
        for (size_t i = 0; i < expected.size(); ++i) {
            const auto& want = expected[i];
            // A lookup finds the first of equal keys; later duplicates are left to the enumeration.
            if (i > 0 && want[0] == expected[i - 1][0] && want[1] == expected[i - 1][1] && want[2] == expected[i - 1][2])
                continue;
            uint16_t language = static_cast<uint16_t>(std::stoul(want[2]));
            ASSERT_EQ(streamed.OpenResource(LookupKey(want[0]), LookupKey(want[1]), language), ResultSuccess) << i;
            uint32_t size = static_cast<uint32_t>(std::stoul(want[3]));
            ASSERT_EQ(streamed.GetLength(), size);
            buffer.assign(size + 16, 0);
            ASSERT_EQ(streamed.Read(buffer.data(), size + 16), size);
            ASSERT_EQ(Crc32(buffer.data(), size), std::stoul(want[4], nullptr, 16)) << i;
            ++total;
        }
    }
    EXPECT_GT(total, 5000u);
}

TEST(PEImageReal, ImageWithoutResourceSection) {
    HostFile file(WineImage("acledit.dll"));
    ASSERT_TRUE(file.IsOpen());
    EXEImageFileObject image;
    ASSERT_EQ(image.LoadPEImage(&file, false), ResultSuccess);
    ResourceData data{};
    EXPECT_RESULT(image.FindResourceData(&data, kRcData, "IDR_ARCHIVE", 0), kNoResourceSection);
    EXPECT_RESULT(image.EnumResources(nullptr, nullptr, 0), kNoResourceSection);
    file.Seek(0, FromBegin);
    EXPECT_RESULT(image.OpenPEImageFile(&file), kNotPEImage);
    EXPECT_RESULT(image.OpenResource(kRcData, "IDR_ARCHIVE", 0), kNoResourceSection);
}

class ArchiveImageTest : public testing::TestWithParam<uint32_t> {};

TEST_P(ArchiveImageTest, WindowStreamsTheResourceWithoutCopyingIt) {
    const uint32_t size = GetParam();
    HostFile file(ArchiveImage(size));
    ASSERT_TRUE(file.IsOpen());
    EXEImageFileObject image;
    ASSERT_EQ(image.OpenPEImageFile(&file), ResultSuccess);
    EXPECT_EQ(image.GetOpenFlags(), modeRead);
    const uint64_t read_to_open = file.bytes_read;
    EXPECT_LE(image.GetImageMemoryLength() + static_cast<uint64_t>(size), image.GetImageLength());
    EXPECT_LT(read_to_open, image.GetImageMemoryLength() + 4096u);

    ASSERT_EQ(image.OpenResource(kRcData, "IDR_ARCHIVE", 0), ResultSuccess);
    EXPECT_EQ(image.GetLength(), size);
    EXPECT_EQ(image.GetPosition(), 0u);
    std::vector<uint8_t> bytes(size + 100);
    uint32_t got = 0;
    while (uint32_t n = image.Read(bytes.data() + got, 65536)) got += n;
    ASSERT_EQ(got, size);
    for (uint32_t i = 0; i < size; ++i) ASSERT_EQ(bytes[i], PayloadByte(i, size)) << i;
    EXPECT_EQ(image.GetPosition(), size);
    EXPECT_LE(file.largest_read, 65536u);

    // Seeks clamp to the window; reads stop at its end whatever the count.
    EXPECT_EQ(image.Seek(-1, FromBegin), 0u);
    EXPECT_EQ(image.Seek(size + 10, FromBegin), size);
    EXPECT_EQ(image.Seek(0, FromEnd), size);
    EXPECT_EQ(image.Read(bytes.data(), 1), 0u);
    EXPECT_EQ(image.Seek(-1, FromEnd), size - 1);
    uint8_t small[16] = {};
    EXPECT_EQ(image.Read(small, 0xFFFFFFFFu), 1u);
    EXPECT_EQ(small[0], PayloadByte(size - 1, size));
    EXPECT_EQ(image.Seek(0, FromBegin), 0u);
    EXPECT_EQ(image.Seek(-5, FromCurrent), 0u);
    if (size > 10) {
        EXPECT_EQ(image.Seek(7, FromCurrent), 7u);
        EXPECT_EQ(image.Seek(3, FromCurrent), 10u);
        ASSERT_EQ(image.Read(small, 4), 4u);
        EXPECT_EQ(small[3], PayloadByte(13, size));
    }
    EXPECT_EQ(image.Write(small, 4), 0u);
    EXPECT_EQ(image.Duplicate(), nullptr);
    EXPECT_EQ(image.SetEndOfFile(), ResultGeneralError);

    image.CloseResource();
    EXPECT_EQ(image.GetLength(), 0u);
    EXPECT_EQ(image.GetPosition(), 0u);
    EXPECT_EQ(image.Seek(5, FromBegin), 0u);
    EXPECT_EQ(image.Read(small, 4), 0u);
    image.Close();
    image.Close();
    EXPECT_EQ(image.Read(small, 4), 0u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ArchiveImageTest, testing::ValuesIn(kPayloadSizes));

TEST(PEImageLookup, NamesTypesAndLanguages) {
    HostFile file(ArchiveImage(70001));
    ASSERT_TRUE(file.IsOpen());
    EXEImageFileObject image;
    ASSERT_EQ(image.OpenPEImageFile(&file), ResultSuccess);
    EXPECT_RESULT(image.OpenResource(kRcData, "idr_archive", 0), kNameNotFound);
    EXPECT_RESULT(image.OpenResource(kRcData, "IDR_ARCHIVE_", 0), kNameNotFound);
    EXPECT_RESULT(image.OpenResource(kRcData, "IDR_ARCHIV", 0), kNameNotFound);
    EXPECT_RESULT(image.OpenResource(MakeIntResource(11), "IDR_ARCHIVE", 0), kTypeNotFound);
    // A string never names an identifier entry, nor an identifier a named one.
    EXPECT_RESULT(image.OpenResource("10", "IDR_ARCHIVE", 0), kTypeNotFound);
    EXPECT_RESULT(image.OpenResource(kRcData, "7", 0), kNameNotFound);
    EXPECT_RESULT(image.OpenResource(kRcData, MakeIntResource(8), 0), kNameNotFound);

    auto text_of = [&](const char* name, uint16_t language) {
        if (image.OpenResource(kRcData, name, language) != ResultSuccess) return std::string("?");
        std::string text(image.GetLength(), '\0');
        image.Read(text.data(), image.GetLength());
        return text.substr(0, text.find('\0'));
    };
    EXPECT_EQ(text_of("IDR_TWO", 0), "english");
    EXPECT_EQ(text_of("IDR_TWO", 0x0409), "english");
    EXPECT_EQ(text_of("IDR_TWO", 0x0411), "japanese");
    EXPECT_EQ(text_of(MakeIntResource(7), 0), "seven");
    EXPECT_EQ(text_of(MakeIntResource(7), 0x0411), "seven");
    EXPECT_RESULT(image.OpenResource(kRcData, MakeIntResource(7), 0x0409), kLanguageNotFound);
    EXPECT_RESULT(image.OpenResource(kRcData, "IDR_TWO", 0x0407), kLanguageNotFound);

    // A failed lookup keeps the window it found before ("seven", read to its end).
    EXPECT_EQ(image.GetLength(), 5u);
    EXPECT_EQ(image.GetPosition(), 5u);
}

TEST(PEImageLookup, LoadedImageDataAndFilteredEnumeration) {
    HostFile file(ArchiveImage(70001));
    RecordingImage image;
    // Only a raw file can be mapped; anything else is copied.
    ASSERT_EQ(image.LoadPEImage(&file, true), ResultSuccess);
    EXPECT_FALSE(image.IsMapped());
    EXPECT_EQ(image.GetImageMemoryLength(), image.GetImageLength());
    EXPECT_RESULT(image.OpenResource(kRcData, "IDR_ARCHIVE", 0), kNotOpened);
    ResourceData data{};
    ASSERT_EQ(image.FindResourceData(&data, kRcData, "IDR_ARCHIVE", 0), ResultSuccess);
    ASSERT_EQ(data.size, 70001u);
    for (uint32_t i = 0; i < data.size; ++i) ASSERT_EQ(data.data[i], PayloadByte(i, 70001)) << i;

    ASSERT_EQ(image.EnumResources(nullptr, nullptr, 0), ResultSuccess);
    ASSERT_EQ(image.seen.size(), 4u);
    EXPECT_EQ(image.seen[0].name, "=IDR_ARCHIVE");
    EXPECT_EQ(image.seen[1].name, "=IDR_TWO");
    EXPECT_EQ(image.seen[1].language, 0x0409);
    EXPECT_EQ(image.seen[2].language, 0x0411);
    EXPECT_EQ(image.seen[3].name, "#7");

    image.seen.clear();
    ASSERT_EQ(image.EnumResources(kRcData, "IDR_TWO", 0x0411), ResultSuccess);
    ASSERT_EQ(image.seen.size(), 1u);
    EXPECT_EQ(image.seen[0].size, 8u);
    image.seen.clear();
    ASSERT_EQ(image.EnumResources(kRcData, MakeIntResource(7), 0), ResultSuccess);
    EXPECT_EQ(image.seen.size(), 1u);
    image.seen.clear();
    ASSERT_EQ(image.EnumResources("RCDATA", nullptr, 0), ResultSuccess);
    EXPECT_EQ(image.seen.size(), 0u);
    ASSERT_EQ(image.EnumResources(kRcData, "idr_two", 0), ResultSuccess);
    EXPECT_EQ(image.seen.size(), 0u);

    // The first non-zero answer of the callback ends the walk and comes back.
    image.stop_after = 2;
    image.stop_result = ResultAborted;
    EXPECT_EQ(image.EnumResources(nullptr, nullptr, 0), ResultAborted);
    EXPECT_EQ(image.seen.size(), 2u);
}

// Damaged images, made from a linked one.
TEST(PEImageDamaged, HeadersAndDirectory) {
    const std::vector<uint8_t> original = ReadHostFile(ArchiveImage(70001));
    ASSERT_GT(original.size(), 70001u);
    const uint32_t rsrc = ResourceRawData(original);
    ASSERT_NE(rsrc, 0u);

    auto load = [](std::vector<uint8_t> bytes, ResultCode* open_result) {
        VectorFile for_open(modeRead, bytes);
        EXEImageFileObject streamed;
        *open_result = streamed.OpenPEImageFile(&for_open);
        VectorFile for_load(modeRead, std::move(bytes));
        EXEImageFileObject loaded;
        return loaded.LoadPEImage(&for_load, false);
    };
    ResultCode opened;

    std::vector<uint8_t> b = original;
    PutLe32(b, 0x3C, static_cast<uint32_t>(b.size()));
    EXPECT_RESULT(load(b, &opened), kNotPEImage);
    EXPECT_RESULT(opened, kNotPEImage);
    PutLe32(b, 0x3C, 0xFFFFFFF0u);
    EXPECT_RESULT(load(b, &opened), kNotPEImage);
    EXPECT_RESULT(opened, kNotPEImage);
    EXPECT_RESULT(load(std::vector<uint8_t>(original.begin(), original.begin() + 63), &opened), kNotPEImage);
    EXPECT_RESULT(opened, kNotPEImage);

    b = original;
    b[Le32At(b, 0x3C) + 1] = 'F';
    EXPECT_RESULT(load(b, &opened), kNotPEImage);

    // Truncated inside the last section's raw data.
    EXPECT_RESULT(load(std::vector<uint8_t>(original.begin(), original.end() - 1), &opened), kBadSectionHeader);

    // A data entry whose size wraps the section arithmetic.
    auto open_archive = [](const std::vector<uint8_t>& bytes) {
        VectorFile file(modeRead, bytes);
        EXEImageFileObject image;
        ResultCode r = image.OpenPEImageFile(&file);
        return r != ResultSuccess ? r : image.OpenResource(MakeIntResource(RT_RCDATA_ID), "IDR_ARCHIVE", 0);
    };
    ASSERT_EQ(open_archive(original), ResultSuccess);
    VectorFile file(modeRead, original);
    EXEImageFileObject image;
    ASSERT_EQ(image.LoadPEImage(&file, false), ResultSuccess);
    ResourceData data{};
    ASSERT_EQ(image.FindResourceData(&data, kRcData, "IDR_ARCHIVE", 0), ResultSuccess);
    const uint32_t data_offset = static_cast<uint32_t>(data.data - image.GetImage());
    uint32_t entry = 0;
    for (uint32_t at = rsrc; at + 8 <= data_offset && entry == 0; at += 4)
        if (Le32At(original, at + 4) == 70001u) entry = at;
    ASSERT_NE(entry, 0u);
    b = original;
    PutLe32(b, entry + 4, 0xFFFFFFF0u);
    EXPECT_RESULT(open_archive(b), kBadDataEntry);
    b = original;
    PutLe32(b, entry, 0x100);
    EXPECT_RESULT(open_archive(b), kBadDataEntry);

    // Cut inside the resource's data: the window may not promise bytes the
    // file does not hold.
    b.assign(original.begin(), original.begin() + data_offset + 100);
    EXPECT_RESULT(open_archive(b), kBadDataEntry);

    // The root's first type entry pointing far outside the image.
    b = original;
    PutLe32(b, rsrc + 16 + 4, 0xFFFFFFF0u);
    VectorFile far(modeRead, b);
    RecordingImage far_image;
    ASSERT_EQ(far_image.LoadPEImage(&far, false), ResultSuccess);
    EXPECT_RESULT(far_image.FindResourceData(&data, kRcData, "IDR_ARCHIVE", 0), kResourceDataNotFound);
    EXPECT_RESULT(far_image.EnumResources(nullptr, nullptr, 0), kResourceDataNotFound);
}

// A root directory whose entries lead back to itself, besides one real path
// to a resource: the head-only open reads each directory once per level,
// not once per path leading to it.
TEST(PEImageDamaged, SelfReferencingDirectoryIsReadOnce) {
    const uint32_t kEntries = 128;
    const uint32_t kRsrc = 0x200, kRva = 0x1000;
    std::vector<uint8_t> b(kRsrc);
    b[0] = 'M';
    b[1] = 'Z';
    PutLe32(b, 0x3C, 0x40);
    PutLe32(b, 0x40, 0x00004550);
    b[0x46] = 1;     // one section
    b[0x54] = 0xE0;  // optional header size
    const uint32_t section = 0x40 + 24 + 0xE0;
    std::memcpy(&b[section], ".rsrc", 5);
    PutLe32(b, section + 12, kRva);
    PutLe32(b, section + 20, kRsrc);

    auto directory = [&b](uint16_t entries) {
        b.resize(b.size() + 16);
        b[b.size() - 2] = static_cast<uint8_t>(entries);
        b[b.size() - 1] = static_cast<uint8_t>(entries >> 8);
    };
    auto entry = [&b](uint32_t name, uint32_t offset) {
        b.resize(b.size() + 8);
        PutLe32(b, static_cast<uint32_t>(b.size()) - 8, name);
        PutLe32(b, static_cast<uint32_t>(b.size()) - 4, offset);
    };
    const uint32_t names = 16 + 8 * kEntries, languages = names + 24, data_entry = languages + 24;
    directory(kEntries);
    for (uint32_t i = 1; i < kEntries; ++i) entry(0x100 + i, 0x80000000u);
    entry(RT_RCDATA_ID, 0x80000000u | names);
    directory(1);
    entry(1, 0x80000000u | languages);
    directory(1);
    entry(0x0411, data_entry);
    b.resize(b.size() + 16);
    PutLe32(b, kRsrc + data_entry, kRva + data_entry + 16);
    PutLe32(b, kRsrc + data_entry + 4, 4);
    for (char c : std::string("data")) b.push_back(static_cast<uint8_t>(c));
    PutLe32(b, section + 16, static_cast<uint32_t>(b.size()) - kRsrc);

    VectorFile file(modeRead, b);
    EXEImageFileObject image;
    ASSERT_EQ(image.OpenPEImageFile(&file), ResultSuccess);
    EXPECT_EQ(image.GetImageMemoryLength(), kRsrc + data_entry + 16);
    // Each directory at most once per level, the headers and the head: a few
    // times the image, where a walk per path reads the root directory
    // kEntries squared times (some 17 MB).
    EXPECT_LT(file.bytes_read, 8 * b.size());
    ASSERT_EQ(image.OpenResource(MakeIntResource(RT_RCDATA_ID), MakeIntResource(1), 0), ResultSuccess);
    char text[8] = {};
    EXPECT_EQ(image.Read(text, sizeof text), 4u);
    EXPECT_STREQ(text, "data");
}

// Names are UTF-16 in the image and narrow (the ANSI code page) in the calls.
TEST(PEImageLookup, NonAsciiNames) {
    std::vector<uint8_t> b = ReadHostFile(ArchiveImage(1));
    const char16_t kOld[] = u"IDR_TWO";
    std::vector<uint8_t> pattern;
    for (char16_t c : std::u16string(kOld)) pattern.insert(pattern.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
    auto at = std::search(b.begin() + ResourceRawData(b), b.end(), pattern.begin(), pattern.end());
    ASSERT_NE(at, b.end());
    const size_t units = at - b.begin();
    ASSERT_EQ(b[units - 2], 7);
    b[units - 2] = 2;
    const char16_t kNew[] = u"日本";
    for (int i = 0; i < 2; ++i) {
        b[units + 2 * i] = static_cast<uint8_t>(kNew[i]);
        b[units + 2 * i + 1] = static_cast<uint8_t>(kNew[i] >> 8);
    }
    VectorFile file(modeRead, b);
    RecordingImage image;
    ASSERT_EQ(image.LoadPEImage(&file, false), ResultSuccess);
    ResourceData data{};
    ASSERT_EQ(image.FindResourceData(&data, kRcData, "日本", 0x0411), ResultSuccess);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.data), data.size), "japanese");
    EXPECT_RESULT(image.FindResourceData(&data, kRcData, "日", 0), kNameNotFound);
    EXPECT_RESULT(image.FindResourceData(&data, kRcData, "IDR_TWO", 0), kNameNotFound);
    ASSERT_EQ(image.EnumResources(nullptr, "日本", 0), ResultSuccess);
    ASSERT_EQ(image.seen.size(), 2u);
    EXPECT_EQ(image.seen[0].name, "=日本");
}

TEST(PEImageMapped, RawFilesAreMapped) {
    ERawFile raw;
    EXEImageFileObject image;
    // Closed: there is no handle to map.
    EXPECT_RESULT(image.LoadPEImage(&raw, true), "ファイルマッピングオブジェクトの生成に失敗しました。");
    image.Close();

    ASSERT_EQ(raw.Open(ArchiveImage(70001).c_str(), modeRead | shareRead), ResultSuccess);
    ASSERT_EQ(image.LoadPEImage(&raw, true), ResultSuccess);
    EXPECT_TRUE(image.IsMapped());
    ResourceData data{};
    ASSERT_EQ(image.FindResourceData(&data, kRcData, "IDR_ARCHIVE", 0), ResultSuccess);
    ASSERT_EQ(data.size, 70001u);
    for (uint32_t i = 0; i < data.size; ++i) ASSERT_EQ(data.data[i], PayloadByte(i, 70001)) << i;
    image.Close();
    image.Close();
    EXPECT_EQ(image.GetImage(), nullptr);

    const std::string empty = TestDataDir() + "/empty.bin";
    ASSERT_EQ(raw.Open(HostPath(empty).c_str(), modeCreate | modeRead | modeWrite), ResultSuccess);
    EXPECT_RESULT(image.LoadPEImage(&raw, true), "ファイルマッピングオブジェクトの生成に失敗しました。");
    // Copied, the same file is simply too short.
    EXPECT_RESULT(image.LoadPEImage(&raw, false), kNotPEImage);
}
