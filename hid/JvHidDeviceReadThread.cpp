#include "hid/JvHidControllerClass.h"

#include "hid/HidPlatform.h"
#include "hid/JvHidHandOver.h"

#include <algorithm>
#include <chrono>
#include <system_error>

namespace {

// Ends the alertable wait of the reader; the result is taken from the device afterwards.
void WINAPI ReadCompletion(DWORD, DWORD, OVERLAPPED*) {}

} // namespace

TJvHidDeviceReadThread::TJvHidDeviceReadThread(TJvHidDevice* Dev, HidEventLoop* Loop)
    : Device(Dev), FLoop(Loop) {
    // Taken here, on the GUI thread: the reader itself never opens the synchronous handle.
    Report.resize(Dev->Caps().InputReportByteLength);
}

TJvHidDeviceReadThread::~TJvHidDeviceReadThread() {
    if (FThread.joinable()) {
        Terminate();
        FThread.join();
    }
}

bool TJvHidDeviceReadThread::Resume() {
    if (FThread.joinable() || FFinished.load()) return FThread.joinable();
    try {
        FThread = std::thread([this] { Execute(); });
    } catch (const std::system_error&) {
        FFinished.store(true);
        return false;
    }
    return true;
}

void TJvHidDeviceReadThread::Execute() {
    try {
        const HidPlatform& platform = CurrentHidPlatform();
        DWORD waitResult = WAIT_IO_COMPLETION;
        while (!Terminated()) {
            waitResult = WAIT_IO_COMPLETION;
            std::fill(Report.begin(), Report.end(), 0);
            if (Device->ReadOverlapped(Report.data(), static_cast<uint32_t>(Report.size()),
                                       &ReadCompletion)) {
                do {
                    waitResult =
                        platform.SleepEx(static_cast<DWORD>(Device->ReadSleepTime()), TRUE);
                } while (!Terminated() && waitResult != WAIT_IO_COMPLETION);
                if (Terminated()) break;
                NumBytesRead = Device->OverlappedBytesRead();
                if (NumBytesRead > 0) Synchronize(&TJvHidDeviceReadThread::DoData);
            } else {
                LastError = platform.GetLastError();
                Synchronize(&TJvHidDeviceReadThread::DoDataError);
                // A device that refuses every read (pulled, no udev to tell) must not make the
                // reader spin: one wait step before the next try.
                if (!Terminated())
                    platform.SleepEx(static_cast<DWORD>(Device->ReadSleepTime()), FALSE);
            }
        }
        // Still pending: cancelled here, since the cancel acts on this thread's I/O.
        if (waitResult != WAIT_IO_COMPLETION) {
            Device->CancelOverlappedIo(omhRead);
            // A cancelled read is finished by the system later and may write to Report and to
            // the device's block until then: wait for it (bounded) before Report can go.
            const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (Device->OverlappedReadPending() && std::chrono::steady_clock::now() < giveUp)
                platform.SleepEx(10, TRUE);
        }
    } catch (...) {}
    const bool freeSelf = FFreeOnExit.load();
    GuiHandOver::Instance().Signal([this] { FFinished.store(true); });
    if (freeSelf) delete this;
}

void TJvHidDeviceReadThread::Synchronize(void (TJvHidDeviceReadThread::*Fn)()) {
    try {
        if (FLoop == nullptr)
            (this->*Fn)(); // no GUI thread to hand it to
        else
            GuiHandOver::Instance().RunAndWait(*FLoop, this, [this, Fn] { (this->*Fn)(); });
    } catch (...) {
        // Without an event loop a handler's exception lands here; with one, only a hand-over
        // that could not be posted. The delivery is dropped and said so as the loop says it;
        // the reader goes on, since one that ended here would stay as an object and block
        // every later StartReader.
        HidEventLoop::ReportDropped(std::current_exception());
    }
}

void TJvHidDeviceReadThread::DoData() {
    TJvHidDataEvent onData = Device->OnData();
    if (!onData) return;
    // Never more than the buffer, whatever count the platform reports.
    DWORD count = std::min<DWORD>(NumBytesRead, static_cast<DWORD>(Report.size()));
    if (count == 0) return;
    onData(Device, Report[0], Report.data() + 1, static_cast<uint16_t>(count - 1));
}

void TJvHidDeviceReadThread::DoDataError() {
    TJvHidDataErrorEvent onDataError = Device->OnDataError();
    if (onDataError) onDataError(Device, LastError);
}
