#include "runtime/thread.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/hvb.h"
#include "platform/platform.h"
#include "support/heap_walk.h"

namespace {

class SevenThread : public EZMRThread {
public:
    uint32_t Run() override {
        task_count_inside = zmrInitializeTask();
        zmrCloseTask();
        return 7;
    }
    int32_t task_count_inside = 0;
};

// What the body sees of its own id.
class IdThread : public EZMRThread {
public:
    uint32_t Run() override {
        id_inside = GetThreadId();
        current_inside = plat::GetCurrentThreadId();
        return 0;
    }
    uint32_t id_inside = 0;
    uint32_t current_inside = 0;
};

uint32_t g_now = 0;
uint32_t FakeClock() { return g_now; }

int LiveGlobalBlocks() {
    HeapCensus census;
    CheckHeap(hvbGetGlobalHeap(), &census);
    return census.live_blocks;
}

}  // namespace

// The creator's id is the one the thread gives itself, stored before the
// body runs.
TEST(Thread, OneIdKnownBeforeTheBodyRuns) {
    for (int i = 0; i < 20; ++i) {
        IdThread thread;
        ASSERT_EQ(thread.Create(), 0u);
        plat::WaitForThread(thread.GetThreadHandle());
        EXPECT_NE(thread.GetThreadId(), 0u);
        EXPECT_EQ(thread.id_inside, thread.GetThreadId());
        EXPECT_EQ(thread.current_inside, thread.GetThreadId());
        thread.CloseThreadHandle();
    }
}

TEST(Thread, RunsOneTaskAndExitsWithRunsResult) {
    SevenThread thread;
    const int before = LiveGlobalBlocks();
    ASSERT_EQ(thread.Create(), 0u);
    EXPECT_EQ(thread.Create(), 1u) << "a handle is held";
    EXPECT_EQ(plat::WaitForThread(thread.GetThreadHandle()), 7u);
    EXPECT_EQ(thread.Create(), 1u) << "still held after the thread ended";
    EXPECT_EQ(thread.task_count_inside, 2) << "the start routine's task is open around Run";
    thread.CloseThreadHandle();
    EXPECT_EQ(thread.GetThreadHandle(), nullptr);
    EXPECT_EQ(LiveGlobalBlocks(), before) << "the task record went with zmrCloseTask";

    ASSERT_EQ(thread.Create(), 0u) << "reusable once the handle is closed";
    EXPECT_EQ(plat::WaitForThread(thread.GetThreadHandle()), 7u);
}

TEST(Thread, TimeSpanValueRisesLinearlyOverTheSpan) {
    EZMRThread::SetClock(FakeClock);
    struct Case {
        int32_t duration, scale;
        uint32_t now;  // the span starts at 1000
        int32_t value;
    } cases[] = {
        {1000, 255, 1000, 0},     {1000, 255, 1500, 127},  {1000, 255, 2000, 255},
        {1000, 255, 3000, 255},   {1000, 255, 999, 0},     {0, 255, 1500, 0},
        {-5, 255, 1500, 0},       {1000, -255, 1500, -127}, {0x7FFFFFFF, 0x7FFFFFFF, 0x400003E8, 0x40000000},
    };
    for (const Case& c : cases) {
        EZMRThread thread;  // never started: its start time is 0
        g_now = 1000;
        thread.SetTimeSpan(c.duration, c.scale);
        g_now = c.now;
        EXPECT_EQ(thread.GetElapsedTime(), c.now);
        EXPECT_EQ(thread.GetTimeSpanValue(), c.value) << c.duration << " " << c.scale << " at " << c.now;
    }
    EZMRThread::SetClock(nullptr);
}

// An increment split into a read and a write, with a yield between them, stays
// exact only if the section shuts the other threads out; the owner enters
// twice, as the heap's lock holders do.
TEST(CriticalSection, ExcludesOtherThreadsAndLetsTheOwnerReenter) {
    plat::CriticalSection section;
    plat::InitializeCriticalSection(&section);
    volatile uint32_t counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                plat::EnterCriticalSection(&section);
                plat::EnterCriticalSection(&section);
                const uint32_t seen = counter;
                if (i % 16 == 0) std::this_thread::yield();
                counter = seen + 1;
                plat::LeaveCriticalSection(&section);
                plat::LeaveCriticalSection(&section);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(counter, 20000u);
    plat::DeleteCriticalSection(&section);
}
