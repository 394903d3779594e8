// The libraries the HID layer loads by name, as modules of this process: "SetupApi.dll" (backed
// by libudev, opened when it is loaded), "HID.dll" and "kernel32.dll", each a table of entries.
#include "hid/linux/LinuxHidPlatform.h"

#include "hid/PseudoLibraries.h"
#include "hid/linux/LinuxHidInternal.h"

#include <cstring>

namespace hidlinux {

namespace {

const PseudoExport kSetupApiExports[] = {
    {"SetupDiGetClassDevsA", PseudoEntry(SetupDiGetClassDevsA)},
    {"SetupDiEnumDeviceInterfaces", PseudoEntry(SetupDiEnumDeviceInterfaces)},
    {"SetupDiGetDeviceInterfaceDetailA", PseudoEntry(SetupDiGetDeviceInterfaceDetailA)},
    {"SetupDiGetDeviceRegistryPropertyA", PseudoEntry(SetupDiGetDeviceRegistryPropertyA)},
    {"SetupDiDestroyDeviceInfoList", PseudoEntry(SetupDiDestroyDeviceInfoList)},
};

const PseudoExport kHidExports[] = {
    {"HidD_GetHidGuid", PseudoEntry(HidD_GetHidGuid)},
    {"HidD_GetAttributes", PseudoEntry(HidD_GetAttributes)},
    {"HidD_GetManufacturerString", PseudoEntry(HidD_GetManufacturerString)},
    {"HidD_GetProductString", PseudoEntry(HidD_GetProductString)},
    {"HidD_GetFeature", PseudoEntry(HidD_GetFeature)},
    {"HidD_SetFeature", PseudoEntry(HidD_SetFeature)},
    {"HidD_GetPreparsedData", PseudoEntry(HidD_GetPreparsedData)},
    {"HidD_FreePreparsedData", PseudoEntry(HidD_FreePreparsedData)},
    {"HidP_GetCaps", PseudoEntry(HidP_GetCaps)},
    {"HidD_SetNumInputBuffers", PseudoEntry(HidD_SetNumInputBuffers)},
    {"HidD_GetNumInputBuffers", PseudoEntry(HidD_GetNumInputBuffers)},
};

const PseudoExport kKernelExports[] = {
    {"CancelIo", PseudoEntry(CancelIo)},
};

std::mutex gUdevMutex;
std::shared_ptr<UdevApi> gSetupApiUdev; // held while "SetupApi.dll" is loaded

// Without libudev there is no way to list devices: the library is "missing".
bool LoadSetupApiUdev(const char* FileName) {
    if (std::strcmp(FileName, "setupapi.dll") != 0) return true;
    auto udev = LoadUdev();
    std::lock_guard lock(gUdevMutex);
    gSetupApiUdev = std::move(udev);
    return gSetupApiUdev != nullptr;
}

void FreeSetupApiUdev(const char* FileName) {
    if (std::strcmp(FileName, "setupapi.dll") != 0) return;
    std::lock_guard lock(gUdevMutex);
    gSetupApiUdev.reset();
}

PseudoLibraries& Libraries() {
    static PseudoLibraries libraries({{"setupapi.dll", kSetupApiExports},
                                      {"hid.dll", kHidExports},
                                      {"kernel32.dll", kKernelExports, true}},
                                     {SetLastErrorCode, LoadSetupApiUdev, FreeSetupApiUdev});
    return libraries;
}

HMODULE WINAPI LoadLibraryA(LPCSTR FileName) {
    return Libraries().LoadLibraryA(FileName);
}
BOOL WINAPI FreeLibrary(HMODULE Module) {
    return Libraries().FreeLibrary(Module);
}
HMODULE WINAPI GetModuleHandleA(LPCSTR ModuleName) {
    return Libraries().GetModuleHandleA(ModuleName);
}
void* WINAPI GetProcAddress(HMODULE Module, LPCSTR ProcName) {
    return Libraries().GetProcAddress(Module, ProcName);
}
UINT WINAPI SetErrorMode(UINT Mode) {
    return Libraries().SetErrorMode(Mode);
}

const HidPlatform kLinuxPlatform = {
    .Name = "linux",
    .LoadLibraryA = LoadLibraryA,
    .GetProcAddress = GetProcAddress,
    .FreeLibrary = FreeLibrary,
    .GetModuleHandleA = GetModuleHandleA,
    .SetErrorMode = SetErrorMode,
    .CreateFileA = CreateFileA,
    .CloseHandle = CloseHandle,
    .ReadFileEx = ReadFileEx,
    .GetOverlappedResult = GetOverlappedResult,
    .SleepEx = SleepEx,
    .GetLastError = GetLastError,
    .OpenDeviceMonitor = OpenDeviceMonitor,
    .ReadDeviceMonitor = ReadDeviceMonitor,
    .CloseDeviceMonitor = CloseDeviceMonitor,
};

} // namespace

std::shared_ptr<UdevApi> SetupApiUdev() {
    std::lock_guard lock(gUdevMutex);
    return gSetupApiUdev;
}

} // namespace hidlinux

const HidPlatform* LinuxHidPlatform() {
    return &hidlinux::kLinuxPlatform;
}
