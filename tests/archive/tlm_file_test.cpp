#include "archive/tlm_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "archive/tlm_tag_list.h"
#include "support/test_files.h"

namespace {

const char kFileHeaderUnreadable[] = "TLM ファイルヘッダを読み込めませんでした。";
const char kBadVersion[] = "TLM ファイルバージョンが不正です。";
const char kNoImageInfo[] = "画像情報ヘッダが見つかりませんでした。";

#define EXPECT_RESULT(result, text) EXPECT_STREQ(GetResultText(result), text)

struct Record {
    const char* id;
    std::vector<uint8_t> data;
    std::vector<Record> children;
};

// A container written by the container writer.
std::vector<uint8_t> Write(const std::vector<Record>& top) {
    VectorFile file(modeCreate | modeRead | modeWrite);
    QDXFile container;
    QDXFileHeader header;
    QDXFile::MakeFileHeader(&header, QDX_FILE_RASTER_IMAGE, nullptr);
    EXPECT_EQ(container.Open(&file, &header), ResultSuccess);
    auto put = [&](auto& self, const std::vector<Record>& records) -> void {
        for (const Record& r : records) {
            container.DescendRecord(r.id);
            container.Write(r.data.data(), static_cast<uint32_t>(r.data.size()));
            self(self, r.children);
            container.AscendRecord();
        }
    };
    put(put, top);
    container.Close();
    return file.bytes;
}

std::vector<uint8_t> Pattern(uint32_t n, uint8_t seed) {
    std::vector<uint8_t> b(n);
    for (uint32_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 13 + seed);
    return b;
}

std::vector<uint8_t> FileHeader(uint32_t version) {
    std::vector<uint8_t> b = Pattern(20, 9);
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(version >> (8 * i));
    return b;
}

std::vector<uint8_t> Utf16(const std::u16string& text) {
    std::vector<uint8_t> b = {0xFF, 0xFE};
    for (char16_t c : text) b.insert(b.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
    b.insert(b.end(), {0, 0, 'x', 0});
    return b;
}

// The bytes of a narrow literal (code page 932), zeros inside included.
template <size_t N>
std::vector<uint8_t> Narrow(const char (&text)[N]) {
    return std::vector<uint8_t>(text, text + N - 1);
}

std::u16string Text(const EWideString& s) {
    std::u16string out;
    for (uint32_t i = 0; i < s.GetLength(); ++i) out += static_cast<char16_t>(s.GetAt(static_cast<int32_t>(i)));
    return out;
}
std::u16string Text(const WideChar* s) { return s == nullptr ? u"(null)" : Text(EWideString(s)); }

// Every record kind, with records the reader must skip.
std::vector<Record> FullFile() {
    return {
        {"Header  ",
         {},
         {{"FileHdr ", FileHeader(0x00020000), {}},
          {"PrevwInf", Pattern(68, 1), {}},
          {"Unknown ", Pattern(30, 0), {}},
          {"ImageInf", Pattern(68, 2), {}},
          {"SoundInf", Pattern(40, 3), {}},
          {"Sequence", Pattern(24, 4), {}},
          {"cpyright", Utf16(u"(c) 著作権"), {}},
          {"descript", Narrow("説明 text"), {}}}},
        {"Stream  ",
         {},
         {{"Other   ", Pattern(5, 0), {}},
          {"Palette ", Pattern(1024, 5), {}},
          {"ImageFrm", Pattern(300, 6), {}},
          {"ImageFrm", Pattern(7, 7), {}}}},
    };
}

bool Equal(const uint8_t* block, const std::vector<uint8_t>& want) {
    return std::memcmp(block, want.data(), want.size()) == 0;
}

}  // namespace

TEST(TLMFile, EveryRecordAtEveryDepth) {
    const std::vector<uint8_t> bytes = Write(FullFile());
    const uint32_t header_flags = 0x01 | 0x02 | 0x04 | 0x08 | 0x10 | 0x20 | 0x80;
    const struct {
        uint32_t depth;
        uint32_t flags;
    } cases[] = {{0, 0}, {1, header_flags}, {2, header_flags}, {3, header_flags | 0x40}, {9, header_flags | 0x40}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.depth);
        VectorFile file(modeRead, bytes);
        TLMFile tlm;
        ASSERT_EQ(tlm.Open(&file, c.depth), ResultSuccess);
        EXPECT_EQ(tlm.GetFoundFlags(), c.flags);
        if (c.depth == 0) continue;
        EXPECT_EQ(tlm.GetVersion(), 0x00020000u);
        EXPECT_TRUE(Equal(tlm.GetFileHeaderBlock(), FileHeader(0x00020000)));
        EXPECT_TRUE(Equal(tlm.GetPreviewInfo(), Pattern(68, 1)));
        EXPECT_TRUE(Equal(tlm.GetImageInfo(), Pattern(68, 2)));
        EXPECT_TRUE(Equal(tlm.GetSoundInfo(), Pattern(40, 3)));
        uint32_t count = 0;
        const uint8_t* table = tlm.GetSequenceTable(&count);
        ASSERT_EQ(count, 3u);
        EXPECT_TRUE(Equal(table, Pattern(24, 4)));
        EXPECT_EQ(Text(tlm.GetCopyright()), u"(c) 著作権");
        EXPECT_EQ(Text(tlm.GetDescription()), u"説明 text");
        if (c.depth == 2) {
            // Inside the stream, before its first record.
            ASSERT_EQ(tlm.DescendRecord("ImageFrm"), ResultSuccess);
            EXPECT_EQ(tlm.GetLength(), 300u);
        }
        if (c.depth < 3) continue;
        EXPECT_TRUE(Equal(tlm.GetPalette(), Pattern(1024, 5)));
        // The frames are read through the object itself.
        std::vector<uint8_t> frame(400);
        ASSERT_EQ(tlm.Read(frame.data(), 400), 300u);
        frame.resize(300);
        EXPECT_EQ(frame, Pattern(300, 6));
        tlm.AscendRecord();
        ASSERT_EQ(tlm.DescendRecord("ImageFrm"), ResultSuccess);
        EXPECT_EQ(tlm.GetLength(), 7u);
    }
}

TEST(TLMFile, HeaderEdgeCases) {
    auto header = [](std::vector<Record> records) {
        return std::vector<Record>{{"Header  ", {}, std::move(records)}, {"Stream  ", {}, {}}};
    };
    const Record image_info{"ImageInf", Pattern(68, 2), {}};
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        uint32_t depth;
        const char* message;  // null: the plain result below
        ResultCode result;
        uint32_t flags;
    } cases[] = {
        {"version at the limit", Write(header({{"FileHdr ", FileHeader(0x00020100), {}}, image_info})), 1, nullptr,
         ResultSuccess, 0x05},
        {"version above it", Write(header({{"FileHdr ", FileHeader(0x00020101), {}}, image_info})), 1, kBadVersion, 0,
         0x01},
        {"short file header", Write(header({{"FileHdr ", Pattern(19, 0), {}}, image_info})), 1, kFileHeaderUnreadable,
         0, 0},
        {"preview only", Write(header({{"FileHdr ", FileHeader(1), {}}, {"PrevwInf", Pattern(68, 1), {}}})), 1,
         kNoImageInfo, 0, 0x03},
        {"sound only", Write(header({{"FileHdr ", FileHeader(1), {}}, {"SoundInf", Pattern(40, 1), {}}})), 1, nullptr,
         ResultSuccess, 0x09},
        {"short image information", Write(header({{"FileHdr ", FileHeader(1), {}}, {"ImageInf", Pattern(67, 1), {}}})),
         1, kNoImageInfo, 0, 0x01},
        {"no header record", Write({{"Stream  ", {}, {}}}), 1, nullptr, ResultGeneralError, 0},
        {"not a container", Pattern(200, 0), 0, nullptr, ResultGeneralError, 0},
        {"no stream", Write({{"Header  ", {}, {{"FileHdr ", FileHeader(1), {}}, image_info}}}), 2, nullptr,
         ResultGeneralError, 0x05},
        {"stream without frames", Write(header({{"FileHdr ", FileHeader(1), {}}, image_info})), 3, nullptr,
         ResultGeneralError, 0x05},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VectorFile file(modeRead, c.bytes);
        TLMFile tlm;
        const ResultCode r = tlm.Open(&file, c.depth);
        if (c.message != nullptr)
            EXPECT_RESULT(r, c.message);
        else
            EXPECT_EQ(r, c.result);
        EXPECT_EQ(tlm.GetFoundFlags(), c.flags);
    }
}

TEST(TLMFile, SequenceAndTexts) {
    const Record file_header{"FileHdr ", FileHeader(1), {}};
    const Record image_info{"ImageInf", Pattern(68, 2), {}};
    auto open = [&](std::vector<Record> more, TLMFile& tlm, VectorFile& file, size_t cut = 0) {
        std::vector<Record> records = {file_header, image_info};
        records.insert(records.end(), more.begin(), more.end());
        file.bytes = Write({{"Header  ", {}, records}});
        file.bytes.resize(file.bytes.size() - cut);
        return tlm.Open(&file, 1);
    };
    uint32_t count = 0;
    {
        VectorFile file(modeRead);
        TLMFile tlm;
        ASSERT_EQ(open({{"Sequence", Pattern(20, 4), {}}}, tlm, file), ResultSuccess);
        EXPECT_TRUE(Equal(tlm.GetSequenceTable(&count), Pattern(16, 4)));
        EXPECT_EQ(count, 2u);
        EXPECT_EQ(tlm.GetFoundFlags() & 0x80, 0x80u);
    }
    {
        // A table the file does not hold in full: the container cuts the
        // record to what the file holds, and only whole entries count.
        VectorFile file(modeRead);
        TLMFile tlm;
        ASSERT_EQ(open({{"Sequence", Pattern(80, 4), {}}}, tlm, file, 20), ResultSuccess);
        EXPECT_TRUE(Equal(tlm.GetSequenceTable(&count), Pattern(56, 4)));
        EXPECT_EQ(count, 7u);
    }
    const struct {
        std::vector<uint8_t> record;
        std::u16string text;
    } texts[] = {
        {Utf16(u"ワイド"), u"ワイド"}, {{0xFF, 0xFE, 'a', 0, 'b'}, u"a"},
        {{0xFF, 0xFE}, u""},           {Narrow("ナロー\0rest"), u"ナロー"},
        {Narrow("1"), u"1"},           {{}, u""},
    };
    for (const auto& t : texts) {
        VectorFile file(modeRead);
        TLMFile tlm;
        ASSERT_EQ(open({{"descript", t.record, {}}, {"cpyright", t.record, {}}}, tlm, file), ResultSuccess);
        EXPECT_EQ(Text(tlm.GetDescription()), t.text);
        EXPECT_EQ(Text(tlm.GetCopyright()), t.text);
        EXPECT_EQ(tlm.GetFoundFlags() & 0x30, 0x30u);
    }
}

TEST(TLMTagList, ParseFormatAndRoundTrip) {
    TLMTagList list;
    list.ParseTagText(HVB_WTEXT("A plain text\r\n# not a tag\r\n"));
    ASSERT_EQ(list.GetCount(), 1u);
    EXPECT_EQ(Text(list.GetAt(0)->tag), u"comment");
    EXPECT_EQ(Text(list.GetAt(0)->contents), u"A plain text\r\n# not a tag\r\n");

    list.ParseTagText(HVB_WTEXT("#  title  rest of line\r\nLine one\r\n##hash\r\n\r\n  \r\n#track\n12\n#words\r\n"));
    ASSERT_EQ(list.GetCount(), 3u);
    EXPECT_EQ(Text(list.GetAt(0)->tag), u"title");
    EXPECT_EQ(Text(list.GetAt(0)->contents), u"Line one\r\n#hash");
    EXPECT_EQ(Text(list.GetTagContents(HVB_WTEXT("track"))), u"12");
    EXPECT_EQ(Text(list.GetTagContentsByIndex(TLMTagList::TagWords)), u"");
    EXPECT_EQ(list.GetTagContents(HVB_WTEXT("Title")), nullptr);
    EXPECT_EQ(list.GetTagContentsByIndex(TLMTagList::TagGenre), nullptr);
    EXPECT_EQ(list.GetTagContentsByIndex(99), nullptr);

    EWideString text;
    list.FormatTagText(&text);
    EXPECT_EQ(Text(text), u"\uFEFF#title\r\nLine one\r\n##hash\r\n#track\r\n12\r\n#words\r\n\r\n");

    // Whatever is formatted parses back to the same items.
    TLMTagList built;
    EXPECT_EQ(built.AddTag(TLMTagList::TagTitle, HVB_WTEXT("題名")), ResultSuccess);
    EXPECT_EQ(built.AddTag(TLMTagList::TagComment, HVB_WTEXT("#one\r\n##two\r\nthree")), ResultSuccess);
    EXPECT_EQ(built.AddTag(TLMTagList::TagHotSpot, HVB_WTEXT("")), ResultSuccess);
    EXPECT_EQ(built.AddTag(TLMTagList::TagWords, HVB_WTEXT("x\r\n")), ResultSuccess);
    EXPECT_EQ(built.AddTag(TLMTagList::TagCount, HVB_WTEXT("x")), ResultInvalidParameter);
    built.FormatTagText(&text);
    list.ParseTagText(text);
    ASSERT_EQ(list.GetCount(), 4u);
    const char16_t* const want[][2] = {
        {u"title", u"題名"}, {u"comment", u"#one\r\n##two\r\nthree"}, {u"hot-spot", u""}, {u"words", u"x"}};
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(Text(list.GetAt(i)->tag), want[i][0]);
        EXPECT_EQ(Text(list.GetAt(i)->contents), want[i][1]);
    }
    list.ParseTagText(nullptr);
    EXPECT_EQ(list.GetCount(), 0u);
}

TEST(TLMTagList, Numbers) {
    const struct {
        const char* what;
        const WideChar* text;
        int32_t track, rewind, x, y;
        ResultCode date;
        int32_t year, month, day;
    } cases[] = {
        {"all present",
         HVB_WTEXT("#track\r\n7\r\n#rewind-point\r\n1Fh\r\n#hot-spot\r\n12,34\r\n#release-date\r\n2003/12/24\r\n"), 7,
         31, 12, 34, ResultSuccess, 2003, 12, 24},
        {"spaces before separators", HVB_WTEXT("#hot-spot\r\n 12 , 34\r\n#release-date\r\n 1999 / 1 / 2\r\n"), 0, 0, 12,
         34, ResultSuccess, 1999, 1, 2},
        {"second number missing", HVB_WTEXT("#hot-spot\r\n12\r\n#release-date\r\n2003/12\r\n"), 0, 0, 12, 0,
         ResultGeneralError, 2003, 12, 0},
        {"comma without number", HVB_WTEXT("#hot-spot\r\n12,\r\n#release-date\r\nsoon\r\n"), 0, 0, 12, 0,
         ResultGeneralError, 0, 0, 0},
        {"absent", HVB_WTEXT("#title\r\nx\r\n"), 0, 0, 0, 0, ResultGeneralError, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TLMTagList list;
        list.ParseTagText(c.text);
        EXPECT_EQ(list.GetTrackNumber(), c.track);
        EXPECT_EQ(list.GetRewindPoint(), c.rewind);
        int32_t x = -1, y = -1, year = -1, month = -1, day = -1;
        list.GetHotSpot(&x, &y);
        EXPECT_EQ(x, c.x);
        EXPECT_EQ(y, c.y);
        EXPECT_EQ(list.GetReleaseDate(&year, &month, &day), c.date);
        EXPECT_EQ(year, c.year);
        EXPECT_EQ(month, c.month);
        EXPECT_EQ(day, c.day);
    }
}

// Written files damaged thousands of times with a fixed seed: every outcome is
// a described result, and no read leaves the file.
TEST(TLMMutation, DamagedFilesGiveResultsNeverFaults) {
    const std::vector<uint8_t> original = Write(FullFile());
    const char* const messages[] = {kFileHeaderUnreadable, kBadVersion, kNoImageInfo};
    const uint32_t edges[] = {0, 1, 7, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    uint32_t state = 0x71A5EEDu;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    std::map<std::string, int> outcomes;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = original;
        if (next() % 6 == 0) {
            bytes.resize(next() % bytes.size());
        } else {
            for (uint32_t n = 1 + next() % 3; n > 0; --n) {
                const uint32_t at = next() % static_cast<uint32_t>(bytes.size() - 4);
                const uint32_t value = next() % 2 ? edges[next() % 6] : next();
                for (uint32_t i = 0; i < (1u << next() % 3) && at + i < bytes.size(); ++i)
                    bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
            }
        }
        VectorFile file(modeRead, bytes);
        TLMFile tlm;
        const ResultCode r = tlm.Open(&file, 3);
        bool known = r == ResultSuccess || r == ResultGeneralError;
        for (const char* text : messages) known = known || std::strcmp(GetResultText(r), text) == 0;
        ASSERT_TRUE(known) << round;
        ++outcomes[r == ResultSuccess ? "success" : GetResultText(r)];
        uint32_t count = 0;
        const uint8_t* table = tlm.GetSequenceTable(&count);
        ASSERT_LE(count * 8ull, bytes.size());
        for (uint32_t i = 0; i < count * 8; ++i) state += table[i];
        if (r == ResultSuccess) {
            std::vector<uint8_t> frame(bytes.size() + 1);
            ASSERT_LE(tlm.Read(frame.data(), static_cast<uint32_t>(frame.size())), bytes.size());
        }
    }
    for (const auto& [outcome, count] : outcomes) std::printf("  %6d  %s\n", count, outcome.c_str());
    EXPECT_GE(outcomes.size(), 4u);
}
