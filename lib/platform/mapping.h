// Read-only mappings of whole files, in the terms of CreateFileMappingA and
// MapViewOfFile. The posix backend reproduces them with mmap.
#pragma once

#include "platform/file.h"

namespace plat {

struct FileMapping;

// A read-only mapping of the whole file; null on failure (an empty file
// cannot be mapped, as on Win32).
FileMapping* CreateReadOnlyMapping(FileHandle file);
// A view of the whole mapping; null on failure.
const void* MapWholeView(FileMapping* mapping);
void UnmapView(FileMapping* mapping, const void* view);
void CloseMapping(FileMapping* mapping);

}  // namespace plat
