#include "hid/JvHidControllerClass.h"

#include "hid/Hid.h"
#include "hid/SetupApi.h"
#include "hid/SetupWalk.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <set>

namespace {

// {4D1E55B2-F16F-11CF-88CB-001111000030}
constexpr GUID kStandardHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

} // namespace

TJvHidDeviceController::TJvHidDeviceController(HidEventLoop* Loop) : FLoop(Loop) {
    FHidGuid = kStandardHidGuid;
    FBoundSetupApi = BindSetupApi();
    if (FBoundSetupApi) FBoundHid = BindHid();
    if (!FBoundHid) return;
    HidEntries.HidD_GetHidGuid(&FHidGuid);
    if (FLoop == nullptr) return;
    const HidPlatform& platform = CurrentHidPlatform();
    FMonitorFd = platform.OpenDeviceMonitor();
    if (FMonitorFd >= 0) FWatch = FLoop->Watch(FMonitorFd, [this] { MonitorReadable(); });
    if (OpenNotifyWindow()) return;
    FLoop->Post([this, alive = FAlive] {
        if (*alive) DeviceChangeNotified(-1);
    });
}

#ifndef _WIN32
// Only Windows has the window (hid/windows); elsewhere the device monitor does its work.
bool TJvHidDeviceController::OpenNotifyWindow() {
    return false;
}
void TJvHidDeviceController::CloseNotifyWindow() {}
#endif

TJvHidDeviceController::~TJvHidDeviceController() {
    FDestroying = true;
    *FAlive = false;
    FOnDeviceChange = TJvNotifyEvent();
    FOnDeviceUnplug = TJvHidPlugEvent();
    FOnEnumerate = TJvHidEnumerateEvent();
    if (FWatch != nullptr) FLoop->Unwatch(FWatch);
    FWatch = nullptr;
    if (FMonitorFd >= 0) CurrentHidPlatform().CloseDeviceMonitor(FMonitorFd);
    FMonitorFd = -1;
    CloseNotifyWindow();

    // Detach every device first: handlers run below may destroy devices still listed.
    std::vector<std::pair<TJvHidDevice*, std::weak_ptr<char>>> devices;
    for (TJvHidDevice* d : FDeviceList) {
        d->FController = nullptr;
        devices.emplace_back(d, d->FLife);
    }
    FDeviceList.clear();
    for (auto& [d, life] : devices) {
        if (life.expired()) continue;
        if (d->IsCheckedOut()) {
            // The reader stops first: a delivery served by that stop may ask for Caps(), and
            // would fetch preparsed data again after they were released. A delivery may also
            // free the device.
            if (!d->HaltReader()) continue;
            // The application keeps it; its preparsed data goes now, while the HID library
            // that must free it is still bound.
            d->ReleasePreparsedData();
            try {
                d->MarkUnplugged();
            } catch (...) {
                // Its OnUnplug threw; the destruction goes on.
                if (FLoop != nullptr) FLoop->HandleException(std::current_exception());
            }
        } else {
            delete d;
        }
    }
    if (FBoundSetupApi) UnbindSetupApi();
    if (FBoundHid) UnbindHid();
}

void TJvHidDeviceController::MonitorReadable() {
    if (FMonitorFd < 0) return;
    if (CurrentHidPlatform().ReadDeviceMonitor(FMonitorFd)) DeviceChangeNotified(0);
}

void TJvHidDeviceController::DeviceChangeNotified(LONG Param) {
    if (FDestroying) return;
    if (FInDeviceChange) {
        // A handler of the running rescan let the loop deliver another change (a modal dialog,
        // processEvents). Ignoring it, as the nesting guard alone would, loses that change for
        // good: the monitor is drained already and nothing else says it again. So it is
        // remembered and the rescan runs once more when the running one ends, as an ordinary
        // change (LastChangeParam 0).
        FChangePending = true;
        return;
    }
    FLastChangeParam = Param;
    do {
        FChangePending = false;
        FInDeviceChange = true;
        try {
            DeviceChange();
        } catch (...) {
            // Handler exceptions must not unwind into the event loop.
            if (FLoop != nullptr) FLoop->HandleException(std::current_exception());
        }
        FInDeviceChange = false;
        if (FChangePending) FLastChangeParam = 0;
    } while (FChangePending && !FDestroying);
}

std::vector<std::unique_ptr<TJvHidDevice>> TJvHidDeviceController::ScanDevices() {
    std::vector<std::unique_ptr<TJvHidDevice>> found;
    if (!HidBound()) return found;
    WalkSetupEntries(FHidGuid, [&](HDEVINFO Set, const SetupWalkEntry& Entry) {
        // An interface whose detail cannot be read yields no device; the walk goes on.
        if (!Entry.DetailRead) return;
        try {
            auto info = std::make_shared<TJvHidPnPInfo>(Set, Entry.DevInfo, Entry.Path);
            found.push_back(std::make_unique<TJvHidDevice>(std::move(info), this));
        } catch (...) {
            // Not openable or not identifiable now; tried again at the next rescan.
        }
    });
    return found;
}

void TJvHidDeviceController::FirePlugEvent(const TJvHidPlugEvent& Event, TJvHidDevice* Device) {
    if (!Event) return;
    std::weak_ptr<char> life = Device->FLife;
    Device->FIsEnumerated = true;
    try {
        Event(Device);
    } catch (...) {
        if (!life.expired()) Device->FIsEnumerated = false;
        throw;
    }
    if (!life.expired()) Device->FIsEnumerated = false;
}

void TJvHidDeviceController::DeviceChange() {
    // A throwing handler must not cut the rescan short: the list, the counters and the other
    // handlers would be left half done. The first exception reaches the caller at the end;
    // any later one is dropped as a delivery's would be.
    std::exception_ptr first;
    const auto guard = [&](auto&& Call) {
        try {
            Call();
        } catch (...) {
            if (!first)
                first = std::current_exception();
            else if (FLoop != nullptr)
                FLoop->HandleException(std::current_exception());
        }
    };
    const unsigned rescan = ++FRescanCount;
    bool changed = FLastChangeParam == -1;
    std::vector<std::unique_ptr<TJvHidDevice>> scanned = ScanDevices();

    // Both passes below ask "is this instance among those?"; sorted instance lists answer in
    // log time, so a rescan among many interfaces does not grow with the square of their count.
    const auto sortedInstances = [](auto First, auto Last, auto&& Take) {
        std::vector<DWORD> v;
        for (; First != Last; ++First)
            if (Take(*First)) v.push_back((*First)->PnPInfo().DeviceInstance);
        std::sort(v.begin(), v.end());
        return v;
    };
    const auto contains = [](const std::vector<DWORD>& Sorted, DWORD Instance) {
        return std::binary_search(Sorted.begin(), Sorted.end(), Instance);
    };
    const std::vector<DWORD> scannedInstances =
        sortedInstances(scanned.begin(), scanned.end(), [](const auto&) { return true; });

    // Removal pass, from the end of the list.
    for (size_t i = FDeviceList.size(); i-- > 0;) {
        if (i >= FDeviceList.size()) continue; // a handler shortened the list
        TJvHidDevice* d = FDeviceList[i];
        const bool present =
            d->IsPluggedIn() && contains(scannedInstances, d->PnPInfo().DeviceInstance);
        if (present) continue;
        changed = true;
        std::weak_ptr<char> life = d->FLife;
        // One guard each: a throwing OnUnplug must not cost the device its OnRemoval.
        guard([&] { d->MarkUnplugged(); });
        if (!life.expired()) guard([&] { FirePlugEvent(FOnRemoval, d); });
        if (life.expired() || d->IsCheckedOut()) continue;
        auto it = std::find(FDeviceList.begin(), FDeviceList.end(), d);
        if (it != FDeviceList.end()) {
            FDeviceList.erase(it);
            delete d;
        }
    }

    // Duplicate pass: interfaces already listed and plugged in keep their present object.
    const auto listedPluggedIn = [&] {
        return sortedInstances(FDeviceList.begin(), FDeviceList.end(),
                               [](const TJvHidDevice* D) { return D->IsPluggedIn(); });
    };
    std::vector<DWORD> listedInstances = listedPluggedIn();
    const auto dropIfListed = [&](std::unique_ptr<TJvHidDevice>& N) {
        if (!contains(listedInstances, N->PnPInfo().DeviceInstance)) return;
        N->FController = nullptr;
        N.reset();
    };
    for (auto& n : scanned) dropIfListed(n);

    // Arrival pass, in scan order. An arrival handler may rescan; that rescan lists the
    // arrivals not appended here yet, so after it the rest are checked against the list again.
    unsigned seen = rescan;
    for (auto& n : scanned) {
        if (!n) continue;
        if (FRescanCount != seen) {
            seen = FRescanCount;
            listedInstances = listedPluggedIn();
        }
        dropIfListed(n);
        if (!n) continue;
        TJvHidDevice* d = n.release();
        FDeviceList.push_back(d);
        changed = true;
        guard([&] { FirePlugEvent(FOnArrival, d); });
    }
    scanned.clear();

    Recount();
    if (changed && FOnDeviceChange) guard([&] { FOnDeviceChange(this); });
    if (first) std::rethrow_exception(first);
}

void TJvHidDeviceController::Recount() {
    int checkedIn = 0, checkedOut = 0, unplugged = 0;
    for (const TJvHidDevice* d : FDeviceList) {
        // Checked out and still plugged in: an application may mark a free device unplugged,
        // so an unplugged device is not always a checked-out one.
        if (!d->IsCheckedOut())
            ++checkedIn;
        else if (d->IsPluggedIn())
            ++checkedOut;
        if (!d->IsPluggedIn()) ++unplugged;
    }
    FCheckedInCount = checkedIn;
    FUnpluggedCount = unplugged;
    FCheckedOutCount = checkedOut;
}

bool TJvHidDeviceController::EnumerateStep(TJvHidDevice* Device, int Idx) {
    if (!FOnEnumerate) return false;
    std::weak_ptr<char> life = Device->FLife;
    auto finish = [&] {
        if (life.expired()) return;
        Device->FIsEnumerated = false;
        if (!Device->IsCheckedOut()) {
            Device->ReleaseHandle();
            Device->ReleaseOverlappedHandle(omhRead);
            Device->ReleaseOverlappedHandle(omhWrite);
        }
    };
    Device->FIsEnumerated = true;
    bool goOn;
    try {
        goOn = FOnEnumerate(Device, Idx);
    } catch (...) {
        finish();
        throw;
    }
    finish();
    return goOn;
}

int TJvHidDeviceController::Enumerate() {
    int visited = 0;
    for (size_t i = 0; i < FDeviceList.size(); ++i) {
        TJvHidDevice* d = FDeviceList[i];
        if (!d->IsPluggedIn()) continue;
        ++visited;
        if (!EnumerateStep(d, static_cast<int>(i))) break;
    }
    return visited;
}

bool TJvHidDeviceController::CheckOutByIndex(TJvHidDevice*& HidDev, int Idx) {
    HidDev = nullptr;
    if (Idx < 0 || Idx >= Count()) return false;
    return CheckOutAt(HidDev, Idx, true);
}

bool TJvHidDeviceController::CheckOutAt(TJvHidDevice*& HidDev, int Idx, bool Check) {
    if (!Check || Idx < 0 || Idx >= Count()) return false;
    TJvHidDevice* d = FDeviceList[static_cast<size_t>(Idx)];
    if (d->IsCheckedOut()) return false;
    HidDev = d;
    d->FIsCheckedOut = true;
    Recount(); // a device the application marked unplugged may be checked out too
    d->StartReader();
    return true;
}

void TJvHidDeviceController::SetDevThreadSleepTime(int Value) {
    if (Value != FDevThreadSleepTime) {
        for (TJvHidDevice* d : FDeviceList)
            if (d->ReadSleepTime() == FDevThreadSleepTime) d->SetReadSleepTime(Value);
    }
    FDevThreadSleepTime = Value;
}

void TJvHidDeviceController::SetOnDeviceChange(const TJvNotifyEvent& Value) {
    if (SameCallable(Value, FOnDeviceChange)) return;
    FOnDeviceChange = Value;
    DeviceChange();
}

void TJvHidDeviceController::SetOnDeviceData(const TJvHidDataEvent& Value) {
    if (SameCallable(Value, FOnDeviceData)) return;
    // Clearing a device's handler serves its waiting deliveries, whose handlers may check
    // devices in: the list is looked at afresh after every hand-down, so a freed device is never
    // touched and a replacement still holding the old handler gets the new one too. Devices
    // given their own handler keep it.
    std::set<std::weak_ptr<char>, std::owner_less<std::weak_ptr<char>>> handed;
    for (;;) {
        TJvHidDevice* next = nullptr;
        for (TJvHidDevice* d : FDeviceList)
            if (handed.count(d->FLife) == 0 && SameCallable(d->OnData(), FOnDeviceData)) {
                next = d;
                break;
            }
        if (next == nullptr) break;
        handed.insert(next->FLife);
        next->SetOnData(Value);
    }
    FOnDeviceData = Value;
}

void TJvHidDeviceController::SetOnDeviceDataError(const TJvHidDataErrorEvent& Value) {
    if (SameCallable(Value, FOnDeviceDataError)) return;
    for (TJvHidDevice* d : FDeviceList)
        if (SameCallable(d->OnDataError(), FOnDeviceDataError)) d->SetOnDataError(Value);
    FOnDeviceDataError = Value;
}

void TJvHidDeviceController::SetOnDeviceUnplug(const TJvHidPlugEvent& Value) {
    if (SameCallable(Value, FOnDeviceUnplug)) return;
    for (TJvHidDevice* d : FDeviceList)
        if (SameCallable(d->OnUnplug(), FOnDeviceUnplug)) d->SetOnUnplug(Value);
    FOnDeviceUnplug = Value;
}

void TJvHidDeviceController::DeviceDestroyed(TJvHidDevice* Device,
                                             std::shared_ptr<TJvHidPnPInfo> PnPInfo,
                                             const TJvHidDataEvent& OnData,
                                             const TJvHidDataErrorEvent& OnDataError,
                                             const TJvHidPlugEvent& OnUnplug,
                                             int ReadSleepTime) noexcept {
    auto it = std::find(FDeviceList.begin(), FDeviceList.end(), Device);
    if (it == FDeviceList.end()) return;
    if (!Device->IsPluggedIn()) {
        FDeviceList.erase(it);
        Recount();
        return;
    }
    try {
        auto replacement = std::make_unique<TJvHidDevice>(std::move(PnPInfo), this);
        replacement->SetOnData(OnData);
        replacement->SetOnDataError(OnDataError);
        replacement->SetOnUnplug(OnUnplug);
        replacement->SetReadSleepTime(ReadSleepTime);
        *it = replacement.release();
    } catch (...) {
        // The interface went away before a rescan noticed: the slot goes, and the rescan
        // finds nothing left to remove.
        FDeviceList.erase(it);
    }
    Recount();
}
