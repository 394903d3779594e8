#include "hid/LibraryLoader.h"

bool OpenLibrary(HMODULE& Module, const char* FileName) {
    if (Module == nullptr) {
        const HidPlatform& platform = CurrentHidPlatform();
        UINT oldMode = platform.SetErrorMode(SEM_NOOPENFILEERRORBOX);
        Module = platform.LoadLibraryA(FileName);
        platform.SetErrorMode(oldMode);
    }
    return Module != nullptr;
}

void CloseLibrary(HMODULE& Module) {
    if (Module != nullptr) {
        CurrentHidPlatform().FreeLibrary(Module);
        Module = nullptr;
    }
}

void* BindEntry(HMODULE Library, const char* Name, bool& Ok) {
    void* entry = Library != nullptr ? CurrentHidPlatform().GetProcAddress(Library, Name) : nullptr;
    Ok = Ok && entry != nullptr;
    return entry;
}
