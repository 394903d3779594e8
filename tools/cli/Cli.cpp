#include "tools/cli/Cli.h"

#include "hid/JvHidControllerClass.h"
#include "hid/qt/QtHidEventLoop.h"
#include "hid/sim/DemoMachine.h"
#include "instrument/Command.h"
#include "instrument/CommandList.h"
#include "tools/cli/Console.h"
#include "tools/cli/Csv.h"
#include "tools/cli/InstrumentLink.h"
#include "tools/cli/Recorder.h"

#include <QCoreApplication>
#include <QThread>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <ostream>

#ifndef ORMELIX_VERSION
#define ORMELIX_VERSION "unknown"
#endif

namespace cli {

using bench::DemoMachine;

std::function<void()> StopRecording;

namespace {

const char* const MainHelp = R"(usage: ormelix-cli COMMAND [OPTIONS]

Records the Ormelix instrument's traces to CSV and sends it commands.

commands:
  record   fetch one record per period and write one CSV row for it
  send     send one of the console's eight commands
  info     fetch one record and print it decoded
  list     list the instruments present

'ormelix-cli COMMAND --help' tells more; --version prints the version. Exit
status: 0 done, 1 the instrument cannot be reached, 2 usage error, 3 the output
failed (a file, a full disk, a pipe whose reader left).
)";

const char* const RecordHelp =
    R"(usage: ormelix-cli record [-o FILE] [--period MS] [--count N | --duration TIME]
                          [--wait TIME] [--raw] [--force | --append]
                          [--device PATH|SERIAL] [--demo]

Fetches one record from the instrument per period and writes it as one CSV row
(RFC 4180, header row): time (ISO 8601, local time with UTC offset), record
counter, scale, cursor, min_s1, max_s1, min_s2, max_s2, s1_0..s1_120,
s2_0..s2_120; 250 columns. Volts are byte x 1.1 / scale with 6 decimals; a
record with scale 0 has empty volt fields. Waits for the instrument when it is
absent (at the start for --wait, later for as long as the run lasts) and goes
on when it is plugged in again. Ctrl-C, SIGTERM and SIGHUP end the recording.
Exit status 1 when no record was ever fetched.

  -o, --output FILE  write to FILE (default: standard output); an existing
                     FIFO is written to as it is (it needs a reader)
  --period MS        milliseconds from the end of one fetch to the next,
                     at least 10 (default 500)
  --count N          stop after N rows
  --duration TIME    stop after TIME: seconds, or with s, m or h (10m), at
                     most 87600h
  --wait TIME        wait at most TIME for the instrument before the first
                     record, then exit 1 (default 10s; 0: do not wait)
  --raw              write the byte values instead of volts
  --force            replace an existing FILE
  --append           add to an existing FILE of the same kind of rows
  --device PATH|SERIAL  the instrument at PATH or with that USB serial number
                     (default: the one the console takes; see 'list')
  --demo[=2]         record from the virtual instrument instead (=2: a bench
                     with two of them)
)";

std::string SendHelp() {
    return R"(usage: ormelix-cli send [--device PATH|SERIAL] [--demo] COMMAND [PERIOD]

Sends one of the console's commands as its command button does: the record just
fetched goes back with the command code. COMMAND is a name or a code:

)" + instrument::CommandHelpList() +
           R"(
Prints each report it sent. --device names the instrument (path or USB serial
number); --demo sends to the virtual instrument instead.
)";
}

const char* const InfoHelp = R"(usage: ormelix-cli info [--json] [--device PATH|SERIAL] [--demo]

Fetches one record and prints it decoded: scale, cursor, the poll period byte,
and the minima and maxima of both signals in volts (byte x 1.1 / scale).
--json prints one JSON object instead; volts are null when the scale is 0.
--device names the instrument (path or USB serial number).
)";

const char* const ListHelp = R"(usage: ormelix-cli list [--json] [--demo[=2]]

Lists the instruments present (product "Ormelix", manufacturer "Bramlo-kt"),
in the order the system lists them: device path, USB serial number, place on
the bus, and which one record, send and info take without --device (the one
the console takes: the last). --json prints a JSON array instead.
)";

struct Usage {
    std::string Message;
};

// The arguments of one command, "--name=value" read as "--name value". An option that takes
// no value but was given one is a usage error.
class ArgReader {
public:
    explicit ArgReader(const std::vector<std::string>& Args) : args_(Args) {}

    bool Next() {
        if (inline_ && !taken_) throw Usage{name_ + " takes no value"};
        inline_.reset();
        taken_ = false;
        if (at_ >= args_.size()) return false;
        const std::string& a = args_[at_++];
        const size_t eq = a.find('=');
        if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
            name_ = a.substr(0, eq);
            inline_ = a.substr(eq + 1);
        } else {
            name_ = a;
        }
        return true;
    }
    const std::string& Name() const { return name_; }
    std::string Value() {
        taken_ = true;
        if (inline_) return *inline_;
        if (at_ >= args_.size()) throw Usage{name_ + " needs a value"};
        return args_[at_++];
    }
    // Only "--name=value" gives one.
    std::optional<std::string> OptionalValue() {
        taken_ = true;
        return inline_;
    }

private:
    const std::vector<std::string>& args_;
    size_t at_ = 0;
    std::string name_;
    std::optional<std::string> inline_;
    bool taken_ = false;
};

// --demo or --demo=N: how many virtual instruments (0: none asked for).
int DemoInstruments(ArgReader& R) {
    const auto n = R.OptionalValue();
    if (!n) return 1;
    if (*n != "1" && *n != "2") throw Usage{"--demo takes 1 or 2 instruments"};
    return *n == "2" ? 2 : 1;
}

std::optional<int64_t> Number(const std::string& Text) {
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
    if (ec != std::errc() || end != Text.data() + Text.size()) return std::nullopt;
    return value;
}

// Ten years: a longer run is a typing error, and the clocks' arithmetic stays far from overflow.
constexpr int64_t kLongestMs = int64_t{87600} * 3600 * 1000;

std::optional<int64_t> DurationMs(std::string Text, bool ZeroToo = false) {
    int64_t unit = 1000;
    if (!Text.empty()) {
        switch (Text.back()) {
        case 's':
            Text.pop_back();
            break;
        case 'm':
            unit = 60 * 1000;
            Text.pop_back();
            break;
        case 'h':
            unit = 3600 * 1000;
            Text.pop_back();
            break;
        default:
            break;
        }
    }
    const auto n = Number(Text);
    if (!n || *n < (ZeroToo ? 0 : 1) || *n > kLongestMs / unit) return std::nullopt;
    return *n * unit;
}

// The instrument, found as the console finds it, or a hint on Err and no link.
std::unique_ptr<InstrumentLink> Reach(HidEventLoop& Loop, const std::string& Wanted,
                                      std::ostream& Err) {
    auto link = std::make_unique<InstrumentLink>(&Loop, Wanted);
    QCoreApplication::sendPostedEvents(); // the controller's first scan
    if (link->Bound() && link->Find()) return link;
    if (link->Bound() && !Wanted.empty()) {
        int chosen = -1;
        if (!link->List(chosen).empty()) {
            Err << "ormelix-cli: no instrument with the path or USB serial number " << Wanted
                << " ('ormelix-cli list' lists those present)\n";
            return nullptr;
        }
    }
    const std::string hint = InstrumentHint();
    Err << "ormelix-cli: "
        << (hint.empty() ? std::string("the instrument was found but could not be held: try again")
                         : hint)
        << '\n';
    return nullptr;
}

// A held instrument that does not answer: most often one that opens only for queries.
int FetchRefused(const InstrumentLink& Link, std::ostream& Err) {
    const std::string hint = InstrumentHint();
    Err << "ormelix-cli: "
        << (hint.empty() ? "the instrument at " + Link.Path() + " refused the fetch" : hint)
        << '\n';
    return ExitUnreachable;
}

// What went to standard output reached it (not a full disk, not a pipe whose reader left).
int Written(std::ostream& Out, std::ostream& Err, int Status) {
    Out.flush();
    if (Out) return Status;
    Err << "ormelix-cli: cannot write to standard output (a full disk, or a reader that went "
           "away): the output is lost\n";
    return ExitFile;
}

std::string JsonString(const std::string& Text) {
    std::string out = "\"";
    for (unsigned char c : Text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string VoltsText(uint8_t Value, uint8_t Scale) {
    std::string text;
    AppendVolts(text, Value, Scale);
    return text;
}

int RecordRows(const std::vector<std::string>& Args, std::ostream& Err) {
    RecordOptions options;
    bool force = false, append = false;
    int demo = 0;
    ArgReader r(Args);
    while (r.Next()) {
        const std::string& a = r.Name();
        if (a == "-o" || a == "--output") {
            options.Output = r.Value();
            if (options.Output.empty()) throw Usage{"-o needs a file name (- for standard output)"};
            if (options.Output == "-") options.Output.clear();
        } else if (a == "--period") {
            const auto n = Number(r.Value());
            if (!n || *n < 10 || *n > 3600 * 1000)
                throw Usage{"--period takes milliseconds from 10 to 3600000"};
            options.PeriodMs = static_cast<int>(*n);
        } else if (a == "--count") {
            const auto n = Number(r.Value());
            if (!n || *n <= 0) throw Usage{"--count takes a number of rows above 0"};
            options.Count = static_cast<uint64_t>(*n);
        } else if (a == "--duration") {
            const auto ms = DurationMs(r.Value());
            if (!ms)
                throw Usage{"--duration takes seconds, or a number with s, m or h, up to 87600h"};
            options.DurationMs = *ms;
        } else if (a == "--wait") {
            const auto ms = DurationMs(r.Value(), true);
            if (!ms) throw Usage{"--wait takes seconds, or a number with s, m or h, up to 87600h"};
            options.WaitMs = *ms;
        } else if (a == "--device") {
            options.Device = r.Value();
            if (options.Device.empty()) throw Usage{"--device needs a path or serial number"};
        } else if (a == "--raw") {
            options.Raw = true;
        } else if (a == "--force") {
            force = true;
        } else if (a == "--append") {
            append = true;
        } else if (a == "--demo") {
            demo = DemoInstruments(r);
        } else {
            throw Usage{"unknown option " + a};
        }
    }
    if (options.Count > 0 && options.DurationMs > 0)
        throw Usage{"give --count or --duration, not both"};
    if (force && append) throw Usage{"give --force or --append, not both"};
    if ((force || append) && options.Output.empty())
        throw Usage{"--force and --append need a file (-o FILE)"};
    options.How = force    ? RowFile::Mode::Overwrite
                  : append ? RowFile::Mode::Append
                           : RowFile::Mode::Create;
    // Rows on a terminal: a progress line would land among them.
    options.Progress =
        StandardErrorIsTerminal() && !(options.Output.empty() && StandardOutputIsTerminal());

    std::unique_ptr<DemoMachine> machine;
    if (demo > 0) machine = std::make_unique<DemoMachine>(demo);
    Recorder recorder(options, Err);
    // Nothing reads the simulated platform's transfer log: keep it from growing.
    if (machine) recorder.AfterTick = [&machine](uint64_t) { machine->Sim().ClearLogs(); };
    StopRecording = [&recorder] { recorder.Stop(); };
    const int status = recorder.Run();
    StopRecording = nullptr;
    return status;
}

int List(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
    bool json = false;
    int demo = 0;
    ArgReader r(Args);
    while (r.Next()) {
        if (r.Name() == "--json")
            json = true;
        else if (r.Name() == "--demo")
            demo = DemoInstruments(r);
        else
            throw Usage{"unknown option " + r.Name()};
    }
    std::unique_ptr<DemoMachine> machine;
    if (demo > 0) machine = std::make_unique<DemoMachine>(demo);
    QtHidEventLoop loop;
    InstrumentLink link(&loop);
    QCoreApplication::sendPostedEvents(); // the controller's first scan
    if (!link.Bound()) {
        Err << "ormelix-cli: " << InstrumentHint() << '\n';
        return ExitUnreachable;
    }
    int chosen = -1;
    const std::vector<InstrumentEntry> entries = link.List(chosen);
    const auto orNull = [](const std::string& Text) {
        return Text.empty() ? std::string("null") : JsonString(Text);
    };
    if (json) {
        Out << '[';
        for (size_t i = 0; i < entries.size(); ++i)
            Out << (i > 0 ? ", " : "") << "{\"path\": " << JsonString(entries[i].Path)
                << ", \"serial\": " << orNull(entries[i].Serial)
                << ", \"location\": " << orNull(entries[i].Location)
                << ", \"default\": " << (static_cast<int>(i) == chosen ? "true" : "false") << '}';
        Out << "]\n";
    } else if (!entries.empty()) {
        size_t pathWidth = 4, serialWidth = 6, locationWidth = 8;
        for (const InstrumentEntry& e : entries) {
            pathWidth = std::max(pathWidth, e.Path.size());
            serialWidth = std::max(serialWidth, std::max<size_t>(1, e.Serial.size()));
            locationWidth = std::max(locationWidth, std::max<size_t>(1, e.Location.size()));
        }
        const auto cell = [&](const std::string& Text, size_t Width) {
            const std::string t = Text.empty() ? "-" : Text;
            Out << t << std::string(Width - t.size() + 2, ' ');
        };
        cell("PATH", pathWidth);
        cell("SERIAL", serialWidth);
        cell("LOCATION", locationWidth);
        Out << "DEFAULT\n";
        for (size_t i = 0; i < entries.size(); ++i) {
            cell(entries[i].Path, pathWidth);
            cell(entries[i].Serial, serialWidth);
            cell(entries[i].Location, locationWidth);
            Out << (static_cast<int>(i) == chosen ? "yes" : "no") << '\n';
        }
    }
    if (entries.empty()) {
        const std::string hint = InstrumentHint();
        Err << "ormelix-cli: no instrument" << (hint.empty() ? "" : ": " + hint) << '\n';
    }
    return Written(Out, Err, ExitDone);
}

int Send(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
    std::vector<std::string> words;
    std::string device;
    int demo = 0;
    ArgReader r(Args);
    while (r.Next()) {
        if (r.Name() == "--demo")
            demo = DemoInstruments(r);
        else if (r.Name() == "--device")
            device = r.Value();
        else if (r.Name().rfind("--", 0) == 0)
            throw Usage{"unknown option " + r.Name()};
        else
            words.push_back(r.Name());
    }
    if (words.empty()) throw Usage{"send needs a command: 'ormelix-cli send --help' lists them"};
    const int item = instrument::FindCommandItem(words[0]);
    if (item < 0) throw Usage{"unknown command " + words[0]};
    const instrument::CommandItem& command = instrument::CommandItems[item];
    uint8_t period = 0;
    const bool save = command.TakesPeriod;
    if (save) {
        const auto n = words.size() == 2 ? Number(words[1]) : std::nullopt;
        if (!n || *n < instrument::PollPeriodMin || *n > instrument::PollPeriodMax)
            throw Usage{"save-period needs the poll period to store, " +
                        std::to_string(instrument::PollPeriodMin) + " to " +
                        std::to_string(instrument::PollPeriodMax)};
        period = static_cast<uint8_t>(*n);
    } else if (words.size() > 1) {
        throw Usage{std::string(command.Name) + " takes no value"};
    }

    std::unique_ptr<DemoMachine> machine;
    if (demo > 0) machine = std::make_unique<DemoMachine>(demo);
    QtHidEventLoop loop;
    auto link = Reach(loop, device, Err);
    if (!link) return ExitUnreachable;
    Record record{};
    if (!link->Fetch(record)) {
        return FetchRefused(*link, Err);
    }
    Out << "fetched the last record from " << link->Path() << '\n';
    bool storedRead = false;
    instrument::CommandLink how;
    how.Send = [&] {
        const bool ok = link->Send(record);
        Out << (ok ? "sent" : "could not send") << " the record with command code "
            << int(record[instrument::CommandCode]);
        if (record[instrument::CommandCode] == command.Code && !storedRead)
            Out << " (" << command.Meaning << ")";
        if (save) Out << ", poll period " << int(record[instrument::PollPeriod]);
        Out << '\n';
        return ok;
    };
    how.Pause = [](int Ms) { QThread::msleep(static_cast<unsigned long>(Ms)); };
    how.Fetch = [&] {
        const bool ok = link->Fetch(record);
        Out << (ok ? "fetched" : "could not fetch") << " the stored variables\n";
        return ok;
    };
    how.StoredRead = [&] {
        storedRead = true;
        Out << "stored poll period " << int(record[instrument::PollPeriod]) << ", scale "
            << int(record[instrument::ScaleByte]) << '\n';
    };
    const bool ok = instrument::RunCommand(record.data(), command.Code, period, how);
    if (!ok) {
        Out.flush();
        Err << "ormelix-cli: the instrument did not take every report\n";
        return ExitUnreachable;
    }
    return Written(Out, Err, ExitDone);
}

int Info(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
    bool json = false;
    std::string device;
    int demo = 0;
    ArgReader args(Args);
    while (args.Next()) {
        if (args.Name() == "--json")
            json = true;
        else if (args.Name() == "--demo")
            demo = DemoInstruments(args);
        else if (args.Name() == "--device")
            device = args.Value();
        else
            throw Usage{"unknown option " + args.Name()};
    }
    std::unique_ptr<DemoMachine> machine;
    if (demo > 0) machine = std::make_unique<DemoMachine>(demo);
    QtHidEventLoop loop;
    auto link = Reach(loop, device, Err);
    if (!link) return ExitUnreachable;
    Record r{};
    if (!link->Fetch(r)) {
        return FetchRefused(*link, Err);
    }
    using namespace instrument;
    const uint8_t scale = r[ScaleByte];
    const struct {
        const char* Key;
        const char* Label;
        int Byte;
    } levels[] = {{"min_s1", "min S1", MinS1},
                  {"max_s1", "max S1", MaxS1},
                  {"min_s2", "min S2", MinS2},
                  {"max_s2", "max S2", MaxS2}};
    if (json) {
        Out << "{\"device\": " << JsonString(link->Path()) << ", \"scale\": " << int(scale)
            << ", \"cursor\": " << int(r[CursorPos]) << ", \"poll_period\": " << int(r[PollPeriod]);
        for (const auto& l : levels) {
            const std::string v = VoltsText(r[l.Byte], scale);
            Out << ", \"" << l.Key << "\": {\"byte\": " << int(r[l.Byte])
                << ", \"volts\": " << (v.empty() ? "null" : v) << '}';
        }
        Out << "}\n";
    } else {
        Out << "device       " << link->Path() << '\n'
            << "scale        " << int(scale) << (scale == 0 ? " (no volts)" : "") << '\n'
            << "cursor       " << int(r[CursorPos]) << '\n'
            << "poll period  " << int(r[PollPeriod]) << '\n';
        for (const auto& l : levels) {
            const std::string v = VoltsText(r[l.Byte], scale);
            Out << l.Label << "       " << (v.empty() ? "-" : v + " V") << "  (byte "
                << int(r[l.Byte]) << ")\n";
        }
    }
    return Written(Out, Err, ExitDone);
}

bool WantsHelp(const std::vector<std::string>& Args) {
    for (const std::string& a : Args)
        if (a == "-h" || a == "--help") return true;
    return false;
}

} // namespace

int CliMain(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
    if (Args.empty()) {
        Err << MainHelp;
        return ExitUsage;
    }
    const std::string& command = Args[0];
    const std::vector<std::string> rest(Args.begin() + 1, Args.end());
    if (command == "-h" || command == "--help" || command == "help") {
        Out << MainHelp;
        return Written(Out, Err, ExitDone);
    }
    if (command == "--version") {
        Out << "ormelix-cli " << ORMELIX_VERSION << '\n';
        return Written(Out, Err, ExitDone);
    }
    const std::string help = command == "record" ? RecordHelp
                             : command == "send" ? SendHelp()
                             : command == "info" ? InfoHelp
                             : command == "list" ? ListHelp
                                                 : std::string();
    if (help.empty()) {
        Err << "ormelix-cli: unknown command " << command << "\n" << MainHelp;
        return ExitUsage;
    }
    if (WantsHelp(rest)) {
        Out << help;
        return Written(Out, Err, ExitDone);
    }
    try {
        if (command == "record") return RecordRows(rest, Err);
        if (command == "send") return Send(rest, Out, Err);
        if (command == "list") return List(rest, Out, Err);
        return Info(rest, Out, Err);
    } catch (const Usage& u) {
        Err << "ormelix-cli " << command << ": " << u.Message << "\n"
            << "'ormelix-cli " << command << " --help' tells more\n";
        return ExitUsage;
    }
}

} // namespace cli
