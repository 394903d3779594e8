// The instrument over the HID layer: the device whose product and manufacturer strings are
// exactly the instrument's, checked out and held while it stays plugged in, let go when found
// gone so that a re-plugged one is found again; whole records fetched and sent in feature
// report 0 (the ID byte, then the record). The console's design names delegate to the pieces
// here; InstrumentLink puts them together for the tools, and of several instruments takes the
// one named (path or USB serial number), else the one the console takes: the last in the
// system's order.
#pragma once

#include "instrument/Protocol.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

class HidEventLoop;
class TJvHidDevice;
class TJvHidDeviceController;
class TJvHidPnPInfo;

namespace hidlink {

using Record = std::array<uint8_t, instrument::RecordSize>;

// The string rule: the device's product and manufacturer strings, as UTF-16 from the device,
// equal the instrument's exactly, code unit for code unit (case, spaces and look-alikes count).
bool IsInstrument(const std::u16string& Product, const std::u16string& Manufacturer);
// The same rule on a device, its manufacturer string read only after its product matched.
bool IsInstrument(TJvHidDevice& Device);

// A held device that has been found gone is deleted and Held cleared.
void LetGoIfGone(TJvHidDevice*& Held);
// Held is checked out and still plugged in.
bool Holds(const TJvHidDevice* Held);

// One record from the device into Into, through Report (cleared, ID first); Into is the
// record part of the report whether or not the device answered.
bool FetchRecord(TJvHidDevice& Device, std::span<uint8_t, instrument::ReportSize> Report,
                 std::span<uint8_t, instrument::RecordSize> Into);
// One record to the device, through Report (cleared, ID first, then What).
bool SendRecord(TJvHidDevice& Device, std::span<uint8_t, instrument::ReportSize> Report,
                std::span<const uint8_t, instrument::RecordSize> What);

struct InstrumentEntry {
    std::string Path;
    std::string Serial;   // USB serial number, or empty
    std::string Location; // where it sits on the bus, or empty
};

// The USB serial number of the device behind a HID interface, as this machine tells it
// (Linux: HID_UNIQ in the uevent of the HID device, whose sysfs folder is the interface's
// physical device object name; Windows: HidD_GetSerialNumberString); empty when it has none.
std::string NativeSerialNumber(const TJvHidPnPInfo& Info);
// What the link asks: NativeSerialNumber, replaced by a simulated machine.
extern std::function<std::string(const TJvHidPnPInfo&)> SerialNumberOf;
// Where the device sits on the bus, as the system tells it, or empty.
std::string Location(const TJvHidPnPInfo& Info);

class InstrumentLink {
public:
    // The first scan runs when Loop delivers its posted change. Wanted: a device path or USB
    // serial number; empty for the console's choice.
    explicit InstrumentLink(HidEventLoop* Loop, std::string Wanted = {});
    ~InstrumentLink();
    InstrumentLink(const InstrumentLink&) = delete;
    InstrumentLink& operator=(const InstrumentLink&) = delete;

    // The HID libraries could be bound.
    bool Bound() const;
    // Holds the instrument (finding it among the devices present if none is held).
    bool Find();
    bool Fetch(Record& Into);
    bool Send(const Record& What);
    // Device path of the held instrument, or empty.
    std::string Path() const;
    // Every instrument present, in the system's order (checked-out ones too); Chosen is the
    // index of the one Find takes, or -1.
    std::vector<InstrumentEntry> List(int& Chosen);
    const std::string& Wanted() const { return wanted_; }

private:
    bool Enumerated(TJvHidDevice* Device, int Index);
    int Choose() const;
    void ScanOnce();

    TJvHidDeviceController* controller_;
    TJvHidDevice* device_ = nullptr;
    std::string wanted_;
    bool scanned_ = false;
    std::vector<std::pair<int, InstrumentEntry>> found_; // controller index, entry
};

} // namespace hidlink
