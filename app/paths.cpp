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

bool JoinWidePath(WideChar* out, uint32_t size, const char* directory, const char* name) {
    const int first = static_cast<int>(std::strlen(directory));
    const int second = static_cast<int>(std::strlen(name));
    if (size == 0) return false;
    out[0] = 0;
    if (static_cast<uint32_t>(first) + 1 + static_cast<uint32_t>(second) >= size) return false;
    const int capacity = static_cast<int>(size);
    const int n = first == 0 ? 0 : plat::AnsiToWide(directory, first, out, capacity);
    if (first != 0 && n == 0) return false;
    out[n] = u'\\';
    const int m = second == 0 ? 0 : plat::OwnTextToWide(name, second, out + n + 1, capacity - n - 2);
    if (second != 0 && m == 0) {
        out[0] = 0;
        return false;
    }
    out[n + 1 + m] = 0;
    return true;
}

void DirectoryOfWidePath(const WideChar* path, WideChar* directory, uint32_t size) {
    if (size == 0) return;
    uint32_t n = 0;
    for (uint32_t i = 0; path[i] != 0; ++i) {
        if (path[i] == u'\\' || path[i] == u'/' || path[i] == u':') n = i + 1;
    }
    if (n >= size) n = size - 1;
    for (uint32_t i = 0; i < n; ++i) directory[i] = path[i];
    directory[n] = 0;
}
