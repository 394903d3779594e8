// Selection of the platform the layer calls, and the platform used when none is installed: a
// machine without the device libraries, so the layer finds no devices and reports nothing.
// Programs choose explicitly at start; nothing falls back to the machine's own platform.
#include "hid/HidPlatform.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

thread_local DWORD tLastError = ERROR_SUCCESS;
std::atomic<UINT> gErrorMode{0};

HMODULE WINAPI NoLoadLibraryA(LPCSTR) {
    tLastError = ERROR_MOD_NOT_FOUND;
    return nullptr;
}
void* WINAPI NoGetProcAddress(HMODULE, LPCSTR) {
    tLastError = ERROR_PROC_NOT_FOUND;
    return nullptr;
}
BOOL WINAPI NoFreeLibrary(HMODULE) {
    tLastError = ERROR_INVALID_HANDLE;
    return FALSE;
}
HMODULE WINAPI NoGetModuleHandleA(LPCSTR) {
    tLastError = ERROR_MOD_NOT_FOUND;
    return nullptr;
}
UINT WINAPI KeepErrorMode(UINT Mode) {
    return gErrorMode.exchange(Mode);
}
HANDLE WINAPI NoCreateFileA(LPCSTR, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) {
    tLastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
}
BOOL WINAPI NoCloseHandle(HANDLE) {
    tLastError = ERROR_INVALID_HANDLE;
    return FALSE;
}
BOOL WINAPI NoReadFileEx(HANDLE, void*, DWORD, OVERLAPPED*, LPOVERLAPPED_COMPLETION_ROUTINE) {
    tLastError = ERROR_INVALID_HANDLE;
    return FALSE;
}
BOOL WINAPI NoGetOverlappedResult(HANDLE, OVERLAPPED*, DWORD*, BOOL) {
    tLastError = ERROR_INVALID_HANDLE;
    return FALSE;
}
DWORD WINAPI PlainSleepEx(DWORD Milliseconds, BOOL) {
    std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
    return 0;
}
DWORD WINAPI ThreadLastError() {
    return tLastError;
}
int NoDeviceMonitor() {
    return -1;
}
bool NoDeviceChange(int) {
    return false;
}
void NoClose(int) {}

const HidPlatform kEmptyPlatform = {
    .Name = "none",
    .LoadLibraryA = NoLoadLibraryA,
    .GetProcAddress = NoGetProcAddress,
    .FreeLibrary = NoFreeLibrary,
    .GetModuleHandleA = NoGetModuleHandleA,
    .SetErrorMode = KeepErrorMode,
    .CreateFileA = NoCreateFileA,
    .CloseHandle = NoCloseHandle,
    .ReadFileEx = NoReadFileEx,
    .GetOverlappedResult = NoGetOverlappedResult,
    .SleepEx = PlainSleepEx,
    .GetLastError = ThreadLastError,
    .OpenDeviceMonitor = NoDeviceMonitor,
    .ReadDeviceMonitor = NoDeviceChange,
    .CloseDeviceMonitor = NoClose,
};

std::atomic<const HidPlatform*> gInstalled{nullptr};

} // namespace

void SetHidPlatform(const HidPlatform* Platform) {
    gInstalled.store(Platform);
}

const HidPlatform& CurrentHidPlatform() {
    const HidPlatform* p = gInstalled.load();
    return p ? *p : kEmptyPlatform;
}
