#include "tests/app/ConsoleFixture.h"

namespace {

TEST_F(ConsoleTest, UnpluggedInstrumentIsLetGoAndFoundAgainWhenReplugged) {
    auto instrument = PlugInstrument();
    Start();
    Connect();
    Tick();
    ASSERT_EQ(form->windowTitle(), QString::fromUtf8(FoundCaption));

    sim.Unplug("/dev/hidraw0");
    Events(); // the rescan marks the held device unplugged
    Tick();
    EXPECT_EQ(InstrumentDevice, nullptr);
    EXPECT_EQ(form->JvHidDeviceController->Count(), 0); // destroyed, not replaced
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8(NotFoundCaption));
    EXPECT_FALSE(form->CheckBox1->isChecked());
    EXPECT_FALSE(form->Timer->isActive());

    auto again = PlugInstrument();
    Events();
    Connect();
    ASSERT_NE(InstrumentDevice, nullptr);
    EXPECT_EQ(InstrumentDevice->PnPInfo().DeviceInstance, sim.InstanceOf("/dev/hidraw0"));
    EXPECT_EQ(again->received.size(), 2u); // stored variables read from the new instance
    Tick();
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8(FoundCaption));
    EXPECT_TRUE(form->Timer->isActive());
    EXPECT_EQ(again->fetches, 2);
}

TEST_F(ConsoleTest, PulledInstrumentBeforeTheRescanFailsTheTickButPollingGoesOn) {
    auto instrument = PlugInstrument();
    Start();
    Connect();
    Tick();
    sim.Unplug("/dev/hidraw0"); // the notification has not been handled yet
    Tick();
    EXPECT_EQ(ScaleDivisor, 0); // an all-zero record
    EXPECT_TRUE(form->Timer->isActive());
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8(FoundCaption));
    Events();
    Tick();
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8(NotFoundCaption));
}

TEST_F(ConsoleTest, NothingTheConsoleHeldIsLeftAtExit) {
    PlugInstrument();
    PlugInstrument("/dev/hidraw1");
    Start();
    Connect();
    Tick();
    ASSERT_NE(InstrumentDevice, nullptr);
    // Preparsed data is freed only when a device object is destroyed.
    ASSERT_TRUE(InstrumentDevice->PreparsedData()); // a handle on Linux, a pointer on Windows
    ASSERT_GT(sim.PreparsedDataCount(), 0);
    form.reset();
    EXPECT_EQ(InstrumentDevice, nullptr);
    EXPECT_EQ(sim.PreparsedDataCount(), 0);
    EXPECT_EQ(sim.OpenHandleCount(), 0);
    EXPECT_EQ(sim.MonitorCount(), 0);
    EXPECT_FALSE(sim.IsLoaded("HID.dll"));
}

} // namespace
