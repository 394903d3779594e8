#include "tests/app/ConsoleFixture.h"
#include <ostream>

namespace {

// --- Transfers -------------------------------------------------------------------------------

TEST_F(ConsoleTest, EveryTransferIsAWholeReportWithReportIdZero) {
    auto instrument = PlugInstrument();
    Start();
    Connect(); // reads the stored variables: send, fetch, send
    Tick();
    form->FuncComboBox->setCurrentIndex(5);
    form->GoButtonClick(form->GoButton);
    const auto transfers = sim.FeatureTransfers();
    ASSERT_EQ(transfers.size(), 5u);
    for (const auto& t : transfers) {
        EXPECT_EQ(t.Length, 255u);
        ASSERT_EQ(t.Bytes.size(), 255u);
        EXPECT_EQ(t.Bytes[0], 0);
    }
    EXPECT_EQ(transfers[0].Direction, hidsim::SimFeatureTransfer::Set);
    EXPECT_EQ(transfers[1].Direction, hidsim::SimFeatureTransfer::Get);
    EXPECT_EQ(transfers[2].Direction, hidsim::SimFeatureTransfer::Set);
    EXPECT_EQ(transfers[3].Direction, hidsim::SimFeatureTransfer::Get);
    EXPECT_EQ(transfers[4].Direction, hidsim::SimFeatureTransfer::Set);
}

TEST_F(ConsoleTest, FetchFromADeviceThatCannotBeOpenedLeavesAZeroRecord) {
    auto instrument = PlugInstrument();
    instrument->next.fill(0x5A);
    Start();
    Connect();
    ASSERT_NE(InstrumentDevice, nullptr);
    std::memset(ExchangeBuffer, 0xEE, sizeof ExchangeBuffer);
    InstrumentDevice->ReleaseHandle();
    sim.Modify("/dev/hidraw0",
               [](hidsim::SimDeviceSpec& s) { s.Access = hidsim::SimAccess::None; });
    EXPECT_FALSE(form->get_data());
    for (uint8_t b : ExchangeBuffer) ASSERT_EQ(b, 0);
}

TEST_F(ConsoleTest, FailedPlatformFetchStillCopiesTheReportAsItIs) {
    auto instrument = PlugInstrument();
    Start();
    Connect();
    for (int i = 0; i < ExchangeSize; ++i) instrument->next[i] = static_cast<uint8_t>(i * 7 + 3);
    instrument->fetchFails = true;
    EXPECT_FALSE(form->get_data());
    for (int i = 0; i < ExchangeSize; ++i) ASSERT_EQ(ExchangeBuffer[i], instrument->next[i]) << i;
}

// --- Connection ------------------------------------------------------------------------------

TEST_F(ConsoleTest, ListFillsOnlyOnceEventsRun) {
    PlugInstrument();
    form = std::make_unique<TOrmelix_Control_Form>();
    EXPECT_EQ(form->JvHidDeviceController->Count(), 0);
    Events();
    EXPECT_EQ(form->JvHidDeviceController->Count(), 1);
}

TEST_F(ConsoleTest, TickingTheBoxReadsTheStoredVariablesBeforeTheTimerRuns) {
    auto instrument = PlugInstrument();
    instrument->next[ScaleByte] = 0;  // the instrument has no stored scale
    instrument->next[PollPeriod] = 0; // nor a poll period
    instrument->next[CommandCode] = 0;
    Start();
    Connect();
    ASSERT_EQ(instrument->received.size(), 2u);
    EXPECT_EQ(instrument->fetches, 1);
    EXPECT_EQ(pauses, std::vector<int>{10});
    // The first command after start is a zero record with command 1.
    std::vector<uint8_t> first(255, 0);
    first[254] = 1;
    EXPECT_EQ(instrument->received[0], first);
    // The echo returns what the instrument delivered, unchanged.
    std::vector<uint8_t> echo(255, 0);
    std::copy(instrument->next.begin(), instrument->next.end(), echo.begin() + 1);
    EXPECT_EQ(instrument->received[1], echo);
    EXPECT_EQ(ScaleDivisor, 64);
    EXPECT_EQ(form->RxSpinEdit240->IntegerValue(), 1); // 0 clamped to the field's minimum
    EXPECT_EQ(form->FuncComboBox->currentIndex(), 0);
    EXPECT_TRUE(form->Timer->isActive());
    // A later save sends the clamped value.
    Tick();
    form->FuncComboBox->setCurrentIndex(2);
    form->GoButtonClick(form->GoButton);
    EXPECT_EQ(instrument->received.back()[241], 1);
}

struct NameCase {
    const char16_t* product;
    const char16_t* vendor;
    bool taken;
};

// Names the case in test listings.
void PrintTo(const NameCase& P, std::ostream* Os) {
    *Os << "'" << QString::fromStdU16String(P.product).toStdString() << "' by '"
        << QString::fromStdU16String(P.vendor).toStdString() << "'";
}

class MatchTest : public ConsoleTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(MatchTest, OnlyTheExactStringsAreTaken) {
    auto instrument = std::make_shared<ScriptedInstrument>();
    instrument->next[ScaleByte] = 64;
    sim.Plug(InstrumentSpec(instrument, "/dev/hidraw3", GetParam().product, GetParam().vendor));
    Start();
    Connect();
    EXPECT_EQ(InstrumentDevice != nullptr, GetParam().taken);
    EXPECT_EQ(instrument->received.size(), GetParam().taken ? 2u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Names, MatchTest,
                         ::testing::Values(NameCase{u"Ormelix", u"Bramlo-kt", true},
                                           NameCase{u"Ormelix", u"bramlo-kt", false},
                                           NameCase{u"Ormelix", u"Bramlo-kt ", false},
                                           NameCase{u"Ormelix", u"Bramlo-K", false},
                                           NameCase{u"ormelix", u"Bramlo-kt", false},
                                           NameCase{u"Ormelix ", u"Bramlo-kt", false},
                                           NameCase{u"Ormelix2", u"Bramlo-kt", false},
                                           NameCase{u"", u"", false}));

TEST_F(ConsoleTest, ManufacturerIsReadOnlyAfterTheProductMatched) {
    auto other = std::make_shared<ScriptedInstrument>();
    auto desc = InstrumentSpec(other, "/dev/hidraw1", u"Mouse", u"Bramlo-kt");
    sim.Plug(desc);
    PlugInstrument("/dev/hidraw2");
    Start();
    Connect();
    ASSERT_NE(InstrumentDevice, nullptr);
    EXPECT_EQ(InstrumentDevice->PnPInfo().DevicePath, "/dev/hidraw2");
    // Outside a callback the string comes from the cache only: empty means it was never read.
    EXPECT_TRUE(form->JvHidDeviceController->Items(0)->VendorName().empty());
    EXPECT_EQ(form->JvHidDeviceController->Items(0)->ProductName(), u"Mouse");
}

TEST_F(ConsoleTest, OfTwoInstrumentsTheLaterOneIsHeld) {
    auto first = PlugInstrument("/dev/hidraw0");
    auto second = PlugInstrument("/dev/hidraw1");
    Start();
    Connect();
    ASSERT_NE(InstrumentDevice, nullptr);
    EXPECT_EQ(InstrumentDevice->PnPInfo().DevicePath, "/dev/hidraw1");
    EXPECT_TRUE(form->JvHidDeviceController->Items(0)->IsCheckedOut());
    EXPECT_TRUE(first->received.empty());
    EXPECT_EQ(second->received.size(), 2u);
}

TEST_F(ConsoleTest, InstrumentPluggedInAfterTheBoxIsFoundByTheFirstTick) {
    Start();
    form->RxSpinEdit240->SetValue(33);
    Connect();
    EXPECT_EQ(InstrumentDevice, nullptr);
    EXPECT_TRUE(form->Timer->isActive());
    auto instrument = PlugInstrument();
    Events();
    Tick();
    ASSERT_NE(InstrumentDevice, nullptr);
    EXPECT_TRUE(instrument->received.empty()); // stored variables not read
    EXPECT_EQ(instrument->fetches, 1);
    EXPECT_EQ(form->RxSpinEdit240->IntegerValue(), 33);
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8(FoundCaption));
    EXPECT_TRUE(form->Timer->isActive());
}

TEST_F(ConsoleTest, NoInstrumentReturnsTheWindowToIdle) {
    Start();
    Connect();
    ASSERT_TRUE(form->Timer->isActive());
    Tick();
    EXPECT_FALSE(form->CheckBox1->isChecked());
    EXPECT_FALSE(form->Timer->isActive());
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8(NotFoundCaption));
    EXPECT_FALSE(form->GoButton->isEnabled());
    EXPECT_FALSE(form->CheckBox2->isEnabled());
}

TEST_F(ConsoleTest, ClearingTheBoxStopsPollingAndKeepsTheDevice) {
    auto instrument = PlugInstrument();
    Start();
    Connect();
    Tick();
    TJvHidDevice* held = InstrumentDevice;
    form->CheckBox1->setChecked(false);
    EXPECT_FALSE(form->Timer->isActive());
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8(IdleCaption));
    EXPECT_EQ(InstrumentDevice, held);
    Connect(); // uses it again without enumerating
    EXPECT_EQ(InstrumentDevice, held);
    EXPECT_EQ(instrument->received.size(), 4u);
}

// --- Commands --------------------------------------------------------------------------------

struct CommandCase {
    int item;
    uint8_t code;
    int selectedAfter;
};

// Names the case in test listings.
void PrintTo(const CommandCase& P, std::ostream* Os) {
    *Os << "item " << P.item << " code " << int(P.code);
}

class CommandTest : public ConsoleTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandTest, SendsTheLastRecordWithTheCommandCode) {
    auto instrument = PlugInstrument();
    Start();
    Connect();
    for (int i = 0; i < ExchangeSize; ++i) instrument->next[i] = static_cast<uint8_t>(255 - i);
    instrument->next[ScaleByte] = 64;
    instrument->next[CursorPos] = 100;
    Tick();
    Record read = instrument->next;
    instrument->received.clear();
    form->RxSpinEdit240->SetValue(255);
    form->FuncComboBox->setCurrentIndex(GetParam().item);
    form->GoButtonClick(form->GoButton);
    ASSERT_EQ(instrument->received.size(), 1u);
    const auto& sent = instrument->received[0];
    ASSERT_EQ(sent.size(), 255u);
    EXPECT_EQ(sent[0], 0);
    for (int i = 0; i < ExchangeSize; ++i) {
        uint8_t expected = read[i];
        if (i == CommandCode) expected = GetParam().code;
        if (i == PollPeriod && GetParam().item == 2) expected = 255;
        EXPECT_EQ(sent[i + 1], expected) << "byte " << i;
    }
    EXPECT_EQ(form->FuncComboBox->currentIndex(), GetParam().selectedAfter);
}

INSTANTIATE_TEST_SUITE_P(Items, CommandTest,
                         ::testing::Values(CommandCase{0, 0, 0}, CommandCase{2, 2, 0},
                                           CommandCase{3, 32, 0}, CommandCase{4, 48, 4},
                                           CommandCase{5, 49, 5}, CommandCase{6, 64, 6},
                                           CommandCase{7, 65, 7}));

TEST_F(ConsoleTest, ReadingStoredVariablesSendsTwiceAndTakesScaleAndPeriod) {
    auto instrument = PlugInstrument();
    Start();
    Connect();
    Tick();
    instrument->received.clear();
    instrument->next[ScaleByte] = 33;
    instrument->next[PollPeriod] = 77;
    instrument->next[CommandCode] = 9;
    form->FuncComboBox->setCurrentIndex(1);
    form->GoButtonClick(form->GoButton);
    ASSERT_EQ(instrument->received.size(), 2u);
    EXPECT_EQ(instrument->received[0][254], 1);
    EXPECT_EQ(instrument->received[1][254], 9); // returned as the instrument set it
    EXPECT_EQ(ScaleDivisor, 33);
    EXPECT_EQ(form->RxSpinEdit240->IntegerValue(), 77);
    EXPECT_EQ(form->FuncComboBox->currentIndex(), 0);
}

TEST_F(ConsoleTest, SaveSendsTheLowByteOfTheFieldAndNoSelectionStillSends) {
    auto instrument = PlugInstrument();
    Start();
    Connect();
    Tick();
    instrument->received.clear();
    form->RxSpinEdit240->setText("300"); // typed, not yet clamped
    form->FuncComboBox->setCurrentIndex(2);
    form->GoButtonClick(form->GoButton);
    EXPECT_EQ(instrument->received.back()[241], 300 & 0xFF);
    form->FuncComboBox->setCurrentIndex(-1);
    form->GoButtonClick(form->GoButton);
    EXPECT_EQ(instrument->received.size(), 2u);
    EXPECT_EQ(form->FuncComboBox->currentIndex(), -1);
}

TEST_F(ConsoleTest, NoCommandWithoutAnInstrument) {
    Start();
    form->FuncComboBox->setCurrentIndex(3);
    form->GoButtonClick(form->GoButton);
    EXPECT_TRUE(sim.FeatureTransfers().empty());
    EXPECT_EQ(form->FuncComboBox->currentIndex(), 3);
}

} // namespace
