// The installation log rebuilt from its template: every "@INSTDIR" replaced
// by the installation directory with its backslashes doubled.
#pragma once

#include <cstdint>

// One output line (or one piece of a line longer than the line buffer).
using SetupLogSink = void (*)(void* context, const char* bytes, uint32_t count);

constexpr uint32_t kSetupLogLineSize = 1024;

// Writes the rewritten template to sink one line at a time; a line longer
// than kSetupLogLineSize goes out in pieces of at most that size. Only the
// bytes up to and including the template's last line feed are written: an
// unterminated last line is dropped whatever its length. Every byte 0x5C of
// directory is doubled, the trail bytes of double-byte characters included.
void RewriteSetupTemplate(const char* text, uint32_t size, const char* directory, SetupLogSink sink, void* context);
