#include "text/escapes.h"

#include <gtest/gtest.h>

#include <string>

#include "xml/xml_support.h"

namespace {

std::string Decode(const char* text, ResultCode* result) {
    EStreamBuffer buffer;
    *result = DecodeBase64(&buffer, text);
    std::string out(buffer.GetLength(), '\0');
    buffer.Read(out.data(), buffer.GetLength());
    return out;
}

}  // namespace

TEST(Base64, EncodesGroupsAndPadding) {
    const struct {
        std::string bytes;
        const char* text;
    } cases[] = {
        {"", ""}, {"abc", "YWJj"}, {"\xFF", "/w=="}, {"ab", "YWI="}, {std::string("\0\0\0\0", 4), "AAAAAA=="},
    };
    for (const auto& c : cases) {
        EString out("stale text");
        EXPECT_EQ(EncodeBase64(&out, c.bytes.data(), static_cast<uint32_t>(c.bytes.size())), 0);
        EXPECT_STREQ(out.GetString(), c.text);
        EXPECT_EQ(out.GetLength(), std::string(c.text).size());
    }
}

TEST(Base64, DecodesSpacingPaddingAndErrors) {
    const struct {
        const char* text;
        ResultCode result;
        std::string bytes;
    } cases[] = {
        {"YWJj", 0, "abc"},
        {" YWJj \r\n\tYWI=", 0, "abcab"},
        {"YWJj\n", 0, "abc"},
        {"YQ==", 0, "a"},
        {"YQ==garbage!", 0, "a"},   // nothing after a padded group is read
        {"YWI=YWJj", 0, "ab"},
        {"YW Jj", 1, ""},            // a space inside a group
        {"YWJjYW", 1, "abc"},       // incomplete group: what came before stays
        {"YWJj*WJj", 1, "abc"},
        {"", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ResultCode result = -9;
        EXPECT_EQ(Decode(c.text, &result), c.bytes);
        EXPECT_EQ(result, c.result);
    }
    // Appends to what the buffer holds.
    EStreamBuffer buffer("xy", 2);
    EXPECT_EQ(DecodeBase64(&buffer, "YWJj"), 0);
    EXPECT_EQ(buffer.GetLength(), 5u);
}

TEST(Escapes, BackslashesBothWays) {
    const struct {
        const WideChar* in;
        const WideChar* out;
    } unescape[] = {
        {HVB_WTEXT("\\x41"), HVB_WTEXT("A")},
        {HVB_WTEXT("\\101"), HVB_WTEXT("A")},
        {HVB_WTEXT("\\n\\r\\t\\v\\b\\a\\f"), HVB_WTEXT("\n\r\t\v\b\a\f")},
        {HVB_WTEXT("\\?\\\\\\\"\\'"), HVB_WTEXT("?\\\"'")},
        {HVB_WTEXT("\\q"), HVB_WTEXT("q")},
        {HVB_WTEXT("\\x0411"), HVB_WTEXT("A1")},  // three digits at most
        {HVB_WTEXT("\\1011"), HVB_WTEXT("A1")},
        {HVB_WTEXT("\\x4a"), HVB_WTEXT("J")},
        {HVB_WTEXT("\\xg"), HVB_WTEXT("xg")},
        {HVB_WTEXT("end\\"), HVB_WTEXT("end")},
        {HVB_WTEXT("日本\\n語"), HVB_WTEXT("日本\n語")},
    };
    for (const auto& c : unescape) {
        EWideString s(c.in);
        EXPECT_EQ(UnescapeBackslashes(&s), 0);
        EXPECT_EQ(Utf8(s), Utf8(EWideString(c.out)));
    }
    EWideString zero(HVB_WTEXT("a\\0b"));
    UnescapeBackslashes(&zero);
    ASSERT_EQ(zero.GetLength(), 3u);  // the zero code unit is kept in the text
    EXPECT_EQ(zero.GetAt(1), 0);

    EWideString s(HVB_WTEXT("a\nb\rc\td\\e\"f"));
    EXPECT_EQ(EscapeBackslashes(&s), 0);
    EXPECT_EQ(Utf8(s), "a\\nb\\rc\\td\\\\e\"f");
    UnescapeBackslashes(&s);
    EXPECT_EQ(Utf8(s), "a\nb\rc\td\\e\"f");
}

TEST(Escapes, XmlEntitiesBothWays) {
    const struct {
        const WideChar* in;
        const WideChar* out;
    } decode[] = {
        {HVB_WTEXT("&#65;"), HVB_WTEXT("A")},
        {HVB_WTEXT("&lt;&gt;"), HVB_WTEXT("<>")},
        {HVB_WTEXT("&quot;&amp;&nbsp;"), HVB_WTEXT("\"& ")},
        {HVB_WTEXT("& lt ;"), HVB_WTEXT("<")},
        {HVB_WTEXT("&zzz;"), HVB_WTEXT("&zzz;")},
        {HVB_WTEXT("&LT;"), HVB_WTEXT("&LT;")},
        {HVB_WTEXT("&"), HVB_WTEXT("&")},
        {HVB_WTEXT("a & b &lt;"), HVB_WTEXT("a & b <")},  // the first name runs to the first semicolon
        {HVB_WTEXT("&x &lt;"), HVB_WTEXT("&x <")},
        {HVB_WTEXT("&#x41;"), HVB_WTEXT("&#x41;")},
        {HVB_WTEXT("&#12a;"), HVB_WTEXT("\x0C")},
        {HVB_WTEXT("&#;"), HVB_WTEXT("&#;")},
        {HVB_WTEXT("&a &  lt  ;"), HVB_WTEXT("&a <")},  // two names end at one semicolon
        {HVB_WTEXT("&  ;&amp;"), HVB_WTEXT("&  ;&")},
        {HVB_WTEXT("&&&gt;&"), HVB_WTEXT("&&>&")},
    };
    for (const auto& c : decode) {
        EWideString s(c.in);
        EXPECT_EQ(DecodeXmlEntities(&s), 0);
        EXPECT_EQ(Utf8(s), Utf8(EWideString(c.out))) << Utf8(EWideString(c.in));
    }
    // Many `&` before one `;` (a key file can hold such a value): each is
    // looked at once, where a search from every `&` took minutes.
    EWideString many;
    for (int i = 0; i < 200000; ++i) many.AppendChar('&');
    many.Append(HVB_WTEXT("lt;"));
    DecodeXmlEntities(&many);
    ASSERT_EQ(many.GetLength(), 200000u);
    EXPECT_EQ(many.GetString()[199998], '&');
    EXPECT_EQ(many.GetString()[199999], '<');

    const struct {
        const WideChar* in;
        int32_t indent;
        const WideChar* out;
    } encode[] = {
        {HVB_WTEXT("\t"), 0, HVB_WTEXT("&#9;")},
        {HVB_WTEXT("a\nb"), 2, HVB_WTEXT("a&#10;\r\n\t\tb")},
        {HVB_WTEXT("a\n"), 2, HVB_WTEXT("a&#10;")},
        {HVB_WTEXT("a\nb"), -1, HVB_WTEXT("a&#10;b")},
        {HVB_WTEXT("<a b=\"&\">"), 0, HVB_WTEXT("&lt;a&nbsp;b=&quot;&amp;&quot;&gt;")},
        {HVB_WTEXT("é日'"), 0, HVB_WTEXT("é日'")},
    };
    for (const auto& c : encode) {
        EWideString out(HVB_WTEXT("stale"));
        EXPECT_EQ(EncodeXmlText(&out, EWideString(c.in), c.indent), 0);
        EXPECT_EQ(Utf8(out), Utf8(EWideString(c.out)));
    }
    // Every code unit survives encoding and decoding.
    EWideString all;
    for (uint32_t u = 1; u < 0x10000; u += 7) all.AppendChar(static_cast<WideChar>(u));
    EWideString encoded;
    EncodeXmlText(&encoded, all, -1);
    DecodeXmlEntities(&encoded);
    EXPECT_EQ(encoded.Compare(all.GetString()), 0);
}
