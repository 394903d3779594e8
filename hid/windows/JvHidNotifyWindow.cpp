// The controller's hidden window: Windows tells device changes to top-level windows, not to a
// descriptor, so this is the controller's device monitor there.
#include "hid/JvHidControllerClass.h"

namespace {
constexpr char kNotifyWindowClass[] = "TJvHidDeviceControllerNotify";
}

bool TJvHidDeviceController::OpenNotifyWindow() {
    // The class belongs to the module this code is linked into, which need not be the program.
    static const HINSTANCE module = [] {
        HMODULE m = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&kNotifyWindowClass), &m);
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &TJvHidDeviceController::NotifyWindowProc;
        windowClass.hInstance = m;
        windowClass.lpszClassName = kNotifyWindowClass;
        RegisterClassA(&windowClass); // fails harmlessly when another copy registered it
        return m;
    }();
    // Top-level and never shown: the broadcast reaches top-level windows only, so this must not
    // be a message-only window.
    FNotifyWindow = CreateWindowExA(WS_EX_TOOLWINDOW, kNotifyWindowClass, "", WS_POPUP, 0, 0, 0, 0,
                                    nullptr, nullptr, module, nullptr);
    if (FNotifyWindow == nullptr) return false;
    SetWindowLongPtrA(FNotifyWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    // The first change goes the way every later one comes.
    return PostMessageA(FNotifyWindow, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED,
                        static_cast<LPARAM>(-1)) != FALSE;
}

void TJvHidDeviceController::CloseNotifyWindow() {
    if (FNotifyWindow == nullptr) return;
    SetWindowLongPtrA(FNotifyWindow, GWLP_USERDATA, 0);
    DestroyWindow(FNotifyWindow);
    FNotifyWindow = nullptr;
}

LRESULT CALLBACK TJvHidDeviceController::NotifyWindowProc(HWND Window, UINT Msg, WPARAM WParam,
                                                          LPARAM LParam) {
    auto* controller =
        reinterpret_cast<TJvHidDeviceController*>(GetWindowLongPtrA(Window, GWLP_USERDATA));
    // Other device-change events are not looked at; a rescan finds out what changed.
    if (controller != nullptr && Msg == WM_DEVICECHANGE && WParam == DBT_DEVNODES_CHANGED)
        controller->DeviceChangeNotified(static_cast<LONG>(LParam));
    return DefWindowProcA(Window, Msg, WParam, LParam);
}
