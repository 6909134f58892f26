#include <windows.h>

#include "platform/codepage.h"

static_assert(sizeof(plat::WideChar) == sizeof(WCHAR));

namespace plat {

int AnsiToWide(const char* source, int source_length, WideChar* destination, int capacity) {
    if (source == nullptr || source_length == 0) return 0;
    return ::MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, source, source_length, destination, capacity);
}

int WideToAnsi(const WideChar* source, int source_length, char* destination, int capacity, bool* used_default) {
    if (used_default != nullptr) *used_default = false;
    if (source == nullptr || source_length == 0) return 0;
    BOOL used = FALSE;
    const int n = ::WideCharToMultiByte(CP_ACP, 0, source, source_length, destination, capacity, nullptr,
                                        used_default != nullptr ? &used : nullptr);
    if (used_default != nullptr) *used_default = used != FALSE;
    return n;
}

bool IsDBCSLeadByte(unsigned char byte) { return ::IsDBCSLeadByte(byte) != FALSE; }

int OwnTextToWide(const char* source, int source_length, WideChar* destination, int capacity) {
    if (source == nullptr || source_length == 0) return 0;
    return ::MultiByteToWideChar(932, 0, source, source_length, destination, capacity);
}

}  // namespace plat
