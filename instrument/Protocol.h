// The Ormelix instrument as the console meets it: its USB identity, the HID report descriptor
// it serves, the 254-byte record that travels both ways in feature report 0, the command codes
// the record carries to it, and how the record's byte values read as volts. Everything else
// that speaks to the instrument (the console, the simulated platform, ormelix-hidlist,
// ormelix-sim, the fuzzers) takes these from here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace instrument {

// --- identity: the console takes the device whose USB strings are exactly these.
inline constexpr char Product[] = "Ormelix";
inline constexpr char Manufacturer[] = "Bramlo-kt";

// The same ASCII text as UTF-16, as HID devices report their strings.
template <std::size_t N> constexpr std::array<char16_t, N> Widened(const char (&Ascii)[N]) {
    std::array<char16_t, N> wide{};
    for (std::size_t i = 0; i < N; ++i) wide[i] = static_cast<unsigned char>(Ascii[i]);
    return wide;
}
inline constexpr std::array<char16_t, sizeof Product> ProductWide = Widened(Product);
inline constexpr std::array<char16_t, sizeof Manufacturer> ManufacturerWide = Widened(Manufacturer);

// The USB ids and release the simulator serves (a shared V-USB pair: the strings identify the
// instrument, never the ids).
constexpr uint16_t VendorId = 0x16C0;
constexpr uint16_t ProductId = 0x05DF;
constexpr uint16_t VersionNumber = 0x0100;

// --- the record and its report
constexpr int RecordSize = 254;
constexpr uint8_t ReportId = 0;            // the report carries no ID item, so ID 0 names it
constexpr int ReportSize = RecordSize + 1; // the report ID byte, then the record

// Byte map. The traces interleave: point i of S1 is byte 2i, of S2 byte 2i + 1.
constexpr int SamplePoints = 121;
constexpr int SampleByte(int Signal, int Point) {
    return 2 * Point + Signal;
}
constexpr int PollPeriod = 240; // also S1's last point
constexpr int ScaleByte = 245;
constexpr int MinS1 = 246;
constexpr int MaxS1 = 247;
constexpr int MinS2 = 248;
constexpr int MaxS2 = 249;
constexpr int CursorPos = 250;
constexpr int CommandCode = 253;
static_assert(SampleByte(1, SamplePoints - 1) < ScaleByte && CommandCode == RecordSize - 1);

// Values of CommandCode. The instrument acknowledges none of them.
namespace command {
constexpr uint8_t Normal = 0;
constexpr uint8_t ReadStored = 1;    // the next record carries the EEPROM's poll period and scale
constexpr uint8_t SaveStored = 2;    // store the record's PollPeriod in the EEPROM
constexpr uint8_t ResetWorking = 32; // working variables back to the stored ones
constexpr uint8_t Os1Off = 48;       // indicator OS1 test
constexpr uint8_t Os1On = 49;
constexpr uint8_t Os2Off = 64; // output OS2 test
constexpr uint8_t Os2On = 65;
} // namespace command

// --- the HID report descriptor: one unnumbered vendor-defined feature report of RecordSize
// bytes.
constexpr uint16_t UsagePage = 0xFF00;
constexpr uint8_t Usage = 1;
inline const std::vector<uint8_t>& ReportDescriptor() {
    static const std::vector<uint8_t> descriptor = {
        0x06,
        UsagePage & 0xFF,
        UsagePage >> 8, // Usage Page (vendor defined)
        0x09,
        Usage, // Usage
        0xA1,
        0x01, // Collection (Application)
        0x15,
        0x00, //   Logical Minimum (0)
        0x26,
        0xFF,
        0x00, //   Logical Maximum (255)
        0x75,
        0x08, //   Report Size (8)
        0x96,
        RecordSize & 0xFF,
        RecordSize >> 8, //   Report Count
        0x09,
        Usage, //   Usage
        0xB1,
        0x02, //   Feature (Data, Variable, Absolute)
        0xC0, // End Collection
    };
    return descriptor;
}

// --- volts. A byte value b stands for b × 1.1 / scale volts, scale being the record's
// ScaleByte. The console computes in 80-bit extended precision in exactly these orders of
// operations: its pixels and printed voltages depend on the last bit. A scale of 0 is the
// caller's to refuse.
constexpr long double VoltFactor = 1.1L;

// b × 1.1 first, then divided by the scale.
inline long double ByteVolts(uint8_t Value, int32_t Scale) {
    return (static_cast<long double>(Value) * VoltFactor) / static_cast<long double>(Scale);
}

// A level in byte units, not yet truncated: volts × scale rounded to extended precision, then
// divided by 1.1.
inline long double LevelBytes(long double Volts, int32_t Scale) {
    const long double product = Volts * static_cast<long double>(Scale);
    return product / VoltFactor;
}

// Whole volts in byte units, truncated: the integer form of trunc(volts × scale / 1.1) with 1.1
// in extended precision. Double precision would come out one lower for some multiples of 11.
constexpr int32_t WholeVoltBytes(int32_t Volts, int32_t Scale) {
    return (10 * Volts * Scale) / 11;
}

constexpr bool WholeVoltBytesTruncateTheQuotient() {
    for (int32_t scale = 0; scale <= 255; ++scale)
        for (int32_t volts = 1; volts <= 4; ++volts)
            if (WholeVoltBytes(volts, scale) !=
                static_cast<int32_t>(static_cast<long double>(volts * scale) / VoltFactor))
                return false;
    return true;
}
static_assert(WholeVoltBytesTruncateTheQuotient());

} // namespace instrument
