// libFuzzer entry: the HID layer on the simulated platform while devices are plugged, pulled,
// changed to fail their calls, rescanned, enumerated, checked out, used and checked back in, in
// any order; with readers running, whose handlers (like the plug handlers) check devices in,
// clear handlers, unplug and stop devices or throw. No crash, consistent counters, and once
// everything is destroyed nothing the layer took from the platform is left open, loaded or
// allocated.
// Input: one operation per byte pair (operation, argument).
#include "fuzz/FuzzSupport.h"
#include "hid/Hid.h"
#include "hid/JvHidControllerClass.h"
#include "hid/SetupApi.h"
#include "hid/sim/SimHidPlatform.h"
#include "instrument/Protocol.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int Slots = 6;

std::string PathOf(int Slot) {
    return "/dev/hidraw" + std::to_string(Slot);
}

// A device whose every way of failing is chosen by the bits of Kind.
hidsim::SimDeviceSpec Device(int Slot, uint8_t Kind) {
    hidsim::SimDeviceSpec desc;
    desc.Path = PathOf(Slot);
    desc.VendorID = instrument::VendorId;
    desc.ProductID = static_cast<USHORT>(Slot);
    desc.Manufacturer = (Kind & 0x01) ? u"Other" : instrument::ManufacturerWide.data();
    desc.Product = instrument::ProductWide.data();
    desc.ManufacturerReadable = (Kind & 0x02) == 0;
    desc.Access = (Kind & 0x0C) == 0x04   ? hidsim::SimAccess::QueryOnly
                  : (Kind & 0x0C) == 0x08 ? hidsim::SimAccess::None
                                          : hidsim::SimAccess::ReadWrite;
    desc.Identifiable = (Kind & 0x10) == 0;
    desc.DetailReadable = (Kind & 0x20) == 0 || (Kind & 0x0C) == 0;
    desc.PreparsedReadable = (Kind & 0x40) == 0;
    desc.FeatureReportByteLength = (Kind & 0x80) ? 0 : instrument::ReportSize;
    desc.InputReportByteLength = 8;
    const bool failing = (Kind & 0x80) != 0;
    desc.GetFeature = [failing](uint8_t* Report, uint32_t Length) {
        if (Length > 1) Report[1] = 0x5A;
        return !failing;
    };
    desc.SetFeature = [failing](const uint8_t*, uint32_t) { return !failing; };
    return desc;
}

void CheckCounters(const TJvHidDeviceController& C) {
    int out = 0, unplugged = 0, held = 0;
    for (const TJvHidDevice* d : C.DeviceList()) {
        if (d->IsCheckedOut()) ++out;
        if (d->IsCheckedOut() && d->IsPluggedIn()) ++held;
        if (!d->IsPluggedIn()) {
            ++unplugged;
            // Only a checked-out device stays listed once gone.
            if (!d->IsCheckedOut()) fuzz::Fail("an unplugged device that nobody holds is listed");
        }
    }
    if (C.CheckedInCount() != C.Count() - out) fuzz::Fail("checked-in count");
    if (C.UnpluggedCount() != unplugged) fuzz::Fail("unplugged count");
    // Checked out and still plugged in, whoever marked a device unplugged.
    if (C.CheckedOutCount() != held) fuzz::Fail("checked-out count");
}

// The event loop of the fuzzer's GUI thread: posted calls and descriptor watches run when the
// input says so.
class FuzzLoop final : public HidEventLoop {
public:
    void Post(std::function<void()> Fn) override {
        std::lock_guard<std::mutex> lock(FLock);
        FPosted.push_back(std::move(Fn));
    }
    void* Watch(int Fd, std::function<void()> OnReadable) override {
        FWatches.push_back(std::make_unique<Entry>(Entry{Fd, std::move(OnReadable)}));
        return FWatches.back().get();
    }
    void Unwatch(void* Token) override {
        for (auto& w : FWatches)
            if (w.get() == Token) w->Fd = -1;
    }
    bool IsGuiThread() const override { return std::this_thread::get_id() == FGui; }
    void HandleException(std::exception_ptr) noexcept override { ++Dropped; }

    void Pump() {
        std::deque<std::function<void()>> now;
        {
            std::lock_guard<std::mutex> lock(FLock);
            now.swap(FPosted);
        }
        for (auto& f : now) f();
        for (size_t i = 0; i < FWatches.size(); ++i) {
            pollfd p{FWatches[i]->Fd, POLLIN, 0};
            if (p.fd >= 0 && ::poll(&p, 1, 0) == 1) FWatches[i]->OnReadable();
        }
    }

    int Dropped = 0;

private:
    struct Entry {
        int Fd;
        std::function<void()> OnReadable;
    };
    std::thread::id FGui = std::this_thread::get_id();
    std::mutex FLock;
    std::deque<std::function<void()>> FPosted;
    std::vector<std::unique_ptr<Entry>> FWatches;
};

// The application's side: handlers bound to this object, and the devices it holds.
struct Application {
    TJvHidDeviceController* c = nullptr;
    std::vector<TJvHidDevice*> held; // checked out, owned here
    int removals = 0, arrivals = 0;
    // What the handlers do: three bits for data, three for errors, two for plug events.
    uint8_t reaction = 0;
    unsigned calls = 0;

    // Checks a held device in: out of the list first, so that a handler run by its destruction
    // cannot find it again.
    void CheckIn(TJvHidDevice* D) {
        auto it = std::find(held.begin(), held.end(), D);
        if (it == held.end()) return;
        held.erase(it);
        delete D;
    }
    TJvHidDevice* Other() { return held.empty() ? nullptr : held[++calls % held.size()]; }

    void React(TJvHidDevice* D, unsigned Action) {
        switch (Action) {
        case 1:
            CheckIn(D);
            break;
        case 2:
            CheckIn(Other());
            break;
        case 3:
            if (std::find(held.begin(), held.end(), D) != held.end())
                D->SetOnData(TJvHidDataEvent());
            break;
        case 4:
            if (c != nullptr) c->SetOnDeviceData(TJvHidDataEvent());
            break;
        case 5:
            if (TJvHidDevice* o = Other()) o->MarkUnplugged();
            break;
        case 6:
            if (TJvHidDevice* o = Other()) o->StopReader();
            break;
        case 7:
            throw std::runtime_error("handler");
        default:
            break;
        }
    }
    void Data(TJvHidDevice* D, uint8_t, const void*, uint16_t) { React(D, reaction & 7); }
    void DataError(TJvHidDevice* D, uint32_t) { React(D, (reaction >> 3) & 7); }
    // Plug events may come for devices nobody holds: only the safe half of the reactions.
    void Plug(TJvHidDevice* D) { React(D, ((reaction >> 6) & 3) * 2); }

    void Removal(TJvHidDevice* D) {
        ++removals;
        Plug(D);
    }
    void Arrival(TJvHidDevice* D) {
        ++arrivals;
        Plug(D);
    }
    // The console's rule: take a matching device.
    bool Found(TJvHidDevice* Dev, int Idx) {
        if (Dev->ProductName() == instrument::ProductWide.data() &&
            Dev->VendorName() == instrument::ManufacturerWide.data()) {
            TJvHidDevice* got = nullptr;
            if (c->CheckOutByIndex(got, Idx) && got) held.push_back(got);
        }
        return true;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    fuzz::Bytes in(Data, Size);
    hidsim::SimHidPlatform sim;
    SetHidPlatform(sim.Platform());
    const uint8_t libraries = in.Byte();
    if ((libraries & 0x0F) == 0x01) sim.SetLibraryPresent("HID.dll", false);
    if ((libraries & 0x0F) == 0x02) sim.SetLibraryPresent("SetupApi.dll", false);
    if ((libraries & 0x0F) == 0x03) sim.SetOptionalHidEntriesPresent(false);

    Application app;
    std::vector<TJvHidDevice*>& held = app.held;
    FuzzLoop loop;
    {
        // Without an event loop the readers deliver on their own threads, which the handlers
        // here are not written for: they only stop and check in without one.
        const bool withLoop = (libraries & 0x10) == 0;
        auto controller = std::make_unique<TJvHidDeviceController>(withLoop ? &loop : nullptr);
        TJvHidDeviceController& c = *controller;
        app.c = &c;
        c.SetOnRemoval(TJvHidPlugEvent(&app, &Application::Removal));
        c.SetOnArrival(TJvHidPlugEvent(&app, &Application::Arrival));
        c.SetOnEnumerate(TJvHidEnumerateEvent(&app, &Application::Found));
        c.SetOnDeviceUnplug(TJvHidPlugEvent(&app, &Application::Plug));
        // Short wait steps: a stop waits for up to one.
        c.SetDevThreadSleepTime(10);

        for (int op = 0; op < 64 && !in.Empty(); ++op) {
            const uint8_t code = in.Byte();
            const uint8_t arg = in.Byte();
            const int slot = arg % Slots;
            try {
                switch (code % 16) {
                case 0:
                    sim.Plug(Device(slot, static_cast<uint8_t>((arg & 0xF8) | ((code >> 4) & 7))));
                    break;
                case 1:
                    sim.Unplug(PathOf(slot));
                    break;
                case 2:
                    sim.Modify(PathOf(slot), [arg](hidsim::SimDeviceSpec& S) {
                        const hidsim::SimDeviceSpec d = Device(0, arg);
                        S.Access = d.Access;
                        S.Identifiable = d.Identifiable;
                        S.ManufacturerReadable = d.ManufacturerReadable;
                        S.GetFeature = d.GetFeature;
                        S.SetFeature = d.SetFeature;
                    });
                    break;
                case 3:
                case 4:
                    c.DeviceChange();
                    break;
                case 5:
                    c.Enumerate();
                    break;
                case 6: {
                    TJvHidDevice* got = reinterpret_cast<TJvHidDevice*>(1);
                    const int idx = static_cast<int>(arg) - 2;
                    if (c.CheckOutByIndex(got, idx)) {
                        if (!got || !got->IsCheckedOut()) fuzz::Fail("a check-out gave no device");
                        held.push_back(got);
                    } else if (got != nullptr) {
                        fuzz::Fail("a refused check-out left a device reference");
                    }
                    break;
                }
                case 7:
                    // Check-in: the holder destroys the device.
                    if (!held.empty()) app.CheckIn(held[arg % held.size()]);
                    break;
                case 8:
                case 9:
                    if (!held.empty()) {
                        TJvHidDevice* d = held[arg % held.size()];
                        uint8_t report[255] = {};
                        d->OpenHandle();
                        if (code & 0x10)
                            d->SetFeature(report, sizeof report);
                        else
                            d->GetFeature(report, (code & 0x20) ? 1 : sizeof report);
                        (void)d->Caps();
                        (void)d->VendorName();
                        if (code & 0x40) d->ReleaseHandle();
                    }
                    break;
                case 10:
                    if (!held.empty()) {
                        TJvHidDevice* d = held[arg % held.size()];
                        d->OpenOverlappedHandle((code & 0x10) ? omhWrite : omhRead);
                        if (code & 0x20) d->ReleaseOverlappedHandle(omhRead);
                        d->SetReadSleepTime(arg % 40); // a stop waits up to one step
                    }
                    break;
                case 11:
                    c.SetDevThreadSleepTime(arg % 40);
                    sim.NotifyUnrelatedChange();
                    break;
                case 12:
                    // Readers: a data handler for every device or for one held device, or none.
                    app.reaction = arg;
                    if (!withLoop) app.reaction &= 0xC0; // see above
                    if (code & 0x10) {
                        c.SetOnDeviceDataError(TJvHidDataErrorEvent(&app, &Application::DataError));
                        c.SetOnDeviceData((code & 0x20)
                                              ? TJvHidDataEvent()
                                              : TJvHidDataEvent(&app, &Application::Data));
                    } else if (!held.empty()) {
                        held[arg % held.size()]->SetOnData(
                            (code & 0x20) ? TJvHidDataEvent()
                                          : TJvHidDataEvent(&app, &Application::Data));
                    }
                    break;
                case 13:
                    sim.QueueInputReport(PathOf(slot), std::vector<uint8_t>(1 + (code >> 4), arg));
                    sim.Modify(PathOf(slot), [code](hidsim::SimDeviceSpec& S) {
                        S.ReadStartError = (code & 0x80) ? 31 : 0;
                    });
                    break;
                case 14:
                    // The GUI thread runs its loop; the readers get a moment to hand over.
                    std::this_thread::sleep_for(std::chrono::microseconds(200 * (code >> 4)));
                    loop.Pump();
                    break;
                default:
                    if (!held.empty()) {
                        TJvHidDevice* d = held[arg % held.size()];
                        if (code & 0x10)
                            d->MarkUnplugged();
                        else
                            d->StopReader();
                    }
                    break;
                }
            } catch (const std::runtime_error&) {
                // A handler's exception that reached the application: allowed.
            }
            CheckCounters(c);
        }
        app.c = nullptr;
    }
    loop.Pump();
    // The controller is gone; the held devices are now the application's alone.
    for (TJvHidDevice* d : held) {
        if (d->IsPluggedIn()) fuzz::Fail("a held device is still plugged in after the controller");
        delete d;
    }
    if (sim.OpenHandleCount() != 0) fuzz::Fail("a handle was left open");
    if (sim.PreparsedDataCount() != 0) fuzz::Fail("preparsed data was not freed");
    if (sim.DeviceInfoSetCount() != 0) fuzz::Fail("a device set was not destroyed");
    if (HidBound() || SetupApiBindCount() != 0 || HidBindCount() != 0)
        fuzz::Fail("a library stayed bound");
    if (sim.IsLoaded("HID.dll") || sim.IsLoaded("SetupApi.dll"))
        fuzz::Fail("a library stayed loaded");
    SetHidPlatform(nullptr);
    return 0;
}
