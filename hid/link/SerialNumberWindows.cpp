#include "hid/link/InstrumentLink.h"

#include "hid/JvHidControllerClass.h"

#include <windows.h>

namespace hidlink {

std::string NativeSerialNumber(const TJvHidPnPInfo& Info) {
    using GetSerial = BOOLEAN(WINAPI*)(HANDLE, PVOID, ULONG);
    static const auto getSerial = [] {
        HMODULE hid = ::LoadLibraryA("hid.dll");
        return hid ? reinterpret_cast<GetSerial>(reinterpret_cast<void*>(
                         ::GetProcAddress(hid, "HidD_GetSerialNumberString")))
                   : nullptr;
    }();
    if (!getSerial || Info.DevicePath.empty()) return std::string();
    // Access 0: the serial number is a query, allowed where reading and writing are not.
    HANDLE h = ::CreateFileA(Info.DevicePath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::string();
    wchar_t text[127] = {};
    const bool ok = getSerial(h, text, sizeof text - sizeof(wchar_t)) != 0;
    ::CloseHandle(h);
    if (!ok || text[0] == L'\0') return std::string();
    char utf8[512] = {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    return n > 1 ? std::string(utf8, static_cast<size_t>(n - 1)) : std::string();
}

} // namespace hidlink
