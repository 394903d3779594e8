#include "tests/app/ConsoleFixture.h"

#include <QElapsedTimer>

namespace {

// Shows a window and waits until it is the active one (the Windows build has no Qt Test).
bool ShowActive(QWidget& Window) {
    Window.show();
    Window.activateWindow();
    QElapsedTimer waited;
    waited.start();
    while (!Window.isActiveWindow() && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return Window.isActiveWindow();
}

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

TEST_F(ConsoleTest, PollPeriodTypedBeyondItsRangeIsClampedWhenTheIdleStateDisablesIt) {
    auto instrument = PlugInstrument();
    Start();
    ASSERT_TRUE(ShowActive(*form));
    Connect();
    Tick();
    form->RxSpinEdit240->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(form->RxSpinEdit240->hasFocus());
    form->RxSpinEdit240->setText("300"); // typed, as far as the field is concerned
    ASSERT_EQ(form->RxSpinEdit240->text(), "300");

    // The user looks at another window; the instrument is pulled meanwhile and the next tick
    // puts the console into its idle state.
    QWidget elsewhere;
    ASSERT_TRUE(ShowActive(elsewhere));
    ASSERT_EQ(form->RxSpinEdit240->text(), "300"); // only parked
    sim.Unplug("/dev/hidraw0");
    Events();
    Tick();
    ASSERT_FALSE(form->RxSpinEdit240->isEnabled());
    EXPECT_EQ(form->RxSpinEdit240->text(), "255");
    EXPECT_EQ(form->RxSpinEdit240->IntegerValue(), 255); // a save would send 255, not 300 & 0xFF
}

} // namespace
