// The instrument over the HID layer, found and spoken to as the console does: the device whose
// product and manufacturer strings are exactly the instrument's, checked out and held while it
// stays plugged in, let go when found gone so that a re-plugged one is found again; whole
// records fetched and sent in feature report 0. Of several instruments it takes the one named
// (path or USB serial number), else the one the console takes: the last in the system's order.
#pragma once

#include "instrument/Protocol.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class HidEventLoop;
class TJvHidDevice;
class TJvHidDeviceController;
class TJvHidPnPInfo;

namespace cli {

using Record = std::array<uint8_t, instrument::RecordSize>;

struct InstrumentEntry {
    std::string Path;
    std::string Serial;   // USB serial number, or empty
    std::string Location; // where it sits on the bus, or empty
};

// The USB serial number of the device behind a HID interface, as this machine tells it
// (Linux: HID_UNIQ in the uevent of the HID device, whose sysfs folder is the interface's
// physical device object name); empty when it has none.
std::string NativeSerialNumber(const TJvHidPnPInfo& Info);
// What the link asks: NativeSerialNumber, replaced by a simulated machine.
extern std::function<std::string(const TJvHidPnPInfo&)> SerialNumberOf;

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

} // namespace cli
