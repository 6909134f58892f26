// Events, threads and time over Win32.
#include <windows.h>
#include <mmsystem.h>

#include <new>

#include "platform/platform.h"

namespace plat {
namespace {

struct StartRecord {
    ThreadRoutine routine;
    void* parameter;
};

DWORD WINAPI Start(LPVOID parameter) {
    const StartRecord record = *static_cast<StartRecord*>(parameter);
    delete static_cast<StartRecord*>(parameter);
    return record.routine(record.parameter);
}

}  // namespace

EventHandle CreateManualResetEvent(bool initially_set) {
    return ::CreateEventA(nullptr, TRUE, initially_set ? TRUE : FALSE, nullptr);
}
void CloseEvent(EventHandle event) { ::CloseHandle(event); }
void SetEvent(EventHandle event) { ::SetEvent(event); }
void ResetEvent(EventHandle event) { ::ResetEvent(event); }

uint32_t WaitForAnyEvent(const EventHandle* events, uint32_t count) {
    const DWORD result = ::WaitForMultipleObjects(count, const_cast<HANDLE*>(events), FALSE, INFINITE);
    return result - WAIT_OBJECT_0;
}

ThreadHandle CreateThread(uint32_t stack_size, ThreadRoutine routine, void* parameter, uint32_t flags,
                          uint32_t* thread_id) {
    auto* record = new (std::nothrow) StartRecord{routine, parameter};
    if (record == nullptr) return nullptr;
    static_assert(sizeof(DWORD) == sizeof(uint32_t));
    HANDLE thread = ::CreateThread(nullptr, stack_size, Start, record, flags, reinterpret_cast<DWORD*>(thread_id));
    if (thread == nullptr) delete record;
    return thread;
}

int CloseThreadHandle(ThreadHandle thread) { return ::CloseHandle(thread); }

uint32_t WaitForThread(ThreadHandle thread) {
    ::WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    ::GetExitCodeThread(thread, &code);
    return code;
}

uint32_t GetCurrentThreadId() { return ::GetCurrentThreadId(); }

uint32_t TimeGetTime() { return ::timeGetTime(); }

}  // namespace plat
