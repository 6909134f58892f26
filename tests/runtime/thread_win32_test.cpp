#include <windows.h>

#include <gtest/gtest.h>

#include "runtime/thread.h"

namespace {

class CountingThread : public EZMRThread {
public:
    intptr_t OnMessage(tagMSG* message) override {
        if (message->message == WM_APP) InterlockedIncrement(&seen);
        return EZMRThread::OnMessage(message);
    }
    volatile LONG seen = 0;
};

// A new thread has no message queue until it first calls into user32.
void PostUntilQueued(DWORD thread, UINT message) {
    while (!PostThreadMessageA(thread, message, 0, 0)) Sleep(1);
}

}  // namespace

TEST(ThreadWin32, MessageLoopEndsOnQuit) {
    CountingThread thread;
    ASSERT_EQ(thread.Create(), 0u);
    PostUntilQueued(thread.GetThreadId(), WM_APP);
    PostUntilQueued(thread.GetThreadId(), WM_APP);
    PostUntilQueued(thread.GetThreadId(), WM_QUIT);
    ASSERT_EQ(WaitForSingleObject(thread.GetThreadHandle(), 30000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeThread(thread.GetThreadHandle(), &code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(thread.seen, 2);
}

TEST(ThreadWin32, SuspendedUntilResumed) {
    CountingThread thread;
    ASSERT_EQ(thread.Create(0, CREATE_SUSPENDED), 0u);
    EXPECT_EQ(WaitForSingleObject(thread.GetThreadHandle(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    // The previous suspend count: 1 only for a thread that was created suspended.
    EXPECT_EQ(ResumeThread(thread.GetThreadHandle()), 1u);
    PostUntilQueued(thread.GetThreadId(), WM_QUIT);
    EXPECT_EQ(WaitForSingleObject(thread.GetThreadHandle(), 30000), WAIT_OBJECT_0);
}
