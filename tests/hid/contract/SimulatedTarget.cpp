// The contract's target on the simulated platform: the device, and a second one that sends
// input reports.
#include "hid/sim/SimHidPlatform.h"
#include "tests/hid/contract/PlatformContract.h"

#include <algorithm>
#include <mutex>

namespace {

using namespace contract;

constexpr const char* kPath = "/dev/hidraw-sim0";
constexpr const char* kReadPath = "/dev/hidraw-sim1";

class SimulatedTarget : public ContractTarget {
public:
    SimulatedTarget() {
        hidsim::SimDeviceSpec d;
        d.Path = kPath;
        d.VendorID = kVendorId;
        d.ProductID = kProductId;
        d.VersionNumber = kVersion;
        d.Manufacturer = instrument::ManufacturerWide.data();
        d.Product = instrument::ProductWide.data();
        d.FeatureReportByteLength = kFeatureLength;
        d.UsagePage = kUsagePage;
        d.Usage = kUsage;
        // The device keeps the last report set and hands it back.
        auto stored = std::make_shared<std::vector<uint8_t>>(kFeatureLength, 0);
        d.SetFeature = [stored](const uint8_t* Report, uint32_t Length) {
            stored->assign(Report, Report + Length);
            return true;
        };
        d.GetFeature = [stored](uint8_t* Report, uint32_t Length) {
            std::copy_n(stored->begin(), std::min<size_t>(Length, stored->size()), Report);
            return true;
        };
        Sim.Plug(d);
        hidsim::SimDeviceSpec r;
        r.Path = kReadPath;
        r.InputReportByteLength = static_cast<USHORT>(kInputLength);
        Sim.Plug(r);
    }
    const HidPlatform& Platform() override { return *Sim.Platform(); }
    std::string DevicePath() override { return kPath; }
    std::string MissingPath() override { return "/dev/hidraw-sim-missing"; }
    void SetProduct(const std::string& Text) override {
        Sim.Modify(kPath, [&](hidsim::SimDeviceSpec& D) {
            D.Product = std::u16string(Text.begin(), Text.end());
        });
    }
    HANDLE OpenReadHandle() override {
        return Platform().CreateFileA(kReadPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    }
    void SendInput(const std::vector<uint8_t>& Data) override {
        std::vector<uint8_t> report{0}; // unnumbered: report ID 0 first, as Windows delivers it
        report.insert(report.end(), Data.begin(), Data.end());
        Sim.QueueInputReport(kReadPath, report);
    }
    void Pull() override {
        Sim.Unplug(kPath);
        Sim.Unplug(kReadPath);
    }

private:
    hidsim::SimHidPlatform Sim;
};

} // namespace

std::unique_ptr<ContractTarget> MakeSimulatedTarget() {
    return std::make_unique<SimulatedTarget>();
}
