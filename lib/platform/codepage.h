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

}  // namespace plat

using WideChar = plat::WideChar;
