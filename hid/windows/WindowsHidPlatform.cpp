#include "hid/windows/WindowsHidPlatform.h"

#include "hid/Hid.h"
#include "hid/SetupApi.h"

#include <type_traits>

// The table slots are called with the system's own calling convention (__stdcall on 32-bit
// x86): every entry the layer calls must have exactly the type the system headers declare.
#define ORMELIX_SAME_TYPE(Slot, Entry)                                                             \
    static_assert(std::is_same_v<Slot, decltype(&::Entry)>, #Entry " does not match its slot")

ORMELIX_SAME_TYPE(THidD_GetHidGuid, HidD_GetHidGuid);
ORMELIX_SAME_TYPE(THidD_GetAttributes, HidD_GetAttributes);
ORMELIX_SAME_TYPE(THidD_GetString, HidD_GetManufacturerString);
ORMELIX_SAME_TYPE(THidD_GetString, HidD_GetProductString);
ORMELIX_SAME_TYPE(THidD_GetFeature, HidD_GetFeature);
ORMELIX_SAME_TYPE(THidD_SetFeature, HidD_SetFeature);
ORMELIX_SAME_TYPE(THidD_GetPreparsedData, HidD_GetPreparsedData);
ORMELIX_SAME_TYPE(THidD_FreePreparsedData, HidD_FreePreparsedData);
ORMELIX_SAME_TYPE(THidD_SetNumInputBuffers, HidD_SetNumInputBuffers);
ORMELIX_SAME_TYPE(THidD_GetNumInputBuffers, HidD_GetNumInputBuffers);
ORMELIX_SAME_TYPE(THidP_GetCaps, HidP_GetCaps);
ORMELIX_SAME_TYPE(THidD_GetInputReport, HidD_GetInputReport);
ORMELIX_SAME_TYPE(THidD_SetOutputReport, HidD_SetOutputReport);
ORMELIX_SAME_TYPE(THidP_InitializeReportForID, HidP_InitializeReportForID);
ORMELIX_SAME_TYPE(TCancelIo, CancelIo);

ORMELIX_SAME_TYPE(TSetupDiGetClassDevsA, SetupDiGetClassDevsA);
ORMELIX_SAME_TYPE(TSetupDiEnumDeviceInterfaces, SetupDiEnumDeviceInterfaces);
ORMELIX_SAME_TYPE(TSetupDiGetDeviceInterfaceDetailA, SetupDiGetDeviceInterfaceDetailA);
ORMELIX_SAME_TYPE(TSetupDiGetDeviceRegistryPropertyA, SetupDiGetDeviceRegistryPropertyA);
ORMELIX_SAME_TYPE(TSetupDiDestroyDeviceInfoList, SetupDiDestroyDeviceInfoList);

ORMELIX_SAME_TYPE(decltype(HidPlatform::LoadLibraryA), LoadLibraryA);
ORMELIX_SAME_TYPE(decltype(HidPlatform::FreeLibrary), FreeLibrary);
ORMELIX_SAME_TYPE(decltype(HidPlatform::GetModuleHandleA), GetModuleHandleA);
ORMELIX_SAME_TYPE(decltype(HidPlatform::SetErrorMode), SetErrorMode);
ORMELIX_SAME_TYPE(decltype(HidPlatform::CloseHandle), CloseHandle);
ORMELIX_SAME_TYPE(decltype(HidPlatform::ReadFileEx), ReadFileEx);
ORMELIX_SAME_TYPE(decltype(HidPlatform::GetOverlappedResult), GetOverlappedResult);
ORMELIX_SAME_TYPE(decltype(HidPlatform::SleepEx), SleepEx);
ORMELIX_SAME_TYPE(decltype(HidPlatform::GetLastError), GetLastError);

#undef ORMELIX_SAME_TYPE

// The record layouts the layer hands to the libraries.
static_assert(sizeof(HIDD_ATTRIBUTES) == 12);
static_assert(sizeof(HIDP_CAPS) == 64);
#ifdef _WIN64
static_assert(sizeof(SP_DEVINFO_DATA) == 32 && sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);
#else
static_assert(sizeof(SP_DEVINFO_DATA) == 28 && sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
static_assert(sizeof(OVERLAPPED) == 20);
#endif

namespace {

// The two whose declared types differ from the slot's only in how a pointer is spelled.
void* WINAPI WinGetProcAddress(HMODULE Module, LPCSTR ProcName) {
    return reinterpret_cast<void*>(::GetProcAddress(Module, ProcName));
}

HANDLE WINAPI WinCreateFileA(LPCSTR FileName, DWORD DesiredAccess, DWORD ShareMode,
                             void* SecurityAttributes, DWORD CreationDisposition,
                             DWORD FlagsAndAttributes, HANDLE TemplateFile) {
    return ::CreateFileA(FileName, DesiredAccess, ShareMode,
                         static_cast<LPSECURITY_ATTRIBUTES>(SecurityAttributes),
                         CreationDisposition, FlagsAndAttributes, TemplateFile);
}

// No descriptor to watch: WM_DEVICECHANGE reaches the controller's own window.
int NoDeviceMonitor() {
    return -1;
}
bool NoDeviceChange(int) {
    return false;
}
void NoClose(int) {}

} // namespace

const HidPlatform* WindowsHidPlatform() {
    // Built at first use: the addresses of imported entries are known only at run time.
    static const HidPlatform platform = {
        .Name = "windows",
        .LoadLibraryA = ::LoadLibraryA,
        .GetProcAddress = WinGetProcAddress,
        .FreeLibrary = ::FreeLibrary,
        .GetModuleHandleA = ::GetModuleHandleA,
        .SetErrorMode = ::SetErrorMode,
        .CreateFileA = WinCreateFileA,
        .CloseHandle = ::CloseHandle,
        .ReadFileEx = ::ReadFileEx,
        .GetOverlappedResult = ::GetOverlappedResult,
        .SleepEx = ::SleepEx,
        .GetLastError = ::GetLastError,
        .OpenDeviceMonitor = NoDeviceMonitor,
        .ReadDeviceMonitor = NoDeviceChange,
        .CloseDeviceMonitor = NoClose,
    };
    return &platform;
}
