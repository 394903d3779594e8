#include "hid/linux/HidReportDescriptor.h"
#include "tests/hid/linux/Descriptors.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>

using hidlinux::ParseReportDescriptor;
using hidlinux::ReportDescriptorInfo;
using hidlinux::ReportKind;

namespace {

// Parameterised cases print as their names.
template <class Case> auto operator<<(std::ostream& Os, const Case& C) -> decltype(C.Name, Os) {
    return Os << C.Name;
}

struct DescriptorCase {
    const char* Name;
    const std::vector<uint8_t>* Bytes;
    uint32_t InputBytes, OutputBytes, FeatureBytes;
    bool UsesIds;
    uint16_t UsagePage, Usage;
    uint32_t Collections;
    bool Truncated;
};

// Names the case in test listings.
void PrintTo(const DescriptorCase& P, std::ostream* Os) {
    *Os << P.Name;
}

const DescriptorCase kCases[] = {
    {"Instrument", &descriptors::kInstrument, 0, 0, 254, false, 0xFF00, 1, 1, false},
    {"Mouse", &descriptors::kMouse, 3, 0, 0, false, 0x01, 0x02, 2, false},
    {"Keyboard", &descriptors::kKeyboard, 8, 1, 0, false, 0x01, 0x06, 1, false},
    {"Numbered", &descriptors::kNumbered, 7, 4, 16, true, 0xFF00, 1, 1, false},
    {"PushPop", &descriptors::kPushPop, 10, 0, 0, false, 0x01, 0x00, 1, false},
    {"LongItem", &descriptors::kLongItem, 0, 0, 254, false, 0xFF00, 1, 1, false},
    // Everything up to the cut is kept: the collection was opened, no report declared yet.
    {"Truncated", &descriptors::kTruncated, 0, 0, 0, false, 0xFF00, 1, 1, true},
};

class DescriptorTest : public testing::TestWithParam<DescriptorCase> {};

TEST_P(DescriptorTest, LengthsIdsAndUsage) {
    const DescriptorCase& c = GetParam();
    const ReportDescriptorInfo info = ParseReportDescriptor(*c.Bytes);
    EXPECT_EQ(info.MaxBytes(ReportKind::Input), c.InputBytes);
    EXPECT_EQ(info.MaxBytes(ReportKind::Output), c.OutputBytes);
    EXPECT_EQ(info.MaxBytes(ReportKind::Feature), c.FeatureBytes);
    EXPECT_EQ(info.UsesReportIds, c.UsesIds);
    EXPECT_EQ(info.UsagePage, c.UsagePage);
    EXPECT_EQ(info.Usage, c.Usage);
    EXPECT_EQ(info.CollectionCount, c.Collections);
    EXPECT_EQ(info.Truncated, c.Truncated);
    EXPECT_FALSE(info.Malformed);
}

INSTANTIATE_TEST_SUITE_P(Descriptors, DescriptorTest, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(DescriptorReports, NumberedReportsAreKeptApartByKindAndId) {
    const ReportDescriptorInfo info = ParseReportDescriptor(descriptors::kNumbered);
    EXPECT_EQ(info.BitsOf(ReportKind::Input, 1), 24u);
    EXPECT_EQ(info.BitsOf(ReportKind::Input, 2), 56u);
    EXPECT_EQ(info.BitsOf(ReportKind::Feature, 3), 128u);
    EXPECT_EQ(info.BitsOf(ReportKind::Output, 1), 32u);
    EXPECT_EQ(info.BitsOf(ReportKind::Feature, 1), 0u);
    ASSERT_EQ(info.Reports.size(), 4u);
    for (size_t i = 1; i < info.Reports.size(); ++i) {
        const auto& a = info.Reports[i - 1];
        const auto& b = info.Reports[i];
        EXPECT_TRUE(a.Kind < b.Kind || (a.Kind == b.Kind && a.ReportId < b.ReportId));
    }
}

TEST(DescriptorReports, UnnumberedBitsRoundUpToWholeBytes) {
    // 3 x 3 bits of input = 9 bits: two bytes.
    const std::vector<uint8_t> d = {0x05, 0x01, 0x09, 0x00, 0xA1, 0x01, 0x75,
                                    0x03, 0x95, 0x03, 0x81, 0x02, 0xC0};
    const ReportDescriptorInfo info = ParseReportDescriptor(d);
    EXPECT_EQ(info.BitsOf(ReportKind::Input, 0), 9u);
    EXPECT_EQ(info.MaxBytes(ReportKind::Input), 2u);
}

TEST(DescriptorReports, ExtendedUsageCarriesItsOwnPage) {
    // Usage Page 1, then a 4-byte usage 0xFF00:0005 before the collection.
    const std::vector<uint8_t> d = {0x05, 0x01, 0x0B, 0x05, 0x00, 0x00, 0xFF, 0xA1, 0x01, 0xC0};
    const ReportDescriptorInfo info = ParseReportDescriptor(d);
    EXPECT_EQ(info.UsagePage, 0xFF00);
    EXPECT_EQ(info.Usage, 0x0005);
}

struct MalformedCase {
    const char* Name;
    std::vector<uint8_t> Bytes;
    uint32_t InputBytes;
};

// Nonsense items are ignored, flagged, and do not stop the walk.
const MalformedCase kMalformed[] = {
    {"PopWithoutPush", {0x75, 0x08, 0x95, 0x02, 0xB4, 0x81, 0x02}, 2},
    {"EndWithoutCollection", {0xC0, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}, 1},
    {"ReportIdZero", {0x85, 0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}, 1},
    {"ReportIdAbove255", {0x86, 0x00, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}, 1},
    {"ReservedItemType", {0x0C, 0x75, 0x08, 0x95, 0x03, 0x81, 0x02}, 3},
};

class MalformedDescriptorTest : public testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedDescriptorTest, IgnoredAndFlagged) {
    const ReportDescriptorInfo info = ParseReportDescriptor(GetParam().Bytes);
    EXPECT_TRUE(info.Malformed);
    EXPECT_FALSE(info.UsesReportIds);
    EXPECT_EQ(info.MaxBytes(ReportKind::Input), GetParam().InputBytes);
}

INSTANTIATE_TEST_SUITE_P(Descriptors, MalformedDescriptorTest, testing::ValuesIn(kMalformed),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(DescriptorSafety, DeepPushIsBoundedAndPopRestoresTheLastKept) {
    std::vector<uint8_t> d = {0x75, 0x08, 0x95, 0x01};
    for (int i = 0; i < 100; ++i) d.push_back(0xA4);
    d.insert(d.end(), {0x95, 0x05, 0xB4, 0x81, 0x02});
    const ReportDescriptorInfo info = ParseReportDescriptor(d);
    EXPECT_TRUE(info.Malformed);
    EXPECT_EQ(info.MaxBytes(ReportKind::Input), 1u);
}

TEST(DescriptorSafety, HugeSizeTimesCountSaturates) {
    // Report Size and Count of 0xFFFFFFFF each, twice: the total stays at UINT32_MAX bits.
    const std::vector<uint8_t> d = {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF,
                                    0xFF, 0xFF, 0xFF, 0x81, 0x02, 0x81, 0x02};
    const ReportDescriptorInfo info = ParseReportDescriptor(d);
    EXPECT_EQ(info.BitsOf(ReportKind::Input, 0), 0xFFFFFFFFu);
    EXPECT_EQ(info.MaxBytes(ReportKind::Input), 0x20000000u);
}

TEST(DescriptorSafety, LongItemCutInsideItsData) {
    const std::vector<uint8_t> d = {0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0xFE, 0x05, 0x10, 0x01};
    const ReportDescriptorInfo info = ParseReportDescriptor(d);
    EXPECT_TRUE(info.Truncated);
    EXPECT_EQ(info.MaxBytes(ReportKind::Input), 1u);
}

TEST(DescriptorSafety, RandomBytesGiveConsistentResults) {
    std::mt19937 random(12345);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> d(random() % 300);
        for (auto& b : d) b = static_cast<uint8_t>(random());
        const ReportDescriptorInfo info = ParseReportDescriptor(d);
        std::array<uint32_t, 3> largest{};
        for (const auto& r : info.Reports) {
            auto& l = largest[static_cast<size_t>(r.Kind)];
            l = std::max(l, r.Bits / 8 + (r.Bits % 8 != 0));
            if (!info.UsesReportIds) {
                EXPECT_EQ(r.ReportId, 0);
            }
        }
        EXPECT_EQ(largest, info.MaxReportBytes);
    }
}

} // namespace
