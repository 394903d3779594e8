#include "hid/link/InstrumentLink.h"

#include "hid/Hid.h"
#include "hid/JvHidControllerClass.h"
#include "hid/SetupApi.h"

#include <cstring>
#include <string_view>
#include <vector>

namespace hidlink {

std::function<std::string(const TJvHidPnPInfo&)> SerialNumberOf = NativeSerialNumber;

namespace {

std::u16string_view Text(const auto& Wide) {
    return std::u16string_view(Wide.data(), Wide.size() - 1); // less the terminating zero
}

} // namespace

bool IsInstrument(const std::u16string& Product, const std::u16string& Manufacturer) {
    return Product == Text(instrument::ProductWide) &&
           Manufacturer == Text(instrument::ManufacturerWide);
}

bool IsInstrument(TJvHidDevice& Device) {
    // The manufacturer is asked only once the product matched.
    return Device.ProductName() == Text(instrument::ProductWide) &&
           Device.VendorName() == Text(instrument::ManufacturerWide);
}

void LetGoIfGone(TJvHidDevice*& Held) {
    if (Held && !Held->IsPluggedIn()) {
        TJvHidDevice* gone = Held;
        Held = nullptr;
        delete gone;
    }
}

bool Holds(const TJvHidDevice* Held) {
    return Held && Held->IsCheckedOut() && Held->IsPluggedIn();
}

bool FetchRecord(TJvHidDevice& Device, std::span<uint8_t, instrument::ReportSize> Report,
                 std::span<uint8_t, instrument::RecordSize> Into) {
    Device.OpenHandle();
    std::memset(Report.data(), 0, Report.size());
    Report[0] = instrument::ReportId;
    const bool ok = Device.GetFeature(Report.data(), instrument::ReportSize);
    std::memcpy(Into.data(), Report.data() + 1, Into.size());
    return ok;
}

bool SendRecord(TJvHidDevice& Device, std::span<uint8_t, instrument::ReportSize> Report,
                std::span<const uint8_t, instrument::RecordSize> What) {
    Device.OpenHandle();
    std::memset(Report.data(), 0, Report.size());
    Report[0] = instrument::ReportId;
    std::memcpy(Report.data() + 1, What.data(), What.size());
    return Device.SetFeature(Report.data(), instrument::ReportSize);
}

std::string Location(const TJvHidPnPInfo& Info) {
    if (!Info.LocationInformation.empty()) return Info.LocationInformation;
    if (Info.BusNumber != 0 || Info.Address != 0)
        return "bus " + std::to_string(Info.BusNumber) + " address " + std::to_string(Info.Address);
    return std::string();
}

InstrumentLink::InstrumentLink(HidEventLoop* Loop, std::string Wanted)
    : controller_(new TJvHidDeviceController(Loop)), wanted_(std::move(Wanted)) {
    controller_->SetOnEnumerate(TJvHidEnumerateEvent(this, &InstrumentLink::Enumerated));
}

InstrumentLink::~InstrumentLink() {
    // A checked-out device is ours; it goes after the controller, which then builds no
    // replacement for it.
    std::vector<TJvHidDevice*> checkedOut;
    for (TJvHidDevice* d : controller_->DeviceList())
        if (d->IsCheckedOut()) checkedOut.push_back(d);
    device_ = nullptr;
    delete controller_;
    for (TJvHidDevice* d : checkedOut) delete d;
}

bool InstrumentLink::Bound() const {
    return SetupApiBound() && HidBound();
}

int InstrumentLink::Choose() const {
    if (wanted_.empty()) return found_.empty() ? -1 : static_cast<int>(found_.size()) - 1;
    for (size_t i = 0; i < found_.size(); ++i)
        if (found_[i].second.Path == wanted_ ||
            (!found_[i].second.Serial.empty() && found_[i].second.Serial == wanted_))
            return static_cast<int>(i);
    return -1;
}

bool InstrumentLink::Find() {
    LetGoIfGone(device_);
    if (!device_) {
        ScanOnce();
        found_.clear();
        controller_->Enumerate();
        const int chosen = Choose();
        if (chosen >= 0) controller_->CheckOutByIndex(device_, found_[chosen].first);
    }
    return Holds(device_);
}

std::vector<InstrumentEntry> InstrumentLink::List(int& Chosen) {
    ScanOnce();
    found_.clear();
    controller_->Enumerate();
    Chosen = Choose();
    std::vector<InstrumentEntry> entries;
    for (auto& f : found_) entries.push_back(f.second);
    return entries;
}

void InstrumentLink::ScanOnce() {
    // The controller's own first scan is posted, on Windows by its notification window; the
    // first question must not depend on whether the loop delivered it yet.
    if (scanned_) return;
    scanned_ = true;
    controller_->DeviceChange();
}

bool InstrumentLink::Enumerated(TJvHidDevice* Device, int Index) {
    if (IsInstrument(*Device))
        found_.push_back({Index,
                          {Device->PnPInfo().DevicePath, SerialNumberOf(Device->PnPInfo()),
                           Location(Device->PnPInfo())}});
    return true;
}

bool InstrumentLink::Fetch(Record& Into) {
    if (!device_) return false;
    std::array<uint8_t, instrument::ReportSize> report{};
    return FetchRecord(*device_, report, Into);
}

bool InstrumentLink::Send(const Record& What) {
    if (!device_) return false;
    std::array<uint8_t, instrument::ReportSize> report{};
    return SendRecord(*device_, report, What);
}

std::string InstrumentLink::Path() const {
    return device_ ? device_->PnPInfo().DevicePath : std::string();
}

} // namespace hidlink
