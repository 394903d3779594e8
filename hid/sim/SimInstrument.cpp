#include "hid/sim/SimInstrument.h"

#include <algorithm>

hidsim::SimDeviceSpec InstrumentIdentity(const std::string& Path) {
    hidsim::SimDeviceSpec desc;
    desc.Path = Path;
    desc.VendorID = instrument::VendorId;
    desc.ProductID = instrument::ProductId;
    desc.VersionNumber = instrument::VersionNumber;
    desc.Manufacturer = instrument::ManufacturerWide.data();
    desc.Product = instrument::ProductWide.data();
    desc.FeatureReportByteLength = instrument::ReportSize;
    desc.UsagePage = instrument::UsagePage;
    desc.Usage = instrument::Usage;
    return desc;
}

hidsim::SimDeviceSpec VirtualInstrumentDevice(std::shared_ptr<VirtualInstrument> Instrument,
                                              const std::string& Path) {
    hidsim::SimDeviceSpec desc = InstrumentIdentity(Path);
    // Byte 0 of the caller's buffer is the report ID; the record follows it.
    desc.GetFeature = [Instrument](uint8_t* Report, uint32_t Length) {
        if (Length < 1 || Report[0] != instrument::ReportId) return false;
        const VirtualInstrument::Record r = Instrument->Fetch();
        std::copy_n(r.begin(), std::min<size_t>(Length - 1, r.size()), Report + 1);
        return true;
    };
    desc.SetFeature = [Instrument](const uint8_t* Report, uint32_t Length) {
        if (Length < 1 || Report[0] != instrument::ReportId) return false;
        VirtualInstrument::Record r{};
        std::copy_n(Report + 1, std::min<size_t>(Length - 1, r.size()), r.begin());
        Instrument->Receive(r);
        return true;
    };
    return desc;
}
