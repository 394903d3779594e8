#include "hid/sim/DemoMachine.h"

#include "hid/HidPlatform.h"
#include "hid/JvHidControllerClass.h"
#include "hid/link/InstrumentLink.h"
#include "hid/sim/BenchDevices.h"
#include "hid/sim/SimInstrument.h"

namespace bench {

DemoMachine::DemoMachine(int Instruments)
    : previous_(&CurrentHidPlatform()), previousSerials_(hidlink::SerialNumberOf) {
    instruments_.push_back(std::make_shared<VirtualInstrument>());
    PlugInstrument(instruments_.back(), InstrumentPath, InstrumentSerial, InstrumentLocation,
                   hidsim::SimAccess::ReadWrite);
    sim_.Plug(Mouse());
    sim_.Plug(LookAlike());
    if (Instruments > 1) {
        instruments_.push_back(std::make_shared<VirtualInstrument>());
        PlugInstrument(instruments_.back(), SecondInstrumentPath, SecondInstrumentSerial,
                       SecondInstrumentLocation, hidsim::SimAccess::ReadWrite);
    }
    hidlink::SerialNumberOf = [serials = serials_](const TJvHidPnPInfo& Info) {
        const auto it = serials.find(Info.DevicePath);
        return it == serials.end() ? std::string() : it->second;
    };
    SetHidPlatform(sim_.Platform());
}

DemoMachine::~DemoMachine() {
    SetHidPlatform(previous_);
    hidlink::SerialNumberOf = previousSerials_;
}

bool DemoMachine::ReplugInstrument(hidsim::SimAccess Access) {
    if (sim_.IsPlugged(InstrumentPath)) return false;
    PlugInstrument(instruments_.front(), InstrumentPath, InstrumentSerial, InstrumentLocation,
                   Access);
    return true;
}

void DemoMachine::PlugInstrument(const std::shared_ptr<VirtualInstrument>& Instrument,
                                 const char* Path, const char* Serial, const char* Location,
                                 hidsim::SimAccess Access) {
    hidsim::SimDeviceSpec device = VirtualInstrumentDevice(Instrument, Path);
    device.SetTextProperty(SPDRP_LOCATION_INFORMATION, Location);
    device.Access = Access;
    sim_.Plug(device);
    serials_[Path] = Serial;
}

} // namespace bench
