#include "hid/sim/DemoMachine.h"
#include "tools/cli/Cli.h"
#include "tools/cli/CliArgs.h"
#include "tools/cli/CliCommands.h"
#include "tools/cli/Console.h"
#include "tools/cli/Recorder.h"

#include <memory>

namespace cli {

std::function<void()> StopRecording;

int RecordCommand(const std::vector<std::string>& Args, std::ostream& Err) {
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

    std::unique_ptr<bench::DemoMachine> machine;
    if (demo > 0) machine = std::make_unique<bench::DemoMachine>(demo);
    Recorder recorder(options, Err);
    // Nothing reads the simulated platform's transfer log: keep it from growing.
    if (machine) recorder.AfterTick = [&machine](uint64_t) { machine->Sim().ClearLogs(); };
    StopRecording = [&recorder] { recorder.Stop(); };
    const int status = recorder.Run();
    StopRecording = nullptr;
    return status;
}

} // namespace cli
