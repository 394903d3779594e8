// Inside the virtual machine: the Python module, in a Python of its own on the machine's own
// platform, fetches one record from the instrument that this process plugs into vhci-hcd and
// sends it a command; both are compared byte for byte with what the instrument handed out and
// took in.
//   vm_python_check PYTHON MODULE_FOLDER
#include "tests/tools/sim/vm/PluggedInstrument.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <memory>
#include <string>

namespace {

// Waits for the instrument's node as long as udev takes (up to 50 s), prints the record's bytes
// in hex, then sends os1=1. No numpy: neither call makes an array.
constexpr const char* kScript = R"(
import time, ormelix
deadline = time.monotonic() + 50
while True:
    try:
        scope = ormelix.Instrument()
        break
    except ormelix.NotFound:
        if time.monotonic() > deadline:
            raise
        time.sleep(0.2)
print(scope.fetch().raw.hex(), flush=True)
scope.send("os1=1")
scope.close()
)";

std::string Hex(const Recorder::Record& R) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : R) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    VmChecks checks;
    if (argc < 3) {
        checks.Report("python-fetch", false, "usage: vm_python_check PYTHON MODULE_FOLDER");
        return checks.ExitCode();
    }

    PluggedInstrument plugged;
    if (!plugged.Attach(checks, "python-fetch")) return checks.ExitCode();
    auto& instrument = plugged.Instrument;
    Recorder& recorder = plugged.Transfers;
    VhciAttachment& plug = plugged.Plug;
    std::string error;

    QProcess python;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PYTHONPATH", QString::fromLocal8Bit(argv[2]));
    python.setProcessEnvironment(environment);
    // -S: no site packages, the image carries only what the module needs.
    python.start(QString::fromLocal8Bit(argv[1]), {"-S", "-c", kScript});
    std::string fetchWhy, sendWhy;
    if (!python.waitForFinished(70000)) {
        fetchWhy = sendWhy = "did not finish within 70 s";
        python.kill();
        python.waitForFinished();
    } else if (python.exitCode() != 0) {
        fetchWhy = sendWhy = "exit status " + std::to_string(python.exitCode()) + ": " +
                             python.readAllStandardError().toStdString();
    } else {
        const std::string printed = python.readAllStandardOutput().trimmed().toStdString();
        const auto fetched = recorder.Fetched();
        const auto received = recorder.Received();
        // fetch(), then send's own fetch of the record it sends back.
        if (fetched.size() < 2)
            fetchWhy = std::to_string(fetched.size()) + " fetches reached the device";
        else if (printed != Hex(fetched[fetched.size() - 2]))
            fetchWhy = "printed " + printed + ", the device handed out " +
                       Hex(fetched[fetched.size() - 2]);
        if (received.size() != 1) {
            sendWhy = std::to_string(received.size()) + " records reached the device";
        } else if (!instrument->Snapshot().Os1) {
            sendWhy = "the instrument did not switch OS1 on";
        } else if (!fetched.empty()) {
            Recorder::Record want = fetched.back();
            want[instrument::CommandCode] = instrument::command::Os1On;
            sendWhy = FirstDifference(received.back(), want);
        }
    }
    checks.Report("python-fetch", fetchWhy.empty(), fetchWhy);
    checks.Report("python-send", sendWhy.empty(), sendWhy);

    plug.Detach(error);
    return checks.ExitCode();
}
