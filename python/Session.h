// python/ only. The instrument for the Python module, apart from Python: the device link on a
// pumped event loop, the demo machine shared by every demo user of the process, the CLI's
// messages as typed errors, and the recording pace. The HID platform is one per process, so
// every call here runs under one process-wide lock, and the demo and the machine's own
// instruments are not used at the same time.
#pragma once

#include "hid/link/InstrumentLink.h"
#include "hid/sim/SimHidPlatform.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {
class DemoMachine;
}

namespace python {

class PumpedEventLoop;

enum class ErrorKind {
    NotFound,     // no instrument, or not the one asked for
    AccessDenied, // present but not open read-write (the udev rule)
    Failed,       // a transfer refused, the HID libraries missing, the platform in use
};

struct Error : std::runtime_error {
    Error(ErrorKind Kind, const std::string& Message) : std::runtime_error(Message), Kind(Kind) {}
    ErrorKind Kind;
};

// Every use of the HID layer holds it.
std::mutex& HidLock();

// A claim on the process's HID platform: the machine's own, or the demo machine (made for the
// first demo claim, gone with the last). Taken under HidLock.
class PlatformClaim {
public:
    explicit PlatformClaim(bool Demo);
    ~PlatformClaim();
    PlatformClaim(const PlatformClaim&) = delete;
    PlatformClaim& operator=(const PlatformClaim&) = delete;
    // The demo machine, or null.
    bench::DemoMachine* Demo() const { return demo_.get(); }

private:
    std::shared_ptr<bench::DemoMachine> demo_;
};

// While one is kept, the demo machine keeps its log of transfers for a reader (the tests);
// otherwise every transfer's entry goes again at once, so that a long demo run does not grow.
// Under HidLock.
void KeepDemoLog(bool Keep);

// Every instrument present, the one Instrument(device=None) takes marked.
struct ListedInstrument {
    hidlink::InstrumentEntry Entry;
    bool Default = false;
};
std::vector<ListedInstrument> ListInstruments(bool Demo);

class Instrument {
public:
    // Throws Error when it cannot be held, with the CLI's message.
    Instrument(const std::string& Device, bool Demo);
    ~Instrument();

    void Close();
    bool Closed() const { return !link_; }
    std::string Path() const;

    // One record; throws Error (gone, refused).
    hidlink::Record Fetch();
    // Runs command Item of the command table on a record just fetched, as the console's button
    // does; returns the record that went last to the instrument.
    hidlink::Record Send(int Item, uint8_t Period);

    // One attempt of a recording's tick, never throwing for an absent instrument: true with a
    // record, false when it is away or refused the fetch.
    bool TryFetch(hidlink::Record& Into);

    // A fetch under the lock, as Fetch minus its checks: the benchmark's baseline.
    double TimeFetches(int Count);

    bench::DemoMachine* DemoMachine() const { return claim_ ? claim_->Demo() : nullptr; }

private:
    void Hold();                   // throws when not held
    hidlink::Record FetchLocked(); // Fetch with the HID lock already taken
    void ForgetDemoLog();
    [[noreturn]] void Refused();

    std::unique_ptr<PlatformClaim> claim_;
    std::unique_ptr<PumpedEventLoop> loop_;
    std::unique_ptr<hidlink::InstrumentLink> link_;
};

// The recording pace of ormelix-cli record: the period counts from the end of one fetch to the
// next; an absent instrument is waited for (at the start at most Wait, later for as long as
// the run lasts) and the run goes on when it is back.
struct PaceOptions {
    uint64_t Count = 0;                    // 0: no limit
    std::chrono::milliseconds Duration{0}; // 0: no limit
    std::chrono::milliseconds Period{500};
    std::chrono::milliseconds Wait{10000};
};

class Pace {
public:
    Pace(Instrument& Link, PaceOptions Options);
    // The next record, or nothing when the count or duration is reached. Sleep waits (and may
    // throw, to stop the run). Throws NotFound when nothing came within the first wait.
    std::optional<hidlink::Record>
    Next(const std::function<void(std::chrono::milliseconds)>& Sleep);
    uint64_t Gaps() const { return gaps_; }

private:
    Instrument& link_;
    PaceOptions options_;
    std::chrono::steady_clock::time_point start_, lastEnd_;
    uint64_t records_ = 0;
    uint64_t gaps_ = 0;
    bool started_ = false;
    bool away_ = false;
};

} // namespace python
