// Internals shared by the parts of the Linux HID platform, and the few hooks its tests use to
// point it at a sysfs tree of their own or at a descriptor they made.
#pragma once

#include "hid/WinTypes.h"
#include "hid/linux/HidReportDescriptor.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace hidlinux {

// --- Values of this platform ----------------------------------------------------------------
constexpr ULONG kDefaultInputBuffers = 64; // hidraw's own queue length
constexpr ULONG kMinInputBuffers = 2;
constexpr ULONG kMaxInputBuffers = 512;
// Sizes the 32-bit Win32 headers give the records; the records here are larger on 64-bit.
constexpr DWORD kWin32InterfaceDataSize = 28;
constexpr DWORD kWin32DevInfoDataSize = 28;
constexpr DWORD kWin64DetailHeaderSize = 8;

extern const GUID kHidInterfaceGuid; // {4D1E55B2-F16F-11CF-88CB-001111000030}
extern const GUID kHidClassGuid;     // setup class "HIDClass"
extern const char kHidClassGuidText[];

void SetLastErrorCode(DWORD Code);
DWORD LastErrorCode();

// Objects handed to callers as opaque handles. A handle stays valid until removed; a call that
// found it keeps the object alive even when another thread removes it meanwhile.
template <class T> class HandleRegistry {
public:
    void* Add(std::shared_ptr<T> Object) {
        void* key = Object.get();
        std::lock_guard lock(Mutex);
        Objects.emplace(key, std::move(Object));
        return key;
    }
    std::shared_ptr<T> Find(const void* Key) {
        std::lock_guard lock(Mutex);
        auto it = Objects.find(Key);
        return it == Objects.end() ? nullptr : it->second;
    }
    std::shared_ptr<T> Remove(const void* Key) {
        std::lock_guard lock(Mutex);
        auto it = Objects.find(Key);
        if (it == Objects.end()) return nullptr;
        auto object = std::move(it->second);
        Objects.erase(it);
        return object;
    }

private:
    std::mutex Mutex;
    std::unordered_map<const void*, std::shared_ptr<T>> Objects;
};

// --- sysfs ----------------------------------------------------------------------------------

// "/sys" unless a test has set a tree of its own.
std::string SysfsRoot();
void SetSysfsRoot(std::string Root);

// Whole file, at most Limit bytes; nullopt when it cannot be opened or read.
std::optional<std::string> ReadFileBounded(const std::string& Path, size_t Limit);
// A sysfs attribute without its line end; nullopt when absent.
std::optional<std::string> ReadAttribute(const std::string& Dir, std::string_view Name);

// A hidraw node and the devices above it.
struct HidrawNode {
    std::string Name;         // "hidraw3"
    std::string DevicePath;   // "/dev/hidraw3"
    std::string HidDir;       // sysfs directory of the HID device
    std::string HidSysname;   // "0003:046D:C52B.0007"
    std::string UsbDeviceDir; // sysfs directory of the USB device; empty when not on USB
};
std::optional<HidrawNode> ResolveHidrawSyspath(const std::string& Syspath);
// From a node name such as "hidraw3", through <sysfs>/class/hidraw.
std::optional<HidrawNode> ResolveHidrawName(std::string_view Name);
bool IsHidrawName(std::string_view Name);

std::optional<std::string> ReadHidUevent(const HidrawNode& Node);
// bcdDevice of the USB parent; 0 without one.
uint16_t ReadUsbVersion(const HidrawNode& Node);
std::optional<std::vector<uint8_t>> ReadSysfsReportDescriptor(const HidrawNode& Node);

// --- libudev, bound at run time -------------------------------------------------------------

struct udev;
struct udev_enumerate;
struct udev_list_entry;
struct udev_monitor;
struct udev_device;

struct UdevApi {
    void* Library = nullptr;
    udev* (*New)() = nullptr;
    udev* (*Unref)(udev*) = nullptr;
    udev_enumerate* (*EnumerateNew)(udev*) = nullptr;
    int (*EnumerateAddMatchSubsystem)(udev_enumerate*, const char*) = nullptr;
    int (*EnumerateScanDevices)(udev_enumerate*) = nullptr;
    udev_list_entry* (*EnumerateGetListEntry)(udev_enumerate*) = nullptr;
    udev_enumerate* (*EnumerateUnref)(udev_enumerate*) = nullptr;
    udev_list_entry* (*ListEntryGetNext)(udev_list_entry*) = nullptr;
    const char* (*ListEntryGetName)(udev_list_entry*) = nullptr;
    udev_monitor* (*MonitorNewFromNetlink)(udev*, const char*) = nullptr;
    int (*MonitorFilterAddMatchSubsystemDevtype)(udev_monitor*, const char*, const char*) = nullptr;
    int (*MonitorEnableReceiving)(udev_monitor*) = nullptr;
    int (*MonitorGetFd)(udev_monitor*) = nullptr;
    udev_device* (*MonitorReceiveDevice)(udev_monitor*) = nullptr;
    udev_monitor* (*MonitorUnref)(udev_monitor*) = nullptr;
    const char* (*DeviceGetAction)(udev_device*) = nullptr;
    udev_device* (*DeviceUnref)(udev_device*) = nullptr;

    ~UdevApi();
};

// libudev, loaded and bound; null when it is missing or lacks an entry.
std::shared_ptr<UdevApi> LoadUdev();
// "libudev.so.1" unless a test names another.
void SetUdevLibraryName(std::string Name);

// sysfs paths of the hidraw nodes present now; nullopt when udev cannot be asked.
std::optional<std::vector<std::string>> EnumerateHidrawSyspaths(const UdevApi& Udev);

int OpenDeviceMonitor();
bool ReadDeviceMonitor(int Fd);
void CloseDeviceMonitor(int Fd);

// --- device-setup entries -------------------------------------------------------------------

struct RegistryValue {
    DWORD Type = REG_SZ;
    std::vector<uint8_t> Bytes;
};

struct InterfaceRecord {
    std::string DevicePath;
    DWORD DevInst = 0;
    std::map<DWORD, RegistryValue> Properties;
};

InterfaceRecord DescribeInterface(const HidrawNode& Node);
HDEVINFO NewDeviceInfoSet(std::vector<InterfaceRecord> Records);
// The libudev the loaded "SetupApi.dll" holds; null when it is not loaded.
std::shared_ptr<UdevApi> SetupApiUdev();

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, LPCSTR Enumerator, HWND Parent,
                                     DWORD Flags);
BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO Set, SP_DEVINFO_DATA* DevInfo,
                                        const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                        SP_DEVICE_INTERFACE_DATA* InterfaceData);
BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO Set, SP_DEVICE_INTERFACE_DATA* InterfaceData,
                                             SP_DEVICE_INTERFACE_DETAIL_DATA_A* Detail,
                                             DWORD DetailSize, DWORD* RequiredSize,
                                             SP_DEVINFO_DATA* DevInfo);
BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO Set, SP_DEVINFO_DATA* DevInfo,
                                              DWORD Property, DWORD* PropertyRegDataType,
                                              BYTE* PropertyBuffer, DWORD PropertyBufferSize,
                                              DWORD* RequiredSize);
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO Set);

// --- file handles ---------------------------------------------------------------------------

struct HandleState {
    int Fd = -1;     // -1: query-only, everything comes from sysfs
    int WakeFd = -1; // eventfd that ends another thread's wait when the handle is closed
    DWORD Access = 0;
    std::optional<HidrawNode> Node;
    std::optional<uint32_t> Bus; // from HIDIOCGRAWINFO
    std::atomic<bool> Closed{false};
    std::atomic<bool> Gone{false}; // the node was pulled: reads are refused
    std::atomic<ULONG> NumInputBuffers{kDefaultInputBuffers};

    std::mutex DescriptorMutex;
    bool DescriptorLooked = false;
    std::optional<std::vector<uint8_t>> Descriptor;
    std::shared_ptr<const ReportDescriptorInfo> Info;

    HandleState() = default;
    HandleState(const HandleState&) = delete;
    HandleState& operator=(const HandleState&) = delete;
    ~HandleState();
};

std::shared_ptr<HandleState> FindHandle(HANDLE Handle);
// The raw report descriptor, read once per handle (from the node, or sysfs for query-only).
std::optional<std::vector<uint8_t>> HandleDescriptor(HandleState& State);
// That descriptor parsed; null without one.
std::shared_ptr<const ReportDescriptorInfo> HandleReportInfo(HandleState& State);
// Wraps a descriptor the caller opened (tests: a socket standing in for a hidraw node).
HANDLE AdoptDescriptor(int Fd, DWORD Access, std::optional<uint32_t> Bus,
                       std::optional<std::vector<uint8_t>> Descriptor);

HANDLE WINAPI CreateFileA(LPCSTR FileName, DWORD DesiredAccess, DWORD ShareMode,
                          void* SecurityAttributes, DWORD CreationDisposition,
                          DWORD FlagsAndAttributes, HANDLE TemplateFile);
BOOL WINAPI CloseHandle(HANDLE Object);
BOOL WINAPI ReadFileEx(HANDLE File, void* Buffer, DWORD NumberOfBytesToRead, OVERLAPPED* Overlapped,
                       LPOVERLAPPED_COMPLETION_ROUTINE CompletionRoutine);
BOOL WINAPI GetOverlappedResult(HANDLE File, OVERLAPPED* Overlapped,
                                DWORD* NumberOfBytesTransferred, BOOL Wait);
DWORD WINAPI SleepEx(DWORD Milliseconds, BOOL Alertable);
DWORD WINAPI GetLastError();
BOOL WINAPI CancelIo(HANDLE File);

// --- HID entries ----------------------------------------------------------------------------

void WINAPI HidD_GetHidGuid(GUID* HidGuid);
BOOLEAN WINAPI HidD_GetAttributes(HANDLE Device, HIDD_ATTRIBUTES* Attributes);
BOOLEAN WINAPI HidD_GetManufacturerString(HANDLE Device, void* Buffer, ULONG BufferLength);
BOOLEAN WINAPI HidD_GetProductString(HANDLE Device, void* Buffer, ULONG BufferLength);
BOOLEAN WINAPI HidD_GetFeature(HANDLE Device, void* ReportBuffer, ULONG ReportBufferLength);
BOOLEAN WINAPI HidD_SetFeature(HANDLE Device, void* ReportBuffer, ULONG ReportBufferLength);
BOOLEAN WINAPI HidD_GetPreparsedData(HANDLE Device, PHIDP_PREPARSED_DATA* PreparsedData);
BOOLEAN WINAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedData);
NTSTATUS WINAPI HidP_GetCaps(PHIDP_PREPARSED_DATA PreparsedData, HIDP_CAPS* Capabilities);
BOOLEAN WINAPI HidD_SetNumInputBuffers(HANDLE Device, ULONG NumberBuffers);
BOOLEAN WINAPI HidD_GetNumInputBuffers(HANDLE Device, ULONG* NumberBuffers);

} // namespace hidlinux
