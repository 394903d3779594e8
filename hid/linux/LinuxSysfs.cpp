// The HID and USB devices above a hidraw node, read from sysfs.
#include "hid/linux/HidLinuxHelpers.h"
#include "hid/linux/LinuxHidInternal.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hidlinux {

namespace {

// sysfs attributes are at most a page; report descriptors at most 4096 bytes.
constexpr size_t kAttributeLimit = 4096;
constexpr size_t kDescriptorLimit = 4096;
// USB device, interface, then the HID device: a few levels, more for hubs in between.
constexpr int kMaxParentLevels = 12;

std::mutex gRootMutex;
std::string gRoot = "/sys";

std::optional<std::string> RealPath(const std::string& Path) {
    char buffer[PATH_MAX];
    if (::realpath(Path.c_str(), buffer) == nullptr) return std::nullopt;
    return std::string(buffer);
}

std::string_view BaseName(std::string_view Path) {
    const size_t slash = Path.rfind('/');
    return slash == std::string_view::npos ? Path : Path.substr(slash + 1);
}

std::string ParentDir(const std::string& Path) {
    const size_t slash = Path.rfind('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return Path.substr(0, slash);
}

bool IsFile(const std::string& Path) {
    struct stat st {};
    return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsUsbDevice(const std::string& Dir) {
    return IsFile(Dir + "/idVendor") && IsFile(Dir + "/idProduct");
}

constexpr uint32_t kBusUsb = 0x03;

// From HID_ID in the HID device's uevent, else from its name "BBBB:VVVV:PPPP.NNNN".
std::optional<uint32_t> HidBus(const HidrawNode& Node) {
    if (auto uevent = ReadFileBounded(Node.HidDir + "/uevent", kAttributeLimit))
        if (auto text = UeventValue(*uevent, "HID_ID"))
            if (auto id = ParseHidId(*text)) return id->Bus;
    const std::string_view name = Node.HidSysname;
    if (name.size() < 5 || name[4] != ':') return std::nullopt;
    uint32_t bus = 0;
    for (char c : name.substr(0, 4)) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
        if (digit < 0) return std::nullopt;
        bus = bus * 16 + static_cast<uint32_t>(digit);
    }
    return bus;
}

} // namespace

std::string SysfsRoot() {
    std::lock_guard lock(gRootMutex);
    return gRoot;
}

void SetSysfsRoot(std::string Root) {
    std::lock_guard lock(gRootMutex);
    gRoot = std::move(Root);
}

std::optional<std::string> ReadFileBounded(const std::string& Path, size_t Limit) {
    const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text(Limit, '\0');
    size_t got = 0;
    bool ok = true;
    while (got < Limit) {
        const ssize_t n = ::read(fd, text.data() + got, Limit - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    text.resize(got);
    return text;
}

std::optional<std::string> ReadAttribute(const std::string& Dir, std::string_view Name) {
    if (Dir.empty()) return std::nullopt;
    auto text = ReadFileBounded(Dir + "/" + std::string(Name), kAttributeLimit);
    if (!text) return std::nullopt;
    return std::string(TrimLineEnd(*text));
}

bool IsHidrawName(std::string_view Name) {
    constexpr std::string_view prefix = "hidraw";
    if (Name.size() <= prefix.size() || Name.size() > prefix.size() + 6) return false;
    if (Name.substr(0, prefix.size()) != prefix) return false;
    for (char c : Name.substr(prefix.size())) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

std::optional<HidrawNode> ResolveHidrawSyspath(const std::string& Syspath) {
    const auto real = RealPath(Syspath);
    if (!real) return std::nullopt;
    HidrawNode node;
    node.Name = std::string(BaseName(*real));
    if (!IsHidrawName(node.Name)) return std::nullopt;

    // udev names the node after DEVNAME; anything but a plain name is not trusted.
    std::string devName = node.Name;
    if (auto uevent = ReadFileBounded(*real + "/uevent", kAttributeLimit)) {
        if (auto v = UeventValue(*uevent, "DEVNAME"); v && IsHidrawName(*v)) devName = *v;
    }
    node.DevicePath = "/dev/" + devName;

    // .../<HID device>/hidraw/hidrawN, with "device" linking back up.
    if (auto hid = RealPath(*real + "/device")) {
        node.HidDir = *hid;
    } else {
        node.HidDir = ParentDir(ParentDir(*real));
    }
    node.HidSysname = std::string(BaseName(node.HidDir));

    // Only a HID device on the USB bus has a USB parent of its own; above a Bluetooth or I2C
    // device sits at most the adapter that carries that bus, whose strings are not the device's.
    if (HidBus(node) != kBusUsb) return node;
    const std::string root = SysfsRoot();
    std::string dir = ParentDir(node.HidDir);
    for (int level = 0; level < kMaxParentLevels; ++level) {
        if (dir.size() <= root.size() || dir == "/") break;
        if (IsUsbDevice(dir)) {
            node.UsbDeviceDir = dir;
            break;
        }
        dir = ParentDir(dir);
    }
    return node;
}

std::optional<HidrawNode> ResolveHidrawName(std::string_view Name) {
    if (!IsHidrawName(Name)) return std::nullopt;
    return ResolveHidrawSyspath(SysfsRoot() + "/class/hidraw/" + std::string(Name));
}

std::optional<std::string> ReadHidUevent(const HidrawNode& Node) {
    return ReadFileBounded(Node.HidDir + "/uevent", kAttributeLimit);
}

uint16_t ReadUsbVersion(const HidrawNode& Node) {
    const auto text = ReadAttribute(Node.UsbDeviceDir, "bcdDevice");
    if (!text || text->empty() || text->size() > 4) return 0;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text->c_str(), &end, 16);
    return end && *end == '\0' ? static_cast<uint16_t>(v) : 0;
}

std::optional<std::vector<uint8_t>> ReadSysfsReportDescriptor(const HidrawNode& Node) {
    auto bytes = ReadFileBounded(Node.HidDir + "/report_descriptor", kDescriptorLimit);
    if (!bytes) return std::nullopt;
    return std::vector<uint8_t>(bytes->begin(), bytes->end());
}

} // namespace hidlinux
