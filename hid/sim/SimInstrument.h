// The virtual instrument as a device of the simulated HID platform: feature report 0 both ways.
#pragma once

#include "SimHidPlatform.h"
#include "VirtualInstrument.h"

#include <memory>
#include <string>

hidsim::SimDeviceSpec VirtualInstrumentDevice(std::shared_ptr<VirtualInstrument> Instrument,
                                              const std::string& Path);
