// A USB device as a USB/IP server sees it: control transfers on endpoint 0 and the interrupt
// endpoints it has. Called from the serving thread only.
#pragma once

#include "tools/sim/UsbIpProtocol.h"

#include <cstdint>
#include <span>
#include <vector>

struct ControlResult {
    int32_t Status = usbip::StatusOk;
    std::vector<uint8_t> Data;  // device-to-host: the data stage
    int32_t AcceptedLength = 0; // host-to-device: the bytes taken

    static ControlResult Stall() { return {usbip::StatusStall, {}, 0}; }
    static ControlResult In(std::vector<uint8_t> Bytes, uint16_t Requested);
    static ControlResult Out(size_t Accepted) { return {usbip::StatusOk, {}, int32_t(Accepted)}; }
};

class UsbDevice {
public:
    virtual ~UsbDevice() = default;
    // A new plug: the device is unconfigured again.
    virtual void Plugged() = 0;
    // One control transfer; Out is the data stage of a host-to-device request.
    virtual ControlResult Control(const usbip::SetupPacket& Setup,
                                  std::span<const uint8_t> Out) = 0;
    // Whether the endpoint address (direction bit included, e.g. 0x81) is an interrupt IN one.
    virtual bool HasInterruptIn(uint8_t EndpointAddress) const = 0;
};
