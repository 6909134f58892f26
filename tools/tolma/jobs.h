// Work done ahead on other threads for one thread that takes the results in
// order: create codes files, extract and verify decode them, while the
// calling thread writes, reports and counts exactly as it does alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tolma {

// -j: how many threads code or decode at once.
constexpr int kMaxJobs = 64;
// What a command holds ahead of its writing thread: at most kJobsAhead
// files per thread and kBytesAhead bytes of files; a file over kJobBytes
// is left to the writing thread, which streams it as it does alone. The
// count is a bound on bookkeeping, not on memory: behind a file of several
// megabytes a second thread goes on through the small files after it, and
// with 4 a thread it stood idle (1.3x on two cores instead of 1.9x).
constexpr size_t kJobsAhead = 64;
constexpr uint64_t kBytesAhead = 64u << 20;
constexpr uint64_t kJobBytes = 16u << 20;

// The value of -j: kExitOk with *jobs set, or a usage error said.
int ParseJobs(const std::string& text, int* jobs);
// Without -j: one per processor, at most kMaxJobs.
int DefaultJobs();

// Runs work(i, worker) for each job i on `threads` worker threads, started in
// index order, at most `window` jobs past the one being taken and at most
// `budget` of their costs at a time (the job being taken always runs). The
// taker calls Take(i) and then Release(i), or Skip(i), for every i in order.
class JobPipeline {
public:
    using Work = std::function<void(size_t job, int worker)>;
    JobPipeline(int threads, std::vector<uint64_t> costs, size_t window, uint64_t budget, Work work);
    // Starts nothing more, and waits for the jobs running to end.
    ~JobPipeline();
    JobPipeline(const JobPipeline&) = delete;
    JobPipeline& operator=(const JobPipeline&) = delete;

    size_t Count() const { return costs_.size(); }
    // Waits until job i is done (running it here when no thread could be
    // started).
    void Take(size_t i);
    // The taker is done with job i: its cost no longer counts.
    void Release(size_t i);
    // Job i is not wanted: not started if it has not been, else waited for.
    void Skip(size_t i);

private:
    class Worker;
    void Loop(int worker, plat::EventHandle event);
    // Under the lock.
    void WakeWorkers();
    // Under the lock, which each leaves while it runs job i or waits for
    // event, and holds again when it returns.
    void RunUnlocked(size_t i, int worker);
    void WaitUnlocked(plat::EventHandle event);
    bool CanStart(size_t i) const;

    std::vector<uint64_t> costs_;
    size_t window_;
    uint64_t budget_;
    Work work_;
    plat::CriticalSection lock_;
    plat::EventHandle taker_event_ = nullptr;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::vector<uint8_t> started_, done_;
    size_t next_ = 0;
    size_t taking_ = 0;
    uint64_t held_ = 0;
    bool stop_ = false;
};

}  // namespace tolma
