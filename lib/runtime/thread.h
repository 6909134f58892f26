// The library's thread class: owns one thread whose body is the virtual Run.
// The start routine brackets the body with a task of the library and records
// the start time, from which the body measures elapsed time and timed linear
// transitions. The base body is the thread's message loop.
#pragma once

#include <cstdint>

#include "core/object.h"
#include "platform/platform.h"

struct tagMSG;  // the Win32 MSG

class EZMRThread : public HVBObject {
    HVB_DECLARE_CLASS(EZMRThread, HVBObject)

public:
    EZMRThread() = default;
    // Forgets the thread without waiting for it: the owner stops the thread
    // and waits on its handle first.
    ~EZMRThread() override;
    EZMRThread(const EZMRThread&) = delete;
    EZMRThread& operator=(const EZMRThread&) = delete;

    // 0 started, 1 not started: a handle is still held (also when its thread
    // has ended) or the system refused. Flags as CreateThread takes them.
    virtual uint32_t Create(uint32_t stack_size = 0, uint32_t flags = 0);
    // The thread's exit code. The base loop hands every message to OnMessage
    // until WM_QUIT, or until GetMessageA fails, and returns 0. (Systems
    // without message queues have nothing to loop on and return 0 at once.)
    virtual uint32_t Run();
    // Translates and dispatches; the dispatch result (an LRESULT).
    virtual intptr_t OnMessage(tagMSG* message);

    // Closes the handle; the thread keeps running. The object can Create again.
    void CloseThreadHandle();
    // Milliseconds since the thread started, wrapping as the clock does.
    uint32_t GetElapsedTime() const;
    // Starts a span of `duration` ms now, over which GetTimeSpanValue rises
    // linearly from 0 to scale.
    void SetTimeSpan(int32_t duration, int32_t scale);
    // 0 before the span or without one, scale after it.
    int32_t GetTimeSpanValue() const;

    plat::ThreadHandle GetThreadHandle() const { return handle_; }
    uint32_t GetThreadId() const { return thread_id_; }

    // The clock every thread object reads (timeGetTime); tests drive their
    // own. Null restores the system clock.
    static void SetClock(uint32_t (*clock)());

private:
    static uint32_t Start(void* parameter);
    static uint32_t Now();

    plat::ThreadHandle handle_ = nullptr;
    uint32_t thread_id_ = 0;
    uint32_t start_time_ = 0;
    int32_t span_start_ = 0;
    int32_t span_scale_ = 0;
    int32_t span_duration_ = 0;
};
