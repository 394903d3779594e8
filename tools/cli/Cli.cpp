#include "tools/cli/Cli.h"

#include "hid/qt/QtHidEventLoop.h"
#include "hid/sim/SimInstrument.h"
#include "instrument/Command.h"
#include "tools/cli/Csv.h"
#include "tools/cli/InstrumentLink.h"
#include "tools/cli/Recorder.h"
#include "tools/demo/BenchDevices.h"

#include <QCoreApplication>
#include <QThread>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <ostream>
#include <unistd.h>

namespace cli {

std::function<void()> StopRecording;

namespace {

const char* const MainHelp = R"(usage: ormelix-cli COMMAND [OPTIONS]

Records the Ormelix instrument's traces to CSV and sends it commands.

commands:
  record   fetch one record per period and write one CSV row for it
  send     send one of the console's eight commands
  info     fetch one record and print it decoded

'ormelix-cli COMMAND --help' tells more. Exit status: 0 done, 1 the instrument
cannot be reached, 2 usage error, 3 the output file failed.
)";

const char* const RecordHelp =
    R"(usage: ormelix-cli record [-o FILE] [--period MS] [--count N | --duration TIME]
                          [--raw] [--force | --append] [--demo]

Fetches one record from the instrument per period and writes it as one CSV row
(RFC 4180, header row): time (ISO 8601, local time with UTC offset), record
counter, scale, cursor, min_s1, max_s1, min_s2, max_s2, s1_0..s1_120,
s2_0..s2_120; 250 columns. Volts are byte x 1.1 / scale with 6 decimals; a
record with scale 0 has empty volt fields. Waits for the instrument when it is
absent and goes on when it is plugged in again. Ctrl-C ends the recording.

  -o, --output FILE  write to FILE (default: standard output)
  --period MS        milliseconds from the end of one fetch to the next,
                     at least 10 (default 500)
  --count N          stop after N rows
  --duration TIME    stop after TIME: seconds, or with s, m or h (10m)
  --raw              write the byte values instead of volts
  --force            replace an existing FILE
  --append           add to an existing FILE of the same kind of rows
  --demo             record from the virtual instrument instead
)";

const char* const SendHelp = R"(usage: ormelix-cli send [--demo] COMMAND [PERIOD]

Sends one of the console's commands as its command button does: the record just
fetched goes back with the command code. COMMAND is a name or a code:

  normal          0   normal operation
  read-stored     1   read the stored variables (sent, 10 ms pause, fetched,
                      sent back; prints the stored poll period and scale)
  save-period N   2   store the poll period N (1..255)
  reset          32   working variables back to the stored ones
  os1=0 / os1=1  48/49  indicator OS1 test
  os2=0 / os2=1  64/65  output OS2 test

Prints each report it sent. --demo sends to the virtual instrument instead.
)";

const char* const InfoHelp = R"(usage: ormelix-cli info [--json] [--demo]

Fetches one record and prints it decoded: scale, cursor, the poll period byte,
and the minima and maxima of both signals in volts (byte x 1.1 / scale).
--json prints one JSON object instead; volts are null when the scale is 0.
)";

struct Usage {
    std::string Message;
};

// The simulated machine of ormelix-demo, installed for as long as it lives.
class DemoMachine {
public:
    DemoMachine()
        : previous_(&CurrentHidPlatform()), instrument_(std::make_shared<VirtualInstrument>()) {
        sim_.Plug(VirtualInstrumentDevice(instrument_, bench::InstrumentPath));
        sim_.Plug(bench::Mouse());
        sim_.Plug(bench::LookAlike());
        SetHidPlatform(sim_.Platform());
    }
    ~DemoMachine() { SetHidPlatform(previous_); }
    hidsim::SimHidPlatform& Sim() { return sim_; }

private:
    const HidPlatform* previous_;
    hidsim::SimHidPlatform sim_;
    std::shared_ptr<VirtualInstrument> instrument_;
};

std::optional<int64_t> Number(const std::string& Text) {
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
    if (ec != std::errc() || end != Text.data() + Text.size()) return std::nullopt;
    return value;
}

std::optional<int64_t> DurationMs(std::string Text) {
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
    if (!n || *n <= 0 || *n > INT64_MAX / unit) return std::nullopt;
    return *n * unit;
}

// The instrument, found as the console finds it, or a hint on Err and no link.
std::unique_ptr<InstrumentLink> Reach(HidEventLoop& Loop, std::ostream& Err) {
    auto link = std::make_unique<InstrumentLink>(&Loop);
    QCoreApplication::sendPostedEvents(); // the controller's first scan
    if (link->Bound() && link->Find()) return link;
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
    bool force = false, append = false, demo = false;
    for (size_t i = 0; i < Args.size(); ++i) {
        const std::string& a = Args[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= Args.size()) throw Usage{a + " needs a value"};
            return Args[++i];
        };
        if (a == "-o" || a == "--output") {
            options.Output = value();
            if (options.Output == "-") options.Output.clear();
        } else if (a == "--period") {
            const auto n = Number(value());
            if (!n || *n < 10 || *n > 3600 * 1000)
                throw Usage{"--period takes milliseconds from 10 to 3600000"};
            options.PeriodMs = static_cast<int>(*n);
        } else if (a == "--count") {
            const auto n = Number(value());
            if (!n || *n <= 0) throw Usage{"--count takes a number of rows above 0"};
            options.Count = static_cast<uint64_t>(*n);
        } else if (a == "--duration") {
            const auto ms = DurationMs(value());
            if (!ms) throw Usage{"--duration takes seconds, or a number with s, m or h"};
            options.DurationMs = *ms;
        } else if (a == "--raw") {
            options.Raw = true;
        } else if (a == "--force") {
            force = true;
        } else if (a == "--append") {
            append = true;
        } else if (a == "--demo") {
            demo = true;
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
    options.Progress = ::isatty(STDERR_FILENO) == 1;

    std::unique_ptr<DemoMachine> machine;
    if (demo) machine = std::make_unique<DemoMachine>();
    Recorder recorder(options, Err);
    // Nothing reads the simulated platform's transfer log: keep it from growing.
    if (machine) recorder.AfterTick = [&machine](uint64_t) { machine->Sim().ClearLogs(); };
    StopRecording = [&recorder] { recorder.Stop(); };
    const int status = recorder.Run();
    StopRecording = nullptr;
    return status;
}

int Send(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
    std::vector<std::string> words;
    bool demo = false;
    for (const std::string& a : Args) {
        if (a == "--demo")
            demo = true;
        else
            words.push_back(a);
    }
    if (words.empty()) throw Usage{"send needs a command: 'ormelix-cli send --help' lists them"};
    const int item = instrument::FindCommandItem(words[0]);
    if (item < 0) throw Usage{"unknown command " + words[0]};
    const instrument::CommandItem& command = instrument::CommandItems[item];
    uint8_t period = 0;
    const bool save = command.Code == instrument::command::SaveStored;
    if (save) {
        const auto n = words.size() == 2 ? Number(words[1]) : std::nullopt;
        if (!n || *n < 1 || *n > 255)
            throw Usage{"save-period needs the poll period to store, 1 to 255"};
        period = static_cast<uint8_t>(*n);
    } else if (words.size() > 1) {
        throw Usage{std::string(command.Name) + " takes no value"};
    }

    std::unique_ptr<DemoMachine> machine;
    if (demo) machine = std::make_unique<DemoMachine>();
    QtHidEventLoop loop;
    auto link = Reach(loop, Err);
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
    Out.flush();
    if (!ok) {
        Err << "ormelix-cli: the instrument did not take every report\n";
        return ExitUnreachable;
    }
    return ExitDone;
}

int Info(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
    bool json = false, demo = false;
    for (const std::string& a : Args) {
        if (a == "--json")
            json = true;
        else if (a == "--demo")
            demo = true;
        else
            throw Usage{"unknown option " + a};
    }
    std::unique_ptr<DemoMachine> machine;
    if (demo) machine = std::make_unique<DemoMachine>();
    QtHidEventLoop loop;
    auto link = Reach(loop, Err);
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
    Out.flush();
    return ExitDone;
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
        return ExitDone;
    }
    const char* help = command == "record" ? RecordHelp
                       : command == "send" ? SendHelp
                       : command == "info" ? InfoHelp
                                           : nullptr;
    if (help == nullptr) {
        Err << "ormelix-cli: unknown command " << command << "\n" << MainHelp;
        return ExitUsage;
    }
    if (WantsHelp(rest)) {
        Out << help;
        return ExitDone;
    }
    try {
        if (command == "record") return RecordRows(rest, Err);
        if (command == "send") return Send(rest, Out, Err);
        return Info(rest, Out, Err);
    } catch (const Usage& u) {
        Err << "ormelix-cli " << command << ": " << u.Message << "\n"
            << "'ormelix-cli " << command << " --help' tells more\n";
        return ExitUsage;
    }
}

} // namespace cli
