#include "core/object.h"

int CompareClassName(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) {
        const bool a_empty = a == nullptr || a[0] == 0;
        const bool b_empty = b == nullptr || b[0] == 0;
        if (a_empty && b_empty) return 0;
        return a_empty ? -1 : 1;
    }
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    while (*x != 0 && *x == *y) {
        ++x;
        ++y;
    }
    return static_cast<int>(*x) - static_cast<int>(*y);
}
