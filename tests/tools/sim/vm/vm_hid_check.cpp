// Inside the virtual machine: the HID layer on the machine's own platform finds the instrument
// that this process plugs into vhci-hcd, exchanges feature reports with it byte for byte, and
// follows an unplug and a new plug through the udev monitor.
#include "tests/tools/sim/vm/Recorder.h"
#include "tests/tools/sim/vm/VmCheck.h"
#include "tools/sim/VhciAttachment.h"

#include "hid/HidPlatform.h"
#include "hid/JvHidControllerClass.h"
#include "hid/qt/QtHidEventLoop.h"
#include "instrument/Protocol.h"

#include <QCoreApplication>

#include <array>
#include <memory>
#include <optional>

namespace {

bool IsInstrument(TJvHidDevice* Dev) {
    return Dev->ProductName() == instrument::ProductWide.data() &&
           Dev->VendorName() == instrument::ManufacturerWide.data();
}

// What the controller's handlers saw of the instrument.
struct Watcher {
    int arrivals = 0;
    int removals = 0;
    std::optional<DWORD> arrived; // device instance of the last instrument arrival
    std::optional<DWORD> removed;
    int index = -1;
    DWORD instance = 0;

    void Arrival(TJvHidDevice* Dev) {
        if (!IsInstrument(Dev)) return;
        ++arrivals;
        arrived = Dev->PnPInfo().DeviceInstance;
    }
    void Removal(TJvHidDevice* Dev) {
        ++removals;
        removed = Dev->PnPInfo().DeviceInstance;
    }
    bool Enumerate(TJvHidDevice* Dev, int Idx) {
        if (IsInstrument(Dev)) {
            index = Idx;
            instance = Dev->PnPInfo().DeviceInstance;
        }
        return true;
    }
};

// One fetch through the HID layer, compared with the record the instrument handed out for it.
std::string FetchMatches(TJvHidDevice* Dev, const Recorder& Rec) {
    std::array<uint8_t, 255> report{};
    const size_t before = Rec.Fetched().size();
    if (!Dev->GetFeature(report.data(), report.size())) return "GetFeature failed";
    const auto fetched = Rec.Fetched();
    if (fetched.size() != before + 1)
        return std::to_string(fetched.size() - before) + " fetches reached the device";
    // Byte 0 names report 0; the record follows as the device sent it.
    if (report[0] != 0) return "report id byte " + std::to_string(report[0]);
    return FirstDifference(std::span(report).subspan(1), fetched.back());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    VmChecks checks;
    SetHidPlatform(NativeHidPlatform()); // udev, hidraw, sysfs

    auto instrument = std::make_shared<VirtualInstrument>();
    UsbHidInstrument device(instrument);
    Recorder recorder;
    recorder.Watch(device);
    VhciAttachment plug(device);

    QtHidEventLoop loop;
    Watcher watcher;
    auto controller = std::make_unique<TJvHidDeviceController>(&loop);
    controller->SetOnArrival(TJvHidPlugEvent(&watcher, &Watcher::Arrival));
    controller->SetOnRemoval(TJvHidPlugEvent(&watcher, &Watcher::Removal));
    controller->SetOnEnumerate(TJvHidEnumerateEvent(&watcher, &Watcher::Enumerate));
    WaitFor([] { return false; }, 200); // the first, posted scan of an empty machine

    std::string error;
    if (!plug.Attach(error)) {
        checks.Report("hid-arrival", false, "attach: " + error);
        return checks.ExitCode();
    }
    const bool arrived = WaitFor([&] { return watcher.arrivals == 1; }, 15000);
    checks.Report("hid-arrival", arrived && controller->LastChangeParam() == 0,
                  arrived ? "the rescan was not the udev monitor's"
                          : "no arrival of the instrument within 15 s (" +
                                std::to_string(watcher.arrivals) + " arrivals, " +
                                std::to_string(controller->Count()) + " devices listed)");
    if (!arrived) return checks.ExitCode();
    const DWORD first = *watcher.arrived;

    controller->Enumerate();
    TJvHidDevice* dev = nullptr;
    if (watcher.index < 0 || !controller->CheckOutByIndex(dev, watcher.index)) {
        checks.Report("hid-identity", false, "the instrument could not be checked out");
        return checks.ExitCode();
    }
    const HIDD_ATTRIBUTES& a = dev->Attributes();
    const HIDP_CAPS caps = dev->Caps();
    std::string why;
    if (a.VendorID != instrument::VendorId || a.ProductID != instrument::ProductId)
        why =
            "vendor/product ids " + std::to_string(a.VendorID) + "/" + std::to_string(a.ProductID);
    else if (a.VersionNumber != instrument::VersionNumber)
        why = "version " + std::to_string(a.VersionNumber);
    else if (caps.FeatureReportByteLength != 255 || caps.UsagePage != 0xFF00)
        why = "feature report length " + std::to_string(caps.FeatureReportByteLength) +
              ", usage page " + std::to_string(caps.UsagePage);
    else if (!dev->HasReadWriteAccess() && !dev->OpenHandle())
        why = "no read-write access";
    checks.Report("hid-identity", why.empty(), why);

    why = FetchMatches(dev, recorder);
    checks.Report("hid-get-feature", why.empty(), why);

    // A command: OS2 = 1 in byte 253, every other byte a pattern.
    std::array<uint8_t, 255> sent{};
    for (size_t i = 1; i < sent.size(); ++i) sent[i] = static_cast<uint8_t>(i * 13 + 5);
    sent[1 + instrument::CommandCode] = 65;
    const bool set = dev->SetFeature(sent.data(), sent.size());
    const auto received = recorder.Received();
    if (!set)
        why = "SetFeature failed";
    else if (received.size() != 1)
        why = std::to_string(received.size()) + " records reached the device";
    else if (!instrument->Snapshot().Os2)
        why = "the instrument did not act on the command";
    else
        why = FirstDifference(received[0], std::span(sent).subspan(1));
    checks.Report("hid-set-feature", why.empty(), why);

    // Unplugged: the monitor reports it, the held device is marked gone.
    if (!plug.Detach(error)) {
        checks.Report("hid-removal", false, "detach: " + error);
        return checks.ExitCode();
    }
    const bool removed =
        WaitFor([&] { return watcher.removed == first && !dev->IsPluggedIn(); }, 15000);
    checks.Report("hid-removal", removed && controller->LastChangeParam() == 0,
                  removed ? "the rescan was not the udev monitor's"
                          : "no removal of the instrument within 15 s");
    delete dev; // checked back in; it is gone, so it leaves the list
    dev = nullptr;

    // Plugged again: a new device instance, which works as the first did.
    if (!plug.Attach(error)) {
        checks.Report("hid-rearrival", false, "attach: " + error);
        return checks.ExitCode();
    }
    const bool again = WaitFor([&] { return watcher.arrivals == 2; }, 15000);
    why.clear();
    if (!again) {
        why = "no second arrival within 15 s";
    } else if (*watcher.arrived == first) {
        why = "the same device instance as before the unplug";
    } else {
        watcher.index = -1;
        controller->Enumerate();
        if (watcher.index < 0 || !controller->CheckOutByIndex(dev, watcher.index))
            why = "the new instrument could not be checked out";
        else if (watcher.instance != *watcher.arrived)
            why = "checked out another instance than the one that arrived";
        else
            why = FetchMatches(dev, recorder);
    }
    checks.Report("hid-rearrival", why.empty(), why);

    delete dev;
    controller.reset();
    plug.Detach(error);
    return checks.ExitCode();
}
