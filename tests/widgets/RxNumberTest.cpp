#include "widgets/RxNumber.h"

#include "tests/common/CommaLocale.h"

#include <cmath>
#include <gtest/gtest.h>
#include <ostream>

using namespace rxnum;

namespace {

struct FloatCase {
    const char* Text;
    const char* Separator;
    bool Ok;
    long double Expected;
};

// Names the case in test listings.
void PrintTo(const FloatCase& P, std::ostream* Os) {
    *Os << '"' << P.Text << "\" with '" << P.Separator << "'";
}

class TextToFloatTest : public ::testing::TestWithParam<FloatCase> {};

TEST_P(TextToFloatTest, ParsesOrRefuses) {
    const FloatCase& C = GetParam();
    const auto V = TextToFloat(QString::fromUtf8(C.Text), QString::fromUtf8(C.Separator));
    ASSERT_EQ(V.has_value(), C.Ok) << C.Text;
    if (C.Ok) {
        EXPECT_EQ(*V, C.Expected) << C.Text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextToFloatTest,
    ::testing::Values(FloatCase{"1.5", ".", true, 1.5L}, FloatCase{"0.01", ".", true, 0.01L},
                      FloatCase{" 2 ", ".", true, 2.0L}, FloatCase{"-0.25", ".", true, -0.25L},
                      FloatCase{"+3", ".", true, 3.0L}, FloatCase{"1e3", ".", true, 1000.0L},
                      FloatCase{"1E-2", ".", true, 0.01L}, FloatCase{"2.5e+1", ".", true, 25.0L},
                      FloatCase{".5", ".", true, 0.5L}, FloatCase{"5.", ".", true, 5.0L},
                      FloatCase{"1,5", ",", true, 1.5L}, FloatCase{"-2,7", ",", true, -2.7L},
                      FloatCase{"1e-5000", ".", true, 0.0L}, FloatCase{"", ".", false, 0},
                      FloatCase{"-", ".", false, 0}, FloatCase{".", ".", false, 0},
                      FloatCase{"1e", ".", false, 0}, FloatCase{"1e+", ".", false, 0},
                      FloatCase{"1.2.3", ".", false, 0}, FloatCase{"1,5", ".", false, 0},
                      FloatCase{"1.5", ",", false, 0}, FloatCase{"abc", ".", false, 0},
                      FloatCase{"1 2", ".", false, 0}, FloatCase{"0x10", ".", false, 0},
                      FloatCase{"inf", ".", false, 0}, FloatCase{"1e99999", ".", false, 0},
                      FloatCase{"\xD9\xA1", ".", false, 0} /* Arabic-Indic one */));

// The text is read the same whatever decimal point the C library's numeric locale has.
TEST(TextToFloatLocale, ReadsTheSameUnderADecimalCommaLocale) {
    if (!UseCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma installed";
    const auto point = TextToFloat(QStringLiteral("2.5e+1"), QStringLiteral("."));
    const auto comma = TextToFloat(QStringLiteral("-2,7"), QStringLiteral(","));
    const auto fraction = TextToFloat(QStringLiteral("0.01"), QStringLiteral("."));
    const auto wrongSeparator = TextToFloat(QStringLiteral("1,5"), QStringLiteral("."));
    const auto tooLarge = TextToFloat(QStringLiteral("1e99999"), QStringLiteral("."));
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(point, 25.0L);
    EXPECT_EQ(comma, -2.7L);
    EXPECT_EQ(fraction, 0.01L);
    EXPECT_FALSE(wrongSeparator.has_value());
    EXPECT_FALSE(tooLarge.has_value());
}

struct IntCase {
    const char* Text;
    bool Ok;
    int32_t Expected;
};

// Names the case in test listings.
void PrintTo(const IntCase& P, std::ostream* Os) {
    *Os << '"' << P.Text << '"';
}

class TextToIntTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(TextToIntTest, ParsesOrRefuses) {
    const IntCase& C = GetParam();
    const auto V = TextToInt(QString::fromUtf8(C.Text));
    ASSERT_EQ(V.has_value(), C.Ok) << C.Text;
    if (C.Ok) {
        EXPECT_EQ(*V, C.Expected) << C.Text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextToIntTest,
    ::testing::Values(IntCase{"42", true, 42}, IntCase{" 7", true, 7}, IntCase{"007", true, 7},
                      IntCase{"+0", true, 0}, IntCase{"-2147483648", true, INT32_MIN},
                      IntCase{"2147483647", true, INT32_MAX}, IntCase{"2147483648", false, 0},
                      IntCase{"-2147483649", false, 0}, IntCase{"99999999999999999999", false, 0},
                      IntCase{"", false, 0}, IntCase{"-", false, 0}, IntCase{"7 ", false, 0},
                      IntCase{"1.0", false, 0}, IntCase{"$10", false, 0}));

class HexToIntTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(HexToIntTest, ParsesOrRefuses) {
    const IntCase& C = GetParam();
    const auto V = HexToInt(QString::fromUtf8(C.Text));
    ASSERT_EQ(V.has_value(), C.Ok) << C.Text;
    if (C.Ok) {
        EXPECT_EQ(*V, C.Expected) << C.Text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, HexToIntTest,
    ::testing::Values(IntCase{"FF", true, 255}, IntCase{"ff", true, 255}, IntCase{"0", true, 0},
                      IntCase{"000000010", true, 16}, IntCase{"7FFFFFFF", true, INT32_MAX},
                      IntCase{"FFFFFFFF", true, -1}, IntCase{"80000000", true, INT32_MIN},
                      IntCase{"100000000", false, 0}, IntCase{"", false, 0}, IntCase{"G", false, 0},
                      IntCase{"-1", false, 0}, IntCase{" 1", false, 0}, IntCase{"$1", false, 0}));

TEST(RoundToInt64, HalvesGoToEvenAndLimitsSaturate) {
    const struct {
        long double In;
        int64_t Out;
    } Cases[] = {{2.5L, 2},
                 {3.5L, 4},
                 {-2.5L, -2},
                 {-3.5L, -4},
                 {0.5L, 0},
                 {1.5L, 2},
                 {2.4999L, 2},
                 {2.5001L, 3},
                 {1e30L, INT64_MAX},
                 {-1e30L, INT64_MIN},
                 {-9223372036854775808.0L, INT64_MIN}};
    for (const auto& C : Cases) EXPECT_EQ(RoundToInt64(C.In), C.Out) << double(C.In);
    EXPECT_FALSE(RoundToInt64(std::nanl("")).has_value());
}

TEST(TruncToInt64, TowardZero) {
    EXPECT_EQ(TruncToInt64(2.99L), 2);
    EXPECT_EQ(TruncToInt64(-2.7L), -2);
    EXPECT_EQ(TruncToInt64(1e30L), INT64_MAX);
    EXPECT_EQ(TruncToInt64(std::nanl("")), 0);
}

struct FixedCase {
    long double Value;
    int Decimals;
    const char* Separator;
    const char* Expected;
};

// Names the case in test listings.
void PrintTo(const FixedCase& P, std::ostream* Os) {
    *Os << P.Expected;
}

class FormatFixedTest : public ::testing::TestWithParam<FixedCase> {};

TEST_P(FormatFixedTest, Formats) {
    const FixedCase& C = GetParam();
    EXPECT_EQ(FormatFixed(C.Value, C.Decimals, QString::fromUtf8(C.Separator)),
              QString::fromUtf8(C.Expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, FormatFixedTest,
    ::testing::Values(FixedCase{0.01L, 2, ".", "0.01"}, FixedCase{4.0L, 2, ".", "4.00"},
                      FixedCase{12.5L, 2, ",", "12,50"}, FixedCase{0.0L, 3, ".", "0.000"},
                      FixedCase{-0.001L, 2, ".", "0.00"}, FixedCase{7.0L, 0, ".", "7"},
                      FixedCase{1.234L, 2, ".", "1.23"}, FixedCase{-1000.5L, 2, ".", "-1000.50"},
                      // 15 significant digits, the rest padded with zeros.
                      FixedCase{1.0L / 3.0L, 20, ".", "0.33333333333333300000"},
                      FixedCase{123456789.123456789L, 10, ".", "123456789.1234570000"},
                      FixedCase{99999999999999.9L, 0, ".", "100000000000000"},
                      // Past 15 integer digits the exponent form takes over.
                      FixedCase{1e15L, 2, ".", "1E15"}, FixedCase{1.5e20L, 2, ",", "1,5E20"}));

TEST(FormatHex, UpperCaseAndNegativesReadBack) {
    EXPECT_EQ(FormatHex(255), "FF");
    EXPECT_EQ(FormatHex(0), "0");
    EXPECT_EQ(FormatHex(0x1234ABCD), "1234ABCD");
    EXPECT_EQ(FormatHex(-1), "FFFFFFFF");
    EXPECT_EQ(FormatHex(INT32_MIN), "80000000");
    EXPECT_EQ(FormatHex(-4294967296LL), "FFFFFFFF00000000");
    for (int32_t V : {-1, -2, -255, INT32_MIN, 0, 16, INT32_MAX})
        EXPECT_EQ(HexToInt(FormatHex(V)), V);
}

} // namespace
