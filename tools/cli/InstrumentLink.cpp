#include "tools/cli/InstrumentLink.h"

#include "hid/Hid.h"
#include "hid/JvHidControllerClass.h"
#include "hid/SetupApi.h"

#include <cstring>
#include <vector>

namespace cli {

namespace {

std::u16string Wide(const char16_t* Text) {
    return std::u16string(Text);
}

} // namespace

InstrumentLink::InstrumentLink(HidEventLoop* Loop) : controller_(new TJvHidDeviceController(Loop)) {
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

bool InstrumentLink::Find() {
    if (device_ && !device_->IsPluggedIn()) {
        TJvHidDevice* gone = device_;
        device_ = nullptr;
        delete gone;
    }
    if (!device_) controller_->Enumerate();
    return device_ && device_->IsCheckedOut() && device_->IsPluggedIn();
}

bool InstrumentLink::Enumerated(TJvHidDevice* Device, int Index) {
    // Exact and case-sensitive, as the console compares them.
    if (Device->ProductName() != Wide(instrument::ProductWide.data())) return true;
    if (Device->VendorName() == Wide(instrument::ManufacturerWide.data()))
        controller_->CheckOutByIndex(device_, Index);
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
