#include "hid/SetupWalk.h"

#include "hid/HidPlatform.h"

#include <cstddef>
#include <cstring>
#include <vector>

namespace {

// No real interface path comes near this; a larger size is a broken answer, not a path.
constexpr DWORD kMaxDetailBytes = 64 * 1024;

// Reads one interface's path; false when its detail cannot be read.
bool ReadDetail(HDEVINFO Set, SP_DEVICE_INTERFACE_DATA& InterfaceData, SetupWalkEntry& Entry) {
    const TSetupApiEntries& s = SetupApiEntries;
    constexpr size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    DWORD needed = 0;
    if (s.SetupDiGetDeviceInterfaceDetailA(Set, &InterfaceData, nullptr, 0, &needed,
                                           &Entry.DevInfo) != 0 ||
        CurrentHidPlatform().GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= pathOffset ||
        needed > kMaxDetailBytes)
        return false;
    std::vector<BYTE> buffer(needed, 0);
    DWORD cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    std::memcpy(buffer.data(), &cbSize, sizeof cbSize);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    if (s.SetupDiGetDeviceInterfaceDetailA(Set, &InterfaceData, detail, needed, nullptr,
                                           &Entry.DevInfo) == 0)
        return false;
    const char* path = reinterpret_cast<const char*>(buffer.data()) + pathOffset;
    Entry.Path.assign(path, strnlen(path, needed - pathOffset));
    return true;
}

} // namespace

bool WalkSetupEntries(const GUID& ClassGuid,
                      const std::function<void(HDEVINFO Set, const SetupWalkEntry& Entry)>& Visit) {
    const TSetupApiEntries& s = SetupApiEntries;
    if (s.SetupDiGetClassDevsA == nullptr) return false;
    HDEVINFO set =
        s.SetupDiGetClassDevsA(&ClassGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE || set == nullptr) return false;
    // The set goes however the walk ends, a visit that throws too.
    struct SetGuard {
        HDEVINFO Set;
        ~SetGuard() { SetupApiEntries.SetupDiDestroyDeviceInfoList(Set); }
    } guard{set};
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof interfaceData;
        if (s.SetupDiEnumDeviceInterfaces(set, nullptr, &ClassGuid, index, &interfaceData) == 0)
            break;
        SetupWalkEntry entry;
        entry.DevInfo.cbSize = sizeof entry.DevInfo;
        entry.DetailRead = ReadDetail(set, interfaceData, entry);
        Visit(set, entry);
    }
    return true;
}
