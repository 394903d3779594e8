#include "JvHidControllerClass.h"

#include "Hid.h"
#include "SetupApi.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <functional>
#include <iterator>
#include <set>
#include <system_error>

const char* const RsEDeviceCannotBeOpened = "Device cannot be opened";
const char* const RsEDeviceCannotBeIdentified = "Device cannot be identified";

namespace {

// {4D1E55B2-F16F-11CF-88CB-001111000030}
constexpr GUID kStandardHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr ULONG kStringBufferBytes = 508; // 254 UTF-16 units
constexpr DWORD kTextPropertyBytes = 1024;
constexpr DWORD kListPropertyBytes = 16384;
// No real interface path comes near this; a larger size is a broken answer, not a path.
constexpr DWORD kMaxDetailBytes = 64 * 1024;

bool IsValid(HANDLE Handle) {
    return Handle != INVALID_HANDLE_VALUE && Handle != nullptr;
}

void CloseIfOpen(HANDLE& Handle) {
    if (IsValid(Handle)) CurrentHidPlatform().CloseHandle(Handle);
    Handle = INVALID_HANDLE_VALUE;
}

// Ends the alertable wait of the reader; the result is taken from the device afterwards.
void WINAPI ReadCompletion(DWORD, DWORD, OVERLAPPED*) {}

// The GUI-thread hand-over of the readers. A reader queues its delivery, posts a call that
// serves the queue, and sleeps until the delivery has run. A GUI thread that waits for a reader
// to end serves the queue itself, so a reader blocked in a hand-over can always finish.
class GuiHandOver {
public:
    // Never destroyed: a reader stopped from inside its own delivery ends detached and may
    // still signal here while the program exits.
    static GuiHandOver& Instance() {
        static GuiHandOver* handOver = new GuiHandOver;
        return *handOver;
    }

    void RunAndWait(HidEventLoop& Loop, const TJvHidDeviceReadThread* Reader,
                    std::function<void()> Fn) {
        Item item{Reader, &Loop, std::move(Fn), false};
        {
            std::lock_guard<std::mutex> lock(FLock);
            FQueue.push_back(&item);
        }
        FWake.notify_all();
        Loop.Post([] { GuiHandOver::Instance().Serve(nullptr); });
        std::unique_lock<std::mutex> lock(FLock);
        FWake.wait(lock, [&] { return item.Done; });
    }

    // GUI thread: runs the queued deliveries of Reader, or of every reader when it is null.
    // A reader's stop serves only its own: another device's handler run inside a stop could
    // free the device being stopped.
    void Serve(const TJvHidDeviceReadThread* Reader) {
        for (;;) {
            Item* item;
            {
                std::lock_guard<std::mutex> lock(FLock);
                auto it = Find(Reader);
                if (it == FQueue.end()) return;
                item = *it;
                FQueue.erase(it);
            }
            tDelivering.push_back(item->Reader);
            try {
                item->Fn();
            } catch (...) {
                // The reader cannot take it and the event loop must not see it.
                item->Loop->HandleException(std::current_exception());
            }
            tDelivering.pop_back();
            {
                std::lock_guard<std::mutex> lock(FLock);
                item->Done = true;
            }
            FWake.notify_all();
        }
    }

    // Sleeps until a delivery of Reader is queued (never, for a null Reader), Done() holds, or
    // Timeout has passed.
    template <class Pred>
    void WaitForWork(const TJvHidDeviceReadThread* Reader, Pred Done,
                     std::chrono::milliseconds Timeout) {
        std::unique_lock<std::mutex> lock(FLock);
        FWake.wait_for(lock, Timeout, [&] {
            return (Reader != nullptr && Find(Reader) != FQueue.end()) || Done();
        });
    }

    // Runs Change under the hand-over lock and wakes every waiter.
    template <class Fn> void Signal(Fn Change) {
        {
            std::lock_guard<std::mutex> lock(FLock);
            Change();
        }
        FWake.notify_all();
    }

    static bool IsDelivering(const TJvHidDeviceReadThread* Reader) {
        return std::find(tDelivering.begin(), tDelivering.end(), Reader) != tDelivering.end();
    }

private:
    struct Item {
        const TJvHidDeviceReadThread* Reader;
        HidEventLoop* Loop;
        std::function<void()> Fn;
        bool Done;
    };

    // Caller holds FLock.
    std::deque<Item*>::iterator Find(const TJvHidDeviceReadThread* Reader) {
        return std::find_if(FQueue.begin(), FQueue.end(), [Reader](const Item* I) {
            return Reader == nullptr || I->Reader == Reader;
        });
    }

    std::mutex FLock;
    std::condition_variable FWake;
    std::deque<Item*> FQueue;
    static thread_local std::vector<const TJvHidDeviceReadThread*> tDelivering;
};

thread_local std::vector<const TJvHidDeviceReadThread*> GuiHandOver::tDelivering;

} // namespace

// ---------------------------------------------------------------------------------------------
// TJvHidPnPInfo

TJvHidPnPInfo::TJvHidPnPInfo(DWORD DeviceInstance, std::string DevicePath)
    : DeviceInstance(DeviceInstance), DevicePath(std::move(DevicePath)) {}

TJvHidPnPInfo::TJvHidPnPInfo(HDEVINFO DevInfo, SP_DEVINFO_DATA DevData, std::string DevicePath)
    : DeviceInstance(DevData.DevInst), DevicePath(std::move(DevicePath)) {
    TSetupDiGetDeviceRegistryPropertyA get = SetupApiEntries.SetupDiGetDeviceRegistryPropertyA;
    if (get == nullptr) return;
    // Results are ignored: an absent property leaves the preset buffer.
    auto read = [&](DWORD Property, std::vector<BYTE>& Buffer) {
        DWORD type = 0;
        DWORD needed = 0;
        get(DevInfo, &DevData, Property, &type, Buffer.data(), static_cast<DWORD>(Buffer.size()),
            &needed);
    };
    auto number = [&](DWORD Property) {
        std::vector<BYTE> buffer(sizeof(DWORD), 0);
        read(Property, buffer);
        DWORD value;
        std::memcpy(&value, buffer.data(), sizeof value);
        return value;
    };
    auto text = [&](DWORD Property) {
        std::vector<BYTE> buffer(kTextPropertyBytes, 0);
        read(Property, buffer);
        const char* s = reinterpret_cast<const char*>(buffer.data());
        return std::string(s, strnlen(s, buffer.size()));
    };
    auto list = [&](DWORD Property) {
        std::vector<BYTE> buffer(kListPropertyBytes, 0);
        read(Property, buffer);
        std::vector<std::string> items;
        const char* s = reinterpret_cast<const char*>(buffer.data());
        size_t pos = 0;
        while (pos < buffer.size()) {
            size_t len = strnlen(s + pos, buffer.size() - pos);
            if (len == 0) break;
            items.emplace_back(s + pos, len);
            pos += len + 1;
        }
        return items;
    };
    Capabilities = number(SPDRP_CAPABILITIES);
    ClassName = text(SPDRP_CLASS);
    ClassGuid = text(SPDRP_CLASSGUID);
    CompatibleIds = list(SPDRP_COMPATIBLEIDS);
    ConfigFlags = number(SPDRP_CONFIGFLAGS);
    DeviceDescription = text(SPDRP_DEVICEDESC);
    Driver = text(SPDRP_DRIVER);
    FriendlyName = text(SPDRP_FRIENDLYNAME);
    HardwareIds = list(SPDRP_HARDWAREID);
    LowerFilters = list(SPDRP_LOWERFILTERS);
    Manufacturer = text(SPDRP_MFG);
    UpperFilters = list(SPDRP_UPPERFILTERS);
    Service = text(SPDRP_SERVICE);
    Address = number(SPDRP_ADDRESS);
    BusNumber = number(SPDRP_BUSNUMBER);
    BusTypeGuid = text(SPDRP_BUSTYPEGUID);
    Characteristics = number(SPDRP_CHARACTERISTICS);
    DeviceType = number(SPDRP_DEVTYPE);
    EnumeratorName = text(SPDRP_ENUMERATOR_NAME);
    Exclusive = number(SPDRP_EXCLUSIVE);
    LegacyBusType = number(SPDRP_LEGACYBUSTYPE);
    LocationInformation = text(SPDRP_LOCATION_INFORMATION);
    PhysicalDeviceObjectName = text(SPDRP_PHYSICAL_DEVICE_OBJECT_NAME);
    SecurityDescriptor = text(SPDRP_SECURITY_SDS);
    UiNumber = number(SPDRP_UI_NUMBER);
    RegistryProperty30 = text(0x1E);
}

// ---------------------------------------------------------------------------------------------
// TJvHidDevice

TJvHidDevice::TJvHidDevice(std::shared_ptr<TJvHidPnPInfo> PnPInfo,
                           TJvHidDeviceController* Controller)
    : FController(Controller), FPnPInfo(std::move(PnPInfo)) {
    if (!FPnPInfo) throw EControllerError(RsEDeviceCannotBeOpened);
    if (FController != nullptr) {
        SetOnData(FController->OnDeviceData()); // not checked out: no reader starts
        FOnDataError = FController->OnDeviceDataError();
        FOnUnplug = FController->OnDeviceUnplug();
        SetReadSleepTime(FController->DevThreadSleepTime());
    }
    FSyncHandle = OpenSync(GENERIC_READ | GENERIC_WRITE);
    FHasReadWriteAccess = IsValid(FSyncHandle);
    if (!IsValid(FSyncHandle)) FSyncHandle = OpenSync(0);
    if (!IsValid(FSyncHandle)) throw EControllerError(RsEDeviceCannotBeOpened);
    FAttributes.Size = sizeof(HIDD_ATTRIBUTES);
    if (HidEntries.HidD_GetAttributes == nullptr ||
        HidEntries.HidD_GetAttributes(FSyncHandle, &FAttributes) == 0) {
        ReleaseHandle();
        throw EControllerError(RsEDeviceCannotBeIdentified);
    }
    ReleaseHandle();
}

TJvHidDevice::~TJvHidDevice() {
    FLife.reset();
    TJvHidDataEvent onData = OnData();
    TJvHidDataErrorEvent onDataError = OnDataError();
    TJvHidPlugEvent onUnplug = FOnUnplug;
    SetOnData(TJvHidDataEvent());
    FOnUnplug = TJvHidPlugEvent();
    ReleaseHandle();
    ReleaseOverlappedHandle(omhRead);
    ReleaseOverlappedHandle(omhWrite);
    ReleasePreparsedData();
    if (FController != nullptr)
        FController->DeviceDestroyed(this, FPnPInfo, onData, onDataError, onUnplug,
                                     FReadSleepTime.load());
}

HANDLE TJvHidDevice::OpenSync(DWORD Access) const {
    HANDLE h = CurrentHidPlatform().CreateFileA(
        FPnPInfo->DevicePath.c_str(), Access, kShareReadWrite, nullptr, OPEN_EXISTING, 0, nullptr);
    return IsValid(h) ? h : INVALID_HANDLE_VALUE;
}

bool TJvHidDevice::IsUsable() const {
    return FIsPluggedIn.load() && (FIsCheckedOut.load() || FIsEnumerated.load());
}

bool TJvHidDevice::OpenHandle() {
    if (IsUsable() && !IsValid(FSyncHandle)) {
        FSyncHandle = OpenSync(GENERIC_READ | GENERIC_WRITE);
        FHasReadWriteAccess = IsValid(FSyncHandle);
        if (!IsValid(FSyncHandle)) FSyncHandle = OpenSync(0);
        if (IsValid(FSyncHandle)) {
            if (FNumInputBuffers != 0 && HidEntries.HidD_SetNumInputBuffers != nullptr)
                HidEntries.HidD_SetNumInputBuffers(FSyncHandle, FNumInputBuffers);
            if (HidEntries.HidD_GetNumInputBuffers != nullptr)
                HidEntries.HidD_GetNumInputBuffers(FSyncHandle, &FNumInputBuffers);
        }
    }
    return IsValid(FSyncHandle);
}

void TJvHidDevice::ReleaseHandle() {
    CloseIfOpen(FSyncHandle);
    FNumInputBuffers = 0;
}

bool TJvHidDevice::OpenOverlappedHandle(TJvHidOpenExMode Mode) {
    if (!IsUsable()) return false;
    const HidPlatform& platform = CurrentHidPlatform();
    const char* path = FPnPInfo->DevicePath.c_str();
    if (Mode == omhRead) {
        if (!IsValid(FOverlappedReadHandle)) {
            HANDLE h = platform.CreateFileA(path, GENERIC_READ, kShareReadWrite, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
            FOverlappedReadHandle = IsValid(h) ? h : INVALID_HANDLE_VALUE;
            if (IsValid(FOverlappedReadHandle)) {
                if (FNumOverlappedInputBuffers != 0 && HidEntries.HidD_SetNumInputBuffers)
                    HidEntries.HidD_SetNumInputBuffers(FOverlappedReadHandle,
                                                       FNumOverlappedInputBuffers);
                if (HidEntries.HidD_GetNumInputBuffers != nullptr)
                    HidEntries.HidD_GetNumInputBuffers(FOverlappedReadHandle,
                                                       &FNumOverlappedInputBuffers);
            }
        }
        return IsValid(FOverlappedReadHandle);
    }
    if (!IsValid(FOverlappedWriteHandle)) {
        HANDLE h = platform.CreateFileA(path, GENERIC_WRITE, kShareReadWrite, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        FOverlappedWriteHandle = IsValid(h) ? h : INVALID_HANDLE_VALUE;
    }
    return IsValid(FOverlappedWriteHandle);
}

void TJvHidDevice::ReleaseOverlappedHandle(TJvHidOpenExMode Mode) {
    if (Mode == omhRead) {
        CloseIfOpen(FOverlappedReadHandle);
        FNumOverlappedInputBuffers = 0;
    } else {
        CloseIfOpen(FOverlappedWriteHandle);
    }
}

bool TJvHidDevice::CancelOverlappedIo(TJvHidOpenExMode Mode) {
    HANDLE h = Mode == omhRead ? FOverlappedReadHandle : FOverlappedWriteHandle;
    if (!IsValid(h)) return false;
    return CancelIoThroughKernel(h);
}

std::u16string TJvHidDevice::ReadString(bool Manufacturer) {
    std::u16string& cache = Manufacturer ? FVendorName : FProductName;
    THidD_GetString get =
        Manufacturer ? HidEntries.HidD_GetManufacturerString : HidEntries.HidD_GetProductString;
    if (cache.empty() && OpenHandle()) {
        char16_t buffer[kStringBufferBytes / sizeof(char16_t)] = {};
        if (get != nullptr && get(FSyncHandle, buffer, kStringBufferBytes) != 0) {
            // A string that fills the buffer has no terminator: take it whole.
            size_t len = 0;
            while (len < std::size(buffer) && buffer[len] != 0) ++len;
            cache.assign(buffer, len);
        }
        ReleaseHandle();
    }
    return cache;
}

std::u16string TJvHidDevice::VendorName() {
    return ReadString(true);
}

std::u16string TJvHidDevice::ProductName() {
    return ReadString(false);
}

PHIDP_PREPARSED_DATA TJvHidDevice::PreparsedData() {
    if (FPreparsedData == 0 && OpenHandle()) {
        PHIDP_PREPARSED_DATA data{};
        if (HidEntries.HidD_GetPreparsedData != nullptr &&
            HidEntries.HidD_GetPreparsedData(FSyncHandle, &data) != 0)
            FPreparsedData = data;
        ReleaseHandle();
    }
    return FPreparsedData;
}

void TJvHidDevice::ReleasePreparsedData() {
    if (FPreparsedData != 0 && HidEntries.HidD_FreePreparsedData != nullptr)
        HidEntries.HidD_FreePreparsedData(FPreparsedData);
    FPreparsedData = {};
}

HIDP_CAPS TJvHidDevice::Caps() {
    HIDP_CAPS caps{};
    PHIDP_PREPARSED_DATA data = PreparsedData();
    if (data != 0 && HidEntries.HidP_GetCaps != nullptr &&
        HidEntries.HidP_GetCaps(data, &caps) != HIDP_STATUS_SUCCESS)
        caps = HIDP_CAPS{};
    return caps;
}

bool TJvHidDevice::GetFeature(void* Report, uint32_t Length) {
    if (!OpenHandle() || HidEntries.HidD_GetFeature == nullptr) return false;
    return HidEntries.HidD_GetFeature(FSyncHandle, Report, Length) != 0;
}

bool TJvHidDevice::SetFeature(void* Report, uint32_t Length) {
    if (!OpenHandle() || HidEntries.HidD_SetFeature == nullptr) return false;
    return HidEntries.HidD_SetFeature(FSyncHandle, Report, Length) != 0;
}

bool TJvHidDevice::ReadOverlapped(void* Report, uint32_t Length,
                                  LPOVERLAPPED_COMPLETION_ROUTINE Completion) {
    if (!OpenOverlappedHandle(omhRead)) return false;
    std::memset(&FReadOverlappedBlock, 0, sizeof FReadOverlappedBlock);
    FReadOverlappedBlock.hEvent = this;
    return CurrentHidPlatform().ReadFileEx(FOverlappedReadHandle, Report, Length,
                                           &FReadOverlappedBlock, Completion) != FALSE;
}

uint32_t TJvHidDevice::OverlappedBytesRead() {
    if (!IsValid(FOverlappedReadHandle)) return 0;
    DWORD count = 0;
    if (CurrentHidPlatform().GetOverlappedResult(FOverlappedReadHandle, &FReadOverlappedBlock,
                                                 &count, FALSE) == FALSE)
        return 0;
    return count;
}

bool TJvHidDevice::OverlappedReadPending() const {
    // STATUS_PENDING until the system completes the request, as HasOverlappedIoCompleted reads it.
    constexpr ULONG_PTR kStatusPending = 0x103;
    // The system writes it from elsewhere: an atomic read, not a plain (or volatile) one.
    auto& status = const_cast<ULONG_PTR&>(FReadOverlappedBlock.Internal);
    return std::atomic_ref<ULONG_PTR>(status).load() == kStatusPending;
}

void TJvHidDevice::SetReadSleepTime(int Value) {
    if (Value >= 10 && Value <= 10000) FReadSleepTime.store(Value);
}

TJvHidDataEvent TJvHidDevice::OnData() const {
    std::lock_guard<std::mutex> lock(FHandlerLock);
    return FOnData;
}

void TJvHidDevice::SetOnData(const TJvHidDataEvent& Value) {
    if (!Value && !HaltReader()) return; // a delivery served meanwhile freed the device
    {
        std::lock_guard<std::mutex> lock(FHandlerLock);
        FOnData = Value;
    }
    StartReader();
}

TJvHidDataErrorEvent TJvHidDevice::OnDataError() const {
    std::lock_guard<std::mutex> lock(FHandlerLock);
    return FOnDataError;
}

void TJvHidDevice::SetOnDataError(const TJvHidDataErrorEvent& Value) {
    std::lock_guard<std::mutex> lock(FHandlerLock);
    FOnDataError = Value;
}

HidEventLoop* TJvHidDevice::EventLoop() const {
    return FController != nullptr ? FController->EventLoop() : nullptr;
}

void TJvHidDevice::StartReader() {
    if (!OnData() || !IsPluggedIn() || !IsCheckedOut() || !HasReadWriteAccess() ||
        FReadThread != nullptr)
        return;
    auto reader = std::make_unique<TJvHidDeviceReadThread>(this, EventLoop());
    // No thread, no reader: a later stop would wait for one that never runs.
    if (!reader->Resume()) return;
    FReadThread = reader.release();
}

void TJvHidDevice::StopReader() {
    HaltReader();
}

bool TJvHidDevice::HaltReader() {
    TJvHidDeviceReadThread* reader = FReadThread;
    if (reader == nullptr) return true;
    reader->Terminate();
    if (reader->FStopping.exchange(true)) {
        // Called from a delivery served by a stop further up the stack: that stop owns the
        // reader and frees it; the reader delivers nothing more.
        return true;
    }
    if (GuiHandOver::IsDelivering(reader) ||
        std::this_thread::get_id() == reader->FThread.get_id()) {
        // Stopped from inside its own delivery dispatched by the event loop: it cannot be
        // waited for here. It touches nothing of the device once the delivery returns, and
        // frees itself.
        reader->FFreeOnExit.store(true);
        reader->FThread.detach();
        FReadThread = nullptr;
        return true;
    }
    // A delivery served below may free this device (the destructor's own stop has no life left
    // to watch).
    std::weak_ptr<char> life = FLife;
    const bool watched = !life.expired();
    HidEventLoop* loop = reader->FLoop;
    const bool serve = loop != nullptr && loop->IsGuiThread();
    GuiHandOver& handOver = GuiHandOver::Instance();
    while (!reader->Finished()) {
        if (serve) handOver.Serve(reader);
        // Off the GUI thread the event loop serves the deliveries; only the end is waited for.
        handOver.WaitForWork(
            serve ? reader : nullptr, [reader] { return reader->Finished(); },
            std::chrono::milliseconds(10));
    }
    delete reader;
    if (watched && life.expired()) return false;
    FReadThread = nullptr;
    return true;
}

void TJvHidDevice::MarkUnplugged() {
    // The reader goes first, so that no reader is left reading on a handle closed here.
    if (!HaltReader()) return;
    ReleaseHandle();
    ReleaseOverlappedHandle(omhRead);
    ReleaseOverlappedHandle(omhWrite);
    FIsPluggedIn = false;
    // Marked by the application, not by a rescan: the counters must say so now, or checking the
    // device in would take it off a count it never reached.
    if (FController != nullptr) FController->Recount();
    // Cleared before the call: the handler may destroy the device.
    TJvHidPlugEvent onUnplug = FOnUnplug;
    FOnUnplug = TJvHidPlugEvent();
    if (onUnplug) onUnplug(this);
}

// ---------------------------------------------------------------------------------------------
// TJvHidDeviceReadThread

TJvHidDeviceReadThread::TJvHidDeviceReadThread(TJvHidDevice* Dev, HidEventLoop* Loop)
    : Device(Dev), FLoop(Loop) {
    // Taken here, on the GUI thread: the reader itself never opens the synchronous handle.
    Report.resize(Dev->Caps().InputReportByteLength);
}

TJvHidDeviceReadThread::~TJvHidDeviceReadThread() {
    if (FThread.joinable()) {
        Terminate();
        FThread.join();
    }
}

bool TJvHidDeviceReadThread::Resume() {
    if (FThread.joinable() || FFinished.load()) return FThread.joinable();
    try {
        FThread = std::thread([this] { Execute(); });
    } catch (const std::system_error&) {
        FFinished.store(true);
        return false;
    }
    return true;
}

void TJvHidDeviceReadThread::Execute() {
    try {
        const HidPlatform& platform = CurrentHidPlatform();
        DWORD waitResult = WAIT_IO_COMPLETION;
        while (!Terminated()) {
            waitResult = WAIT_IO_COMPLETION;
            std::fill(Report.begin(), Report.end(), 0);
            if (Device->ReadOverlapped(Report.data(), static_cast<uint32_t>(Report.size()),
                                       &ReadCompletion)) {
                do {
                    waitResult =
                        platform.SleepEx(static_cast<DWORD>(Device->ReadSleepTime()), TRUE);
                } while (!Terminated() && waitResult != WAIT_IO_COMPLETION);
                if (Terminated()) break;
                NumBytesRead = Device->OverlappedBytesRead();
                if (NumBytesRead > 0) Synchronize(&TJvHidDeviceReadThread::DoData);
            } else {
                LastError = platform.GetLastError();
                Synchronize(&TJvHidDeviceReadThread::DoDataError);
                // A device that refuses every read (pulled, no udev to tell) must not make the
                // reader spin: one wait step before the next try.
                if (!Terminated())
                    platform.SleepEx(static_cast<DWORD>(Device->ReadSleepTime()), FALSE);
            }
        }
        // Still pending: cancelled here, since the cancel acts on this thread's I/O.
        if (waitResult != WAIT_IO_COMPLETION) {
            Device->CancelOverlappedIo(omhRead);
            // A cancelled read is finished by the system later and may write to Report and to
            // the device's block until then: wait for it (bounded) before Report can go.
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (Device->OverlappedReadPending() && std::chrono::steady_clock::now() < giveUp)
                platform.SleepEx(10, TRUE);
        }
    } catch (...) {}
    const bool freeSelf = FFreeOnExit.load();
    GuiHandOver::Instance().Signal([this] { FFinished.store(true); });
    if (freeSelf) delete this;
}

void TJvHidDeviceReadThread::Synchronize(void (TJvHidDeviceReadThread::*Fn)()) {
    if (FLoop == nullptr) {
        (this->*Fn)();
        return;
    }
    GuiHandOver::Instance().RunAndWait(*FLoop, this, [this, Fn] { (this->*Fn)(); });
}

void TJvHidDeviceReadThread::DoData() {
    TJvHidDataEvent onData = Device->OnData();
    if (!onData) return;
    // Never more than the buffer, whatever count the platform reports.
    DWORD count = std::min<DWORD>(NumBytesRead, static_cast<DWORD>(Report.size()));
    if (count == 0) return;
    onData(Device, Report[0], Report.data() + 1, static_cast<uint16_t>(count - 1));
}

void TJvHidDeviceReadThread::DoDataError() {
    TJvHidDataErrorEvent onDataError = Device->OnDataError();
    if (onDataError) onDataError(Device, LastError);
}

// ---------------------------------------------------------------------------------------------
// TJvHidDeviceController

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
#ifdef _WIN32
    if (CreateNotifyWindow() &&
        PostMessageA(FNotifyWindow, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, static_cast<LPARAM>(-1)))
        return;
#endif
    FLoop->Post([this, alive = FAlive] {
        if (*alive) DeviceChangeNotified(-1);
    });
}

#ifdef _WIN32
namespace {
constexpr char kNotifyWindowClass[] = "TJvHidDeviceControllerNotify";
}

bool TJvHidDeviceController::CreateNotifyWindow() {
    // The class belongs to the module this code is linked into, which need not be the program.
    static const HINSTANCE module = [] {
        HMODULE m = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&kNotifyWindowClass), &m);
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &TJvHidDeviceController::NotifyWindowProc;
        windowClass.hInstance = m;
        windowClass.lpszClassName = kNotifyWindowClass;
        RegisterClassA(&windowClass); // fails harmlessly when another copy registered it
        return m;
    }();
    // Top-level and never shown: the broadcast reaches top-level windows only, so this must not
    // be a message-only window.
    FNotifyWindow = CreateWindowExA(WS_EX_TOOLWINDOW, kNotifyWindowClass, "", WS_POPUP, 0, 0, 0, 0,
                                    nullptr, nullptr, module, nullptr);
    if (FNotifyWindow == nullptr) return false;
    SetWindowLongPtrA(FNotifyWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return true;
}

LRESULT CALLBACK TJvHidDeviceController::NotifyWindowProc(HWND Window, UINT Msg, WPARAM WParam,
                                                          LPARAM LParam) {
    auto* controller =
        reinterpret_cast<TJvHidDeviceController*>(GetWindowLongPtrA(Window, GWLP_USERDATA));
    // Other device-change events are not looked at; a rescan finds out what changed.
    if (controller != nullptr && Msg == WM_DEVICECHANGE && WParam == DBT_DEVNODES_CHANGED)
        controller->DeviceChangeNotified(static_cast<LONG>(LParam));
    return DefWindowProcA(Window, Msg, WParam, LParam);
}
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
#ifdef _WIN32
    if (FNotifyWindow != nullptr) {
        SetWindowLongPtrA(FNotifyWindow, GWLP_USERDATA, 0);
        DestroyWindow(FNotifyWindow);
        FNotifyWindow = nullptr;
    }
#endif

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
        // A handler of the running rescan let the loop deliver another change; the monitor is
        // drained already, so remember it rather than lose it.
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
    const TSetupApiEntries& s = SetupApiEntries;
    if (!HidBound() || s.SetupDiGetClassDevsA == nullptr) return found;
    HDEVINFO set =
        s.SetupDiGetClassDevsA(&FHidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE || set == nullptr) return found;
    const HidPlatform& platform = CurrentHidPlatform();
    constexpr size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof interfaceData;
        if (s.SetupDiEnumDeviceInterfaces(set, nullptr, &FHidGuid, index, &interfaceData) == 0)
            break;
        // An interface whose detail cannot be read yields no device; the walk goes on.
        SP_DEVINFO_DATA devInfo{};
        devInfo.cbSize = sizeof devInfo;
        DWORD needed = 0;
        if (s.SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &needed,
                                               &devInfo) != 0 ||
            platform.GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= pathOffset ||
            needed > kMaxDetailBytes)
            continue;
        std::vector<BYTE> buffer(needed, 0);
        DWORD cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        std::memcpy(buffer.data(), &cbSize, sizeof cbSize);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        if (s.SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, needed, nullptr,
                                               &devInfo) == 0)
            continue;
        const char* path = reinterpret_cast<const char*>(buffer.data()) + pathOffset;
        std::string devicePath(path, strnlen(path, needed - pathOffset));
        try {
            auto info = std::make_shared<TJvHidPnPInfo>(set, devInfo, std::move(devicePath));
            found.push_back(std::make_unique<TJvHidDevice>(std::move(info), this));
        } catch (...) {
            // Not openable or not identifiable now; tried again at the next rescan.
        }
    }
    s.SetupDiDestroyDeviceInfoList(set);
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
        guard([&] {
            d->MarkUnplugged();
            if (!life.expired()) FirePlugEvent(FOnRemoval, d);
        });
        if (life.expired() || d->IsCheckedOut()) continue;
        auto it = std::find(FDeviceList.begin(), FDeviceList.end(), d);
        if (it != FDeviceList.end()) {
            FDeviceList.erase(it);
            delete d;
        }
    }

    // Duplicate pass: interfaces already listed and plugged in keep their present object. No
    // handler runs in this pass, so the listed instances stay as taken here.
    const std::vector<DWORD> listedInstances =
        sortedInstances(FDeviceList.begin(), FDeviceList.end(),
                        [](const TJvHidDevice* D) { return D->IsPluggedIn(); });
    for (auto& n : scanned) {
        if (contains(listedInstances, n->PnPInfo().DeviceInstance)) {
            n->FController = nullptr;
            n.reset();
        }
    }

    // Arrival pass, in scan order.
    for (auto& n : scanned) {
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
        if (d->IsCheckedOut())
            ++checkedOut;
        else
            ++checkedIn;
        if (!d->IsPluggedIn()) ++unplugged;
    }
    FCheckedInCount = checkedIn;
    FUnpluggedCount = unplugged;
    // Unplugged devices stay listed only while checked out.
    FCheckedOutCount = checkedOut - unplugged;
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
    ++FCheckedOutCount;
    --FCheckedInCount;
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
    const bool checkedOut = Device->IsCheckedOut();
    if (!Device->IsPluggedIn()) {
        FDeviceList.erase(it);
        --FUnpluggedCount;
        return;
    }
    try {
        auto replacement = std::make_unique<TJvHidDevice>(std::move(PnPInfo), this);
        replacement->SetOnData(OnData);
        replacement->SetOnDataError(OnDataError);
        replacement->SetOnUnplug(OnUnplug);
        replacement->SetReadSleepTime(ReadSleepTime);
        *it = replacement.release();
        if (checkedOut) {
            --FCheckedOutCount;
            ++FCheckedInCount;
        }
    } catch (...) {
        // The interface went away before a rescan noticed: the slot goes, and the rescan
        // finds nothing left to remove.
        FDeviceList.erase(it);
        if (checkedOut)
            --FCheckedOutCount;
        else
            --FCheckedInCount;
    }
}
