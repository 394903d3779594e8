// The event loop the shared HID tests run on: the one each build's programs use, Qt's adapter
// in the Linux build and the Win32 message loop in the Qt-free Windows build.
#pragma once

#ifdef _WIN32
#include "hid/windows/WinHidEventLoop.h"

using TestEventLoop = WinHidEventLoop;

// The test program's main thread, the GUI thread; the Windows test entry records it.
inline DWORD& TestMainThread() {
    static DWORD id = 0;
    return id;
}
inline bool OnTestMainThread() {
    return GetCurrentThreadId() == TestMainThread();
}
// Runs the pending events; with a time, first waits up to that long for one to arrive.
inline void ProcessTestEvents(int MaxMilliseconds = 0) {
    WinHidEventLoop::ProcessMessages(MaxMilliseconds > 0 ? static_cast<DWORD>(MaxMilliseconds) : 0);
}
#else
#include "hid/qt/QtHidEventLoop.h"

#include <QCoreApplication>
#include <QThread>

using TestEventLoop = QtHidEventLoop;

inline bool OnTestMainThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}
// Runs the pending events; with a time, for up to that long.
inline void ProcessTestEvents(int MaxMilliseconds = 0) {
    if (MaxMilliseconds > 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, MaxMilliseconds);
    else
        QCoreApplication::processEvents();
}
#endif
