// Internals shared by the parts of the simulated HID platform: the machine's state (devices,
// handles, sets, pending reads), the active instance every entry runs against, and the entries
// the library table exports.
#pragma once

#include "hid/PseudoLibraries.h"
#include "hid/sim/SimHidPlatform.h"

#include <atomic>
#include <list>

namespace hidsim {

constexpr GUID kHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr char kHidChange = 1;
constexpr char kOtherChange = 0;

void SetLastErrorCode(DWORD Error);
// Threads are told apart by a number that is never reused, unlike thread ids.
uint64_t ThreadToken();

template <class T> T Fail(DWORD Error, T Result) {
    SetLastErrorCode(Error);
    return Result;
}

inline HANDLE ToHandle(uintptr_t Id) {
    return reinterpret_cast<HANDLE>(Id);
}
inline uintptr_t ToId(const void* Handle) {
    return reinterpret_cast<uintptr_t>(Handle);
}

struct SimDevice {
    SimDeviceSpec Desc;
    DWORD Instance = 0;
    bool Plugged = true;
    std::deque<std::vector<uint8_t>> Input;
};

struct SimHandle {
    std::shared_ptr<SimDevice> Device;
    DWORD Access = 0;
    DWORD Flags = 0;
    ULONG NumInputBuffers = 32;
};

struct SimPendingRead {
    uint64_t Thread;
    uintptr_t Handle;
    std::shared_ptr<SimDevice> Device;
    uint8_t* Buffer;
    DWORD Length;
    OVERLAPPED* Overlapped;
    LPOVERLAPPED_COMPLETION_ROUTINE Routine;
    DWORD AbortError = 0; // set when the handle was closed under the read
};

// The library table (SimHidPlatform.cpp): "SetupApi.dll", "HID.dll", "kernel32.dll".
std::unique_ptr<PseudoLibraries> NewSimLibraries();

struct SimHidPlatform::Impl {
    mutable std::mutex M;
    std::condition_variable CV;
    std::unique_ptr<PseudoLibraries> Libraries = NewSimLibraries();
    std::vector<std::shared_ptr<SimDevice>> Devices; // plugged in, in plug order
    DWORD NextInstance = 0x1001;
    uintptr_t NextId = 0x10000;
    std::map<uintptr_t, SimHandle> Handles;
    std::map<uintptr_t, std::vector<std::shared_ptr<SimDevice>>> Sets;
    std::map<uintptr_t, HIDP_CAPS> Preparsed;
    std::map<int, int> Monitors; // read end -> write end
    std::list<SimPendingRead> Pending;
    std::vector<SimFeatureTransfer> Transfers;
    std::vector<SimOpen> OpenLog;
    std::vector<SimLibraryEvent> LibraryLog;
    int Cancels = 0;
    int ReadStarts = 0;

    ~Impl();

    uintptr_t NewId() {
        NextId += 8;
        return NextId;
    }
    std::shared_ptr<SimDevice> PluggedAt(const std::string& Path) const {
        for (const auto& d : Devices)
            if (d->Desc.Path == Path) return d;
        return nullptr;
    }
    // The handle's record when it is open and its device still plugged in; else sets the error.
    SimHandle* LiveHandle(HANDLE Handle) {
        auto it = Handles.find(ToId(Handle));
        if (it == Handles.end()) return Fail<SimHandle*>(ERROR_INVALID_HANDLE, nullptr);
        if (!it->second.Device->Plugged)
            return Fail<SimHandle*>(ERROR_DEVICE_NOT_CONNECTED, nullptr);
        return &it->second;
    }
    // Raises the device-change notification (What: a HID change or another one).
    void Notify(char What);
};

extern std::atomic<SimHidPlatform::Impl*> gActive;

// Every entry runs against the active instance; with none, it fails like a vanished library.
#define SIM_IMPL(failResult)                                                                       \
    SimHidPlatform::Impl* s = gActive.load();                                                      \
    if (s == nullptr) return Fail(ERROR_INVALID_HANDLE, failResult);                               \
    std::unique_lock<std::mutex> lock(s->M)

// --- files, kernel services and the device monitor (SimFiles.cpp)
HANDLE WINAPI SimCreateFileA(LPCSTR FileName, DWORD DesiredAccess, DWORD ShareMode,
                             void* SecurityAttributes, DWORD CreationDisposition,
                             DWORD FlagsAndAttributes, HANDLE TemplateFile);
BOOL WINAPI SimCloseHandle(HANDLE Object);
BOOL WINAPI SimReadFileEx(HANDLE File, void* Buffer, DWORD NumberOfBytesToRead,
                          OVERLAPPED* Overlapped, LPOVERLAPPED_COMPLETION_ROUTINE Routine);
BOOL WINAPI SimGetOverlappedResult(HANDLE File, OVERLAPPED* Overlapped, DWORD* Transferred,
                                   BOOL Wait);
DWORD WINAPI SimSleepEx(DWORD Milliseconds, BOOL Alertable);
DWORD WINAPI SimGetLastError();
BOOL WINAPI SimCancelIo(HANDLE File);
int SimOpenDeviceMonitor();
bool SimReadDeviceMonitor(int Fd);
void SimCloseDeviceMonitor(int Fd);

// --- device-setup entries (SimSetupApi.cpp)
HDEVINFO WINAPI SimSetupDiGetClassDevsA(const GUID* ClassGuid, LPCSTR Enumerator, HWND Parent,
                                        DWORD Flags);
BOOL WINAPI SimSetupDiEnumDeviceInterfaces(HDEVINFO Set, SP_DEVINFO_DATA* DevInfo, const GUID* Guid,
                                           DWORD MemberIndex, SP_DEVICE_INTERFACE_DATA* Data);
BOOL WINAPI SimSetupDiGetDeviceInterfaceDetailA(HDEVINFO Set, SP_DEVICE_INTERFACE_DATA* Data,
                                                SP_DEVICE_INTERFACE_DETAIL_DATA_A* Detail,
                                                DWORD DetailSize, DWORD* RequiredSize,
                                                SP_DEVINFO_DATA* DevInfo);
BOOL WINAPI SimSetupDiGetDeviceRegistryPropertyA(HDEVINFO Set, SP_DEVINFO_DATA* DevInfo,
                                                 DWORD Property, DWORD* Type, BYTE* Buffer,
                                                 DWORD BufferSize, DWORD* RequiredSize);
BOOL WINAPI SimSetupDiDestroyDeviceInfoList(HDEVINFO Set);

// --- HID entries (SimHidApi.cpp)
void WINAPI SimHidD_GetHidGuid(GUID* HidGuid);
BOOLEAN WINAPI SimHidD_GetAttributes(HANDLE Device, HIDD_ATTRIBUTES* Attributes);
BOOLEAN WINAPI SimHidD_GetManufacturerString(HANDLE Device, PVOID Buffer, ULONG Length);
BOOLEAN WINAPI SimHidD_GetProductString(HANDLE Device, PVOID Buffer, ULONG Length);
BOOLEAN WINAPI SimHidD_GetFeature(HANDLE Device, PVOID Report, ULONG Length);
BOOLEAN WINAPI SimHidD_SetFeature(HANDLE Device, PVOID Report, ULONG Length);
BOOLEAN WINAPI SimHidD_GetPreparsedData(HANDLE Device, PHIDP_PREPARSED_DATA* PreparsedData);
BOOLEAN WINAPI SimHidD_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedData);
BOOLEAN WINAPI SimHidD_SetNumInputBuffers(HANDLE Device, ULONG NumberBuffers);
BOOLEAN WINAPI SimHidD_GetNumInputBuffers(HANDLE Device, ULONG* NumberBuffers);
NTSTATUS WINAPI SimHidP_GetCaps(PHIDP_PREPARSED_DATA PreparsedData, HIDP_CAPS* Capabilities);
BOOLEAN WINAPI SimHidD_GetInputReport(HANDLE Device, PVOID Report, ULONG Length);
BOOLEAN WINAPI SimHidD_SetOutputReport(HANDLE Device, PVOID Report, ULONG Length);
NTSTATUS WINAPI SimHidP_GetExtendedAttributes(HIDP_REPORT_TYPE Type, USHORT Index,
                                              PHIDP_PREPARSED_DATA PreparsedData, void* Attributes,
                                              ULONG* Length);
NTSTATUS WINAPI SimHidP_InitializeReportForID(HIDP_REPORT_TYPE Type, UCHAR Id,
                                              PHIDP_PREPARSED_DATA PreparsedData, char* Report,
                                              ULONG Length);

} // namespace hidsim
