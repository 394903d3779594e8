#include "SimHidPlatform.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <list>
#include <set>
#include <type_traits>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace hidsim {

namespace {

constexpr GUID kHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr ULONG_PTR kStatusPending = 0x103;
constexpr DWORD kSpIntActive = 1;
constexpr char kHidChange = 1;
constexpr char kOtherChange = 0;

thread_local DWORD tLastError = ERROR_SUCCESS;

// Threads are told apart by a number that is never reused, unlike thread ids.
std::atomic<uint64_t> gThreadSeq{1};
thread_local uint64_t tThreadToken = 0;
uint64_t ThreadToken() {
    if (tThreadToken == 0) tThreadToken = gThreadSeq.fetch_add(1);
    return tThreadToken;
}

bool SameGuid(const GUID& A, const GUID& B) {
    return std::memcmp(&A, &B, sizeof A) == 0;
}

template <class T> T Fail(DWORD Error, T Result) {
    tLastError = Error;
    return Result;
}

HANDLE ToHandle(uintptr_t Id) {
    return reinterpret_cast<HANDLE>(Id);
}
uintptr_t ToId(const void* Handle) {
    return reinterpret_cast<uintptr_t>(Handle);
}

// Preparsed data is a number on some platforms and a pointer on others. Templates, so that the
// branch not taken is never compiled (clang checks it otherwise).
template <class T = PHIDP_PREPARSED_DATA> uintptr_t PreparsedId(T Data) {
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<uintptr_t>(Data);
    else
        return static_cast<uintptr_t>(Data);
}
template <class T = PHIDP_PREPARSED_DATA> T ToPreparsed(uintptr_t Id) {
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<T>(Id);
    else
        return static_cast<T>(Id);
}

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

struct SimLibrary {
    std::string Name;
    bool Present = true;
    bool AlwaysLoaded = false; // kernel32: part of every process
    int RefCount = 0;
    std::set<std::string> Missing;
    const std::vector<std::pair<const char*, void*>>* Entries = nullptr;
};

// A simulated library's module handle is its record (a distinct pointer type on Windows).
HMODULE ToModule(SimLibrary* Library) {
    return reinterpret_cast<HMODULE>(Library);
}

struct SimHidPlatform::Impl {
    mutable std::mutex M;
    std::condition_variable CV;
    SimLibrary Libraries[3];
    UINT ErrorMode = 0;
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

    Impl();
    ~Impl();

    uintptr_t NewId() {
        NextId += 8;
        return NextId;
    }
    SimLibrary* FindLibrary(const std::string& Name) {
        for (SimLibrary& l : Libraries)
            if (l.Name == Name) return &l;
        return nullptr;
    }
    SimLibrary* FromModule(HMODULE Module) {
        for (SimLibrary& l : Libraries)
            if (ToModule(&l) == Module) return &l;
        return nullptr;
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
    void Notify(char What) {
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
};

namespace {

std::atomic<SimHidPlatform::Impl*> gActive{nullptr};

// Every entry runs against the active instance; with none, it fails like a vanished library.
#define SIM_IMPL(failResult)                                                                       \
    SimHidPlatform::Impl* s = gActive.load();                                                      \
    if (s == nullptr) return Fail(ERROR_INVALID_HANDLE, failResult);                               \
    std::unique_lock<std::mutex> lock(s->M)

// --- kernel and loader

HMODULE WINAPI SimLoadLibraryA(LPCSTR FileName) {
    SIM_IMPL(HMODULE(nullptr));
    std::string name = FileName != nullptr ? FileName : "";
    SimLibrary* l = s->FindLibrary(name);
    bool ok = l != nullptr && l->Present;
    s->LibraryLog.push_back({SimLibraryEvent::Load, name, ok, s->ErrorMode});
    if (!ok) return Fail(ERROR_MOD_NOT_FOUND, HMODULE(nullptr));
    ++l->RefCount;
    return ToModule(l);
}

BOOL WINAPI SimFreeLibrary(HMODULE Module) {
    SIM_IMPL(FALSE);
    SimLibrary* l = s->FromModule(Module);
    if (l == nullptr || l->RefCount <= 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
    --l->RefCount;
    s->LibraryLog.push_back({SimLibraryEvent::Free, l->Name, true, s->ErrorMode});
    return TRUE;
}

HMODULE WINAPI SimGetModuleHandleA(LPCSTR ModuleName) {
    SIM_IMPL(HMODULE(nullptr));
    SimLibrary* l = s->FindLibrary(ModuleName != nullptr ? ModuleName : "");
    if (l == nullptr || !l->Present || (l->RefCount == 0 && !l->AlwaysLoaded))
        return Fail(ERROR_MOD_NOT_FOUND, HMODULE(nullptr));
    return ToModule(l);
}

void* WINAPI SimGetProcAddress(HMODULE Module, LPCSTR ProcName) {
    SIM_IMPL(static_cast<void*>(nullptr));
    SimLibrary* l = s->FromModule(Module);
    if (l == nullptr || !l->Present || (l->RefCount == 0 && !l->AlwaysLoaded))
        return Fail(ERROR_INVALID_HANDLE, static_cast<void*>(nullptr));
    std::string name = ProcName != nullptr ? ProcName : "";
    if (l->Missing.count(name) != 0) return Fail(ERROR_PROC_NOT_FOUND, static_cast<void*>(nullptr));
    for (const auto& [entryName, entry] : *l->Entries)
        if (name == entryName) return entry;
    return Fail(ERROR_PROC_NOT_FOUND, static_cast<void*>(nullptr));
}

UINT WINAPI SimSetErrorMode(UINT Mode) {
    SIM_IMPL(UINT(0));
    UINT old = s->ErrorMode;
    s->ErrorMode = Mode;
    return old;
}

HANDLE WINAPI SimCreateFileA(LPCSTR FileName, DWORD DesiredAccess, DWORD, void*, DWORD,
                             DWORD FlagsAndAttributes, HANDLE) {
    SIM_IMPL(INVALID_HANDLE_VALUE);
    std::string path = FileName != nullptr ? FileName : "";
    auto device = s->PluggedAt(path);
    DWORD error = ERROR_SUCCESS;
    if (device == nullptr)
        error = ERROR_FILE_NOT_FOUND;
    else if (device->Desc.Access == SimAccess::None)
        error = ERROR_ACCESS_DENIED;
    else if (device->Desc.Access == SimAccess::QueryOnly &&
             (DesiredAccess & (GENERIC_READ | GENERIC_WRITE)) != 0)
        error = ERROR_ACCESS_DENIED;
    s->OpenLog.push_back({path, DesiredAccess, FlagsAndAttributes, error == ERROR_SUCCESS});
    if (error != ERROR_SUCCESS) return Fail(error, INVALID_HANDLE_VALUE);
    uintptr_t id = s->NewId();
    s->Handles[id] = SimHandle{device, DesiredAccess, FlagsAndAttributes, 32};
    return ToHandle(id);
}

BOOL WINAPI SimCloseHandle(HANDLE Object) {
    SIM_IMPL(FALSE);
    uintptr_t id = ToId(Object);
    if (s->Handles.erase(id) == 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
    bool woke = false;
    for (SimPendingRead& p : s->Pending)
        if (p.Handle == id && p.AbortError == 0) {
            p.AbortError = ERROR_OPERATION_ABORTED;
            woke = true;
        }
    if (woke) s->CV.notify_all();
    return TRUE;
}

BOOL WINAPI SimReadFileEx(HANDLE File, void* Buffer, DWORD NumberOfBytesToRead,
                          OVERLAPPED* Overlapped, LPOVERLAPPED_COMPLETION_ROUTINE Routine) {
    SIM_IMPL(FALSE);
    SimHandle* h = s->LiveHandle(File);
    if (h == nullptr) return FALSE;
    if ((h->Flags & FILE_FLAG_OVERLAPPED) == 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if ((h->Access & GENERIC_READ) == 0) return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (h->Device->Desc.ReadStartError != 0) return Fail(h->Device->Desc.ReadStartError, FALSE);
    if (Buffer == nullptr || NumberOfBytesToRead == 0 || Overlapped == nullptr)
        return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
    Overlapped->Internal = kStatusPending;
    Overlapped->InternalHigh = 0;
    s->Pending.push_back(SimPendingRead{ThreadToken(), ToId(File), h->Device,
                                        static_cast<uint8_t*>(Buffer), NumberOfBytesToRead,
                                        Overlapped, Routine, 0});
    ++s->ReadStarts;
    return TRUE;
}

BOOL WINAPI SimGetOverlappedResult(HANDLE File, OVERLAPPED* Overlapped, DWORD* Transferred, BOOL) {
    SIM_IMPL(FALSE);
    if (s->Handles.count(ToId(File)) == 0 || Overlapped == nullptr)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (Overlapped->Internal == kStatusPending) return Fail(ERROR_IO_INCOMPLETE, FALSE);
    if (Transferred != nullptr) *Transferred = static_cast<DWORD>(Overlapped->InternalHigh);
    if (Overlapped->Internal != 0) return Fail(static_cast<DWORD>(Overlapped->Internal), FALSE);
    return TRUE;
}

DWORD WINAPI SimSleepEx(DWORD Milliseconds, BOOL Alertable) {
    SimHidPlatform::Impl* s = gActive.load();
    if (s == nullptr) return 0;
    std::unique_lock<std::mutex> lock(s->M);
    const uint64_t me = ThreadToken();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(Milliseconds);
    bool timedOut = false;
    for (;;) {
        if (Alertable) {
            auto it = std::find_if(s->Pending.begin(), s->Pending.end(), [&](const auto& p) {
                return p.Thread == me &&
                       (p.AbortError != 0 || !p.Device->Plugged || !p.Device->Input.empty());
            });
            if (it != s->Pending.end()) {
                DWORD error = ERROR_SUCCESS;
                DWORD bytes = 0;
                if (it->AbortError != 0) {
                    error = it->AbortError;
                } else if (!it->Device->Plugged) {
                    error = ERROR_DEVICE_NOT_CONNECTED;
                } else {
                    std::vector<uint8_t> report = std::move(it->Device->Input.front());
                    it->Device->Input.pop_front();
                    bytes = std::min<DWORD>(it->Length, static_cast<DWORD>(report.size()));
                    std::memcpy(it->Buffer, report.data(), bytes);
                }
                it->Overlapped->Internal = error;
                it->Overlapped->InternalHigh = bytes;
                LPOVERLAPPED_COMPLETION_ROUTINE routine = it->Routine;
                OVERLAPPED* overlapped = it->Overlapped;
                s->Pending.erase(it);
                lock.unlock();
                if (routine != nullptr) routine(error, bytes, overlapped);
                return WAIT_IO_COMPLETION;
            }
        }
        if (timedOut) return 0;
        timedOut = s->CV.wait_until(lock, deadline) == std::cv_status::timeout;
    }
}

DWORD WINAPI SimGetLastError() {
    return tLastError;
}

BOOL WINAPI SimCancelIo(HANDLE File) {
    SIM_IMPL(FALSE);
    uintptr_t id = ToId(File);
    if (s->Handles.count(id) == 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
    const uint64_t me = ThreadToken();
    // Ended at once, marked aborted as the system marks it; its routine is never run.
    s->Pending.remove_if([&](const SimPendingRead& p) {
        bool mine = p.Thread == me && p.Handle == id;
        if (mine) {
            ++s->Cancels;
            p.Overlapped->Internal = ERROR_OPERATION_ABORTED;
            p.Overlapped->InternalHigh = 0;
        }
        return mine;
    });
    return TRUE;
}

#ifdef _WIN32
// No descriptor on Windows: changes are broadcast to the windows (Notify).
int SimOpenDeviceMonitor() {
    return -1;
}
bool SimReadDeviceMonitor(int) {
    return false;
}
void SimCloseDeviceMonitor(int) {}
#else
int SimOpenDeviceMonitor() {
    SIM_IMPL(-1);
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return -1;
    s->Monitors[fds[0]] = fds[1];
    return fds[0];
}

bool SimReadDeviceMonitor(int Fd) {
    SIM_IMPL(false);
    if (s->Monitors.count(Fd) == 0) return false;
    bool hid = false;
    char buffer[64];
    for (;;) {
        ssize_t n = ::read(Fd, buffer, sizeof buffer);
        if (n <= 0) break;
        hid = hid || std::find(buffer, buffer + n, kHidChange) != buffer + n;
    }
    return hid;
}

void SimCloseDeviceMonitor(int Fd) {
    SimHidPlatform::Impl* s = gActive.load();
    if (s == nullptr) return;
    std::lock_guard<std::mutex> lock(s->M);
    auto it = s->Monitors.find(Fd);
    if (it == s->Monitors.end()) return;
    ::close(it->first);
    ::close(it->second);
    s->Monitors.erase(it);
}
#endif

// --- SetupApi.dll

HDEVINFO WINAPI SimSetupDiGetClassDevsA(const GUID* ClassGuid, LPCSTR, HWND, DWORD Flags) {
    SIM_IMPL(HDEVINFO(INVALID_HANDLE_VALUE));
    if (ClassGuid == nullptr) return Fail(ERROR_INVALID_PARAMETER, HDEVINFO(INVALID_HANDLE_VALUE));
    std::vector<std::shared_ptr<SimDevice>> members;
    if ((Flags & DIGCF_DEVICEINTERFACE) != 0 && SameGuid(*ClassGuid, kHidGuid))
        members = s->Devices;
    uintptr_t id = s->NewId();
    s->Sets[id] = std::move(members);
    return ToHandle(id);
}

BOOL WINAPI SimSetupDiEnumDeviceInterfaces(HDEVINFO Set, SP_DEVINFO_DATA*, const GUID* Guid,
                                           DWORD MemberIndex, SP_DEVICE_INTERFACE_DATA* Data) {
    SIM_IMPL(FALSE);
    auto it = s->Sets.find(ToId(Set));
    if (it == s->Sets.end()) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (Data == nullptr || Data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || Guid == nullptr)
        return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
    if (MemberIndex >= it->second.size()) return Fail(ERROR_NO_MORE_ITEMS, FALSE);
    Data->InterfaceClassGuid = *Guid;
    Data->Flags = kSpIntActive;
    Data->Reserved = MemberIndex + 1;
    return TRUE;
}

std::shared_ptr<SimDevice> SetMember(SimHidPlatform::Impl* s, HDEVINFO Set, ULONG_PTR Token) {
    auto it = s->Sets.find(ToId(Set));
    if (it == s->Sets.end()) return Fail(ERROR_INVALID_HANDLE, std::shared_ptr<SimDevice>());
    if (Token == 0 || Token > it->second.size())
        return Fail(ERROR_INVALID_PARAMETER, std::shared_ptr<SimDevice>());
    return it->second[Token - 1];
}

BOOL WINAPI SimSetupDiGetDeviceInterfaceDetailA(HDEVINFO Set, SP_DEVICE_INTERFACE_DATA* Data,
                                                SP_DEVICE_INTERFACE_DETAIL_DATA_A* Detail,
                                                DWORD DetailSize, DWORD* RequiredSize,
                                                SP_DEVINFO_DATA* DevInfo) {
    SIM_IMPL(FALSE);
    if (Data == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    auto device = SetMember(s, Set, Data->Reserved);
    if (device == nullptr) return FALSE;
    constexpr size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const DWORD needed = static_cast<DWORD>(pathOffset + device->Desc.Path.size() + 1);
    if (RequiredSize != nullptr) *RequiredSize = needed;
    if (DevInfo != nullptr) {
        if (DevInfo->cbSize != sizeof(SP_DEVINFO_DATA))
            return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
        DevInfo->ClassGuid = kHidGuid;
        DevInfo->DevInst = device->Instance;
        DevInfo->Reserved = Data->Reserved;
    }
    if (Detail == nullptr)
        return Fail(DetailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER, FALSE);
    if (Detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
    if (DetailSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    if (!device->Desc.DetailReadable) return Fail(ERROR_GEN_FAILURE, FALSE);
    std::memcpy(reinterpret_cast<char*>(Detail) + pathOffset, device->Desc.Path.c_str(),
                device->Desc.Path.size() + 1);
    return TRUE;
}

BOOL WINAPI SimSetupDiGetDeviceRegistryPropertyA(HDEVINFO Set, SP_DEVINFO_DATA* DevInfo,
                                                 DWORD Property, DWORD* Type, BYTE* Buffer,
                                                 DWORD BufferSize, DWORD* RequiredSize) {
    SIM_IMPL(FALSE);
    if (DevInfo == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    auto device = SetMember(s, Set, DevInfo->Reserved);
    if (device == nullptr) return FALSE;
    auto it = device->Desc.Properties.find(Property);
    if (it == device->Desc.Properties.end()) return Fail(ERROR_INVALID_DATA, FALSE);
    const DWORD size = static_cast<DWORD>(it->second.size());
    if (RequiredSize != nullptr) *RequiredSize = size;
    if (Type != nullptr) *Type = 0;
    if (Buffer == nullptr || BufferSize < size) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    std::memcpy(Buffer, it->second.data(), size);
    return TRUE;
}

BOOL WINAPI SimSetupDiDestroyDeviceInfoList(HDEVINFO Set) {
    SIM_IMPL(FALSE);
    if (s->Sets.erase(ToId(Set)) == 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
    return TRUE;
}

// --- HID.dll

void WINAPI SimHidD_GetHidGuid(GUID* HidGuid) {
    if (HidGuid != nullptr) *HidGuid = kHidGuid;
}

BOOLEAN WINAPI SimHidD_GetAttributes(HANDLE Device, HIDD_ATTRIBUTES* Attributes) {
    SIM_IMPL(BOOLEAN(0));
    SimHandle* h = s->LiveHandle(Device);
    if (h == nullptr) return 0;
    if (Attributes == nullptr || Attributes->Size != sizeof(HIDD_ATTRIBUTES))
        return Fail(ERROR_INVALID_PARAMETER, BOOLEAN(0));
    if (!h->Device->Desc.Identifiable) return Fail(ERROR_GEN_FAILURE, BOOLEAN(0));
    Attributes->VendorID = h->Device->Desc.VendorID;
    Attributes->ProductID = h->Device->Desc.ProductID;
    Attributes->VersionNumber = h->Device->Desc.VersionNumber;
    return 1;
}

BOOLEAN GetString(HANDLE Device, void* Buffer, ULONG BufferLength, bool Manufacturer) {
    SIM_IMPL(BOOLEAN(0));
    SimHandle* h = s->LiveHandle(Device);
    if (h == nullptr) return 0;
    const SimDeviceSpec& desc = h->Device->Desc;
    if (!(Manufacturer ? desc.ManufacturerReadable : desc.ProductReadable))
        return Fail(ERROR_GEN_FAILURE, BOOLEAN(0));
    if (Buffer == nullptr) return Fail(ERROR_INVALID_USER_BUFFER, BOOLEAN(0));
    const std::u16string& text = Manufacturer ? desc.Manufacturer : desc.Product;
    const size_t room = BufferLength / sizeof(char16_t);
    const size_t units = std::min(room, text.size());
    std::memcpy(Buffer, text.data(), units * sizeof(char16_t));
    if (units < room) static_cast<char16_t*>(Buffer)[units] = 0;
    return 1;
}

BOOLEAN WINAPI SimHidD_GetManufacturerString(HANDLE Device, PVOID Buffer, ULONG Length) {
    return GetString(Device, Buffer, Length, true);
}

BOOLEAN WINAPI SimHidD_GetProductString(HANDLE Device, PVOID Buffer, ULONG Length) {
    return GetString(Device, Buffer, Length, false);
}

BOOLEAN Feature(HANDLE Device, PVOID Report, ULONG Length, SimFeatureTransfer::Kind Direction) {
    SIM_IMPL(BOOLEAN(0));
    SimHandle* h = s->LiveHandle(Device);
    if (h == nullptr) return 0;
    if ((h->Access & (GENERIC_READ | GENERIC_WRITE)) == 0)
        return Fail(ERROR_ACCESS_DENIED, BOOLEAN(0));
    if (Report == nullptr || Length == 0) return Fail(ERROR_INVALID_USER_BUFFER, BOOLEAN(0));
    std::shared_ptr<SimDevice> device = h->Device;
    SimGetFeature get = device->Desc.GetFeature;
    SimSetFeature set = device->Desc.SetFeature;
    auto* bytes = static_cast<uint8_t*>(Report);
    SimFeatureTransfer transfer{Direction, device->Desc.Path, device->Instance, Length, {}, false};
    if (Direction == SimFeatureTransfer::Set) transfer.Bytes.assign(bytes, bytes + Length);
    // The device's handler may call back into the platform.
    lock.unlock();
    bool ok = Direction == SimFeatureTransfer::Get ? (get && get(bytes, Length))
                                                   : (set && set(bytes, Length));
    lock.lock();
    if (Direction == SimFeatureTransfer::Get) transfer.Bytes.assign(bytes, bytes + Length);
    transfer.Ok = ok;
    s->Transfers.push_back(std::move(transfer));
    return ok ? 1 : Fail(ERROR_GEN_FAILURE, BOOLEAN(0));
}

BOOLEAN WINAPI SimHidD_GetFeature(HANDLE Device, PVOID Report, ULONG Length) {
    return Feature(Device, Report, Length, SimFeatureTransfer::Get);
}

BOOLEAN WINAPI SimHidD_SetFeature(HANDLE Device, PVOID Report, ULONG Length) {
    return Feature(Device, Report, Length, SimFeatureTransfer::Set);
}

BOOLEAN WINAPI SimHidD_GetPreparsedData(HANDLE Device, PHIDP_PREPARSED_DATA* PreparsedData) {
    SIM_IMPL(BOOLEAN(0));
    SimHandle* h = s->LiveHandle(Device);
    if (h == nullptr) return 0;
    if (PreparsedData == nullptr) return Fail(ERROR_INVALID_PARAMETER, BOOLEAN(0));
    const SimDeviceSpec& desc = h->Device->Desc;
    if (!desc.PreparsedReadable) return Fail(ERROR_GEN_FAILURE, BOOLEAN(0));
    HIDP_CAPS caps{};
    caps.Usage = desc.Usage;
    caps.UsagePage = desc.UsagePage;
    caps.InputReportByteLength = desc.InputReportByteLength;
    caps.OutputReportByteLength = desc.OutputReportByteLength;
    caps.FeatureReportByteLength = desc.FeatureReportByteLength;
    uintptr_t id = s->NewId();
    s->Preparsed[id] = caps;
    *PreparsedData = ToPreparsed(id);
    return 1;
}

BOOLEAN WINAPI SimHidD_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedData) {
    SIM_IMPL(BOOLEAN(0));
    if (s->Preparsed.erase(PreparsedId(PreparsedData)) == 0)
        return Fail(ERROR_INVALID_PARAMETER, BOOLEAN(0));
    return 1;
}

BOOLEAN WINAPI SimHidD_SetNumInputBuffers(HANDLE Device, ULONG NumberBuffers) {
    SIM_IMPL(BOOLEAN(0));
    SimHandle* h = s->LiveHandle(Device);
    if (h == nullptr) return 0;
    if (NumberBuffers < 2 || NumberBuffers > 512) return Fail(ERROR_INVALID_PARAMETER, BOOLEAN(0));
    h->NumInputBuffers = NumberBuffers;
    return 1;
}

BOOLEAN WINAPI SimHidD_GetNumInputBuffers(HANDLE Device, ULONG* NumberBuffers) {
    SIM_IMPL(BOOLEAN(0));
    SimHandle* h = s->LiveHandle(Device);
    if (h == nullptr) return 0;
    if (NumberBuffers == nullptr) return Fail(ERROR_INVALID_PARAMETER, BOOLEAN(0));
    *NumberBuffers = h->NumInputBuffers;
    return 1;
}

NTSTATUS WINAPI SimHidP_GetCaps(PHIDP_PREPARSED_DATA PreparsedData, HIDP_CAPS* Capabilities) {
    SIM_IMPL(HIDP_STATUS_INVALID_PREPARSED_DATA);
    auto it = s->Preparsed.find(PreparsedId(PreparsedData));
    if (it == s->Preparsed.end() || Capabilities == nullptr)
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    *Capabilities = it->second;
    return HIDP_STATUS_SUCCESS;
}

// The optional entries exist but do nothing useful; nothing calls them.
BOOLEAN WINAPI SimHidD_GetInputReport(HANDLE, PVOID, ULONG) {
    return Fail(ERROR_INVALID_PARAMETER, BOOLEAN(0));
}
BOOLEAN WINAPI SimHidD_SetOutputReport(HANDLE, PVOID, ULONG) {
    return Fail(ERROR_INVALID_PARAMETER, BOOLEAN(0));
}
NTSTATUS WINAPI SimHidP_GetExtendedAttributes(HIDP_REPORT_TYPE, USHORT, PHIDP_PREPARSED_DATA, void*,
                                              ULONG*) {
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
}
NTSTATUS WINAPI SimHidP_InitializeReportForID(HIDP_REPORT_TYPE, UCHAR, PHIDP_PREPARSED_DATA, char*,
                                              ULONG) {
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
}

template <class Fn> void* Entry(Fn Function) {
    return reinterpret_cast<void*>(Function);
}

const std::vector<std::pair<const char*, void*>> kSetupApiEntries = {
    {"SetupDiGetClassDevsA", Entry(&SimSetupDiGetClassDevsA)},
    {"SetupDiEnumDeviceInterfaces", Entry(&SimSetupDiEnumDeviceInterfaces)},
    {"SetupDiGetDeviceInterfaceDetailA", Entry(&SimSetupDiGetDeviceInterfaceDetailA)},
    {"SetupDiGetDeviceRegistryPropertyA", Entry(&SimSetupDiGetDeviceRegistryPropertyA)},
    {"SetupDiDestroyDeviceInfoList", Entry(&SimSetupDiDestroyDeviceInfoList)},
};

const std::vector<std::pair<const char*, void*>> kHidEntries = {
    {"HidD_GetHidGuid", Entry(&SimHidD_GetHidGuid)},
    {"HidD_GetAttributes", Entry(&SimHidD_GetAttributes)},
    {"HidD_GetManufacturerString", Entry(&SimHidD_GetManufacturerString)},
    {"HidD_GetProductString", Entry(&SimHidD_GetProductString)},
    {"HidD_GetFeature", Entry(&SimHidD_GetFeature)},
    {"HidD_SetFeature", Entry(&SimHidD_SetFeature)},
    {"HidD_GetPreparsedData", Entry(&SimHidD_GetPreparsedData)},
    {"HidD_FreePreparsedData", Entry(&SimHidD_FreePreparsedData)},
    {"HidD_SetNumInputBuffers", Entry(&SimHidD_SetNumInputBuffers)},
    {"HidD_GetNumInputBuffers", Entry(&SimHidD_GetNumInputBuffers)},
    {"HidP_GetCaps", Entry(&SimHidP_GetCaps)},
    {"HidD_GetInputReport", Entry(&SimHidD_GetInputReport)},
    {"HidD_SetOutputReport", Entry(&SimHidD_SetOutputReport)},
    {"HidP_GetExtendedAttributes", Entry(&SimHidP_GetExtendedAttributes)},
    {"HidP_InitializeReportForID", Entry(&SimHidP_InitializeReportForID)},
};

const std::vector<std::pair<const char*, void*>> kKernelEntries = {
    {"CancelIo", Entry(&SimCancelIo)},
};

const HidPlatform kSimPlatform = {
    .Name = "simulated",
    .LoadLibraryA = SimLoadLibraryA,
    .GetProcAddress = SimGetProcAddress,
    .FreeLibrary = SimFreeLibrary,
    .GetModuleHandleA = SimGetModuleHandleA,
    .SetErrorMode = SimSetErrorMode,
    .CreateFileA = SimCreateFileA,
    .CloseHandle = SimCloseHandle,
    .ReadFileEx = SimReadFileEx,
    .GetOverlappedResult = SimGetOverlappedResult,
    .SleepEx = SimSleepEx,
    .GetLastError = SimGetLastError,
    .OpenDeviceMonitor = SimOpenDeviceMonitor,
    .ReadDeviceMonitor = SimReadDeviceMonitor,
    .CloseDeviceMonitor = SimCloseDeviceMonitor,
};

} // namespace

SimHidPlatform::Impl::Impl() {
    Libraries[0].Name = "SetupApi.dll";
    Libraries[0].Entries = &kSetupApiEntries;
    Libraries[1].Name = "HID.dll";
    Libraries[1].Entries = &kHidEntries;
    Libraries[2].Name = "kernel32.dll";
    Libraries[2].Entries = &kKernelEntries;
    Libraries[2].AlwaysLoaded = true;
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

const HidPlatform* SimHidPlatform::Platform() {
    gActive.store(FImpl.get());
    return &kSimPlatform;
}

void SimHidPlatform::SetLibraryPresent(const std::string& Library, bool Present) {
    std::lock_guard<std::mutex> lock(FImpl->M);
    if (SimLibrary* l = FImpl->FindLibrary(Library)) l->Present = Present;
}

void SimHidPlatform::SetEntryPresent(const std::string& Library, const std::string& Entry,
                                     bool Present) {
    std::lock_guard<std::mutex> lock(FImpl->M);
    if (SimLibrary* l = FImpl->FindLibrary(Library)) {
        if (Present)
            l->Missing.erase(Entry);
        else
            l->Missing.insert(Entry);
    }
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
    std::lock_guard<std::mutex> lock(FImpl->M);
    SimLibrary* l = FImpl->FindLibrary(Library);
    return l != nullptr && l->RefCount > 0;
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
