// python/ only. The HID layer's event-loop services for a program that has no event loop of its
// own (the Python module): posted calls and descriptor watches wait until the program pumps,
// which it does before every question to the layer, so that a device change seen by the
// monitor (an unplugged instrument) is known before the next fetch.
#pragma once

#include "hid/HidEventLoop.h"

#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

namespace python {

class PumpedEventLoop final : public HidEventLoop {
public:
    void Post(std::function<void()> Fn) override;
    void* Watch(int Fd, std::function<void()> OnReadable) override;
    void Unwatch(void* Watch) override;
    bool IsGuiThread() const override;

    // Runs the watches whose descriptors are readable now and every call posted so far, on
    // the calling thread, which is the layer's GUI thread from then on.
    void Pump();

private:
    struct Watched {
        int Fd;
        std::function<void()> OnReadable;
        bool Active = true;
    };

    mutable std::mutex mutex_;
    std::deque<std::function<void()>> posted_;
    std::list<Watched> watches_; // stable addresses: they are the tokens
    std::thread::id owner_ = std::this_thread::get_id();
};

} // namespace python
