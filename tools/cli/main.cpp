// ormelix-cli: records the Ormelix instrument's traces to CSV and sends it commands.
#include "hid/HidPlatform.h"
#include "tools/cli/Cli.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <exception>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

int Run(const std::vector<std::string>& Args) {
    try {
        return cli::CliMain(Args, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "ormelix-cli: " << e.what() << '\n';
        return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    SetHidPlatform(NativeHidPlatform());
    // Qt's own arguments are not ours: the application sees only the program name.
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);

    if (args.empty() || args[0] != "record") return Run(args);

    // Ctrl-C and SIGTERM end a recording through the event loop, so that it closes cleanly.
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::cerr << "ormelix-cli: cannot set up signal handling\n";
        return 1;
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {}
        if (cli::StopRecording) cli::StopRecording();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    return Run(args);
}
