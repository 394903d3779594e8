// The simulated machine of the demo, without any window: the virtual instrument and two HID
// devices beside it that are not the instrument. ormelix-demo's bench and ormelix-cli --demo
// both plug these.
#pragma once

#include "hid/sim/SimHidPlatform.h"

namespace bench {

constexpr const char* InstrumentPath = "/dev/hidraw-sim0";
constexpr const char* MousePath = "/dev/hidraw-sim1";
constexpr const char* LookAlikePath = "/dev/hidraw-sim2";

// An ordinary optical mouse: other strings, and on most machines not writable by the user.
hidsim::SimDeviceSpec Mouse();
// Says "Ormelix" but comes from another maker (the case differs): the console must pass it by.
hidsim::SimDeviceSpec LookAlike();

} // namespace bench
