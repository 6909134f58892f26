// The description's three encodings against iconv.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "xml/description.h"
#include "xml/host_tools.h"
#include "xml/xml_support.h"

namespace {

std::u16string Decode(const std::string& bytes, int32_t encoding) {
    EWideString out;
    EXPECT_EQ(DecodeDescriptionText(bytes.data(), static_cast<uint32_t>(bytes.size()), encoding, &out), 0);
    return std::u16string(reinterpret_cast<const char16_t*>(out.GetString()), out.GetLength());
}

std::string Encode(const std::u16string& text, int32_t encoding) {
    EStreamBuffer out;
    EXPECT_EQ(EncodeDescriptionText(reinterpret_cast<const WideChar*>(text.data()), static_cast<uint32_t>(text.size()),
                                    encoding, &out),
              0);
    std::string bytes(out.GetLength(), '\0');
    out.Read(bytes.data(), out.GetLength());
    return bytes;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

}  // namespace

// Every JIS X 0208 character, one per line in its own ESC $ B run: iconv and
// we read the same character, except where the code page maps the JIS code to
// another character than the JIS mapping does; each character we read is
// written back to the same bytes, and to what iconv writes for it.
TEST(DescriptionEncodings, Iso2022JpAgainstIconv) {
    std::string input;
    std::vector<std::string> lines;
    for (int c1 = 0x21; c1 <= 0x7E; ++c1) {
        for (int c2 = 0x21; c2 <= 0x7E; ++c2) {
            lines.push_back(std::string("\x1B$B") + static_cast<char>(c1) + static_cast<char>(c2) + "\x1B(B");
            input += lines.back() + "\n";
        }
    }
    const std::u16string theirs = FromUtf16Le(RunTool("iconv -c -f ISO-2022-JP -t UTF-16LE", input));
    std::vector<std::u16string> chars;
    size_t start = 0;
    for (size_t i = 0; i < theirs.size(); ++i) {
        if (theirs[i] == u'\n') {
            chars.push_back(theirs.substr(start, i - start));
            start = i + 1;
        }
    }
    ASSERT_EQ(chars.size(), lines.size());

    std::string differences;
    std::u16string agreed;
    size_t defined = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (chars[i].empty()) continue;  // not a JIS X 0208 character
        ++defined;
        const std::u16string ours = Decode(lines[i], 2);
        ASSERT_EQ(ours.size(), 1u);
        EXPECT_EQ(Encode(ours, 2), lines[i]) << Hex(static_cast<uint32_t>(0x2121 + i / 94 * 256 + i % 94));
        if (ours != chars[i]) {
            differences += Hex(static_cast<uint32_t>(0x2121 + i / 94 * 256 + i % 94)) + ":" + Hex(chars[i][0]) +
                           ">" + Hex(ours[0]) + " ";
        } else {
            agreed += ours + u"\n";
        }
    }
    EXPECT_EQ(defined, 6879u);
    // The code page's readings of the JIS codes for the backslash-like,
    // dash-like and currency characters.
    EXPECT_EQ(differences,
              "2141:301C>FF5E 2142:2016>2225 215D:2212>FF0D 2171:00A2>FFE0 2172:00A3>FFE1 "
              "224C:00AC>FFE2 ");
    EXPECT_TRUE(RunTool("iconv -f UTF-16LE -t ISO-2022-JP", Utf16Le(agreed)) == Encode(agreed, 2));
}

// The whole BMP but the surrogates, and characters of every other plane as
// surrogate pairs (4-byte sequences), through UTF-8 both ways.
TEST(DescriptionEncodings, Utf8AgainstIconv) {
    std::u16string all;
    for (uint32_t u = 1; u < 0x10000; ++u) {
        if (u < 0xD800 || u > 0xDFFF) all += static_cast<char16_t>(u);
    }
    for (uint32_t u = 0x10000; u <= 0x10FFFF; u += 97) {
        all += static_cast<char16_t>(0xD800 + ((u - 0x10000) >> 10));
        all += static_cast<char16_t>(0xDC00 + ((u - 0x10000) & 0x3FF));
    }
    const std::string theirs = RunTool("iconv -f UTF-16LE -t UTF-8", Utf16Le(all));
    EXPECT_TRUE(Encode(all, 1) == theirs);
    EXPECT_TRUE(Decode(theirs, 1) == all);
}

// The code page through "Shift_JIS": every BMP character iconv can write in
// CP932 we write alike (but for five JIS variants the Win32 conversion
// refuses), and every code so written both read back alike.
TEST(DescriptionEncodings, ShiftJisAgainstIconv) {
    std::u16string all;
    for (uint32_t u = 1; u < 0x10000; ++u) {
        if ((u < 0xD800 || u > 0xDFFF) && u != '\n') all += static_cast<char16_t>(u) + std::u16string(u"\n");
    }
    const std::string theirs = RunTool("iconv -c -f UTF-16LE -t CP932", Utf16Le(all));
    std::string codes;
    std::string refused;
    size_t count = 0;
    size_t start = 0;
    for (size_t i = 0; i < all.size(); i += 2) {
        const size_t end = theirs.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        const std::string code = theirs.substr(start, end - start);
        start = end + 1;
        if (code.empty()) continue;
        ++count;
        const std::string ours = Encode(all.substr(i, 1), 0);
        if (ours != code) {
            refused += Hex(all[i]) + " ";
            EXPECT_EQ(ours, "?");
        }
        codes += code + "\n";
    }
    EXPECT_GT(count, 7000u);
    EXPECT_EQ(refused, "2014 2016 203E 2212 301C ");
    EXPECT_TRUE(FromUtf16Le(RunTool("iconv -f CP932 -t UTF-16LE", codes)) == Decode(codes, 0));
}
