#include "python/PumpedEventLoop.h"

#include <poll.h>

#include <vector>

namespace python {

void PumpedEventLoop::Post(std::function<void()> Fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(std::move(Fn));
}

void* PumpedEventLoop::Watch(int Fd, std::function<void()> OnReadable) {
    std::lock_guard<std::mutex> lock(mutex_);
    watches_.push_back({Fd, std::move(OnReadable)});
    return &watches_.back();
}

void PumpedEventLoop::Unwatch(void* Watch) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Possibly from inside its own callback: only marked here, removed by the next pump.
    for (Watched& w : watches_)
        if (&w == Watch) w.Active = false;
}

bool PumpedEventLoop::IsGuiThread() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::this_thread::get_id() == owner_;
}

void PumpedEventLoop::Pump() {
    std::vector<pollfd> fds;
    std::vector<Watched*> which;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        owner_ = std::this_thread::get_id();
        watches_.remove_if([](const Watched& W) { return !W.Active; });
        for (Watched& w : watches_) {
            fds.push_back({w.Fd, POLLIN, 0});
            which.push_back(&w);
        }
    }
    if (!fds.empty() && ::poll(fds.data(), fds.size(), 0) > 0) {
        for (size_t i = 0; i < fds.size(); ++i) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            std::function<void()> call;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (which[i]->Active) call = which[i]->OnReadable;
            }
            if (call) call();
        }
    }
    // Calls posted by the ones run here wait for the next pump, as a loop's next turn would.
    std::deque<std::function<void()>> due;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        due.swap(posted_);
    }
    for (auto& call : due) {
        try {
            call();
        } catch (...) {
            HandleException(std::current_exception());
        }
    }
}

} // namespace python
