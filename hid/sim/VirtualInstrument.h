// A model of the Ormelix instrument as the console sees it: it answers every fetch of feature
// report 0 with a 254-byte record (two traces, scale, minima and maxima, a sweeping cursor and
// the poll period) and acts on the command code of every record it is sent.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace hidsim {
struct SimDeviceSpec;
}

class VirtualInstrument {
public:
    static constexpr int RecordSize = 254;
    using Record = std::array<uint8_t, RecordSize>;

    static constexpr int PollPeriodByte = 240;
    static constexpr int ScaleByte = 245;
    static constexpr int MinS1Byte = 246;
    static constexpr int MaxS1Byte = 247;
    static constexpr int MinS2Byte = 248;
    static constexpr int MaxS2Byte = 249;
    static constexpr int CursorByte = 250;
    static constexpr int CommandByte = 253;

    // The cursor runs over the plot's columns: 2 × pos − 2 from 0 to 474.
    static constexpr int CursorFirst = 1;
    static constexpr int CursorLast = 238;
    static constexpr int CursorStep = 6;

    // The instrument's USB identity and report descriptor: one 254-byte vendor-defined feature
    // report without a report ID.
    static constexpr uint16_t VendorID = 0x16C0;
    static constexpr uint16_t ProductID = 0x05DF;
    static constexpr uint16_t VersionNumber = 0x0100;
    static const char16_t* const Manufacturer;
    static const char16_t* const Product;
    static const std::vector<uint8_t>& ReportDescriptor();

    VirtualInstrument();

    // The record for one fetch; every fetch moves the signals and the cursor on.
    Record Fetch();
    // A record sent by the console; acts on its command code.
    void Receive(const Record& Sent);

    struct State {
        bool Os1 = false;
        bool Os2 = false;
        uint8_t PollPeriod = 10;       // working copy
        uint8_t StoredPollPeriod = 10; // the one kept in the instrument's EEPROM
        uint8_t Scale = 64;
        uint8_t StoredScale = 64;
        uint8_t Cursor = CursorFirst;
        uint32_t Fetches = 0;
        uint32_t Commands = 0;
        uint8_t LastCommand = 0;
    };
    State Snapshot() const;

private:
    void Reset();

    mutable std::mutex mutex_;
    State state_;
    bool storedNext_ = false; // the next record carries the stored variables
    uint32_t phase_ = 0;
    uint32_t noise_ = 12345;
};

// The instrument as a device of the simulated HID platform: feature report 0 both ways.
hidsim::SimDeviceSpec VirtualInstrumentDevice(std::shared_ptr<VirtualInstrument> Instrument,
                                              const std::string& Path);
