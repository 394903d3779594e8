#include "hid/SetupApi.h"

TSetupApiEntries SetupApiEntries;

namespace {
int gSetupApiCount = 0;
}

bool BindSetupApi() {
    ++gSetupApiCount;
    if (gSetupApiCount > 1) return true;
    HMODULE library = nullptr;
    if (!OpenLibrary(library, "SetupApi.dll")) {
        --gSetupApiCount;
        return false;
    }
    TSetupApiEntries& t = SetupApiEntries;
    t.Library = library;
    bool ok = true;
    BindSlot(t.SetupDiGetClassDevsA, library, "SetupDiGetClassDevsA", ok);
    BindSlot(t.SetupDiEnumDeviceInterfaces, library, "SetupDiEnumDeviceInterfaces", ok);
    BindSlot(t.SetupDiGetDeviceInterfaceDetailA, library, "SetupDiGetDeviceInterfaceDetailA", ok);
    BindSlot(t.SetupDiGetDeviceRegistryPropertyA, library, "SetupDiGetDeviceRegistryPropertyA", ok);
    BindSlot(t.SetupDiDestroyDeviceInfoList, library, "SetupDiDestroyDeviceInfoList", ok);
    if (!ok) {
        UnbindSetupApi();
        return false;
    }
    return true;
}

void UnbindSetupApi() {
    --gSetupApiCount;
    if (gSetupApiCount > 0) return;
    gSetupApiCount = 0;
    HMODULE library = SetupApiEntries.Library;
    SetupApiEntries = TSetupApiEntries{};
    CloseLibrary(library);
}

bool SetupApiBound() {
    return SetupApiEntries.Library != nullptr;
}

int SetupApiBindCount() {
    return gSetupApiCount;
}
