#include "hid/JvHidHandOver.h"

#include <algorithm>

thread_local std::vector<const TJvHidDeviceReadThread*> GuiHandOver::tDelivering;

GuiHandOver& GuiHandOver::Instance() {
    static GuiHandOver* handOver = new GuiHandOver;
    return *handOver;
}

void GuiHandOver::RunAndWait(HidEventLoop& Loop, const TJvHidDeviceReadThread* Reader,
                             std::function<void()> Fn) {
    Item item{Reader, &Loop, std::move(Fn), false};
    {
        std::lock_guard<std::mutex> lock(FLock);
        FQueue.push_back(&item);
    }
    FWake.notify_all();
    try {
        Loop.Post([] { GuiHandOver::Instance().Serve(nullptr); });
    } catch (...) {
        // The item lives in this frame: it must not stay queued once the frame is gone. A stop
        // on the GUI thread may have taken it already; then it is run and waited for.
        std::unique_lock<std::mutex> lock(FLock);
        auto it = std::find(FQueue.begin(), FQueue.end(), &item);
        if (it != FQueue.end()) {
            FQueue.erase(it);
            throw;
        }
        FWake.wait(lock, [&] { return item.Done; });
        return;
    }
    std::unique_lock<std::mutex> lock(FLock);
    FWake.wait(lock, [&] { return item.Done; });
}

void GuiHandOver::Serve(const TJvHidDeviceReadThread* Reader) {
    for (;;) {
        Item* item;
        {
            std::lock_guard<std::mutex> lock(FLock);
            auto it = Find(Reader);
            if (it == FQueue.end()) return;
            item = *it;
            FQueue.erase(it);
        }
        tDelivering.push_back(item->Reader);
        try {
            item->Fn();
        } catch (...) {
            // The reader cannot take it and the event loop must not see it.
            item->Loop->HandleException(std::current_exception());
        }
        tDelivering.pop_back();
        {
            std::lock_guard<std::mutex> lock(FLock);
            item->Done = true;
        }
        FWake.notify_all();
    }
}

bool GuiHandOver::IsDelivering(const TJvHidDeviceReadThread* Reader) {
    return std::find(tDelivering.begin(), tDelivering.end(), Reader) != tDelivering.end();
}

std::deque<GuiHandOver::Item*>::iterator GuiHandOver::Find(const TJvHidDeviceReadThread* Reader) {
    return std::find_if(FQueue.begin(), FQueue.end(), [Reader](const Item* I) {
        return Reader == nullptr || I->Reader == Reader;
    });
}
