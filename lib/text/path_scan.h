// Separators in ANSI paths, found double-byte aware: the trail byte of a
// double-byte character is never taken for a separator, even when it is 0x5C.
// A lead byte just before the terminator has no trail and counts as one
// character of its own.
#pragma once

#include <cstdint>

// Index of the first byte at or after start that is one of separators, or the
// index of the terminator when there is none.
int32_t FindNextSeparator(const char* path, int32_t start, const char* separators);

// Index of the last byte that is one of separators, or -1.
int32_t FindLastSeparator(const char* path, const char* separators);
