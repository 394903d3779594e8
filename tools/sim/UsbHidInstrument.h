// The virtual instrument as a full-speed USB HID device: one configuration with one HID
// interface and one interrupt IN endpoint, its strings, and feature report 0 both ways.
#pragma once

#include "instrument/virtual/VirtualInstrument.h"
#include "tools/sim/UsbDevice.h"

#include <functional>
#include <memory>
#include <string>

namespace usb {
// Standard requests and descriptor types.
constexpr uint8_t GetStatus = 0x00;
constexpr uint8_t ClearFeature = 0x01;
constexpr uint8_t SetFeature = 0x03;
constexpr uint8_t SetAddress = 0x05;
constexpr uint8_t GetDescriptor = 0x06;
constexpr uint8_t GetConfiguration = 0x08;
constexpr uint8_t SetConfiguration = 0x09;
constexpr uint8_t GetInterface = 0x0A;
constexpr uint8_t SetInterface = 0x0B;
constexpr uint8_t DescDevice = 0x01;
constexpr uint8_t DescConfiguration = 0x02;
constexpr uint8_t DescString = 0x03;
constexpr uint8_t DescHid = 0x21;
constexpr uint8_t DescReport = 0x22;
// HID class requests.
constexpr uint8_t HidGetReport = 0x01;
constexpr uint8_t HidGetIdle = 0x02;
constexpr uint8_t HidGetProtocol = 0x03;
constexpr uint8_t HidSetReport = 0x09;
constexpr uint8_t HidSetIdle = 0x0A;
constexpr uint8_t HidSetProtocol = 0x0B;
constexpr uint8_t FeatureReport = 0x03;
constexpr uint16_t LangEnglishUs = 0x0409;
} // namespace usb

class UsbHidInstrument final : public UsbDevice {
public:
    static constexpr uint8_t InterruptInEndpoint = 0x81;
    static constexpr uint8_t ManufacturerIndex = 1;
    static constexpr uint8_t ProductIndex = 2;

    explicit UsbHidInstrument(std::shared_ptr<VirtualInstrument> Instrument);

    void Plugged() override;
    ControlResult Control(const usbip::SetupPacket& Setup, std::span<const uint8_t> Out) override;
    bool HasInterruptIn(uint8_t EndpointAddress) const override {
        return EndpointAddress == InterruptInEndpoint;
    }

    std::vector<uint8_t> DeviceDescriptor() const;
    std::vector<uint8_t> ConfigurationDescriptor() const;
    std::vector<uint8_t> HidDescriptor() const;
    // Index 0 is the language list; unknown indexes give nothing.
    std::vector<uint8_t> StringDescriptor(uint8_t Index) const;

    // Every record handed to the host and every record taken from it, as it goes by (on the
    // serving thread).
    std::function<void(const VirtualInstrument::Record&)> OnFetched;
    std::function<void(const VirtualInstrument::Record&)> OnReceived;

    uint8_t Configuration() const { return configuration_; }
    uint8_t IdleRate() const { return idleRate_; }
    uint8_t Protocol() const { return protocol_; }

private:
    ControlResult Standard(const usbip::SetupPacket& Setup);
    ControlResult Class(const usbip::SetupPacket& Setup, std::span<const uint8_t> Out);

    std::shared_ptr<VirtualInstrument> instrument_;
    uint8_t configuration_ = 0;
    uint8_t idleRate_ = 0;
    uint8_t protocol_ = 1; // report protocol
};
