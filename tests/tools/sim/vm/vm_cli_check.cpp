// Inside the virtual machine: ormelix-cli, as its own process on the machine's own platform,
// records from the instrument that this process plugs into vhci-hcd and sends it a command; the
// rows and the report are compared byte for byte with what the instrument handed out and took in.
//   vm_cli_check ORMELIX_CLI
#include "tests/tools/sim/vm/PluggedInstrument.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

#include <memory>
#include <string>

namespace {

constexpr int Rows = 3;

// Why the raw rows of Csv are not the last Rows records of Fetched, or empty.
std::string RowsMatch(const QByteArray& Csv, const std::vector<Recorder::Record>& Fetched) {
    QList<QByteArray> lines = Csv.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    if (lines.size() != Rows + 1) return std::to_string(lines.size()) + " lines in the file";
    if (Fetched.size() < Rows)
        return std::to_string(Fetched.size()) + " fetches reached the device";
    for (int k = 0; k < Rows; ++k) {
        QByteArray line = lines[k + 1];
        if (!line.endsWith('\r')) return "row " + std::to_string(k + 1) + " does not end in CR LF";
        const QList<QByteArray> fields = line.chopped(1).split(',');
        if (fields.size() != 250)
            return "row " + std::to_string(k + 1) + " has " + std::to_string(fields.size()) +
                   " fields";
        const Recorder::Record& r = Fetched[Fetched.size() - Rows + k];
        // scale, cursor, min/max, then both traces, as the record's bytes.
        std::vector<int> bytes = {instrument::ScaleByte, instrument::CursorPos, instrument::MinS1,
                                  instrument::MaxS1,     instrument::MinS2,     instrument::MaxS2};
        for (int s = 0; s < 2; ++s)
            for (int i = 0; i < instrument::SamplePoints; ++i)
                bytes.push_back(instrument::SampleByte(s, i));
        for (size_t c = 0; c < bytes.size(); ++c) {
            if (fields[2 + static_cast<int>(c)].toInt() != r[bytes[c]] ||
                fields[2 + static_cast<int>(c)].isEmpty())
                return "row " + std::to_string(k + 1) + " column " + std::to_string(2 + c) +
                       " is " + fields[2 + static_cast<int>(c)].toStdString() + " instead of " +
                       std::to_string(r[bytes[c]]);
        }
    }
    return {};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    VmChecks checks;
    if (argc < 2) {
        checks.Report("cli-record", false, "usage: vm_cli_check ORMELIX_CLI");
        return checks.ExitCode();
    }
    const QString cli = QString::fromLocal8Bit(argv[1]);

    PluggedInstrument plugged;
    if (!plugged.Attach(checks, "cli-record")) return checks.ExitCode();
    auto& instrument = plugged.Instrument;
    Recorder& recorder = plugged.Transfers;
    VhciAttachment& plug = plugged.Plug;
    std::string error;

    // It waits for the instrument's node as long as udev takes (up to 50 s), then records.
    QProcess record;
    record.start(cli, {"record", "--raw", "--wait", "50", "--count", QString::number(Rows),
                       "--period", "100", "-o", "/tmp/cli.csv"});
    std::string why;
    if (!record.waitForFinished(60000)) {
        why = "did not finish within 60 s";
        record.kill();
        record.waitForFinished();
    } else if (record.exitCode() != 0) {
        why = "exit status " + std::to_string(record.exitCode()) + ": " +
              record.readAllStandardError().toStdString();
    } else {
        QFile file("/tmp/cli.csv");
        why = file.open(QIODevice::ReadOnly) ? RowsMatch(file.readAll(), recorder.Fetched())
                                             : "no /tmp/cli.csv";
    }
    checks.Report("cli-record", why.empty(), why);

    // os1=1: the record just fetched goes back with command 49, every other byte unchanged.
    const size_t receivedBefore = recorder.Received().size();
    QProcess send;
    send.start(cli, {"send", "os1=1"});
    why.clear();
    if (!send.waitForFinished(30000) || send.exitCode() != 0) {
        why = "exit status " + std::to_string(send.exitCode()) + ": " +
              send.readAllStandardError().toStdString();
    } else {
        const auto received = recorder.Received();
        const auto fetched = recorder.Fetched();
        if (received.size() != receivedBefore + 1) {
            why = std::to_string(received.size() - receivedBefore) + " records reached the device";
        } else if (!instrument->Snapshot().Os1) {
            why = "the instrument did not switch OS1 on";
        } else {
            Recorder::Record want = fetched.back();
            want[instrument::CommandCode] = instrument::command::Os1On;
            why = FirstDifference(received.back(), want);
        }
    }
    checks.Report("cli-send", why.empty(), why);

    plug.Detach(error);
    return checks.ExitCode();
}
