#include "hid/sim/SimHidPlatform.h"
#include "hid/sim/SimInstrument.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <ostream>

namespace {

using VI = VirtualInstrument;

VI::Record Command(uint8_t Code, uint8_t PollPeriod = 0) {
    VI::Record r{};
    r[instrument::CommandCode] = Code;
    r[instrument::PollPeriod] = PollPeriod;
    return r;
}

TEST(VirtualInstrument, RecordCarriesTracesExtremesAndCursor) {
    VI vi;
    for (int n = 0; n < 100; ++n) {
        const VI::Record r = vi.Fetch();
        EXPECT_EQ(r[instrument::CommandCode], 0);
        EXPECT_EQ(r[instrument::ScaleByte], 64);
        EXPECT_EQ(r[instrument::PollPeriod], 10);
        uint8_t min1 = 255, max1 = 0, min2 = 255, max2 = 0;
        for (int i = 0; i < 120; ++i) {
            min1 = std::min(min1, r[2 * i]);
            max1 = std::max(max1, r[2 * i]);
            min2 = std::min(min2, r[2 * i + 1]);
            max2 = std::max(max2, r[2 * i + 1]);
        }
        EXPECT_EQ(r[instrument::MinS1], min1);
        EXPECT_EQ(r[instrument::MaxS1], max1);
        EXPECT_EQ(r[instrument::MinS2], min2);
        EXPECT_EQ(r[instrument::MaxS2], max2);
        EXPECT_LT(min1, max1); // a signal, not a flat line
        EXPECT_LT(min2, max2);
        EXPECT_GE(r[instrument::CursorPos], VI::CursorFirst);
        EXPECT_LE(r[instrument::CursorPos], VI::CursorLast);
    }
}

TEST(VirtualInstrument, CursorSweepsUpAndWrapsSoThatEverySweepCrossesBothThresholds) {
    VI vi;
    int last = vi.Fetch()[instrument::CursorPos];
    ASSERT_EQ(last, VI::CursorFirst);
    int sweeps = 0;
    bool above = false, below = true; // this sweep went past 210 / started under 150
    for (int n = 0; n < 400; ++n) {
        const int c = vi.Fetch()[instrument::CursorPos];
        if (c < last) {
            EXPECT_TRUE(above && below) << "sweep " << sweeps;
            ++sweeps;
            above = false;
            below = c < 150;
        } else {
            EXPECT_EQ(c - last, VI::CursorStep);
        }
        above = above || c > 210;
        last = c;
    }
    EXPECT_GE(sweeps, 9);
}

TEST(VirtualInstrument, StoredVariablesAfterASaveAndARead) {
    VI vi;
    vi.Receive(Command(2, 77)); // save a poll period of 77
    EXPECT_EQ(vi.Snapshot().StoredPollPeriod, 77);
    vi.Receive(Command(1));
    VI::Record r = vi.Fetch();
    EXPECT_EQ(r[instrument::PollPeriod], 77);
    EXPECT_EQ(r[instrument::ScaleByte], 64);
    EXPECT_EQ(r[instrument::CommandCode], 0); // the echo asks for normal operation
    // The stored values come in the next record only.
    r = vi.Fetch();
    EXPECT_EQ(r[instrument::PollPeriod], 77);
}

struct CommandCase {
    uint8_t code;
    bool os1, os2;
};

// Names the case in test listings.
void PrintTo(const CommandCase& P, std::ostream* Os) {
    *Os << "code " << int(P.code);
}

class InstrumentCommandTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(InstrumentCommandTest, IndicatorAndOutput) {
    VI vi;
    vi.Receive(Command(49));
    vi.Receive(Command(65));
    vi.Receive(Command(GetParam().code));
    EXPECT_EQ(vi.Snapshot().Os1, GetParam().os1);
    EXPECT_EQ(vi.Snapshot().Os2, GetParam().os2);
    EXPECT_EQ(vi.Snapshot().LastCommand, GetParam().code);
    EXPECT_EQ(vi.Snapshot().Commands, 3u);
}

INSTANTIATE_TEST_SUITE_P(Codes, InstrumentCommandTest,
                         ::testing::Values(CommandCase{0, true, true}, CommandCase{48, false, true},
                                           CommandCase{49, true, true},
                                           CommandCase{64, true, false},
                                           CommandCase{65, true, true},
                                           CommandCase{32, true, true}));

TEST(VirtualInstrument, ResetReturnsTheWorkingVariablesToTheStoredOnes) {
    VI vi;
    for (int i = 0; i < 5; ++i) vi.Fetch();
    ASSERT_NE(vi.Snapshot().Cursor, VI::CursorFirst);
    vi.Receive(Command(32));
    EXPECT_EQ(vi.Snapshot().Cursor, VI::CursorFirst);
    EXPECT_EQ(vi.Fetch()[instrument::PollPeriod], vi.Snapshot().StoredPollPeriod);
}

TEST(VirtualInstrument, ServedAsFeatureReportZeroOnTheSimulatedPlatform) {
    auto vi = std::make_shared<VI>();
    hidsim::SimDeviceSpec desc = VirtualInstrumentDevice(vi, "/dev/hidraw7");
    EXPECT_EQ(desc.Product, u"Ormelix");
    EXPECT_EQ(desc.Manufacturer, u"Bramlo-kt");
    EXPECT_EQ(desc.FeatureReportByteLength, 255);
    uint8_t report[255] = {};
    ASSERT_TRUE(desc.GetFeature(report, 255));
    EXPECT_EQ(report[0], 0);
    EXPECT_EQ(report[1 + instrument::ScaleByte], 64);
    report[0] = 3; // no such report
    EXPECT_FALSE(desc.GetFeature(report, 255));
    uint8_t sent[255] = {};
    sent[1 + instrument::CommandCode] = 2;
    sent[1 + instrument::PollPeriod] = 200;
    ASSERT_TRUE(desc.SetFeature(sent, 255));
    EXPECT_EQ(vi->Snapshot().StoredPollPeriod, 200);
}

TEST(VirtualInstrument, DescriptorIsOneUnnumberedFeatureReportOf254Bytes) {
    const auto& d = instrument::ReportDescriptor();
    // Report Count item (0x96: two data bytes) holds 254, Feature main item present, no Report ID.
    const auto count = std::find(d.begin(), d.end(), uint8_t(0x96));
    ASSERT_NE(count, d.end());
    EXPECT_EQ(count[1] | (count[2] << 8), 254);
    EXPECT_NE(std::find(d.begin(), d.end(), uint8_t(0xB1)), d.end());
    EXPECT_EQ(std::find(d.begin(), d.end(), uint8_t(0x85)), d.end());
}

} // namespace
