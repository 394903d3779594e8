// ormelix-cli record: one record fetched per period, one CSV row written for it, for as long as
// asked, across unplugging and plugging the instrument in again.
#pragma once

#include "tools/cli/InstrumentLink.h"
#include "tools/cli/RowFile.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

namespace cli {

struct RecordOptions {
    std::string Output; // empty: standard output
    int PeriodMs = 500;
    uint64_t Count = 0;     // 0: no limit
    int64_t DurationMs = 0; // 0: no limit
    // How long to wait for the instrument before the first record; 0: not at all.
    int64_t WaitMs = 10 * 1000;
    std::string Device; // path or USB serial number; empty: the console's choice
    bool Raw = false;
    RowFile::Mode How = RowFile::Mode::Create;
    bool Progress = false; // the one-line display on stderr
};

struct RecordSummary {
    uint64_t Records = 0;
    uint64_t Gaps = 0;          // times the instrument went away while recording
    uint64_t FailedFetches = 0; // fetches the instrument refused (no row written)
    std::chrono::milliseconds Duration{0};
};

class Recorder {
public:
    // Messages and the progress line go to Err.
    Recorder(RecordOptions Options, std::ostream& Err);

    // Runs Qt's event loop until the count or duration is reached, Stop is called, or the file
    // fails. The exit status: 0 done, 1 the HID layer cannot be used or no record was ever
    // fetched (the wait ran out, or the run ended before), 3 the file failed.
    int Run();
    void Stop();

    const RecordSummary& Summary() const { return summary_; }

    // Called once the output is open, before the run's time starts (tests: a slow open).
    std::function<void()> AfterOpen;
    // Called after each tick, with the rows written so far (the tests plug and unplug here).
    std::function<void(uint64_t Rows)> AfterTick;
    // Where each row's time comes from.
    std::function<std::chrono::system_clock::time_point()> Now = [] {
        return std::chrono::system_clock::now();
    };

private:
    void Tick(InstrumentLink& Link);
    bool WriteRow(const Record& R);
    void Say(const std::string& Line);
    void ShowProgress(bool Force);
    void Finish(int Status);

    RecordOptions options_;
    std::ostream& err_;
    RowFile file_;
    RecordSummary summary_;
    uint64_t counter_ = 0;
    int refusedInARow_ = 0;
    enum class State { Starting, Recording, Waiting } state_ = State::Starting;
    std::chrono::steady_clock::time_point start_, goneAt_, lastProgress_;
    bool progressShown_ = false;
    bool reached_ = false; // a record was fetched
    bool stopping_ = false;
    int status_ = 0;
    std::function<void()> quit_;
};

// What the end timer is set to, DurationMs into a run Elapsed long: the time left, in steps
// that Qt's 32-bit timers take; 0 when the time is up.
int EndTimerMs(int64_t DurationMs, std::chrono::steady_clock::duration Elapsed);

// "waiting for the instrument…" hints: what ormelix-hidlist would say about the instrument, or
// empty when it sees it usable.
std::string InstrumentHint();

} // namespace cli
