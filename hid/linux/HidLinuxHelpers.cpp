#include "hid/linux/HidLinuxHelpers.h"

#include "hid/WinTypes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace hidlinux {

namespace {

constexpr uint32_t kBusUsb = 0x03;
constexpr uint32_t kBusI2c = 0x18;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 1 to MaxDigits hex digits, nothing else.
std::optional<uint32_t> ParseHex(std::string_view Text, size_t MaxDigits) {
    if (Text.empty() || Text.size() > MaxDigits) return std::nullopt;
    uint32_t v = 0;
    for (char c : Text) {
        const int d = HexDigit(c);
        if (d < 0) return std::nullopt;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    return v;
}

} // namespace

size_t NormaliseInputReport(std::span<const uint8_t> Raw, bool UsesReportIds,
                            std::span<uint8_t> Out) {
    if (UsesReportIds) {
        const size_t n = std::min(Raw.size(), Out.size());
        if (n > 0) std::memcpy(Out.data(), Raw.data(), n);
        return n;
    }
    if (Out.empty()) return 0;
    const size_t n = std::min(Raw.size(), Out.size() - 1);
    if (n > 0) std::memmove(Out.data() + 1, Raw.data(), n);
    Out[0] = 0;
    return n + 1;
}

bool FeatureReplyKeepsIdSlot(uint32_t Bus, bool HasUsbParent) {
    return Bus == kBusUsb ? HasUsbParent : Bus == kBusI2c;
}

size_t FeatureRequestLength(size_t CallerLength, uint8_t ReportId, bool KeepsIdSlot) {
    if (ReportId != 0 || KeepsIdSlot || CallerLength == 0) return CallerLength;
    return CallerLength - 1;
}

size_t NormaliseFeatureReply(std::span<uint8_t> Buffer, size_t Received, uint8_t ReportId,
                             bool KeepsIdSlot) {
    if (ReportId != 0 || KeepsIdSlot) return std::min(Received, Buffer.size());
    if (Buffer.empty()) return 0;
    const size_t n = std::min(Received, Buffer.size() - 1);
    if (n > 0) std::memmove(Buffer.data() + 1, Buffer.data(), n);
    Buffer[0] = 0;
    return n + 1;
}

size_t Utf8ToUtf16Bounded(std::string_view Utf8, char16_t* Out, size_t OutUnits) {
    const auto* s = reinterpret_cast<const unsigned char*>(Utf8.data());
    const size_t n = Utf8.size();
    size_t i = 0;
    size_t written = 0;
    while (i < n && written < OutUnits) {
        const unsigned char c0 = s[i];
        uint32_t cp = 0xFFFD;
        size_t used = 1;
        size_t need = 0;
        unsigned char lo = 0x80, hi = 0xBF; // range of the first continuation byte
        if (c0 < 0x80) {
            cp = c0;
        } else if (c0 >= 0xC2 && c0 <= 0xDF) {
            need = 1;
            cp = c0 & 0x1F;
        } else if (c0 >= 0xE0 && c0 <= 0xEF) {
            need = 2;
            cp = c0 & 0x0F;
            if (c0 == 0xE0) lo = 0xA0;
            if (c0 == 0xED) hi = 0x9F; // no UTF-16 surrogates in UTF-8
        } else if (c0 >= 0xF0 && c0 <= 0xF4) {
            need = 3;
            cp = c0 & 0x07;
            if (c0 == 0xF0) lo = 0x90;
            if (c0 == 0xF4) hi = 0x8F;
        }
        if (need > 0) {
            size_t k = 0;
            for (; k < need && i + 1 + k < n; ++k) {
                const unsigned char c = s[i + 1 + k];
                const unsigned char l = k == 0 ? lo : 0x80;
                const unsigned char h = k == 0 ? hi : 0xBF;
                if (c < l || c > h) break;
                cp = (cp << 6) | (c & 0x3F);
            }
            used = 1 + k;
            if (k < need) cp = 0xFFFD;
        }
        if (cp >= 0x10000) {
            if (OutUnits - written < 2) break;
            cp -= 0x10000;
            Out[written++] = static_cast<char16_t>(0xD800 + (cp >> 10));
            Out[written++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            Out[written++] = static_cast<char16_t>(cp);
        }
        i += used;
    }
    if (written < OutUnits) Out[written] = 0;
    return written;
}

std::string_view TrimLineEnd(std::string_view Text) {
    while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r')) Text.remove_suffix(1);
    return Text;
}

std::optional<std::string> UeventValue(std::string_view Uevent, std::string_view Key) {
    while (!Uevent.empty()) {
        const size_t eol = Uevent.find('\n');
        std::string_view line = Uevent.substr(0, eol);
        Uevent = eol == std::string_view::npos ? std::string_view{} : Uevent.substr(eol + 1);
        if (line.size() > Key.size() && line.substr(0, Key.size()) == Key &&
            line[Key.size()] == '=') {
            return std::string(line.substr(Key.size() + 1));
        }
    }
    return std::nullopt;
}

std::optional<HidId> ParseHidId(std::string_view Text) {
    Text = TrimLineEnd(Text);
    const size_t c1 = Text.find(':');
    if (c1 == std::string_view::npos) return std::nullopt;
    const size_t c2 = Text.find(':', c1 + 1);
    if (c2 == std::string_view::npos) return std::nullopt;
    const auto bus = ParseHex(Text.substr(0, c1), 8);
    const auto vendor = ParseHex(Text.substr(c1 + 1, c2 - c1 - 1), 8);
    const auto product = ParseHex(Text.substr(c2 + 1), 8);
    if (!bus || !vendor || !product || *vendor > 0xFFFF || *product > 0xFFFF) return std::nullopt;
    return HidId{*bus, static_cast<uint16_t>(*vendor), static_cast<uint16_t>(*product)};
}

uint32_t DeriveDeviceInstance(std::string_view HidSysname, std::string_view NodeName) {
    std::optional<uint32_t> node;
    if (NodeName.size() > 6 && NodeName.substr(0, 6) == "hidraw" && NodeName.size() <= 9) {
        uint32_t n = 0;
        for (char c : NodeName.substr(6)) n = c >= '0' && c <= '9' ? n * 10 + (c - '0') : 1000;
        if (n <= 127) node = n;
    }
    // "BBBB:VVVV:PPPP.NNNN"
    const size_t dot = HidSysname.rfind('.');
    if (node && dot != std::string_view::npos) {
        const std::string_view head = HidSysname.substr(0, dot);
        const size_t c1 = head.find(':');
        const size_t c2 = c1 == std::string_view::npos ? c1 : head.find(':', c1 + 1);
        const bool headOk = c2 != std::string_view::npos && ParseHex(head.substr(0, c1), 8) &&
                            ParseHex(head.substr(c1 + 1, c2 - c1 - 1), 8) &&
                            ParseHex(head.substr(c2 + 1), 8);
        const auto seq = ParseHex(HidSysname.substr(dot + 1), 8);
        if (headOk && seq && *seq >= 1 && *seq <= 0xFFFFFF) return *node << 24 | *seq;
    }
    uint32_t h = 2166136261u;
    const auto mix = [&h](std::string_view Text) {
        for (char c : Text) {
            h ^= static_cast<unsigned char>(c);
            h *= 16777619u;
        }
    };
    mix(HidSysname);
    mix("/");
    mix(NodeName);
    return h | 0x80000000u;
}

uint32_t Win32ErrorFromErrno(int Errno) {
    switch (Errno) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENODEV:
    case ENXIO:
    case EIO:
    case ESHUTDOWN:
        return ERROR_DEVICE_NOT_CONNECTED;
    case EBUSY:
        return ERROR_BUSY;
    case ETXTBSY:
        return ERROR_SHARING_VIOLATION;
    case EINVAL:
    case EFAULT:
    case ENAMETOOLONG:
        return ERROR_INVALID_PARAMETER;
    case ETIMEDOUT:
        return ERROR_SEM_TIMEOUT;
    case ENOTTY:
    case EOPNOTSUPP:
        return ERROR_NOT_SUPPORTED;
    case ECANCELED:
        return ERROR_OPERATION_ABORTED;
    default:
        return ERROR_GEN_FAILURE;
    }
}

} // namespace hidlinux
