// Pure helpers of the Linux HID platform: where hidraw and the Win32 HID entries disagree on the
// layout of a report, the text encoding of a string or the naming of a device, these functions
// translate. No I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace hidlinux {

// --- Reports --------------------------------------------------------------------------------
// The Win32 entries always carry the report ID in byte 0, 0 for a device without report IDs.

// hidraw's read() gives an input report with its ID in byte 0 only when the device numbers its
// reports. Copies Raw into Out in the Win32 layout; returns the bytes written (bounded by Out).
size_t NormaliseInputReport(std::span<const uint8_t> Raw, bool UsesReportIds,
                            std::span<uint8_t> Out);

// For report ID 0, usbhid and i2c-hid answer HIDIOCGFEATURE with 0 in byte 0 and the data after
// it; the other transports put the data at byte 0, as the hidraw documentation describes. A
// device that claims the USB bus without a USB device above it is not on usbhid (uhid).
bool FeatureReplyKeepsIdSlot(uint32_t Bus, bool HasUsbParent);

// Length to pass to HIDIOCGFEATURE for a caller buffer of CallerLength bytes, so that the reply
// still fits once it has been moved behind the report ID byte.
size_t FeatureRequestLength(size_t CallerLength, uint8_t ReportId, bool KeepsIdSlot);

// Rearranges, in place, a HIDIOCGFEATURE reply of Received bytes into the Win32 layout; returns
// the number of valid bytes in Buffer.
size_t NormaliseFeatureReply(std::span<uint8_t> Buffer, size_t Received, uint8_t ReportId,
                             bool KeepsIdSlot);

// --- Text -----------------------------------------------------------------------------------

// Converts UTF-8 to UTF-16 into at most OutUnits units. Invalid sequences become U+FFFD, one per
// maximal invalid subpart. A surrogate pair that does not fit whole is left out. Appends a NUL
// when a unit is left; returns the number of text units written (without the NUL).
size_t Utf8ToUtf16Bounded(std::string_view Utf8, char16_t* Out, size_t OutUnits);

// sysfs attributes end in a newline.
std::string_view TrimLineEnd(std::string_view Text);

// Value of KEY in the KEY=VALUE lines of a uevent file.
std::optional<std::string> UeventValue(std::string_view Uevent, std::string_view Key);

// --- Identity -------------------------------------------------------------------------------

struct HidId {
    uint32_t Bus = 0;
    uint16_t Vendor = 0;
    uint16_t Product = 0;
};
// HID_ID of a HID device's uevent: "BBBB:VVVVVVVV:PPPPPPPP" in hex.
std::optional<HidId> ParseHidId(std::string_view Text);

// The 32-bit device instance of a HID interface, from the sysfs name of its HID device
// "BBBB:VVVV:PPPP.NNNN" and the name of its node "hidrawM". NNNN is the kernel's count of HID
// devices created since boot, so it names one plug-in of one device: a device that is pulled and
// plugged again gets a new one, and two devices present at once never share one. A driver rebind
// keeps the count but may give the device another node (and a freed node may go to another
// device), so the node is part of the identity: the instance is M << 24 | NNNN when NNNN lies in
// 1..0xFFFFFF and M in 0..127. Anything else (never made by the kernel, or beyond those ranges)
// gets a 32-bit FNV-1a hash of both names with the top bit set, so it cannot take such a value.
uint32_t DeriveDeviceInstance(std::string_view HidSysname, std::string_view NodeName);

// --- Errors ---------------------------------------------------------------------------------

// The Win32 error code closest to a POSIX errno value.
uint32_t Win32ErrorFromErrno(int Errno);

} // namespace hidlinux
