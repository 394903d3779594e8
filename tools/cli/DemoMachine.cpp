#include "tools/cli/DemoMachine.h"

#include "hid/JvHidControllerClass.h"
#include "hid/sim/BenchDevices.h"
#include "hid/sim/SimInstrument.h"

namespace cli {

DemoMachine::DemoMachine(int Instruments)
    : previous_(&CurrentHidPlatform()), previousSerials_(SerialNumberOf) {
    PlugInstrument(bench::InstrumentPath, bench::InstrumentSerial, bench::InstrumentLocation);
    sim_.Plug(bench::Mouse());
    sim_.Plug(bench::LookAlike());
    if (Instruments > 1)
        PlugInstrument(bench::SecondInstrumentPath, bench::SecondInstrumentSerial,
                       bench::SecondInstrumentLocation);
    SerialNumberOf = [serials = serials_](const TJvHidPnPInfo& Info) {
        const auto it = serials.find(Info.DevicePath);
        return it == serials.end() ? std::string() : it->second;
    };
    SetHidPlatform(sim_.Platform());
}

DemoMachine::~DemoMachine() {
    SetHidPlatform(previous_);
    SerialNumberOf = previousSerials_;
}

void DemoMachine::PlugInstrument(const char* Path, const char* Serial, const char* Location) {
    instruments_.push_back(std::make_shared<VirtualInstrument>());
    hidsim::SimDeviceSpec device = VirtualInstrumentDevice(instruments_.back(), Path);
    device.SetTextProperty(SPDRP_LOCATION_INFORMATION, Location);
    sim_.Plug(device);
    serials_[Path] = Serial;
}

} // namespace cli
