#include "tools/cli/Console.h"

#include "tools/cli/OutputFile.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace cli {

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    StopRequested.store(true);
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

} // namespace

void IgnoreBrokenPipe() {
    std::signal(SIGPIPE, SIG_IGN);
}

bool InstallStopHandlers(std::function<void()> Stop, std::string& Error) {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        Error = "cannot set up signal handling";
        return false;
    }
    static std::unique_ptr<QSocketNotifier> notifier;
    notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [Stop = std::move(Stop)] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {}
        Stop();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocked write returns
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
    return true;
}

bool StandardOutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

bool StandardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

} // namespace cli
