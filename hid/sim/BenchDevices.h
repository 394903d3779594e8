// The simulated machine of the demo, without any window: the virtual instrument and two HID
// devices beside it that are not the instrument. ormelix-demo's bench and ormelix-cli --demo
// both plug these.
#pragma once

#include "hid/sim/SimHidPlatform.h"

namespace bench {

constexpr const char* InstrumentPath = "/dev/hidraw-sim0";
constexpr const char* MousePath = "/dev/hidraw-sim1";
constexpr const char* LookAlikePath = "/dev/hidraw-sim2";
// A second instrument, plugged last when a bench has two (ormelix-cli --demo=2).
constexpr const char* SecondInstrumentPath = "/dev/hidraw-sim3";
// The instruments' USB serial numbers and places on the bus.
constexpr const char* InstrumentSerial = "ORX-0001";
constexpr const char* SecondInstrumentSerial = "ORX-0002";
constexpr const char* InstrumentLocation = "usb-sim-1/input0";
constexpr const char* SecondInstrumentLocation = "usb-sim-2/input0";

// An ordinary optical mouse: other strings, and on most machines not writable by the user.
hidsim::SimDeviceSpec Mouse();
// Says "Ormelix" but comes from another maker (the case differs): the console must pass it by.
hidsim::SimDeviceSpec LookAlike();

} // namespace bench
