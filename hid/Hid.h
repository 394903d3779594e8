// The HID class library ("HID.dll"), loaded at run time and called through a table of entries
// bound by name. Only the entries the layer calls have slots, plus four optional ones that are
// bound where the platform offers them and never called.
#pragma once

#include "hid/LibraryLoader.h"

using THidD_GetHidGuid = void(WINAPI*)(GUID* HidGuid);
using THidD_GetAttributes = BOOLEAN(WINAPI*)(HANDLE HidDeviceObject, HIDD_ATTRIBUTES* Attributes);
using THidD_GetString = BOOLEAN(WINAPI*)(HANDLE HidDeviceObject, PVOID Buffer, ULONG BufferLength);
using THidD_GetFeature = BOOLEAN(WINAPI*)(HANDLE HidDeviceObject, PVOID ReportBuffer,
                                          ULONG ReportBufferLength);
using THidD_SetFeature = THidD_GetFeature;
using THidD_GetPreparsedData = BOOLEAN(WINAPI*)(HANDLE HidDeviceObject,
                                                PHIDP_PREPARSED_DATA* PreparsedData);
using THidD_FreePreparsedData = BOOLEAN(WINAPI*)(PHIDP_PREPARSED_DATA PreparsedData);
using THidD_SetNumInputBuffers = BOOLEAN(WINAPI*)(HANDLE HidDeviceObject, ULONG NumberBuffers);
using THidD_GetNumInputBuffers = BOOLEAN(WINAPI*)(HANDLE HidDeviceObject, ULONG* NumberBuffers);
using THidP_GetCaps = NTSTATUS(WINAPI*)(PHIDP_PREPARSED_DATA PreparsedData,
                                        HIDP_CAPS* Capabilities);
using THidD_GetInputReport = BOOLEAN(WINAPI*)(HANDLE HidDeviceObject, PVOID ReportBuffer,
                                              ULONG ReportBufferLength);
using THidD_SetOutputReport = THidD_GetInputReport;
// The attribute record is never looked at here, so it stays opaque.
using THidP_GetExtendedAttributes = NTSTATUS(WINAPI*)(HIDP_REPORT_TYPE ReportType, USHORT DataIndex,
                                                      PHIDP_PREPARSED_DATA PreparsedData,
                                                      void* Attributes, ULONG* LengthAttributes);
using THidP_InitializeReportForID = NTSTATUS(WINAPI*)(HIDP_REPORT_TYPE ReportType, UCHAR ReportID,
                                                      PHIDP_PREPARSED_DATA PreparsedData,
                                                      char* Report, ULONG ReportLength);
// kernel32's CancelIo, looked up at every use.
using TCancelIo = BOOL(WINAPI*)(HANDLE File);

struct THidEntries {
    HMODULE Library = nullptr;
    THidD_GetHidGuid HidD_GetHidGuid = nullptr;
    THidD_GetAttributes HidD_GetAttributes = nullptr;
    THidD_GetString HidD_GetManufacturerString = nullptr;
    THidD_GetString HidD_GetProductString = nullptr;
    THidD_GetFeature HidD_GetFeature = nullptr;
    THidD_SetFeature HidD_SetFeature = nullptr;
    THidD_GetPreparsedData HidD_GetPreparsedData = nullptr;
    THidD_FreePreparsedData HidD_FreePreparsedData = nullptr;
    THidD_SetNumInputBuffers HidD_SetNumInputBuffers = nullptr;
    THidD_GetNumInputBuffers HidD_GetNumInputBuffers = nullptr;
    THidP_GetCaps HidP_GetCaps = nullptr;
    // Optional: null where the platform lacks them.
    THidD_GetInputReport HidD_GetInputReport = nullptr;
    THidD_SetOutputReport HidD_SetOutputReport = nullptr;
    THidP_GetExtendedAttributes HidP_GetExtendedAttributes = nullptr;
    THidP_InitializeReportForID HidP_InitializeReportForID = nullptr;
};

// The bound table; every slot is null while the library is not bound.
extern THidEntries HidEntries;

// Counted like the device-setup binding, so several controllers may share the library: the
// first successful call loads and binds, the matching last UnbindHid frees.
bool BindHid();
void UnbindHid();
bool HidBound();
int HidBindCount();

// Cancels the calling thread's pending I/O on File through kernel32's CancelIo; false (and
// nothing cancelled) when the module or the entry is missing.
bool CancelIoThroughKernel(HANDLE File);
