// Path pieces of the repair tool, in the ANSI code page and double-byte aware.
#pragma once

#include <cstdint>

#include "platform/codepage.h"

// The directory part of path (drive and directory, with the trailing
// separator): everything up to the last backslash, slash or drive colon that
// is not the trail byte of a double-byte character. Cut to size - 1 bytes.
void DirectoryOfPath(const char* path, char* directory, uint32_t size);

// directory, a backslash and name into out of size bytes. Nothing is
// normalised: a directory ending in a backslash yields a doubled separator.
// False, with out empty, when the result and its terminator do not fit.
bool JoinPath(char* out, uint32_t size, const char* directory, const char* name);

// A directory from the system (its code page) and a name of the program's own
// (CP932), joined with a backslash in UTF-16: each part converted from its own
// code page. The same fit as JoinPath, counted in the narrow parts' bytes:
// false, with out empty, when they would not fit size bytes. Out holds size
// units (a character is never more units than bytes).
bool JoinWidePath(WideChar* out, uint32_t size, const char* directory, const char* name);

// DirectoryOfPath for a UTF-16 path.
void DirectoryOfWidePath(const WideChar* path, WideChar* directory, uint32_t size);
