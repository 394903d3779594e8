#include "tools/cli/CliReport.h"

#include "hid/qt/QtHidEventLoop.h"
#include "hid/sim/DemoMachine.h"
#include "tools/cli/Cli.h"
#include "tools/cli/Recorder.h"

#include <QCoreApplication>
#include <cstdio>
#include <ostream>

namespace cli {

std::unique_ptr<InstrumentLink> Reach(HidEventLoop& Loop, const std::string& Wanted,
                                      std::ostream& Err) {
    auto link = std::make_unique<InstrumentLink>(&Loop, Wanted);
    QCoreApplication::sendPostedEvents(); // the controller's first scan
    if (link->Bound() && link->Find()) return link;
    if (link->Bound() && !Wanted.empty()) {
        int chosen = -1;
        if (!link->List(chosen).empty()) {
            Err << "ormelix-cli: no instrument with the path or USB serial number " << Wanted
                << " ('ormelix-cli list' lists those present)\n";
            return nullptr;
        }
    }
    const std::string hint = InstrumentHint();
    Err << "ormelix-cli: "
        << (hint.empty() ? std::string("the instrument was found but could not be held: try again")
                         : hint)
        << '\n';
    return nullptr;
}

int FetchRefused(const InstrumentLink& Link, std::ostream& Err) {
    const std::string hint = InstrumentHint();
    Err << "ormelix-cli: "
        << (hint.empty() ? "the instrument at " + Link.Path() + " refused the fetch" : hint)
        << '\n';
    return ExitUnreachable;
}

HeldInstrument::HeldInstrument() = default;

HeldInstrument::~HeldInstrument() = default;

int HeldInstrument::Fetch(int Demo, const std::string& Device, std::ostream& Err) {
    if (Demo > 0) machine_ = std::make_unique<bench::DemoMachine>(Demo);
    loop_ = std::make_unique<QtHidEventLoop>();
    link_ = Reach(*loop_, Device, Err);
    if (!link_) return ExitUnreachable;
    if (!link_->Fetch(Last)) return FetchRefused(*link_, Err);
    return ExitDone;
}

int Written(std::ostream& Out, std::ostream& Err, int Status) {
    Out.flush();
    if (Out) return Status;
    Err << "ormelix-cli: cannot write to standard output (a full disk, or a reader that went "
           "away): the output is lost\n";
    return ExitFile;
}

std::string JsonString(const std::string& Text) {
    std::string out = "\"";
    for (unsigned char c : Text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

} // namespace cli
