// ormelix-cli: records the Ormelix instrument's traces to CSV and sends it commands.
#include "hid/HidPlatform.h"
#include "tools/cli/Cli.h"
#include "tools/cli/Console.h"

#include <QCoreApplication>
#include <exception>
#include <iostream>

namespace {

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
    cli::IgnoreBrokenPipe();

    if (args.empty() || args[0] != "record") return Run(args);

    // The signals end a recording through the event loop, so that it closes cleanly.
    std::string error;
    if (!cli::InstallStopHandlers(
            [] {
                if (cli::StopRecording) cli::StopRecording();
            },
            error)) {
        std::cerr << "ormelix-cli: " << error << '\n';
        return 1;
    }
    return Run(args);
}
