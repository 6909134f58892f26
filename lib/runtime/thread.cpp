#include "runtime/thread.h"

#include "core/hvb.h"

namespace {

uint32_t (*g_clock)() = nullptr;

}  // namespace

void EZMRThread::SetClock(uint32_t (*clock)()) { g_clock = clock; }

uint32_t EZMRThread::Now() { return g_clock != nullptr ? g_clock() : plat::TimeGetTime(); }

EZMRThread::~EZMRThread() { CloseThreadHandle(); }

uint32_t EZMRThread::Create(uint32_t stack_size, uint32_t flags) {
    if (handle_ != nullptr) return 1;
    handle_ = plat::CreateThread(stack_size, Start, this, flags, &thread_id_);
    return handle_ == nullptr ? 1 : 0;
}

uint32_t EZMRThread::Start(void* parameter) {
    auto* thread = static_cast<EZMRThread*>(parameter);
    zmrInitializeTask();
    thread->start_time_ = Now();
    const uint32_t result = thread->Run();
    zmrCloseTask();
    return result;
}

void EZMRThread::CloseThreadHandle() {
    if (handle_ == nullptr) return;
    plat::CloseThreadHandle(handle_);
    handle_ = nullptr;
}

uint32_t EZMRThread::GetElapsedTime() const { return Now() - start_time_; }

void EZMRThread::SetTimeSpan(int32_t duration, int32_t scale) {
    span_start_ = static_cast<int32_t>(GetElapsedTime());
    span_duration_ = duration;
    span_scale_ = scale;
}

int32_t EZMRThread::GetTimeSpanValue() const {
    if (span_duration_ <= 0) return 0;
    int32_t t = static_cast<int32_t>(GetElapsedTime() - static_cast<uint32_t>(span_start_));
    if (t < 0) return 0;
    if (t > span_duration_) t = span_duration_;
    return static_cast<int32_t>(static_cast<int64_t>(t) * span_scale_ / span_duration_);
}
