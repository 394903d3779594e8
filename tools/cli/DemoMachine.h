// ormelix-cli's --demo: the simulated machine with the virtual instrument; only tools/cli uses it.
#pragma once

#include "hid/sim/SimHidPlatform.h"
#include "tools/cli/InstrumentLink.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class VirtualInstrument;

namespace cli {

// The simulated machine of ormelix-demo, installed for as long as it lives; with two
// instruments, a second one is plugged after the demo's devices.
class DemoMachine {
public:
    explicit DemoMachine(int Instruments);
    ~DemoMachine();
    DemoMachine(const DemoMachine&) = delete;
    DemoMachine& operator=(const DemoMachine&) = delete;
    hidsim::SimHidPlatform& Sim() { return sim_; }

private:
    void PlugInstrument(const char* Path, const char* Serial, const char* Location);

    const HidPlatform* previous_;
    std::function<std::string(const TJvHidPnPInfo&)> previousSerials_;
    hidsim::SimHidPlatform sim_;
    std::vector<std::shared_ptr<VirtualInstrument>> instruments_;
    std::map<std::string, std::string> serials_;
};

} // namespace cli
