// Conversion between the system's ANSI code page and UTF-16, in Win32 terms.
// The ANSI code page is 932 (Shift-JIS) on the systems the library targets;
// the posix backend always converts CP932 and reproduces what the Win32
// conversion does with bytes and characters the code page cannot express.
#pragma once

#include <cstdint>

namespace plat {

// One UTF-16 code unit: WCHAR on win32, char16_t elsewhere (wchar_t is not 16
// bits everywhere).
#if defined(_WIN32)
using WideChar = wchar_t;
#define HVB_WTEXT(text) L##text
#else
using WideChar = char16_t;
#define HVB_WTEXT(text) u##text
#endif

// What the conversions put in place of what they cannot convert.
constexpr WideChar kWideDefaultChar = 0x30FB;  // katakana middle dot
constexpr char kAnsiDefaultChar = '?';

// MultiByteToWideChar (CP_ACP, MB_PRECOMPOSED). A source length of -1 means
// zero-terminated, and the terminator is then converted and counted. With a
// destination capacity of 0 nothing is written and the units needed are
// returned; otherwise the units written, or 0 when they do not fit.
int AnsiToWide(const char* source, int source_length, WideChar* destination, int capacity);

// WideCharToMultiByte (CP_ACP, no flags, the code page's default character),
// with the same length and capacity conventions, counted in bytes.
// *used_default, when given, tells whether a default character was put in.
int WideToAnsi(const WideChar* source, int source_length, char* destination, int capacity,
               bool* used_default = nullptr);

// IsDBCSLeadByte for the ANSI code page.
bool IsDBCSLeadByte(unsigned char byte);

// The program's own texts (messages, captions, names it gives files and keys)
// are CP932 by construction, whatever the system's code page: this converts
// one to UTF-16 for the system's wide calls, with the conventions of
// AnsiToWide. Paths and names that come from the system keep its code page
// and go through AnsiToWide.
int OwnTextToWide(const char* source, int source_length, WideChar* destination, int capacity);

// A zero-terminated own text as zero-terminated UTF-16 in capacity units (at
// least 1): a text that does not fit is cut after its last whole character
// that does. Returns destination.
inline const WideChar* OwnText(const char* text, WideChar* destination, int capacity) {
    int bytes = 0;
    int fit = 0;  // bytes of whole characters that fit with the terminator
    int units = 0;
    while (text[bytes] != '\0') {
        const unsigned char lead = static_cast<unsigned char>(text[bytes]);
        const bool pair = ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) && text[bytes + 1] != '\0';
        bytes += pair ? 2 : 1;
        if (++units >= capacity) break;
        fit = bytes;
    }
    const int n = fit == 0 ? 0 : OwnTextToWide(text, fit, destination, capacity - 1);
    destination[n] = 0;
    return destination;
}

}  // namespace plat

using WideChar = plat::WideChar;
