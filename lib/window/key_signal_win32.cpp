#include <windows.h>

#include "window/key_signal.h"

EKeySignal::EKeySignal() : handle_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

EKeySignal::~EKeySignal() {
    if (handle_ != nullptr) CloseHandle(handle_);
}

void EKeySignal::Set() {
    if (handle_ != nullptr) SetEvent(handle_);
}

void EKeySignal::Reset() {
    if (handle_ != nullptr) ResetEvent(handle_);
}

EKeySignal::WaitResult EKeySignal::Wait(uint32_t milliseconds, bool with_messages) {
    if (handle_ == nullptr) return Failed;
    HANDLE handle = handle_;
    const DWORD r = with_messages ? MsgWaitForMultipleObjects(1, &handle, FALSE, milliseconds, QS_ALLINPUT)
                                  : WaitForSingleObject(handle, milliseconds);
    if (r == WAIT_OBJECT_0) return Signalled;
    if (r == WAIT_TIMEOUT) return TimedOut;
    if (with_messages && r == WAIT_OBJECT_0 + 1) return MessageArrived;
    return Failed;
}
