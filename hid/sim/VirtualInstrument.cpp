#include "VirtualInstrument.h"

#include "SimHidPlatform.h"

#include <algorithm>
#include <cmath>

const char16_t* const VirtualInstrument::Manufacturer = u"Bramlo-kt";
const char16_t* const VirtualInstrument::Product = u"Ormelix";

const std::vector<uint8_t>& VirtualInstrument::ReportDescriptor() {
    static const std::vector<uint8_t> descriptor = {
        0x06, 0x00, 0xFF, // Usage Page (vendor defined 0xFF00)
        0x09, 0x01,       // Usage (1)
        0xA1, 0x01,       // Collection (Application)
        0x15, 0x00,       //   Logical Minimum (0)
        0x26, 0xFF, 0x00, //   Logical Maximum (255)
        0x75, 0x08,       //   Report Size (8)
        0x96, 0xFE, 0x00, //   Report Count (254)
        0x09, 0x01,       //   Usage (1)
        0xB1, 0x02,       //   Feature (Data, Variable, Absolute)
        0xC0,             // End Collection
    };
    return descriptor;
}

hidsim::SimDeviceSpec VirtualInstrumentDevice(std::shared_ptr<VirtualInstrument> Instrument,
                                              const std::string& Path) {
    hidsim::SimDeviceSpec desc;
    desc.Path = Path;
    desc.VendorID = VirtualInstrument::VendorID;
    desc.ProductID = VirtualInstrument::ProductID;
    desc.VersionNumber = VirtualInstrument::VersionNumber;
    desc.Manufacturer = VirtualInstrument::Manufacturer;
    desc.Product = VirtualInstrument::Product;
    desc.FeatureReportByteLength = VirtualInstrument::RecordSize + 1;
    desc.UsagePage = 0xFF00;
    desc.Usage = 1;
    // Byte 0 of the caller's buffer is the report ID; the record follows it.
    desc.GetFeature = [Instrument](uint8_t* Report, uint32_t Length) {
        if (Length < 1 || Report[0] != 0) return false;
        const VirtualInstrument::Record r = Instrument->Fetch();
        std::copy_n(r.begin(), std::min<size_t>(Length - 1, r.size()), Report + 1);
        return true;
    };
    desc.SetFeature = [Instrument](const uint8_t* Report, uint32_t Length) {
        if (Length < 1 || Report[0] != 0) return false;
        VirtualInstrument::Record r{};
        std::copy_n(Report + 1, std::min<size_t>(Length - 1, r.size()), r.begin());
        Instrument->Receive(r);
        return true;
    };
    return desc;
}

VirtualInstrument::VirtualInstrument() {
    Reset();
}

void VirtualInstrument::Reset() {
    state_.PollPeriod = state_.StoredPollPeriod;
    state_.Scale = state_.StoredScale;
    state_.Cursor = CursorFirst;
    phase_ = 0;
}

VirtualInstrument::Record VirtualInstrument::Fetch() {
    std::lock_guard<std::mutex> lock(mutex_);
    Record r{};
    constexpr double pi = 3.14159265358979323846;
    // S1: a sine of 60 samples' period; S2: a triangle with a little noise.
    for (int i = 0; i <= 120; ++i) {
        const double s1 = 128.0 + 90.0 * std::sin(2.0 * pi * (i + phase_) / 60.0);
        const int t = static_cast<int>((i * 4 + phase_ * 2) % 160);
        noise_ = noise_ * 1103515245u + 12345u;
        const int jitter = static_cast<int>((noise_ >> 16) % 7) - 3;
        const int s2 = 40 + (t < 80 ? t : 160 - t) + jitter;
        r[2 * i] = static_cast<uint8_t>(std::clamp(static_cast<int>(std::lround(s1)), 0, 255));
        if (2 * i + 1 < RecordSize) r[2 * i + 1] = static_cast<uint8_t>(std::clamp(s2, 0, 255));
    }
    uint8_t min1 = 255, max1 = 0, min2 = 255, max2 = 0;
    for (int i = 0; i < 120; ++i) {
        min1 = std::min(min1, r[2 * i]);
        max1 = std::max(max1, r[2 * i]);
        min2 = std::min(min2, r[2 * i + 1]);
        max2 = std::max(max2, r[2 * i + 1]);
    }
    r[PollPeriodByte] = storedNext_ ? state_.StoredPollPeriod : state_.PollPeriod;
    r[241] = static_cast<uint8_t>(state_.Os1 | (state_.Os2 << 1));
    r[ScaleByte] = storedNext_ ? state_.StoredScale : state_.Scale;
    r[MinS1Byte] = min1;
    r[MaxS1Byte] = max1;
    r[MinS2Byte] = min2;
    r[MaxS2Byte] = max2;
    r[CursorByte] = state_.Cursor;
    r[CommandByte] = 0;
    storedNext_ = false;

    ++state_.Fetches;
    ++phase_;
    state_.Cursor = static_cast<uint8_t>(
        state_.Cursor + CursorStep > CursorLast ? CursorFirst : state_.Cursor + CursorStep);
    return r;
}

void VirtualInstrument::Receive(const Record& Sent) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++state_.Commands;
    state_.LastCommand = Sent[CommandByte];
    switch (Sent[CommandByte]) {
    case 1:
        storedNext_ = true;
        break;
    case 2:
        state_.StoredPollPeriod = Sent[PollPeriodByte];
        state_.PollPeriod = Sent[PollPeriodByte];
        break;
    case 32:
        Reset();
        break;
    case 48:
    case 49:
        state_.Os1 = Sent[CommandByte] == 49;
        break;
    case 64:
    case 65:
        state_.Os2 = Sent[CommandByte] == 65;
        break;
    default: // 0 and anything unknown: normal operation
        break;
    }
}

VirtualInstrument::State VirtualInstrument::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}
