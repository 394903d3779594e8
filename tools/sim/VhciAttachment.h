// Plugging a USB device into the kernel's vhci-hcd without network or usbip tool: one end of an
// AF_UNIX stream socketpair goes to the kernel through the controller's sysfs "attach" file, the
// other end is served from a thread of this process.
#pragma once

#include "tools/sim/UsbDevice.h"
#include "tools/sim/UsbIpServer.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace vhci {

constexpr const char* DefaultDir = "/sys/devices/platform/vhci_hcd.0";
constexpr uint32_t SpeedFull = 2; // enum usb_device_speed
constexpr uint32_t StateFree = 4; // VDEV_ST_NULL
constexpr const char* NotLoadedMessage = "vhci-hcd is not loaded: run 'modprobe vhci-hcd' first";
constexpr const char* NotRootMessage =
    "attaching a device to vhci-hcd needs root: run ormelix-sim with sudo";

struct PortStatus {
    std::string Hub; // "hs" (low, full and high speed) or "ss" (super speed)
    uint32_t Port = 0;
    uint32_t State = 0;
};

// The rows of a status file ("hub port sta spd dev sockfd local_busid"); other lines are skipped.
std::vector<PortStatus> ParseStatus(std::string_view Text);
// Free ports of the high-speed hub (which also takes full-speed devices), in order.
std::vector<uint32_t> FreeFullSpeedPorts(std::string_view Text);
// What stands in the way of attaching: NotLoadedMessage, NotRootMessage, or empty.
std::string AttachPrecondition(const std::string& Dir, uid_t EffectiveUser);

} // namespace vhci

class VhciAttachment {
public:
    // The device is served for as long as it is attached; it must outlive the attachment.
    explicit VhciAttachment(UsbDevice& Device, std::string Dir = vhci::DefaultDir);
    // Detaches when still attached.
    ~VhciAttachment();
    VhciAttachment(const VhciAttachment&) = delete;
    VhciAttachment& operator=(const VhciAttachment&) = delete;

    // Plugs the device into a free port. False with a one-line reason in Error.
    bool Attach(std::string& Error);
    // Unplugs it and waits until the kernel has let go of the connection.
    bool Detach(std::string& Error);

    bool Attached() const { return port_.has_value(); }
    uint32_t Port() const { return port_.value_or(0); }
    uint32_t DevId() const { return devId_; }
    // False once the connection has ended, whoever ended it.
    bool Serving() const;
    // Waits at most Ms milliseconds for the connection to end; true when it has.
    bool WaitEnded(int Ms);
    // How the last connection ended, once it has.
    std::optional<UsbIpServer::End> Ending() const;
    std::string ServerError() const;

    // Handed to each connection's server.
    std::function<void(const std::string&)> Log;

private:
    bool WriteControl(const std::string& File, const std::string& Text, std::string& Error);
    void Join();

    UsbDevice& device_;
    std::string dir_;
    std::optional<uint32_t> port_;
    uint32_t devId_ = 0;
    std::unique_ptr<UsbIpServer> server_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable ended_;
    std::optional<UsbIpServer::End> ending_;
};
