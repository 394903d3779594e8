#include "hid/qt/QtHidEventLoop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QThread>

QtHidEventLoop::QtHidEventLoop() {
    if (QCoreApplication* app = QCoreApplication::instance()) FContext.moveToThread(app->thread());
}

QtHidEventLoop::~QtHidEventLoop() = default;

void QtHidEventLoop::Post(std::function<void()> Fn) {
    QMetaObject::invokeMethod(
        &FContext, [fn = std::move(Fn)] { fn(); }, Qt::QueuedConnection);
}

void* QtHidEventLoop::Watch(int Fd, std::function<void()> OnReadable) {
    auto* notifier =
        new QSocketNotifier(static_cast<qintptr>(Fd), QSocketNotifier::Read, &FContext);
    QObject::connect(notifier, &QSocketNotifier::activated, &FContext,
                     [fn = std::move(OnReadable)] { fn(); });
    return notifier;
}

void QtHidEventLoop::Unwatch(void* Watch) {
    auto* notifier = static_cast<QSocketNotifier*>(Watch);
    if (notifier == nullptr) return;
    // Possibly inside its own activation: stop it now, delete it once the loop is back.
    notifier->setEnabled(false);
    notifier->deleteLater();
}

bool QtHidEventLoop::IsGuiThread() const {
    QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}
