// The machine's own platform: on Linux the hidraw/udev entries.
#include "HidPlatform.h"

const HidPlatform* LinuxHidPlatform();

const HidPlatform* NativeHidPlatform() {
    return LinuxHidPlatform();
}
