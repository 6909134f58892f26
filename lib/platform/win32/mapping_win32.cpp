#include <windows.h>

#include "platform/mapping.h"

namespace plat {

FileMapping* CreateReadOnlyMapping(FileHandle file) {
    HANDLE mapping = CreateFileMappingA(static_cast<HANDLE>(file), nullptr, PAGE_READONLY, 0, 0, nullptr);
    return reinterpret_cast<FileMapping*>(mapping);
}

const void* MapWholeView(FileMapping* mapping) {
    if (mapping == nullptr) return nullptr;
    return MapViewOfFile(reinterpret_cast<HANDLE>(mapping), FILE_MAP_READ, 0, 0, 0);
}

void UnmapView(FileMapping*, const void* view) {
    if (view != nullptr) UnmapViewOfFile(view);
}

void CloseMapping(FileMapping* mapping) {
    if (mapping != nullptr) CloseHandle(reinterpret_cast<HANDLE>(mapping));
}

}  // namespace plat
