// The machine's own platform: on Linux the hidraw/udev entries, on Windows the system libraries.
#include "hid/HidPlatform.h"

#ifdef _WIN32
const HidPlatform* WindowsHidPlatform();
#else
const HidPlatform* LinuxHidPlatform();
#endif

const HidPlatform* NativeHidPlatform() {
#ifdef _WIN32
    return WindowsHidPlatform();
#else
    return LinuxHidPlatform();
#endif
}
