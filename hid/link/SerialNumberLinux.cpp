#include "hid/link/InstrumentLink.h"

#include "hid/JvHidControllerClass.h"

#include <fstream>

namespace hidlink {

std::string NativeSerialNumber(const TJvHidPnPInfo& Info) {
    if (Info.PhysicalDeviceObjectName.empty()) return std::string();
    std::ifstream uevent(Info.PhysicalDeviceObjectName + "/uevent");
    for (std::string line; std::getline(uevent, line);)
        if (line.rfind("HID_UNIQ=", 0) == 0) return line.substr(9);
    return std::string();
}

} // namespace hidlink
