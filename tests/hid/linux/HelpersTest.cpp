#include "hid/linux/HidLinuxHelpers.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

using namespace hidlinux;

namespace {

// Parameterised cases print as their names.
template <class Case> auto operator<<(std::ostream& Os, const Case& C) -> decltype(C.Name, Os) {
    return Os << C.Name;
}

// --- input reports --------------------------------------------------------------------------

struct InputCase {
    const char* Name;
    std::vector<uint8_t> Raw;
    bool UsesIds;
    size_t OutSize;
    std::vector<uint8_t> Expected;
};

const InputCase kInputCases[] = {
    {"UnnumberedGetsIdZero", {0x11, 0x22, 0x33}, false, 4, {0x00, 0x11, 0x22, 0x33}},
    {"NumberedKeepsItsId", {0x02, 0x11, 0x22}, true, 3, {0x02, 0x11, 0x22}},
    {"UnnumberedCutToTheBuffer", {0x11, 0x22, 0x33}, false, 3, {0x00, 0x11, 0x22}},
    {"NumberedCutToTheBuffer", {0x02, 0x11, 0x22}, true, 2, {0x02, 0x11}},
    {"UnnumberedIntoOneByte", {0x11}, false, 1, {0x00}},
    {"NothingFitsNowhere", {0x11}, false, 0, {}},
};

class InputReportTest : public testing::TestWithParam<InputCase> {};

TEST_P(InputReportTest, LandsInWin32Layout) {
    const InputCase& c = GetParam();
    // One guard byte after the stated size must stay as it was.
    std::vector<uint8_t> out(c.OutSize + 1, 0xEE);
    const size_t n =
        NormaliseInputReport(c.Raw, c.UsesIds, std::span<uint8_t>(out.data(), c.OutSize));
    ASSERT_EQ(n, c.Expected.size());
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + static_cast<long>(n)), c.Expected);
    EXPECT_EQ(out.back(), 0xEE);
}

INSTANTIATE_TEST_SUITE_P(Helpers, InputReportTest, testing::ValuesIn(kInputCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// --- feature reports ------------------------------------------------------------------------

// What the kernel leaves in the buffer after HIDIOCGFEATURE(Request): with the ID slot kept
// (usbhid, i2c-hid) or for a numbered report, byte 0 is the ID and the data follows; otherwise
// the data starts at byte 0.
int KernelFeatureReply(std::vector<uint8_t>& Buffer, size_t Request, uint8_t Id, bool KeepsSlot,
                       const std::vector<uint8_t>& DeviceData) {
    if (Id != 0 || KeepsSlot) {
        Buffer[0] = Id;
        const size_t n = std::min(DeviceData.size(), Request - 1);
        std::memcpy(Buffer.data() + 1, DeviceData.data(), n);
        return static_cast<int>(n + 1);
    }
    const size_t n = std::min(DeviceData.size(), Request);
    std::memcpy(Buffer.data(), DeviceData.data(), n);
    return static_cast<int>(n);
}

struct FeatureCase {
    const char* Name;
    uint32_t Bus;
    bool UsbParent;
    uint8_t Id;
    size_t CallerLength;
    size_t DataLength;
};

const FeatureCase kFeatureCases[] = {
    {"InstrumentOverUsb", 0x03, true, 0, 255, 254},
    {"InstrumentOverI2c", 0x18, false, 0, 255, 254},
    {"InstrumentOverBluetooth", 0x05, false, 0, 255, 254},
    {"InstrumentOverVirtualBus", 0x06, false, 0, 255, 254},
    {"InstrumentClaimingUsbOverUhid", 0x03, false, 0, 255, 254},
    {"NumberedOverUsb", 0x03, true, 3, 17, 16},
    {"NumberedOverBluetooth", 0x05, false, 3, 17, 16},
    {"ShortReplyOverBluetooth", 0x05, false, 0, 255, 10},
};

class FeatureReportTest : public testing::TestWithParam<FeatureCase> {};

TEST_P(FeatureReportTest, ReplyEndsWithIdAtByteZeroAndAllData) {
    const FeatureCase& c = GetParam();
    std::vector<uint8_t> data(c.DataLength);
    std::iota(data.begin(), data.end(), uint8_t{1});

    const bool keeps = FeatureReplyKeepsIdSlot(c.Bus, c.UsbParent);
    const size_t request = FeatureRequestLength(c.CallerLength, c.Id, keeps);
    ASSERT_LE(request, c.CallerLength);
    std::vector<uint8_t> buffer(c.CallerLength, 0);
    buffer[0] = c.Id;
    const int got = KernelFeatureReply(buffer, request, c.Id, keeps, data);
    const size_t n = NormaliseFeatureReply(buffer, static_cast<size_t>(got), c.Id, keeps);

    ASSERT_EQ(n, c.DataLength + 1);
    EXPECT_EQ(buffer[0], c.Id);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 1, buffer.begin() + static_cast<long>(n)),
              data);
}

INSTANTIATE_TEST_SUITE_P(Helpers, FeatureReportTest, testing::ValuesIn(kFeatureCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(FeatureReport, UsbInstrumentIsTakenAsTheKernelGivesIt) {
    // Measured through usbhid: 255 requested, 255 returned, byte 0 still 0, data at 1..254.
    EXPECT_EQ(FeatureRequestLength(255, 0, FeatureReplyKeepsIdSlot(0x03, true)), 255u);
    std::vector<uint8_t> buffer(255);
    for (size_t i = 1; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i);
    const std::vector<uint8_t> before = buffer;
    EXPECT_EQ(NormaliseFeatureReply(buffer, 255, 0, true), 255u);
    EXPECT_EQ(buffer, before);
}

// --- UTF-8 to UTF-16 ------------------------------------------------------------------------

struct Utf16Case {
    const char* Name;
    std::string Utf8;
    size_t Units;
    std::u16string Expected;
    bool Nul;
};

const Utf16Case kUtf16Cases[] = {
    {"Product", "Ormelix", 254, u"Ormelix", true},
    {"Cyrillic", "\xD0\x91\xD1\x80\xD0\xB0\xD0\xBC\xD0\xBB\xD0\xBE", 254, u"Брамло", true},
    {"Exactly254FillsWithoutNul", std::string(254, 'A'), 254, std::u16string(254, u'A'), false},
    {"LongerIsCut", std::string(300, 'B'), 254, std::u16string(254, u'B'), false},
    {"OneUnitLeftForNul", std::string(253, 'C'), 254, std::u16string(253, u'C'), true},
    {"SurrogatePair", "x\xF0\x9F\x98\x80", 8, u"x\U0001F600", true},
    {"PairThatDoesNotFitIsLeftOut", "x\xF0\x9F\x98\x80", 2, u"x", true},
    {"LoneLeadByte", "a\xC3", 8, u"a\uFFFD", true},
    {"CutThreeByteSequenceIsOneReplacement", "\xE2\x82z", 8, u"\uFFFDz", true},
    {"EncodedSurrogateIsRejected", "\xED\xA0\x80", 8, u"\uFFFD\uFFFD\uFFFD", true},
    {"OverlongSlash", "\xC0\xAF", 8, u"\uFFFD\uFFFD", true},
    {"AboveUnicode", "\xF4\x90\x80\x80", 8, u"\uFFFD\uFFFD\uFFFD\uFFFD", true},
    {"StrayContinuationAndFF", "\x80\xFFok", 8, u"\uFFFD\uFFFDok", true},
    {"ZeroUnits", "abc", 0, u"", false},
};

class Utf16Test : public testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16Test, BoundedConversion) {
    const Utf16Case& c = GetParam();
    std::vector<char16_t> out(c.Units + 4, u'\x7777');
    const size_t n = Utf8ToUtf16Bounded(c.Utf8, out.data(), c.Units);
    EXPECT_EQ(std::u16string(out.data(), n), c.Expected);
    if (c.Nul) {
        EXPECT_EQ(out[n], u'\0');
    } else {
        EXPECT_EQ(n, c.Units);
    }
    for (size_t i = c.Units; i < out.size(); ++i) EXPECT_EQ(out[i], u'\x7777') << i;
}

INSTANTIATE_TEST_SUITE_P(Helpers, Utf16Test, testing::ValuesIn(kUtf16Cases),
                         [](const auto& info) { return std::string(info.param.Name); });

// --- device instances -----------------------------------------------------------------------

struct InstanceCase {
    const char* Name;
    const char* Sysname;
    const char* Node;
    uint32_t Expected; // 0: not a sequence number, the hash with the top bit set
};

const InstanceCase kInstanceCases[] = {
    {"Usb", "0003:046D:C52B.0007", "hidraw0", 0x7},
    {"ReplugGetsTheNextNumber", "0003:046D:C52B.0008", "hidraw0", 0x8},
    {"Bluetooth", "0005:054C:09CC.00AB", "hidraw0", 0xAB},
    {"NodeIsPartOfIt", "0003:046D:C52B.0007", "hidraw5", 0x05000007},
    {"LastNodeAndSequence", "0003:1234:5678.FFFFFF", "hidraw127", 0x7FFFFFFF},
    {"NodeBeyondTheField", "0003:1234:5678.0001", "hidraw128", 0},
    {"NotANode", "0003:1234:5678.0001", "hidrawX", 0},
    {"LongSequence", "0003:1234:5678.1000000", "hidraw0", 0},
    {"SequenceWithTopBit", "0003:1234:5678.80000000", "hidraw0", 0},
    {"SequenceZero", "0003:1234:5678.0000", "hidraw0", 0},
    {"NotHexSequence", "0003:1234:5678.00G1", "hidraw0", 0},
    {"NoDot", "0003:1234:5678", "hidraw0", 0},
    {"MissingField", "0003:5678.0001", "hidraw0", 0},
    {"Empty", "", "hidraw0", 0},
};

class InstanceTest : public testing::TestWithParam<InstanceCase> {};

TEST_P(InstanceTest, Derivation) {
    const uint32_t v = DeriveDeviceInstance(GetParam().Sysname, GetParam().Node);
    if (GetParam().Expected != 0) {
        EXPECT_EQ(v, GetParam().Expected);
    } else {
        EXPECT_NE(v & 0x80000000u, 0u);
        // stable across scans
        EXPECT_EQ(v, DeriveDeviceInstance(GetParam().Sysname, GetParam().Node));
    }
}

INSTANTIATE_TEST_SUITE_P(Helpers, InstanceTest, testing::ValuesIn(kInstanceCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(Instance, OddNamesStillTellDevicesApart) {
    EXPECT_NE(DeriveDeviceInstance("weird-a", "hidraw0"),
              DeriveDeviceInstance("weird-b", "hidraw0"));
    // A rebind that moves the device to another node is another interface.
    EXPECT_NE(DeriveDeviceInstance("weird-a", "hidraw1"),
              DeriveDeviceInstance("weird-a", "hidraw2"));
}

// --- sysfs text -----------------------------------------------------------------------------

TEST(SysfsText, UeventAndHidId) {
    const std::string uevent = "DRIVER=hid-generic\nHID_ID=0003:00001234:0000ABCD\n"
                               "HID_NAME=Bramlo-kt Ormelix\nHID_UNIQ=\n";
    EXPECT_EQ(UeventValue(uevent, "HID_NAME"), "Bramlo-kt Ormelix");
    EXPECT_EQ(UeventValue(uevent, "HID_UNIQ"), "");
    EXPECT_EQ(UeventValue(uevent, "HID"), std::nullopt);
    EXPECT_EQ(UeventValue(uevent, "MODALIAS"), std::nullopt);

    const auto id = ParseHidId(*UeventValue(uevent, "HID_ID"));
    ASSERT_TRUE(id);
    EXPECT_EQ(id->Bus, 3u);
    EXPECT_EQ(id->Vendor, 0x1234);
    EXPECT_EQ(id->Product, 0xABCD);
    EXPECT_FALSE(ParseHidId("0003:00001234"));
    EXPECT_FALSE(ParseHidId("0003:00011234:0000ABCD")); // vendor wider than 16 bits
    EXPECT_FALSE(ParseHidId("0003:xyz:0000ABCD"));
}

} // namespace
