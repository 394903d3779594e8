#include "hid/JvHidControllerClass.h"

#include "hid/SetupApi.h"

#include <cstring>

namespace {
constexpr DWORD kTextPropertyBytes = 1024;
constexpr DWORD kListPropertyBytes = 16384;
} // namespace

TJvHidPnPInfo::TJvHidPnPInfo(DWORD DeviceInstance, std::string DevicePath)
    : DeviceInstance(DeviceInstance), DevicePath(std::move(DevicePath)) {}

TJvHidPnPInfo::TJvHidPnPInfo(HDEVINFO DevInfo, SP_DEVINFO_DATA DevData, std::string DevicePath)
    : DeviceInstance(DevData.DevInst), DevicePath(std::move(DevicePath)) {
    TSetupDiGetDeviceRegistryPropertyA get = SetupApiEntries.SetupDiGetDeviceRegistryPropertyA;
    if (get == nullptr) return;
    // Results are ignored: an absent property leaves the preset buffer.
    auto read = [&](DWORD Property, std::vector<BYTE>& Buffer) {
        DWORD type = 0;
        DWORD needed = 0;
        get(DevInfo, &DevData, Property, &type, Buffer.data(), static_cast<DWORD>(Buffer.size()),
            &needed);
    };
    auto number = [&](DWORD Property) {
        std::vector<BYTE> buffer(sizeof(DWORD), 0);
        read(Property, buffer);
        DWORD value;
        std::memcpy(&value, buffer.data(), sizeof value);
        return value;
    };
    auto text = [&](DWORD Property) {
        std::vector<BYTE> buffer(kTextPropertyBytes, 0);
        read(Property, buffer);
        const char* s = reinterpret_cast<const char*>(buffer.data());
        return std::string(s, strnlen(s, buffer.size()));
    };
    auto list = [&](DWORD Property) {
        std::vector<BYTE> buffer(kListPropertyBytes, 0);
        read(Property, buffer);
        std::vector<std::string> items;
        const char* s = reinterpret_cast<const char*>(buffer.data());
        size_t pos = 0;
        while (pos < buffer.size()) {
            size_t len = strnlen(s + pos, buffer.size() - pos);
            if (len == 0) break;
            items.emplace_back(s + pos, len);
            pos += len + 1;
        }
        return items;
    };
    Capabilities = number(SPDRP_CAPABILITIES);
    ClassName = text(SPDRP_CLASS);
    ClassGuid = text(SPDRP_CLASSGUID);
    CompatibleIds = list(SPDRP_COMPATIBLEIDS);
    ConfigFlags = number(SPDRP_CONFIGFLAGS);
    DeviceDescription = text(SPDRP_DEVICEDESC);
    Driver = text(SPDRP_DRIVER);
    FriendlyName = text(SPDRP_FRIENDLYNAME);
    HardwareIds = list(SPDRP_HARDWAREID);
    LowerFilters = list(SPDRP_LOWERFILTERS);
    Manufacturer = text(SPDRP_MFG);
    UpperFilters = list(SPDRP_UPPERFILTERS);
    Service = text(SPDRP_SERVICE);
    Address = number(SPDRP_ADDRESS);
    BusNumber = number(SPDRP_BUSNUMBER);
    BusTypeGuid = text(SPDRP_BUSTYPEGUID);
    Characteristics = number(SPDRP_CHARACTERISTICS);
    DeviceType = number(SPDRP_DEVTYPE);
    EnumeratorName = text(SPDRP_ENUMERATOR_NAME);
    Exclusive = number(SPDRP_EXCLUSIVE);
    LegacyBusType = number(SPDRP_LEGACYBUSTYPE);
    LocationInformation = text(SPDRP_LOCATION_INFORMATION);
    PhysicalDeviceObjectName = text(SPDRP_PHYSICAL_DEVICE_OBJECT_NAME);
    SecurityDescriptor = text(SPDRP_SECURITY_SDS);
    UiNumber = number(SPDRP_UI_NUMBER);
    RegistryProperty30 = text(0x1E);
}
