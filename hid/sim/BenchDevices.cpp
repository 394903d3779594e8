#include "hid/sim/BenchDevices.h"

#include "instrument/Protocol.h"

#include <algorithm>

namespace bench {

hidsim::SimDeviceSpec Mouse() {
    hidsim::SimDeviceSpec desc;
    desc.Path = MousePath;
    desc.VendorID = 0x046D;
    desc.ProductID = 0xC077;
    desc.VersionNumber = 0x7200;
    desc.Manufacturer = u"Logitech";
    desc.Product = u"USB Optical Mouse";
    desc.Access = hidsim::SimAccess::QueryOnly;
    desc.InputReportByteLength = 5;
    desc.UsagePage = 0x0001;
    desc.Usage = 0x0002;
    return desc;
}

hidsim::SimDeviceSpec LookAlike() {
    hidsim::SimDeviceSpec desc;
    desc.Path = LookAlikePath;
    desc.VendorID = instrument::VendorId;
    desc.ProductID = instrument::ProductId;
    desc.VersionNumber = instrument::VersionNumber;
    desc.Manufacturer = u"Bramlo-KT";
    desc.Product = instrument::ProductWide.data();
    desc.FeatureReportByteLength = instrument::ReportSize;
    desc.UsagePage = instrument::UsagePage;
    desc.Usage = instrument::Usage;
    // A flat record at mid scale, so that talking to it by mistake would show at once.
    desc.GetFeature = [](uint8_t* Report, uint32_t Length) {
        std::fill(Report + 1, Report + Length, uint8_t{128});
        return true;
    };
    desc.SetFeature = [](const uint8_t*, uint32_t) { return true; };
    return desc;
}

} // namespace bench
