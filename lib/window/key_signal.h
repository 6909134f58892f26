// A manual-reset event with a timed wait, on which a game thread sleeps until
// the input filter queues a key. Win32: an event object, waited on with
// MsgWaitForMultipleObjects or WaitForSingleObject; elsewhere a condition
// variable (there are no message queues to wake on).
#pragma once

#include <cstdint>

class EKeySignal {
public:
    static constexpr uint32_t kInfinite = 0xFFFFFFFFu;
    enum WaitResult { Signalled, TimedOut, MessageArrived, Failed };

    // Unnamed, not set.
    EKeySignal();
    ~EKeySignal();
    EKeySignal(const EKeySignal&) = delete;
    EKeySignal& operator=(const EKeySignal&) = delete;

    bool IsValid() const { return handle_ != nullptr; }
    void Set();
    void Reset();
    // With with_messages, input arriving in the calling thread's message
    // queue also ends the wait.
    WaitResult Wait(uint32_t milliseconds, bool with_messages);

private:
    void* handle_ = nullptr;
};
