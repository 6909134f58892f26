#include "xml/stream_wide_string.h"

#include <gtest/gtest.h>

#include "file/memory_file.h"

namespace {

bool Is(const EWideString& s, const WideChar* text) { return s.Compare(text) == 0; }

}  // namespace

TEST(StreamWideString, ClassAndReset) {
    EStreamWideString s;
    EXPECT_STREQ(s.GetClassName(), "EStreamWideString");
    EXPECT_TRUE(s.IsKindOf("EWideString"));
    EXPECT_TRUE(s.IsKindOf("HVBObject"));
    EXPECT_FALSE(s.IsKindOf("EString"));
    // Nothing to scan in a string without a buffer.
    EXPECT_EQ(s.SkipSpaces(), 1);
    EXPECT_EQ(s.SkipToken(), EStreamWideString::TokenEnd);
    EXPECT_EQ(s.DetectRadix(), -1);
    EXPECT_EQ(s.ReadInteger(0), 0);
    s.Reset();
    EXPECT_EQ(s.GetLength(), 1u);
    EXPECT_EQ(s.GetAt(0), 0);
    EXPECT_EQ(s.GetCapacity(), 15u);
    int cls = 5;
    EXPECT_TRUE(Is(s.GetToken(&cls), HVB_WTEXT("")));
    EXPECT_EQ(cls, -1);
}

TEST(StreamWideString, Tokens) {
    EStreamWideString s(HVB_WTEXT("<abc =>; key_1 日本\"x\" += 7"));
    int cls = 9;
    EXPECT_TRUE(Is(s.GetToken(&cls), HVB_WTEXT("<")));
    EXPECT_EQ(cls, 2);
    EXPECT_TRUE(Is(s.GetToken(&cls), HVB_WTEXT("abc")));
    EXPECT_EQ(cls, 0);
    EXPECT_TRUE(Is(s.GetToken(&cls), HVB_WTEXT("=")));  // '>' is a token of its own
    EXPECT_EQ(cls, 1);
    EXPECT_TRUE(Is(s.GetToken(&cls), HVB_WTEXT(">")));
    EXPECT_TRUE(Is(s.GetToken(&cls), HVB_WTEXT(";")));
    EXPECT_TRUE(Is(s.GetToken(&cls), HVB_WTEXT("key_1")));
    EXPECT_EQ(cls, 0);
    EXPECT_TRUE(Is(s.GetToken(&cls), HVB_WTEXT("日本")));
    EXPECT_EQ(cls, 0);
    EXPECT_TRUE(Is(s.GetToken(nullptr), HVB_WTEXT("\"")));
    EXPECT_TRUE(Is(s.GetToken(nullptr), HVB_WTEXT("x")));
    EXPECT_TRUE(Is(s.GetToken(nullptr), HVB_WTEXT("\"")));
    EXPECT_TRUE(Is(s.GetToken(&cls), HVB_WTEXT("+=")));
    EXPECT_EQ(cls, 1);
    EXPECT_EQ(s.ReadInteger(0), 7);
    EXPECT_TRUE(Is(s.GetToken(&cls), HVB_WTEXT("")));
    EXPECT_EQ(cls, -1);
    EXPECT_TRUE(s.AtEnd());
}

TEST(StreamWideString, WordsLinesAndUntil) {
    EStreamWideString s(HVB_WTEXT("  one two\r\nthree\n\rfour\rfive=six;"));
    EXPECT_TRUE(Is(s.GetWord(), HVB_WTEXT("one")));
    EXPECT_EQ(s.SkipLine(), 0);
    EXPECT_EQ(s.GetAt(static_cast<int32_t>(s.GetPosition())), 't');
    EXPECT_EQ(s.SkipLine(), 0);
    EXPECT_TRUE(Is(s.GetWord(), HVB_WTEXT("four")));
    EXPECT_TRUE(Is(s.GetUntil('='), HVB_WTEXT("\rfive")));
    EXPECT_EQ(s.MatchChar(HVB_WTEXT("xs")), 's');
    EXPECT_EQ(s.MatchChar(HVB_WTEXT("xs")), 0);
    EXPECT_EQ(s.SkipUntil(';'), 0);
    EXPECT_EQ(s.MatchChar(HVB_WTEXT(";")), ';');
    EXPECT_TRUE(Is(s.GetWord(), HVB_WTEXT("")));
    EXPECT_TRUE(Is(s.GetUntil('x'), HVB_WTEXT("")));
    EXPECT_EQ(s.SkipLine(), 1);
    EXPECT_EQ(s.MatchChar(HVB_WTEXT(";")), 0);
    EStreamWideString tail(HVB_WTEXT("a=b"));
    EXPECT_TRUE(Is(tail.GetUntil('#'), HVB_WTEXT("a=b")));
    EXPECT_TRUE(tail.AtEnd());
}

TEST(StreamWideString, RadixAndNumbers) {
    struct {
        const WideChar* text;
        int radix;
    } cases[] = {
        {HVB_WTEXT("0FFH"), 16}, {HVB_WTEXT("1011B"), 2}, {HVB_WTEXT("17O"), 8},   {HVB_WTEXT("99T"), 10},
        {HVB_WTEXT("12.5"), 0},  {HVB_WTEXT("x1"), -1},   {HVB_WTEXT(" - 42"), 0}, {HVB_WTEXT("."), -1},
        {HVB_WTEXT("19O"), 0},   {HVB_WTEXT("1bh"), 16},  {HVB_WTEXT("2B"), -1},   {HVB_WTEXT(""), -1},
    };
    for (const auto& c : cases) {
        EStreamWideString s(c.text);
        EXPECT_EQ(s.DetectRadix(), c.radix);
        EXPECT_EQ(s.GetPosition(), 0u) << "never consumes";
    }
    EStreamWideString hex(HVB_WTEXT("0FFH,"));
    EXPECT_EQ(hex.ReadInteger(0), 255);
    EXPECT_EQ(hex.GetAt(static_cast<int32_t>(hex.GetPosition())), ',') << "the suffix is consumed";
    EStreamWideString bin(HVB_WTEXT("1011B"));
    EXPECT_EQ(bin.ReadInteger(0), 11);
    EXPECT_TRUE(bin.AtEnd());
    EStreamWideString neg(HVB_WTEXT("  - 12 34"));
    EXPECT_EQ(neg.ReadInteger(0), -12);
    EXPECT_EQ(neg.ReadInteger32(10), 34);
    EStreamWideString explicit_radix(HVB_WTEXT("777 ff"));
    EXPECT_EQ(explicit_radix.ReadInteger(8), 511);
    EXPECT_EQ(explicit_radix.ReadInteger(16), 255);
    EStreamWideString none(HVB_WTEXT("abc"));
    EXPECT_EQ(none.ReadInteger(0), 0);
    EXPECT_EQ(none.GetPosition(), 0u);
    EStreamWideString big(HVB_WTEXT("123456789012"));
    EXPECT_EQ(big.ReadInteger(0), 123456789012LL);

    EStreamWideString real(HVB_WTEXT("12.5 -0.25 1.1B 8.8H"));
    EXPECT_DOUBLE_EQ(static_cast<double>(real.ReadReal(0)), 12.5);
    EXPECT_DOUBLE_EQ(static_cast<double>(real.ReadReal(0)), -0.25);
    EXPECT_DOUBLE_EQ(static_cast<double>(real.ReadReal(2)), 1.5);
    EXPECT_DOUBLE_EQ(static_cast<double>(real.ReadReal(16)), 8.5);
    EXPECT_TRUE(real.AtEnd());
}

TEST(StreamWideString, LoadText) {
    // UTF-16 after the byte-order mark.
    const unsigned char wide[] = {0xFF, 0xFE, 'h', 0, 'i', 0, 0x42, 0x30, 'x'};
    EMemoryFile file;
    file.Open(wide, sizeof wide);
    EStreamWideString s;
    EXPECT_EQ(s.LoadText(&file), ResultSuccess);
    EXPECT_EQ(s.GetLength(), 3u);
    EXPECT_TRUE(Is(s, HVB_WTEXT("hiあ")));
    EXPECT_EQ(s.GetPosition(), 0u);

    // Anything else is ANSI text from its first byte.
    const char ansi[] =
        "\xFF"
        "A\x82\xA0 1";
    file.Open(ansi, 6);
    EXPECT_EQ(s.LoadText(&file), ResultSuccess);
    EXPECT_EQ(s.GetLength(), 5u);
    EXPECT_EQ(s.GetAt(0), static_cast<WideChar>(0xF8F3));
    EXPECT_EQ(s.GetAt(2), static_cast<WideChar>(0x3042));
    file.Open("", 0);
    EXPECT_EQ(s.LoadText(&file), ResultSuccess);
    EXPECT_EQ(s.GetLength(), 0u);
    file.Open("z", 1);
    EXPECT_EQ(s.LoadText(&file), ResultSuccess);
    EXPECT_TRUE(Is(s, HVB_WTEXT("z")));
    EXPECT_EQ(s.LoadText(nullptr), ResultGeneralError);
}

namespace {

// A file whose length promises more than it delivers.
class ShortFile : public EMemoryFile {
public:
    uint32_t GetLength() override { return EMemoryFile::GetLength() + 10; }
};

}  // namespace

TEST(StreamWideString, ShortReadsReportFailure) {
    ShortFile file;
    const char text[] = "abc";
    file.Open(text, 3);
    EStreamWideString s;
    EXPECT_EQ(s.LoadText(&file), ResultGeneralError);
    EXPECT_TRUE(Is(s, HVB_WTEXT("abc")));
    const unsigned char wide[] = {0xFF, 0xFE, 'a', 0};
    file.Open(wide, 4);
    EXPECT_EQ(s.LoadText(&file), ResultGeneralError);
    EXPECT_TRUE(Is(s, HVB_WTEXT("a")));
}
