#include "instrument/Command.h"
#include "tools/cli/Cli.h"
#include "tools/cli/CliArgs.h"
#include "tools/cli/CliCommands.h"
#include "tools/cli/CliReport.h"

#include <QThread>
#include <ostream>

namespace cli {

int SendCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
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

    HeldInstrument held;
    if (const int status = held.Fetch(demo, device, Err); status != ExitDone) return status;
    InstrumentLink& link = held.Link();
    Record& record = held.Last;
    Out << "fetched the last record from " << link.Path() << '\n';
    bool storedRead = false;
    instrument::CommandLink how;
    how.Send = [&] {
        const bool ok = link.Send(record);
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
        const bool ok = link.Fetch(record);
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

} // namespace cli
