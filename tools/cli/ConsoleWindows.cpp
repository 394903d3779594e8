#include "tools/cli/Console.h"

#include "tools/cli/OutputFile.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <cstdio>
#include <io.h>
#include <windows.h>

namespace cli {

namespace {

std::function<void()> stop;
HANDLE mainThread = nullptr;

// Runs on a thread of its own, which the system starts for the event.
BOOL WINAPI OnControl(DWORD Event) {
    StopRequested.store(true);
    // A write waiting on a full pipe returns.
    if (mainThread) ::CancelSynchronousIo(mainThread);
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] { stop(); }, Qt::QueuedConnection);
    // Closing the window, logging off, shutting down: the process ends when this returns, so
    // it waits for the recording to close its file (the process ends this thread with it).
    if (Event == CTRL_CLOSE_EVENT || Event == CTRL_LOGOFF_EVENT || Event == CTRL_SHUTDOWN_EVENT)
        ::Sleep(4000);
    return TRUE;
}

bool IsConsole(DWORD Which) {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(Which), &mode) != 0;
}

} // namespace

void IgnoreBrokenPipe() {
    // Windows has no SIGPIPE: a write to a pipe without reader fails with ERROR_NO_DATA.
}

bool InstallStopHandlers(std::function<void()> Stop, std::string& Error) {
    stop = std::move(Stop);
    if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                           &mainThread, 0, FALSE, DUPLICATE_SAME_ACCESS))
        mainThread = nullptr;
    if (!::SetConsoleCtrlHandler(OnControl, TRUE)) {
        Error = "cannot set up Ctrl-C handling";
        return false;
    }
    return true;
}

bool StandardOutputIsTerminal() {
    return IsConsole(STD_OUTPUT_HANDLE);
}

bool StandardErrorIsTerminal() {
    return IsConsole(STD_ERROR_HANDLE);
}

} // namespace cli
