// ormelix-cli: the instrument's records to CSV, its commands from scripts, one record decoded.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace cli {

// Exit statuses.
constexpr int ExitDone = 0;
constexpr int ExitUnreachable = 1; // the instrument cannot be reached
constexpr int ExitUsage = 2;
constexpr int ExitFile = 3; // the output file failed

// The whole program without its process set-up: Args without the program name. Needs a
// QCoreApplication. With --demo it installs the simulated platform with the virtual instrument
// for the run; otherwise it uses the platform installed (the machine's, or a test's).
int CliMain(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);

// Set while a recording runs: ends it cleanly (the signal handlers call it through the loop).
extern std::function<void()> StopRecording;

} // namespace cli
