#include "tools/cli/OutputFile.h"

#include <algorithm>
#include <windows.h>

namespace cli {

struct OutputFile::Native {
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool owned = true; // standard output's handle is not closed here
    BY_HANDLE_FILE_INFORMATION identity{};

    ~Native() {
        if (handle != INVALID_HANDLE_VALUE && owned) ::CloseHandle(handle);
    }
};

namespace {

std::wstring Wide(const std::string& Utf8) {
    if (Utf8.empty()) return std::wstring();
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), static_cast<int>(Utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), static_cast<int>(Utf8.size()), wide.data(), n);
    return wide;
}

// The lock lies far beyond any data: Windows' locks are mandatory, and a lock on the rows would
// keep every reader (a spreadsheet, a plot) from them.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

bool SameFile(const BY_HANDLE_FILE_INFORMATION& A, const BY_HANDLE_FILE_INFORMATION& B) {
    return A.dwVolumeSerialNumber == B.dwVolumeSerialNumber &&
           A.nFileIndexHigh == B.nFileIndexHigh && A.nFileIndexLow == B.nFileIndexLow;
}

} // namespace

std::string SystemReason(int Error) {
    switch (static_cast<DWORD>(Error)) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "the disk is full";
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED:
        return "its reader went away";
    case ERROR_ACCESS_DENIED:
        return "access denied";
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
        return "no such file or folder";
    default:
        break;
    }
    char text[256] = {};
    const DWORD n =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         static_cast<DWORD>(Error), 0, text, sizeof text, nullptr);
    std::string reason(text, n);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                               reason.back() == '.' || reason.back() == ' '))
        reason.pop_back();
    return reason.empty() ? "error " + std::to_string(Error) : reason;
}

OutputFile::OutputFile() : native_(std::make_unique<Native>()) {}

OutputFile::~OutputFile() = default;

bool OutputFile::OpenNative(How Mode, std::string& Error) {
    Native& n = *native_;
    const std::wstring wide = Wide(path_);
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    // A named pipe or device (\\.\...) is written to as it is.
    const bool device = path_.rfind("\\\\.\\", 0) == 0;
    n.handle = ::CreateFileW(wide.c_str(), device ? GENERIC_WRITE : GENERIC_READ | GENERIC_WRITE,
                             share, nullptr,
                             device                   ? OPEN_EXISTING
                             : Mode == How::CreateNew ? CREATE_NEW
                                                      : OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (n.handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        Error = error == ERROR_FILE_EXISTS
                    ? path_ + " exists: give --force to replace it or --append to add to it"
                : error == ERROR_PIPE_BUSY || error == ERROR_PIPE_NOT_CONNECTED
                    ? "no process reads " + path_ + ": start its reader first"
                    : "cannot open " + path_ + ": " + SystemReason(static_cast<int>(error));
        return false;
    }
    regular_ = ::GetFileType(n.handle) == FILE_TYPE_DISK;
    if (!regular_) return true;
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    if (!::LockFileEx(n.handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &at)) {
        const DWORD error = ::GetLastError();
        Error = error == ERROR_LOCK_VIOLATION
                    ? path_ + " is being written by another program (another ormelix-cli?): "
                              "not writing to it"
                    : "cannot lock " + path_ + ": " + SystemReason(static_cast<int>(error));
        return false;
    }
    // Emptied only now that no other writer has it.
    if (Mode == How::Replace && !::SetEndOfFile(n.handle)) {
        Error = "cannot empty " + path_ + ": " + SystemReason(static_cast<int>(::GetLastError()));
        return false;
    }
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(n.handle, &size)) sizeAtOpen_ = static_cast<uint64_t>(size.QuadPart);
    ::GetFileInformationByHandle(n.handle, &n.identity);
    return true;
}

bool OutputFile::UseStandardOutput(std::string& Error) {
    Native& n = *native_;
    n.handle = ::GetStdHandle(STD_OUTPUT_HANDLE);
    n.owned = false;
    if (n.handle == INVALID_HANDLE_VALUE || n.handle == nullptr) {
        Error = "cannot use standard output: it is not there";
        return false;
    }
    regular_ = ::GetFileType(n.handle) == FILE_TYPE_DISK;
    return true;
}

OutputFile::Transfer OutputFile::ReadSome(uint64_t Offset, char* Into, size_t Count) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(Offset);
    at.OffsetHigh = static_cast<DWORD>(Offset >> 32);
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(Count, 1u << 30));
    if (::ReadFile(native_->handle, Into, want, &n, &at)) return {Transfer::Kind::Moved, n};
    const DWORD error = ::GetLastError();
    // Past the end: as a read of nothing.
    if (error == ERROR_HANDLE_EOF) return {Transfer::Kind::Moved, 0};
    return {Transfer::Kind::Failed, 0, static_cast<int>(error)};
}

OutputFile::Transfer OutputFile::WriteSome(std::string_view Bytes) {
    if (StopRequested.load() && !regular_) return {Transfer::Kind::Stopped};
    if (regular_) {
        // Every row at the end, as O_APPEND does; this run alone writes the file.
        LARGE_INTEGER zero{};
        ::SetFilePointerEx(native_->handle, zero, nullptr, FILE_END);
    }
    DWORD n = 0;
    // A write blocked on a full pipe is cancelled by the console-control handler.
    if (!::WriteFile(native_->handle, Bytes.data(), static_cast<DWORD>(Bytes.size()), &n,
                     nullptr)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_OPERATION_ABORTED && StopRequested.load())
            return {Transfer::Kind::Stopped};
        return {Transfer::Kind::Failed, 0, static_cast<int>(error)};
    }
    if (n == 0) return {Transfer::Kind::Failed, 0, ERROR_DISK_FULL};
    return {Transfer::Kind::Moved, n};
}

bool OutputFile::Truncate(uint64_t Size, std::string& Error) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(Size);
    if (::SetFilePointerEx(native_->handle, at, nullptr, FILE_BEGIN) &&
        ::SetEndOfFile(native_->handle))
        return true;
    Error = SystemReason(static_cast<int>(::GetLastError()));
    return false;
}

bool OutputFile::Flush(std::string& Error) {
    if (!regular_ || ::FlushFileBuffers(native_->handle)) return true;
    Error = SystemReason(static_cast<int>(::GetLastError()));
    return false;
}

bool OutputFile::SameFileAtPath() const {
    HANDLE now = ::CreateFileW(Wide(path_).c_str(), 0,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool same = now != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(now, &info) &&
                      SameFile(info, native_->identity);
    if (now != INVALID_HANDLE_VALUE) ::CloseHandle(now);
    return same;
}

bool OutputFile::ReaderGone() const {
    if (regular_ || ::GetFileType(native_->handle) != FILE_TYPE_PIPE) return false;
    DWORD available = 0;
    if (::PeekNamedPipe(native_->handle, nullptr, 0, nullptr, &available, nullptr)) return false;
    const DWORD error = ::GetLastError();
    return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
}

} // namespace cli
