// The background reader: delivery on the GUI thread, stopping, errors, unplugging.
#include "tests/hid/HidTestSupport.h"

#include "hid/JvHidHandOver.h"

#include <atomic>
#ifdef __GLIBC__
#include <pthread.h>
#endif

namespace {

struct Received {
    std::vector<std::vector<uint8_t>> Reports; // report ID followed by the data
    std::vector<uint32_t> Errors;
    std::vector<bool> OnGuiThread;
    TJvHidDeviceController* Controller = nullptr;
    bool ClearHandlerOnData = false;
    bool DeleteDeviceOnData = false;
    std::function<void(TJvHidDevice*)> Then; // run after recording a report

    void Data(TJvHidDevice* D, uint8_t ReportID, const void* Bytes, uint16_t Size) {
        std::vector<uint8_t> r{ReportID};
        auto* p = static_cast<const uint8_t*>(Bytes);
        r.insert(r.end(), p, p + Size);
        Reports.push_back(r);
        OnGuiThread.push_back(OnTestMainThread());
        if (ClearHandlerOnData) D->SetOnData(TJvHidDataEvent());
        if (DeleteDeviceOnData) delete D;
        if (Then) Then(D);
    }
    void OtherData(TJvHidDevice*, uint8_t ReportID, const void*, uint16_t) {
        Reports.push_back({static_cast<uint8_t>(ReportID + 100)});
    }
    void Error(TJvHidDevice*, uint32_t Code) { Errors.push_back(Code); }
};

class ReaderTest : public HidFixture {
protected:
    // A started controller with one device at /dev/r checked out with a data handler.
    TJvHidDevice* HeldReader(SimDeviceSpec Desc = MakeDevice("/dev/r")) {
        Sim.Plug(std::move(Desc));
        Controller = Started();
        Controller->SetDevThreadSleepTime(10);
        Controller->SetOnDeviceData(TJvHidDataEvent(&Got, &Received::Data));
        Controller->SetOnDeviceDataError(TJvHidDataErrorEvent(&Got, &Received::Error));
        TJvHidDevice* d = nullptr;
        EXPECT_TRUE(Controller->CheckOutByIndex(d, 0));
        return d;
    }

    // Devices /dev/r0.. checked out with readers, each waiting on its read.
    std::vector<TJvHidDevice*> HeldReaders(int Count) {
        for (int i = 0; i < Count; ++i) Sim.Plug(MakeDevice("/dev/r" + std::to_string(i)));
        Controller = Started();
        Controller->SetDevThreadSleepTime(10);
        Controller->SetOnDeviceData(TJvHidDataEvent(&Got, &Received::Data));
        std::vector<TJvHidDevice*> held(static_cast<size_t>(Count));
        for (int i = 0; i < Count; ++i)
            EXPECT_TRUE(Controller->CheckOutByIndex(held[static_cast<size_t>(i)], i));
        EXPECT_TRUE(PumpUntil([&] { return Sim.PendingReadCount() == Count; }));
        return held;
    }

    // Queues a report on Path and lets its reader reach the hand-over without running the
    // event loop: the delivery waits for the GUI thread.
    void BlockInHandOver(const std::string& Path) {
        const int pending = Sim.PendingReadCount();
        Sim.QueueInputReport(Path, {1, 2, 3, 4, 5, 6, 7, 8, 9});
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (Sim.PendingReadCount() != pending - 1) {
            ASSERT_LT(std::chrono::steady_clock::now(), end);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    void TearDown() override {
        Controller.reset();
        HidFixture::TearDown();
    }

    Received Got;
    std::unique_ptr<TJvHidDeviceController> Controller;
};

TEST_F(ReaderTest, DeliversEachReportOnTheGuiThreadSplitAfterTheReportId) {
    TJvHidDevice* d = HeldReader();
    ASSERT_NE(d->ReadThread(), nullptr);
    EXPECT_EQ(d->ReadThread()->Report.size(), 9u);
    Sim.QueueInputReport("/dev/r", {5, 1, 2, 3, 4, 5, 6, 7, 8});
    Sim.QueueInputReport("/dev/r", {6, 9, 9, 9, 9, 9, 9, 9, 9});
    ASSERT_TRUE(PumpUntil([&] { return Got.Reports.size() == 2; }));
    EXPECT_EQ(Got.Reports[0], (std::vector<uint8_t>{5, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(Got.Reports[1][0], 6);
    EXPECT_EQ(Got.Reports[1].size(), 9u); // Size = length - 1
    EXPECT_EQ(Got.OnGuiThread, (std::vector<bool>{true, true}));
    delete d;
}

TEST_F(ReaderTest, ShortReportDeliversOnlyWhatWasRead) {
    TJvHidDevice* d = HeldReader();
    Sim.QueueInputReport("/dev/r", {2, 0xAA});
    ASSERT_TRUE(PumpUntil([&] { return Got.Reports.size() == 1; }));
    EXPECT_EQ(Got.Reports[0], (std::vector<uint8_t>{2, 0xAA}));
    delete d;
}

TEST_F(ReaderTest, NoReaderWithoutHandlerCheckOutOrReadWriteAccess) {
    SimDeviceSpec query = MakeDevice("/dev/q");
    query.Access = SimAccess::QueryOnly;
    Sim.Plug(query);
    Sim.Plug(MakeDevice("/dev/plain"));
    Controller = Started();
    Controller->SetOnDeviceData(TJvHidDataEvent(&Got, &Received::Data));
    for (TJvHidDevice* d : Controller->DeviceList()) EXPECT_EQ(d->ReadThread(), nullptr);
    TJvHidDevice* q = nullptr;
    ASSERT_TRUE(Controller->CheckOutByIndex(q, 0));
    EXPECT_FALSE(q->HasReadWriteAccess());
    EXPECT_EQ(q->ReadThread(), nullptr);

    Controller->SetOnDeviceData(TJvHidDataEvent());
    TJvHidDevice* plain = nullptr;
    ASSERT_TRUE(Controller->CheckOutByIndex(plain, 1));
    EXPECT_EQ(plain->ReadThread(), nullptr);
    plain->SetOnData(TJvHidDataEvent(&Got, &Received::Data)); // handler after check-out starts it
    EXPECT_NE(plain->ReadThread(), nullptr);
    EXPECT_EQ(Sim.ReadStartCount() > 0 || PumpUntil([&] { return Sim.ReadStartCount() > 0; }),
              true);
    delete q;
    delete plain;
}

TEST_F(ReaderTest, StopReaderWithShortSleepReturnsPromptlyAndCancelsThePendingRead) {
    TJvHidDevice* d = HeldReader();
    ASSERT_EQ(d->ReadSleepTime(), 10);
    ASSERT_TRUE(PumpUntil([&] { return Sim.PendingReadCount() == 1; }));
    auto start = std::chrono::steady_clock::now();
    d->StopReader();
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::milliseconds(150));
    EXPECT_EQ(d->ReadThread(), nullptr);
    EXPECT_EQ(Sim.PendingReadCount(), 0);
    EXPECT_EQ(Sim.CancelCount(), 1);
    delete d;
}

TEST_F(ReaderTest, ClearingTheHandlerServesAWaitingDeliveryFirst) {
    TJvHidDevice* d = HeldReader();
    Sim.QueueInputReport("/dev/r", {1, 2, 3, 4, 5, 6, 7, 8, 9});
    // Let the reader reach its hand-over without running the event loop.
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (Sim.PendingReadCount() != 0 || Sim.ReadStartCount() == 0) {
        ASSERT_LT(std::chrono::steady_clock::now(), end);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    d->SetOnData(TJvHidDataEvent());
    EXPECT_EQ(d->ReadThread(), nullptr);
    EXPECT_EQ(Got.Reports.size(), 1u); // run by the old handler, before it was cleared
    Sim.QueueInputReport("/dev/r", {7, 7, 7, 7, 7, 7, 7, 7, 7});
    Pump();
    EXPECT_EQ(Got.Reports.size(), 1u);
    delete d;
}

TEST_F(ReaderTest, ReplacingTheHandlerKeepsTheReaderAndCallsTheNewOne) {
    TJvHidDevice* d = HeldReader();
    TJvHidDeviceReadThread* reader = d->ReadThread();
    d->SetOnData(TJvHidDataEvent(&Got, &Received::OtherData));
    EXPECT_EQ(d->ReadThread(), reader);
    Sim.QueueInputReport("/dev/r", {3, 0, 0, 0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(PumpUntil([&] { return Got.Reports.size() == 1; }));
    EXPECT_EQ(Got.Reports[0], (std::vector<uint8_t>{103}));
    delete d;
}

TEST_F(ReaderTest, HandlerMayStopItsOwnReader) {
    TJvHidDevice* d = HeldReader();
    Got.ClearHandlerOnData = true;
    Sim.QueueInputReport("/dev/r", {1, 0, 0, 0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(PumpUntil([&] { return Got.Reports.size() == 1; }));
    EXPECT_EQ(d->ReadThread(), nullptr);
    EXPECT_FALSE(d->OnData());
    Sim.QueueInputReport("/dev/r", {2, 0, 0, 0, 0, 0, 0, 0, 0});
    PumpUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(Got.Reports.size(), 1u);
    delete d;
}

TEST_F(ReaderTest, HandlerMayCheckItsDeviceBackIn) {
    TJvHidDevice* d = HeldReader();
    Got.DeleteDeviceOnData = true;
    Sim.QueueInputReport("/dev/r", {1, 0, 0, 0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(PumpUntil([&] { return Got.Reports.size() == 1; }));
    (void)d; // freed by the handler
    ASSERT_EQ(Controller->Count(), 1);
    EXPECT_FALSE(Controller->Items(0)->IsCheckedOut());
    // The stopped reader ends on its own; its read handle went with the device.
    EXPECT_TRUE(PumpUntil([&] { return Sim.OpenHandleCount() == 0; }));
}

// The application stops, clears or unplugs a device whose waiting delivery checks it in: the
// stop must notice that the device went and touch it no more (ASan sees a write after free).
struct StopCase {
    const char* Name;
    void (*Stop)(TJvHidDevice*);
};
const StopCase kStopCases[] = {
    {"ClearHandler", [](TJvHidDevice* D) { D->SetOnData(TJvHidDataEvent()); }},
    {"StopReader", [](TJvHidDevice* D) { D->StopReader(); }},
    {"MarkUnplugged", [](TJvHidDevice* D) { D->MarkUnplugged(); }},
};

void PrintTo(const StopCase& C, std::ostream* Os) {
    *Os << C.Name;
}

class StopWhileHandlerChecksIn : public ReaderTest,
                                 public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopWhileHandlerChecksIn, LeavesTheFreedDeviceAlone) {
    TJvHidDevice* d = HeldReaders(1)[0];
    Got.DeleteDeviceOnData = true;
    BlockInHandOver("/dev/r0");
    GetParam().Stop(d); // the delivery runs in here and frees d
    ASSERT_EQ(Got.Reports.size(), 1u);
    ASSERT_EQ(Controller->Count(), 1);
    EXPECT_NE(Controller->Items(0), d);
    EXPECT_FALSE(Controller->Items(0)->IsCheckedOut());
    EXPECT_EQ(Controller->CheckedOutCount(), 0);
    EXPECT_TRUE(PumpUntil([&] { return Sim.OpenHandleCount() == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Cases, StopWhileHandlerChecksIn, ::testing::ValuesIn(kStopCases),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(ReaderTest, StoppingOneReaderServesNoOtherReadersDelivery) {
    std::vector<TJvHidDevice*> held = HeldReaders(2);
    // Were /dev/r1's delivery served inside the stop of /dev/r0, it would free /dev/r0 there.
    Got.Then = [&](TJvHidDevice* D) {
        if (D == held[1]) delete held[0];
    };
    BlockInHandOver("/dev/r1");
    held[0]->StopReader();
    EXPECT_TRUE(Got.Reports.empty());
    delete held[0];
    Got.Then = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return Got.Reports.size() == 1; }));
    delete held[1];
}

TEST_F(ReaderTest, HandingDownAHandlerReachesTheReplacementOfADeviceCheckedInMeanwhile) {
    std::vector<TJvHidDevice*> held = HeldReaders(2);
    TJvHidDevice* second = held[1];
    Got.Then = [&](TJvHidDevice* D) {
        if (D == held[0] && second != nullptr) {
            delete second;
            second = nullptr;
        }
    };
    BlockInHandOver("/dev/r0");
    // Clearing /dev/r0's handler serves its delivery, which checks /dev/r1 in.
    Controller->SetOnDeviceData(TJvHidDataEvent());
    ASSERT_EQ(second, nullptr);
    ASSERT_EQ(Controller->Count(), 2);
    EXPECT_FALSE(Controller->Items(1)->OnData());
    EXPECT_FALSE(held[0]->OnData());
    EXPECT_EQ(held[0]->ReadThread(), nullptr);
    delete held[0];
}

TEST_F(ReaderTest, ThreadThatCannotBeCreatedLeavesNoReaderToWaitFor) {
#ifndef __GLIBC__
    GTEST_SKIP() << "needs glibc's default thread attributes to make thread creation fail";
#else
    Sim.Plug(MakeDevice("/dev/r"));
    Controller = Started();
    Controller->SetOnDeviceData(TJvHidDataEvent(&Got, &Received::Data));
    // No thread gets a stack this size.
    pthread_attr_t original, huge;
    ASSERT_EQ(pthread_getattr_default_np(&original), 0);
    pthread_attr_init(&huge);
    pthread_attr_setstacksize(&huge, size_t{1} << 46);
    ASSERT_EQ(pthread_setattr_default_np(&huge), 0);
    TJvHidDevice* d = nullptr;
    bool checkedOut = false;
    EXPECT_NO_THROW(checkedOut = Controller->CheckOutByIndex(d, 0));
    pthread_setattr_default_np(&original);
    pthread_attr_destroy(&huge);
    pthread_attr_destroy(&original);
    ASSERT_TRUE(checkedOut);
    EXPECT_EQ(d->ReadThread(), nullptr);
    d->StopReader();  // returns at once
    d->StartReader(); // a thread can be had again
    EXPECT_NE(d->ReadThread(), nullptr);
    delete d;
#endif
}

TEST_F(ReaderTest, ReadsThatCannotStartGoToTheErrorHandlerAndAreRetried) {
    SimDeviceSpec desc = MakeDevice("/dev/r");
    desc.ReadStartError = ERROR_GEN_FAILURE;
    TJvHidDevice* d = HeldReader(desc);
    ASSERT_TRUE(PumpUntil([&] { return Got.Errors.size() >= 3; }));
    EXPECT_EQ(Got.Errors[0], ERROR_GEN_FAILURE);
    EXPECT_TRUE(Got.Reports.empty());
    // One wait step (10 ms) between tries, not a spin.
    Got.Errors.clear();
    PumpUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_LE(Got.Errors.size(), 21u);

    // Without an error handler the reader keeps retrying silently.
    d->SetOnDataError(TJvHidDataErrorEvent());
    Got.Errors.clear();
    Sim.Modify("/dev/r", [](SimDeviceSpec& s) { s.ReadStartError = 0; });
    Sim.QueueInputReport("/dev/r", {4, 0, 0, 0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(PumpUntil([&] { return Got.Reports.size() == 1; }));
    EXPECT_TRUE(Got.Errors.empty());
    delete d;
}

TEST_F(ReaderTest, UnpluggingStopsTheReaderBeforeItsHandlesClose) {
    TJvHidDevice* d = HeldReader();
    EventLog log;
    d->SetOnUnplug(TJvHidPlugEvent(&log, &EventLog::Unplug));
    ASSERT_TRUE(PumpUntil([&] { return Sim.PendingReadCount() == 1; }));
    Sim.Unplug("/dev/r");
    ASSERT_TRUE(PumpUntil([&] { return !d->IsPluggedIn(); }));
    EXPECT_EQ(d->ReadThread(), nullptr);
    EXPECT_EQ(d->OverlappedReadHandle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(log.Events, (std::vector<std::string>{"unplug /dev/r"}));
    EXPECT_EQ(Sim.OpenHandleCount(), 0);
    delete d;
}

TEST_F(ReaderTest, ControllerDestructionStopsHeldReaders) {
    TJvHidDevice* d = HeldReader();
    ASSERT_TRUE(PumpUntil([&] { return Sim.PendingReadCount() == 1; }));
    Controller.reset();
    EXPECT_EQ(d->ReadThread(), nullptr);
    EXPECT_FALSE(d->IsPluggedIn());
    delete d;
}

TEST_F(ReaderTest, WithoutEventLoopDeliveriesRunOnTheReaderThread) {
    Sim.Plug(MakeDevice("/dev/r"));
    TJvHidDeviceController c(nullptr);
    c.DeviceChange();
    c.SetDevThreadSleepTime(10);
    struct Direct {
        std::atomic<int> Count{0};
        std::atomic<bool> OffGui{false};
        void Data(TJvHidDevice*, uint8_t, const void*, uint16_t) {
            OffGui = !OnTestMainThread();
            ++Count;
        }
    } direct;
    c.SetOnDeviceData(TJvHidDataEvent(&direct, &Direct::Data));
    TJvHidDevice* d = nullptr;
    ASSERT_TRUE(c.CheckOutByIndex(d, 0));
    Sim.QueueInputReport("/dev/r", {1, 2, 3, 4, 5, 6, 7, 8, 9});
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (direct.Count == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(direct.Count, 1);
    EXPECT_TRUE(direct.OffGui);
    delete d;
}

// Without an event loop (as ormelix-hidlist builds its controller) the handlers run on the
// reader thread: one that throws is reported as the loop reports it, and the reader goes on.
struct ThrowingHandlerCase {
    const char* Name;
    bool ErrorHandler; // OnDataError throws (reads cannot start); otherwise OnData
};

void PrintTo(const ThrowingHandlerCase& C, std::ostream* Os) {
    *Os << C.Name;
}

class ThrowingHandlerWithoutLoop : public HidFixture,
                                   public ::testing::WithParamInterface<ThrowingHandlerCase> {};

TEST_P(ThrowingHandlerWithoutLoop, IsReportedAndTheReaderGoesOn) {
    SimDeviceSpec desc = MakeDevice("/dev/r");
    if (GetParam().ErrorHandler) desc.ReadStartError = ERROR_GEN_FAILURE;
    Sim.Plug(desc);
    TJvHidDeviceController c(nullptr);
    c.DeviceChange();
    c.SetDevThreadSleepTime(10);
    struct Thrower {
        std::atomic<int> Calls{0};
        void Data(TJvHidDevice*, uint8_t, const void*, uint16_t) { Throw(); }
        void Error(TJvHidDevice*, uint32_t) { Throw(); }
        void Throw() {
            ++Calls;
            throw std::runtime_error("handler failed");
        }
    } thrower;
    c.SetOnDeviceData(TJvHidDataEvent(&thrower, &Thrower::Data));
    if (GetParam().ErrorHandler)
        c.SetOnDeviceDataError(TJvHidDataErrorEvent(&thrower, &Thrower::Error));
    TJvHidDevice* d = nullptr;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(c.CheckOutByIndex(d, 0));
    TJvHidDeviceReadThread* reader = d->ReadThread();
    ASSERT_NE(reader, nullptr);
    if (!GetParam().ErrorHandler) {
        Sim.QueueInputReport("/dev/r", {1, 2, 3, 4, 5, 6, 7, 8, 9});
        Sim.QueueInputReport("/dev/r", {2, 2, 3, 4, 5, 6, 7, 8, 9});
    }
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (thrower.Calls < 2 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(reader->Finished());
    d->StopReader();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_GE(thrower.Calls, 2);
    EXPECT_NE(said.find("HID layer: exception from a handler dropped: handler failed"),
              std::string::npos)
        << said;
    delete d;
}

INSTANTIATE_TEST_SUITE_P(Cases, ThrowingHandlerWithoutLoop,
                         ::testing::Values(ThrowingHandlerCase{"OnData", false},
                                           ThrowingHandlerCase{"OnDataError", true}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(ReaderTest, ControllerDestructionStopsReadersBeforeReleasingPreparsedData) {
    TJvHidDevice* d = HeldReaders(1)[0];
    Got.Then = [](TJvHidDevice* D) { (void)D->Caps(); };
    BlockInHandOver("/dev/r0");
    Controller.reset(); // serves the waiting delivery while it stops the reader
    EXPECT_EQ(Got.Reports.size(), 1u);
    EXPECT_EQ(Sim.PreparsedDataCount(), 0);
    delete d;
}

// An event loop whose posts can be refused (as an allocation failure would refuse them).
class RefusingLoop final : public HidEventLoop {
public:
    explicit RefusingLoop(HidEventLoop& Inner) : FInner(Inner) {}
    void Post(std::function<void()> Fn) override {
        if (Refuse) {
            ++Refused;
            throw std::runtime_error("post refused");
        }
        FInner.Post(std::move(Fn));
    }
    void* Watch(int Fd, std::function<void()> OnReadable) override {
        return FInner.Watch(Fd, std::move(OnReadable));
    }
    void Unwatch(void* Watch) override { FInner.Unwatch(Watch); }
    bool IsGuiThread() const override { return FInner.IsGuiThread(); }

    std::atomic<bool> Refuse{false};
    std::atomic<int> Refused{0};

private:
    HidEventLoop& FInner;
};

TEST_F(ReaderTest, HandOverThatCannotBePostedLeavesNothingQueuedAndTheReaderGoesOn) {
    Sim.Plug(MakeDevice("/dev/r"));
    RefusingLoop loop(Loop);
    TJvHidDeviceController c(&loop);
    Pump();
    c.SetDevThreadSleepTime(10);
    c.SetOnDeviceData(TJvHidDataEvent(&Got, &Received::Data));
    TJvHidDevice* d = nullptr;
    ASSERT_TRUE(c.CheckOutByIndex(d, 0));
    TJvHidDeviceReadThread* reader = d->ReadThread();
    ASSERT_NE(reader, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return Sim.PendingReadCount() == 1; }));

    testing::internal::CaptureStderr();
    loop.Refuse = true;
    Sim.QueueInputReport("/dev/r", {1, 0, 0, 0, 0, 0, 0, 0, 0});
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while ((loop.Refused == 0 || Sim.PendingReadCount() == 0) &&
           std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    loop.Refuse = false;
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(loop.Refused, 1);
    EXPECT_FALSE(GuiHandOver::Instance().Queued(reader)); // its frame is gone
    EXPECT_NE(said.find("post refused"), std::string::npos) << said;

    Sim.QueueInputReport("/dev/r", {2, 0, 0, 0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(PumpUntil([&] { return Got.Reports.size() == 1; }));
    EXPECT_EQ(Got.Reports[0][0], 2); // the refused one is dropped, not delivered later
    delete d;
}

} // namespace
