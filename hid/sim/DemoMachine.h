// The simulated machine of ormelix-cli --demo and the Python module's demo, without any window:
// the virtual instrument (or two) beside the demo's other devices, installed as the HID platform
// for as long as it lives, with the instruments' USB serial numbers and places on the bus.
#pragma once

#include "hid/sim/SimHidPlatform.h"
#include "instrument/virtual/VirtualInstrument.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class HidPlatform;
class TJvHidPnPInfo;

namespace bench {

class DemoMachine {
public:
    // With two instruments, the second is plugged after the demo's other devices.
    explicit DemoMachine(int Instruments);
    ~DemoMachine();
    DemoMachine(const DemoMachine&) = delete;
    DemoMachine& operator=(const DemoMachine&) = delete;

    hidsim::SimHidPlatform& Sim() { return sim_; }
    // Plugs the first instrument in again at its path, the same instrument with its state, as a
    // new device instance; false when it is plugged in already.
    bool ReplugInstrument(hidsim::SimAccess Access = hidsim::SimAccess::ReadWrite);

private:
    void PlugInstrument(const std::shared_ptr<VirtualInstrument>& Instrument, const char* Path,
                        const char* Serial, const char* Location, hidsim::SimAccess Access);

    const HidPlatform* previous_;
    std::function<std::string(const TJvHidPnPInfo&)> previousSerials_;
    hidsim::SimHidPlatform sim_;
    std::vector<std::shared_ptr<VirtualInstrument>> instruments_;
    std::map<std::string, std::string> serials_;
};

} // namespace bench
