// ormelix-sim: the virtual Ormelix instrument as a real USB HID device, plugged into the kernel's
// vhci-hcd until Ctrl-C.
#include "tools/sim/UsbHidInstrument.h"
#include "tools/sim/VhciAttachment.h"

#include <csignal>
#include <cstdio>
#include <ctime> // timespec
#include <memory>
#include <mutex>
#include <string>

#ifndef ORMELIX_VERSION
#define ORMELIX_VERSION "unknown"
#endif

namespace {

void Usage(std::FILE* To) {
    std::fprintf(To, "usage: ormelix-sim [-v|--verbose] [--version]\n"
                     "Plugs the virtual Ormelix instrument into vhci-hcd as a USB HID device and\n"
                     "serves it until interrupted (Ctrl-C); needs root and 'modprobe vhci-hcd'.\n"
                     "  -v, --verbose  log every USB request and reply to standard error\n");
}

} // namespace

int main(int argc, char** argv) {
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-v" || arg == "--verbose") {
            verbose = true;
        } else if (arg == "--version") {
            std::printf("ormelix-sim %s\n", ORMELIX_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 1;
        } else if (arg == "-h" || arg == "--help") {
            Usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "ormelix-sim: unknown argument '%s'\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }

    // Signals are taken by sigtimedwait below; blocked before any thread starts, so that the
    // serving thread never takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    auto instrument = std::make_shared<VirtualInstrument>();
    UsbHidInstrument device(instrument);
    VhciAttachment attachment(device);
    std::mutex logMutex;
    if (verbose) {
        attachment.Log = [&logMutex](const std::string& Line) {
            std::lock_guard lock(logMutex);
            std::fprintf(stderr, "%s\n", Line.c_str());
        };
        device.OnReceived = [&logMutex](const VirtualInstrument::Record& R) {
            std::lock_guard lock(logMutex);
            std::fprintf(stderr, "  record received, command %u\n",
                         unsigned(R[instrument::CommandCode]));
        };
    }

    std::string error;
    if (!attachment.Attach(error)) {
        std::fprintf(stderr, "ormelix-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("ormelix-sim: Ormelix attached to vhci-hcd port %u; Ctrl-C detaches it\n",
                attachment.Port());
    std::fflush(stdout);

    const timespec tick{0, 200 * 1000 * 1000};
    for (;;) {
        siginfo_t info;
        if (sigtimedwait(&signals, &info, &tick) > 0) break;
        if (!attachment.Serving()) {
            // Detached from outside (usbip detach, the controller removed) or a broken stream.
            const auto end = attachment.Ending();
            if (end == UsbIpServer::End::Closed) {
                std::printf("ormelix-sim: the host detached the instrument\n");
                return 0;
            }
            std::fprintf(stderr, "ormelix-sim: connection to vhci-hcd ended: %s\n",
                         attachment.ServerError().c_str());
            attachment.Detach(error);
            return 1;
        }
    }
    if (!attachment.Detach(error)) {
        std::fprintf(stderr, "ormelix-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("ormelix-sim: detached\n");
    return 0;
}
