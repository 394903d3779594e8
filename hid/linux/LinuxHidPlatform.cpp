// The libraries the HID layer loads by name, as modules of this process: "SetupApi.dll" (backed
// by libudev, opened when it is loaded), "HID.dll" and "kernel32.dll", each a table of entries.
#include "LinuxHidPlatform.h"

#include "LinuxHidInternal.h"

#include <atomic>
#include <cstring>
#include <span>
#include <strings.h>

namespace hidlinux {

namespace {

struct Export {
    const char* Name;
    void* Entry;
};

template <class F> void* Entry(F* Function) {
    return reinterpret_cast<void*>(Function);
}

const Export kSetupApiExports[] = {
    {"SetupDiGetClassDevsA", Entry(SetupDiGetClassDevsA)},
    {"SetupDiEnumDeviceInterfaces", Entry(SetupDiEnumDeviceInterfaces)},
    {"SetupDiGetDeviceInterfaceDetailA", Entry(SetupDiGetDeviceInterfaceDetailA)},
    {"SetupDiGetDeviceRegistryPropertyA", Entry(SetupDiGetDeviceRegistryPropertyA)},
    {"SetupDiDestroyDeviceInfoList", Entry(SetupDiDestroyDeviceInfoList)},
};

const Export kHidExports[] = {
    {"HidD_GetHidGuid", Entry(HidD_GetHidGuid)},
    {"HidD_GetAttributes", Entry(HidD_GetAttributes)},
    {"HidD_GetManufacturerString", Entry(HidD_GetManufacturerString)},
    {"HidD_GetProductString", Entry(HidD_GetProductString)},
    {"HidD_GetFeature", Entry(HidD_GetFeature)},
    {"HidD_SetFeature", Entry(HidD_SetFeature)},
    {"HidD_GetPreparsedData", Entry(HidD_GetPreparsedData)},
    {"HidD_FreePreparsedData", Entry(HidD_FreePreparsedData)},
    {"HidP_GetCaps", Entry(HidP_GetCaps)},
    {"HidD_SetNumInputBuffers", Entry(HidD_SetNumInputBuffers)},
    {"HidD_GetNumInputBuffers", Entry(HidD_GetNumInputBuffers)},
};

const Export kKernelExports[] = {
    {"CancelIo", Entry(CancelIo)},
};

struct Module {
    const char* FileName; // matched without regard to case, with or without ".dll"
    std::span<const Export> Exports;
    bool AlwaysLoaded;
    int References = 0; // guarded by gModuleMutex
};

Module gSetupApi{"setupapi.dll", kSetupApiExports, false};
Module gHid{"hid.dll", kHidExports, false};
Module gKernel{"kernel32.dll", kKernelExports, true};
Module gProgram{"", {}, true}; // what GetModuleHandleA(nullptr) names
Module* const kModules[] = {&gSetupApi, &gHid, &gKernel};

std::mutex gModuleMutex;
std::shared_ptr<UdevApi> gSetupApiUdev; // held while "SetupApi.dll" is loaded

std::atomic<UINT> gErrorMode{0};

Module* ModuleNamed(LPCSTR FileName) {
    if (!FileName) return nullptr;
    std::string name(FileName);
    if (const size_t slash = name.find_last_of("/\\"); slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    if (name.find('.') == std::string::npos) name += ".dll";
    for (Module* m : kModules) {
        if (::strcasecmp(name.c_str(), m->FileName) == 0) return m;
    }
    return nullptr;
}

Module* KnownModule(HMODULE Handle) {
    for (Module* m : kModules) {
        if (Handle == m) return m;
    }
    return Handle == &gProgram ? &gProgram : nullptr;
}

bool Loaded(const Module& M) {
    return M.AlwaysLoaded || M.References > 0;
}

HMODULE WINAPI LoadLibraryA(LPCSTR FileName) {
    Module* m = ModuleNamed(FileName);
    if (!m) {
        SetLastErrorCode(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::lock_guard lock(gModuleMutex);
    if (m == &gSetupApi && m->References == 0) {
        // Without libudev there is no way to list devices: the library is "missing".
        gSetupApiUdev = LoadUdev();
        if (!gSetupApiUdev) {
            SetLastErrorCode(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
    }
    if (!m->AlwaysLoaded) ++m->References;
    return m;
}

BOOL WINAPI FreeLibrary(HMODULE Handle) {
    std::lock_guard lock(gModuleMutex);
    Module* m = KnownModule(Handle);
    if (!m || m == &gProgram || !Loaded(*m)) {
        SetLastErrorCode(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!m->AlwaysLoaded && --m->References == 0 && m == &gSetupApi) gSetupApiUdev.reset();
    return TRUE;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR ModuleName) {
    if (!ModuleName) return &gProgram;
    Module* m = ModuleNamed(ModuleName);
    std::lock_guard lock(gModuleMutex);
    if (!m || !Loaded(*m)) {
        SetLastErrorCode(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return m;
}

void* WINAPI GetProcAddress(HMODULE Handle, LPCSTR ProcName) {
    std::lock_guard lock(gModuleMutex);
    Module* m = KnownModule(Handle);
    if (!m || !Loaded(*m)) {
        SetLastErrorCode(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // Lookups by ordinal (a number in place of the name pointer) find nothing here.
    if (reinterpret_cast<uintptr_t>(ProcName) > 0xFFFF) {
        for (const Export& e : m->Exports) {
            if (std::strcmp(e.Name, ProcName) == 0) return e.Entry;
        }
    }
    SetLastErrorCode(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

UINT WINAPI SetErrorMode(UINT Mode) {
    return gErrorMode.exchange(Mode);
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
    std::lock_guard lock(gModuleMutex);
    return gSetupApiUdev;
}

} // namespace hidlinux

const HidPlatform* LinuxHidPlatform() {
    return &hidlinux::kLinuxPlatform;
}
