// The HID layer's event-loop services over Qt: posted calls run on the application's thread,
// descriptor watches are socket notifiers. Create it on the GUI thread after the application
// object, and keep it alive longer than any controller it is handed to.
#pragma once

#include "hid/HidEventLoop.h"

#include <QObject>

class QtHidEventLoop final : public HidEventLoop {
public:
    QtHidEventLoop();
    ~QtHidEventLoop() override;

    void Post(std::function<void()> Fn) override;
    void* Watch(int Fd, std::function<void()> OnReadable) override;
    void Unwatch(void* Watch) override;
    bool IsGuiThread() const override;

private:
    // Context of every posted call and parent of every notifier: calls still queued when the
    // adapter goes are dropped with it.
    QObject FContext;
};
