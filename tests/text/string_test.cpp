#include "text/string.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Text(const EString& s) {
    return s.GetString() == nullptr ? "<null>" : std::string(s.GetString(), s.GetLength());
}

}  // namespace

TEST(String, ClassNames) {
    EString narrow;
    EWideString wide;
    EGenericString<char> generic;
    EXPECT_STREQ(narrow.GetClassName(), "EString");
    EXPECT_STREQ(wide.GetClassName(), "EWideString");
    EXPECT_STREQ(generic.GetClassName(), "HVBObject");
    EXPECT_TRUE(narrow.IsKindOf("HVBObject"));
    EXPECT_FALSE(narrow.IsKindOf("EWideString"));
    EXPECT_EQ(wide.DynamicCast("EWideString"), static_cast<void*>(&wide));
}

TEST(String, GrowthRule) {
    EString s;
    EXPECT_EQ(s.GetString(), nullptr);
    EXPECT_EQ(s.GetCapacity(), 0u);
    s.AppendChar('a');  // n = 1 >= 0: 1 + 0 + 1
    EXPECT_EQ(s.GetCapacity(), 2u);
    s.AppendChar('b');  // n = 2 >= 2: 2 + 1 + 1
    EXPECT_EQ(s.GetCapacity(), 4u);
    s.AppendChar('c');
    EXPECT_EQ(s.GetCapacity(), 4u);
    s.AppendChar('d');  // n = 4 >= 4: 4 + 2 + 1
    EXPECT_EQ(s.GetCapacity(), 7u);
    EXPECT_EQ(Text(s), "abcd");

    EString from("abcdefghij");  // 10 + 5 + 1
    EXPECT_EQ(from.GetCapacity(), 16u);
    EString copy(from);
    EXPECT_EQ(copy.GetCapacity(), 16u);
    EXPECT_EQ(Text(copy), "abcdefghij");
    EXPECT_NE(copy.GetString(), from.GetString());

    EWideString one(static_cast<WideChar>(0x3042));
    EXPECT_EQ(one.GetCapacity(), 15u);
    EXPECT_EQ(one.GetLength(), 1u);
}

TEST(String, NullAndSelfAssignment) {
    EString s("abc");
    const char* before = s.GetString();
    s = s.GetString();
    EXPECT_EQ(s.GetString(), before);
    EXPECT_EQ(Text(s), "abc");
    s = s;
    EXPECT_EQ(Text(s), "abc");
    // A tail of our own text survives the reallocation.
    EString long_text("0123456789012345678901234567890123456789");
    long_text = long_text.GetString() + 30;
    EXPECT_EQ(Text(long_text), "0123456789");
    long_text.Append(long_text.GetString() + 5);
    EXPECT_EQ(Text(long_text), "012345678956789");

    s = static_cast<const char*>(nullptr);
    EXPECT_EQ(Text(s), "");
    EString from_null_wide(static_cast<const WideChar*>(nullptr));
    EXPECT_EQ(from_null_wide.GetCapacity(), 1u);
    EXPECT_EQ(Text(from_null_wide), "");
    EWideString wide_from_null(static_cast<const char*>(nullptr));
    EXPECT_EQ(wide_from_null.GetCapacity(), 1u);
    EXPECT_EQ(wide_from_null.GetLength(), 0u);

    EString empty;
    EXPECT_EQ(empty.GetAt(0), 0);
    EXPECT_EQ(s.GetAt(-1), 0);
    EXPECT_EQ(s.GetAt(100), 0);
    EXPECT_EQ(empty.Find('a'), -1);
    EXPECT_EQ(empty.FindText("a"), -1);
    empty.TrimLeft();
    empty.TrimRight();
    empty.MakeUpper();
    empty.Reverse();
    EXPECT_EQ(empty.GetString(), nullptr);
}

TEST(String, Numbers) {
    EXPECT_EQ(Text(EString(-5, 4)), "-005");
    EXPECT_EQ(Text(EString(12345, 3)), "345");
    EXPECT_EQ(Text(EString(0, 0)), "0");
    EXPECT_EQ(Text(EString(-2147483647 - 1, 0)), "-2147483648");
    EXPECT_EQ(Text(EString(7, 20)), "00000000000000000007");  // wider than the 16-byte minimum
    EXPECT_EQ(Text(EString(255u, 0, EString::Hex)), "FF");
    EXPECT_EQ(Text(EString(255u, 4, EString::Hex)), "00FF");
    EXPECT_EQ(Text(EString(0xDEADBEEFu, 0, EString::Hex)), "DEADBEEF");
    EXPECT_EQ(Text(EString(0xABCu, 16, EString::Hex)), "0000000000000ABC");
    EXPECT_EQ(Text(EString(1.5, 0)), "1.5");
    EXPECT_EQ(Text(EString(2.0, 0)), "2.");
    EXPECT_EQ(Text(EString(2.0, 2)), "2.00");
    EXPECT_EQ(Text(EString(-0.25, 0)), "-0.25");
    EXPECT_EQ(Text(EString(3.14159, 3)), "3.142");
    EXPECT_EQ(Text(EString(1e300, 0)), "0.0");
    EXPECT_EQ(Text(EString(12.0, 12)), "12.000000000000");
    EXPECT_EQ(Text(EString(123456789.0, 12)), "0.0") << "beyond the 64-bit scaled range";
    EXPECT_EQ(Text(EString(0.1, 0)), "0.1");
    EXPECT_EQ(Text(EString(1.0, 25)), "1.000000000000000000") << "decimals stop at 18";

    EWideString wide(-42, 0);
    EXPECT_EQ(wide.Compare(HVB_WTEXT("-42")), 0);
    EXPECT_EQ(EWideString(10u, 0, EString::Hex).Compare(HVB_WTEXT("A")), 0);
    EXPECT_EQ(EWideString(0.5, 0).Compare(HVB_WTEXT("0.5")), 0);
}

TEST(String, Compare) {
    EXPECT_LT(EString("ab").Compare("abc"), 0);
    EXPECT_GT(EString("abc").Compare("ab"), 0);
    EXPECT_EQ(EString("abc").Compare("abc"), 0);
    EXPECT_EQ(EString("b").Compare("a"), 1);
    EXPECT_EQ(EString().Compare(nullptr), 0);
    EXPECT_EQ(EString("").Compare("x"), -'x');
    EXPECT_EQ(EString("x").Compare(nullptr), 'x');
    // Signed bytes: a lead byte sorts below ASCII.
    EXPECT_LT(EString("\x82\xA0").Compare("a"), 0);

    EXPECT_EQ(EString("Hello").CompareNoCase("hELLO"), 0);
    EXPECT_LT(EString("abc").CompareNoCase("ABD"), 0);
    EXPECT_GT(EString("\x82\xA0").CompareNoCase("a"), 0) << "unsigned here";
    EXPECT_EQ(EString().CompareNoCase(nullptr), 0);
    EXPECT_GT(EString("a").CompareNoCase(nullptr), 0);
}

TEST(String, SearchIsDoubleByteAware) {
    // 0x95 0x5C is one character whose trail byte is '\\'.
    EString s("\x95\x5C\\a\\");
    EXPECT_EQ(s.Find('\\'), 2);
    EXPECT_EQ(s.Find('\\', 1), 2);
    EXPECT_EQ(s.Find('\\', 3), 4);
    EXPECT_EQ(s.Find('\x95'), -1);
    EXPECT_EQ(s.Find('a', 10), -1);
    EXPECT_EQ(s.FindText("a\\"), 3);
    EXPECT_EQ(s.FindText("\\", 5), -1);
    EXPECT_EQ(s.FindText(nullptr), -1);
    EXPECT_EQ(s.FindChar('a'), 3);
}

TEST(String, EditsKeepDoubleByteCharacters) {
    EString s(" \t abc \r\n");
    s.TrimLeft();
    EXPECT_EQ(Text(s), "abc \r\n");
    s.TrimRight();
    EXPECT_EQ(Text(s), "abc");
    EString blank(" \t \t");
    blank.TrimRight();
    EXPECT_EQ(Text(blank), "");
    EString blank2(" \t \t");
    blank2.TrimLeft();
    EXPECT_EQ(Text(blank2), "");

    // 0x83 0x61 and 0x83 0x41 are katakana whose trail bytes are 'a' and 'A'.
    EString mixed("a\x83\x61Z\x83\x41");
    mixed.MakeUpper();
    EXPECT_EQ(Text(mixed), "A\x83\x61Z\x83\x41");
    mixed.MakeLower();
    EXPECT_EQ(Text(mixed), "a\x83\x61z\x83\x41");

    EString rev(
        "ab\x82\xA0"
        "c\x95\x5C");
    rev.Reverse();
    EXPECT_EQ(Text(rev),
              "\x95\x5C"
              "c\x82\xA0"
              "ba");
    EString lone("a\x82");  // a lead byte without a trail is a character of its own
    lone.Reverse();
    EXPECT_EQ(Text(lone),
              "\x82"
              "a");
}

TEST(String, PathParts) {
    EString path("C:\\dir\\file.txt");
    EXPECT_STREQ(path.GetFileNamePart(), "file.txt");
    EXPECT_STREQ(path.GetFileExtension(), "txt");
    EXPECT_EQ(Text(path.GetFileTitle()), "file");
    EXPECT_EQ(Text(path.GetDirectoryPart()), "C:\\dir\\");

    EString no_ext("dir.x\\name");
    EXPECT_EQ(no_ext.GetFileExtension(), no_ext.GetString() + no_ext.GetLength());
    EXPECT_EQ(Text(no_ext.GetFileTitle()), "name");
    EString tar("a\\b.tar.gz");
    EXPECT_STREQ(tar.GetFileExtension(), "gz");
    EXPECT_EQ(Text(tar.GetFileTitle()), "b.tar");
    EString slash("a/b/c");
    EXPECT_STREQ(slash.GetFileNamePart(), "c");
    EXPECT_EQ(Text(slash.GetDirectoryPart()), "a/b/");
    EString bare("name");
    EXPECT_EQ(Text(bare.GetDirectoryPart()), "");
    EXPECT_STREQ(bare.GetFileNamePart(), "name");

    // 表 (0x95 0x5C) and ソ (0x83 0x5C): their trail bytes do not separate.
    EString sjis("dir\\\x95\x5C.txt");
    EXPECT_STREQ(sjis.GetFileNamePart(), "\x95\x5C.txt");
    EXPECT_EQ(Text(sjis.GetDirectoryPart()), "dir\\");
    EString sjis_dir("\x83\x5C\x83\x74\x83\x67\\a.b");
    EXPECT_EQ(Text(sjis_dir.GetDirectoryPart()), "\x83\x5C\x83\x74\x83\x67\\");
    EXPECT_EQ(Text(sjis_dir.GetFileTitle()), "a");

    EString none;
    char* name = none.GetFileNamePart();
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(none.GetCapacity(), 16u);
    EString none2;
    EXPECT_STREQ(none2.GetFileExtension(), "");
    EXPECT_EQ(Text(EString().GetFileTitle()), "");
}

TEST(WideString, ConversionAndConcatenation) {
    EWideString a("日本");
    EWideString b(HVB_WTEXT("語"));
    EWideString ab = a + b;
    EXPECT_EQ(ab.Compare(HVB_WTEXT("日本語")), 0);
    EXPECT_EQ((HVB_WTEXT("[") + ab + HVB_WTEXT("]")).Compare(HVB_WTEXT("[日本語]")), 0);
    EXPECT_EQ(ab.GetAt(2), static_cast<WideChar>(0x8A9E));
    EXPECT_EQ(ab.GetAt(3), 0);
    EXPECT_EQ(ab.FindChar(static_cast<WideChar>(0x672C)), 1);
    EXPECT_EQ(ab.FindChar(static_cast<WideChar>(0x672C), 2), -1);

    EString narrow;
    narrow = ab.GetString();
    EXPECT_EQ(narrow.Compare("日本語"), 0);
    EXPECT_EQ(narrow.GetLength(), 6u);
    EXPECT_EQ(narrow.GetCapacity(), 6u + 3u + 1u);
    EString part(ab.GetString(), 1);
    EXPECT_EQ(part.Compare("日"), 0);

    EWideString w;
    w = "かな";
    EXPECT_EQ(w.GetLength(), 2u);
    EXPECT_EQ(w.GetCapacity(), 2u + 1u + 1u);
    w = static_cast<const char*>(nullptr);
    EXPECT_EQ(w.GetLength(), 0u);
    EXPECT_EQ(w.Compare(nullptr), 0);
    EXPECT_LT(w.Compare(HVB_WTEXT("a")), 0);
}
