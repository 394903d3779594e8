// The contract against the Linux entries on the real kernel, inside the system test's virtual
// machine: libudev, sysfs and hidraw of a USB HID device that this process plugs into vhci-hcd.
// The device is the instrument as the USB device classes serve it, except that feature report 0
// comes back as it was last set, which is what the contract's feature case checks.
#include "tests/hid/contract/PlatformContract.h"
#include "tools/sim/UsbHidInstrument.h"
#include "tools/sim/VhciAttachment.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

namespace {

using namespace contract;
namespace fs = std::filesystem;

constexpr uint8_t kClassInterfaceIn = 0xA1;
constexpr uint8_t kClassInterfaceOut = 0x21;

// Descriptors, strings and every other request are the instrument's.
class EchoDevice final : public UsbDevice {
public:
    EchoDevice() : Inner(std::make_shared<VirtualInstrument>()) {}
    void Plugged() override { Inner.Plugged(); }
    ControlResult Control(const usbip::SetupPacket& S, std::span<const uint8_t> Out) override {
        const bool featureZero = (S.Value >> 8) == usb::FeatureReport && (S.Value & 0xFF) == 0;
        if (featureZero && S.RequestType == kClassInterfaceOut && S.Request == usb::HidSetReport) {
            std::lock_guard lock(Mutex);
            Stored.assign(Out.begin(), Out.end());
            return ControlResult::Out(Out.size());
        }
        if (featureZero && S.RequestType == kClassInterfaceIn && S.Request == usb::HidGetReport) {
            std::lock_guard lock(Mutex);
            return ControlResult::In(Stored, S.Length);
        }
        return Inner.Control(S, Out);
    }
    bool HasInterruptIn(uint8_t Address) const override { return Inner.HasInterruptIn(Address); }

private:
    UsbHidInstrument Inner;
    std::mutex Mutex;
    std::vector<uint8_t> Stored = std::vector<uint8_t>(kFeatureLength - 1, 0);
};

// udev's database entries, which the walk's libudev enumeration reads, come after the nodes.
void Settle() {
    const int status = std::system("udevadm settle --timeout=10");
    (void)status; // a slow udev shows as a failing case
}

std::string ReadLine(const fs::path& File) {
    std::ifstream in(File);
    std::string line;
    std::getline(in, line);
    return line;
}

// The hidraw node whose USB device is ours, or empty.
std::string FindNode() {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/sys/class/hidraw", ec)) {
        const fs::path usb = e.path() / "device/../..";
        if (ReadLine(usb / "idVendor") == "16c0" && ReadLine(usb / "idProduct") == "05df" &&
            ReadLine(usb / "product") == kProduct)
            return "/dev/" + e.path().filename().string();
    }
    return {};
}

// One device for the whole program: plugged when a case needs it, unplugged by Pull().
struct Plug {
    EchoDevice Device;
    VhciAttachment Attachment{Device};
    std::string Node;
    std::string Error;

    bool Ensure() {
        if (Attachment.Attached() && !Node.empty()) return true;
        if (!Attachment.Attached() && !Attachment.Attach(Error)) return false;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while ((Node = FindNode()).empty() || !fs::exists(Node)) {
            if (std::chrono::steady_clock::now() > until) {
                Error = "no hidraw node within 15 s of the attach";
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        Settle();
        return true;
    }
    void Pull() {
        std::string why;
        if (Attachment.Attached() && !Attachment.Detach(why)) ADD_FAILURE() << "detach: " << why;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (fs::exists(Node) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Settle();
        Node.clear();
    }
};

Plug& ThePlug() {
    static Plug plug;
    return plug;
}

class KernelTarget : public ContractTarget {
public:
    KernelTarget() : Attached(ThePlug().Ensure()) {}
    const HidPlatform& Platform() override { return *NativeHidPlatform(); }
    std::string NoDevice() override {
        return Attached ? "" : "the device could not be plugged: " + ThePlug().Error;
    }
    std::string NoFeatureReports() override { return NoDevice(); }
    std::string NoProductChange() override {
        return "the kernel keeps the product string read at enumeration, and a USB string "
               "descriptor holds at most 126 units";
    }
    std::string NoReads() override {
        return "no input-report source: the instrument's report descriptor declares no input "
               "report, and the USB/IP server holds interrupt IN transfers until they are unlinked";
    }
    std::string DevicePath() override { return ThePlug().Node; }
    std::string MissingPath() override { return "/dev/hidraw250"; }
    void Pull() override { ThePlug().Pull(); }

private:
    bool Attached;
};

const ContractPlatform kPlatforms[] = {
    {"Kernel", [] { return std::unique_ptr<ContractTarget>(std::make_unique<KernelTarget>()); }},
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Vm, PlatformContract, testing::ValuesIn(kPlatforms), ContractName);
