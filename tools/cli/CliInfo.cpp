#include "instrument/Protocol.h"
#include "tools/cli/Cli.h"
#include "tools/cli/CliArgs.h"
#include "tools/cli/CliCommands.h"
#include "tools/cli/CliReport.h"
#include "tools/cli/Csv.h"

#include <ostream>

namespace cli {

namespace {

std::string VoltsText(uint8_t Value, uint8_t Scale) {
    std::string text;
    AppendVolts(text, Value, Scale);
    return text;
}

} // namespace

int InfoCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
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
    HeldInstrument held;
    if (const int status = held.Fetch(demo, device, Err); status != ExitDone) return status;
    const InstrumentLink& link = held.Link();
    const Record& r = held.Last;
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
        Out << "{\"device\": " << JsonString(link.Path()) << ", \"scale\": " << int(scale)
            << ", \"cursor\": " << int(r[CursorPos]) << ", \"poll_period\": " << int(r[PollPeriod]);
        for (const auto& l : levels) {
            const std::string v = VoltsText(r[l.Byte], scale);
            Out << ", \"" << l.Key << "\": {\"byte\": " << int(r[l.Byte])
                << ", \"volts\": " << (v.empty() ? "null" : v) << '}';
        }
        Out << "}\n";
    } else {
        Out << "device       " << link.Path() << '\n'
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

} // namespace cli
