// Path pieces of the repair tool, in the ANSI code page and double-byte aware.
#pragma once

#include <cstdint>

// The directory part of path (drive and directory, with the trailing
// separator): everything up to the last backslash, slash or drive colon that
// is not the trail byte of a double-byte character. Cut to size - 1 bytes.
void DirectoryOfPath(const char* path, char* directory, uint32_t size);

// directory, a backslash and name into out of size bytes. Nothing is
// normalised: a directory ending in a backslash yields a doubled separator.
// False, with out empty, when the result and its terminator do not fit.
bool JoinPath(char* out, uint32_t size, const char* directory, const char* name);
