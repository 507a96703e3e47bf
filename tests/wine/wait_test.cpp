// The UI thread's wait for another thread (the check thread, when the window closes): it
// serves the thread's control calls, returns only once the thread has ended, also when a
// WM_QUIT comes first, and leaves that WM_QUIT in the queue for the loop that follows.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "platform/ui/framework.h"
#include "platform/ui/ui_thread.h"

namespace {

struct Work {
    std::atomic<int> served{0};
    std::atomic<bool> ended{false};
};

DWORD WINAPI CallsThenEnds(LPVOID param) {
    auto* work = static_cast<Work*>(param);
    for (int i = 0; i < 50; ++i) {
        tarvic::ui::RunOnUiThread([&] { ++work->served; });
    }
    Sleep(300);  // the WM_QUIT has long been there
    work->ended = true;
    return 0;
}

TEST(ThreadWait, AQuitDoesNotEndTheWaitBeforeTheThreadAndIsKept) {
    Work work;
    PostQuitMessage(7);
    const HANDLE thread = CreateThread(nullptr, 0, CallsThenEnds, &work, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForThreadServingMessages(thread);
    const bool endedAtReturn = work.ended.load();
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_TRUE(endedAtReturn);
    EXPECT_EQ(work.served.load(), 50);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

}  // namespace
