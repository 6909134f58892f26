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

WaitResult WaitForEvent(EventHandle event, uint32_t milliseconds, bool with_messages) {
    static_assert(Infinite == INFINITE);
    HANDLE handle = event;
    const DWORD result = with_messages ? ::MsgWaitForMultipleObjects(1, &handle, FALSE, milliseconds, QS_ALLINPUT)
                                       : ::WaitForSingleObject(handle, milliseconds);
    if (result == WAIT_OBJECT_0) return WaitResult::Signalled;
    if (result == WAIT_TIMEOUT) return WaitResult::TimedOut;
    if (with_messages && result == WAIT_OBJECT_0 + 1) return WaitResult::MessageArrived;
    return WaitResult::Failed;
}

ThreadHandle CreateThread(uint32_t stack_size, ThreadRoutine routine, void* parameter, uint32_t flags,
                          uint32_t* thread_id) {
    auto* record = new (std::nothrow) StartRecord{routine, parameter};
    if (record == nullptr) return nullptr;
    static_assert(sizeof(DWORD) == sizeof(uint32_t));
    // Started suspended, so that the id is stored before the body can read it.
    HANDLE thread = ::CreateThread(nullptr, stack_size, Start, record, flags | CREATE_SUSPENDED,
                                   reinterpret_cast<DWORD*>(thread_id));
    if (thread == nullptr) {
        delete record;
        return nullptr;
    }
    if ((flags & CREATE_SUSPENDED) == 0) ::ResumeThread(thread);
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
