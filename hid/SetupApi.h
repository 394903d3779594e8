// The device-setup library ("SetupApi.dll"), loaded at run time with a reference count and
// called through a table of entries bound by name. Only the entries the layer calls have slots.
#pragma once

#include "hid/LibraryLoader.h"

using TSetupDiGetClassDevsA = HDEVINFO(WINAPI*)(const GUID* ClassGuid, LPCSTR Enumerator,
                                                HWND hwndParent, DWORD Flags);
using TSetupDiEnumDeviceInterfaces = BOOL(WINAPI*)(HDEVINFO DeviceInfoSet,
                                                   SP_DEVINFO_DATA* DeviceInfoData,
                                                   const GUID* InterfaceClassGuid,
                                                   DWORD MemberIndex,
                                                   SP_DEVICE_INTERFACE_DATA* DeviceInterfaceData);
using TSetupDiGetDeviceInterfaceDetailA = BOOL(WINAPI*)(
    HDEVINFO DeviceInfoSet, SP_DEVICE_INTERFACE_DATA* DeviceInterfaceData,
    SP_DEVICE_INTERFACE_DETAIL_DATA_A* DeviceInterfaceDetailData,
    DWORD DeviceInterfaceDetailDataSize, DWORD* RequiredSize, SP_DEVINFO_DATA* DeviceInfoData);
using TSetupDiGetDeviceRegistryPropertyA = BOOL(WINAPI*)(HDEVINFO DeviceInfoSet,
                                                         SP_DEVINFO_DATA* DeviceInfoData,
                                                         DWORD Property, DWORD* PropertyRegDataType,
                                                         BYTE* PropertyBuffer,
                                                         DWORD PropertyBufferSize,
                                                         DWORD* RequiredSize);
using TSetupDiDestroyDeviceInfoList = BOOL(WINAPI*)(HDEVINFO DeviceInfoSet);

struct TSetupApiEntries {
    HMODULE Library = nullptr;
    TSetupDiGetClassDevsA SetupDiGetClassDevsA = nullptr;
    TSetupDiEnumDeviceInterfaces SetupDiEnumDeviceInterfaces = nullptr;
    TSetupDiGetDeviceInterfaceDetailA SetupDiGetDeviceInterfaceDetailA = nullptr;
    TSetupDiGetDeviceRegistryPropertyA SetupDiGetDeviceRegistryPropertyA = nullptr;
    TSetupDiDestroyDeviceInfoList SetupDiDestroyDeviceInfoList = nullptr;
};

// The bound table; every slot is null while the library is not bound.
extern TSetupApiEntries SetupApiEntries;

// The first successful call loads and binds; later calls only count. A failed call leaves the
// count as it was, so the next call tries the load again.
bool BindSetupApi();
// Frees the library at the matching last call.
void UnbindSetupApi();
bool SetupApiBound();
int SetupApiBindCount();
