// File handles on the simulated devices, the overlapped read, and the device monitor.
//
// Reads pend per thread and make progress only inside that thread's alertable SleepEx, which
// takes the device's next input report, records the count in the OVERLAPPED record and runs the
// completion routine there, as Windows runs it as an APC of the waiting thread.
#include "hid/sim/SimHidInternal.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace hidsim {

namespace {

thread_local DWORD tLastError = ERROR_SUCCESS;
std::atomic<uint64_t> gThreadSeq{1};
thread_local uint64_t tThreadToken = 0;

} // namespace

void SetLastErrorCode(DWORD Error) {
    tLastError = Error;
}

uint64_t ThreadToken() {
    if (tThreadToken == 0) tThreadToken = gThreadSeq.fetch_add(1);
    return tThreadToken;
}

HANDLE WINAPI SimCreateFileA(LPCSTR FileName, DWORD DesiredAccess, DWORD, void*, DWORD,
                             DWORD FlagsAndAttributes, HANDLE) {
    SIM_IMPL(INVALID_HANDLE_VALUE);
    std::string path = FileName != nullptr ? FileName : "";
    auto device = s->PluggedAt(path);
    DWORD error = ERROR_SUCCESS;
    if (device == nullptr)
        error = ERROR_FILE_NOT_FOUND;
    else if (device->Desc.Access == SimAccess::None)
        error = ERROR_ACCESS_DENIED;
    else if (device->Desc.Access == SimAccess::QueryOnly &&
             (DesiredAccess & (GENERIC_READ | GENERIC_WRITE)) != 0)
        error = ERROR_ACCESS_DENIED;
    else if (device->Desc.Access == SimAccess::Held &&
             (DesiredAccess & (GENERIC_READ | GENERIC_WRITE)) != 0)
        error = ERROR_SHARING_VIOLATION;
    s->OpenLog.push_back({path, DesiredAccess, FlagsAndAttributes, error == ERROR_SUCCESS});
    if (error != ERROR_SUCCESS) return Fail(error, INVALID_HANDLE_VALUE);
    uintptr_t id = s->NewId();
    s->Handles[id] = SimHandle{device, DesiredAccess, FlagsAndAttributes, 32};
    return ToHandle(id);
}

BOOL WINAPI SimCloseHandle(HANDLE Object) {
    SIM_IMPL(FALSE);
    uintptr_t id = ToId(Object);
    if (s->Handles.erase(id) == 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
    bool woke = false;
    for (SimPendingRead& p : s->Pending)
        if (p.Handle == id && p.AbortError == 0) {
            p.AbortError = ERROR_OPERATION_ABORTED;
            woke = true;
        }
    if (woke) s->CV.notify_all();
    return TRUE;
}

BOOL WINAPI SimReadFileEx(HANDLE File, void* Buffer, DWORD NumberOfBytesToRead,
                          OVERLAPPED* Overlapped, LPOVERLAPPED_COMPLETION_ROUTINE Routine) {
    SIM_IMPL(FALSE);
    SimHandle* h = s->LiveHandle(File);
    if (h == nullptr) return FALSE;
    if ((h->Flags & FILE_FLAG_OVERLAPPED) == 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if ((h->Access & GENERIC_READ) == 0) return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (h->Device->Desc.ReadStartError != 0) return Fail(h->Device->Desc.ReadStartError, FALSE);
    if (Buffer == nullptr || NumberOfBytesToRead == 0 || Overlapped == nullptr)
        return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
    // A buffer shorter than the device's input reports would cut them: refused, as Windows
    // refuses it.
    if (NumberOfBytesToRead < h->Device->Desc.InputReportByteLength)
        return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
    Overlapped->Internal = STATUS_PENDING;
    Overlapped->InternalHigh = 0;
    s->Pending.push_back(SimPendingRead{ThreadToken(), ToId(File), h->Device,
                                        static_cast<uint8_t*>(Buffer), NumberOfBytesToRead,
                                        Overlapped, Routine, 0});
    ++s->ReadStarts;
    return TRUE;
}

BOOL WINAPI SimGetOverlappedResult(HANDLE File, OVERLAPPED* Overlapped, DWORD* Transferred, BOOL) {
    SIM_IMPL(FALSE);
    if (s->Handles.count(ToId(File)) == 0 || Overlapped == nullptr)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (Overlapped->Internal == STATUS_PENDING) return Fail(ERROR_IO_INCOMPLETE, FALSE);
    if (Transferred != nullptr) *Transferred = static_cast<DWORD>(Overlapped->InternalHigh);
    if (Overlapped->Internal != 0) return Fail(static_cast<DWORD>(Overlapped->Internal), FALSE);
    return TRUE;
}

DWORD WINAPI SimSleepEx(DWORD Milliseconds, BOOL Alertable) {
    SimHidPlatform::Impl* s = gActive.load();
    if (s == nullptr) return 0;
    std::unique_lock<std::mutex> lock(s->M);
    const uint64_t me = ThreadToken();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(Milliseconds);
    bool timedOut = false;
    for (;;) {
        if (Alertable) {
            auto it = std::find_if(s->Pending.begin(), s->Pending.end(), [&](const auto& p) {
                return p.Thread == me &&
                       (p.AbortError != 0 || !p.Device->Plugged || !p.Device->Input.empty());
            });
            if (it != s->Pending.end()) {
                DWORD error = ERROR_SUCCESS;
                DWORD bytes = 0;
                if (it->AbortError != 0) {
                    error = it->AbortError;
                } else if (!it->Device->Plugged) {
                    error = ERROR_DEVICE_NOT_CONNECTED;
                } else {
                    std::vector<uint8_t> report = std::move(it->Device->Input.front());
                    it->Device->Input.pop_front();
                    bytes = std::min<DWORD>(it->Length, static_cast<DWORD>(report.size()));
                    std::memcpy(it->Buffer, report.data(), bytes);
                }
                it->Overlapped->Internal = error;
                it->Overlapped->InternalHigh = bytes;
                LPOVERLAPPED_COMPLETION_ROUTINE routine = it->Routine;
                OVERLAPPED* overlapped = it->Overlapped;
                s->Pending.erase(it);
                lock.unlock();
                if (routine != nullptr) routine(error, bytes, overlapped);
                return WAIT_IO_COMPLETION;
            }
        }
        if (timedOut) return 0;
        timedOut = s->CV.wait_until(lock, deadline) == std::cv_status::timeout;
    }
}

DWORD WINAPI SimGetLastError() {
    return tLastError;
}

BOOL WINAPI SimCancelIo(HANDLE File) {
    SIM_IMPL(FALSE);
    uintptr_t id = ToId(File);
    if (s->Handles.count(id) == 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
    const uint64_t me = ThreadToken();
    // Ended at once, marked aborted as the system marks it; its routine is never run.
    s->Pending.remove_if([&](const SimPendingRead& p) {
        bool mine = p.Thread == me && p.Handle == id;
        if (mine) {
            ++s->Cancels;
            p.Overlapped->Internal = ERROR_OPERATION_ABORTED;
            p.Overlapped->InternalHigh = 0;
        }
        return mine;
    });
    return TRUE;
}

#ifdef _WIN32
// No descriptor on Windows: changes are broadcast to the windows (Notify).
int SimOpenDeviceMonitor() {
    return -1;
}
bool SimReadDeviceMonitor(int) {
    return false;
}
void SimCloseDeviceMonitor(int) {}
#else
int SimOpenDeviceMonitor() {
    SIM_IMPL(-1);
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return -1;
    s->Monitors[fds[0]] = fds[1];
    return fds[0];
}

bool SimReadDeviceMonitor(int Fd) {
    SIM_IMPL(false);
    if (s->Monitors.count(Fd) == 0) return false;
    bool hid = false;
    char buffer[64];
    for (;;) {
        ssize_t n = ::read(Fd, buffer, sizeof buffer);
        if (n <= 0) break;
        hid = hid || std::find(buffer, buffer + n, kHidChange) != buffer + n;
    }
    return hid;
}

void SimCloseDeviceMonitor(int Fd) {
    SimHidPlatform::Impl* s = gActive.load();
    if (s == nullptr) return;
    std::lock_guard<std::mutex> lock(s->M);
    auto it = s->Monitors.find(Fd);
    if (it == s->Monitors.end()) return;
    ::close(it->first);
    ::close(it->second);
    s->Monitors.erase(it);
}
#endif

} // namespace hidsim
