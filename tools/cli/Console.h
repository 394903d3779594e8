// The process's side of the console: what ends a recording (POSIX signals here; Windows'
// console-control events through SetConsoleCtrlHandler on its side) and whether a standard
// stream is a terminal.
#pragma once

#include <functional>
#include <string>

namespace cli {

// A reader that leaves a pipe is an error the writer reports (exit 3), not a signal that kills.
void IgnoreBrokenPipe();

// Ctrl-C, SIGTERM and SIGHUP set StopRequested and call Stop on the event loop's thread, which
// must be running a Qt event loop then. Writes are not restarted after them, so that one blocked
// on a full pipe ends too. False with Error set when they cannot be installed.
bool InstallStopHandlers(std::function<void()> Stop, std::string& Error);

bool StandardOutputIsTerminal();
bool StandardErrorIsTerminal();

} // namespace cli
