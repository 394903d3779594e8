// A simulated HID platform: its "libraries" (SetupApi.dll, HID.dll, kernel32.dll) are tables of
// simulated entries over scripted devices that can be plugged and pulled at will. Tests and the
// demo install it with SetHidPlatform(sim.Platform()).
//
// One instance is active at a time (the last one created or asked for its Platform()); fresh
// instances may follow each other in one process. Every entry is thread-safe.
#pragma once

#include "hid/HidPlatform.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace hidsim {

// How far CreateFileA gets with a device.
enum class SimAccess {
    ReadWrite, // opens with any access
    QueryOnly, // opens only with access 0 (no read, no write)
    None,      // cannot be opened at all
    Held,      // opens only with access 0: another program holds it (a sharing violation)
};

// Feature-report handlers. Get fills the caller's buffer (byte 0 already holds the requested
// report ID) and Set receives the caller's bytes; either may refuse by returning false.
using SimGetFeature = std::function<bool(uint8_t* Report, uint32_t Length)>;
using SimSetFeature = std::function<bool(const uint8_t* Report, uint32_t Length)>;

struct SimDeviceSpec {
    std::string Path;
    USHORT VendorID = 0;
    USHORT ProductID = 0;
    USHORT VersionNumber = 0;
    std::u16string Manufacturer;
    std::u16string Product;
    bool ManufacturerReadable = true;
    bool ProductReadable = true;
    SimAccess Access = SimAccess::ReadWrite;
    bool Identifiable = true;   // HidD_GetAttributes succeeds
    bool DetailReadable = true; // SetupDiGetDeviceInterfaceDetailA succeeds
    bool PreparsedReadable = true;
    USHORT InputReportByteLength = 0;
    USHORT OutputReportByteLength = 0;
    USHORT FeatureReportByteLength = 0;
    USHORT UsagePage = 0;
    USHORT Usage = 0;
    SimGetFeature GetFeature;
    SimSetFeature SetFeature;
    // Error with which ReadFileEx refuses to start a read (0: reads start).
    DWORD ReadStartError = 0;
    // Raw registry property values by SPDRP_ code.
    std::map<DWORD, std::vector<uint8_t>> Properties;

    void SetTextProperty(DWORD Code, const std::string& Text);
    void SetNumberProperty(DWORD Code, DWORD Value);
    void SetListProperty(DWORD Code, const std::vector<std::string>& Items);
};

struct SimFeatureTransfer {
    enum Kind { Get, Set } Direction;
    std::string Path;
    DWORD DeviceInstance;
    uint32_t Length;
    std::vector<uint8_t> Bytes; // the buffer after a Get, the bytes handed over by a Set
    bool Ok;
};

struct SimOpen {
    std::string Path;
    DWORD Access;
    DWORD Flags;
    bool Ok;
};

struct SimLibraryEvent {
    enum Kind { Load, Free } What;
    std::string Name;
    bool Ok;
    UINT ErrorMode; // the process error mode at the time of the call
};

class SimHidPlatform {
public:
    SimHidPlatform();
    ~SimHidPlatform();
    SimHidPlatform(const SimHidPlatform&) = delete;
    SimHidPlatform& operator=(const SimHidPlatform&) = delete;

    // The entry table; makes this instance the active one.
    const HidPlatform* Platform();

    // --- libraries
    void SetLibraryPresent(const std::string& Library, bool Present);
    void SetEntryPresent(const std::string& Library, const std::string& Entry, bool Present);
    // The four optional HID entries at once.
    void SetOptionalHidEntriesPresent(bool Present);

    // --- devices
    // Plugs a device in under a new device instance (returned) and raises the device-change
    // notification. A path already plugged in is refused (returns 0).
    DWORD Plug(SimDeviceSpec Desc);
    // Pulls the device: every handle on it fails from now on, pending reads end with an error.
    // Raises the device-change notification. False when nothing is plugged in at Path.
    bool Unplug(const std::string& Path);
    // A device change that concerns no HID interface.
    void NotifyUnrelatedChange();
    // Changes the description of the device plugged in at Path (under the platform's lock).
    bool Modify(const std::string& Path, const std::function<void(SimDeviceSpec&)>& Change);
    // Queues an input report for the pending reads on the device at Path.
    bool QueueInputReport(const std::string& Path, std::vector<uint8_t> Report);
    bool IsPlugged(const std::string& Path) const;
    DWORD InstanceOf(const std::string& Path) const; // 0 when not plugged in

    // --- what happened
    std::vector<SimFeatureTransfer> FeatureTransfers() const;
    std::vector<SimOpen> Opens() const;
    std::vector<SimLibraryEvent> LibraryEvents() const;
    int LoadCount(const std::string& Library) const; // successful loads
    int FreeCount(const std::string& Library) const; // frees
    bool IsLoaded(const std::string& Library) const;
    int OpenHandleCount() const; // handles not closed yet
    int OpenHandleCount(const std::string& Path) const;
    int PreparsedDataCount() const; // preparsed data not freed yet
    int DeviceInfoSetCount() const; // class device sets not destroyed
    // Open device monitors. Windows has none: there every change, HID or not, is posted as
    // WM_DEVICECHANGE/DBT_DEVNODES_CHANGED to this process's top-level windows.
    int MonitorCount() const;
    int PendingReadCount() const;
    int CancelCount() const;    // pending reads ended by CancelIo
    int ReadStartCount() const; // ReadFileEx calls that started
    void ClearLogs();

    // Implementation of the entries; public only for the entry thunks.
    struct Impl;

private:
    std::unique_ptr<Impl> FImpl;
};

} // namespace hidsim
