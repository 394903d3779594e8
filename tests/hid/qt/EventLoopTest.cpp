// The Qt event-loop adapter and the simulated device monitor it watches.
#include "tests/hid/HidTestSupport.h"

#include <QThread>
#include <atomic>
#include <thread>
#include <unistd.h>

namespace {

TEST(QtHidEventLoop, PostsFromAnyThreadRunOnTheGuiThreadInOrder) {
    QtHidEventLoop loop;
    EXPECT_TRUE(loop.IsGuiThread());
    std::vector<int> order;
    std::atomic<bool> workerSawGui{true};
    std::thread worker([&] {
        workerSawGui = loop.IsGuiThread();
        for (int i = 0; i < 3; ++i)
            loop.Post([&order, i] {
                EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
                order.push_back(i);
            });
    });
    worker.join();
    EXPECT_FALSE(workerSawGui);
    EXPECT_TRUE(order.empty()); // nothing runs before the loop does
    ASSERT_TRUE(PumpUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST(QtHidEventLoop, PostsStillQueuedWhenTheAdapterGoesAreDropped) {
    bool ran = false;
    {
        QtHidEventLoop loop;
        loop.Post([&] { ran = true; });
    }
    Pump();
    EXPECT_FALSE(ran);
}

TEST(QtHidEventLoop, WatchFiresWhileReadableAndUnwatchMayRunInsideTheCallback) {
    QtHidEventLoop loop;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int calls = 0;
    void* watch = nullptr;
    watch = loop.Watch(fds[0], [&] {
        ++calls;
        char c;
        ASSERT_EQ(::read(fds[0], &c, 1), 1);
        if (c == 'x') loop.Unwatch(watch);
    });
    Pump();
    EXPECT_EQ(calls, 0);
    ASSERT_EQ(::write(fds[1], "a", 1), 1);
    ASSERT_TRUE(PumpUntil([&] { return calls == 1; }));
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    ASSERT_TRUE(PumpUntil([&] { return calls == 2; }));
    ASSERT_EQ(::write(fds[1], "b", 1), 1);
    Pump();
    EXPECT_EQ(calls, 2);
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(SimDeviceMonitor, ReportsHidChangesOnlyAndDrains) {
    SimHidPlatform sim;
    const HidPlatform* p = sim.Platform();
    int fd = p->OpenDeviceMonitor();
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(p->ReadDeviceMonitor(fd));
    sim.NotifyUnrelatedChange();
    EXPECT_FALSE(p->ReadDeviceMonitor(fd));
    sim.Plug(MakeDevice("/dev/a"));
    sim.NotifyUnrelatedChange();
    EXPECT_TRUE(p->ReadDeviceMonitor(fd));
    EXPECT_FALSE(p->ReadDeviceMonitor(fd));
    sim.Unplug("/dev/a");
    EXPECT_TRUE(p->ReadDeviceMonitor(fd));
    p->CloseDeviceMonitor(fd);
    EXPECT_EQ(sim.MonitorCount(), 0);
}

TEST(SimPlatform, AlertableSleepCompletesOnlyTheCallingThreadsRead) {
    SimHidPlatform sim;
    const HidPlatform* p = sim.Platform();
    SimDeviceSpec device = MakeDevice("/dev/a");
    device.InputReportByteLength = 4; // the buffer below holds a whole input report
    sim.Plug(device);
    HANDLE h = p->CreateFileA("/dev/a", GENERIC_READ, 3, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    uint8_t buffer[4] = {};
    OVERLAPPED ov{};
    static std::atomic<int> completions{0};
    completions = 0;
    ASSERT_TRUE(p->ReadFileEx(h, buffer, sizeof buffer, &ov,
                              [](DWORD, DWORD, OVERLAPPED*) { ++completions; }));
    DWORD got = 0;
    EXPECT_FALSE(p->GetOverlappedResult(h, &ov, &got, FALSE));
    EXPECT_EQ(p->GetLastError(), ERROR_IO_INCOMPLETE);
    EXPECT_EQ(p->SleepEx(1, TRUE), 0u);
    sim.QueueInputReport("/dev/a", {9, 8, 7, 6, 5, 4});
    // Another thread's alertable wait does not complete this thread's read.
    std::thread([&] { EXPECT_EQ(p->SleepEx(5, TRUE), 0u); }).join();
    EXPECT_EQ(p->SleepEx(1000, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(completions, 1);
    ASSERT_TRUE(p->GetOverlappedResult(h, &ov, &got, FALSE));
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(buffer[0], 9);
    EXPECT_EQ(buffer[3], 6);

    // A read ended by an unplug completes with an error.
    ASSERT_TRUE(p->ReadFileEx(h, buffer, sizeof buffer, &ov, nullptr));
    sim.Unplug("/dev/a");
    EXPECT_EQ(p->SleepEx(1000, TRUE), WAIT_IO_COMPLETION);
    EXPECT_FALSE(p->GetOverlappedResult(h, &ov, &got, FALSE));
    EXPECT_EQ(p->GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_FALSE(p->ReadFileEx(h, buffer, sizeof buffer, &ov, nullptr));
    EXPECT_TRUE(p->CloseHandle(h));
    EXPECT_EQ(sim.PendingReadCount(), 0);
}

} // namespace
