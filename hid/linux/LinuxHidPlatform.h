// The HID platform of a Linux machine: hidraw nodes found through libudev (opened at run time),
// their HID and USB devices read from sysfs, reports moved with hidraw ioctls and read().
#pragma once

#include "hid/HidPlatform.h"

const HidPlatform* LinuxHidPlatform();
