// The GUI-thread hand-over of the readers (private to the HID layer). A reader queues its
// delivery, posts a call that serves the queue, and sleeps until the delivery has run. A GUI
// thread that waits for a reader to end serves the queue itself, so a reader blocked in a
// hand-over can always finish.
#pragma once

#include "hid/HidEventLoop.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

class TJvHidDeviceReadThread;

class GuiHandOver {
public:
    // Never destroyed: a reader stopped from inside its own delivery ends detached and may
    // still signal here while the program exits.
    static GuiHandOver& Instance();

    void RunAndWait(HidEventLoop& Loop, const TJvHidDeviceReadThread* Reader,
                    std::function<void()> Fn);

    // GUI thread: runs the queued deliveries of Reader, or of every reader when it is null.
    // A reader's stop serves only its own: another device's handler run inside a stop could
    // free the device being stopped.
    void Serve(const TJvHidDeviceReadThread* Reader);

    // Sleeps until a delivery of Reader is queued (never, for a null Reader), Done() holds, or
    // Timeout has passed.
    template <class Pred>
    void WaitForWork(const TJvHidDeviceReadThread* Reader, Pred Done,
                     std::chrono::milliseconds Timeout) {
        std::unique_lock<std::mutex> lock(FLock);
        FWake.wait_for(lock, Timeout, [&] {
            return (Reader != nullptr && Find(Reader) != FQueue.end()) || Done();
        });
    }

    // Runs Change under the hand-over lock and wakes every waiter.
    template <class Fn> void Signal(Fn Change) {
        {
            std::lock_guard<std::mutex> lock(FLock);
            Change();
        }
        FWake.notify_all();
    }

    static bool IsDelivering(const TJvHidDeviceReadThread* Reader);

    // A delivery of Reader waits in the queue.
    bool Queued(const TJvHidDeviceReadThread* Reader) {
        std::lock_guard<std::mutex> lock(FLock);
        return Reader != nullptr && Find(Reader) != FQueue.end();
    }

private:
    struct Item {
        const TJvHidDeviceReadThread* Reader;
        HidEventLoop* Loop;
        std::function<void()> Fn;
        bool Done;
    };

    // Caller holds FLock.
    std::deque<Item*>::iterator Find(const TJvHidDeviceReadThread* Reader);

    std::mutex FLock;
    std::condition_variable FWake;
    std::deque<Item*> FQueue;
    static thread_local std::vector<const TJvHidDeviceReadThread*> tDelivering;
};
