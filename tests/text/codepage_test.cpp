#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/cp932_vectors.h"
#include "text/string.h"

namespace {

std::string Hex(const uint16_t* units, int count) {
    std::string s;
    char buf[8];
    for (int i = 0; i < count; ++i) {
        std::snprintf(buf, sizeof buf, " %04X", units[i]);
        s += buf;
    }
    return s;
}

std::string Hex(const char* bytes, int count) {
    std::string s;
    char buf[8];
    for (int i = 0; i < count; ++i) {
        std::snprintf(buf, sizeof buf, " %02X", static_cast<unsigned char>(bytes[i]));
        s += buf;
    }
    return s;
}

}  // namespace

TEST(CodePage, AnsiVectorsConvertAlike) {
    for (const auto& v : cp932::kAnsiVectors) {
        SCOPED_TRACE(v.what);
        EXPECT_EQ(plat::AnsiToWide(v.bytes, v.length, nullptr, 0), v.count);
        WideChar out[8] = {};
        const int n = plat::AnsiToWide(v.bytes, v.length, out, 8);
        uint16_t units[8];
        for (int i = 0; i < 8; ++i) units[i] = static_cast<uint16_t>(out[i]);
        EXPECT_EQ(Hex(units, n), Hex(v.units, v.count));
        // Through the string class with an explicit length as well.
        EWideString wide(v.bytes, v.length);
        ASSERT_EQ(wide.GetLength(), static_cast<uint32_t>(v.count));
        for (int i = 0; i < v.count; ++i) EXPECT_EQ(static_cast<uint16_t>(wide.GetAt(i)), v.units[i]);
    }
}

TEST(CodePage, WideVectorsConvertAlike) {
    for (const auto& v : cp932::kWideVectors) {
        SCOPED_TRACE(v.what);
        WideChar in[4] = {};
        for (int i = 0; i < v.count; ++i) in[i] = static_cast<WideChar>(v.units[i]);
        EXPECT_EQ(plat::WideToAnsi(in, v.count, nullptr, 0), v.length);
        char out[8] = {};
        bool used_default = false;
        const int n = plat::WideToAnsi(in, v.count, out, 8, &used_default);
        EXPECT_EQ(Hex(out, n), Hex(v.bytes, v.length));
        const bool has_default = std::string(v.bytes, v.length).find('?') != std::string::npos;
        EXPECT_EQ(used_default, has_default);
        EString narrow(in, v.count);
        EXPECT_EQ(Hex(narrow.GetString(), static_cast<int>(narrow.GetLength())), Hex(v.bytes, v.length));
    }
}

TEST(CodePage, LeadBytes) {
    for (int b = 0; b < 256; ++b) {
        const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        EXPECT_EQ(plat::IsDBCSLeadByte(static_cast<unsigned char>(b)), lead) << b;
    }
}

TEST(CodePage, TerminatorAndBufferRules) {
    // -1 converts and counts the terminator.
    EXPECT_EQ(plat::AnsiToWide("\x82\xA0"
                               "a",
                               -1, nullptr, 0),
              3);
    WideChar w[3];
    EXPECT_EQ(plat::AnsiToWide("\x82\xA0"
                               "a",
                               -1, w, 3),
              3);
    EXPECT_EQ(w[2], 0);
    // Too small a buffer fails without writing past it.
    WideChar small[2] = {0x1111, 0x2222};
    EXPECT_EQ(plat::AnsiToWide("abc", 3, small, 1), 0);
    EXPECT_EQ(small[1], 0x2222);
    char bytes[3] = {'x', 'y', 'z'};
    EXPECT_EQ(plat::WideToAnsi(HVB_WTEXT("\u3042\u3042"), 2, bytes, 3), 0);
    EXPECT_EQ(plat::WideToAnsi(HVB_WTEXT("\u3042"), -1, nullptr, 0), 3);
    // Null and empty sources convert nothing.
    EXPECT_EQ(plat::AnsiToWide(nullptr, -1, w, 3), 0);
    EXPECT_EQ(plat::WideToAnsi(nullptr, -1, bytes, 3), 0);
    EXPECT_EQ(plat::AnsiToWide("ab", 0, w, 3), 0);
}

TEST(CodePage, LiteralsAreCp932) {
    // The build compiles narrow literals to CP932 on both targets.
    EXPECT_EQ(Hex("あ\\", 3), Hex("\x82\xA0\x5C", 3));
    EWideString wide("日本語");
    EXPECT_EQ(wide.Compare(HVB_WTEXT("日本語")), 0);
    EString back(wide.GetString());
    EXPECT_EQ(back.Compare("日本語"), 0);
}

TEST(CodePage, OwnTextIsCutAfterItsLastWholeCharacter) {
    struct Case {
        const char* text;
        int capacity;
        const WideChar* expected;
    } cases[] = {
        {"修正セットアップ", 64, HVB_WTEXT("修正セットアップ")},
        {"修正セットアップ", 9, HVB_WTEXT("修正セットアップ")},  // exactly with the terminator
        {"修正セットアップ", 3, HVB_WTEXT("修正")},
        {"a修", 2, HVB_WTEXT("a")},  // never half of a double-byte character
        {"abc", 1, HVB_WTEXT("")},
        {"", 4, HVB_WTEXT("")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.capacity);
        std::vector<WideChar> out(static_cast<size_t>(c.capacity), 0x1234);
        const WideChar* got = plat::OwnText(c.text, out.data(), c.capacity);
        EXPECT_EQ(got, out.data());
        EXPECT_EQ(std::basic_string<WideChar>(got), std::basic_string<WideChar>(c.expected));
    }
}
