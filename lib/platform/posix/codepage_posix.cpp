// CP932 through iconv. glibc's CP932 agrees with the Win32 conversion of the
// target systems on every character both can express; the differences are
// what Win32 does beyond that (its fixed default characters, its private-use
// mappings of the single bytes 0x80, 0xA0, 0xFD..0xFF, a short best-fit list,
// and five JIS-variant characters it refuses), reproduced here so that both
// targets give the same text. The tables are built once, on first use.
#include <iconv.h>

#include <cstring>

#include "platform/codepage.h"

namespace plat {
namespace {

// Characters Win32 converts to CP932 although they are not in it.
constexpr struct {
    uint16_t unit;
    uint16_t code;
} kBestFit[] = {
    {0x0080, 0x80},   {0x00A1, 0x21},   {0x00A6, 0x7C},   {0x00A9, 0x63}, {0x00AA, 0x61},   {0x00AB, 0x81E1},
    {0x00AD, 0x2D},   {0x00AE, 0x52},   {0x00AF, 0x8150}, {0x00B2, 0x32}, {0x00B3, 0x33},   {0x00B5, 0x83CA},
    {0x00B7, 0x8145}, {0x00B8, 0x8143}, {0x00B9, 0x31},   {0x00BA, 0x6F}, {0x00BB, 0x81E2}, {0x00C0, 0x41},
    {0x00C1, 0x41},   {0x00C2, 0x41},   {0x00C3, 0x41},   {0x00C4, 0x41}, {0x00C5, 0x41},   {0x00C6, 0x41},
    {0x00C7, 0x43},   {0x00C8, 0x45},   {0x00C9, 0x45},   {0x00CA, 0x45}, {0x00CB, 0x45},   {0x00CC, 0x49},
    {0x00CD, 0x49},   {0x00CE, 0x49},   {0x00CF, 0x49},   {0x00D0, 0x44}, {0x00D1, 0x4E},   {0x00D2, 0x4F},
    {0x00D3, 0x4F},   {0x00D4, 0x4F},   {0x00D5, 0x4F},   {0x00D6, 0x4F}, {0x00D8, 0x4F},   {0x00D9, 0x55},
    {0x00DA, 0x55},   {0x00DB, 0x55},   {0x00DC, 0x55},   {0x00DD, 0x59}, {0x00DE, 0x54},   {0x00DF, 0x73},
    {0x00E0, 0x61},   {0x00E1, 0x61},   {0x00E2, 0x61},   {0x00E3, 0x61}, {0x00E4, 0x61},   {0x00E5, 0x61},
    {0x00E6, 0x61},   {0x00E7, 0x63},   {0x00E8, 0x65},   {0x00E9, 0x65}, {0x00EA, 0x65},   {0x00EB, 0x65},
    {0x00EC, 0x69},   {0x00ED, 0x69},   {0x00EE, 0x69},   {0x00EF, 0x69}, {0x00F0, 0x64},   {0x00F1, 0x6E},
    {0x00F2, 0x6F},   {0x00F3, 0x6F},   {0x00F4, 0x6F},   {0x00F5, 0x6F}, {0x00F6, 0x6F},   {0x00F8, 0x6F},
    {0x00F9, 0x75},   {0x00FA, 0x75},   {0x00FB, 0x75},   {0x00FC, 0x75}, {0x00FD, 0x79},   {0x00FE, 0x74},
    {0x00FF, 0x79},   {0x3094, 0x8394}, {0xF8F0, 0xA0},   {0xF8F1, 0xFD}, {0xF8F2, 0xFE},   {0xF8F3, 0xFF},
};

// JIS-variant code points glibc maps onto CP932 and Win32 does not.
constexpr uint16_t kRefused[] = {0x2014, 0x2016, 0x203E, 0x2212, 0x301C};

struct Tables {
    uint16_t to_wide[0x10000];  // by lead << 8 | trail; 0 = undefined pair
    uint16_t to_ansi[0x10000];  // byte, or lead << 8 | trail; 0 = not expressible

    Tables() {
        std::memset(to_wide, 0, sizeof to_wide);
        std::memset(to_ansi, 0, sizeof to_ansi);
        iconv_t in = iconv_open("UTF-16LE", "CP932");
        iconv_t out = iconv_open("CP932", "UTF-16LE");
        if (in != reinterpret_cast<iconv_t>(-1)) {
            for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
                if (!IsDBCSLeadByte(static_cast<unsigned char>(lead))) continue;
                for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
                    char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                    unsigned char unit[4];
                    char* ip = pair;
                    char* op = reinterpret_cast<char*>(unit);
                    size_t il = 2, ol = sizeof unit;
                    if (iconv(in, &ip, &il, &op, &ol) != static_cast<size_t>(-1) && ol == 2) {
                        to_wide[lead << 8 | trail] = static_cast<uint16_t>(unit[0] | unit[1] << 8);
                    }
                }
            }
            iconv_close(in);
        }
        if (out != reinterpret_cast<iconv_t>(-1)) {
            for (unsigned u = 1; u < 0x10000; ++u) {
                if (u >= 0xD800 && u < 0xE000) continue;
                unsigned char unit[2] = {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8)};
                unsigned char code[4];
                char* ip = reinterpret_cast<char*>(unit);
                char* op = reinterpret_cast<char*>(code);
                size_t il = 2, ol = sizeof code;
                iconv(out, nullptr, nullptr, nullptr, nullptr);
                if (iconv(out, &ip, &il, &op, &ol) == static_cast<size_t>(-1)) continue;
                const size_t n = sizeof code - ol;
                if (n == 1)
                    to_ansi[u] = code[0];
                else if (n == 2)
                    to_ansi[u] = static_cast<uint16_t>(code[0] << 8 | code[1]);
            }
            iconv_close(out);
        }
        for (const auto& fit : kBestFit) to_ansi[fit.unit] = fit.code;
        for (uint16_t unit : kRefused) to_ansi[unit] = 0;
    }
};

const Tables& GetTables() {
    static const Tables tables;
    return tables;
}

WideChar SingleByteToWide(unsigned char b) {
    if (b < 0x80) return b;
    if (b == 0x80) return 0x0080;
    if (b == 0xA0) return 0xF8F0;
    if (b >= 0xA1 && b <= 0xDF) return static_cast<WideChar>(0xFF61 + (b - 0xA1));
    return static_cast<WideChar>(0xF8F1 + (b - 0xFD));  // 0xFD..0xFF; lead bytes never get here
}

}  // namespace

bool IsDBCSLeadByte(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

int AnsiToWide(const char* source, int source_length, WideChar* destination, int capacity) {
    if (source == nullptr || source_length == 0 || source_length < -1 || capacity < 0) return 0;
    if (capacity > 0 && destination == nullptr) return 0;
    const auto* s = reinterpret_cast<const unsigned char*>(source);
    const size_t length = source_length == -1 ? std::strlen(source) + 1 : static_cast<size_t>(source_length);
    const Tables& tables = GetTables();
    int count = 0;
    for (size_t i = 0; i < length;) {
        WideChar unit;
        const unsigned char b = s[i];
        if (IsDBCSLeadByte(b)) {
            // A lead byte swallows any trail but the terminator; an undefined
            // pair becomes one default character.
            if (i + 1 < length && s[i + 1] != 0) {
                unit = tables.to_wide[b << 8 | s[i + 1]];
                if (unit == 0) unit = kWideDefaultChar;
                i += 2;
            } else {
                unit = kWideDefaultChar;
                i += 1;
            }
        } else {
            unit = SingleByteToWide(b);
            i += 1;
        }
        if (capacity > 0) {
            if (count >= capacity) return 0;
            destination[count] = unit;
        }
        ++count;
    }
    return count;
}

int WideToAnsi(const WideChar* source, int source_length, char* destination, int capacity, bool* used_default) {
    if (used_default != nullptr) *used_default = false;
    if (source == nullptr || source_length == 0 || source_length < -1 || capacity < 0) return 0;
    if (capacity > 0 && destination == nullptr) return 0;
    size_t length = static_cast<size_t>(source_length);
    if (source_length == -1) {
        length = 0;
        while (source[length] != 0) ++length;
        ++length;
    }
    const Tables& tables = GetTables();
    int count = 0;
    for (size_t i = 0; i < length; ++i) {
        const uint16_t unit = static_cast<uint16_t>(source[i]);
        uint16_t code = unit == 0 ? 0 : tables.to_ansi[unit];
        if (unit != 0 && code == 0) {
            code = static_cast<unsigned char>(kAnsiDefaultChar);
            if (used_default != nullptr) *used_default = true;
        }
        const int n = code > 0xFF ? 2 : 1;
        if (capacity > 0) {
            if (count + n > capacity) return 0;
            if (n == 2) destination[count] = static_cast<char>(code >> 8);
            destination[count + n - 1] = static_cast<char>(code);
        }
        count += n;
    }
    return count;
}

// The ANSI code page is CP932 here.
int OwnTextToWide(const char* source, int source_length, WideChar* destination, int capacity) {
    return AnsiToWide(source, source_length, destination, capacity);
}

}  // namespace plat
