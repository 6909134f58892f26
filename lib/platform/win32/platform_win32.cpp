// The seam over Win32.
#include <windows.h>
#include <mmsystem.h>

#include "platform/backend.h"

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

const void* volatile g_resume = nullptr;
PVOID g_handler = nullptr;

LONG CALLBACK ResumeOnFault(EXCEPTION_POINTERS* info) {
    if (g_resume == nullptr) return EXCEPTION_CONTINUE_SEARCH;
    info->ContextRecord->Eip = reinterpret_cast<DWORD>(g_resume);
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

void ArmFaultResume(const void* resume) {
    g_resume = resume;
    g_handler = AddVectoredExceptionHandler(1, ResumeOnFault);
}

void DisarmFaultResume() {
    if (g_handler != nullptr) RemoveVectoredExceptionHandler(g_handler);
    g_handler = nullptr;
    g_resume = nullptr;
}

uint32_t BeginTimerPeriod(uint32_t milliseconds) { return timeBeginPeriod(milliseconds); }

namespace backend {

void DebuggerOutput(const char* text) { OutputDebugStringA(text); }

Answer AskYesNoCancel(const char* text, const char* caption) {
    switch (MessageBoxA(nullptr, text, caption, MB_YESNOCANCEL)) {
        case IDYES: return Answer::Yes;
        case IDNO: return Answer::No;
        default: return Answer::Cancel;
    }
}

}  // namespace backend
}  // namespace plat
