#include "hid/Hid.h"

THidEntries HidEntries;

namespace {
int gHidCount = 0;
}

bool BindHid() {
    ++gHidCount;
    if (gHidCount > 1) return true;
    HMODULE library = nullptr;
    if (!OpenLibrary(library, "HID.dll")) {
        --gHidCount;
        return false;
    }
    THidEntries& t = HidEntries;
    t.Library = library;
    bool ok = true;
    BindSlot(t.HidD_GetHidGuid, library, "HidD_GetHidGuid", ok);
    BindSlot(t.HidD_GetAttributes, library, "HidD_GetAttributes", ok);
    BindSlot(t.HidD_GetManufacturerString, library, "HidD_GetManufacturerString", ok);
    BindSlot(t.HidD_GetProductString, library, "HidD_GetProductString", ok);
    BindSlot(t.HidD_GetFeature, library, "HidD_GetFeature", ok);
    BindSlot(t.HidD_SetFeature, library, "HidD_SetFeature", ok);
    BindSlot(t.HidD_GetPreparsedData, library, "HidD_GetPreparsedData", ok);
    BindSlot(t.HidD_FreePreparsedData, library, "HidD_FreePreparsedData", ok);
    BindSlot(t.HidD_SetNumInputBuffers, library, "HidD_SetNumInputBuffers", ok);
    BindSlot(t.HidD_GetNumInputBuffers, library, "HidD_GetNumInputBuffers", ok);
    BindSlot(t.HidP_GetCaps, library, "HidP_GetCaps", ok);
    bool optional = true; // a missing optional entry leaves its slot null and does not count
    BindSlot(t.HidD_GetInputReport, library, "HidD_GetInputReport", optional);
    BindSlot(t.HidD_SetOutputReport, library, "HidD_SetOutputReport", optional);
    BindSlot(t.HidP_GetExtendedAttributes, library, "HidP_GetExtendedAttributes", optional);
    BindSlot(t.HidP_InitializeReportForID, library, "HidP_InitializeReportForID", optional);
    if (!ok) {
        UnbindHid();
        return false;
    }
    return true;
}

void UnbindHid() {
    if (gHidCount > 0) --gHidCount;
    if (gHidCount > 0) return;
    HMODULE library = HidEntries.Library;
    HidEntries = THidEntries{};
    CloseLibrary(library);
}

bool HidBound() {
    return HidEntries.Library != nullptr;
}

int HidBindCount() {
    return gHidCount;
}

bool CancelIoThroughKernel(HANDLE File) {
    const HidPlatform& platform = CurrentHidPlatform();
    HMODULE kernel = platform.GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return false;
    auto cancel = reinterpret_cast<TCancelIo>(platform.GetProcAddress(kernel, "CancelIo"));
    if (cancel == nullptr) return false;
    return cancel(File) != FALSE;
}
