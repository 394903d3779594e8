// What ormelix-cli's commands say when the instrument or the output fails, and the exit status
// that goes with it; only tools/cli uses it.
#pragma once

#include "tools/cli/InstrumentLink.h"

#include <iosfwd>
#include <memory>
#include <string>

class HidEventLoop;

namespace cli {

// The instrument, found as the console finds it, or a hint on Err and no link.
std::unique_ptr<InstrumentLink> Reach(HidEventLoop& Loop, const std::string& Wanted,
                                      std::ostream& Err);

// A held instrument that does not answer: most often one that opens only for queries.
int FetchRefused(const InstrumentLink& Link, std::ostream& Err);

// What went to standard output reached it (not a full disk, not a pipe whose reader left):
// Status, or ExitFile with a message on Err.
int Written(std::ostream& Out, std::ostream& Err, int Status);

// Text as a JSON string, quotes included.
std::string JsonString(const std::string& Text);

} // namespace cli
