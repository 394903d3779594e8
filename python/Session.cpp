#include "python/Session.h"

#include "hid/sim/DemoMachine.h"
#include "instrument/Command.h"
#include "python/PumpedEventLoop.h"
#include "tools/hidlist/HidList.h"

#include <cstdio>
#include <thread>

namespace python {

namespace {

constexpr const char* kDemoAdvice = "pass demo=True to try ormelix on the virtual instrument";

int nativeClaims = 0;
int demoLogReaders = 0;
std::weak_ptr<bench::DemoMachine> demoMachine;

Error ErrorOf(const InstrumentStatus& Status) {
    switch (Status.Problem) {
    case InstrumentProblem::NoReadWrite:
        return Error(ErrorKind::AccessDenied, Status.Message);
    case InstrumentProblem::Absent:
    case InstrumentProblem::Unidentified:
        return Error(ErrorKind::NotFound, Status.Message);
    default:
        return Error(ErrorKind::Failed, Status.Message);
    }
}

std::string Seconds(std::chrono::steady_clock::duration D) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(D).count());
    return text;
}

} // namespace

std::mutex& HidLock() {
    static std::mutex lock;
    return lock;
}

PlatformClaim::PlatformClaim(bool Demo) {
    // The layer's platform may change only while no controller exists.
    if (Demo) {
        if (nativeClaims > 0)
            throw Error(ErrorKind::Failed, "an instrument of this machine is open in this "
                                           "process: close it before using the demo");
        demo_ = demoMachine.lock();
        if (!demo_) {
            demo_ = std::make_shared<bench::DemoMachine>(1);
            demoMachine = demo_;
        }
    } else {
        if (!demoMachine.expired())
            throw Error(ErrorKind::Failed, "the demo instrument is open in this process: close "
                                           "it before using this machine's instruments");
        ++nativeClaims;
    }
}

PlatformClaim::~PlatformClaim() {
    if (!demo_) --nativeClaims;
}

void KeepDemoLog(bool Keep) {
    demoLogReaders += Keep ? 1 : -1;
}

void Instrument::ForgetDemoLog() {
    if (demoLogReaders == 0 && claim_ && claim_->Demo()) claim_->Demo()->Sim().ClearLogs();
}

std::vector<ListedInstrument> ListInstruments(bool Demo) {
    std::lock_guard<std::mutex> lock(HidLock());
    PlatformClaim claim(Demo);
    PumpedEventLoop loop;
    hidlink::InstrumentLink link(&loop);
    loop.Pump();
    if (!link.Bound()) throw ErrorOf(CheckInstrument(kDemoAdvice));
    int chosen = -1;
    std::vector<ListedInstrument> listed;
    for (auto& entry : link.List(chosen))
        listed.push_back({std::move(entry), static_cast<int>(listed.size()) == chosen});
    return listed;
}

Instrument::Instrument(const std::string& Device, bool Demo) {
    std::lock_guard<std::mutex> lock(HidLock());
    try {
        claim_ = std::make_unique<PlatformClaim>(Demo);
        loop_ = std::make_unique<PumpedEventLoop>();
        link_ = std::make_unique<hidlink::InstrumentLink>(loop_.get(), Device);
        if (!link_->Bound()) throw ErrorOf(CheckInstrument(kDemoAdvice));
        Hold();
    } catch (...) {
        // Let go under the lock, as Close does: the members would go only after it.
        link_.reset();
        loop_.reset();
        claim_.reset();
        throw;
    }
}

Instrument::~Instrument() {
    Close();
}

void Instrument::Close() {
    std::lock_guard<std::mutex> lock(HidLock());
    // The controller goes while its platform is still installed.
    link_.reset();
    loop_.reset();
    claim_.reset();
}

std::string Instrument::Path() const {
    std::lock_guard<std::mutex> lock(HidLock());
    return link_ ? link_->Path() : std::string();
}

void Instrument::Hold() {
    if (!link_) throw Error(ErrorKind::Failed, "the instrument is closed");
    loop_->Pump();
    if (link_->Find()) return;
    const std::string& wanted = link_->Wanted();
    if (!wanted.empty()) {
        int chosen = -1;
        if (!link_->List(chosen).empty())
            throw Error(ErrorKind::NotFound, "no instrument with the path or USB serial number " +
                                                 wanted +
                                                 " (ormelix.instruments() lists those present)");
    }
    const InstrumentStatus status = CheckInstrument(kDemoAdvice);
    if (status.Problem == InstrumentProblem::None)
        throw Error(ErrorKind::Failed, "the instrument was found but could not be held: try again");
    throw ErrorOf(status);
}

void Instrument::Refused() {
    const InstrumentStatus status = CheckInstrument(kDemoAdvice);
    if (status.Problem != InstrumentProblem::None) throw ErrorOf(status);
    throw Error(ErrorKind::Failed, "the instrument at " + link_->Path() + " refused the fetch");
}

hidlink::Record Instrument::FetchLocked() {
    Hold();
    hidlink::Record record{};
    const bool fetched = link_->Fetch(record);
    ForgetDemoLog();
    if (!fetched) Refused();
    return record;
}

hidlink::Record Instrument::Fetch() {
    std::lock_guard<std::mutex> lock(HidLock());
    return FetchLocked();
}

hidlink::Record Instrument::Send(int Item, uint8_t Period) {
    std::lock_guard<std::mutex> lock(HidLock());
    hidlink::Record record = FetchLocked();
    instrument::CommandLink how;
    how.Send = [&] { return link_->Send(record); };
    how.Pause = [](int Ms) { std::this_thread::sleep_for(std::chrono::milliseconds(Ms)); };
    how.Fetch = [&] { return link_->Fetch(record); };
    const bool sent =
        instrument::RunCommand(record.data(), instrument::CommandItems.at(Item).Code, Period, how);
    ForgetDemoLog();
    if (!sent) throw Error(ErrorKind::Failed, "the instrument did not take every report");
    return record;
}

bool Instrument::TryFetch(hidlink::Record& Into) {
    std::lock_guard<std::mutex> lock(HidLock());
    if (!link_) throw Error(ErrorKind::Failed, "the instrument is closed");
    loop_->Pump();
    const bool fetched = link_->Find() && link_->Fetch(Into);
    ForgetDemoLog();
    return fetched;
}

double Instrument::TimeFetches(int Count) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < Count; ++i) Fetch();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

Pace::Pace(Instrument& Link, PaceOptions Options) : link_(Link), options_(Options) {}

std::optional<hidlink::Record>
Pace::Next(const std::function<void(std::chrono::milliseconds)>& Sleep) {
    using Clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;
    if (options_.Count > 0 && records_ >= options_.Count) return std::nullopt;
    const auto timeLeft = [&](Clock::time_point Now) {
        return options_.Duration.count() > 0 ? options_.Duration - (Now - start_)
                                             : Clock::duration::max();
    };
    // Waits until Due, never past the run's end; false when the run is over.
    const auto waitFor = [&](Clock::time_point Due) {
        const auto now = Clock::now();
        const auto wait = std::min<Clock::duration>(Due - now, timeLeft(now));
        if (wait > Clock::duration::zero()) Sleep(std::chrono::ceil<milliseconds>(wait));
        return timeLeft(Clock::now()) > Clock::duration::zero();
    };
    if (!started_) {
        started_ = true;
        start_ = Clock::now();
    } else if (!waitFor(lastEnd_ + options_.Period)) {
        return std::nullopt;
    }
    for (;;) {
        hidlink::Record record{};
        const bool fetched = link_.TryFetch(record);
        lastEnd_ = Clock::now();
        if (fetched) {
            away_ = false;
            ++records_;
            return record;
        }
        if (!away_ && records_ > 0) ++gaps_;
        away_ = true;
        if (records_ == 0 && lastEnd_ - start_ >= options_.Wait) {
            const InstrumentStatus status = CheckInstrument(kDemoAdvice);
            const std::string why = "no record within the wait of " + Seconds(lastEnd_ - start_);
            throw Error(status.Problem == InstrumentProblem::NoReadWrite ? ErrorKind::AccessDenied
                                                                         : ErrorKind::NotFound,
                        status.Message.empty() ? why : why + ": " + status.Message);
        }
        if (!waitFor(lastEnd_ + options_.Period)) return std::nullopt;
    }
}

} // namespace python
