// UTF-8 and UTF-16 in both directions; the ANSI code page goes through the
// library's conversion.
#pragma once

#include <string>

#include "platform/codepage.h"

namespace tool {

using WideText = std::basic_string<WideChar>;

// Ill-formed UTF-8 gives false.
bool Utf8ToWide(const std::string& utf8, WideText* wide);
// Lone surrogates become U+FFFD.
std::string WideToUtf8(const WideText& wide);
bool AnsiToWideText(const std::string& ansi, WideText* wide);
// False when a character has no form in the code page.
bool WideToAnsiText(const WideText& wide, std::string* ansi);
// For display: never fails, whatever the bytes.
std::string AnsiToUtf8(const std::string& ansi);

}  // namespace tool
