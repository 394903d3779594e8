// The device object: construction, access, strings, feature reports, check-in.
#include "tests/hid/HidTestSupport.h"

#include <algorithm>
#include <array>
#include <numeric>

namespace {

using DeviceTest = HidFixture;

// Checks out the device at Path from a started controller.
TJvHidDevice* CheckOut(TJvHidDeviceController& C, const std::string& Path) {
    for (int i = 0; i < C.Count(); ++i) {
        if (C.Items(i)->PnPInfo().DevicePath != Path) continue;
        TJvHidDevice* d = nullptr;
        return C.CheckOutByIndex(d, i) ? d : nullptr;
    }
    return nullptr;
}

TEST_F(DeviceTest, ConstructionReadsAttributesAndPnPDataThenClosesTheDevice) {
    SimDeviceSpec desc = MakeDevice("/dev/sim0");
    desc.VendorID = 0x16C0;
    desc.ProductID = 0x05DF;
    desc.VersionNumber = 0x0102;
    desc.SetTextProperty(SPDRP_CLASS, "HIDClass");
    desc.SetNumberProperty(SPDRP_ADDRESS, 7);
    desc.SetListProperty(SPDRP_HARDWAREID, {"HID\\VID_16C0&PID_05DF", "HID\\VID_16C0"});
    const DWORD instance = Sim.Plug(desc);
    auto c = Started();
    ASSERT_EQ(c->Count(), 1);
    TJvHidDevice* d = c->Items(0);
    EXPECT_EQ(d->Attributes().VendorID, 0x16C0);
    EXPECT_EQ(d->Attributes().ProductID, 0x05DF);
    EXPECT_EQ(d->Attributes().VersionNumber, 0x0102);
    EXPECT_EQ(d->PnPInfo().DeviceInstance, instance);
    EXPECT_EQ(d->PnPInfo().DevicePath, "/dev/sim0");
    EXPECT_EQ(d->PnPInfo().ClassName, "HIDClass");
    EXPECT_EQ(d->PnPInfo().Address, 7u);
    EXPECT_EQ(d->PnPInfo().HardwareIds,
              (std::vector<std::string>{"HID\\VID_16C0&PID_05DF", "HID\\VID_16C0"}));
    EXPECT_TRUE(d->PnPInfo().CompatibleIds.empty());
    EXPECT_TRUE(d->PnPInfo().FriendlyName.empty());
    EXPECT_TRUE(d->HasReadWriteAccess());
    EXPECT_EQ(d->SyncHandle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(Sim.OpenHandleCount(), 0);
    EXPECT_EQ(d->Controller(), c.get());
    EXPECT_TRUE(d->IsPluggedIn());
    EXPECT_FALSE(d->IsCheckedOut());
}

TEST_F(DeviceTest, QueryOnlyDeviceIsListedWithoutReadWriteAccess) {
    SimDeviceSpec desc = MakeDevice("/dev/kbd");
    desc.Access = SimAccess::QueryOnly;
    Sim.Plug(desc);
    auto c = Started();
    ASSERT_EQ(c->Count(), 1);
    EXPECT_FALSE(c->Items(0)->HasReadWriteAccess());
    const auto opens = Sim.Opens();
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0].Access, GENERIC_READ | GENERIC_WRITE);
    EXPECT_FALSE(opens[0].Ok);
    EXPECT_EQ(opens[1].Access, 0u);
    EXPECT_TRUE(opens[1].Ok);
}

TEST_F(DeviceTest, StringOfExactly254UnitsIsTakenWhole) {
    std::u16string longName(254, u'x');
    longName[253] = u'Z';
    Sim.Plug(MakeDevice("/dev/sim0", longName, u"Bramlo-kt"));
    auto c = Started();
    TJvHidDevice* d = CheckOut(*c, "/dev/sim0");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->ProductName(), longName);
    EXPECT_EQ(d->VendorName(), u"Bramlo-kt");
    // Strings close the device again after reading.
    EXPECT_EQ(Sim.OpenHandleCount(), 0);
    delete d;
}

TEST_F(DeviceTest, UnreadableStringIsEmptyAndTriedAgainLater) {
    SimDeviceSpec desc = MakeDevice("/dev/sim0", u"Ormelix");
    desc.ProductReadable = false;
    Sim.Plug(desc);
    auto c = Started();
    TJvHidDevice* d = CheckOut(*c, "/dev/sim0");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->ProductName(), u"");
    Sim.Modify("/dev/sim0", [](SimDeviceSpec& s) { s.ProductReadable = true; });
    EXPECT_EQ(d->ProductName(), u"Ormelix");
    // Read once: later changes on the device are not seen.
    Sim.Modify("/dev/sim0", [](SimDeviceSpec& s) { s.Product = u"Other"; });
    EXPECT_EQ(d->ProductName(), u"Ormelix");
    delete d;
}

TEST_F(DeviceTest, StringsOutsideACallbackComeFromTheCacheWithoutOpening) {
    Sim.Plug(MakeDevice("/dev/sim0", u"Ormelix"));
    auto c = Started();
    TJvHidDevice* d = c->Items(0);
    const size_t opens = Sim.Opens().size();
    EXPECT_EQ(d->ProductName(), u""); // never read, not usable now
    EXPECT_EQ(Sim.Opens().size(), opens);

    c->SetOnEnumerate(TJvHidEnumerateEvent(
        +[](void*, TJvHidDevice* D, int) { return !D->ProductName().empty(); }, nullptr));
    EXPECT_EQ(c->Enumerate(), 1);
    EXPECT_EQ(d->ProductName(), u"Ormelix"); // cached by the callback
    EXPECT_EQ(Sim.OpenHandleCount(), 0);
}

TEST_F(DeviceTest, FeatureReportsTravelWholeBothWays) {
    SimDeviceSpec desc = MakeDevice("/dev/sim0");
    desc.GetFeature = [](uint8_t* Report, uint32_t Length) {
        for (uint32_t i = 1; i < Length; ++i) Report[i] = static_cast<uint8_t>(i);
        return true;
    };
    desc.SetFeature = [](const uint8_t*, uint32_t) { return true; };
    Sim.Plug(desc);
    auto c = Started();
    TJvHidDevice* d = CheckOut(*c, "/dev/sim0");
    ASSERT_NE(d, nullptr);

    std::array<uint8_t, 255> report{};
    ASSERT_TRUE(d->GetFeature(report.data(), 255));
    EXPECT_EQ(report[0], 0);
    EXPECT_EQ(report[254], 254);
    EXPECT_TRUE(d->HasReadWriteAccess());
    EXPECT_NE(d->SyncHandle(), INVALID_HANDLE_VALUE); // stays open for the next exchange

    std::iota(report.begin() + 1, report.end(), 7);
    report[0] = 0;
    ASSERT_TRUE(d->SetFeature(report.data(), 255));
    const auto transfers = Sim.FeatureTransfers();
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[0].Direction, hidsim::SimFeatureTransfer::Get);
    EXPECT_EQ(transfers[1].Direction, hidsim::SimFeatureTransfer::Set);
    EXPECT_EQ(transfers[1].Length, 255u);
    EXPECT_EQ(transfers[1].Bytes, std::vector<uint8_t>(report.begin(), report.end()));
    EXPECT_EQ(Sim.OpenHandleCount("/dev/sim0"), 1); // one handle served both
    delete d;
}

TEST_F(DeviceTest, RefusedFeatureTransferReportsFalse) {
    SimDeviceSpec desc = MakeDevice("/dev/sim0");
    desc.GetFeature = [](uint8_t*, uint32_t) { return false; };
    Sim.Plug(desc);
    auto c = Started();
    TJvHidDevice* d = CheckOut(*c, "/dev/sim0");
    std::array<uint8_t, 255> report{};
    EXPECT_FALSE(d->GetFeature(report.data(), 255));
    EXPECT_FALSE(d->SetFeature(report.data(), 255)); // no set handler: refused
    delete d;
}

TEST_F(DeviceTest, FeatureOnADeviceThatIsNotUsableTouchesNothing) {
    Sim.Plug(MakeDevice("/dev/free"));
    Sim.Plug(MakeDevice("/dev/held"));
    auto c = Started();
    TJvHidDevice* held = CheckOut(*c, "/dev/held");
    ASSERT_NE(held, nullptr);
    Sim.Unplug("/dev/held");
    Pump();
    ASSERT_FALSE(held->IsPluggedIn());
    ASSERT_TRUE(held->IsCheckedOut());

    for (TJvHidDevice* d : {c->Items(0), held}) {
        std::array<uint8_t, 255> report;
        report.fill(0xA5);
        EXPECT_FALSE(d->GetFeature(report.data(), 255));
        EXPECT_TRUE(std::all_of(report.begin(), report.end(), [](uint8_t b) { return b == 0xA5; }));
        EXPECT_FALSE(d->SetFeature(report.data(), 255));
        EXPECT_FALSE(d->OpenHandle());
    }
    EXPECT_TRUE(Sim.FeatureTransfers().empty());
    delete held;
}

class ReadSleepTimeRule : public DeviceTest,
                          public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(ReadSleepTimeRule, TakesOnly10To10000) {
    Sim.Plug(MakeDevice("/dev/sim0"));
    auto c = Started();
    TJvHidDevice* d = c->Items(0);
    ASSERT_EQ(d->ReadSleepTime(), 100);
    d->SetReadSleepTime(GetParam().first);
    EXPECT_EQ(d->ReadSleepTime(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Bounds, ReadSleepTimeRule,
                         ::testing::Values(std::pair{9, 100}, std::pair{10, 10},
                                           std::pair{10000, 10000}, std::pair{10001, 100},
                                           std::pair{-1, 100}));

TEST_F(DeviceTest, CheckInByDestructionRefillsTheSlotWithAFreshObject) {
    PlugAll({"/dev/a", "/dev/b", "/dev/c"});
    auto c = Started();
    TJvHidDevice* d = nullptr;
    ASSERT_TRUE(c->CheckOutByIndex(d, 1));
    d->SetReadSleepTime(250);
    const DWORD instance = d->PnPInfo().DeviceInstance;
    EXPECT_EQ(c->CheckedOutCount(), 1);
    EXPECT_EQ(c->CheckedInCount(), 2);

    delete d;
    ASSERT_EQ(c->Count(), 3);
    TJvHidDevice* fresh = c->Items(1);
    EXPECT_FALSE(fresh->IsCheckedOut());
    EXPECT_EQ(fresh->PnPInfo().DeviceInstance, instance);
    EXPECT_EQ(fresh->PnPInfo().DevicePath, "/dev/b");
    EXPECT_EQ(fresh->ReadSleepTime(), 250);
    EXPECT_EQ(c->CheckedOutCount(), 0);
    EXPECT_EQ(c->CheckedInCount(), 3);
    EXPECT_TRUE(c->CheckOutByIndex(d, 1));
    delete d;
}

TEST_F(DeviceTest, DestroyingAnUnpluggedDeviceShortensTheList) {
    PlugAll({"/dev/a", "/dev/b"});
    auto c = Started();
    TJvHidDevice* d = nullptr;
    ASSERT_TRUE(c->CheckOutByIndex(d, 0));
    Sim.Unplug("/dev/a");
    Pump();
    ASSERT_EQ(c->Count(), 2);
    EXPECT_EQ(c->UnpluggedCount(), 1);
    delete d;
    ASSERT_EQ(c->Count(), 1);
    EXPECT_EQ(c->Items(0)->PnPInfo().DevicePath, "/dev/b");
    EXPECT_EQ(c->UnpluggedCount(), 0);
}

TEST_F(DeviceTest, DeviceTheApplicationMarksUnpluggedIsCountedAtOnce) {
    PlugAll({"/dev/a", "/dev/b"});
    auto c = Started();
    TJvHidDevice* d = nullptr;
    ASSERT_TRUE(c->CheckOutByIndex(d, 0));
    d->MarkUnplugged(); // no rescan in between
    EXPECT_EQ(c->UnpluggedCount(), 1);
    EXPECT_EQ(c->CheckedOutCount(), 0);
    delete d;
    EXPECT_EQ(c->UnpluggedCount(), 0);
    EXPECT_EQ(c->CheckedOutCount(), 0);
    EXPECT_EQ(c->CheckedInCount(), 1);
}

TEST_F(DeviceTest, CheckInOfAVanishedDeviceBeforeARescanDropsItsSlot) {
    PlugAll({"/dev/a", "/dev/b"});
    auto c = Started();
    TJvHidDevice* d = nullptr;
    ASSERT_TRUE(c->CheckOutByIndex(d, 0));
    // Pulled, but the notification has not been delivered yet: no replacement can be built.
    Sim.Unplug("/dev/a");
    delete d;
    ASSERT_EQ(c->Count(), 1);
    EXPECT_EQ(c->Items(0)->PnPInfo().DevicePath, "/dev/b");
    EXPECT_EQ(c->CheckedOutCount(), 0);
    EXPECT_EQ(c->CheckedInCount(), 1);
    Pump();
    EXPECT_EQ(c->Count(), 1);
}

TEST_F(DeviceTest, HeldDeviceOutlivesTheControllerAndIsFreedByItsHolder) {
    Sim.Plug(MakeDevice("/dev/a"));
    auto c = Started();
    EventLog log;
    log.Attach(*c);
    TJvHidDevice* d = nullptr;
    ASSERT_TRUE(c->CheckOutByIndex(d, 0));
    std::array<uint8_t, 255> report{};
    d->GetFeature(report.data(), 255);
    (void)d->Caps(); // caches preparsed data, freed with the controller's libraries
    c.reset();
    EXPECT_EQ(d->Controller(), nullptr);
    EXPECT_FALSE(d->IsPluggedIn());
    EXPECT_TRUE(d->IsCheckedOut());
    EXPECT_EQ(log.Events, (std::vector<std::string>{"unplug /dev/a"}));
    EXPECT_EQ(Sim.PreparsedDataCount(), 0);
    EXPECT_FALSE(d->GetFeature(report.data(), 255));
    delete d;
}

TEST_F(DeviceTest, CapsComeFromThePreparsedData) {
    SimDeviceSpec desc = MakeDevice("/dev/a");
    desc.UsagePage = 0xFF00;
    desc.Usage = 1;
    desc.InputReportByteLength = 65;
    Sim.Plug(desc);
    desc.Path = "/dev/b";
    desc.PreparsedReadable = false;
    Sim.Plug(desc);
    auto c = Started();
    TJvHidDevice* a = CheckOut(*c, "/dev/a");
    TJvHidDevice* b = CheckOut(*c, "/dev/b");
    HIDP_CAPS caps = a->Caps();
    EXPECT_EQ(caps.UsagePage, 0xFF00);
    EXPECT_EQ(caps.InputReportByteLength, 65);
    EXPECT_EQ(caps.FeatureReportByteLength, 255);
    EXPECT_EQ(b->PreparsedData(), PHIDP_PREPARSED_DATA{});
    EXPECT_EQ(b->Caps().InputReportByteLength, 0);
    delete a;
    delete b;
    EXPECT_EQ(Sim.PreparsedDataCount(), 0);
}

} // namespace
