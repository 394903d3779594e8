#include "tools/cli/Recorder.h"

#include "hid/qt/QtHidEventLoop.h"
#include "tools/cli/Csv.h"
#include "tools/hidlist/HidList.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ostream>

namespace cli {

namespace {

std::string Seconds(std::chrono::steady_clock::duration D) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(D).count());
    return text;
}

std::string Records(uint64_t N) {
    return std::to_string(N) + (N == 1 ? " record" : " records");
}

std::string Clock(std::chrono::steady_clock::duration D) {
    const long long s = std::chrono::duration_cast<std::chrono::seconds>(D).count();
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

} // namespace

int EndTimerMs(int64_t DurationMs, std::chrono::steady_clock::duration Elapsed) {
    const auto left = std::chrono::milliseconds(DurationMs) - Elapsed;
    const int64_t ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms <= 0 ? 0 : static_cast<int>(std::min<int64_t>(ms, 3600 * 1000));
}

std::string InstrumentHint() {
    return CheckInstrument("give --demo to try ormelix-cli on the virtual instrument").Message;
}

Recorder::Recorder(RecordOptions Options, std::ostream& Err)
    : options_(std::move(Options)), err_(Err) {}

void Recorder::Say(const std::string& Line) {
    if (progressShown_) err_ << "\r\033[K";
    progressShown_ = false;
    err_ << "ormelix-cli: " << Line << '\n';
    err_.flush();
}

void Recorder::ShowProgress(bool Force) {
    if (!options_.Progress || stopping_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!Force && now - lastProgress_ < std::chrono::milliseconds(200)) return;
    lastProgress_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    // A rate over the first moments says little.
    char rate[32] = "-";
    if (elapsed >= 1.0) std::snprintf(rate, sizeof rate, "%.1f", summary_.Records / elapsed);
    err_ << "\r\033[K" << Records(summary_.Records) << "  " << Clock(now - start_) << "  " << rate
         << " rows/s  "
         << (state_ == State::Recording ? "recording" : "waiting for the instrument");
    err_.flush();
    progressShown_ = true;
}

void Recorder::Stop() {
    if (!stopping_) Finish(status_);
}

void Recorder::Finish(int Status) {
    if (stopping_) return;
    stopping_ = true;
    status_ = Status;
    const bool regular = file_.IsRegular();
    std::string error;
    if (!file_.Close(error)) {
        Say(error);
        if (status_ == 0) status_ = 3;
    }
    // A run that never reached the instrument is no success, however it ended.
    if (!reached_ && status_ == 0) {
        Say("no record was fetched from the instrument" +
            (regular ? ": " + file_.Path() + " holds only the header" : std::string()));
        status_ = 1;
    }
    summary_.Duration = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start_);
    Say(Records(summary_.Records) + " in " + Seconds(std::chrono::steady_clock::now() - start_) +
        ", " + std::to_string(summary_.Gaps) + (summary_.Gaps == 1 ? " gap" : " gaps") +
        (summary_.FailedFetches > 0
             ? ", " + std::to_string(summary_.FailedFetches) + " fetches refused"
             : std::string()) +
        ", in " + file_.Path());
    if (quit_) quit_();
}

bool Recorder::WriteRow(const Record& R) {
    const std::string row = CsvRow(IsoTime(Now()), ++counter_, R.data(), options_.Raw);
    std::string error;
    switch (file_.Write(row, error)) {
    case RowFile::Result::Written:
        break;
    case RowFile::Result::Stopped: // a signal while the row waited for a full pipe
        --counter_;
        Finish(status_);
        return false;
    case RowFile::Result::Failed:
        Say(error + "; " + std::to_string(summary_.Records) + " complete rows of this run are in " +
            file_.Path());
        Finish(3);
        return false;
    }
    ++summary_.Records;
    return true;
}

void Recorder::Tick(InstrumentLink& Link) {
    if (stopping_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!Link.Find()) {
        if (state_ == State::Recording) {
            ++summary_.Gaps;
            goneAt_ = now;
            Say("the instrument went away at " + IsoTime(Now()) + "; waiting for it");
        } else if (state_ == State::Starting) {
            Say(Link.Wanted().empty() ? "waiting for the instrument…"
                                      : "waiting for the instrument " + Link.Wanted() +
                                            "… ('ormelix-cli list' lists those present)");
            const std::string hint = InstrumentHint();
            if (!hint.empty()) Say(hint);
            goneAt_ = now;
        }
        state_ = State::Waiting;
        if (!reached_ && now - start_ >= std::chrono::milliseconds(options_.WaitMs)) {
            Say("no instrument within the wait of " + Seconds(now - start_) +
                " (--wait): no rows written");
            return Finish(1);
        }
    } else {
        if (state_ == State::Waiting && summary_.Records > 0)
            Say("the instrument is back at " + IsoTime(Now()) + " after " + Seconds(now - goneAt_));
        else if (state_ != State::Recording)
            Say("recording from the instrument at " + Link.Path());
        state_ = State::Recording;
        Record r{};
        if (Link.Fetch(r)) {
            refusedInARow_ = 0;
            reached_ = true;
            if (!WriteRow(r)) return;
        } else {
            ++summary_.FailedFetches;
            // Said once while it lasts: most often the node opens only for queries.
            if (++refusedInARow_ == 3) {
                const std::string hint = InstrumentHint();
                Say("the instrument refuses the fetches" + (hint.empty() ? "" : ": " + hint));
            }
            if (!reached_ && now - start_ >= std::chrono::milliseconds(options_.WaitMs)) {
                Say("the instrument refused every fetch within the wait of " +
                    Seconds(now - start_) + " (--wait)");
                return Finish(1);
            }
        }
    }
    if (options_.Count > 0 && summary_.Records >= options_.Count) return Finish(0);
    if (options_.DurationMs > 0 && now - start_ >= std::chrono::milliseconds(options_.DurationMs))
        return Finish(0);
    if (AfterTick) AfterTick(summary_.Records);
    ShowProgress(false);
}

int Recorder::Run() {
    // Without the HID libraries no file is made.
    QtHidEventLoop hidLoop;
    InstrumentLink link(&hidLoop, options_.Device);
    if (!link.Bound()) {
        err_ << "ormelix-cli: " << InstrumentHint() << '\n';
        return 1;
    }
    std::string error;
    const bool opened = options_.Output.empty()
                            ? file_.OpenStandardOutput(error)
                            : file_.Open(options_.Output, options_.How, options_.Raw, error);
    if (!opened) {
        err_ << "ormelix-cli: " << error << '\n';
        return 3;
    }
    if (AfterOpen) AfterOpen();
    // The run's time starts here: reading an appended file is not part of it.
    start_ = std::chrono::steady_clock::now();
    if (file_.CutBytes() > 0)
        Say("cut an incomplete last row (" + std::to_string(file_.CutBytes()) + " bytes) off " +
            file_.Path());
    counter_ = file_.LastCounter();

    QEventLoop loop;
    quit_ = [&loop] { loop.quit(); };

    QTimer tick;
    tick.setSingleShot(true);
    tick.setTimerType(Qt::PreciseTimer);
    QTimer sync;
    sync.setSingleShot(true);
    QObject::connect(&sync, &QTimer::timeout, [this] {
        std::string error;
        if (!stopping_ && !file_.Sync(error)) {
            Say(error + "; " + std::to_string(summary_.Records) + " rows were written to it");
            Finish(3);
        }
    });
    // Counted like the console's poll: the period runs from the end of one tick.
    QObject::connect(&tick, &QTimer::timeout, [&] {
        Tick(link);
        if (stopping_) return;
        if (!sync.isActive()) {
            const int due = file_.MillisecondsToSync();
            if (due >= 0) sync.start(due);
        }
        tick.start(options_.PeriodMs);
    });
    // A pipe's reader that leaves is noticed between rows too, however long the period.
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [this] {
        std::string error;
        if (!stopping_ && !file_.ReaderStays(error)) {
            Say(error + "; " + Records(summary_.Records) + " reached it");
            Finish(3);
        }
    });
    if (!file_.IsRegular()) reader.start(250);
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, [this] { ShowProgress(true); });
    if (options_.Progress) progress.start(500);
    // Qt's timers take at most 2^31 ms (24.8 days): a longer duration is waited for in steps.
    QTimer end;
    end.setSingleShot(true);
    const auto armEnd = [&] {
        const int ms = EndTimerMs(options_.DurationMs, std::chrono::steady_clock::now() - start_);
        if (ms == 0) return Finish(0);
        end.start(ms);
    };
    QObject::connect(&end, &QTimer::timeout, armEnd);
    if (options_.DurationMs > 0) armEnd();

    // The controller's first scan is posted; the first tick comes after it.
    QCoreApplication::sendPostedEvents();
    tick.start(0);
    if (StopRequested.load()) Finish(0); // a signal before the loop could take it
    if (!stopping_) loop.exec();
    quit_ = nullptr;
    return status_;
}

} // namespace cli
