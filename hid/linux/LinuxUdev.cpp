// libudev, opened at run time so that a machine without it still runs (and finds no devices):
// the enumeration of hidraw nodes and the monitor that tells when they come and go.
#include "hid/linux/LinuxHidInternal.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>

namespace hidlinux {

namespace {

std::mutex gUdevMutex;
std::string gUdevLibrary = "libudev.so.1";
std::weak_ptr<UdevApi> gUdevLoaded;

template <class F> bool Bind(void* Library, const char* Name, F& Slot) {
    Slot = reinterpret_cast<F>(::dlsym(Library, Name));
    return Slot != nullptr;
}

struct Monitor {
    std::shared_ptr<UdevApi> Udev;
    udev* Context = nullptr;
    udev_monitor* Handle = nullptr;
};

std::mutex gMonitorMutex;
std::map<int, Monitor> gMonitors;

void ReleaseMonitor(Monitor& M) {
    if (M.Handle) M.Udev->MonitorUnref(M.Handle);
    if (M.Context) M.Udev->Unref(M.Context);
    M.Handle = nullptr;
    M.Context = nullptr;
}

// One monitor read never drains more than this, so a flood cannot hold the GUI thread.
constexpr int kMaxEventsPerRead = 256;

} // namespace

UdevApi::~UdevApi() {
    if (Library) ::dlclose(Library);
}

void SetUdevLibraryName(std::string Name) {
    std::lock_guard lock(gUdevMutex);
    gUdevLibrary = std::move(Name);
    gUdevLoaded.reset();
}

std::shared_ptr<UdevApi> LoadUdev() {
    std::lock_guard lock(gUdevMutex);
    if (auto loaded = gUdevLoaded.lock()) return loaded;
    void* library = ::dlopen(gUdevLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) return nullptr;
    auto api = std::make_shared<UdevApi>();
    api->Library = library;
    void* l = library;
    const bool ok =
        Bind(l, "udev_new", api->New) && Bind(l, "udev_unref", api->Unref) &&
        Bind(l, "udev_enumerate_new", api->EnumerateNew) &&
        Bind(l, "udev_enumerate_add_match_subsystem", api->EnumerateAddMatchSubsystem) &&
        Bind(l, "udev_enumerate_scan_devices", api->EnumerateScanDevices) &&
        Bind(l, "udev_enumerate_get_list_entry", api->EnumerateGetListEntry) &&
        Bind(l, "udev_enumerate_unref", api->EnumerateUnref) &&
        Bind(l, "udev_list_entry_get_next", api->ListEntryGetNext) &&
        Bind(l, "udev_list_entry_get_name", api->ListEntryGetName) &&
        Bind(l, "udev_monitor_new_from_netlink", api->MonitorNewFromNetlink) &&
        Bind(l, "udev_monitor_filter_add_match_subsystem_devtype",
             api->MonitorFilterAddMatchSubsystemDevtype) &&
        Bind(l, "udev_monitor_enable_receiving", api->MonitorEnableReceiving) &&
        Bind(l, "udev_monitor_get_fd", api->MonitorGetFd) &&
        Bind(l, "udev_monitor_receive_device", api->MonitorReceiveDevice) &&
        Bind(l, "udev_monitor_unref", api->MonitorUnref) &&
        Bind(l, "udev_device_get_action", api->DeviceGetAction) &&
        Bind(l, "udev_device_unref", api->DeviceUnref);
    if (!ok) return nullptr; // the destructor closes the library
    gUdevLoaded = api;
    return api;
}

std::optional<std::vector<std::string>> EnumerateHidrawSyspaths(const UdevApi& Udev) {
    udev* context = Udev.New();
    if (!context) return std::nullopt;
    std::optional<std::vector<std::string>> paths;
    if (udev_enumerate* e = Udev.EnumerateNew(context)) {
        if (Udev.EnumerateAddMatchSubsystem(e, "hidraw") >= 0 &&
            Udev.EnumerateScanDevices(e) >= 0) {
            paths.emplace();
            for (udev_list_entry* entry = Udev.EnumerateGetListEntry(e); entry;
                 entry = Udev.ListEntryGetNext(entry)) {
                if (const char* name = Udev.ListEntryGetName(entry)) paths->emplace_back(name);
            }
        }
        Udev.EnumerateUnref(e);
    }
    Udev.Unref(context);
    return paths;
}

int OpenDeviceMonitor() {
    Monitor m;
    m.Udev = LoadUdev();
    if (!m.Udev) return -1;
    m.Context = m.Udev->New();
    // The "udev" source: its events come after udev has applied the node's permissions.
    if (m.Context) m.Handle = m.Udev->MonitorNewFromNetlink(m.Context, "udev");
    int fd = -1;
    if (m.Handle &&
        m.Udev->MonitorFilterAddMatchSubsystemDevtype(m.Handle, "hidraw", nullptr) >= 0 &&
        m.Udev->MonitorEnableReceiving(m.Handle) >= 0) {
        fd = m.Udev->MonitorGetFd(m.Handle);
    }
    if (fd < 0) {
        ReleaseMonitor(m);
        return -1;
    }
    std::lock_guard lock(gMonitorMutex);
    gMonitors[fd] = std::move(m);
    return fd;
}

bool ReadDeviceMonitor(int Fd) {
    std::lock_guard lock(gMonitorMutex);
    auto it = gMonitors.find(Fd);
    if (it == gMonitors.end()) return false;
    Monitor& m = it->second;
    bool changed = false;
    for (int i = 0; i < kMaxEventsPerRead; ++i) {
        errno = 0;
        udev_device* device = m.Udev->MonitorReceiveDevice(m.Handle);
        if (!device) {
            // The socket overflowed and dropped messages: what they said is unknown, so the
            // rescan must look at everything.
            if (errno == ENOBUFS) changed = true;
            break;
        }
        const char* action = m.Udev->DeviceGetAction(device);
        if (action && (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0)) {
            changed = true;
        }
        m.Udev->DeviceUnref(device);
    }
    return changed;
}

void CloseDeviceMonitor(int Fd) {
    std::lock_guard lock(gMonitorMutex);
    auto it = gMonitors.find(Fd);
    if (it == gMonitors.end()) return;
    ReleaseMonitor(it->second);
    gMonitors.erase(it);
}

} // namespace hidlinux
