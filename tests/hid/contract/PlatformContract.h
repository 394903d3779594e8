// One contract for the entries every HID platform serves, built once per platform: the same
// cases run against the simulated platform, the Linux entries and the Windows ones. A target is
// one platform with, where it can have them, a device the cases may query, read from and pull.
#pragma once

#include "hid/HidPlatform.h"
#include "instrument/Protocol.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// The device every target serves, where it serves one: the instrument's identity, and a
// 254-byte feature report without report IDs.
namespace contract {
constexpr USHORT kVendorId = instrument::VendorId;
constexpr USHORT kProductId = instrument::ProductId;
constexpr USHORT kVersion = instrument::VersionNumber;
constexpr const char* kManufacturer = instrument::Manufacturer;
constexpr const char* kProduct = instrument::Product;
constexpr USHORT kFeatureLength = instrument::ReportSize; // with the report ID byte
constexpr USHORT kUsagePage = instrument::UsagePage;
constexpr USHORT kUsage = instrument::Usage;
// The read device's input report: three data bytes without report ID.
constexpr DWORD kInputLength = 4;
} // namespace contract

class ContractTarget {
public:
    virtual ~ContractTarget() = default;
    virtual const HidPlatform& Platform() = 0;

    // Why a case that needs it cannot run here; empty when it can.
    virtual std::string NoDevice() { return {}; } // the device above, walked and queried
    virtual std::string NoReads() { return {}; }  // an input-report source
    virtual std::string NoFeatureReports() { return {}; }
    virtual std::string NoPull() { return {}; }         // a read device that can be pulled
    virtual std::string NoReportLength() { return {}; } // a read device with a report length
    // SetProduct() below, with up to 254 units.
    virtual std::string NoProductChange() { return {}; }

    // The device's path as the device-setup walk gives it.
    virtual std::string DevicePath() { return {}; }
    // A path in a place that exists, naming nothing.
    virtual std::string MissingPath() = 0;
    // Makes the device's product string Text (ASCII).
    virtual void SetProduct(const std::string& Text) { (void)Text; }
    // An overlapped read handle on the read device.
    virtual HANDLE OpenReadHandle() { return INVALID_HANDLE_VALUE; }
    // The read device sends an input report of these data bytes.
    virtual void SendInput(const std::vector<uint8_t>& Data) { (void)Data; }
    // Both devices are pulled.
    virtual void Pull() {}
    // The error with which a read ends when its handle is closed under it.
    virtual DWORD ClosedReadError() { return ERROR_OPERATION_ABORTED; }
};

struct ContractPlatform {
    const char* Name;
    std::function<std::unique_ptr<ContractTarget>()> Make;
};

std::unique_ptr<ContractTarget> MakeSimulatedTarget();

class PlatformContract : public testing::TestWithParam<ContractPlatform> {};

// The platform's name, in the test names and wherever GoogleTest prints the parameter.
inline void PrintTo(const ContractPlatform& P, std::ostream* Os) {
    *Os << P.Name;
}
std::string ContractName(const testing::TestParamInfo<ContractPlatform>& Info);
