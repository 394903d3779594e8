// A stand-in for libudev whose monitor answers what the test scripts (the one way to make a
// netlink socket overflow on demand) and whose enumeration lists the hidraw syspaths the test
// names.
#include <cerrno>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {
int gMonitorFd = -1;
char gObject; // every udev object is this address
} // namespace

// An entry the monitor test needs only to exist, answering Value.
#define STUB(Type, Name, Value, ...)                                                               \
    Type Name(__VA_ARGS__) {                                                                       \
        return Value;                                                                              \
    }

extern "C" {
// errno of the next udev_monitor_receive_device, which returns no device.
__attribute__((visibility("default"))) int fake_udev_receive_errno = EAGAIN;
// The syspaths an enumeration lists, up to the first null; a list entry is a slot of it.
__attribute__((visibility("default"))) const char* fake_udev_hidraw[8] = {};

STUB(void*, udev_new, &gObject)
STUB(void*, udev_unref, nullptr, void*)
STUB(void*, udev_enumerate_new, &gObject, void*)
STUB(int, udev_enumerate_add_match_subsystem, 0, void*, const char*)
STUB(int, udev_enumerate_scan_devices, 0, void*)
STUB(void*, udev_enumerate_unref, nullptr, void*)
STUB(void*, udev_monitor_new_from_netlink, &gObject, void*, const char*)
STUB(int, udev_monitor_filter_add_match_subsystem_devtype, 0, void*, const char*, const char*)
STUB(int, udev_monitor_enable_receiving, 0, void*)
STUB(void*, udev_monitor_unref, nullptr, void*)
STUB(const char*, udev_device_get_action, nullptr, void*)
STUB(void*, udev_device_unref, nullptr, void*)

int udev_monitor_get_fd(void*) {
    if (gMonitorFd < 0) gMonitorFd = ::eventfd(0, EFD_CLOEXEC);
    return gMonitorFd;
}
void* udev_enumerate_get_list_entry(void*) {
    return fake_udev_hidraw[0] ? &fake_udev_hidraw[0] : nullptr;
}
void* udev_list_entry_get_next(void* Entry) {
    auto* slot = static_cast<const char**>(Entry) + 1;
    return slot < fake_udev_hidraw + 8 && *slot ? slot : nullptr;
}
const char* udev_list_entry_get_name(void* Entry) {
    return *static_cast<const char**>(Entry);
}
void* udev_monitor_receive_device(void*) {
    errno = fake_udev_receive_errno;
    return nullptr;
}
}
