#include "tools/cli/Recorder.h"

#include "hid/qt/QtHidEventLoop.h"
#include "tools/cli/Csv.h"
#include "tools/hidlist/HidList.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <ostream>

namespace cli {

namespace {

std::string Seconds(std::chrono::steady_clock::duration D) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(D).count());
    return text;
}

std::string Clock(std::chrono::steady_clock::duration D) {
    const long long s = std::chrono::duration_cast<std::chrono::seconds>(D).count();
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

} // namespace

std::string InstrumentHint() {
    const HidListing listing = CollectHidInterfaces();
    if (!listing.Error.empty()) return "cannot list HID devices: " + listing.Error;
    for (const HidInterfaceRow& r : listing.Rows) {
        if (!IsInstrument(r)) continue;
        if (r.Access != HidAccess::ReadWrite)
            return r.Path +
                   " is the instrument but does not open read-write: install the udev rule "
                   "70-ormelix.rules and plug it in again (see README)";
        if (!r.Listed)
            return r.Path + " is the instrument but cannot be identified: plug it in again";
        return std::string();
    }
    return std::string("no HID interface with product \"") + instrument::Product +
           "\" and manufacturer \"" + instrument::Manufacturer +
           "\": plug the instrument in (ormelix-hidlist lists what this machine shows)";
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
    err_ << "\r\033[K" << summary_.Records << " records  " << Clock(now - start_) << "  " << rate
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
    std::string error;
    if (!file_.Close(error)) {
        Say(error);
        if (status_ == 0) status_ = 3;
    }
    summary_.Duration = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start_);
    Say(std::to_string(summary_.Records) + " records in " +
        Seconds(std::chrono::steady_clock::now() - start_) + ", " + std::to_string(summary_.Gaps) +
        (summary_.Gaps == 1 ? " gap" : " gaps") +
        (summary_.FailedFetches > 0
             ? ", " + std::to_string(summary_.FailedFetches) + " fetches refused"
             : std::string()) +
        ", in " + file_.Path());
    if (quit_) quit_();
}

bool Recorder::WriteRow(const Record& R) {
    const std::string row = CsvRow(IsoTime(Now()), ++counter_, R.data(), options_.Raw);
    std::string error;
    if (!file_.Write(row, error)) {
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
            Say("waiting for the instrument…");
            const std::string hint = InstrumentHint();
            if (!hint.empty()) Say(hint);
            goneAt_ = now;
        }
        state_ = State::Waiting;
    } else {
        if (state_ == State::Waiting && summary_.Records > 0)
            Say("the instrument is back at " + IsoTime(Now()) + " after " + Seconds(now - goneAt_));
        else if (state_ != State::Recording)
            Say("recording from the instrument at " + Link.Path());
        state_ = State::Recording;
        Record r{};
        if (Link.Fetch(r)) {
            refusedInARow_ = 0;
            if (!WriteRow(r)) return;
        } else {
            ++summary_.FailedFetches;
            // Said once while it lasts: most often the node opens only for queries.
            if (++refusedInARow_ == 3) {
                const std::string hint = InstrumentHint();
                Say("the instrument refuses the fetches" + (hint.empty() ? "" : ": " + hint));
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
    start_ = std::chrono::steady_clock::now();
    // Without the HID libraries no file is made.
    QtHidEventLoop hidLoop;
    InstrumentLink link(&hidLoop);
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
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, [this] { ShowProgress(true); });
    if (options_.Progress) progress.start(500);
    QTimer end;
    end.setSingleShot(true);
    QObject::connect(&end, &QTimer::timeout, [this] { Finish(0); });
    if (options_.DurationMs > 0)
        end.start(static_cast<int>(std::min<int64_t>(options_.DurationMs, INT32_MAX)));

    // The controller's first scan is posted; the first tick comes after it.
    QCoreApplication::sendPostedEvents();
    tick.start(0);
    if (!stopping_) loop.exec();
    quit_ = nullptr;
    return status_;
}

} // namespace cli
