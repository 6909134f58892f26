// Events, threads and time over pthreads. Every event shares one mutex and
// one condition variable: a waiter on several events then needs no
// registration with each of them, and a set broadcasts to all waiters, who
// look again at the events they wait for. The library's waits are few, so the
// shared wake-ups cost little. As on Win32, a set releases every thread
// waiting at that moment even if another resets the event before the waiter
// runs: each set advances the event's generation, which waiters compare.
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <new>

#include "platform/platform.h"

namespace plat {
namespace {

pthread_mutex_t g_event_mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t g_event_signal = PTHREAD_COND_INITIALIZER;

struct Event {
    bool set;
    uint32_t generation;
};

// Shared by the handle and the running thread; the last of them frees it.
struct Thread {
    ThreadRoutine routine;
    void* parameter;
    int references;
    bool ended;
    uint32_t exit_code;
    // The id the thread gives itself, and whether the creator has stored it
    // where the body may read it.
    uint32_t id;
    bool id_delivered;
};

void Release(Thread* thread) {
    pthread_mutex_lock(&g_event_mutex);
    const bool last = --thread->references == 0;
    pthread_mutex_unlock(&g_event_mutex);
    if (last) delete thread;
}

void* Start(void* parameter) {
    auto* thread = static_cast<Thread*>(parameter);
    // The creator reports the id GetCurrentThreadId gives here, and the body
    // starts only once it has.
    pthread_mutex_lock(&g_event_mutex);
    thread->id = GetCurrentThreadId();
    pthread_cond_broadcast(&g_event_signal);
    while (!thread->id_delivered) pthread_cond_wait(&g_event_signal, &g_event_mutex);
    pthread_mutex_unlock(&g_event_mutex);
    const uint32_t code = thread->routine(thread->parameter);
    // A waiter that sees the end sees the thread's reference dropped too.
    pthread_mutex_lock(&g_event_mutex);
    thread->exit_code = code;
    thread->ended = true;
    const bool last = --thread->references == 0;
    pthread_cond_broadcast(&g_event_signal);
    pthread_mutex_unlock(&g_event_mutex);
    if (last) delete thread;
    return nullptr;
}

}  // namespace

EventHandle CreateManualResetEvent(bool initially_set) { return new (std::nothrow) Event{initially_set, 0}; }

void CloseEvent(EventHandle event) { delete static_cast<Event*>(event); }

void SetEvent(EventHandle event) {
    pthread_mutex_lock(&g_event_mutex);
    static_cast<Event*>(event)->set = true;
    ++static_cast<Event*>(event)->generation;
    pthread_cond_broadcast(&g_event_signal);
    pthread_mutex_unlock(&g_event_mutex);
}

void ResetEvent(EventHandle event) {
    pthread_mutex_lock(&g_event_mutex);
    static_cast<Event*>(event)->set = false;
    pthread_mutex_unlock(&g_event_mutex);
}

uint32_t WaitForAnyEvent(const EventHandle* events, uint32_t count) {
    constexpr uint32_t kMaximumWait = 64;  // MAXIMUM_WAIT_OBJECTS
    if (count > kMaximumWait) count = kMaximumWait;
    uint32_t seen[kMaximumWait];
    pthread_mutex_lock(&g_event_mutex);
    for (uint32_t i = 0; i < count; ++i) seen[i] = static_cast<Event*>(events[i])->generation;
    for (;;) {
        for (uint32_t i = 0; i < count; ++i) {
            const auto* event = static_cast<Event*>(events[i]);
            if (event->set || event->generation != seen[i]) {
                pthread_mutex_unlock(&g_event_mutex);
                return i;
            }
        }
        pthread_cond_wait(&g_event_signal, &g_event_mutex);
    }
}

WaitResult WaitForEvent(EventHandle handle, uint32_t milliseconds, bool) {
    auto* event = static_cast<Event*>(handle);
    // Measured on a clock that setting the date does not move.
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += milliseconds / 1000;
    until.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&g_event_mutex);
    const uint32_t seen = event->generation;
    int status = 0;
    while (!event->set && event->generation == seen && status == 0) {
        status = milliseconds == Infinite
                     ? pthread_cond_wait(&g_event_signal, &g_event_mutex)
                     : pthread_cond_clockwait(&g_event_signal, &g_event_mutex, CLOCK_MONOTONIC, &until);
    }
    const bool signalled = event->set || event->generation != seen;
    pthread_mutex_unlock(&g_event_mutex);
    return signalled ? WaitResult::Signalled : WaitResult::TimedOut;
}

ThreadHandle CreateThread(uint32_t stack_size, ThreadRoutine routine, void* parameter, uint32_t,
                          uint32_t* thread_id) {
    auto* thread = new (std::nothrow) Thread{routine, parameter, 2, false, 0, 0, false};
    if (thread == nullptr) return nullptr;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (stack_size != 0) pthread_attr_setstacksize(&attr, stack_size < 65536 ? 65536 : stack_size);
    pthread_t id;
    const int status = pthread_create(&id, &attr, Start, thread);
    pthread_attr_destroy(&attr);
    if (status != 0) {
        delete thread;
        return nullptr;
    }
    pthread_mutex_lock(&g_event_mutex);
    while (thread->id == 0) pthread_cond_wait(&g_event_signal, &g_event_mutex);
    if (thread_id != nullptr) *thread_id = thread->id;
    thread->id_delivered = true;
    pthread_cond_broadcast(&g_event_signal);
    pthread_mutex_unlock(&g_event_mutex);
    return thread;
}

int CloseThreadHandle(ThreadHandle thread) {
    if (thread == nullptr) return 0;
    Release(static_cast<Thread*>(thread));
    return 1;
}

uint32_t WaitForThread(ThreadHandle handle) {
    auto* thread = static_cast<Thread*>(handle);
    pthread_mutex_lock(&g_event_mutex);
    while (!thread->ended) pthread_cond_wait(&g_event_signal, &g_event_mutex);
    const uint32_t code = thread->exit_code;
    pthread_mutex_unlock(&g_event_mutex);
    return code;
}

uint32_t GetCurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

uint32_t TimeGetTime() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

}  // namespace plat
