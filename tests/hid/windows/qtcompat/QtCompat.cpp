#include "QCoreApplication"
#include "QThread"

namespace {
QCoreApplication* gInstance = nullptr;
thread_local char tThreadTag;
} // namespace

QThread* QThread::currentThread() {
    return reinterpret_cast<QThread*>(&tThreadTag);
}

QCoreApplication::QCoreApplication() : FThread(QThread::currentThread()) {
    gInstance = this;
}

QCoreApplication::~QCoreApplication() {
    gInstance = nullptr;
}

QCoreApplication* QCoreApplication::instance() {
    return gInstance;
}

void QCoreApplication::processEvents(QEventLoop::ProcessEventsFlag, int MaxTime) {
    WinHidEventLoop::ProcessMessages(MaxTime > 0 ? static_cast<DWORD>(MaxTime) : 0);
}
