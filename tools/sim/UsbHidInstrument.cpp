#include "tools/sim/UsbHidInstrument.h"

#include <algorithm>

namespace {

constexpr uint8_t Lo(uint16_t V) {
    return static_cast<uint8_t>(V & 0xFF);
}
constexpr uint8_t Hi(uint16_t V) {
    return static_cast<uint8_t>(V >> 8);
}

// bmRequestType: direction, type (standard, class) and recipient (device, interface, endpoint).
constexpr uint8_t StdDeviceIn = 0x80;
constexpr uint8_t StdDeviceOut = 0x00;
constexpr uint8_t StdInterfaceIn = 0x81;
constexpr uint8_t StdInterfaceOut = 0x01;
constexpr uint8_t StdEndpointIn = 0x82;
constexpr uint8_t StdEndpointOut = 0x02;
constexpr uint8_t ClassInterfaceIn = 0xA1;
constexpr uint8_t ClassInterfaceOut = 0x21;

constexpr uint8_t InterfaceNumber = 0;
constexpr uint8_t ConfigurationValue = 1;
constexpr uint8_t MaxPacketSize0 = 64;
constexpr uint16_t InterruptMaxPacket = 8;
constexpr uint8_t InterruptIntervalMs = 10;

std::vector<uint8_t> Utf16Descriptor(const char16_t* Text) {
    std::vector<uint8_t> d{0, usb::DescString};
    for (const char16_t* p = Text; *p; ++p) {
        d.push_back(Lo(*p));
        d.push_back(Hi(*p));
    }
    d[0] = static_cast<uint8_t>(d.size());
    return d;
}

} // namespace

ControlResult ControlResult::In(std::vector<uint8_t> Bytes, uint16_t Requested) {
    if (Bytes.size() > Requested) Bytes.resize(Requested);
    return {usbip::StatusOk, std::move(Bytes), 0};
}

UsbHidInstrument::UsbHidInstrument(std::shared_ptr<VirtualInstrument> Instrument)
    : instrument_(std::move(Instrument)) {}

void UsbHidInstrument::Plugged() {
    configuration_ = 0;
    idleRate_ = 0;
    protocol_ = 1;
}

std::vector<uint8_t> UsbHidInstrument::DeviceDescriptor() const {
    // USB 1.1: a full-speed device has no other speed, so the host asks for no qualifier.
    return {18,
            usb::DescDevice,
            Lo(0x0110),
            Hi(0x0110),
            0, // class, subclass and protocol per interface
            0,
            0,
            MaxPacketSize0,
            Lo(instrument::VendorId),
            Hi(instrument::VendorId),
            Lo(instrument::ProductId),
            Hi(instrument::ProductId),
            Lo(instrument::VersionNumber),
            Hi(instrument::VersionNumber),
            ManufacturerIndex,
            ProductIndex,
            0, // no serial number
            1};
}

std::vector<uint8_t> UsbHidInstrument::HidDescriptor() const {
    const auto length = static_cast<uint16_t>(instrument::ReportDescriptor().size());
    return {9, usb::DescHid,    Lo(0x0111), Hi(0x0111), 0 /* not localised */,
            1, usb::DescReport, Lo(length), Hi(length)};
}

std::vector<uint8_t> UsbHidInstrument::ConfigurationDescriptor() const {
    std::vector<uint8_t> d = {9, usb::DescConfiguration, 0, 0, 1, ConfigurationValue, 0,
                              0x80, // bus-powered, no remote wake-up
                              50,   // 100 mA
                              // The HID interface, no boot protocol.
                              9, 0x04, InterfaceNumber, 0, 1, 0x03, 0, 0, 0};
    const std::vector<uint8_t> hid = HidDescriptor();
    d.insert(d.end(), hid.begin(), hid.end());
    // Interrupt IN: the HID class requires it, though the instrument sends no input reports.
    const std::vector<uint8_t> endpoint = {7,
                                           0x05,
                                           InterruptInEndpoint,
                                           0x03,
                                           Lo(InterruptMaxPacket),
                                           Hi(InterruptMaxPacket),
                                           InterruptIntervalMs};
    d.insert(d.end(), endpoint.begin(), endpoint.end());
    d[2] = Lo(static_cast<uint16_t>(d.size()));
    d[3] = Hi(static_cast<uint16_t>(d.size()));
    return d;
}

std::vector<uint8_t> UsbHidInstrument::StringDescriptor(uint8_t Index) const {
    switch (Index) {
    case 0:
        return {4, usb::DescString, Lo(usb::LangEnglishUs), Hi(usb::LangEnglishUs)};
    case ManufacturerIndex:
        return Utf16Descriptor(instrument::ManufacturerWide.data());
    case ProductIndex:
        return Utf16Descriptor(instrument::ProductWide.data());
    default:
        return {};
    }
}

ControlResult UsbHidInstrument::Control(const usbip::SetupPacket& Setup,
                                        std::span<const uint8_t> Out) {
    switch (Setup.RequestType & 0x60) {
    case 0x00:
        // No standard request this device answers has a data stage from the host.
        if (!Setup.DeviceToHost() && Setup.Length != 0) return ControlResult::Stall();
        return Standard(Setup);
    case 0x20:
        return Class(Setup, Out);
    default:
        return ControlResult::Stall();
    }
}

ControlResult UsbHidInstrument::Standard(const usbip::SetupPacket& S) {
    const uint8_t type = Hi(S.Value);
    const uint8_t index = Lo(S.Value);
    switch (S.RequestType) {
    case StdDeviceIn:
        switch (S.Request) {
        case usb::GetDescriptor:
            if (type == usb::DescDevice && index == 0)
                return ControlResult::In(DeviceDescriptor(), S.Length);
            if (type == usb::DescConfiguration && index == 0)
                return ControlResult::In(ConfigurationDescriptor(), S.Length);
            if (type == usb::DescString) {
                std::vector<uint8_t> d = StringDescriptor(index);
                if (!d.empty()) return ControlResult::In(std::move(d), S.Length);
            }
            return ControlResult::Stall();
        case usb::GetConfiguration:
            return ControlResult::In({configuration_}, S.Length);
        case usb::GetStatus:
            return ControlResult::In({0, 0}, S.Length); // bus-powered, no remote wake-up
        }
        return ControlResult::Stall();
    case StdDeviceOut:
        switch (S.Request) {
        case usb::SetAddress: // vhci-hcd answers it itself; harmless when it comes here
            return ControlResult::Out(0);
        case usb::SetConfiguration:
            if (S.Value != 0 && S.Value != ConfigurationValue) return ControlResult::Stall();
            configuration_ = static_cast<uint8_t>(S.Value);
            return ControlResult::Out(0);
        case usb::ClearFeature:
        case usb::SetFeature:
            return ControlResult::Out(0);
        }
        return ControlResult::Stall();
    case StdInterfaceIn:
        if (Lo(S.Index) != InterfaceNumber) return ControlResult::Stall();
        switch (S.Request) {
        case usb::GetDescriptor:
            if (type == usb::DescHid && index == 0)
                return ControlResult::In(HidDescriptor(), S.Length);
            if (type == usb::DescReport && index == 0)
                return ControlResult::In(instrument::ReportDescriptor(), S.Length);
            return ControlResult::Stall();
        case usb::GetInterface:
            return ControlResult::In({0}, S.Length);
        case usb::GetStatus:
            return ControlResult::In({0, 0}, S.Length);
        }
        return ControlResult::Stall();
    case StdInterfaceOut:
        if (Lo(S.Index) != InterfaceNumber) return ControlResult::Stall();
        if (S.Request == usb::SetInterface && S.Value == 0) return ControlResult::Out(0);
        return ControlResult::Stall();
    case StdEndpointIn:
        if (S.Request == usb::GetStatus && (Lo(S.Index) == 0 || Lo(S.Index) == InterruptInEndpoint))
            return ControlResult::In({0, 0}, S.Length); // never halted
        return ControlResult::Stall();
    case StdEndpointOut:
        // Clearing a halt the endpoint never had.
        if ((S.Request == usb::ClearFeature || S.Request == usb::SetFeature) &&
            (Lo(S.Index) == 0 || Lo(S.Index) == InterruptInEndpoint))
            return ControlResult::Out(0);
        return ControlResult::Stall();
    }
    return ControlResult::Stall();
}

ControlResult UsbHidInstrument::Class(const usbip::SetupPacket& S, std::span<const uint8_t> Out) {
    if (Lo(S.Index) != InterfaceNumber) return ControlResult::Stall();
    const bool featureZero =
        Hi(S.Value) == usb::FeatureReport && Lo(S.Value) == instrument::ReportId;
    if (S.RequestType == ClassInterfaceIn) {
        switch (S.Request) {
        case usb::HidGetReport: {
            if (!featureZero) return ControlResult::Stall();
            const VirtualInstrument::Record r = instrument_->Fetch();
            if (OnFetched) OnFetched(r);
            return ControlResult::In(std::vector<uint8_t>(r.begin(), r.end()), S.Length);
        }
        case usb::HidGetIdle:
            return ControlResult::In({idleRate_}, S.Length);
        case usb::HidGetProtocol:
            return ControlResult::In({protocol_}, S.Length);
        }
        return ControlResult::Stall();
    }
    if (S.RequestType != ClassInterfaceOut) return ControlResult::Stall();
    switch (S.Request) {
    case usb::HidSetReport: {
        // Only the whole record: a shorter or longer one is not the instrument's report.
        if (!featureZero || S.Length != instrument::RecordSize ||
            Out.size() != instrument::RecordSize)
            return ControlResult::Stall();
        VirtualInstrument::Record r;
        std::copy(Out.begin(), Out.end(), r.begin());
        instrument_->Receive(r);
        if (OnReceived) OnReceived(r);
        return ControlResult::Out(Out.size());
    }
    case usb::HidSetIdle:
        if (S.Length != 0) return ControlResult::Stall();
        idleRate_ = Hi(S.Value);
        return ControlResult::Out(0);
    case usb::HidSetProtocol:
        if (S.Length != 0 || S.Value > 1) return ControlResult::Stall();
        protocol_ = static_cast<uint8_t>(S.Value);
        return ControlResult::Out(0);
    }
    return ControlResult::Stall();
}
