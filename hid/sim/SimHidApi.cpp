// The HID entries over the devices' descriptions.
#include "hid/sim/SimHidInternal.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace hidsim {

namespace {

// Preparsed data is a number on some platforms and a pointer on others. Templates, so that the
// branch not taken is never compiled (clang checks it otherwise).
template <class T = PHIDP_PREPARSED_DATA> uintptr_t PreparsedId(T Data) {
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<uintptr_t>(Data);
    else
        return static_cast<uintptr_t>(Data);
}
template <class T = PHIDP_PREPARSED_DATA> T ToPreparsed(uintptr_t Id) {
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<T>(Id);
    else
        return static_cast<T>(Id);
}

BOOLEAN GetString(HANDLE Device, void* Buffer, ULONG BufferLength, bool Manufacturer) {
    SIM_IMPL(BOOLEAN(0));
    SimHandle* h = s->LiveHandle(Device);
    if (h == nullptr) return 0;
    const SimDeviceSpec& desc = h->Device->Desc;
    if (!(Manufacturer ? desc.ManufacturerReadable : desc.ProductReadable))
        return Fail(ERROR_GEN_FAILURE, BOOLEAN(0));
    if (Buffer == nullptr) return Fail(ERROR_INVALID_USER_BUFFER, BOOLEAN(0));
    const std::u16string& text = Manufacturer ? desc.Manufacturer : desc.Product;
    const size_t room = BufferLength / sizeof(char16_t);
    const size_t units = std::min(room, text.size());
    std::memcpy(Buffer, text.data(), units * sizeof(char16_t));
    if (units < room) static_cast<char16_t*>(Buffer)[units] = 0;
    return 1;
}

BOOLEAN Feature(HANDLE Device, PVOID Report, ULONG Length, SimFeatureTransfer::Kind Direction) {
    SIM_IMPL(BOOLEAN(0));
    SimHandle* h = s->LiveHandle(Device);
    if (h == nullptr) return 0;
    if ((h->Access & (GENERIC_READ | GENERIC_WRITE)) == 0)
        return Fail(ERROR_ACCESS_DENIED, BOOLEAN(0));
    if (Report == nullptr || Length == 0) return Fail(ERROR_INVALID_USER_BUFFER, BOOLEAN(0));
    std::shared_ptr<SimDevice> device = h->Device;
    SimGetFeature get = device->Desc.GetFeature;
    SimSetFeature set = device->Desc.SetFeature;
    auto* bytes = static_cast<uint8_t*>(Report);
    SimFeatureTransfer transfer{Direction, device->Desc.Path, device->Instance, Length, {}, false};
    if (Direction == SimFeatureTransfer::Set) transfer.Bytes.assign(bytes, bytes + Length);
    // The device's handler may call back into the platform.
    lock.unlock();
    bool ok = Direction == SimFeatureTransfer::Get ? (get && get(bytes, Length))
                                                   : (set && set(bytes, Length));
    lock.lock();
    if (Direction == SimFeatureTransfer::Get) transfer.Bytes.assign(bytes, bytes + Length);
    transfer.Ok = ok;
    s->Transfers.push_back(std::move(transfer));
    return ok ? 1 : Fail(ERROR_GEN_FAILURE, BOOLEAN(0));
}

} // namespace

void WINAPI SimHidD_GetHidGuid(GUID* HidGuid) {
    if (HidGuid != nullptr) *HidGuid = kHidGuid;
}

BOOLEAN WINAPI SimHidD_GetAttributes(HANDLE Device, HIDD_ATTRIBUTES* Attributes) {
    SIM_IMPL(BOOLEAN(0));
    SimHandle* h = s->LiveHandle(Device);
    if (h == nullptr) return 0;
    if (Attributes == nullptr || Attributes->Size != sizeof(HIDD_ATTRIBUTES))
        return Fail(ERROR_INVALID_PARAMETER, BOOLEAN(0));
    if (!h->Device->Desc.Identifiable) return Fail(ERROR_GEN_FAILURE, BOOLEAN(0));
    Attributes->VendorID = h->Device->Desc.VendorID;
    Attributes->ProductID = h->Device->Desc.ProductID;
    Attributes->VersionNumber = h->Device->Desc.VersionNumber;
    return 1;
}

BOOLEAN WINAPI SimHidD_GetManufacturerString(HANDLE Device, PVOID Buffer, ULONG Length) {
    return GetString(Device, Buffer, Length, true);
}

BOOLEAN WINAPI SimHidD_GetProductString(HANDLE Device, PVOID Buffer, ULONG Length) {
    return GetString(Device, Buffer, Length, false);
}

BOOLEAN WINAPI SimHidD_GetFeature(HANDLE Device, PVOID Report, ULONG Length) {
    return Feature(Device, Report, Length, SimFeatureTransfer::Get);
}

BOOLEAN WINAPI SimHidD_SetFeature(HANDLE Device, PVOID Report, ULONG Length) {
    return Feature(Device, Report, Length, SimFeatureTransfer::Set);
}

BOOLEAN WINAPI SimHidD_GetPreparsedData(HANDLE Device, PHIDP_PREPARSED_DATA* PreparsedData) {
    SIM_IMPL(BOOLEAN(0));
    SimHandle* h = s->LiveHandle(Device);
    if (h == nullptr) return 0;
    if (PreparsedData == nullptr) return Fail(ERROR_INVALID_PARAMETER, BOOLEAN(0));
    const SimDeviceSpec& desc = h->Device->Desc;
    if (!desc.PreparsedReadable) return Fail(ERROR_GEN_FAILURE, BOOLEAN(0));
    HIDP_CAPS caps{};
    caps.Usage = desc.Usage;
    caps.UsagePage = desc.UsagePage;
    caps.InputReportByteLength = desc.InputReportByteLength;
    caps.OutputReportByteLength = desc.OutputReportByteLength;
    caps.FeatureReportByteLength = desc.FeatureReportByteLength;
    uintptr_t id = s->NewId();
    s->Preparsed[id] = caps;
    *PreparsedData = ToPreparsed(id);
    return 1;
}

BOOLEAN WINAPI SimHidD_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedData) {
    SIM_IMPL(BOOLEAN(0));
    if (s->Preparsed.erase(PreparsedId(PreparsedData)) == 0)
        return Fail(ERROR_INVALID_PARAMETER, BOOLEAN(0));
    return 1;
}

BOOLEAN WINAPI SimHidD_SetNumInputBuffers(HANDLE Device, ULONG NumberBuffers) {
    SIM_IMPL(BOOLEAN(0));
    SimHandle* h = s->LiveHandle(Device);
    if (h == nullptr) return 0;
    if (NumberBuffers < 2 || NumberBuffers > 512) return Fail(ERROR_INVALID_PARAMETER, BOOLEAN(0));
    h->NumInputBuffers = NumberBuffers;
    return 1;
}

BOOLEAN WINAPI SimHidD_GetNumInputBuffers(HANDLE Device, ULONG* NumberBuffers) {
    SIM_IMPL(BOOLEAN(0));
    SimHandle* h = s->LiveHandle(Device);
    if (h == nullptr) return 0;
    if (NumberBuffers == nullptr) return Fail(ERROR_INVALID_PARAMETER, BOOLEAN(0));
    *NumberBuffers = h->NumInputBuffers;
    return 1;
}

NTSTATUS WINAPI SimHidP_GetCaps(PHIDP_PREPARSED_DATA PreparsedData, HIDP_CAPS* Capabilities) {
    SIM_IMPL(HIDP_STATUS_INVALID_PREPARSED_DATA);
    auto it = s->Preparsed.find(PreparsedId(PreparsedData));
    if (it == s->Preparsed.end() || Capabilities == nullptr)
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    *Capabilities = it->second;
    return HIDP_STATUS_SUCCESS;
}

// The optional entries exist but do nothing useful; nothing calls them.
BOOLEAN WINAPI SimHidD_GetInputReport(HANDLE, PVOID, ULONG) {
    return Fail(ERROR_INVALID_PARAMETER, BOOLEAN(0));
}
BOOLEAN WINAPI SimHidD_SetOutputReport(HANDLE, PVOID, ULONG) {
    return Fail(ERROR_INVALID_PARAMETER, BOOLEAN(0));
}
NTSTATUS WINAPI SimHidP_GetExtendedAttributes(HIDP_REPORT_TYPE, USHORT, PHIDP_PREPARSED_DATA, void*,
                                              ULONG*) {
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
}
NTSTATUS WINAPI SimHidP_InitializeReportForID(HIDP_REPORT_TYPE, UCHAR, PHIDP_PREPARSED_DATA, char*,
                                              ULONG) {
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
}

} // namespace hidsim
