// HID device access: the controller that keeps the list of HID interfaces present and hands
// single devices out, the device object, its plug-and-play record and its background reader.
// Each has a source file of its own (JvHidDeviceController.cpp, JvHidDevice.cpp,
// JvHidPnPInfo.cpp, JvHidDeviceReadThread.cpp; the readers' hand-over to the GUI thread in
// JvHidHandOver.cpp, Windows' notification window in windows/JvHidNotifyWindow.cpp).
// The layer reaches the machine only through the binding tables (Hid.h, SetupApi.h) and the
// installed HidPlatform; it takes its event-loop services from a HidEventLoop.
#pragma once

#include "hid/HidEventLoop.h"
#include "hid/JvMethod.h"
#include "hid/WinTypes.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class TJvHidDevice;
class TJvHidDeviceController;
class TJvHidDeviceReadThread;

using TJvHidEnumerateEvent = TJvMethod<bool(TJvHidDevice* HidDev, int Idx)>;
using TJvHidPlugEvent = TJvMethod<void(TJvHidDevice* HidDev)>;
using TJvHidDataEvent =
    TJvMethod<void(TJvHidDevice* HidDev, uint8_t ReportID, const void* Data, uint16_t Size)>;
using TJvHidDataErrorEvent = TJvMethod<void(TJvHidDevice* HidDev, uint32_t Error)>;
using TJvNotifyEvent = TJvMethod<void(void* Sender)>;

// The layer's general exception class.
class EJvHidError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised only by the construction of a device object.
class EControllerError : public EJvHidError {
public:
    using EJvHidError::EJvHidError;
};

extern const char* const RsEDeviceCannotBeOpened;     // "Device cannot be opened"
extern const char* const RsEDeviceCannotBeIdentified; // "Device cannot be identified"

// Direction of an overlapped handle.
enum TJvHidOpenExMode { omhRead, omhWrite };

// The plug-and-play data the device-setup library reports for one HID interface. Filled once at
// creation; only DeviceInstance (the identity scans are matched by) and DevicePath are used.
class TJvHidPnPInfo {
public:
    // Reads the registry properties of the interface through the device-setup table.
    TJvHidPnPInfo(HDEVINFO DevInfo, SP_DEVINFO_DATA DevData, std::string DevicePath);
    // A record with only the identity and the path.
    TJvHidPnPInfo(DWORD DeviceInstance, std::string DevicePath);

    DWORD DeviceInstance = 0;
    std::string DevicePath;
    DWORD Capabilities = 0;
    std::string ClassName;
    std::string ClassGuid;
    std::vector<std::string> CompatibleIds;
    DWORD ConfigFlags = 0;
    std::string DeviceDescription;
    std::string Driver;
    std::string FriendlyName;
    std::vector<std::string> HardwareIds;
    std::vector<std::string> LowerFilters;
    std::string Manufacturer;
    std::vector<std::string> UpperFilters;
    DWORD Address = 0;
    DWORD BusNumber = 0;
    std::string BusTypeGuid;
    DWORD Characteristics = 0;
    DWORD DeviceType = 0;
    std::string EnumeratorName;
    DWORD Exclusive = 0;
    DWORD LegacyBusType = 0;
    std::string LocationInformation;
    std::string PhysicalDeviceObjectName;
    std::string SecurityDescriptor;
    std::string Service;
    DWORD UiNumber = 0;
    std::string RegistryProperty30;
};

// One HID interface. Built by the controller at every scan; owned by the controller while it is
// not checked out, by the application once checked out. The application checks a device back
// in by deleting it, which refills its list position with a fresh object.
//
// All members are for the GUI thread, except what the reader uses: ReadOverlapped,
// OverlappedBytesRead, CancelOverlappedIo, ReadSleepTime, OnData, OnDataError.
class TJvHidDevice {
public:
    // Opens the interface once to read its attributes and closes it again. Throws
    // EControllerError when it cannot be opened or identified.
    TJvHidDevice(std::shared_ptr<TJvHidPnPInfo> PnPInfo, TJvHidDeviceController* Controller);
    ~TJvHidDevice();
    TJvHidDevice(const TJvHidDevice&) = delete;
    TJvHidDevice& operator=(const TJvHidDevice&) = delete;

    // Plugged in and either checked out or inside a controller callback.
    bool IsUsable() const;

    bool OpenHandle();
    void ReleaseHandle();
    bool OpenOverlappedHandle(TJvHidOpenExMode Mode);
    void ReleaseOverlappedHandle(TJvHidOpenExMode Mode);
    // Cancels the calling thread's pending I/O on the handle of that direction.
    bool CancelOverlappedIo(TJvHidOpenExMode Mode);

    // USB manufacturer and product strings; read once, then served from the cache.
    std::u16string VendorName();
    std::u16string ProductName();

    PHIDP_PREPARSED_DATA PreparsedData();
    HIDP_CAPS Caps();

    // Whole feature reports: byte 0 of Report is the report ID, Length counts it.
    bool GetFeature(void* Report, uint32_t Length);
    bool SetFeature(void* Report, uint32_t Length);

    bool ReadOverlapped(void* Report, uint32_t Length, LPOVERLAPPED_COMPLETION_ROUTINE Completion);
    uint32_t OverlappedBytesRead();
    // The last overlapped read has not finished yet, not even as cancelled: the system may
    // still write to its buffer and its block.
    bool OverlappedReadPending() const;

    int ReadSleepTime() const { return FReadSleepTime.load(); }
    // Takes only 10..10000 ms; anything else is ignored.
    void SetReadSleepTime(int Value);

    TJvHidDataEvent OnData() const;
    // Starts the reader for a set handler; an empty one stops the reader before it is stored.
    void SetOnData(const TJvHidDataEvent& Value);
    TJvHidDataErrorEvent OnDataError() const;
    void SetOnDataError(const TJvHidDataErrorEvent& Value);
    TJvHidPlugEvent OnUnplug() const { return FOnUnplug; }
    void SetOnUnplug(const TJvHidPlugEvent& Value) { FOnUnplug = Value; }

    void StartReader();
    void StopReader();
    // The device was found gone: its reader is stopped, its handles closed, its OnUnplug fired
    // once and cleared.
    void MarkUnplugged();

    TJvHidDeviceController* Controller() const { return FController; }
    bool IsPluggedIn() const { return FIsPluggedIn.load(); }
    bool IsCheckedOut() const { return FIsCheckedOut.load(); }
    bool IsEnumerated() const { return FIsEnumerated.load(); }
    bool HasReadWriteAccess() const { return FHasReadWriteAccess.load(); }
    HANDLE SyncHandle() const { return FSyncHandle; }
    HANDLE OverlappedReadHandle() const { return FOverlappedReadHandle; }
    HANDLE OverlappedWriteHandle() const { return FOverlappedWriteHandle; }
    const HIDD_ATTRIBUTES& Attributes() const { return FAttributes; }
    const TJvHidPnPInfo& PnPInfo() const { return *FPnPInfo; }
    ULONG NumInputBuffers() const { return FNumInputBuffers; }
    ULONG NumOverlappedInputBuffers() const { return FNumOverlappedInputBuffers; }
    TJvHidDeviceReadThread* ReadThread() const { return FReadThread; }

private:
    friend class TJvHidDeviceController;

    HANDLE OpenSync(DWORD Access) const;
    // StopReader; false when a delivery served while waiting freed this device.
    bool HaltReader();
    void ReleasePreparsedData();
    std::u16string ReadString(bool Manufacturer);
    HidEventLoop* EventLoop() const;

    // Lets the controller notice that a handler destroyed the device it was called for.
    std::shared_ptr<char> FLife = std::make_shared<char>(0);

    TJvHidDeviceController* FController = nullptr;
    std::atomic<bool> FIsPluggedIn{true};
    std::atomic<bool> FIsCheckedOut{false};
    std::atomic<bool> FIsEnumerated{false};
    HANDLE FSyncHandle = INVALID_HANDLE_VALUE;
    HANDLE FOverlappedReadHandle = INVALID_HANDLE_VALUE;
    HANDLE FOverlappedWriteHandle = INVALID_HANDLE_VALUE;
    OVERLAPPED FReadOverlappedBlock{};
    HIDD_ATTRIBUTES FAttributes{};
    std::shared_ptr<TJvHidPnPInfo> FPnPInfo;
    std::u16string FVendorName;
    std::u16string FProductName;
    PHIDP_PREPARSED_DATA FPreparsedData{};
    ULONG FNumInputBuffers = 0;
    ULONG FNumOverlappedInputBuffers = 0;
    std::atomic<int> FReadSleepTime{100};
    mutable std::mutex FHandlerLock; // OnData/OnDataError are read by a reader without event loop
    TJvHidDataEvent FOnData;
    TJvHidDataErrorEvent FOnDataError;
    TJvHidPlugEvent FOnUnplug;
    std::atomic<bool> FHasReadWriteAccess{false};
    TJvHidDeviceReadThread* FReadThread = nullptr;
};

// The background reader of one checked-out device: one outstanding overlapped read at a time,
// each report handed to the device's OnData on the GUI thread, the reader waiting until the
// handler has run. Created and destroyed by the device (StartReader / StopReader).
class TJvHidDeviceReadThread {
public:
    // Created suspended; Resume starts the thread.
    TJvHidDeviceReadThread(TJvHidDevice* Dev, HidEventLoop* Loop);
    ~TJvHidDeviceReadThread();
    TJvHidDeviceReadThread(const TJvHidDeviceReadThread&) = delete;
    TJvHidDeviceReadThread& operator=(const TJvHidDeviceReadThread&) = delete;

    // Starts the thread; false when it cannot be created (the reader then counts as finished).
    bool Resume();
    void Terminate() { FTerminated.store(true); }
    bool Terminated() const { return FTerminated.load(); }
    bool Finished() const { return FFinished.load(); }

    DWORD LastError = 0;
    TJvHidDevice* Device;
    DWORD NumBytesRead = 0;
    std::vector<uint8_t> Report;

private:
    friend class TJvHidDevice;

    void Execute();
    void DoData();
    void DoDataError();
    // Runs Fn on the GUI thread and waits until it has run (directly without an event loop); a
    // handler's exception is reported as the event loop reports one, and the reader goes on.
    void Synchronize(void (TJvHidDeviceReadThread::*Fn)());

    HidEventLoop* FLoop;
    std::thread FThread;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FStopping{false};
    // Set when the reader was stopped from inside one of its own deliveries: it cannot be
    // joined there, so it ends on its own and frees itself.
    std::atomic<bool> FFreeOnExit{false};
};

class TJvHidDeviceController {
public:
    // Binds the device-setup and HID libraries. With an event loop it watches the platform's
    // device monitor (on Windows: its own hidden window) and posts one change, so the first scan
    // runs when the loop delivers it. The loop must outlive the controller.
    explicit TJvHidDeviceController(HidEventLoop* Loop);
    ~TJvHidDeviceController();
    TJvHidDeviceController(const TJvHidDeviceController&) = delete;
    TJvHidDeviceController& operator=(const TJvHidDeviceController&) = delete;

    // Walks the plugged-in devices in list order through OnEnumerate until it returns false;
    // returns how many were visited.
    int Enumerate();
    bool CheckOutByIndex(TJvHidDevice*& HidDev, int Idx);
    bool CheckOutAt(TJvHidDevice*& HidDev, int Idx, bool Check);
    // The rescan.
    void DeviceChange();
    // A fresh device object for every interface present; the list is not touched.
    std::vector<std::unique_ptr<TJvHidDevice>> ScanDevices();

    int DevThreadSleepTime() const { return FDevThreadSleepTime; }
    void SetDevThreadSleepTime(int Value);

    TJvHidPlugEvent OnArrival() const { return FOnArrival; }
    void SetOnArrival(const TJvHidPlugEvent& Value) { FOnArrival = Value; }
    TJvHidEnumerateEvent OnEnumerate() const { return FOnEnumerate; }
    void SetOnEnumerate(const TJvHidEnumerateEvent& Value) { FOnEnumerate = Value; }
    TJvNotifyEvent OnDeviceChange() const { return FOnDeviceChange; }
    // A new handler rescans at once.
    void SetOnDeviceChange(const TJvNotifyEvent& Value);
    TJvHidDataEvent OnDeviceData() const { return FOnDeviceData; }
    void SetOnDeviceData(const TJvHidDataEvent& Value);
    TJvHidDataErrorEvent OnDeviceDataError() const { return FOnDeviceDataError; }
    void SetOnDeviceDataError(const TJvHidDataErrorEvent& Value);
    TJvHidPlugEvent OnDeviceUnplug() const { return FOnDeviceUnplug; }
    void SetOnDeviceUnplug(const TJvHidPlugEvent& Value);
    TJvHidPlugEvent OnRemoval() const { return FOnRemoval; }
    void SetOnRemoval(const TJvHidPlugEvent& Value) { FOnRemoval = Value; }

    int Count() const { return static_cast<int>(FDeviceList.size()); }
    TJvHidDevice* Items(int Idx) const { return FDeviceList.at(static_cast<size_t>(Idx)); }
    const std::vector<TJvHidDevice*>& DeviceList() const { return FDeviceList; }
    int CheckedInCount() const { return FCheckedInCount; }
    int CheckedOutCount() const { return FCheckedOutCount; }
    int UnpluggedCount() const { return FUnpluggedCount; }
    const std::string& Version() const { return FVersion; }
    const GUID& HidGuid() const { return FHidGuid; }
    LONG LastChangeParam() const { return FLastChangeParam; }
    bool InDeviceChange() const { return FInDeviceChange; }
    HidEventLoop* EventLoop() const { return FLoop; }
#ifdef _WIN32
    // The hidden top-level window that the system's DBT_DEVNODES_CHANGED broadcast reaches;
    // null without an event loop or without the libraries.
    HWND NotifyWindow() const {
        return FNotifyWindow;
    }
#endif

private:
    friend class TJvHidDevice;

    // The notification path: the posted first change (Param -1) and the device monitor (0).
    void DeviceChangeNotified(LONG Param);
    void MonitorReadable();
    // Windows' device monitor, the hidden window (hid/windows), which also carries the first
    // change; false where there is none, and the first change is posted to the loop instead.
    bool OpenNotifyWindow();
    void CloseNotifyWindow();
#ifdef _WIN32
    static LRESULT CALLBACK NotifyWindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam);
#endif
    bool EnumerateStep(TJvHidDevice* Device, int Idx);
    void FirePlugEvent(const TJvHidPlugEvent& Event, TJvHidDevice* Device);
    void Recount();
    // Called from the destructor of a listed device: check-in (refill) or removal.
    void DeviceDestroyed(TJvHidDevice* Device, std::shared_ptr<TJvHidPnPInfo> PnPInfo,
                         const TJvHidDataEvent& OnData, const TJvHidDataErrorEvent& OnDataError,
                         const TJvHidPlugEvent& OnUnplug, int ReadSleepTime) noexcept;

    GUID FHidGuid{};
    TJvHidPlugEvent FOnArrival;
    TJvNotifyEvent FOnDeviceChange;
    TJvHidEnumerateEvent FOnEnumerate;
    TJvHidDataEvent FOnDeviceData;
    TJvHidDataErrorEvent FOnDeviceDataError;
    TJvHidPlugEvent FOnDeviceUnplug;
    TJvHidPlugEvent FOnRemoval;
    int FDevThreadSleepTime = 100;
    std::string FVersion = "1.0.35";
    std::vector<TJvHidDevice*> FDeviceList;
    int FCheckedInCount = 0;
    int FCheckedOutCount = 0;
    int FUnpluggedCount = 0;
    bool FInDeviceChange = false;
    LONG FLastChangeParam = 0;

    HidEventLoop* FLoop;
    int FMonitorFd = -1;
    void* FWatch = nullptr;
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
    bool FDestroying = false;
    bool FChangePending = false;
    // Rescans started so far: the arrival pass notices one started by its own handlers.
    unsigned FRescanCount = 0;
    bool FBoundSetupApi = false;
    bool FBoundHid = false;
#ifdef _WIN32
    HWND FNotifyWindow = nullptr;
#endif
};
