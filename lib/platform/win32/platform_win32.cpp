// The seam over Win32.
#include <windows.h>
#include <mmsystem.h>

#include "platform/backend.h"
#include "platform/codepage.h"

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(plat::CriticalSection));

namespace plat {

void* PageAllocate(uint32_t size) {
    return VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE);
}

int PageRelease(void* address, uint32_t) {
    return VirtualFree(address, 0, MEM_RELEASE);
}

static CRITICAL_SECTION* Native(CriticalSection* cs) {
    return reinterpret_cast<CRITICAL_SECTION*>(cs->opaque);
}
void InitializeCriticalSection(CriticalSection* cs) { ::InitializeCriticalSection(Native(cs)); }
void DeleteCriticalSection(CriticalSection* cs) { ::DeleteCriticalSection(Native(cs)); }
void EnterCriticalSection(CriticalSection* cs) { ::EnterCriticalSection(Native(cs)); }
void LeaveCriticalSection(CriticalSection* cs) { ::LeaveCriticalSection(Native(cs)); }

uint32_t TlsAlloc() { return ::TlsAlloc(); }
int TlsFree(uint32_t index) { return ::TlsFree(index); }
void* TlsGetValue(uint32_t index) { return ::TlsGetValue(index); }
int TlsSetValue(uint32_t index, void* value) { return ::TlsSetValue(index, value); }

int32_t AtomicIncrement(volatile int32_t* value) {
    return ::InterlockedIncrement(reinterpret_cast<volatile LONG*>(value));
}
int32_t AtomicDecrement(volatile int32_t* value) {
    return ::InterlockedDecrement(reinterpret_cast<volatile LONG*>(value));
}

namespace {

struct FaultGuard {
    uintptr_t begin, end, resume;
    DWORD thread;
};
// Written only while no guard is armed, so the handler sees a whole one.
FaultGuard g_guard;
volatile LONG g_armed = 0;
PVOID g_handler = nullptr;

LONG CALLBACK ResumeOnFault(EXCEPTION_POINTERS* info) {
    const auto at = reinterpret_cast<uintptr_t>(info->ExceptionRecord->ExceptionAddress);
    if (!g_armed || GetCurrentThreadId() != g_guard.thread || at < g_guard.begin || at >= g_guard.end) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    info->ContextRecord->Eip = static_cast<DWORD>(g_guard.resume);
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

void ArmFaultResume(const void* begin, const void* end, const void* resume) {
    g_guard = {reinterpret_cast<uintptr_t>(begin), reinterpret_cast<uintptr_t>(end), reinterpret_cast<uintptr_t>(resume),
               GetCurrentThreadId()};
    g_armed = 1;
    g_handler = AddVectoredExceptionHandler(1, ResumeOnFault);
}

void DisarmFaultResume() {
    if (g_handler != nullptr) RemoveVectoredExceptionHandler(g_handler);
    g_handler = nullptr;
    g_armed = 0;
}

uint32_t BeginTimerPeriod(uint32_t milliseconds) { return timeBeginPeriod(milliseconds); }

namespace backend {

void DebuggerOutput(const char* text) { OutputDebugStringA(text); }

Answer AskYesNoCancel(const char* text, const char* caption) {
    WideChar wide_text[1024];
    WideChar wide_caption[256];
    switch (MessageBoxW(nullptr, OwnText(text, wide_text, 1024), OwnText(caption, wide_caption, 256), MB_YESNOCANCEL)) {
        case IDYES: return Answer::Yes;
        case IDNO: return Answer::No;
        default: return Answer::Cancel;
    }
}

}  // namespace backend
}  // namespace plat
