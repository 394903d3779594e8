#include "hid/JvHidControllerClass.h"

#include "hid/Hid.h"
#include "hid/JvHidHandOver.h"

#include <chrono>
#include <cstring>
#include <iterator>
#include <thread>

const char* const RsEDeviceCannotBeOpened = "Device cannot be opened";
const char* const RsEDeviceCannotBeIdentified = "Device cannot be identified";

namespace {

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr ULONG kStringBufferBytes = 508; // 254 UTF-16 units

bool IsValid(HANDLE Handle) {
    return Handle != INVALID_HANDLE_VALUE && Handle != nullptr;
}

void CloseIfOpen(HANDLE& Handle) {
    if (IsValid(Handle)) CurrentHidPlatform().CloseHandle(Handle);
    Handle = INVALID_HANDLE_VALUE;
}

} // namespace

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
    // The system writes it from elsewhere: an atomic read, not a plain (or volatile) one.
    auto& status = const_cast<ULONG_PTR&>(FReadOverlappedBlock.Internal);
    return std::atomic_ref<ULONG_PTR>(status).load() == STATUS_PENDING;
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
