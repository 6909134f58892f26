// The posix thread runtime linked into every program times its waits with
// GetTickCount64, which XP's kernel32 does not export: a program importing it
// does not load there. The import is answered here instead (the build keeps
// this object in every link, ahead of the system's import library), with the
// system's function where it exists.
#include "platform/win32/tick_count_win32.h"

#include <windows.h>

namespace plat::win32 {

namespace {

using TickCountFunction = ULONGLONG(WINAPI*)();

// Wraps seen (high half) and the last 32-bit count (low half). A process
// asks often enough (each timed wait does) to see every wrap.
uint64_t extended_count;

ULONGLONG WINAPI ExtendedTickCount() {
    uint64_t last = __atomic_load_n(&extended_count, __ATOMIC_ACQUIRE);
    for (;;) {
        uint64_t next = NextTickCount(last, ::GetTickCount());
        if (next == last ||
            __atomic_compare_exchange_n(&extended_count, &last, next, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE))
            return next;
    }
}

TickCountFunction Resolve() {
    static TickCountFunction chosen;
    TickCountFunction f = __atomic_load_n(&chosen, __ATOMIC_ACQUIRE);
    if (f == nullptr) {
        HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
        FARPROC system = kernel != nullptr ? ::GetProcAddress(kernel, "GetTickCount64") : nullptr;
        f = system != nullptr ? reinterpret_cast<TickCountFunction>(reinterpret_cast<void*>(system)) : ExtendedTickCount;
        __atomic_store_n(&chosen, f, __ATOMIC_RELEASE);
    }
    return f;
}

}  // namespace

uint64_t TickCount64() { return Resolve()(); }

}  // namespace plat::win32

// What an import of kernel32's GetTickCount64 links to: the function under
// its decorated name, and the import address slot that calls through it.
extern "C" ULONGLONG WINAPI hvb_GetTickCount64() __asm__("_GetTickCount64@0");
extern "C" ULONGLONG(WINAPI* const hvb_imp_GetTickCount64)() __asm__("__imp__GetTickCount64@0");
ULONGLONG WINAPI hvb_GetTickCount64() { return plat::win32::TickCount64(); }
ULONGLONG(WINAPI* const hvb_imp_GetTickCount64)() = hvb_GetTickCount64;
