#include <pthread.h>
#include <time.h>

#include <new>

#include "window/key_signal.h"

namespace {
struct Event {
    pthread_mutex_t mutex;
    pthread_cond_t changed;
    bool set = false;
};
}  // namespace

EKeySignal::EKeySignal() {
    auto* e = new (std::nothrow) Event;
    if (e == nullptr) return;
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    // Waits measure time on a clock that setting the date does not move.
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_mutex_init(&e->mutex, nullptr);
    pthread_cond_init(&e->changed, &attributes);
    pthread_condattr_destroy(&attributes);
    handle_ = e;
}

EKeySignal::~EKeySignal() {
    auto* e = static_cast<Event*>(handle_);
    if (e == nullptr) return;
    pthread_cond_destroy(&e->changed);
    pthread_mutex_destroy(&e->mutex);
    delete e;
}

void EKeySignal::Set() {
    auto* e = static_cast<Event*>(handle_);
    if (e == nullptr) return;
    pthread_mutex_lock(&e->mutex);
    e->set = true;
    pthread_cond_broadcast(&e->changed);
    pthread_mutex_unlock(&e->mutex);
}

void EKeySignal::Reset() {
    auto* e = static_cast<Event*>(handle_);
    if (e == nullptr) return;
    pthread_mutex_lock(&e->mutex);
    e->set = false;
    pthread_mutex_unlock(&e->mutex);
}

EKeySignal::WaitResult EKeySignal::Wait(uint32_t milliseconds, bool) {
    auto* e = static_cast<Event*>(handle_);
    if (e == nullptr) return Failed;
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += milliseconds / 1000;
    until.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&e->mutex);
    int status = 0;
    while (!e->set && status == 0) {
        status = milliseconds == kInfinite ? pthread_cond_wait(&e->changed, &e->mutex)
                                           : pthread_cond_timedwait(&e->changed, &e->mutex, &until);
    }
    const bool set = e->set;
    pthread_mutex_unlock(&e->mutex);
    return set ? Signalled : TimedOut;
}
