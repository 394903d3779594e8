// What ormelix-cli's commands say when the instrument or the output fails, and the exit status
// that goes with it; only tools/cli uses it.
#pragma once

#include "tools/cli/InstrumentLink.h"

#include <iosfwd>
#include <memory>
#include <string>

class HidEventLoop;
class QtHidEventLoop;

namespace bench {
class DemoMachine;
}

namespace cli {

// The instrument, found as the console finds it, or a hint on Err and no link.
std::unique_ptr<InstrumentLink> Reach(HidEventLoop& Loop, const std::string& Wanted,
                                      std::ostream& Err);

// A held instrument that does not answer: most often one that opens only for queries.
int FetchRefused(const InstrumentLink& Link, std::ostream& Err);

// What send and info hold while they talk to the instrument: the demo machine when one is asked
// for, the event loop, the instrument reached and the record fetched from it.
class HeldInstrument {
public:
    HeldInstrument();
    ~HeldInstrument();
    HeldInstrument(const HeldInstrument&) = delete;
    HeldInstrument& operator=(const HeldInstrument&) = delete;

    // ExitDone with Last fetched, or ExitUnreachable with the reason on Err.
    int Fetch(int Demo, const std::string& Device, std::ostream& Err);
    InstrumentLink& Link() { return *link_; }

    Record Last{};

private:
    std::unique_ptr<bench::DemoMachine> machine_;
    std::unique_ptr<QtHidEventLoop> loop_;
    std::unique_ptr<InstrumentLink> link_;
};

// What went to standard output reached it (not a full disk, not a pipe whose reader left):
// Status, or ExitFile with a message on Err.
int Written(std::ostream& Out, std::ostream& Err, int Status);

// Text as a JSON string, quotes included.
std::string JsonString(const std::string& Text);

} // namespace cli
