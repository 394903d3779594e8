// The Win32 event loop: posted calls run on the GUI thread, in order, also from nested loops.
#include "hid/windows/WinHidEventLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

bool PumpUntil(const std::function<bool()>& Done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!Done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        WinHidEventLoop::ProcessMessages(5);
    }
    return true;
}

TEST(WinHidEventLoop, PostsFromAnyThreadRunOnTheGuiThreadInOrder) {
    WinHidEventLoop loop;
    ASSERT_NE(loop.Window(), nullptr);
    EXPECT_TRUE(loop.IsGuiThread());
    const DWORD gui = GetCurrentThreadId();
    std::vector<int> order;
    std::vector<DWORD> threads;
    std::atomic<bool> workerSawGui{true};
    std::thread worker([&] {
        workerSawGui = loop.IsGuiThread();
        for (int i = 0; i < 50; ++i)
            loop.Post([&, i] {
                order.push_back(i);
                threads.push_back(GetCurrentThreadId());
            });
    });
    worker.join();
    EXPECT_FALSE(workerSawGui);
    EXPECT_TRUE(order.empty()); // nothing runs before the loop does
    ASSERT_TRUE(PumpUntil([&] { return order.size() == 50; }));
    for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
    EXPECT_EQ(threads, std::vector<DWORD>(50, gui));
}

TEST(WinHidEventLoop, PostsStillQueuedWhenTheLoopGoesAreDropped) {
    bool ran = false;
    {
        WinHidEventLoop loop;
        loop.Post([&] { ran = true; });
    }
    WinHidEventLoop::ProcessMessages(20);
    EXPECT_FALSE(ran);
}

// A call that waits in a loop of its own for a later call must see that call run, as the
// reader's hand-over does when a handler pumps messages.
TEST(WinHidEventLoop, NestedLoopInsideAPostedCallRunsTheCallsBehindIt) {
    WinHidEventLoop loop;
    bool inner = false;
    bool innerSeenInside = false;
    bool outerDone = false;
    loop.Post([&] {
        innerSeenInside = PumpUntil([&] { return inner; });
        outerDone = true;
    });
    loop.Post([&] { inner = true; });
    ASSERT_TRUE(PumpUntil([&] { return outerDone; }));
    EXPECT_TRUE(innerSeenInside);
}

TEST(WinHidEventLoop, AThrowingCallDoesNotStopTheOnesAfterIt) {
    WinHidEventLoop loop;
    int after = 0;
    loop.Post([] { throw std::runtime_error("handler failed"); });
    loop.Post([&] { ++after; });
    ASSERT_TRUE(PumpUntil([&] { return after == 1; }));
}

} // namespace
