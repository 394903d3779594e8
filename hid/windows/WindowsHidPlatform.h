// The machine's own platform on Windows: the kernel32 entries themselves. SetupApi.dll and
// HID.dll are loaded and bound by name through it, exactly as on any other platform.
#pragma once

#include "hid/HidPlatform.h"

const HidPlatform* WindowsHidPlatform();
