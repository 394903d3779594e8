// The controller's notification window on Windows: the first change posted to it, rescans on
// the system's DBT_DEVNODES_CHANGED broadcast (simulated devices broadcast like real ones).
#include "tests/hid/HidTestSupport.h"

#include <dbt.h>

namespace {

using NotifyWindowTest = HidFixture;

// The first posted message for Window, left in the queue; false when there is none.
bool PeekPosted(HWND Window, MSG& Msg) {
    return PeekMessageA(&Msg, Window, 0, 0, PM_NOREMOVE) != 0;
}

TEST_F(NotifyWindowTest, IsAHiddenTopLevelWindowOfTheGuiThreadWhileTheControllerLives) {
    HWND window = nullptr;
    {
        TJvHidDeviceController c(&Loop);
        window = c.NotifyWindow();
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(IsWindow(window));
        EXPECT_FALSE(IsWindowVisible(window));
        // Top-level: a child of the desktop, so that broadcasts reach it.
        EXPECT_EQ(GetAncestor(window, GA_PARENT), GetDesktopWindow());
        EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), GetCurrentThreadId());
    }
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(NotifyWindowTest, FirstChangeIsPostedToTheWindowWithParamMinusOne) {
    PlugAll({"/dev/a", "/dev/b"});
    TJvHidDeviceController c(&Loop);
    MSG msg{};
    ASSERT_TRUE(PeekPosted(c.NotifyWindow(), msg));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_DEVICECHANGE));
    EXPECT_EQ(msg.wParam, static_cast<WPARAM>(DBT_DEVNODES_CHANGED));
    EXPECT_EQ(msg.lParam, static_cast<LPARAM>(-1));
    EXPECT_EQ(c.Count(), 0);
    Pump();
    EXPECT_EQ(c.Count(), 2);
    EXPECT_EQ(c.LastChangeParam(), -1);
}

TEST_F(NotifyWindowTest, NoWindowWithoutAnEventLoopOrWithoutTheLibraries) {
    {
        TJvHidDeviceController c(nullptr);
        EXPECT_EQ(c.NotifyWindow(), nullptr);
    }
    Sim.SetLibraryPresent("HID.dll", false);
    TJvHidDeviceController c(&Loop);
    EXPECT_EQ(c.NotifyWindow(), nullptr);
}

// On Windows every change of the device tree reaches the window, so a change that concerns no
// HID interface still rescans, and the rescan finds what became openable meanwhile.
TEST_F(NotifyWindowTest, EveryBroadcastRescansWithParamZero) {
    SimDeviceSpec late = MakeDevice("/dev/late");
    late.Access = SimAccess::None;
    Sim.Plug(late);
    auto c = Started();
    ASSERT_EQ(c->Count(), 0);
    Sim.Modify("/dev/late", [](SimDeviceSpec& s) { s.Access = SimAccess::ReadWrite; });
    Sim.NotifyUnrelatedChange();
    Pump();
    EXPECT_EQ(c->Count(), 1);
    EXPECT_EQ(c->LastChangeParam(), 0);
}

struct OtherMessage {
    const char* Name;
    UINT Msg;
    WPARAM WParam;
};

class NotifyWindowIgnores : public HidFixture,
                            public ::testing::WithParamInterface<OtherMessage> {};

TEST_P(NotifyWindowIgnores, MessagesOtherThanDevNodesChanged) {
    SimDeviceSpec late = MakeDevice("/dev/late");
    late.Access = SimAccess::None;
    Sim.Plug(late);
    auto c = Started();
    // Openable from now on, but no broadcast says so.
    Sim.Modify("/dev/late", [](SimDeviceSpec& s) { s.Access = SimAccess::ReadWrite; });
    SendMessageA(c->NotifyWindow(), GetParam().Msg, GetParam().WParam, 77);
    EXPECT_EQ(c->Count(), 0);
    EXPECT_EQ(c->LastChangeParam(), -1);
    SendMessageA(c->NotifyWindow(), WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 77);
    EXPECT_EQ(c->Count(), 1);
    EXPECT_EQ(c->LastChangeParam(), 77);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, NotifyWindowIgnores,
    ::testing::Values(OtherMessage{"DeviceArrival", WM_DEVICECHANGE, DBT_DEVICEARRIVAL},
                      OtherMessage{"DeviceRemoveComplete", WM_DEVICECHANGE,
                                   DBT_DEVICEREMOVECOMPLETE},
                      OtherMessage{"ConfigChanged", WM_DEVICECHANGE, DBT_CONFIGCHANGED},
                      OtherMessage{"OtherMessage", WM_APP, DBT_DEVNODES_CHANGED}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// A broadcast delivered while a rescan runs (a handler pumps messages) does not start a rescan
// inside the running one; it is served once that one has finished.
TEST_F(NotifyWindowTest, BroadcastDuringARescanDoesNotNest) {
    PlugAll({"/dev/a"});
    auto c = Started();
    struct Watcher {
        TJvHidDeviceController* C;
        int Depth = 0;
        int MaxDepth = 0;
        std::vector<std::string> Arrivals;
        void Arrival(TJvHidDevice* D) {
            ++Depth;
            MaxDepth = std::max(MaxDepth, Depth);
            Arrivals.push_back(D->PnPInfo().DevicePath);
            EXPECT_TRUE(C->InDeviceChange());
            SendMessageA(C->NotifyWindow(), WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 5);
            --Depth;
        }
    } watcher;
    watcher.C = c.get();
    c->SetOnArrival(TJvHidPlugEvent(&watcher, &Watcher::Arrival));
    Sim.Plug(MakeDevice("/dev/b"));
    Sim.Plug(MakeDevice("/dev/c"));
    Pump();
    EXPECT_EQ(watcher.MaxDepth, 1);
    EXPECT_EQ(watcher.Arrivals, (std::vector<std::string>{"/dev/b", "/dev/c"}));
    EXPECT_EQ(c->Count(), 3);
    EXPECT_FALSE(c->InDeviceChange());
}

} // namespace
