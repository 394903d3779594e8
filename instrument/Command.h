// The console's command button as a sequence of transfers, apart from any window: which record
// goes to the instrument for each of the eight commands, in which order, with which pause. The
// console and ormelix-cli both send commands through RunCommand, so the instrument sees the same
// reports from either.
#pragma once

#include "instrument/Protocol.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>

namespace instrument {

// The poll period the instrument can store (SaveStored), in its own units.
constexpr int PollPeriodMin = 1;
constexpr int PollPeriodMax = 255;

// The instrument has the stored variables in its record this long after ReadStored.
constexpr int StoredReadPauseMs = 10;

struct CommandItem {
    const char* Name; // as ormelix-cli takes it
    uint8_t Code;
    const char* Meaning;
    bool TakesPeriod; // the poll period to store goes with it
    // The console's list goes back to the first command after it is sent; the others stay
    // selected, so that pressing the button again repeats them.
    bool BackToFirst;
};

// The eight commands in the order of the console's list. ormelix-cli's help and its manual page
// list them from here.
inline constexpr std::array<CommandItem, 8> CommandItems = {{
    {"normal", command::Normal, "normal operation", false, true},
    {"read-stored", command::ReadStored, "read the stored variables", false, true},
    {"save-period", command::SaveStored, "store the poll period", true, true},
    {"reset", command::ResetWorking, "reset the working variables to the stored ones", false, true},
    {"os1=0", command::Os1Off, "indicator OS1 off", false, false},
    {"os1=1", command::Os1On, "indicator OS1 on", false, false},
    {"os2=0", command::Os2Off, "output OS2 off", false, false},
    {"os2=1", command::Os2On, "output OS2 on", false, false},
}};

// The list position of a command given by name or by code (decimal), or -1.
inline int FindCommandItem(std::string_view Text) {
    for (size_t i = 0; i < CommandItems.size(); ++i)
        if (Text == CommandItems[i].Name) return static_cast<int>(i);
    if (Text.empty() || Text.size() > 3) return -1;
    int code = 0;
    for (char c : Text) {
        if (c < '0' || c > '9') return -1;
        code = code * 10 + (c - '0');
    }
    for (size_t i = 0; i < CommandItems.size(); ++i)
        if (CommandItems[i].Code == code) return static_cast<int>(i);
    return -1;
}

// How the sequence reaches the instrument. Send and Fetch move the caller's record as a whole.
struct CommandLink {
    std::function<bool()> Send;
    std::function<void(int Milliseconds)> Pause;
    std::function<bool()> Fetch;
    // After the fetch of ReadStored, before the record goes back: it holds the stored variables.
    std::function<void()> StoredRead;
};

// Runs one command on Record, the last record fetched: for SaveStored the poll period byte
// becomes Period; the command code is set; ReadStored first sends that, pauses, fetches the
// stored variables into Record; then Record goes to the instrument. Every transfer is made even
// when one before failed, as the button does. True when every transfer succeeded.
inline bool RunCommand(uint8_t* Record, uint8_t Code, uint8_t Period, const CommandLink& Link) {
    bool ok = true;
    if (Code == command::SaveStored) Record[PollPeriod] = Period;
    Record[CommandCode] = Code;
    if (Code == command::ReadStored) {
        ok = Link.Send() && ok;
        Link.Pause(StoredReadPauseMs);
        ok = Link.Fetch() && ok;
        if (Link.StoredRead) Link.StoredRead();
    }
    return Link.Send() && ok;
}

} // namespace instrument
