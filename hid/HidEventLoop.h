// The services the HID layer needs from the program's event loop: a descriptor watch that
// delivers device-change notifications on the GUI thread, posting a call to the GUI thread (the
// reader's hand-over of its deliveries builds on it), and a place for handler exceptions that
// nothing else can take. The layer stays free of any toolkit;
// the program hands in an implementation (a Qt one in the console).
#pragma once

#include <cstdio>
#include <exception>
#include <functional>

class HidEventLoop {
public:
    virtual ~HidEventLoop() = default;
    // Thread-safe; runs Fn later on the GUI thread.
    virtual void Post(std::function<void()> Fn) = 0;
    // GUI thread only; calls OnReadable on the GUI thread whenever Fd is readable. The returned
    // token is handed back to Unwatch.
    virtual void* Watch(int Fd, std::function<void()> OnReadable) = 0;
    // Stops the watch; safe from inside its own OnReadable.
    virtual void Unwatch(void* Watch) = 0;
    virtual bool IsGuiThread() const = 0;
    // An application handler threw where nothing can take the exception (a delivery of a
    // reader, a rescan started by a notification). The layer goes on; by default one line on
    // stderr says what was dropped.
    virtual void HandleException(std::exception_ptr Error) noexcept { ReportDropped(Error); }

    // That default line. Safe from any thread: a reader without an event loop reports here.
    static void ReportDropped(std::exception_ptr Error) noexcept {
        constexpr const char* kLine = "HID layer: exception from a handler dropped: %s\n";
        try {
            std::rethrow_exception(Error);
        } catch (const std::exception& E) {
            std::fprintf(stderr, kLine, E.what());
        } catch (...) {
            std::fprintf(stderr, kLine, "not a std::exception");
        }
    }
};
