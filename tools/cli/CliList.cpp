#include "hid/qt/QtHidEventLoop.h"
#include "hid/sim/DemoMachine.h"
#include "tools/cli/Cli.h"
#include "tools/cli/CliArgs.h"
#include "tools/cli/CliCommands.h"
#include "tools/cli/CliReport.h"
#include "tools/cli/Recorder.h"

#include <QCoreApplication>
#include <algorithm>
#include <memory>
#include <ostream>

namespace cli {

int ListCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
    bool json = false;
    int demo = 0;
    ArgReader r(Args);
    while (r.Next()) {
        if (r.Name() == "--json")
            json = true;
        else if (r.Name() == "--demo")
            demo = DemoInstruments(r);
        else
            throw Usage{"unknown option " + r.Name()};
    }
    std::unique_ptr<bench::DemoMachine> machine;
    if (demo > 0) machine = std::make_unique<bench::DemoMachine>(demo);
    QtHidEventLoop loop;
    InstrumentLink link(&loop);
    QCoreApplication::sendPostedEvents(); // the controller's first scan
    if (!link.Bound()) {
        Err << "ormelix-cli: " << InstrumentHint() << '\n';
        return ExitUnreachable;
    }
    int chosen = -1;
    const std::vector<InstrumentEntry> entries = link.List(chosen);
    const auto orNull = [](const std::string& Text) {
        return Text.empty() ? std::string("null") : JsonString(Text);
    };
    if (json) {
        Out << '[';
        for (size_t i = 0; i < entries.size(); ++i)
            Out << (i > 0 ? ", " : "") << "{\"path\": " << JsonString(entries[i].Path)
                << ", \"serial\": " << orNull(entries[i].Serial)
                << ", \"location\": " << orNull(entries[i].Location)
                << ", \"default\": " << (static_cast<int>(i) == chosen ? "true" : "false") << '}';
        Out << "]\n";
    } else if (!entries.empty()) {
        size_t pathWidth = 4, serialWidth = 6, locationWidth = 8;
        for (const InstrumentEntry& e : entries) {
            pathWidth = std::max(pathWidth, e.Path.size());
            serialWidth = std::max(serialWidth, std::max<size_t>(1, e.Serial.size()));
            locationWidth = std::max(locationWidth, std::max<size_t>(1, e.Location.size()));
        }
        const auto cell = [&](const std::string& Text, size_t Width) {
            const std::string t = Text.empty() ? "-" : Text;
            Out << t << std::string(Width - t.size() + 2, ' ');
        };
        cell("PATH", pathWidth);
        cell("SERIAL", serialWidth);
        cell("LOCATION", locationWidth);
        Out << "DEFAULT\n";
        for (size_t i = 0; i < entries.size(); ++i) {
            cell(entries[i].Path, pathWidth);
            cell(entries[i].Serial, serialWidth);
            cell(entries[i].Location, locationWidth);
            Out << (static_cast<int>(i) == chosen ? "yes" : "no") << '\n';
        }
    }
    if (entries.empty()) {
        const std::string hint = InstrumentHint();
        Err << "ormelix-cli: no instrument" << (hint.empty() ? "" : ": " + hint) << '\n';
    }
    return Written(Out, Err, ExitDone);
}

} // namespace cli
