// The HID layer's event-loop services without a toolkit, over the Win32 message queue of the
// GUI thread: posted calls are messages to a hidden window of that thread and run when the
// thread dispatches its messages (GetMessage/DispatchMessage, or ProcessMessages below).
// Device changes need no watch here: the controller's own window receives the system's
// WM_DEVICECHANGE broadcast. Create it on the GUI thread; it must outlive every controller
// it is handed to.
#pragma once

#include "hid/HidEventLoop.h"
#include "hid/WinTypes.h"

#include <deque>
#include <functional>
#include <mutex>

class WinHidEventLoop final : public HidEventLoop {
public:
    WinHidEventLoop();
    ~WinHidEventLoop() override;
    WinHidEventLoop(const WinHidEventLoop&) = delete;
    WinHidEventLoop& operator=(const WinHidEventLoop&) = delete;

    // Thread-safe. Calls still queued when the loop is destroyed are dropped.
    void Post(std::function<void()> Fn) override;
    // Windows has no descriptors to watch: always null, and OnReadable is never called.
    void* Watch(int Fd, std::function<void()> OnReadable) override;
    void Unwatch(void* Watch) override;
    bool IsGuiThread() const override;

    // The message-only window the posted calls are sent to.
    HWND Window() const { return FWindow; }

    // Dispatches the calling thread's pending messages. With a wait, first waits up to that
    // many milliseconds for a message to arrive. False once WM_QUIT has been seen (it is put
    // back for the program's own loop).
    static bool ProcessMessages(DWORD WaitMilliseconds = 0);

private:
    static LRESULT CALLBACK WindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam);
    void RunOne();
    // Posts wake-up messages until there is one per queued call; FLock held.
    void WakeLocked();

    HWND FWindow = nullptr;
    DWORD FThreadId = 0;
    std::mutex FLock;
    std::deque<std::function<void()>> FQueue;
    size_t FWakes = 0; // wake-up messages posted and not yet handled
};
