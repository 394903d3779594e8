#include "hid/windows/WinHidEventLoop.h"

#include <utility>

namespace {

constexpr char kWindowClass[] = "OrmelixHidEventLoop";
constexpr UINT kRunPosted = WM_APP + 0x48;

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&kWindowClass), &module);
    return module;
}

} // namespace

WinHidEventLoop::WinHidEventLoop() : FThreadId(GetCurrentThreadId()) {
    static const HINSTANCE module = [] {
        HINSTANCE m = ThisModule();
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &WinHidEventLoop::WindowProc;
        windowClass.hInstance = m;
        windowClass.lpszClassName = kWindowClass;
        RegisterClassA(&windowClass);
        return m;
    }();
    // Message-only: it needs no display and receives no broadcasts.
    FWindow =
        CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
    if (FWindow != nullptr)
        SetWindowLongPtrA(FWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

WinHidEventLoop::~WinHidEventLoop() {
    if (FWindow != nullptr) {
        SetWindowLongPtrA(FWindow, GWLP_USERDATA, 0);
        DestroyWindow(FWindow); // its pending wake-ups go with it
    }
    std::lock_guard<std::mutex> lock(FLock);
    FQueue.clear();
}

void WinHidEventLoop::Post(std::function<void()> Fn) {
    std::lock_guard<std::mutex> lock(FLock);
    FQueue.push_back(std::move(Fn));
    WakeLocked();
}

void WinHidEventLoop::WakeLocked() {
    // One message per call, so that a call that runs a nested message loop still lets the
    // calls queued behind it run. A refused post (full queue) is made up at the next wake.
    while (FWakes < FQueue.size() && FWindow != nullptr && PostMessageA(FWindow, kRunPosted, 0, 0))
        ++FWakes;
}

void WinHidEventLoop::RunOne() {
    std::function<void()> fn;
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (FWakes > 0) --FWakes;
        if (FQueue.empty()) return;
        fn = std::move(FQueue.front());
        FQueue.pop_front();
        WakeLocked();
    }
    try {
        fn();
    } catch (...) {
        // Nothing may unwind through the system's message dispatch.
    }
}

LRESULT CALLBACK WinHidEventLoop::WindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
    if (Msg == kRunPosted) {
        auto* loop = reinterpret_cast<WinHidEventLoop*>(GetWindowLongPtrA(Window, GWLP_USERDATA));
        if (loop != nullptr) loop->RunOne();
        return 0;
    }
    return DefWindowProcA(Window, Msg, WParam, LParam);
}

void* WinHidEventLoop::Watch(int, std::function<void()>) {
    return nullptr;
}

void WinHidEventLoop::Unwatch(void*) {}

bool WinHidEventLoop::IsGuiThread() const {
    return GetCurrentThreadId() == FThreadId;
}

bool WinHidEventLoop::ProcessMessages(DWORD WaitMilliseconds) {
    if (WaitMilliseconds > 0)
        MsgWaitForMultipleObjectsEx(0, nullptr, WaitMilliseconds, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
}
