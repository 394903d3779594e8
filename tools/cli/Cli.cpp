#include "tools/cli/Cli.h"

#include "instrument/CommandList.h"
#include "tools/cli/CliArgs.h"
#include "tools/cli/CliCommands.h"
#include "tools/cli/CliReport.h"

#include <ostream>

#ifndef ORMELIX_VERSION
#define ORMELIX_VERSION "unknown"
#endif

namespace cli {

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
        if (command == "record") return RecordCommand(rest, Err);
        if (command == "send") return SendCommand(rest, Out, Err);
        if (command == "list") return ListCommand(rest, Out, Err);
        return InfoCommand(rest, Out, Err);
    } catch (const Usage& u) {
        Err << "ormelix-cli " << command << ": " << u.Message << "\n"
            << "'ormelix-cli " << command << " --help' tells more\n";
        return ExitUsage;
    }
}

} // namespace cli
