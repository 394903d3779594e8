// The simulated machine: devices plugged and pulled at will, the device-change notification,
// and what the tests read back of what happened.
#include "hid/sim/SimHidInternal.h"

#include <algorithm>
#include <cstring>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace hidsim {

std::atomic<SimHidPlatform::Impl*> gActive{nullptr};

namespace {

#ifdef _WIN32
// Windows tells every top-level window of every program that the device tree changed, for
// any device, HID or not; the simulated devices reach this process's windows the same way.
BOOL CALLBACK PostDevNodesChanged(HWND Window, LPARAM) {
    DWORD process = 0;
    GetWindowThreadProcessId(Window, &process);
    if (process == GetCurrentProcessId())
        PostMessageA(Window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    return TRUE;
}
#endif

} // namespace

void SimDeviceSpec::SetTextProperty(DWORD Code, const std::string& Text) {
    std::vector<uint8_t> bytes(Text.begin(), Text.end());
    bytes.push_back(0);
    Properties[Code] = std::move(bytes);
}

void SimDeviceSpec::SetNumberProperty(DWORD Code, DWORD Value) {
    std::vector<uint8_t> bytes(sizeof Value);
    std::memcpy(bytes.data(), &Value, sizeof Value);
    Properties[Code] = std::move(bytes);
}

void SimDeviceSpec::SetListProperty(DWORD Code, const std::vector<std::string>& Items) {
    std::vector<uint8_t> bytes;
    for (const std::string& item : Items) {
        bytes.insert(bytes.end(), item.begin(), item.end());
        bytes.push_back(0);
    }
    bytes.push_back(0);
    Properties[Code] = std::move(bytes);
}

void SimHidPlatform::Impl::Notify(char What) {
#ifdef _WIN32
    (void)What;
    EnumWindows(PostDevNodesChanged, 0);
#else
    for (auto& [readEnd, writeEnd] : Monitors) {
        (void)readEnd;
        ssize_t n = ::write(writeEnd, &What, 1);
        (void)n; // a full pipe is readable already
    }
#endif
}

SimHidPlatform::Impl::~Impl() {
#ifndef _WIN32
    for (auto& [readEnd, writeEnd] : Monitors) {
        ::close(readEnd);
        ::close(writeEnd);
    }
#endif
}

SimHidPlatform::SimHidPlatform() : FImpl(std::make_unique<Impl>()) {
    gActive.store(FImpl.get());
}

SimHidPlatform::~SimHidPlatform() {
    Impl* self = FImpl.get();
    gActive.compare_exchange_strong(self, nullptr);
}

void SimHidPlatform::SetLibraryPresent(const std::string& Library, bool Present) {
    FImpl->Libraries->SetPresent(Library, Present);
}

void SimHidPlatform::SetEntryPresent(const std::string& Library, const std::string& Entry,
                                     bool Present) {
    FImpl->Libraries->SetEntryPresent(Library, Entry, Present);
}

void SimHidPlatform::SetOptionalHidEntriesPresent(bool Present) {
    for (const char* name : {"HidD_GetInputReport", "HidD_SetOutputReport",
                             "HidP_GetExtendedAttributes", "HidP_InitializeReportForID"})
        SetEntryPresent("HID.dll", name, Present);
}

DWORD SimHidPlatform::Plug(SimDeviceSpec Desc) {
    std::lock_guard<std::mutex> lock(FImpl->M);
    if (FImpl->PluggedAt(Desc.Path) != nullptr) return 0;
    auto device = std::make_shared<SimDevice>();
    device->Desc = std::move(Desc);
    device->Instance = FImpl->NextInstance++;
    FImpl->Devices.push_back(device);
    FImpl->Notify(kHidChange);
    return device->Instance;
}

bool SimHidPlatform::Unplug(const std::string& Path) {
    std::lock_guard<std::mutex> lock(FImpl->M);
    auto& devices = FImpl->Devices;
    auto it = std::find_if(devices.begin(), devices.end(),
                           [&](const auto& d) { return d->Desc.Path == Path; });
    if (it == devices.end()) return false;
    (*it)->Plugged = false;
    (*it)->Input.clear();
    devices.erase(it);
    FImpl->Notify(kHidChange);
    FImpl->CV.notify_all();
    return true;
}

void SimHidPlatform::NotifyUnrelatedChange() {
    std::lock_guard<std::mutex> lock(FImpl->M);
    FImpl->Notify(kOtherChange);
}

bool SimHidPlatform::Modify(const std::string& Path,
                            const std::function<void(SimDeviceSpec&)>& Change) {
    std::lock_guard<std::mutex> lock(FImpl->M);
    auto device = FImpl->PluggedAt(Path);
    if (device == nullptr) return false;
    std::string path = device->Desc.Path;
    Change(device->Desc);
    device->Desc.Path = path; // the path names the plug-in; it does not change
    return true;
}

bool SimHidPlatform::QueueInputReport(const std::string& Path, std::vector<uint8_t> Report) {
    std::lock_guard<std::mutex> lock(FImpl->M);
    auto device = FImpl->PluggedAt(Path);
    if (device == nullptr) return false;
    device->Input.push_back(std::move(Report));
    FImpl->CV.notify_all();
    return true;
}

bool SimHidPlatform::IsPlugged(const std::string& Path) const {
    std::lock_guard<std::mutex> lock(FImpl->M);
    return FImpl->PluggedAt(Path) != nullptr;
}

DWORD SimHidPlatform::InstanceOf(const std::string& Path) const {
    std::lock_guard<std::mutex> lock(FImpl->M);
    auto device = FImpl->PluggedAt(Path);
    return device != nullptr ? device->Instance : 0;
}

std::vector<SimFeatureTransfer> SimHidPlatform::FeatureTransfers() const {
    std::lock_guard<std::mutex> lock(FImpl->M);
    return FImpl->Transfers;
}

std::vector<SimOpen> SimHidPlatform::Opens() const {
    std::lock_guard<std::mutex> lock(FImpl->M);
    return FImpl->OpenLog;
}

std::vector<SimLibraryEvent> SimHidPlatform::LibraryEvents() const {
    std::lock_guard<std::mutex> lock(FImpl->M);
    return FImpl->LibraryLog;
}

int SimHidPlatform::LoadCount(const std::string& Library) const {
    std::lock_guard<std::mutex> lock(FImpl->M);
    return static_cast<int>(std::count_if(
        FImpl->LibraryLog.begin(), FImpl->LibraryLog.end(), [&](const SimLibraryEvent& e) {
            return e.What == SimLibraryEvent::Load && e.Ok && e.Name == Library;
        }));
}

int SimHidPlatform::FreeCount(const std::string& Library) const {
    std::lock_guard<std::mutex> lock(FImpl->M);
    return static_cast<int>(std::count_if(
        FImpl->LibraryLog.begin(), FImpl->LibraryLog.end(), [&](const SimLibraryEvent& e) {
            return e.What == SimLibraryEvent::Free && e.Name == Library;
        }));
}

bool SimHidPlatform::IsLoaded(const std::string& Library) const {
    return FImpl->Libraries->IsLoaded(Library);
}

int SimHidPlatform::OpenHandleCount() const {
    std::lock_guard<std::mutex> lock(FImpl->M);
    return static_cast<int>(FImpl->Handles.size());
}

int SimHidPlatform::OpenHandleCount(const std::string& Path) const {
    std::lock_guard<std::mutex> lock(FImpl->M);
    return static_cast<int>(
        std::count_if(FImpl->Handles.begin(), FImpl->Handles.end(),
                      [&](const auto& h) { return h.second.Device->Desc.Path == Path; }));
}

int SimHidPlatform::PreparsedDataCount() const {
    std::lock_guard<std::mutex> lock(FImpl->M);
    return static_cast<int>(FImpl->Preparsed.size());
}

int SimHidPlatform::DeviceInfoSetCount() const {
    std::lock_guard<std::mutex> lock(FImpl->M);
    return static_cast<int>(FImpl->Sets.size());
}

int SimHidPlatform::MonitorCount() const {
    std::lock_guard<std::mutex> lock(FImpl->M);
    return static_cast<int>(FImpl->Monitors.size());
}

int SimHidPlatform::PendingReadCount() const {
    std::lock_guard<std::mutex> lock(FImpl->M);
    return static_cast<int>(FImpl->Pending.size());
}

int SimHidPlatform::CancelCount() const {
    std::lock_guard<std::mutex> lock(FImpl->M);
    return FImpl->Cancels;
}

int SimHidPlatform::ReadStartCount() const {
    std::lock_guard<std::mutex> lock(FImpl->M);
    return FImpl->ReadStarts;
}

void SimHidPlatform::ClearLogs() {
    std::lock_guard<std::mutex> lock(FImpl->M);
    FImpl->Transfers.clear();
    FImpl->OpenLog.clear();
    FImpl->LibraryLog.clear();
    FImpl->Cancels = 0;
    FImpl->ReadStarts = 0;
}

} // namespace hidsim
