// A model of the Ormelix instrument as the console sees it: it answers every fetch of feature
// report 0 with a record (two traces, scale, minima and maxima, a sweeping cursor and the poll
// period) and acts on the command code of every record it is sent. Plain C++: the simulated HID
// platform (hid/sim, SimInstrument.h) and the USB simulator (tools/sim) serve it.
#pragma once

#include "instrument/Protocol.h"

#include <array>
#include <cstdint>
#include <mutex>

class VirtualInstrument {
public:
    using Record = std::array<uint8_t, instrument::RecordSize>;

    // Its own use of a byte the record leaves without meaning (242 to 244, 251, 252; 241 is S2's
    // last point): OS1 in bit 0, OS2 in bit 1.
    static constexpr int OutputsByte = 242;

    // The cursor runs over the plot's columns: 2 × pos − 2 from 0 to 474.
    static constexpr int CursorFirst = 1;
    static constexpr int CursorLast = 238;
    static constexpr int CursorStep = 6;

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
