// The HID entries over hidraw ioctls, with sysfs serving what a query-only handle may ask.
#include "hid/linux/HidLinuxHelpers.h"
#include "hid/linux/LinuxHidInternal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/hidraw.h>
#include <sys/ioctl.h>

namespace hidlinux {

namespace {

// Older kernels refuse feature reports longer than this.
constexpr size_t kMaxFeatureLength = 4096;

struct PreparsedData {
    ReportDescriptorInfo Info;
};

HandleRegistry<PreparsedData>& Preparsed() {
    static HandleRegistry<PreparsedData> preparsed;
    return preparsed;
}

BOOLEAN Fail(DWORD Error) {
    SetLastErrorCode(Error);
    return FALSE;
}

int Ioctl(int Fd, unsigned long Request, void* Argument) {
    int r;
    do {
        r = ::ioctl(Fd, Request, Argument);
    } while (r < 0 && errno == EINTR);
    return r;
}

BOOLEAN GetUsbString(HANDLE Device, std::string_view Attribute, void* Buffer, ULONG BufferLength) {
    const auto state = FindHandle(Device);
    if (!state) return Fail(ERROR_INVALID_HANDLE);
    if (!Buffer) return Fail(ERROR_INVALID_PARAMETER);
    if (!state->Node || state->Node->UsbDeviceDir.empty()) return Fail(ERROR_NOT_SUPPORTED);
    const auto text = ReadAttribute(state->Node->UsbDeviceDir, Attribute);
    if (!text) {
        // Pulled: its sysfs directories went with it, as they do for the attributes.
        const bool gone = state->Gone.load() || !ReadHidUevent(*state->Node);
        return Fail(gone ? ERROR_DEVICE_NOT_CONNECTED : ERROR_GEN_FAILURE);
    }
    const size_t units = BufferLength / sizeof(char16_t);
    if (units == 0) return Fail(ERROR_INSUFFICIENT_BUFFER);
    // A UTF-8 byte never makes more than one UTF-16 unit; one more for the NUL.
    std::vector<char16_t> wide(std::min(units, text->size() + 1));
    const size_t written = Utf8ToUtf16Bounded(*text, wide.data(), wide.size());
    const size_t withNul = std::min(written + 1, wide.size());
    std::memcpy(Buffer, wide.data(), withNul * sizeof(char16_t));
    return TRUE;
}

} // namespace

void WINAPI HidD_GetHidGuid(GUID* HidGuid) {
    if (HidGuid) *HidGuid = kHidInterfaceGuid;
}

BOOLEAN WINAPI HidD_GetAttributes(HANDLE Device, HIDD_ATTRIBUTES* Attributes) {
    const auto state = FindHandle(Device);
    if (!state) return Fail(ERROR_INVALID_HANDLE);
    if (!Attributes) return Fail(ERROR_INVALID_PARAMETER);
    std::optional<HidId> id;
    if (state->Fd >= 0) {
        hidraw_devinfo info{};
        if (Ioctl(state->Fd, HIDIOCGRAWINFO, &info) < 0) return Fail(Win32ErrorFromErrno(errno));
        id = HidId{info.bustype, static_cast<uint16_t>(info.vendor),
                   static_cast<uint16_t>(info.product)};
    } else if (state->Node) {
        if (const auto uevent = ReadHidUevent(*state->Node)) {
            id = ParseHidId(UeventValue(*uevent, "HID_ID").value_or(""));
        }
    }
    if (!id) return Fail(ERROR_DEVICE_NOT_CONNECTED);
    Attributes->VendorID = id->Vendor;
    Attributes->ProductID = id->Product;
    Attributes->VersionNumber = state->Node ? ReadUsbVersion(*state->Node) : 0;
    return TRUE;
}

BOOLEAN WINAPI HidD_GetManufacturerString(HANDLE Device, void* Buffer, ULONG BufferLength) {
    return GetUsbString(Device, "manufacturer", Buffer, BufferLength);
}

BOOLEAN WINAPI HidD_GetProductString(HANDLE Device, void* Buffer, ULONG BufferLength) {
    return GetUsbString(Device, "product", Buffer, BufferLength);
}

BOOLEAN WINAPI HidD_GetFeature(HANDLE Device, void* ReportBuffer, ULONG ReportBufferLength) {
    const auto state = FindHandle(Device);
    if (!state) return Fail(ERROR_INVALID_HANDLE);
    if (!ReportBuffer || ReportBufferLength == 0) return Fail(ERROR_INVALID_PARAMETER);
    if (state->Fd < 0) return Fail(ERROR_ACCESS_DENIED);

    auto* bytes = static_cast<uint8_t*>(ReportBuffer);
    const uint8_t reportId = bytes[0];
    // Unknown transport: take the reply as the kernel gives it.
    const bool keepsSlot =
        !state->Bus ||
        FeatureReplyKeepsIdSlot(*state->Bus, state->Node && !state->Node->UsbDeviceDir.empty());
    const size_t request =
        std::min(FeatureRequestLength(ReportBufferLength, reportId, keepsSlot), kMaxFeatureLength);
    if (request == 0) return Fail(ERROR_INVALID_PARAMETER);
    const int got = Ioctl(state->Fd, HIDIOCGFEATURE(request), bytes);
    if (got < 0) return Fail(Win32ErrorFromErrno(errno));
    NormaliseFeatureReply(std::span<uint8_t>(bytes, ReportBufferLength),
                          std::min(static_cast<size_t>(got), request), reportId, keepsSlot);
    return TRUE;
}

BOOLEAN WINAPI HidD_SetFeature(HANDLE Device, void* ReportBuffer, ULONG ReportBufferLength) {
    const auto state = FindHandle(Device);
    if (!state) return Fail(ERROR_INVALID_HANDLE);
    if (!ReportBuffer || ReportBufferLength == 0 || ReportBufferLength > kMaxFeatureLength) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (state->Fd < 0 || !(state->Access & GENERIC_WRITE)) return Fail(ERROR_ACCESS_DENIED);
    // Same layout both ways: report ID (0 when unnumbered) then the data; the kernel drops a
    // 0 ID before it reaches the device.
    if (Ioctl(state->Fd, HIDIOCSFEATURE(ReportBufferLength), ReportBuffer) < 0) {
        return Fail(Win32ErrorFromErrno(errno));
    }
    return TRUE;
}

BOOLEAN WINAPI HidD_GetPreparsedData(HANDLE Device, PHIDP_PREPARSED_DATA* PreparsedDataOut) {
    const auto state = FindHandle(Device);
    if (!state) return Fail(ERROR_INVALID_HANDLE);
    if (!PreparsedDataOut) return Fail(ERROR_INVALID_PARAMETER);
    const auto info = HandleReportInfo(*state);
    if (!info) return Fail(ERROR_GEN_FAILURE);
    auto data = std::make_shared<PreparsedData>();
    data->Info = *info;
    *PreparsedDataOut = reinterpret_cast<PHIDP_PREPARSED_DATA>(Preparsed().Add(std::move(data)));
    return TRUE;
}

BOOLEAN WINAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA PreparsedDataHandle) {
    if (!Preparsed().Remove(reinterpret_cast<const void*>(PreparsedDataHandle))) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    return TRUE;
}

NTSTATUS WINAPI HidP_GetCaps(PHIDP_PREPARSED_DATA PreparsedDataHandle, HIDP_CAPS* Capabilities) {
    const auto data = Preparsed().Find(reinterpret_cast<const void*>(PreparsedDataHandle));
    if (!data) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    if (!Capabilities) return HIDP_STATUS_NULL;
    const ReportDescriptorInfo& info = data->Info;
    // As Windows counts them: the longest report of the kind plus the report ID byte, which
    // is there even when the device does not number its reports.
    auto length = [&](ReportKind kind) -> USHORT {
        const uint32_t bytes = info.MaxBytes(kind);
        return bytes == 0 ? 0 : static_cast<USHORT>(std::min<uint32_t>(bytes + 1, 0xFFFF));
    };
    std::memset(Capabilities, 0, sizeof(HIDP_CAPS));
    Capabilities->Usage = info.Usage;
    Capabilities->UsagePage = info.UsagePage;
    Capabilities->InputReportByteLength = length(ReportKind::Input);
    Capabilities->OutputReportByteLength = length(ReportKind::Output);
    Capabilities->FeatureReportByteLength = length(ReportKind::Feature);
    Capabilities->NumberLinkCollectionNodes =
        static_cast<USHORT>(std::min<uint32_t>(info.CollectionCount, 0xFFFF));
    return HIDP_STATUS_SUCCESS;
}

BOOLEAN WINAPI HidD_SetNumInputBuffers(HANDLE Device, ULONG NumberBuffers) {
    const auto state = FindHandle(Device);
    if (!state) return Fail(ERROR_INVALID_HANDLE);
    if (NumberBuffers < kMinInputBuffers || NumberBuffers > kMaxInputBuffers) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // hidraw's queue is fixed; the count is kept so that it reads back as set.
    state->NumInputBuffers.store(NumberBuffers);
    return TRUE;
}

BOOLEAN WINAPI HidD_GetNumInputBuffers(HANDLE Device, ULONG* NumberBuffers) {
    const auto state = FindHandle(Device);
    if (!state) return Fail(ERROR_INVALID_HANDLE);
    if (!NumberBuffers) return Fail(ERROR_INVALID_PARAMETER);
    *NumberBuffers = state->NumInputBuffers.load();
    return TRUE;
}

} // namespace hidlinux
