#include "app/Unit1.h"
#include "tests/common/CommaLocale.h"

#include <clocale>
#include <gtest/gtest.h>
#include <iomanip>
#include <ostream>

namespace {

struct VoltsCase {
    long double volts;
    int decimals;
    const char* text;
};

// Names the case in test listings.
void PrintTo(const VoltsCase& P, std::ostream* Os) {
    *Os << P.text << " from " << std::setprecision(21) << P.volts << " to " << P.decimals;
}

class FormatVoltsTest : public ::testing::TestWithParam<VoltsCase> {};

TEST_P(FormatVoltsTest, RoundsHalvesAwayFromZeroOnEighteenDigits) {
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(FormatVolts(GetParam().volts, GetParam().decimals), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormatVoltsTest,
    ::testing::Values(VoltsCase{100 * 1.1L / 64, 2, "1.72"},  // 1.71875
                      VoltsCase{5 * 1.1L / 44, 2, "0.13"},    // 0.125: a half after 18 digits
                      VoltsCase{0.25L, 1, "0.3"},             // printf would give 0.2
                      VoltsCase{0.05L, 1, "0.1"},             //
                      VoltsCase{0.95L, 1, "1.0"},             // carry into the units
                      VoltsCase{9.96L, 1, "10.0"},            // carry adds a digit
                      VoltsCase{0.0L, 2, "0.00"},             //
                      VoltsCase{0.01L, 1, "0.0"},             //
                      VoltsCase{1.0L, 1, "1.0"},              //
                      VoltsCase{255 * 1.1L / 1, 2, "280.50"}, // widest read-out
                      VoltsCase{4.0L, 1, "4.0"},              //
                      VoltsCase{-0.05L, 1, "-0.1"},           // away from zero both ways
                      VoltsCase{0.004L, 2, "0.00"},           //
                      VoltsCase{0.006L, 2, "0.01"},           // no digit kept, rounds up
                      VoltsCase{0.00096L, 2, "0.00"},         // rounding digit beyond reach
                      VoltsCase{123456.785L, 2, "123456.79"}));

TEST(FormatVolts, UsesTheLocaleDecimalSeparator) {
    if (!UseCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma installed";
    EXPECT_EQ(FormatVolts(100 * 1.1L / 64, 2), "1,72");
    EXPECT_EQ(FormatVolts(1.0L, 1), "1,0");
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(FormatVolts(1.0L, 1), "1.0");
}

} // namespace
