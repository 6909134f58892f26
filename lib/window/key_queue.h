// The input filter's queue of pressed keys: at most a given number of
// events, the oldest dropped first, with a signal that is set while the
// queue holds events. One lock guards it, so the window's thread may fill it
// while game threads wait on it and empty it.
#pragma once

#include <cstdint>

#include "core/result.h"
#include "platform/platform.h"
#include "text/ptr_array.h"
#include "window/key_event.h"
#include "window/key_signal.h"

class EKeyEventQueue {
public:
    EKeyEventQueue();
    ~EKeyEventQueue();
    EKeyEventQueue(const EKeyEventQueue&) = delete;
    EKeyEventQueue& operator=(const EKeyEventQueue&) = delete;

    // 0 keeps no events. Empties the queue.
    void SetCapacity(uint32_t capacity);
    uint32_t GetCapacity() const { return capacity_; }
    void Clear();
    void Push(const EKeyEvent& event);
    // ResultTimeout when nothing arrived in time (or messages woke the
    // wait, or another thread took the event first); else the oldest event.
    ResultCode Wait(EKeyEvent* event, uint32_t milliseconds, bool with_messages);
    uint32_t GetCount();

private:
    void ClearLocked();

    plat::CriticalSection lock_;
    ETypedPtrArray<EKeyEvent> events_;
    uint32_t capacity_ = 0;
    EKeySignal signal_;
};
