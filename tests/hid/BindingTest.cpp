// Run-time binding of SetupApi.dll, HID.dll and kernel32's CancelIo.
#include "tests/hid/HidTestSupport.h"

namespace {

using BindingTest = HidFixture;

TEST_F(BindingTest, TwoSetupApiBindsLoadOnceAndFreeAtTheSecondUnbind) {
    ASSERT_TRUE(BindSetupApi());
    ASSERT_TRUE(BindSetupApi());
    EXPECT_EQ(Sim.LoadCount("SetupApi.dll"), 1);
    EXPECT_NE(SetupApiEntries.SetupDiGetClassDevsA, nullptr);

    UnbindSetupApi();
    EXPECT_TRUE(Sim.IsLoaded("SetupApi.dll"));
    EXPECT_NE(SetupApiEntries.SetupDiEnumDeviceInterfaces, nullptr);

    UnbindSetupApi();
    EXPECT_FALSE(Sim.IsLoaded("SetupApi.dll"));
    EXPECT_EQ(Sim.FreeCount("SetupApi.dll"), 1);
    EXPECT_EQ(SetupApiEntries.SetupDiGetClassDevsA, nullptr);
    EXPECT_EQ(SetupApiEntries.Library, nullptr);
}

TEST_F(BindingTest, FailedSetupApiLoadLeavesTheCountSoTheNextCallTriesAgain) {
    Sim.SetLibraryPresent("SetupApi.dll", false);
    EXPECT_FALSE(BindSetupApi());
    EXPECT_EQ(SetupApiBindCount(), 0);

    Sim.SetLibraryPresent("SetupApi.dll", true);
    EXPECT_TRUE(BindSetupApi());
    EXPECT_EQ(SetupApiBindCount(), 1);
    EXPECT_EQ(Sim.LoadCount("SetupApi.dll"), 1);
    UnbindSetupApi();
}

TEST_F(BindingTest, LoadsRunWithTheErrorBoxSuppressedAndRestoreTheMode) {
    CurrentHidPlatform().SetErrorMode(0x0001);
    Sim.SetLibraryPresent("HID.dll", false);
    EXPECT_FALSE(BindHid());
    ASSERT_TRUE(BindSetupApi());
    UnbindSetupApi();

    std::vector<std::string> names;
    for (const auto& e : Sim.LibraryEvents()) {
        if (e.What != hidsim::SimLibraryEvent::Load) continue;
        names.push_back(e.Name);
        EXPECT_EQ(e.ErrorMode, SEM_NOOPENFILEERRORBOX) << e.Name;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"HID.dll", "SetupApi.dll"}));
    EXPECT_EQ(CurrentHidPlatform().SetErrorMode(0), 0x0001u);
}

TEST_F(BindingTest, HidBindsAreCountedLikeTheDeviceSetupOnes) {
    ASSERT_TRUE(BindHid());
    ASSERT_TRUE(BindHid());
    EXPECT_EQ(Sim.LoadCount("HID.dll"), 1);
    UnbindHid();
    EXPECT_TRUE(HidBound());
    EXPECT_NE(HidEntries.HidD_GetFeature, nullptr);
    UnbindHid();
    EXPECT_FALSE(HidBound());
    EXPECT_EQ(HidEntries.HidD_GetFeature, nullptr);
    // An unbalanced unbind does not drive the count below zero.
    UnbindHid();
    EXPECT_EQ(HidBindCount(), 0);
}

TEST_F(BindingTest, MissingOptionalHidEntriesStillBind) {
    Sim.SetOptionalHidEntriesPresent(false);
    ASSERT_TRUE(BindHid());
    EXPECT_EQ(HidEntries.HidD_GetInputReport, nullptr);
    EXPECT_EQ(HidEntries.HidD_SetOutputReport, nullptr);
    EXPECT_EQ(HidEntries.HidP_GetExtendedAttributes, nullptr);
    EXPECT_EQ(HidEntries.HidP_InitializeReportForID, nullptr);
    EXPECT_NE(HidEntries.HidP_GetCaps, nullptr);
    UnbindHid();
}

TEST_F(BindingTest, PresentOptionalHidEntriesAreBound) {
    ASSERT_TRUE(BindHid());
    EXPECT_NE(HidEntries.HidD_GetInputReport, nullptr);
    EXPECT_NE(HidEntries.HidP_InitializeReportForID, nullptr);
    UnbindHid();
}

struct MandatoryEntry {
    const char* Library;
    const char* Entry;
};

void PrintTo(const MandatoryEntry& M, std::ostream* Os) {
    *Os << M.Library << " without " << M.Entry;
}

class MissingMandatoryEntry : public HidFixture,
                              public ::testing::WithParamInterface<MandatoryEntry> {};

TEST_P(MissingMandatoryEntry, FailsTheBindAndReleasesTheLibrary) {
    const MandatoryEntry& m = GetParam();
    Sim.SetEntryPresent(m.Library, m.Entry, false);
    const bool setupApi = std::string(m.Library) == "SetupApi.dll";
    EXPECT_FALSE(setupApi ? BindSetupApi() : BindHid());
    EXPECT_EQ(Sim.LoadCount(m.Library), 1);
    EXPECT_EQ(Sim.FreeCount(m.Library), 1);
    EXPECT_FALSE(Sim.IsLoaded(m.Library));
    EXPECT_EQ(SetupApiEntries.SetupDiGetClassDevsA, nullptr);
    EXPECT_EQ(HidEntries.HidD_GetHidGuid, nullptr);
    EXPECT_EQ(HidEntries.HidD_GetInputReport, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, MissingMandatoryEntry,
    ::testing::Values(MandatoryEntry{"SetupApi.dll", "SetupDiGetClassDevsA"},
                      MandatoryEntry{"SetupApi.dll", "SetupDiEnumDeviceInterfaces"},
                      MandatoryEntry{"SetupApi.dll", "SetupDiGetDeviceInterfaceDetailA"},
                      MandatoryEntry{"SetupApi.dll", "SetupDiGetDeviceRegistryPropertyA"},
                      MandatoryEntry{"SetupApi.dll", "SetupDiDestroyDeviceInfoList"},
                      MandatoryEntry{"HID.dll", "HidD_GetHidGuid"},
                      MandatoryEntry{"HID.dll", "HidD_GetAttributes"},
                      MandatoryEntry{"HID.dll", "HidD_GetManufacturerString"},
                      MandatoryEntry{"HID.dll", "HidD_GetProductString"},
                      MandatoryEntry{"HID.dll", "HidD_GetFeature"},
                      MandatoryEntry{"HID.dll", "HidD_SetFeature"},
                      MandatoryEntry{"HID.dll", "HidD_GetPreparsedData"},
                      MandatoryEntry{"HID.dll", "HidD_FreePreparsedData"},
                      MandatoryEntry{"HID.dll", "HidD_SetNumInputBuffers"},
                      MandatoryEntry{"HID.dll", "HidD_GetNumInputBuffers"},
                      MandatoryEntry{"HID.dll", "HidP_GetCaps"}),
    [](const auto& Info) { return std::string(Info.param.Entry); });

TEST_F(BindingTest, CancelIoNeedsKernel32AndItsEntry) {
    ASSERT_NE(Sim.Plug(MakeDevice("/dev/sim0")), 0u);
    HANDLE h = CurrentHidPlatform().CreateFileA("/dev/sim0", GENERIC_READ, 3, nullptr,
                                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CancelIoThroughKernel(h));
    Sim.SetEntryPresent("kernel32.dll", "CancelIo", false);
    EXPECT_FALSE(CancelIoThroughKernel(h));
    Sim.SetEntryPresent("kernel32.dll", "CancelIo", true);
    Sim.SetLibraryPresent("kernel32.dll", false);
    EXPECT_FALSE(CancelIoThroughKernel(h));
    CurrentHidPlatform().CloseHandle(h);
}

TEST(NoPlatform, BehavesAsAMachineWithoutTheLibraries) {
    SetHidPlatform(nullptr);
    EXPECT_FALSE(BindSetupApi());
    EXPECT_FALSE(BindHid());
    EXPECT_EQ(SetupApiBindCount(), 0);
    TJvHidDeviceController controller(nullptr);
    controller.DeviceChange();
    EXPECT_EQ(controller.Count(), 0);
    EXPECT_EQ(controller.Enumerate(), 0);
    TJvHidDevice* device = reinterpret_cast<TJvHidDevice*>(&controller);
    EXPECT_FALSE(controller.CheckOutByIndex(device, 0));
    EXPECT_EQ(device, nullptr);
}

} // namespace
