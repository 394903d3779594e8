// The virtual instrument as a device of the simulated HID platform: feature report 0 both ways.
#pragma once

#include "hid/sim/SimHidPlatform.h"
#include "instrument/virtual/VirtualInstrument.h"

#include <memory>
#include <string>

// The instrument's identity and report shape at Path, with no feature handlers yet.
hidsim::SimDeviceSpec InstrumentIdentity(const std::string& Path);

hidsim::SimDeviceSpec VirtualInstrumentDevice(std::shared_ptr<VirtualInstrument> Instrument,
                                              const std::string& Path);
