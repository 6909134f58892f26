#include "jobs.h"

#include <cstdlib>

#include "command.h"
#include "output.h"
#include "runtime/thread.h"
#include "tool_system.h"

namespace tolma {

int ParseJobs(const std::string& text, int* jobs) {
    // Digits only: no sign, no spaces, no hexadecimal.
    bool digits = !text.empty() && text.size() <= 9;
    for (char c : text) digits = digits && c >= '0' && c <= '9';
    const long value = digits ? std::strtol(text.c_str(), nullptr, 10) : 0;
    if (!digits || value < 1 || value > kMaxJobs) {
        Error("-j takes a number of threads from 1 to " + std::to_string(kMaxJobs) + ", not '" + text + "'");
        return kExitUsage;
    }
    *jobs = static_cast<int>(value);
    return kExitOk;
}

int DefaultJobs() {
    const uint32_t n = tool::ProcessorCount();
    return n < 1 ? 1 : n > static_cast<uint32_t>(kMaxJobs) ? kMaxJobs : static_cast<int>(n);
}

class JobPipeline::Worker : public EZMRThread {
public:
    Worker(JobPipeline* pipeline, int index) : pipeline_(pipeline), index_(index) {}
    ~Worker() override {
        if (event != nullptr) plat::CloseEvent(event);
    }
    uint32_t Run() override {
        pipeline_->Loop(index_, event);
        return 0;
    }
    // Set by whoever changes what a worker may start; reset only by the
    // worker itself, under the lock, so no change goes unseen.
    plat::EventHandle event = nullptr;

private:
    JobPipeline* pipeline_;
    int index_;
};

JobPipeline::JobPipeline(int threads, std::vector<uint64_t> costs, size_t window, uint64_t budget, Work work)
    : costs_(std::move(costs)), window_(window < 1 ? 1 : window), budget_(budget), work_(std::move(work)) {
    plat::InitializeCriticalSection(&lock_);
    started_.assign(costs_.size(), 0);
    done_.assign(costs_.size(), 0);
    taker_event_ = plat::CreateManualResetEvent(false);
    if (taker_event_ == nullptr || costs_.empty()) return;
    // Only this thread reads the list; a worker knows its own event. Each is
    // listed before it starts, so that no change goes unannounced to it.
    workers_.reserve(static_cast<size_t>(threads));
    for (int i = 0; i < threads; ++i) {
        auto worker = std::make_unique<Worker>(this, i);
        worker->event = plat::CreateManualResetEvent(false);
        if (worker->event == nullptr) break;
        workers_.push_back(std::move(worker));
        if (workers_.back()->Create() != 0) {
            workers_.pop_back();
            break;
        }
    }
}

JobPipeline::~JobPipeline() {
    plat::EnterCriticalSection(&lock_);
    stop_ = true;
    WakeWorkers();
    plat::LeaveCriticalSection(&lock_);
    for (auto& worker : workers_) plat::WaitForThread(worker->GetThreadHandle());
    workers_.clear();
    if (taker_event_ != nullptr) plat::CloseEvent(taker_event_);
    plat::DeleteCriticalSection(&lock_);
}

void JobPipeline::WakeWorkers() {
    for (auto& worker : workers_) plat::SetEvent(worker->event);
}

bool JobPipeline::CanStart(size_t i) const {
    if (i == taking_) return true;
    return i < taking_ + window_ && held_ + costs_[i] <= budget_;
}

void JobPipeline::RunUnlocked(size_t i, int worker) {
    started_[i] = 1;
    held_ += costs_[i];
    plat::LeaveCriticalSection(&lock_);
    work_(i, worker);
    plat::EnterCriticalSection(&lock_);
    done_[i] = 1;
}

void JobPipeline::WaitUnlocked(plat::EventHandle event) {
    // Reset under the lock: whoever changes what the waiter waits for sets
    // the event under it afterwards, so no change goes unseen.
    plat::ResetEvent(event);
    plat::LeaveCriticalSection(&lock_);
    plat::WaitForEvent(event, plat::Infinite, false);
    plat::EnterCriticalSection(&lock_);
}

void JobPipeline::Loop(int worker, plat::EventHandle event) {
    plat::EnterCriticalSection(&lock_);
    for (;;) {
        while (next_ < costs_.size() && started_[next_]) ++next_;
        if (stop_ || next_ >= costs_.size()) break;
        if (CanStart(next_)) {
            RunUnlocked(next_++, worker);
            plat::SetEvent(taker_event_);
            continue;
        }
        WaitUnlocked(event);
    }
    plat::LeaveCriticalSection(&lock_);
}

void JobPipeline::Take(size_t i) {
    plat::EnterCriticalSection(&lock_);
    if (i > taking_) {
        taking_ = i;
        WakeWorkers();
    }
    if (!started_[i] && workers_.empty()) RunUnlocked(i, 0);
    while (!done_[i]) WaitUnlocked(taker_event_);
    plat::LeaveCriticalSection(&lock_);
}

void JobPipeline::Release(size_t i) {
    plat::EnterCriticalSection(&lock_);
    held_ -= costs_[i];
    taking_ = i + 1;
    WakeWorkers();
    plat::LeaveCriticalSection(&lock_);
}

void JobPipeline::Skip(size_t i) {
    plat::EnterCriticalSection(&lock_);
    const bool started = started_[i] != 0;
    if (!started) {
        // Never runs, and holds nothing.
        started_[i] = done_[i] = 1;
        taking_ = i + 1;
        WakeWorkers();
    }
    plat::LeaveCriticalSection(&lock_);
    if (started) {
        Take(i);
        Release(i);
    }
}

}  // namespace tolma
