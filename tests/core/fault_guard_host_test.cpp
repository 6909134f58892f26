#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

thread_local sigjmp_buf* t_recover = nullptr;
volatile sig_atomic_t g_caught = 0;
int g_marker;
volatile int* g_forbidden = nullptr;  // a page no one may touch

void Recover(int, siginfo_t*, void*) {
    g_caught = g_caught + 1;
    siglongjmp(*t_recover, 1);
}

// True when the fault came back through the handler installed before arming.
__attribute__((no_sanitize("address"), noinline)) bool FaultAndRecover() {
    sigjmp_buf here;
    t_recover = &here;
    if (sigsetjmp(here, 1) == 0) {
        *g_forbidden = 1;
        return false;
    }
    return true;
}

void* FaultOnAnotherThread(void*) { return FaultAndRecover() ? &g_marker : nullptr; }

}  // namespace

// The guard is process-wide while armed; it must not turn a fault elsewhere,
// least of all in another thread, into a jump to the probe's resume point.
TEST(FaultGuard, OnlyTheArmingThreadsFaultsInsideTheProbeAreRedirected) {
    struct sigaction recover {}, saved {};
    recover.sa_sigaction = Recover;
    recover.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&recover.sa_mask);
    sigaction(SIGSEGV, &recover, &saved);

    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(page, MAP_FAILED);
    g_forbidden = static_cast<volatile int*>(page);
    static const char probe[16] = {};
    plat::ArmFaultResume(probe, probe + sizeof probe, probe);
    const bool here = FaultAndRecover();
    pthread_t thread;
    void* there = nullptr;
    pthread_create(&thread, nullptr, FaultOnAnotherThread, nullptr);
    pthread_join(thread, &there);
    plat::DisarmFaultResume();
    sigaction(SIGSEGV, &saved, nullptr);
    munmap(page, 4096);

    EXPECT_TRUE(here) << "a fault of the arming thread outside the probe";
    EXPECT_NE(there, nullptr) << "a fault of another thread";
    EXPECT_EQ(g_caught, 2);
}
