// The libraries the HID layer loads by name, as tables of this platform's entries:
// "SetupApi.dll", "HID.dll" (with the four optional entries) and "kernel32.dll".
#include "hid/sim/SimHidInternal.h"

namespace hidsim {

namespace {

// Every loader entry runs against the active instance's libraries.
HMODULE WINAPI SimLoadLibraryA(LPCSTR FileName) {
    SIM_IMPL(HMODULE(nullptr));
    HMODULE m = s->Libraries->LoadLibraryA(FileName);
    s->LibraryLog.push_back({SimLibraryEvent::Load, FileName != nullptr ? FileName : "",
                             m != nullptr, s->Libraries->ErrorMode()});
    return m;
}

BOOL WINAPI SimFreeLibrary(HMODULE Module) {
    SIM_IMPL(FALSE);
    const std::string name = s->Libraries->NameOf(Module);
    if (!s->Libraries->FreeLibrary(Module)) return FALSE;
    s->LibraryLog.push_back({SimLibraryEvent::Free, name, true, s->Libraries->ErrorMode()});
    return TRUE;
}

HMODULE WINAPI SimGetModuleHandleA(LPCSTR ModuleName) {
    SIM_IMPL(HMODULE(nullptr));
    return s->Libraries->GetModuleHandleA(ModuleName);
}

void* WINAPI SimGetProcAddress(HMODULE Module, LPCSTR ProcName) {
    SIM_IMPL(static_cast<void*>(nullptr));
    return s->Libraries->GetProcAddress(Module, ProcName);
}

UINT WINAPI SimSetErrorMode(UINT Mode) {
    SIM_IMPL(UINT(0));
    return s->Libraries->SetErrorMode(Mode);
}

const PseudoExport kSetupApiExports[] = {
    {"SetupDiGetClassDevsA", PseudoEntry(&SimSetupDiGetClassDevsA)},
    {"SetupDiEnumDeviceInterfaces", PseudoEntry(&SimSetupDiEnumDeviceInterfaces)},
    {"SetupDiGetDeviceInterfaceDetailA", PseudoEntry(&SimSetupDiGetDeviceInterfaceDetailA)},
    {"SetupDiGetDeviceRegistryPropertyA", PseudoEntry(&SimSetupDiGetDeviceRegistryPropertyA)},
    {"SetupDiDestroyDeviceInfoList", PseudoEntry(&SimSetupDiDestroyDeviceInfoList)},
};

const PseudoExport kHidExports[] = {
    {"HidD_GetHidGuid", PseudoEntry(&SimHidD_GetHidGuid)},
    {"HidD_GetAttributes", PseudoEntry(&SimHidD_GetAttributes)},
    {"HidD_GetManufacturerString", PseudoEntry(&SimHidD_GetManufacturerString)},
    {"HidD_GetProductString", PseudoEntry(&SimHidD_GetProductString)},
    {"HidD_GetFeature", PseudoEntry(&SimHidD_GetFeature)},
    {"HidD_SetFeature", PseudoEntry(&SimHidD_SetFeature)},
    {"HidD_GetPreparsedData", PseudoEntry(&SimHidD_GetPreparsedData)},
    {"HidD_FreePreparsedData", PseudoEntry(&SimHidD_FreePreparsedData)},
    {"HidD_SetNumInputBuffers", PseudoEntry(&SimHidD_SetNumInputBuffers)},
    {"HidD_GetNumInputBuffers", PseudoEntry(&SimHidD_GetNumInputBuffers)},
    {"HidP_GetCaps", PseudoEntry(&SimHidP_GetCaps)},
    {"HidD_GetInputReport", PseudoEntry(&SimHidD_GetInputReport)},
    {"HidD_SetOutputReport", PseudoEntry(&SimHidD_SetOutputReport)},
    {"HidP_GetExtendedAttributes", PseudoEntry(&SimHidP_GetExtendedAttributes)},
    {"HidP_InitializeReportForID", PseudoEntry(&SimHidP_InitializeReportForID)},
};

const PseudoExport kKernelExports[] = {
    {"CancelIo", PseudoEntry(&SimCancelIo)},
};

const HidPlatform kSimPlatform = {
    .Name = "simulated",
    .LoadLibraryA = SimLoadLibraryA,
    .GetProcAddress = SimGetProcAddress,
    .FreeLibrary = SimFreeLibrary,
    .GetModuleHandleA = SimGetModuleHandleA,
    .SetErrorMode = SimSetErrorMode,
    .CreateFileA = SimCreateFileA,
    .CloseHandle = SimCloseHandle,
    .ReadFileEx = SimReadFileEx,
    .GetOverlappedResult = SimGetOverlappedResult,
    .SleepEx = SimSleepEx,
    .GetLastError = SimGetLastError,
    .OpenDeviceMonitor = SimOpenDeviceMonitor,
    .ReadDeviceMonitor = SimReadDeviceMonitor,
    .CloseDeviceMonitor = SimCloseDeviceMonitor,
};

} // namespace

std::unique_ptr<PseudoLibraries> NewSimLibraries() {
    PseudoLibraries::Hooks hooks;
    hooks.SetError = SetLastErrorCode;
    return std::make_unique<PseudoLibraries>(
        std::vector<PseudoLibraries::Library>{{"SetupApi.dll", kSetupApiExports},
                                              {"HID.dll", kHidExports},
                                              {"kernel32.dll", kKernelExports, true}},
        hooks);
}

const HidPlatform* SimHidPlatform::Platform() {
    gActive.store(FImpl.get());
    return &kSimPlatform;
}

} // namespace hidsim
