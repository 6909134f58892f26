// A manual-reset event with a timed wait, on which a game thread sleeps until
// the input filter queues a key.
#pragma once

#include <cstdint>

#include "platform/platform.h"

class EKeySignal {
public:
    static constexpr uint32_t kInfinite = plat::Infinite;
    using WaitResult = plat::WaitResult;
    using enum plat::WaitResult;

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
    plat::EventHandle handle_ = nullptr;
};
