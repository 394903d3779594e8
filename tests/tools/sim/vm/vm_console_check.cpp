// Inside the virtual machine: the console window on the machine's own HID platform polls the
// instrument that this process plugs into vhci-hcd, its commands reach the instrument byte for
// byte, an unplug brings the idle window, and a new plug is polled once the box is ticked again.
#include "tests/tools/sim/vm/PluggedInstrument.h"

#include "app/Unit1.h"
#include "hid/HidPlatform.h"
#include "hid/JvHidControllerClass.h"
#include "widgets/RXSpin.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include <cstring>
#include <memory>

namespace {

using Record = VirtualInstrument::Record;

Record Exchange() {
    Record r;
    std::memcpy(r.data(), ExchangeBuffer, r.size());
    return r;
}

std::string Same(const Record& Got, const Record& Want) {
    return FirstDifference(Got, Want);
}

bool HasPluggedDevice(TJvHidDeviceController* Controller) {
    for (TJvHidDevice* d : Controller->DeviceList())
        if (d->IsPluggedIn()) return true;
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    VmChecks checks;
    SetHidPlatform(NativeHidPlatform());

    PluggedInstrument plugged;
    if (!plugged.Attach(checks, "console-connect")) return checks.ExitCode();
    auto& instrument = plugged.Instrument;
    Recorder& recorder = plugged.Transfers;
    VhciAttachment& plug = plugged.Plug;
    std::string error;

    auto form = std::make_unique<TOrmelix_Control_Form>();
    // Ticks are driven from here, one at a time.
    form->Timer->setInterval(24 * 3600 * 1000);
    TJvHidDeviceController* controller = form->JvHidDeviceController;
    if (!WaitFor([&] { return HasPluggedDevice(controller); }, 15000)) {
        checks.Report("console-connect", false, "the controller lists no device within 15 s");
        return checks.ExitCode();
    }
    const auto tick = [&] { form->TimerTimer(form->Timer); };

    // Ticking the box reads the stored variables: command 1 in an all-zero record, then the
    // fetched reply sent back unchanged.
    form->CheckBox1->setChecked(true);
    {
        const auto sent = recorder.Received();
        const auto fetched = recorder.Fetched();
        Record first{};
        first[instrument::CommandCode] = 1;
        std::string why;
        if (!InstrumentDevice)
            why = "the instrument was not found";
        else if (sent.size() != 2 || fetched.size() != 1)
            why = std::to_string(sent.size()) + " sends and " + std::to_string(fetched.size()) +
                  " fetches instead of 2 and 1";
        else if (why = Same(sent[0], first); !why.empty())
            why = "first send: " + why;
        else if (why = Same(sent[1], fetched[0]); !why.empty())
            why = "second send: " + why;
        else if (!form->Timer->isActive())
            why = "polling did not start";
        else if (ScaleDivisor != fetched[0][instrument::ScaleByte])
            why = "scale " + std::to_string(ScaleDivisor);
        checks.Report("console-connect", why.empty(), why);
    }

    // A tick fetches one record into the exchange buffer and shows it.
    {
        const size_t before = recorder.Fetched().size();
        tick();
        const auto fetched = recorder.Fetched();
        std::string why;
        if (fetched.size() != before + 1)
            why = std::to_string(fetched.size() - before) + " fetches in one tick";
        else if (why = Same(Exchange(), fetched.back()); !why.empty())
            why = "exchange buffer: " + why;
        else if (form->windowTitle() != QString::fromUtf8(FoundCaption))
            why = "caption " + form->windowTitle().toStdString();
        else if (!form->GoButton->isEnabled())
            why = "commands not enabled";
        checks.Report("console-tick", why.empty(), why);
    }

    // Commands: the last record with the command code (and for a save the poll period).
    {
        std::string why;
        const auto command = [&](int Item, const std::function<void(Record&)>& Edit) {
            const Record last = recorder.Fetched().back();
            const size_t before = recorder.Received().size();
            form->FuncComboBox->setCurrentIndex(Item);
            form->GoButton->click();
            const auto sent = recorder.Received();
            Record want = last;
            Edit(want);
            if (sent.size() != before + 1)
                return "item " + std::to_string(Item) + ": " +
                       std::to_string(sent.size() - before) + " sends";
            const std::string d = Same(sent.back(), want);
            return d.empty() ? d : "item " + std::to_string(Item) + ": " + d;
        };
        why = command(5, [](Record& R) { R[instrument::CommandCode] = 49; });
        if (why.empty() && !instrument->Snapshot().Os1) why = "OS1 not set by the instrument";
        if (why.empty()) {
            form->RxSpinEdit240->SetValue(33);
            why = command(2, [](Record& R) {
                R[instrument::PollPeriod] = 33;
                R[instrument::CommandCode] = 2;
            });
        }
        if (why.empty() && instrument->Snapshot().StoredPollPeriod != 33)
            why = "poll period not stored by the instrument";
        checks.Report("console-command", why.empty(), why);
    }

    // Unplugged: once the controller has seen it go, the next tick finds no instrument.
    {
        std::string why;
        TJvHidDevice* held = InstrumentDevice;
        if (!plug.Detach(error)) why = "detach: " + error;
        if (why.empty() && !WaitFor([&] { return !held->IsPluggedIn(); }, 15000))
            why = "the held instrument was not marked gone within 15 s";
        if (why.empty()) {
            tick();
            if (form->windowTitle() != QString::fromUtf8(NotFoundCaption))
                why = "caption " + form->windowTitle().toStdString();
            else if (form->CheckBox1->isChecked() || form->Timer->isActive())
                why = "still polling";
            else if (form->GoButton->isEnabled() || form->FuncComboBox->isEnabled())
                why = "commands still enabled";
        }
        checks.Report("console-unplug", why.empty(), why);
    }

    // Plugged in again and the box ticked: the new instance is found and polled.
    {
        std::string why;
        if (!plug.Attach(error)) why = "attach: " + error;
        if (why.empty() && !WaitFor([&] { return HasPluggedDevice(controller); }, 15000))
            why = "the controller lists no device within 15 s";
        if (why.empty()) {
            const size_t sentBefore = recorder.Received().size();
            form->CheckBox1->setChecked(true);
            if (recorder.Received().size() != sentBefore + 2)
                why = "the stored variables were not read";
        }
        if (why.empty()) {
            tick();
            if (form->windowTitle() != QString::fromUtf8(FoundCaption))
                why = "caption " + form->windowTitle().toStdString();
            else if (const std::string d = Same(Exchange(), recorder.Fetched().back()); !d.empty())
                why = "exchange buffer: " + d;
        }
        checks.Report("console-replug", why.empty(), why);
    }

    form.reset();
    plug.Detach(error);
    return checks.ExitCode();
}
