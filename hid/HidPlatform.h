// The one seam between the HID layer and the machine it runs on. The layer never calls the
// system directly: library loading, the "ordinary imports" of the file and kernel services, and
// the device-change broadcast all go through the platform installed here. Production installs
// the machine's own platform; tests and the demo install a simulated one.
#pragma once

#include "hid/WinTypes.h"

struct HidPlatform {
    const char* Name;

    // Run-time libraries: "SetupApi.dll", "HID.dll", "kernel32.dll". Entries are found by name.
    HMODULE(WINAPI* LoadLibraryA)(LPCSTR FileName);
    void*(WINAPI* GetProcAddress)(HMODULE Module, LPCSTR ProcName);
    BOOL(WINAPI* FreeLibrary)(HMODULE Module);
    HMODULE(WINAPI* GetModuleHandleA)(LPCSTR ModuleName);
    UINT(WINAPI* SetErrorMode)(UINT Mode);

    // Files and kernel services used by the device object and its reader.
    HANDLE(WINAPI* CreateFileA)
    (LPCSTR FileName, DWORD DesiredAccess, DWORD ShareMode, void* SecurityAttributes,
     DWORD CreationDisposition, DWORD FlagsAndAttributes, HANDLE TemplateFile);
    BOOL(WINAPI* CloseHandle)(HANDLE Object);
    BOOL(WINAPI* ReadFileEx)
    (HANDLE File, void* Buffer, DWORD NumberOfBytesToRead, OVERLAPPED* Overlapped,
     LPOVERLAPPED_COMPLETION_ROUTINE CompletionRoutine);
    BOOL(WINAPI* GetOverlappedResult)
    (HANDLE File, OVERLAPPED* Overlapped, DWORD* NumberOfBytesTransferred, BOOL Wait);
    DWORD(WINAPI* SleepEx)(DWORD Milliseconds, BOOL Alertable);
    DWORD(WINAPI* GetLastError)();

    // Device-change broadcast. OpenDeviceMonitor gives a descriptor that becomes readable when
    // the set of devices may have changed (or -1 when the platform has none: on Windows the
    // controller's own window receives WM_DEVICECHANGE instead); ReadDeviceMonitor drains it and
    // answers whether a HID interface came or went.
    int (*OpenDeviceMonitor)();
    bool (*ReadDeviceMonitor)(int Fd);
    void (*CloseDeviceMonitor)(int Fd);
};

// Install the platform the layer calls from now on (nullptr: none, a machine without the device
// libraries). Only while no controller exists. Programs install NativeHidPlatform() at start.
void SetHidPlatform(const HidPlatform* Platform);
const HidPlatform& CurrentHidPlatform();

// The machine's own platform (Linux: libudev, hidraw, sysfs; Windows: the system libraries).
const HidPlatform* NativeHidPlatform();
