// A stand-in for libudev whose monitor answers what the test scripts: the one way to make a
// netlink socket overflow on demand.
#include <cerrno>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {
int gMonitorFd = -1;
char gObject; // every udev object is this address
} // namespace

extern "C" {
// errno of the next udev_monitor_receive_device, which returns no device.
__attribute__((visibility("default"))) int fake_udev_receive_errno = EAGAIN;

void* udev_new() {
    return &gObject;
}
void* udev_unref(void*) {
    return nullptr;
}
void* udev_enumerate_new(void*) {
    return nullptr;
}
int udev_enumerate_add_match_subsystem(void*, const char*) {
    return -1;
}
int udev_enumerate_scan_devices(void*) {
    return -1;
}
void* udev_enumerate_get_list_entry(void*) {
    return nullptr;
}
void* udev_enumerate_unref(void*) {
    return nullptr;
}
void* udev_list_entry_get_next(void*) {
    return nullptr;
}
const char* udev_list_entry_get_name(void*) {
    return nullptr;
}
void* udev_monitor_new_from_netlink(void*, const char*) {
    return &gObject;
}
int udev_monitor_filter_add_match_subsystem_devtype(void*, const char*, const char*) {
    return 0;
}
int udev_monitor_enable_receiving(void*) {
    return 0;
}
int udev_monitor_get_fd(void*) {
    if (gMonitorFd < 0) gMonitorFd = ::eventfd(0, EFD_CLOEXEC);
    return gMonitorFd;
}
void* udev_monitor_receive_device(void*) {
    errno = fake_udev_receive_errno;
    return nullptr;
}
void* udev_monitor_unref(void*) {
    return nullptr;
}
const char* udev_device_get_action(void*) {
    return nullptr;
}
void* udev_device_unref(void*) {
    return nullptr;
}
}
