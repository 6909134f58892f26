#include "window/key_queue.h"

#include <new>

EKeyEventQueue::EKeyEventQueue() { plat::InitializeCriticalSection(&lock_); }

EKeyEventQueue::~EKeyEventQueue() {
    ClearLocked();
    plat::DeleteCriticalSection(&lock_);
}

void EKeyEventQueue::ClearLocked() {
    for (uint32_t i = 0; i < events_.GetCount(); ++i) delete events_.GetAt(i);
    events_.RemoveAll();
    signal_.Reset();
}

void EKeyEventQueue::SetCapacity(uint32_t capacity) {
    plat::EnterCriticalSection(&lock_);
    capacity_ = capacity;
    ClearLocked();
    plat::LeaveCriticalSection(&lock_);
}

void EKeyEventQueue::Clear() {
    plat::EnterCriticalSection(&lock_);
    ClearLocked();
    plat::LeaveCriticalSection(&lock_);
}

void EKeyEventQueue::Push(const EKeyEvent& event) {
    plat::EnterCriticalSection(&lock_);
    if (capacity_ > 0) {
        while (events_.GetCount() >= capacity_) {
            delete events_.GetAt(0);
            events_.RemoveAt(0);
        }
        auto* copy = new (std::nothrow) EKeyEvent(event);
        if (copy != nullptr && !events_.Add(copy)) delete copy;
        if (events_.GetCount() > 0) signal_.Set();
    }
    plat::LeaveCriticalSection(&lock_);
}

ResultCode EKeyEventQueue::Wait(EKeyEvent* event, uint32_t milliseconds, bool with_messages) {
    if (signal_.Wait(milliseconds, with_messages) != EKeySignal::Signalled) return ResultTimeout;
    ResultCode result = ResultTimeout;
    plat::EnterCriticalSection(&lock_);
    if (EKeyEvent* oldest = events_.GetAt(0)) {
        *event = *oldest;
        delete oldest;
        events_.RemoveAt(0);
        result = ResultSuccess;
    }
    if (events_.GetCount() == 0) signal_.Reset();
    plat::LeaveCriticalSection(&lock_);
    return result;
}

uint32_t EKeyEventQueue::GetCount() {
    plat::EnterCriticalSection(&lock_);
    const uint32_t n = events_.GetCount();
    plat::LeaveCriticalSection(&lock_);
    return n;
}
