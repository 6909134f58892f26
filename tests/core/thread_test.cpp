#include "core/thread.h"

#include <gtest/gtest.h>

#include "core/hvb.h"
#include "heap_walk.h"

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

uint32_t g_now = 0;
uint32_t FakeClock() { return g_now; }

int LiveGlobalBlocks() {
    HeapCensus census;
    CheckHeap(hvbGetGlobalHeap(), &census);
    return census.live_blocks;
}

}  // namespace

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
