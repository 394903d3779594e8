// File handles on hidraw nodes and the overlapped read over poll().
//
// A thread has at most one read pending. It makes progress only inside that thread's alertable
// SleepEx, which polls the node, reads one report, records the count in the OVERLAPPED record
// (Internal: 0 or the Win32 error, InternalHigh: bytes) and runs the completion routine there,
// as Windows runs it as an APC of the waiting thread.
#include "hid/linux/HidLinuxHelpers.h"
#include "hid/linux/LinuxHidInternal.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace hidlinux {

namespace {

// hidraw hands out at most this much per report.
constexpr size_t kMaxReportSize = 16384;

thread_local DWORD tLastError = ERROR_SUCCESS;

HandleRegistry<HandleState>& Handles() {
    static HandleRegistry<HandleState> handles;
    return handles;
}

struct PendingRead {
    std::shared_ptr<HandleState> Handle;
    uint8_t* Buffer = nullptr;
    DWORD Length = 0;
    OVERLAPPED* Overlapped = nullptr;
    LPOVERLAPPED_COMPLETION_ROUTINE Routine = nullptr;
};

thread_local std::optional<PendingRead> tPending;

BOOL Fail(DWORD Error) {
    SetLastErrorCode(Error);
    return FALSE;
}

std::string_view BaseName(std::string_view Path) {
    const size_t slash = Path.rfind('/');
    return slash == std::string_view::npos ? Path : Path.substr(slash + 1);
}

void SleepMilliseconds(DWORD Milliseconds) {
    if (Milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

// Ends this thread's pending read: record the result, then run the routine, which may start
// the next read.
void CompletePending(DWORD Error, DWORD Count) {
    PendingRead done = std::move(*tPending);
    tPending.reset();
    done.Overlapped->Internal = Error;
    done.Overlapped->InternalHigh = Count;
    done.Routine(Error, Count, done.Overlapped);
}

bool NodeGone(HandleState& State) {
    if (State.Gone.load()) return true;
    pollfd fd{State.Fd, POLLIN, 0};
    while (::poll(&fd, 1, 0) < 0)
        if (errno != EINTR) return false;
    if ((fd.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0) return false;
    State.Gone.store(true);
    return true;
}

bool UsesReportIds(HandleState& State) {
    const auto info = HandleReportInfo(State);
    // Without a descriptor nothing says the device numbers its reports; the caller still needs
    // byte 0 to be the report ID, so the report is taken as unnumbered (ID 0).
    return info && info->UsesReportIds;
}

} // namespace

void SetLastErrorCode(DWORD Code) {
    tLastError = Code;
}
DWORD LastErrorCode() {
    return tLastError;
}

HandleState::~HandleState() {
    if (Fd >= 0) ::close(Fd);
    if (WakeFd >= 0) ::close(WakeFd);
}

std::shared_ptr<HandleState> FindHandle(HANDLE Handle) {
    return Handles().Find(Handle);
}

namespace {

// Caller holds State.DescriptorMutex.
void LookUpDescriptor(HandleState& State) {
    if (State.DescriptorLooked) return;
    State.DescriptorLooked = true;
    if (State.Fd >= 0) {
        int size = 0;
        if (::ioctl(State.Fd, HIDIOCGRDESCSIZE, &size) == 0 && size >= 0 &&
            size <= HID_MAX_DESCRIPTOR_SIZE) {
            auto raw = std::make_unique<hidraw_report_descriptor>();
            raw->size = static_cast<__u32>(size);
            if (::ioctl(State.Fd, HIDIOCGRDESC, raw.get()) == 0) {
                State.Descriptor.emplace(raw->value, raw->value + size);
            }
        }
    }
    if (!State.Descriptor && State.Node) State.Descriptor = ReadSysfsReportDescriptor(*State.Node);
}

} // namespace

std::optional<std::vector<uint8_t>> HandleDescriptor(HandleState& State) {
    std::lock_guard lock(State.DescriptorMutex);
    LookUpDescriptor(State);
    return State.Descriptor;
}

std::shared_ptr<const ReportDescriptorInfo> HandleReportInfo(HandleState& State) {
    std::lock_guard lock(State.DescriptorMutex);
    LookUpDescriptor(State);
    if (!State.Info && State.Descriptor) {
        State.Info =
            std::make_shared<const ReportDescriptorInfo>(ParseReportDescriptor(*State.Descriptor));
    }
    return State.Info;
}

HANDLE AdoptDescriptor(int Fd, DWORD Access, std::optional<uint32_t> Bus,
                       std::optional<std::vector<uint8_t>> Descriptor) {
    auto state = std::make_shared<HandleState>();
    state->Fd = Fd;
    state->WakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    state->Access = Access;
    state->Bus = Bus;
    state->DescriptorLooked = Descriptor.has_value();
    state->Descriptor = std::move(Descriptor);
    return Handles().Add(std::move(state));
}

HANDLE WINAPI CreateFileA(LPCSTR FileName, DWORD DesiredAccess, DWORD, void*,
                          DWORD CreationDisposition, DWORD FlagsAndAttributes, HANDLE) {
    if (!FileName || CreationDisposition != OPEN_EXISTING) {
        SetLastErrorCode(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Only hidraw nodes: the HID entries would otherwise send their ioctls to any file.
    const std::string_view name = BaseName(FileName);
    if (!IsHidrawName(name)) {
        SetLastErrorCode(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }

    auto state = std::make_shared<HandleState>();
    state->Access = DesiredAccess & (GENERIC_READ | GENERIC_WRITE);
    state->Node = ResolveHidrawName(name);

    if (state->Access == 0) {
        // Query-only: served from sysfs, so it works without access to the node.
        if (!state->Node) {
            SetLastErrorCode(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        return Handles().Add(std::move(state));
    }

    int flags = O_CLOEXEC;
    if (state->Access == (GENERIC_READ | GENERIC_WRITE)) {
        flags |= O_RDWR;
    } else if (state->Access == GENERIC_READ) {
        flags |= O_RDONLY;
    } else {
        flags |= O_WRONLY;
    }
    // Opened without blocking, so that a FIFO of a hidraw name cannot hang here; only a
    // character device is kept, as the HID entries send their ioctls to it.
    int fd;
    do {
        fd = ::open(FileName, flags | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        SetLastErrorCode(Win32ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        ::close(fd);
        SetLastErrorCode(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (!(FlagsAndAttributes & FILE_FLAG_OVERLAPPED))
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    state->Fd = fd;
    state->WakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    hidraw_devinfo info{};
    if (::ioctl(fd, HIDIOCGRAWINFO, &info) == 0) state->Bus = info.bustype;
    return Handles().Add(std::move(state));
}

BOOL WINAPI CloseHandle(HANDLE Object) {
    const auto state = Handles().Remove(Object);
    if (!state) return Fail(ERROR_INVALID_HANDLE);
    state->Closed.store(true);
    if (state->WakeFd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = ::write(state->WakeFd, &one, sizeof one);
    }
    // This thread's own read on it can never complete now; other threads' reads end with
    // ERROR_OPERATION_ABORTED in their next wait.
    if (tPending && tPending->Handle == state) {
        tPending->Overlapped->Internal = ERROR_OPERATION_ABORTED;
        tPending->Overlapped->InternalHigh = 0;
        tPending.reset();
    }
    return TRUE;
}

BOOL WINAPI ReadFileEx(HANDLE File, void* Buffer, DWORD NumberOfBytesToRead, OVERLAPPED* Overlapped,
                       LPOVERLAPPED_COMPLETION_ROUTINE CompletionRoutine) {
    const auto state = FindHandle(File);
    if (!state) return Fail(ERROR_INVALID_HANDLE);
    if (state->Fd < 0 || !(state->Access & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
    if (!Overlapped || !CompletionRoutine || (!Buffer && NumberOfBytesToRead > 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (tPending) return Fail(ERROR_BUSY);
    // A pulled node reports hang-up (or a former read found it gone): refuse to start, as
    // Windows does, rather than start a read that can only fail at once.
    if (NodeGone(*state)) return Fail(ERROR_DEVICE_NOT_CONNECTED);
    // A buffer shorter than the longest input report would cut reports: refused, as Windows
    // refuses it.
    if (const auto info = HandleReportInfo(*state)) {
        const uint32_t longest = info->MaxBytes(ReportKind::Input);
        if (longest > 0 && NumberOfBytesToRead < longest + 1) {
            return Fail(ERROR_INVALID_USER_BUFFER);
        }
    }
    // Reads happen only after poll() says a report is there; never let one block regardless.
    const int fl = ::fcntl(state->Fd, F_GETFL);
    if (fl >= 0 && !(fl & O_NONBLOCK)) ::fcntl(state->Fd, F_SETFL, fl | O_NONBLOCK);

    Overlapped->Internal = STATUS_PENDING;
    Overlapped->InternalHigh = 0;
    tPending = PendingRead{state, static_cast<uint8_t*>(Buffer), NumberOfBytesToRead, Overlapped,
                           CompletionRoutine};
    return TRUE;
}

BOOL WINAPI GetOverlappedResult(HANDLE File, OVERLAPPED* Overlapped,
                                DWORD* NumberOfBytesTransferred, BOOL) {
    if (!FindHandle(File)) return Fail(ERROR_INVALID_HANDLE);
    if (!Overlapped || !NumberOfBytesTransferred) return Fail(ERROR_INVALID_PARAMETER);
    // A read progresses only in its own thread's alertable wait, so waiting here could never
    // end: a pending read answers "incomplete" whatever the wait flag says.
    if (Overlapped->Internal == STATUS_PENDING) return Fail(ERROR_IO_INCOMPLETE);
    if (Overlapped->Internal != ERROR_SUCCESS) {
        *NumberOfBytesTransferred = 0;
        return Fail(static_cast<DWORD>(Overlapped->Internal));
    }
    *NumberOfBytesTransferred = static_cast<DWORD>(Overlapped->InternalHigh);
    return TRUE;
}

DWORD WINAPI SleepEx(DWORD Milliseconds, BOOL Alertable) {
    if (!Alertable || !tPending) {
        if (Milliseconds == INFINITE) {
            for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
        }
        SleepMilliseconds(Milliseconds);
        return 0;
    }

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(Milliseconds);
    thread_local std::vector<uint8_t> report(kMaxReportSize);
    for (;;) {
        HandleState& h = *tPending->Handle;
        if (h.Closed.load()) {
            CompletePending(ERROR_OPERATION_ABORTED, 0);
            return WAIT_IO_COMPLETION;
        }
        int timeout = -1;
        if (Milliseconds != INFINITE) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            timeout = static_cast<int>(std::max<long long>(left, 0));
        }
        pollfd fds[2] = {{h.Fd, POLLIN, 0}, {h.WakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, h.WakeFd >= 0 ? 2 : 1, timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            CompletePending(Win32ErrorFromErrno(errno), 0);
            return WAIT_IO_COMPLETION;
        }
        if (ready == 0) return 0;
        if (fds[0].revents == 0) continue; // woken for a close: checked at the top

        const ssize_t n = ::read(h.Fd, report.data(), report.size());
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) {
            // ENODEV / EIO once the device is gone; end of file is no better.
            const DWORD error = n < 0 ? Win32ErrorFromErrno(errno) : ERROR_DEVICE_NOT_CONNECTED;
            if (error == ERROR_DEVICE_NOT_CONNECTED) h.Gone.store(true);
            CompletePending(error, 0);
            return WAIT_IO_COMPLETION;
        }
        const size_t count = NormaliseInputReport(
            std::span<const uint8_t>(report.data(), static_cast<size_t>(n)), UsesReportIds(h),
            std::span<uint8_t>(tPending->Buffer, tPending->Length));
        CompletePending(ERROR_SUCCESS, static_cast<DWORD>(count));
        return WAIT_IO_COMPLETION;
    }
}

DWORD WINAPI GetLastError() {
    return tLastError;
}

BOOL WINAPI CancelIo(HANDLE File) {
    const auto state = FindHandle(File);
    if (!state) return Fail(ERROR_INVALID_HANDLE);
    // The read is dropped, its routine never runs; the record says it was aborted.
    if (tPending && tPending->Handle == state) {
        tPending->Overlapped->Internal = ERROR_OPERATION_ABORTED;
        tPending->Overlapped->InternalHigh = 0;
        tPending.reset();
    }
    return TRUE;
}

} // namespace hidlinux
