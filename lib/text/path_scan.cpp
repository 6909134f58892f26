#include "text/path_scan.h"

#include <cstring>

#include "platform/codepage.h"

namespace {

// Size of the character at path[i]: 2 for a lead byte followed by a trail.
int32_t CharSize(const unsigned char* p, int32_t i) { return plat::IsDBCSLeadByte(p[i]) && p[i + 1] != 0 ? 2 : 1; }

}  // namespace

int32_t FindNextSeparator(const char* path, int32_t start, const char* separators) {
    const auto* p = reinterpret_cast<const unsigned char*>(path);
    int32_t i = 0;
    // Character boundaries are known only from the start of the path.
    while (i < start && p[i] != 0) i += CharSize(p, i);
    for (; p[i] != 0; i += CharSize(p, i)) {
        if (std::strchr(separators, p[i]) != nullptr) return i;
    }
    return i;
}

int32_t FindLastSeparator(const char* path, const char* separators) {
    const auto* p = reinterpret_cast<const unsigned char*>(path);
    int32_t last = -1;
    for (int32_t i = 0; p[i] != 0; i += CharSize(p, i)) {
        if (std::strchr(separators, p[i]) != nullptr) last = i;
    }
    return last;
}
