#include "tools/cli/InstrumentLink.h"

#include "hid/Hid.h"
#include "hid/JvHidControllerClass.h"
#include "hid/SetupApi.h"

#include <cstring>
#include <vector>

namespace cli {

std::function<std::string(const TJvHidPnPInfo&)> SerialNumberOf = NativeSerialNumber;

namespace {

std::u16string Wide(const char16_t* Text) {
    return std::u16string(Text);
}

std::string Location(const TJvHidPnPInfo& Info) {
    if (!Info.LocationInformation.empty()) return Info.LocationInformation;
    if (Info.BusNumber != 0 || Info.Address != 0)
        return "bus " + std::to_string(Info.BusNumber) + " address " + std::to_string(Info.Address);
    return std::string();
}

} // namespace

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
    if (device_ && !device_->IsPluggedIn()) {
        TJvHidDevice* gone = device_;
        device_ = nullptr;
        delete gone;
    }
    if (!device_) {
        ScanOnce();
        found_.clear();
        controller_->Enumerate();
        const int chosen = Choose();
        if (chosen >= 0) controller_->CheckOutByIndex(device_, found_[chosen].first);
    }
    return device_ && device_->IsCheckedOut() && device_->IsPluggedIn();
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
    // Exact and case-sensitive, as the console compares them.
    if (Device->ProductName() != Wide(instrument::ProductWide.data())) return true;
    if (Device->VendorName() == Wide(instrument::ManufacturerWide.data()))
        found_.push_back({Index,
                          {Device->PnPInfo().DevicePath, SerialNumberOf(Device->PnPInfo()),
                           Location(Device->PnPInfo())}});
    return true;
}

bool InstrumentLink::Fetch(Record& Into) {
    if (!device_) return false;
    device_->OpenHandle();
    uint8_t report[instrument::ReportSize] = {};
    report[0] = instrument::ReportId;
    const bool ok = device_->GetFeature(report, instrument::ReportSize);
    std::memcpy(Into.data(), report + 1, Into.size());
    return ok;
}

bool InstrumentLink::Send(const Record& What) {
    if (!device_) return false;
    device_->OpenHandle();
    uint8_t report[instrument::ReportSize] = {};
    report[0] = instrument::ReportId;
    std::memcpy(report + 1, What.data(), What.size());
    return device_->SetFeature(report, instrument::ReportSize);
}

std::string InstrumentLink::Path() const {
    return device_ ? device_->PnPInfo().DevicePath : std::string();
}

} // namespace cli
