// The controller: first scan, rescans, enumeration, check-out, handler hand-down.
#include "tests/hid/HidTestSupport.h"

#include <cctype>

namespace {

using ControllerTest = HidFixture;

std::vector<std::string> Paths(const TJvHidDeviceController& C) {
    std::vector<std::string> paths;
    for (TJvHidDevice* d : C.DeviceList()) paths.push_back(d->PnPInfo().DevicePath);
    return paths;
}

TEST_F(ControllerTest, ListFillsOnlyWhenTheEventLoopDeliversTheFirstChange) {
    PlugAll({"/dev/a", "/dev/b"});
    TJvHidDeviceController c(&Loop);
    EXPECT_EQ(c.Count(), 0);
    EXPECT_EQ(Sim.MonitorCount(), 1);
    Pump();
    EXPECT_EQ(Paths(c), (std::vector<std::string>{"/dev/a", "/dev/b"}));
    EXPECT_EQ(c.LastChangeParam(), -1);
    EXPECT_EQ(c.CheckedInCount(), 2);
    EXPECT_FALSE(c.InDeviceChange());
}

TEST_F(ControllerTest, ControllerGoneBeforeDeliveryLeavesThePostedChangeHarmless) {
    PlugAll({"/dev/a"});
    { TJvHidDeviceController c(&Loop); }
    Pump(); // the posted change finds no controller
    EXPECT_EQ(Sim.OpenHandleCount(), 0);
}

TEST_F(ControllerTest, WithoutEventLoopNothingIsScannedUntilAsked) {
    PlugAll({"/dev/a"});
    TJvHidDeviceController c(nullptr);
    Pump();
    EXPECT_EQ(c.Count(), 0);
    EXPECT_EQ(Sim.MonitorCount(), 0);
    c.DeviceChange();
    EXPECT_EQ(c.Count(), 1);
}

TEST_F(ControllerTest, FixedProperties) {
    auto c = Started();
    EXPECT_EQ(c->Version(), "1.0.35");
    EXPECT_EQ(c->DevThreadSleepTime(), 100);
    EXPECT_EQ(c->HidGuid().Data1, 0x4D1E55B2u);
}

struct MissingCase {
    const char* Library;
    const char* Entry; // nullptr: the whole library
};

// Prints the case in ctest's listing and in failures.
void PrintTo(const MissingCase& C, std::ostream* Os) {
    *Os << C.Library << (C.Entry != nullptr ? std::string(" without ") + C.Entry : " missing");
}

class MissingLibraries : public HidFixture, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(MissingLibraries, GiveNoDevicesAndNoError) {
    PlugAll({"/dev/a", "/dev/b"});
    if (GetParam().Entry == nullptr)
        Sim.SetLibraryPresent(GetParam().Library, false);
    else
        Sim.SetEntryPresent(GetParam().Library, GetParam().Entry, false);
    TJvHidDeviceController c(&Loop);
    Pump();
    c.DeviceChange();
    EXPECT_EQ(c.Count(), 0);
    EXPECT_EQ(c.Enumerate(), 0);
    TJvHidDevice* d = nullptr;
    EXPECT_FALSE(c.CheckOutByIndex(d, 0));
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(Sim.MonitorCount(), 0);
    EXPECT_EQ(c.HidGuid().Data1, 0x4D1E55B2u);
}

INSTANTIATE_TEST_SUITE_P(Cases, MissingLibraries,
                         ::testing::Values(MissingCase{"SetupApi.dll", nullptr},
                                           MissingCase{"HID.dll", nullptr},
                                           MissingCase{"HID.dll", "HidP_GetCaps"},
                                           MissingCase{"SetupApi.dll", "SetupDiGetClassDevsA"}),
                         [](const auto& Info) {
                             return std::string(Info.param.Entry ? "Entry" : "Library") +
                                    std::to_string(Info.index);
                         });

TEST_F(ControllerTest, DevicesThatCannotBeOpenedOrIdentifiedAreSkippedAndRetried) {
    SimDeviceSpec closed = MakeDevice("/dev/closed");
    closed.Access = SimAccess::None;
    SimDeviceSpec anonymous = MakeDevice("/dev/anonymous");
    anonymous.Identifiable = false;
    SimDeviceSpec noDetail = MakeDevice("/dev/nodetail");
    noDetail.DetailReadable = false;
    Sim.Plug(closed);
    Sim.Plug(noDetail);
    Sim.Plug(anonymous);
    Sim.Plug(MakeDevice("/dev/fine"));
    auto c = Started();
    EXPECT_EQ(Paths(*c), (std::vector<std::string>{"/dev/fine"}));

    Sim.Modify("/dev/closed", [](SimDeviceSpec& s) { s.Access = SimAccess::ReadWrite; });
    Sim.Modify("/dev/anonymous", [](SimDeviceSpec& s) { s.Identifiable = true; });
    c->DeviceChange();
    EXPECT_EQ(Paths(*c), (std::vector<std::string>{"/dev/fine", "/dev/closed", "/dev/anonymous"}));
}

TEST_F(ControllerTest, EnumerateWithoutHandlerStopsAtTheFirstDevice) {
    {
        auto empty = Started();
        EXPECT_EQ(empty->Enumerate(), 0);
    }
    PlugAll({"/dev/a", "/dev/b", "/dev/c"});
    auto c = Started();
    EXPECT_EQ(c->Enumerate(), 1);
}

struct EnumerateCase {
    int Devices;
    int StopAt; // the handler answers false on this call (0: never)
    int Expected;
};

void PrintTo(const EnumerateCase& C, std::ostream* Os) {
    *Os << C.Devices << " devices, handler stops at call " << C.StopAt << ", " << C.Expected
        << " visited";
}

class EnumerateWalk : public HidFixture, public ::testing::WithParamInterface<EnumerateCase> {};

TEST_P(EnumerateWalk, CountsThePluggedInDevicesVisited) {
    for (int i = 0; i < GetParam().Devices; ++i)
        ASSERT_NE(Sim.Plug(MakeDevice("/dev/d" + std::to_string(i))), 0u);
    auto c = Started();
    struct Walk {
        int Calls = 0;
        int StopAt = 0;
        std::vector<int> Indexes;
        bool Step(TJvHidDevice* D, int Idx) {
            EXPECT_TRUE(D->IsEnumerated());
            Indexes.push_back(Idx);
            return ++Calls != StopAt;
        }
    } walk;
    walk.StopAt = GetParam().StopAt;
    c->SetOnEnumerate(TJvHidEnumerateEvent(&walk, &Walk::Step));
    EXPECT_EQ(c->Enumerate(), GetParam().Expected);
    EXPECT_EQ(walk.Calls, GetParam().Expected);
    for (int i = 0; i < walk.Calls; ++i) EXPECT_EQ(walk.Indexes[i], i);
    for (TJvHidDevice* d : c->DeviceList()) EXPECT_FALSE(d->IsEnumerated());
    EXPECT_EQ(Sim.OpenHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Walks, EnumerateWalk,
                         ::testing::Values(EnumerateCase{5, 3, 3}, EnumerateCase{5, 0, 5},
                                           EnumerateCase{5, 1, 1}, EnumerateCase{2, 3, 2},
                                           EnumerateCase{0, 1, 0}),
                         [](const auto& Info) {
                             return std::to_string(Info.param.Devices) + "DevicesStopAtCall" +
                                    std::to_string(Info.param.StopAt);
                         });

TEST_F(ControllerTest, EnumerateSkipsUnpluggedDevicesButIndexesTheWholeList) {
    PlugAll({"/dev/a", "/dev/b", "/dev/c"});
    auto c = Started();
    TJvHidDevice* held = nullptr;
    ASSERT_TRUE(c->CheckOutByIndex(held, 0));
    Sim.Unplug("/dev/a");
    Pump();
    std::vector<int> indexes;
    struct Collect {
        std::vector<int>* Out;
        bool Step(TJvHidDevice*, int Idx) {
            Out->push_back(Idx);
            return true;
        }
    } collect{&indexes};
    c->SetOnEnumerate(TJvHidEnumerateEvent(&collect, &Collect::Step));
    EXPECT_EQ(c->Enumerate(), 2);
    EXPECT_EQ(indexes, (std::vector<int>{1, 2}));
    delete held;
}

TEST_F(ControllerTest, CheckOutByIndexRefusesBadPositionsAndSecondCheckOuts) {
    PlugAll({"/dev/a", "/dev/b"});
    auto c = Started();
    TJvHidDevice* first = nullptr;
    ASSERT_TRUE(c->CheckOutByIndex(first, 0));
    EXPECT_TRUE(first->IsCheckedOut());
    for (int idx : {-1, 2, 0}) {
        TJvHidDevice* d = first; // stale reference: must come back as none
        EXPECT_FALSE(c->CheckOutByIndex(d, idx)) << idx;
        EXPECT_EQ(d, nullptr) << idx;
    }
    EXPECT_EQ(c->CheckedOutCount(), 1);
    EXPECT_EQ(c->CheckedInCount(), 1);
    delete first;
}

TEST_F(ControllerTest, TwoMatchingDevicesLeaveTheReferenceOnTheLast) {
    Sim.Plug(MakeDevice("/dev/m1", u"Ormelix", u"Bramlo-kt"));
    Sim.Plug(MakeDevice("/dev/other", u"Ormelix", u"bramlo-kt"));
    Sim.Plug(MakeDevice("/dev/m2", u"Ormelix", u"Bramlo-kt"));
    auto c = Started();
    struct Finder {
        TJvHidDeviceController* C;
        TJvHidDevice* Held = nullptr;
        bool Step(TJvHidDevice* D, int Idx) {
            if (D->ProductName() == u"Ormelix" && D->VendorName() == u"Bramlo-kt")
                C->CheckOutByIndex(Held, Idx);
            return true;
        }
    } finder{c.get()};
    c->SetOnEnumerate(TJvHidEnumerateEvent(&finder, &Finder::Step));
    EXPECT_EQ(c->Enumerate(), 3);
    ASSERT_NE(finder.Held, nullptr);
    EXPECT_EQ(finder.Held->PnPInfo().DevicePath, "/dev/m2");
    EXPECT_TRUE(c->Items(0)->IsCheckedOut());
    EXPECT_FALSE(c->Items(1)->IsCheckedOut());
    EXPECT_EQ(c->CheckedOutCount(), 2);
    EXPECT_EQ(Sim.OpenHandleCount(), 0);
    TJvHidDevice* firstMatch = c->Items(0);
    delete finder.Held;
    delete firstMatch;
}

TEST_F(ControllerTest, ArrivalsComeInScanOrderBeforeASingleChange) {
    PlugAll({"/dev/a"});
    auto c = Started();
    EventLog log;
    log.Attach(*c);
    c->SetOnDeviceChange(TJvNotifyEvent(&log, &EventLog::Change));
    log.Events.clear();
    PlugAll({"/dev/b", "/dev/c"});
    Pump();
    EXPECT_EQ(log.Events, (std::vector<std::string>{"arrival /dev/b", "arrival /dev/c", "change"}));
    EXPECT_EQ(Paths(*c), (std::vector<std::string>{"/dev/a", "/dev/b", "/dev/c"}));
    EXPECT_EQ(c->LastChangeParam(), 0);
}

// A throwing arrival or removal handler: the rescan still lists, removes, counts and reports
// the change; a direct caller gets the exception, a notification hands it to the loop.
struct ThrowingLog : EventLog {
    std::string ThrowAt;
    void Arrival(TJvHidDevice* D) {
        EventLog::Arrival(D);
        if (Name(D) == ThrowAt) throw std::runtime_error("arrival of " + Name(D));
    }
    void Removal(TJvHidDevice* D) {
        EventLog::Removal(D);
        if (Name(D) == ThrowAt) throw std::runtime_error("removal of " + Name(D));
    }
};

TEST_F(ControllerTest, ThrowingPlugHandlersDoNotCutTheRescanShort) {
    PlugAll({"/dev/a", "/dev/b"});
    auto c = Started();
    ThrowingLog log;
    c->SetOnArrival(TJvHidPlugEvent(&log, &ThrowingLog::Arrival));
    c->SetOnRemoval(TJvHidPlugEvent(&log, &ThrowingLog::Removal));
    c->SetOnDeviceChange(TJvNotifyEvent(static_cast<EventLog*>(&log), &EventLog::Change));

    log.Events.clear();
    log.ThrowAt = "/dev/c";
    PlugAll({"/dev/c", "/dev/d"});
    testing::internal::CaptureStderr();
    Pump(); // through the notification
    EXPECT_NE(testing::internal::GetCapturedStderr().find("arrival of /dev/c"), std::string::npos);
    EXPECT_EQ(log.Events, (std::vector<std::string>{"arrival /dev/c", "arrival /dev/d", "change"}));
    EXPECT_EQ(Paths(*c), (std::vector<std::string>{"/dev/a", "/dev/b", "/dev/c", "/dev/d"}));
    EXPECT_EQ(c->CheckedInCount(), 4);

    log.Events.clear();
    log.ThrowAt = "/dev/d";
    Sim.Unplug("/dev/a");
    Sim.Unplug("/dev/d");
    EXPECT_THROW(c->DeviceChange(), std::runtime_error); // called directly
    EXPECT_EQ(log.Events, (std::vector<std::string>{"removal /dev/d", "removal /dev/a", "change"}));
    EXPECT_EQ(Paths(*c), (std::vector<std::string>{"/dev/b", "/dev/c"}));
    EXPECT_EQ(c->CheckedInCount(), 2);
    Pump();
}

// Whichever handler of a rescan throws, every other event of that rescan still comes, each
// call guarded on its own.
class OneThrowingHandler : public HidFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(OneThrowingHandler, CostsNoOtherEventOfTheRescan) {
    PlugAll({"/dev/a", "/dev/b", "/dev/c"});
    auto c = Started();
    struct Thrower : EventLog {
        std::string ThrowAt;
        void Record(const std::string& E) {
            Events.push_back(E);
            if (E == ThrowAt) throw std::runtime_error(E);
        }
        void Arrival(TJvHidDevice* D) { Record("arrival " + Name(D)); }
        void Removal(TJvHidDevice* D) { Record("removal " + Name(D)); }
        void Unplug(TJvHidDevice* D) { Record("unplug " + Name(D)); }
    } log;
    log.ThrowAt = GetParam();
    c->SetOnArrival(TJvHidPlugEvent(&log, &Thrower::Arrival));
    c->SetOnRemoval(TJvHidPlugEvent(&log, &Thrower::Removal));
    c->SetOnDeviceUnplug(TJvHidPlugEvent(&log, &Thrower::Unplug));
    c->SetOnDeviceChange(TJvNotifyEvent(static_cast<EventLog*>(&log), &EventLog::Change));
    log.Events.clear();

    Sim.Unplug("/dev/a");
    Sim.Unplug("/dev/b");
    PlugAll({"/dev/d"});
    EXPECT_THROW(c->DeviceChange(), std::runtime_error);
    EXPECT_EQ(log.Events,
              (std::vector<std::string>{"unplug /dev/b", "removal /dev/b", "unplug /dev/a",
                                        "removal /dev/a", "arrival /dev/d", "change"}));
    EXPECT_EQ(Paths(*c), (std::vector<std::string>{"/dev/c", "/dev/d"}));
    EXPECT_EQ(c->CheckedInCount(), 2);
    EXPECT_EQ(c->UnpluggedCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Handlers, OneThrowingHandler,
                         ::testing::Values("unplug /dev/b", "removal /dev/b", "unplug /dev/a",
                                           "arrival /dev/d"),
                         [](const auto& Info) {
                             std::string name;
                             for (char ch : std::string(Info.param))
                                 if (std::isalnum(static_cast<unsigned char>(ch))) name += ch;
                             return name;
                         });

// An arrival handler may rescan directly; the nested scan lists the arrivals the outer pass
// has not appended yet, and the outer pass must not append them a second time.
class RescanFromArrival : public HidFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(RescanFromArrival, ListsEveryDeviceOnce) {
    PlugAll({"/dev/a"});
    auto c = Started();
    struct Rescanner : EventLog {
        std::string At;
        bool Done = false;
        void Arrival(TJvHidDevice* D) {
            EventLog::Arrival(D);
            if (Done || Name(D) != At) return;
            Done = true;
            D->Controller()->DeviceChange();
        }
    } log;
    log.At = GetParam();
    c->SetOnArrival(TJvHidPlugEvent(&log, &Rescanner::Arrival));
    PlugAll({"/dev/b", "/dev/c", "/dev/d"});
    c->DeviceChange();
    ASSERT_TRUE(log.Done);
    EXPECT_EQ(Paths(*c), (std::vector<std::string>{"/dev/a", "/dev/b", "/dev/c", "/dev/d"}));
    EXPECT_EQ(c->CheckedInCount(), 4);
    for (const char* p : {"/dev/b", "/dev/c", "/dev/d"})
        EXPECT_EQ(log.Count(std::string("arrival ") + p), 1u) << p;
    EXPECT_EQ(Sim.OpenHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(At, RescanFromArrival, ::testing::Values("/dev/b", "/dev/c", "/dev/d"),
                         [](const auto& Info) { return std::string(Info.param).substr(5); });

// CheckedOutCount counts devices held and still plugged in, also when the application marks a
// free device unplugged, and also as handlers of a rescan see it.
TEST_F(ControllerTest, CheckedOutCountsHeldDevicesStillPluggedIn) {
    PlugAll({"/dev/a", "/dev/b", "/dev/c"});
    auto c = Started();
    struct Watch {
        TJvHidDeviceController* C;
        std::vector<int> Seen;
        void Look(TJvHidDevice*) { Seen.push_back(C->CheckedOutCount()); }
        bool MarkFirst(TJvHidDevice* D, int Idx) {
            if (Idx == 0) D->MarkUnplugged();
            return true;
        }
    } watch{c.get(), {}};
    c->SetOnDeviceUnplug(TJvHidPlugEvent(&watch, &Watch::Look));
    c->SetOnRemoval(TJvHidPlugEvent(&watch, &Watch::Look));
    TJvHidDevice* held = nullptr;
    ASSERT_TRUE(c->CheckOutByIndex(held, 2));

    c->SetOnEnumerate(TJvHidEnumerateEvent(&watch, &Watch::MarkFirst));
    EXPECT_EQ(c->Enumerate(), 3);
    EXPECT_EQ(watch.Seen, (std::vector<int>{1})); // /dev/a's OnUnplug
    EXPECT_EQ(c->CheckedOutCount(), 1);
    EXPECT_EQ(c->CheckedInCount(), 2);
    EXPECT_EQ(c->UnpluggedCount(), 1);

    // A free device pulled, and the marked one dropped: the handlers see the held one only.
    watch.Seen.clear();
    Sim.Unplug("/dev/b");
    Pump();
    EXPECT_EQ(watch.Seen, (std::vector<int>{1, 1, 1}));
    EXPECT_EQ(Paths(*c), (std::vector<std::string>{"/dev/c", "/dev/a"}));
    EXPECT_EQ(c->CheckedOutCount(), 1);
    EXPECT_EQ(c->UnpluggedCount(), 0);

    watch.Seen.clear();
    Sim.Unplug("/dev/c");
    Pump();
    EXPECT_EQ(watch.Seen, (std::vector<int>{0, 0}));
    EXPECT_EQ(c->CheckedOutCount(), 0);
    EXPECT_EQ(c->UnpluggedCount(), 1);
    EXPECT_EQ(c->CheckedInCount(), 1);
    delete held;
    EXPECT_EQ(c->CheckedOutCount(), 0);
    EXPECT_EQ(c->UnpluggedCount(), 0);
    EXPECT_EQ(c->CheckedInCount(), 1);
}

TEST_F(ControllerTest, SettingOnDeviceChangeRescansAtOnce) {
    PlugAll({"/dev/a"});
    auto c = Started();
    EventLog log;
    c->SetOnDeviceChange(TJvNotifyEvent(&log, &EventLog::Change));
    // Nothing changed, but the last notification was the forced one.
    EXPECT_EQ(log.Events, (std::vector<std::string>{"change"}));
    EventLog other;
    c->SetOnDeviceChange(TJvNotifyEvent(&other, &EventLog::Change)); // same callable: no rescan
    EXPECT_TRUE(other.Events.empty());
    EXPECT_EQ(log.Events.size(), 1u);
}

TEST_F(ControllerTest, UnrelatedChangesDoNotRescan) {
    SimDeviceSpec late = MakeDevice("/dev/late");
    late.Access = SimAccess::None;
    Sim.Plug(late);
    auto c = Started();
    ASSERT_EQ(c->Count(), 0);
    Sim.Modify("/dev/late", [](SimDeviceSpec& s) { s.Access = SimAccess::ReadWrite; });
    Sim.NotifyUnrelatedChange();
    Pump();
    EXPECT_EQ(c->Count(), 0);
    PlugAll({"/dev/b"});
    Pump();
    EXPECT_EQ(c->Count(), 2);
}

TEST_F(ControllerTest, PulledFreeDeviceLeavesAndLaterPositionsShift) {
    PlugAll({"/dev/a", "/dev/b", "/dev/c"});
    auto c = Started();
    EventLog log;
    log.Attach(*c);
    Sim.Unplug("/dev/b");
    Pump();
    EXPECT_EQ(Paths(*c), (std::vector<std::string>{"/dev/a", "/dev/c"}));
    EXPECT_EQ(log.Events, (std::vector<std::string>{"unplug /dev/b", "removal /dev/b"}));
    TJvHidDevice* d = nullptr;
    ASSERT_TRUE(c->CheckOutByIndex(d, 1));
    EXPECT_EQ(d->PnPInfo().DevicePath, "/dev/c");
    delete d;
}

TEST_F(ControllerTest, PulledHeldDeviceStaysListedAndIsRemovedAgainAtEveryRescan) {
    PlugAll({"/dev/a", "/dev/b"});
    auto c = Started();
    EventLog log;
    log.Attach(*c);
    TJvHidDevice* held = nullptr;
    ASSERT_TRUE(c->CheckOutByIndex(held, 0));
    c->SetOnDeviceChange(TJvNotifyEvent(&log, &EventLog::Change));
    log.Events.clear();

    Sim.Unplug("/dev/a");
    Pump();
    EXPECT_EQ(log.Events, (std::vector<std::string>{"unplug /dev/a", "removal /dev/a", "change"}));
    EXPECT_EQ(c->Count(), 2);
    EXPECT_TRUE(held->IsCheckedOut());
    EXPECT_FALSE(held->IsPluggedIn());
    EXPECT_EQ(c->UnpluggedCount(), 1);
    EXPECT_EQ(c->CheckedOutCount(), 0);
    EXPECT_EQ(c->CheckedInCount(), 1);

    log.Events.clear();
    Sim.NotifyUnrelatedChange();
    c->DeviceChange(); // a rescan with nothing new
    EXPECT_EQ(log.Events, (std::vector<std::string>{"removal /dev/a", "change"}));
    delete held;
    EXPECT_EQ(Paths(*c), (std::vector<std::string>{"/dev/b"}));
}

TEST_F(ControllerTest, ReplugIsANewInstanceAndANewObject) {
    PlugAll({"/dev/a"});
    auto c = Started();
    EventLog log;
    log.Attach(*c);
    TJvHidDevice* held = nullptr;
    ASSERT_TRUE(c->CheckOutByIndex(held, 0));
    const DWORD first = held->PnPInfo().DeviceInstance;
    Sim.Unplug("/dev/a");
    Pump();
    PlugAll({"/dev/a"});
    Pump();
    ASSERT_EQ(c->Count(), 2);
    TJvHidDevice* back = c->Items(1);
    EXPECT_NE(back, held);
    EXPECT_NE(back->PnPInfo().DeviceInstance, first);
    EXPECT_TRUE(back->IsPluggedIn());
    EXPECT_FALSE(back->IsCheckedOut());
    EXPECT_FALSE(held->IsPluggedIn());
    EXPECT_EQ(log.Count("arrival /dev/a"), 1u);
    delete held;
    EXPECT_EQ(c->Count(), 1);
}

TEST_F(ControllerTest, DevThreadSleepTimeFollowsDevicesStillOnTheOldValue) {
    PlugAll({"/dev/a", "/dev/b"});
    auto c = Started();
    c->SetDevThreadSleepTime(5);
    EXPECT_EQ(c->DevThreadSleepTime(), 5);
    EXPECT_EQ(c->Items(0)->ReadSleepTime(), 100);

    c->SetDevThreadSleepTime(100);
    c->Items(1)->SetReadSleepTime(30);
    c->SetDevThreadSleepTime(40);
    EXPECT_EQ(c->Items(0)->ReadSleepTime(), 40);
    EXPECT_EQ(c->Items(1)->ReadSleepTime(), 30);

    PlugAll({"/dev/c"});
    Pump();
    EXPECT_EQ(c->Items(2)->ReadSleepTime(), 40); // new devices start with the controller's value
}

TEST_F(ControllerTest, HandlersAreHandedToDevicesThatStillHaveTheOldOne) {
    PlugAll({"/dev/a", "/dev/b"});
    auto c = Started();
    EventLog general, own;
    c->SetOnDeviceUnplug(TJvHidPlugEvent(&general, &EventLog::Unplug));
    c->Items(1)->SetOnUnplug(TJvHidPlugEvent(&own, &EventLog::Removal));
    EventLog later;
    c->SetOnDeviceUnplug(TJvHidPlugEvent(&later, &EventLog::Arrival));
    Sim.Unplug("/dev/a");
    Sim.Unplug("/dev/b");
    Pump();
    EXPECT_EQ(later.Events, (std::vector<std::string>{"arrival /dev/a"}));
    EXPECT_EQ(own.Events, (std::vector<std::string>{"removal /dev/b (not enumerated)"}));
    EXPECT_TRUE(general.Events.empty());
}

TEST_F(ControllerTest, ChangeArrivingDuringARescanIsNotLost) {
    PlugAll({"/dev/a"});
    auto c = Started();
    struct Nested {
        SimHidPlatform* Sim;
        bool Done = false;
        void Arrival(TJvHidDevice*) {
            if (Done) return;
            Done = true;
            Sim->Plug(MakeDevice("/dev/c"));
            Pump(); // the loop delivers the new notification inside the rescan
        }
    } nested{&Sim};
    c->SetOnArrival(TJvHidPlugEvent(&nested, &Nested::Arrival));
    PlugAll({"/dev/b"});
    Pump();
    EXPECT_EQ(Paths(*c), (std::vector<std::string>{"/dev/a", "/dev/b", "/dev/c"}));
}

TEST_F(ControllerTest, HandlerMayFreeTheDeviceItIsCalledFor) {
    PlugAll({"/dev/a", "/dev/b"});
    auto c = Started();
    TJvHidDevice* held = nullptr;
    ASSERT_TRUE(c->CheckOutByIndex(held, 0));
    struct Freer {
        void Removal(TJvHidDevice* D) {
            if (D->IsCheckedOut()) delete D;
        }
        // Check-in from inside the walk: the slot is refilled under the handler's feet.
        bool Step(TJvHidDevice* D, int Idx) {
            TJvHidDevice* mine = nullptr;
            if (D->Controller()->CheckOutByIndex(mine, Idx)) delete mine;
            return true;
        }
    } freer;
    c->SetOnRemoval(TJvHidPlugEvent(&freer, &Freer::Removal));
    Sim.Unplug("/dev/a");
    Pump();
    EXPECT_EQ(Paths(*c), (std::vector<std::string>{"/dev/b"}));

    c->SetOnEnumerate(TJvHidEnumerateEvent(&freer, &Freer::Step));
    EXPECT_EQ(c->Enumerate(), 1);
    ASSERT_EQ(c->Count(), 1);
    EXPECT_FALSE(c->Items(0)->IsCheckedOut());
    EXPECT_EQ(c->CheckedOutCount(), 0);
}

TEST_F(ControllerTest, DestructionFreesOwnedDevicesAndMarksHeldOnesUnplugged) {
    PlugAll({"/dev/a", "/dev/b", "/dev/c"});
    auto c = Started();
    EventLog log;
    log.Attach(*c);
    TJvHidDevice* held = nullptr;
    ASSERT_TRUE(c->CheckOutByIndex(held, 1));
    c.reset();
    EXPECT_EQ(log.Events, (std::vector<std::string>{"unplug /dev/b"}));
    EXPECT_FALSE(held->IsPluggedIn());
    EXPECT_EQ(held->Controller(), nullptr);
    EXPECT_FALSE(Sim.IsLoaded("HID.dll"));
    delete held;
}

TEST_F(ControllerTest, TwoControllersShareTheLibraries) {
    PlugAll({"/dev/a"});
    auto first = Started();
    {
        auto second = Started();
        EXPECT_EQ(second->Count(), 1);
    }
    EXPECT_TRUE(HidBound());
    first->DeviceChange();
    EXPECT_EQ(first->Count(), 1);
    EXPECT_EQ(Sim.LoadCount("HID.dll"), 1);
}

TEST_F(ControllerTest, HalfBoundControllerReleasesTheDeviceSetupLibrary) {
    Sim.SetLibraryPresent("HID.dll", false);
    { TJvHidDeviceController c(&Loop); }
    EXPECT_EQ(Sim.LoadCount("SetupApi.dll"), 1);
    EXPECT_EQ(Sim.FreeCount("SetupApi.dll"), 1);
}

} // namespace
