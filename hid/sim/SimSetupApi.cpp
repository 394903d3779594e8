// The device-setup entries over a snapshot of the devices plugged in when the set was made.
#include "hid/sim/SimHidInternal.h"

#include <cstddef>
#include <cstring>

namespace hidsim {

namespace {

bool SameGuid(const GUID& A, const GUID& B) {
    return std::memcmp(&A, &B, sizeof A) == 0;
}

std::shared_ptr<SimDevice> SetMember(SimHidPlatform::Impl* s, HDEVINFO Set, ULONG_PTR Token) {
    auto it = s->Sets.find(ToId(Set));
    if (it == s->Sets.end()) return Fail(ERROR_INVALID_HANDLE, std::shared_ptr<SimDevice>());
    if (Token == 0 || Token > it->second.size())
        return Fail(ERROR_INVALID_PARAMETER, std::shared_ptr<SimDevice>());
    return it->second[Token - 1];
}

} // namespace

HDEVINFO WINAPI SimSetupDiGetClassDevsA(const GUID* ClassGuid, LPCSTR, HWND, DWORD Flags) {
    SIM_IMPL(HDEVINFO(INVALID_HANDLE_VALUE));
    if (ClassGuid == nullptr) return Fail(ERROR_INVALID_PARAMETER, HDEVINFO(INVALID_HANDLE_VALUE));
    std::vector<std::shared_ptr<SimDevice>> members;
    if ((Flags & DIGCF_DEVICEINTERFACE) != 0 && SameGuid(*ClassGuid, kHidGuid))
        members = s->Devices;
    uintptr_t id = s->NewId();
    s->Sets[id] = std::move(members);
    return ToHandle(id);
}

BOOL WINAPI SimSetupDiEnumDeviceInterfaces(HDEVINFO Set, SP_DEVINFO_DATA*, const GUID* Guid,
                                           DWORD MemberIndex, SP_DEVICE_INTERFACE_DATA* Data) {
    SIM_IMPL(FALSE);
    auto it = s->Sets.find(ToId(Set));
    if (it == s->Sets.end()) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (Data == nullptr || Data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || Guid == nullptr)
        return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
    if (MemberIndex >= it->second.size()) return Fail(ERROR_NO_MORE_ITEMS, FALSE);
    Data->InterfaceClassGuid = *Guid;
    Data->Flags = SPINT_ACTIVE;
    Data->Reserved = MemberIndex + 1;
    return TRUE;
}

BOOL WINAPI SimSetupDiGetDeviceInterfaceDetailA(HDEVINFO Set, SP_DEVICE_INTERFACE_DATA* Data,
                                                SP_DEVICE_INTERFACE_DETAIL_DATA_A* Detail,
                                                DWORD DetailSize, DWORD* RequiredSize,
                                                SP_DEVINFO_DATA* DevInfo) {
    SIM_IMPL(FALSE);
    if (Data == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    auto device = SetMember(s, Set, Data->Reserved);
    if (device == nullptr) return FALSE;
    constexpr size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const DWORD needed = static_cast<DWORD>(pathOffset + device->Desc.Path.size() + 1);
    if (RequiredSize != nullptr) *RequiredSize = needed;
    if (DevInfo != nullptr) {
        if (DevInfo->cbSize != sizeof(SP_DEVINFO_DATA))
            return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
        DevInfo->ClassGuid = kHidGuid;
        DevInfo->DevInst = device->Instance;
        DevInfo->Reserved = Data->Reserved;
    }
    if (Detail == nullptr)
        return Fail(DetailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER, FALSE);
    if (Detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
    if (DetailSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    if (!device->Desc.DetailReadable) return Fail(ERROR_GEN_FAILURE, FALSE);
    std::memcpy(reinterpret_cast<char*>(Detail) + pathOffset, device->Desc.Path.c_str(),
                device->Desc.Path.size() + 1);
    return TRUE;
}

BOOL WINAPI SimSetupDiGetDeviceRegistryPropertyA(HDEVINFO Set, SP_DEVINFO_DATA* DevInfo,
                                                 DWORD Property, DWORD* Type, BYTE* Buffer,
                                                 DWORD BufferSize, DWORD* RequiredSize) {
    SIM_IMPL(FALSE);
    if (DevInfo == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    auto device = SetMember(s, Set, DevInfo->Reserved);
    if (device == nullptr) return FALSE;
    auto it = device->Desc.Properties.find(Property);
    if (it == device->Desc.Properties.end()) return Fail(ERROR_INVALID_DATA, FALSE);
    const DWORD size = static_cast<DWORD>(it->second.size());
    if (RequiredSize != nullptr) *RequiredSize = size;
    if (Type != nullptr) *Type = 0;
    if (Buffer == nullptr || BufferSize < size) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    std::memcpy(Buffer, it->second.data(), size);
    return TRUE;
}

BOOL WINAPI SimSetupDiDestroyDeviceInfoList(HDEVINFO Set) {
    SIM_IMPL(FALSE);
    if (s->Sets.erase(ToId(Set)) == 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
    return TRUE;
}

} // namespace hidsim
