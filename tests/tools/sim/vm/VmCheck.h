// What the programs run inside the system test's virtual machine share: one "CHECK" line per
// check on standard output for the host to read, and waiting on the Qt event loop.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <vector>

class VmChecks {
public:
    // Prints "CHECK <name> ok" or "CHECK <name> FAIL: <why>", one whole line at a time.
    bool Report(const std::string& Name, bool Ok, const std::string& Why = {}) {
        std::string line = "CHECK " + Name + (Ok ? " ok" : " FAIL: " + Why) + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
        if (!Ok) ++failures_;
        return Ok;
    }
    int ExitCode() const { return failures_ == 0 ? 0 : 1; }

private:
    int failures_ = 0;
};

// Runs the event loop until Condition holds or Ms milliseconds have passed.
inline bool WaitFor(const std::function<bool()>& Condition, int Ms) {
    QElapsedTimer clock;
    clock.start();
    while (!Condition()) {
        if (clock.elapsed() > Ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// The first differing byte of two records, for a failure line; empty when they are equal.
inline std::string FirstDifference(std::span<const uint8_t> Got, std::span<const uint8_t> Want) {
    if (Got.size() != Want.size()) {
        return "length " + std::to_string(Got.size()) + " instead of " +
               std::to_string(Want.size());
    }
    for (size_t i = 0; i < Got.size(); ++i) {
        if (Got[i] != Want[i]) {
            return "byte " + std::to_string(i) + " is " + std::to_string(int(Got[i])) +
                   " instead of " + std::to_string(int(Want[i]));
        }
    }
    return {};
}
