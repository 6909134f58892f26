#include "paths.h"

#include <cstring>

#include "text/path_scan.h"

void DirectoryOfPath(const char* path, char* directory, uint32_t size) {
    if (size == 0) return;
    uint32_t n = static_cast<uint32_t>(FindLastSeparator(path, "\\/:") + 1);
    if (n >= size) n = size - 1;
    std::memcpy(directory, path, n);
    directory[n] = '\0';
}

bool JoinPath(char* out, uint32_t size, const char* directory, const char* name) {
    const size_t first = std::strlen(directory);
    const size_t second = std::strlen(name);
    if (size == 0) return false;
    if (first + 1 + second >= size) {
        out[0] = '\0';
        return false;
    }
    std::memmove(out, directory, first);
    out[first] = '\\';
    std::memmove(out + first + 1, name, second + 1);
    return true;
}
