// The HID listing on the simulated platform.
#include "tools/hidlist/HidList.h"
#include "hid/Hid.h"
#include "hid/SetupApi.h"
#include "hid/sim/SimHidPlatform.h"

#include <gtest/gtest.h>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using hidsim::SimAccess;
using hidsim::SimDeviceSpec;

SimDeviceSpec Device(const std::string& Path, std::u16string Manufacturer, std::u16string Product,
                     SimAccess Access = SimAccess::ReadWrite) {
    SimDeviceSpec desc;
    desc.Path = Path;
    desc.VendorID = 0x16C0;
    desc.ProductID = 0x05DF;
    desc.Manufacturer = std::move(Manufacturer);
    desc.Product = std::move(Product);
    desc.Access = Access;
    desc.FeatureReportByteLength = 255;
    return desc;
}

// Splits a row into its cells: words, and quoted strings kept whole with their quotes.
std::vector<std::string> Cells(const std::string& Line) {
    std::vector<std::string> cells;
    size_t i = 0;
    while (i < Line.size()) {
        if (Line[i] == ' ') {
            ++i;
            continue;
        }
        std::string cell;
        if (Line[i] == '"') {
            cell += Line[i++];
            while (i < Line.size() && Line[i] != '"') {
                if (Line[i] == '\\' && i + 1 < Line.size()) cell += Line[i++];
                cell += Line[i++];
            }
            if (i < Line.size()) cell += Line[i++];
        } else {
            while (i < Line.size() && Line[i] != ' ') cell += Line[i++];
        }
        cells.push_back(cell);
    }
    return cells;
}

std::vector<std::string> Lines(const std::string& Text) {
    std::vector<std::string> lines;
    std::istringstream in(Text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class HidListTest : public ::testing::Test {
protected:
    void SetUp() override { SetHidPlatform(sim.Platform()); }
    void TearDown() override {
        // Nothing left open or bound, whatever the listing met.
        EXPECT_EQ(sim.OpenHandleCount(), 0);
        EXPECT_EQ(sim.DeviceInfoSetCount(), 0);
        EXPECT_EQ(sim.PreparsedDataCount(), 0);
        EXPECT_EQ(SetupApiBindCount(), 0);
        EXPECT_EQ(HidBindCount(), 0);
        SetHidPlatform(nullptr);
    }

    int Run() {
        out.str("");
        err.str("");
        return ListHidInterfaces(out, err);
    }

    hidsim::SimHidPlatform sim;
    std::ostringstream out;
    std::ostringstream err;
};

struct RowCase {
    std::string path;
    std::string vid, pid, access, match, manufacturer, product;
    std::string note; // empty for none
};

TEST_F(HidListTest, OneRowPerInterfaceWithAccessAndMatch) {
    sim.Plug(Device("/dev/hidraw0", u"Bramlo-kt", u"Ormelix"));
    SimDeviceSpec mouse =
        Device("/dev/hidraw1", u"Logitech", u"USB Optical Mouse", SimAccess::QueryOnly);
    mouse.VendorID = 0x046D;
    mouse.ProductID = 0xC077;
    sim.Plug(mouse);
    sim.Plug(Device("/dev/hidraw2", u"Bramlo-kt", u"Ormelix", SimAccess::QueryOnly));
    // Cannot be opened at all; the device-setup record still knows it.
    SimDeviceSpec locked = Device("/dev/hidraw3", u"Bramlo-kt", u"Ormelix", SimAccess::None);
    locked.SetTextProperty(SPDRP_MFG, "Bramlo-kt");
    locked.SetTextProperty(SPDRP_DEVICEDESC, "Ormelix");
    locked.SetListProperty(SPDRP_HARDWAREID,
                           {"HID\\VID_16C0&PID_05DF&REV_0100", "HID\\VID_16C0&PID_05DF"});
    sim.Plug(locked);
    sim.Plug(Device("/dev/hidraw4", u"Acme", u"Gadget", SimAccess::None));
    SimDeviceSpec mute = Device("/dev/hidraw5", u"Acme", u"Mute");
    mute.Identifiable = false;
    sim.Plug(mute);
    sim.Plug(Device("/dev/hidraw6", u"Bramlo-kt ", u"Ormelix"));
    sim.Plug(Device("/dev/hidraw7", u"bramlo-kt", u"Ormelix"));
    sim.Plug(Device("/dev/hidraw8", u"Bramlo-kt", u"Ormelix2"));
    SimDeviceSpec hidden = Device("/dev/hidraw9", u"Acme", u"Hidden");
    hidden.DetailReadable = false;
    sim.Plug(Device("/dev/hidraw10", u"Bramlo-kt", u"Ormelix", SimAccess::Held));
    sim.Plug(hidden);

    ASSERT_EQ(Run(), 0) << err.str();
    const std::vector<RowCase> expected = {
        {"/dev/hidraw0", "16c0", "05df", "read-write", "yes", "\"Bramlo-kt\"", "\"Ormelix\"", ""},
        {"/dev/hidraw1", "046d", "c077", "query-only", "no", "\"Logitech\"",
         "\"USB Optical Mouse\"", "read-write open refused: permission denied"},
        {"/dev/hidraw2", "16c0", "05df", "query-only", "yes", "\"Bramlo-kt\"", "\"Ormelix\"",
         "read-write open refused: permission denied"},
        {"/dev/hidraw3", "16c0", "05df", "none", "yes", "\"Bramlo-kt\"", "\"Ormelix\"",
         "cannot be opened: permission denied"},
        {"/dev/hidraw4", "-", "-", "none", "?", "-", "-", "cannot be opened: permission denied"},
        {"/dev/hidraw5", "-", "-", "read-write", "?", "-", "-", "opens but cannot be identified"},
        {"/dev/hidraw6", "16c0", "05df", "read-write", "no", "\"Bramlo-kt \"", "\"Ormelix\"", ""},
        {"/dev/hidraw7", "16c0", "05df", "read-write", "no", "\"bramlo-kt\"", "\"Ormelix\"", ""},
        {"/dev/hidraw8", "16c0", "05df", "read-write", "no", "\"Bramlo-kt\"", "\"Ormelix2\"", ""},
        {"/dev/hidraw10", "16c0", "05df", "query-only", "yes", "\"Bramlo-kt\"", "\"Ormelix\"",
         "read-write open refused: in use by another program"},
        {"-", "-", "-", "none", "?", "-", "-", "interface detail cannot be read"},
    };
    const std::vector<std::string> lines = Lines(out.str());
    ASSERT_EQ(lines.size(), expected.size() + 1) << out.str();
    EXPECT_EQ(Cells(lines[0]),
              (std::vector<std::string>{"PATH", "VID", "PID", "ACCESS", "INSTRUMENT",
                                        "MANUFACTURER", "PRODUCT", "NOTE"}));
    for (size_t i = 0; i < expected.size(); ++i) {
        const RowCase& e = expected[i];
        const std::vector<std::string> c = Cells(lines[i + 1]);
        ASSERT_GE(c.size(), 7u) << lines[i + 1];
        EXPECT_EQ(c[0], e.path) << lines[i + 1];
        EXPECT_EQ(c[1], e.vid) << lines[i + 1];
        EXPECT_EQ(c[2], e.pid) << lines[i + 1];
        EXPECT_EQ(c[3], e.access) << lines[i + 1];
        EXPECT_EQ(c[4], e.match) << lines[i + 1];
        EXPECT_EQ(c[5], e.manufacturer) << lines[i + 1];
        EXPECT_EQ(c[6], e.product) << lines[i + 1];
        std::string note;
        for (size_t k = 7; k < c.size(); ++k) note += (k > 7 ? " " : "") + c[k];
        EXPECT_EQ(note, e.note) << lines[i + 1];
    }

    // The instruments that cannot be opened read-write get a hint each; the good one none.
    const std::string hints = err.str();
    EXPECT_EQ(Lines(hints).size(), 3u) << hints;
    EXPECT_NE(hints.find("ormelix-hidlist: /dev/hidraw2 is the instrument but does not open "
                         "read-write: install the udev rule 70-ormelix.rules"),
              std::string::npos)
        << hints;
    EXPECT_NE(hints.find("/dev/hidraw3 is the instrument"), std::string::npos) << hints;
    // Held by another program: closing that program helps, a udev rule would not.
    EXPECT_NE(hints.find("/dev/hidraw10 is the instrument but does not open read-write: another "
                         "program holds it open"),
              std::string::npos)
        << hints;
    // Opening was only tried, never held: no report was exchanged with any device.
    EXPECT_TRUE(sim.FeatureTransfers().empty());
}

TEST_F(HidListTest, NoDevicesIsAHeaderAndExitZero) {
    ASSERT_EQ(Run(), 0);
    const std::vector<std::string> lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 1u) << out.str();
    EXPECT_EQ(lines[0], "PATH  VID  PID  ACCESS  INSTRUMENT  MANUFACTURER  PRODUCT  NOTE");
    EXPECT_EQ(err.str(), "ormelix-hidlist: no HID interface with product \"Ormelix\" and "
                         "manufacturer \"Bramlo-kt\"\n");
}

TEST_F(HidListTest, AGoodInstrumentNeedsNoHint) {
    sim.Plug(Device("/dev/hidraw0", u"Bramlo-kt", u"Ormelix"));
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(err.str(), "");
}

struct LibraryCase {
    const char* library;
    const char* named; // what the error line must name
};

void PrintTo(const LibraryCase& C, std::ostream* Os) {
    *Os << C.library;
}

class MissingLibraryTest : public HidListTest, public ::testing::WithParamInterface<LibraryCase> {};

TEST_P(MissingLibraryTest, OneErrorLineAndExitOne) {
    sim.Plug(Device("/dev/hidraw0", u"Bramlo-kt", u"Ormelix"));
    sim.SetLibraryPresent(GetParam().library, false);
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(out.str(), "");
    const std::vector<std::string> lines = Lines(err.str());
    ASSERT_EQ(lines.size(), 1u) << err.str();
    EXPECT_EQ(lines[0].rfind("ormelix-hidlist: cannot list HID devices: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(GetParam().named), std::string::npos) << lines[0];
}

INSTANTIATE_TEST_SUITE_P(Libraries, MissingLibraryTest,
                         ::testing::Values(LibraryCase{"SetupApi.dll", "libudev.so.1"},
                                           LibraryCase{"HID.dll", "HID library"}));

TEST_F(HidListTest, StringsAreQuotedAndEscapedSoEachInterfaceStaysOneLine) {
    sim.Plug(Device("/dev/hidraw0", u"Evil\nCorp", u"Say \"hi\"\\\t"));
    ASSERT_EQ(Run(), 0);
    const std::vector<std::string> lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 2u) << out.str();
    const std::vector<std::string> c = Cells(lines[1]);
    ASSERT_EQ(c.size(), 7u) << lines[1];
    EXPECT_EQ(c[5], "\"Evil\\x0aCorp\"");
    EXPECT_EQ(c[6], "\"Say \\\"hi\\\"\\\\\\x09\"");
}

TEST_F(HidListTest, ColumnsLineUpByCharactersForNonAsciiStrings) {
    sim.Plug(Device("/dev/hidraw0", u"Брамло", u"Осциллограф"));
    sim.Plug(Device("/dev/hidraw1", u"Bramlo-kt", u"Ormelix"));
    ASSERT_EQ(Run(), 0);
    const std::vector<std::string> lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 3u);
    const auto column = [](const std::string& Line, const std::string& Cell) {
        const std::string head = Line.substr(0, Line.find(Cell));
        size_t chars = 0;
        for (char ch : head) chars += (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
        return chars;
    };
    EXPECT_EQ(column(lines[1], "\"Осциллограф\""), column(lines[0], "PRODUCT"));
    EXPECT_EQ(column(lines[2], "\"Ormelix\""), column(lines[0], "PRODUCT"));
    EXPECT_EQ(Cells(lines[1])[4], "no");
}

struct Utf8Case {
    const char* name;
    std::u16string in;
    std::string out;
};

void PrintTo(const Utf8Case& C, std::ostream* Os) {
    *Os << C.name;
}

class Utf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Test, Converts) {
    EXPECT_EQ(Utf8FromUtf16(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Utf8Test,
    ::testing::Values(Utf8Case{"empty", u"", ""}, Utf8Case{"ascii", u"Ormelix", "Ormelix"},
                      Utf8Case{"two bytes", u"\u00e9", "\xc3\xa9"},
                      Utf8Case{"cyrillic", u"Ж", "\xd0\x96"},
                      Utf8Case{"three bytes", u"\u20ac", "\xe2\x82\xac"},
                      Utf8Case{"surrogate pair", u"\U0001F4C8", "\xf0\x9f\x93\x88"},
                      Utf8Case{"lone high surrogate", std::u16string(1, char16_t(0xD83D)) + u"x",
                               "\xef\xbf\xbdx"},
                      Utf8Case{"lone low surrogate", std::u16string(1, char16_t(0xDC88)),
                               "\xef\xbf\xbd"}));

} // namespace
