#include "unicode.h"

namespace tool {

bool Utf8ToWide(const std::string& utf8, WideText* wide) {
    wide->clear();
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const size_t n = utf8.size();
    for (size_t i = 0; i < n;) {
        uint32_t c = p[i];
        int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0 || (extra > 0 && i + static_cast<size_t>(extra) >= n)) return false;
        c &= extra == 0 ? 0x7F : extra == 1 ? 0x1F : extra == 2 ? 0x0F : 0x07;
        for (int k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            c = c << 6 | (p[i + k] & 0x3F);
        }
        static const uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (c < kMinimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        if (c >= 0x10000) {
            c -= 0x10000;
            wide->push_back(static_cast<WideChar>(0xD800 + (c >> 10)));
            wide->push_back(static_cast<WideChar>(0xDC00 + (c & 0x3FF)));
        } else {
            wide->push_back(static_cast<WideChar>(c));
        }
        i += 1 + extra;
    }
    return true;
}

std::string WideToUtf8(const WideText& wide) {
    std::string out;
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t c = static_cast<uint16_t>(wide[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && (static_cast<uint16_t>(wide[i + 1]) & 0xFC00) == 0xDC00) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(wide[i + 1]) - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool AnsiToWideText(const std::string& ansi, WideText* wide) {
    wide->clear();
    if (ansi.empty()) return true;
    const int n = plat::AnsiToWide(ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    if (n <= 0) return false;
    wide->resize(static_cast<size_t>(n));
    return plat::AnsiToWide(ansi.data(), static_cast<int>(ansi.size()), wide->data(), n) == n;
}

bool WideToAnsiText(const WideText& wide, std::string* ansi) {
    ansi->clear();
    if (wide.empty()) return true;
    bool used_default = false;
    const int n = plat::WideToAnsi(wide.data(), static_cast<int>(wide.size()), nullptr, 0, &used_default);
    if (n <= 0 || used_default) return false;
    ansi->resize(static_cast<size_t>(n));
    return plat::WideToAnsi(wide.data(), static_cast<int>(wide.size()), ansi->data(), n, &used_default) == n &&
           !used_default;
}

std::string AnsiToUtf8(const std::string& ansi) {
    WideText wide;
    if (!AnsiToWideText(ansi, &wide)) return std::string(ansi.size(), '?');
    return WideToUtf8(wide);
}

}  // namespace tool
