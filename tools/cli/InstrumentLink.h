// The instrument over the HID layer, found and spoken to as the console does: the device whose
// product and manufacturer strings are exactly the instrument's, checked out and held while it
// stays plugged in, let go when found gone so that a re-plugged one is found again; whole
// records fetched and sent in feature report 0.
#pragma once

#include "instrument/Protocol.h"

#include <array>
#include <cstdint>
#include <string>

class HidEventLoop;
class TJvHidDevice;
class TJvHidDeviceController;

namespace cli {

using Record = std::array<uint8_t, instrument::RecordSize>;

class InstrumentLink {
public:
    // The first scan runs when Loop delivers its posted change.
    explicit InstrumentLink(HidEventLoop* Loop);
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

private:
    bool Enumerated(TJvHidDevice* Device, int Index);

    TJvHidDeviceController* controller_;
    TJvHidDevice* device_ = nullptr;
};

} // namespace cli
