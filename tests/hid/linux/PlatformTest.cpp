#include "hid/linux/LinuxHidInternal.h"
#include "hid/linux/LinuxHidPlatform.h"
#include "tests/hid/CompletionRecorder.h"
#include "tests/hid/linux/Descriptors.h"
#include "tests/hid/linux/FakeSysfs.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace hidlinux;

namespace {

// Parameterised cases print as their names.
template <class Case> auto operator<<(std::ostream& Os, const Case& C) -> decltype(C.Name, Os) {
    return Os << C.Name;
}

const HidPlatform& P() {
    return *LinuxHidPlatform();
}

template <class F> F Proc(HMODULE Module, const char* Name) {
    return reinterpret_cast<F>(P().GetProcAddress(Module, Name));
}

// --- libraries ------------------------------------------------------------------------------

TEST(Modules, EntriesByNameAndNothingElse) {
    HMODULE hid = P().LoadLibraryA("HID.dll");
    ASSERT_NE(hid, nullptr);
    EXPECT_EQ(P().LoadLibraryA("hid"), hid); // Windows' rules: any case, ".dll" implied
    for (const char* name : {"HidD_GetHidGuid", "HidD_GetAttributes", "HidD_GetFeature",
                             "HidD_SetFeature", "HidP_GetCaps", "HidD_GetProductString"}) {
        EXPECT_NE(P().GetProcAddress(hid, name), nullptr) << name;
    }
    // The optional entries are absent; names are case-sensitive; ordinals find nothing.
    for (const char* name : {"HidD_GetInputReport", "HidD_SetOutputReport",
                             "HidP_GetExtendedAttributes", "HidP_InitializeReportForID",
                             "hidd_getfeature", "", "SetupDiGetClassDevsA", "CancelIo"}) {
        EXPECT_EQ(P().GetProcAddress(hid, name), nullptr) << name;
        EXPECT_EQ(P().GetLastError(), ERROR_PROC_NOT_FOUND);
    }
    EXPECT_EQ(P().GetProcAddress(hid, reinterpret_cast<LPCSTR>(uintptr_t{3})), nullptr);

    HMODULE kernel = P().GetModuleHandleA("kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_NE(P().GetProcAddress(kernel, "CancelIo"), nullptr);
    EXPECT_EQ(P().GetProcAddress(kernel, "CancelIoEx"), nullptr);

    EXPECT_TRUE(P().FreeLibrary(hid));
    EXPECT_EQ(P().GetModuleHandleA("HID.dll"), hid); // one load is left
    EXPECT_TRUE(P().FreeLibrary(hid));
    EXPECT_EQ(P().GetModuleHandleA("HID.dll"), nullptr);
    EXPECT_EQ(P().GetProcAddress(hid, "HidD_GetFeature"), nullptr);
    EXPECT_FALSE(P().FreeLibrary(hid));

    EXPECT_EQ(P().LoadLibraryA("user32.dll"), nullptr);
    EXPECT_EQ(P().GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(P().LoadLibraryA(nullptr), nullptr);
}

TEST(Modules, MissingLibudevMeansNoSetupApiAndNoMonitor) {
    SetUdevLibraryName("libudev-not-installed.so.0");
    EXPECT_EQ(P().LoadLibraryA("SetupApi.dll"), nullptr);
    EXPECT_EQ(P().GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(P().OpenDeviceMonitor(), -1);
    SetUdevLibraryName("libudev.so.1");
}

size_t HidrawNodesInSysfs() {
    std::error_code ec;
    size_t n = 0;
    for (auto it = fs::directory_iterator("/sys/class/hidraw", ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        ++n;
    }
    return n;
}

TEST(Enumeration, FindsExactlyTheHidrawNodesOfThisMachine) {
    HMODULE setupApi = P().LoadLibraryA("SetupApi.dll");
    if (!setupApi) GTEST_SKIP() << "libudev is not installed";
    HMODULE hid = P().LoadLibraryA("HID.dll");
    auto getGuid = Proc<void (*)(GUID*)>(hid, "HidD_GetHidGuid");
    auto classDevs = Proc<decltype(&SetupDiGetClassDevsA)>(setupApi, "SetupDiGetClassDevsA");
    auto enumIfaces =
        Proc<decltype(&SetupDiEnumDeviceInterfaces)>(setupApi, "SetupDiEnumDeviceInterfaces");
    auto destroy =
        Proc<decltype(&SetupDiDestroyDeviceInfoList)>(setupApi, "SetupDiDestroyDeviceInfoList");
    ASSERT_TRUE(getGuid && classDevs && enumIfaces && destroy);

    GUID guid{};
    getGuid(&guid);
    EXPECT_EQ(guid.Data1, 0x4D1E55B2u);
    EXPECT_EQ(guid.Data4[7], 0x30);
    HDEVINFO set = classDevs(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    DWORD count = 0;
    while (enumIfaces(set, nullptr, &guid, count, &iface)) ++count;
    EXPECT_EQ(P().GetLastError(), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(count, HidrawNodesInSysfs());
    EXPECT_TRUE(destroy(set));
    EXPECT_FALSE(destroy(set));
    P().FreeLibrary(hid);
    P().FreeLibrary(setupApi);
}

TEST(Monitor, LostMessagesCountAsAChange) {
    SetUdevLibraryName(FAKE_UDEV);
    const int fd = P().OpenDeviceMonitor();
    ASSERT_GE(fd, 0);
    void* fake = ::dlopen(FAKE_UDEV, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(fake, nullptr);
    int& receiveErrno = *static_cast<int*>(::dlsym(fake, "fake_udev_receive_errno"));
    receiveErrno = EAGAIN;
    EXPECT_FALSE(P().ReadDeviceMonitor(fd)); // drained, nothing came
    receiveErrno = ENOBUFS;
    EXPECT_TRUE(P().ReadDeviceMonitor(fd)); // the socket overflowed: rescan everything
    P().CloseDeviceMonitor(fd);
    ::dlclose(fake);
    SetUdevLibraryName("libudev.so.1");
}

TEST(Monitor, OpensQuietlyOrNotAtAll) {
    const int fd = P().OpenDeviceMonitor();
    if (fd >= 0) {
        EXPECT_FALSE(P().ReadDeviceMonitor(fd)); // nothing was plugged meanwhile
        P().CloseDeviceMonitor(fd);
    }
    EXPECT_FALSE(P().ReadDeviceMonitor(fd));
}

// --- a sysfs tree of our own ----------------------------------------------------------------

using fakesysfs::WriteFile;

// The instrument on USB as hidraw97, and a Bluetooth keyboard without a USB parent as hidraw98.
class FakeSysfs : public testing::Test {
protected:
    void SetUp() override {
        Root = fakesysfs::NewRoot();
        ASSERT_FALSE(Root.empty());
        const fs::path usb = Root / "devices/pci0000:00/0000:00:14.0/usb1/1-2";
        WriteFile(usb / "idVendor", "1234\n");
        WriteFile(usb / "idProduct", "5678\n");
        WriteFile(usb / "bcdDevice", "0102\n");
        WriteFile(usb / "manufacturer", "Bramlo-kt\n");
        WriteFile(usb / "product", "Ormelix\n");
        WriteFile(usb / "busnum", "1\n");
        WriteFile(usb / "devnum", "5\n");
        AddHid(usb / "1-2:1.0/0003:1234:5678.000A", "hidraw97",
               "DRIVER=hid-generic\nHID_ID=0003:00001234:00005678\nHID_NAME=Bramlo-kt Ormelix\n"
               "HID_PHYS=usb-0000:00:14.0-2/input0\nMODALIAS=hid:b0003g0001v00001234p00005678\n",
               descriptors::kInstrument);
        AddHid(Root / "devices/virtual/misc/uhid/0005:04E8:7021.000B", "hidraw98",
               "DRIVER=hid-generic\nHID_ID=0005:000004E8:00007021\nHID_NAME=BT Keyboard\n",
               descriptors::kKeyboard);
        SetSysfsRoot(Root.string());
        Usb = usb;
    }
    void TearDown() override {
        SetSysfsRoot("/sys");
        fs::remove_all(Root);
    }

    void AddHid(const fs::path& HidDir, const std::string& Node, const std::string& Uevent,
                const std::vector<uint8_t>& Descriptor) {
        fakesysfs::AddHid(Root, HidDir, Node, Uevent, Descriptor);
    }

    static HANDLE OpenQueryOnly(const char* Path) {
        return P().CreateFileA(Path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr);
    }

    fs::path Root;
    fs::path Usb;
};

std::vector<std::string> MultiSz(const RegistryValue& V) {
    std::vector<std::string> out;
    const char* p = reinterpret_cast<const char*>(V.Bytes.data());
    while (*p) {
        out.emplace_back(p);
        p += out.back().size() + 1;
    }
    return out;
}

TEST_F(FakeSysfs, InstrumentPropertiesComeFromItsHidAndUsbDevices) {
    const auto node = ResolveHidrawName("hidraw97");
    ASSERT_TRUE(node);
    EXPECT_EQ(node->DevicePath, "/dev/hidraw97");
    EXPECT_EQ(node->UsbDeviceDir, Usb.string());
    const InterfaceRecord r = DescribeInterface(*node);
    EXPECT_EQ(r.DevInst, 0x6100000Au); // hidraw97, HID device 0xA

    const std::pair<DWORD, std::string> texts[] = {
        {SPDRP_DEVICEDESC, "Ormelix"},  {SPDRP_FRIENDLYNAME, "Bramlo-kt Ormelix"},
        {SPDRP_MFG, "Bramlo-kt"},       {SPDRP_DRIVER, "hid-generic"},
        {SPDRP_CLASS, "HIDClass"},      {SPDRP_CLASSGUID, "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}"},
        {SPDRP_ENUMERATOR_NAME, "HID"}, {SPDRP_LOCATION_INFORMATION, "usb-0000:00:14.0-2/input0"},
    };
    for (const auto& [code, text] : texts) {
        ASSERT_TRUE(r.Properties.count(code)) << code;
        EXPECT_EQ(r.Properties.at(code).Type, REG_SZ);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.Properties.at(code).Bytes.data())),
                  text);
    }
    EXPECT_EQ(MultiSz(r.Properties.at(SPDRP_HARDWAREID)),
              (std::vector<std::string>{"HID\\VID_1234&PID_5678&REV_0102", "HID\\VID_1234&PID_5678",
                                        "hid:b0003g0001v00001234p00005678"}));
    EXPECT_EQ(MultiSz(r.Properties.at(SPDRP_COMPATIBLEIDS)),
              (std::vector<std::string>{"HID_DEVICE_UP:FF00_U:0001", "HID_DEVICE"}));
    EXPECT_EQ(r.Properties.at(SPDRP_BUSNUMBER).Bytes, (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(r.Properties.at(SPDRP_ADDRESS).Bytes, (std::vector<uint8_t>{5, 0, 0, 0}));
    EXPECT_FALSE(r.Properties.count(SPDRP_CAPABILITIES));
}

TEST_F(FakeSysfs, SetupEntriesStayInsideTheCallersBuffers) {
    HDEVINFO set = NewDeviceInfoSet({DescribeInterface(*ResolveHidrawName("hidraw97"))});
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = 28; // as the 32-bit headers give it
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &kHidInterfaceGuid, 0, &iface));
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &kHidInterfaceGuid, 1, &iface));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);

    DWORD needed = 0;
    SP_DEVINFO_DATA info{};
    info.cbSize = 28;
    for (DWORD size : {DWORD{28}, DWORD{sizeof iface}}) {
        iface.cbSize = size;
        ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &kHidInterfaceGuid, 0, &iface));
        needed = 0;
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &needed, &info));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        ASSERT_EQ(needed, 4u + sizeof("/dev/hidraw97"));
    }

    std::vector<uint8_t> buffer(needed + 8, 0xEE);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = 5;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, needed - 1, nullptr, &info));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(buffer[4], 0xEE);
    detail->cbSize = 6;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, needed, nullptr, &info));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    detail->cbSize = 5;
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, needed, nullptr, &info));
    EXPECT_STREQ(detail->DevicePath, "/dev/hidraw97");
    EXPECT_EQ(buffer[needed], 0xEE);
    EXPECT_EQ(info.DevInst, 0x6100000Au);

    // Properties: exact fit, one byte short, absent.
    std::array<BYTE, 16> prop;
    prop.fill(0xEE);
    DWORD type = 0, size = 0;
    EXPECT_FALSE(
        SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_MFG, &type, prop.data(), 9, &size));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(prop[0], 0xEE);
    ASSERT_TRUE(
        SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_MFG, &type, prop.data(), 10, &size));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_STREQ(reinterpret_cast<const char*>(prop.data()), "Bramlo-kt");
    EXPECT_EQ(prop[10], 0xEE);
    prop.fill(0xEE);
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_UPPERFILTERS, nullptr,
                                                   prop.data(), prop.size(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_EQ(prop[0], 0xEE);
    info.DevInst = 0x1234;
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_MFG, nullptr, prop.data(),
                                                   prop.size(), nullptr));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(FakeSysfs, QueryOnlyHandleIsServedFromSysfs) {
    HANDLE h = OpenQueryOnly("/dev/hidraw97");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);

    HIDD_ATTRIBUTES a{};
    a.Size = sizeof a;
    ASSERT_TRUE(HidD_GetAttributes(h, &a));
    EXPECT_EQ(a.VendorID, 0x1234);
    EXPECT_EQ(a.ProductID, 0x5678);
    EXPECT_EQ(a.VersionNumber, 0x0102);

    std::array<char16_t, 254> text{};
    ASSERT_TRUE(HidD_GetProductString(h, text.data(), 508));
    EXPECT_EQ(std::u16string(text.data()), u"Ormelix");
    text.fill(0);
    ASSERT_TRUE(HidD_GetManufacturerString(h, text.data(), 508));
    EXPECT_EQ(std::u16string(text.data()), u"Bramlo-kt");

    PHIDP_PREPARSED_DATA pp = 0;
    ASSERT_TRUE(HidD_GetPreparsedData(h, &pp));
    HIDP_CAPS caps;
    std::memset(&caps, 0xEE, sizeof caps);
    ASSERT_EQ(HidP_GetCaps(pp, &caps), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(caps.UsagePage, 0xFF00);
    EXPECT_EQ(caps.Usage, 1);
    EXPECT_EQ(caps.FeatureReportByteLength, 255);
    EXPECT_EQ(caps.InputReportByteLength, 0);
    EXPECT_EQ(caps.NumberInputButtonCaps, 0);
    EXPECT_TRUE(HidD_FreePreparsedData(pp));
    EXPECT_FALSE(HidD_FreePreparsedData(pp));
    EXPECT_EQ(HidP_GetCaps(pp, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);

    // No descriptor, so no report can pass, and the buffer stays as it was.
    std::array<uint8_t, 255> report;
    report.fill(0x5A);
    report[0] = 0;
    EXPECT_FALSE(HidD_GetFeature(h, report.data(), report.size()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(report[1], 0x5A);
    EXPECT_FALSE(HidD_SetFeature(h, report.data(), report.size()));

    ULONG buffers = 0;
    ASSERT_TRUE(HidD_GetNumInputBuffers(h, &buffers));
    EXPECT_EQ(buffers, kDefaultInputBuffers);
    EXPECT_FALSE(HidD_SetNumInputBuffers(h, 1));
    ASSERT_TRUE(HidD_SetNumInputBuffers(h, 16));
    ASSERT_TRUE(HidD_GetNumInputBuffers(h, &buffers));
    EXPECT_EQ(buffers, 16u);

    EXPECT_TRUE(P().CloseHandle(h));
    EXPECT_FALSE(P().CloseHandle(h));
    EXPECT_FALSE(HidD_GetAttributes(h, &a));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(FakeSysfs, DeviceWithoutUsbParentHasAttributesButNoUsbStrings) {
    const InterfaceRecord r = DescribeInterface(*ResolveHidrawName("hidraw98"));
    EXPECT_EQ(r.DevInst, 0x6200000Bu);
    for (DWORD code : {SPDRP_MFG, SPDRP_BUSNUMBER, SPDRP_ADDRESS}) {
        EXPECT_FALSE(r.Properties.count(code)) << code;
    }
    EXPECT_EQ(MultiSz(r.Properties.at(SPDRP_HARDWAREID)),
              (std::vector<std::string>{"HID\\VID_04E8&PID_7021"}));

    HANDLE h = OpenQueryOnly("/dev/hidraw98");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    HIDD_ATTRIBUTES a{};
    ASSERT_TRUE(HidD_GetAttributes(h, &a));
    EXPECT_EQ(a.VendorID, 0x04E8);
    EXPECT_EQ(a.VersionNumber, 0);
    std::array<char16_t, 254> text;
    text.fill(u'?');
    EXPECT_FALSE(HidD_GetProductString(h, text.data(), 508));
    EXPECT_EQ(text[0], u'?');

    PHIDP_PREPARSED_DATA pp = 0;
    ASSERT_TRUE(HidD_GetPreparsedData(h, &pp));
    HIDP_CAPS caps{};
    ASSERT_EQ(HidP_GetCaps(pp, &caps), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(caps.InputReportByteLength, 9);
    EXPECT_EQ(caps.OutputReportByteLength, 2);
    HidD_FreePreparsedData(pp);
    P().CloseHandle(h);
}

// A Bluetooth device behind a USB Bluetooth adapter and an I2C device behind a USB-I2C bridge:
// the USB device above them is the adapter, not theirs.
TEST_F(FakeSysfs, OnlyAUsbHidDeviceTakesTheUsbDeviceAbove) {
    const fs::path adapter = Usb.parent_path() / "1-3";
    WriteFile(adapter / "idVendor", "8087\n");
    WriteFile(adapter / "idProduct", "0a2b\n");
    WriteFile(adapter / "manufacturer", "Adapter Maker\n");
    WriteFile(adapter / "busnum", "1\n");
    WriteFile(adapter / "devnum", "9\n");
    AddHid(adapter / "1-3:1.0/bluetooth/hci0/hci0:256/0005:046D:B016.000C", "hidraw95",
           "HID_ID=0005:0000046D:0000B016\nHID_NAME=BT Mouse\n", descriptors::kMouse);
    AddHid(adapter / "1-3:1.1/i2c-7/7-002c/0018:06CB:7E7E.000D", "hidraw96", "HID_NAME=Pad\n",
           descriptors::kMouse);
    for (const char* name : {"hidraw95", "hidraw96"}) {
        const auto node = ResolveHidrawName(name);
        ASSERT_TRUE(node) << name;
        EXPECT_EQ(node->UsbDeviceDir, "") << name;
        const InterfaceRecord r = DescribeInterface(*node);
        for (DWORD code : {SPDRP_MFG, SPDRP_BUSNUMBER, SPDRP_ADDRESS})
            EXPECT_FALSE(r.Properties.count(code)) << name << " " << code;
    }
}

TEST_F(FakeSysfs, ProductStringOf254UnitsFillsTheBufferWithoutNul) {
    WriteFile(Usb / "product", std::string(254, 'Z') + "\n");
    HANDLE h = OpenQueryOnly("/dev/hidraw97");
    std::array<char16_t, 260> text;
    text.fill(u'?');
    ASSERT_TRUE(HidD_GetProductString(h, text.data(), 508));
    EXPECT_EQ(std::u16string(text.data(), 254), std::u16string(254, u'Z'));
    EXPECT_EQ(text[254], u'?');
    P().CloseHandle(h);
}

TEST_F(FakeSysfs, OnlyCharacterDevicesOpen) {
    // A regular file and a FIFO under a hidraw name; opening the FIFO must not block either.
    fs::create_directories(Root / "dev");
    WriteFile(Root / "dev/hidraw97", "not a device");
    ASSERT_EQ(::mkfifo((Root / "dev/hidraw98").c_str(), 0600), 0);
    for (const char* name : {"dev/hidraw97", "dev/hidraw98"}) {
        for (DWORD access : {GENERIC_READ | GENERIC_WRITE, DWORD{GENERIC_READ}}) {
            EXPECT_EQ(P().CreateFileA((Root / name).c_str(), access, 3, nullptr, OPEN_EXISTING, 0,
                                      nullptr),
                      INVALID_HANDLE_VALUE)
                << name;
            EXPECT_EQ(P().GetLastError(), ERROR_FILE_NOT_FOUND);
        }
    }
}

struct OpenCase {
    const char* Name;
    const char* Path;
    DWORD Access;
    DWORD Error;
};

const OpenCase kOpenCases[] = {
    {"QueryOnlyUnknownNode", "/dev/hidraw96", 0, ERROR_FILE_NOT_FOUND},
    {"ReadWriteWithoutNode", "/dev/hidraw97", GENERIC_READ | GENERIC_WRITE, ERROR_FILE_NOT_FOUND},
    {"NotAHidrawNode", "/etc/passwd", GENERIC_READ, ERROR_FILE_NOT_FOUND},
    {"NoPath", nullptr, 0, ERROR_INVALID_PARAMETER},
};

class FakeSysfsOpen : public FakeSysfs, public testing::WithParamInterface<OpenCase> {};

TEST_P(FakeSysfsOpen, FailsWithTheMappedError) {
    const OpenCase& c = GetParam();
    EXPECT_EQ(P().CreateFileA(c.Path, c.Access, 3, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(P().GetLastError(), c.Error);
}

INSTANTIATE_TEST_SUITE_P(Files, FakeSysfsOpen, testing::ValuesIn(kOpenCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// --- overlapped reads over a socket standing in for a hidraw node ---------------------------
// (What every platform's reads do is the platform contract's, tests/hid/contract; here what is
// the Linux entries' own.)

using hidtest::Completion;
using hidtest::Record;
using hidtest::tDone;

class Reads : public testing::Test {
protected:
    // Without a descriptor, the socket offers none either.
    void Open(const std::vector<uint8_t>* Descriptor) {
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
        Device = pair[1];
        Handle = AdoptDescriptor(pair[0], GENERIC_READ | GENERIC_WRITE, 0x03,
                                 Descriptor ? std::optional(*Descriptor) : std::nullopt);
        tDone = {};
    }
    void TearDown() override {
        if (Handle) P().CloseHandle(Handle);
        if (Device >= 0) ::close(Device);
    }
    void Send(const std::vector<uint8_t>& Report) {
        ASSERT_EQ(::send(Device, Report.data(), Report.size(), 0),
                  static_cast<ssize_t>(Report.size()));
    }
    BOOL Start(std::vector<uint8_t>& Buffer) {
        return P().ReadFileEx(Handle, Buffer.data(), static_cast<DWORD>(Buffer.size()), &Block,
                              Record);
    }

    HANDLE Handle = nullptr;
    int Device = -1;
    OVERLAPPED Block{};
};

struct ReadCase {
    const char* Name;
    const std::vector<uint8_t>* Descriptor;
    std::vector<uint8_t> Sent;
    std::vector<uint8_t> Delivered;
};

const ReadCase kReadCases[] = {
    {"UnnumberedGetsIdZero", &descriptors::kMouse, {0x01, 0x7F, 0x80}, {0x00, 0x01, 0x7F, 0x80}},
    {"NumberedKeepsId", &descriptors::kNumbered, {0x01, 0xA, 0xB, 0xC}, {0x01, 0xA, 0xB, 0xC}},
    {"NoDescriptorGetsIdZero", nullptr, {0x01, 0x7F, 0x80}, {0x00, 0x01, 0x7F, 0x80}},
};

class ReadDelivery : public Reads, public testing::WithParamInterface<ReadCase> {};

TEST_P(ReadDelivery, CompletesInTheAlertableWait) {
    const ReadCase& c = GetParam();
    Open(c.Descriptor);
    std::vector<uint8_t> buffer(8, 0xEE);
    ASSERT_TRUE(Start(buffer));
    Send(c.Sent);
    EXPECT_EQ(P().SleepEx(2000, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(tDone.Calls, 1);
    EXPECT_EQ(tDone.Error, 0u);
    ASSERT_EQ(tDone.Count, c.Delivered.size());
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + tDone.Count), c.Delivered);
    DWORD count = 0;
    ASSERT_TRUE(P().GetOverlappedResult(Handle, &Block, &count, FALSE));
    EXPECT_EQ(count, c.Delivered.size());
}

INSTANTIATE_TEST_SUITE_P(Files, ReadDelivery, testing::ValuesIn(kReadCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Reads, OneReadPerThreadAndBuffersLongEnough) {
    Open(&descriptors::kMouse);
    std::vector<uint8_t> tooShort(3);
    EXPECT_FALSE(Start(tooShort));
    EXPECT_EQ(P().GetLastError(), ERROR_INVALID_USER_BUFFER);
    std::vector<uint8_t> buffer(4);
    ASSERT_TRUE(Start(buffer));
    EXPECT_FALSE(Start(buffer));
}

TEST_F(Reads, QueryOnlyAndUnknownHandlesCannotRead) {
    Open(&descriptors::kMouse);
    std::vector<uint8_t> buffer(4);
    HANDLE queryOnly = AdoptDescriptor(-1, 0, std::nullopt, descriptors::kMouse);
    EXPECT_FALSE(P().ReadFileEx(queryOnly, buffer.data(), 4, &Block, Record));
    EXPECT_EQ(P().GetLastError(), ERROR_ACCESS_DENIED);
    P().CloseHandle(queryOnly);
    EXPECT_FALSE(P().ReadFileEx(INVALID_HANDLE_VALUE, buffer.data(), 4, &Block, Record));
    EXPECT_EQ(P().GetLastError(), ERROR_INVALID_HANDLE);
}

} // namespace
