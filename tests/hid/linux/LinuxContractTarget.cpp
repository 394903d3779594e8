// The contract against the Linux entries, without the kernel: the device is a sysfs tree of the
// test's own found through a stand-in libudev, the read device a socket standing in for a
// hidraw node. Feature reports need the kernel's hidraw and run in the VM system test only.
#include "hid/linux/LinuxHidInternal.h"
#include "hid/linux/LinuxHidPlatform.h"
#include "tests/hid/contract/PlatformContract.h"
#include "tests/hid/linux/Descriptors.h"
#include "tests/hid/linux/FakeSysfs.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace contract;
namespace fs = std::filesystem;

class LinuxTarget : public ContractTarget {
public:
    LinuxTarget() : Root(fakesysfs::NewRoot()) {
        const fs::path usb = Root / "devices/pci0000:00/0000:00:14.0/usb1/1-2";
        fakesysfs::WriteFile(usb / "idVendor", "16c0\n");
        fakesysfs::WriteFile(usb / "idProduct", "05df\n");
        fakesysfs::WriteFile(usb / "bcdDevice", "0100\n");
        fakesysfs::WriteFile(usb / "manufacturer", std::string(kManufacturer) + "\n");
        fakesysfs::WriteFile(usb / "product", std::string(kProduct) + "\n");
        fakesysfs::AddHid(Root, usb / "1-2:1.0/0003:16C0:05DF.000A", "hidraw97",
                          "DRIVER=hid-generic\nHID_ID=0003:000016C0:000005DF\n",
                          descriptors::kInstrument);
        Usb = usb;
        hidlinux::SetSysfsRoot(Root.string());
        hidlinux::SetUdevLibraryName(FAKE_UDEV);
        // The stand-in libudev lists what its table names.
        Udev = ::dlopen(FAKE_UDEV, RTLD_NOW);
        Listed = Udev ? static_cast<const char**>(::dlsym(Udev, "fake_udev_hidraw")) : nullptr;
        if (Listed) {
            Syspath = (Root / "class/hidraw/hidraw97").string();
            Listed[0] = Syspath.c_str();
            Listed[1] = nullptr;
        }
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) == 0) {
            Near = pair[0];
            Far = pair[1];
        }
    }
    ~LinuxTarget() override {
        if (Listed) Listed[0] = nullptr;
        if (Udev) ::dlclose(Udev);
        hidlinux::SetUdevLibraryName("libudev.so.1");
        hidlinux::SetSysfsRoot("/sys");
        if (Near >= 0) ::close(Near);
        if (Far >= 0) ::close(Far);
        std::error_code ec;
        fs::remove_all(Root, ec);
    }
    const HidPlatform& Platform() override { return *LinuxHidPlatform(); }
    std::string NoDevice() override {
        return Listed ? "" : "the stand-in libudev cannot be loaded";
    }
    std::string NoFeatureReports() override {
        return "feature reports need the kernel's hidraw (the VM system test moves them)";
    }
    std::string DevicePath() override { return "/dev/hidraw97"; }
    std::string MissingPath() override { return "/dev/hidraw96"; }
    void SetProduct(const std::string& Text) override {
        fakesysfs::WriteFile(Usb / "product", Text + "\n");
    }
    HANDLE OpenReadHandle() override {
        if (Near < 0) return INVALID_HANDLE_VALUE;
        // The handle owns the descriptor from now on.
        HANDLE h = hidlinux::AdoptDescriptor(Near, GENERIC_READ, 0x03, descriptors::kMouse);
        Near = -1;
        return h;
    }
    void SendInput(const std::vector<uint8_t>& Data) override {
        ASSERT_EQ(::send(Far, Data.data(), Data.size(), 0), static_cast<ssize_t>(Data.size()));
    }
    void Pull() override {
        if (Listed) Listed[0] = nullptr;
        fs::remove_all(Usb);
        fs::remove(Root / "class/hidraw/hidraw97");
        if (Far >= 0) ::close(Far);
        Far = -1;
    }

private:
    fs::path Root;
    fs::path Usb;
    void* Udev = nullptr;
    const char** Listed = nullptr;
    std::string Syspath;
    int Near = -1;
    int Far = -1;
};

const ContractPlatform kPlatforms[] = {
    {"Simulated", MakeSimulatedTarget},
    {"Linux", [] { return std::unique_ptr<ContractTarget>(std::make_unique<LinuxTarget>()); }},
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Platforms, PlatformContract, testing::ValuesIn(kPlatforms), ContractName);
