// The HID interfaces the layer sees, one row each: what a user needs to find out why the console
// says it found no instrument (most often: the node cannot be opened read-write).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class HidAccess { ReadWrite, QueryOnly, None };

struct HidInterfaceRow {
    std::string Path; // empty when the interface's detail could not be read
    std::optional<uint16_t> VendorID;
    std::optional<uint16_t> ProductID;
    // UTF-8; unset when nothing could tell them.
    std::optional<std::string> Manufacturer;
    std::optional<std::string> Product;
    HidAccess Access = HidAccess::None;
    // The controller could make a device object of it, so the console can see it.
    bool Listed = false;
    // Why it is not fully usable, or empty.
    std::string Note;
    // The platform's error of the read-write open, when it was refused.
    uint32_t OpenError = 0;
};

struct HidListing {
    // Empty when the listing could be made; otherwise a one-line reason.
    std::string Error;
    std::vector<HidInterfaceRow> Rows;
};

// The instrument's identity, exact and case-sensitive.
bool IsInstrument(const HidInterfaceRow& Row);

// Walks the present HID interfaces through the installed HID platform, without an event loop.
HidListing CollectHidInterfaces();

// Why the instrument cannot be used, as the listing tells it: ormelix-cli's hints and the
// Python module's exceptions.
enum class InstrumentProblem { None, CannotList, Absent, NoReadWrite, Unidentified };
struct InstrumentStatus {
    InstrumentProblem Problem = InstrumentProblem::None;
    std::string Message; // one line; empty when None
};
// DemoAdvice ends the message for an absent instrument: how the caller tries the virtual one.
InstrumentStatus CheckInstrument(std::string_view DemoAdvice);

// A header line and one row per interface.
void PrintHidListing(const HidListing& Listing, std::ostream& Out);

// The whole tool: the table on Out, errors and hints on Err, one line each. Returns the exit
// status: 0 when listed (also when empty), 1 when the HID libraries could not be bound.
int ListHidInterfaces(std::ostream& Out, std::ostream& Err);

// Text of a UTF-16 string as UTF-8; unpaired surrogates become U+FFFD.
std::string Utf8FromUtf16(const std::u16string& Text);
