#include <windows.h>

#include <gtest/gtest.h>

#include <pthread.h>
#include <time.h>

#include "platform/win32/tick_count_win32.h"

TEST(TickCount64, ExtendsTheSystemCountAcrossWraps) {
    struct Case {
        uint64_t last;
        uint32_t now;
        uint64_t expected;
    } cases[] = {
        {0, 0, 0},
        {0, 1000, 1000},
        {0xFFFFFF00u, 0xFFFFFFF0u, 0xFFFFFFF0u},
        {0xFFFFFFF0u, 0x10, 0x100000010ull},                // the first wrap
        {0x100000010ull, 0x20, 0x100000020ull},             // after it, no second one
        {0x3FFFFFFFFull, 5, 0x400000005ull},                // the fourth
        {0x200001000ull, 0x1000, 0x200001000ull},           // asked twice in one tick
    };
    for (const Case& c : cases)
        EXPECT_EQ(plat::win32::NextTickCount(c.last, c.now), c.expected) << std::hex << c.last << " " << c.now;
}

// The thread runtime's timed waits reach the system through the library's
// answer to GetTickCount64, which agrees with the system's count.
TEST(TickCount64, TimesTheThreadRuntimesWaits) {
    uint64_t before = plat::win32::TickCount64();
    EXPECT_LT(static_cast<uint32_t>(before) - GetTickCount() + 1000u, 2000u);
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t cond = PTHREAD_COND_INITIALIZER;
    timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_nsec += 100 * 1000000;
    if (until.tv_nsec >= 1000000000) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000;
    }
    pthread_mutex_lock(&mutex);
    EXPECT_EQ(pthread_cond_timedwait(&cond, &mutex, &until), ETIMEDOUT);
    pthread_mutex_unlock(&mutex);
    EXPECT_GE(plat::win32::TickCount64(), before + 90);
}
