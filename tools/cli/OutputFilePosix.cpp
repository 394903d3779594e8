#include "tools/cli/OutputFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

struct OutputFile::Native {
    int fd = -1;
    dev_t device = 0;
    ino_t inode = 0;

    ~Native() {
        if (fd >= 0) ::close(fd);
    }
};

std::string SystemReason(int Error) {
    if (Error == ENOSPC) return "the disk is full";
    if (Error == EDQUOT) return "the disk quota is used up";
    if (Error == EPIPE) return "its reader went away";
    return std::strerror(Error);
}

namespace {

// Waits until Fd takes bytes, or a stop is asked for (false). Asks again every 200 ms, so that
// a signal that came just before the wait is not missed.
bool WaitWritable(int Fd) {
    for (;;) {
        if (StopRequested.load()) return false;
        pollfd p{Fd, POLLOUT, 0};
        const int n = ::poll(&p, 1, 200);
        if (n > 0) return true; // writable, or an error the write will report
        if (n < 0 && errno != EINTR) return true;
    }
}

} // namespace

OutputFile::OutputFile() : native_(std::make_unique<Native>()) {}

OutputFile::~OutputFile() = default;

bool OutputFile::OpenNative(How Mode, std::string& Error) {
    Native& n = *native_;
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        // Write-only: a FIFO opened read-write would be its own reader and swallow every row.
        n.fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (n.fd < 0) {
            Error = errno == ENXIO ? "no process reads " + path_ + ": start its reader first"
                                   : "cannot open " + path_ + ": " + SystemReason(errno);
            return false;
        }
        return true;
    }
    int flags = O_CREAT | O_APPEND | O_NOCTTY | O_CLOEXEC;
    flags |= Mode == How::Append ? O_RDWR : O_WRONLY;
    if (Mode == How::CreateNew) flags |= O_EXCL;
    n.fd = ::open(path_.c_str(), flags, 0666);
    if (n.fd < 0) {
        Error = errno == EEXIST
                    ? path_ + " exists: give --force to replace it or --append to add to it"
                    : "cannot open " + path_ + ": " + SystemReason(errno);
        return false;
    }
    if (::fstat(n.fd, &st) != 0) {
        Error = "cannot examine " + path_ + ": " + SystemReason(errno);
        return false;
    }
    regular_ = S_ISREG(st.st_mode);
    n.device = st.st_dev;
    n.inode = st.st_ino;
    if (regular_) {
        if (::flock(n.fd, LOCK_EX | LOCK_NB) != 0) {
            Error = errno == EWOULDBLOCK
                        ? path_ + " is being written by another program (another ormelix-cli?): "
                                  "not writing to it"
                        : "cannot lock " + path_ + ": " + SystemReason(errno);
            return false;
        }
        // Emptied only now that no other writer has it.
        if (Mode == How::Replace && ::ftruncate(n.fd, 0) != 0) {
            Error = "cannot empty " + path_ + ": " + SystemReason(errno);
            return false;
        }
        if (::fstat(n.fd, &st) == 0) sizeAtOpen_ = static_cast<uint64_t>(st.st_size);
    }
    return true;
}

bool OutputFile::UseStandardOutput(std::string& Error) {
    Native& n = *native_;
    n.fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (n.fd < 0) {
        Error = std::string("cannot use standard output: ") + SystemReason(errno);
        return false;
    }
    struct stat st {};
    regular_ = ::fstat(n.fd, &st) == 0 && S_ISREG(st.st_mode);
    return true;
}

OutputFile::Transfer OutputFile::ReadSome(uint64_t Offset, char* Into, size_t Count) {
    const ssize_t n = ::pread(native_->fd, Into, Count, static_cast<off_t>(Offset));
    if (n < 0) return {errno == EINTR ? Transfer::Kind::Again : Transfer::Kind::Failed, 0, errno};
    return {Transfer::Kind::Moved, static_cast<size_t>(n), 0};
}

OutputFile::Transfer OutputFile::WriteSome(std::string_view Bytes) {
    // Standard output may be a pipe shared with others: it stays blocking, so it is waited for
    // before the write; the signals interrupt the write itself (no restart).
    if (!regular_ && !WaitWritable(native_->fd)) return {Transfer::Kind::Stopped};
    const ssize_t n = ::write(native_->fd, Bytes.data(), Bytes.size());
    if (n < 0 && errno == EINTR)
        return {StopRequested.load() ? Transfer::Kind::Stopped : Transfer::Kind::Again};
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return {Transfer::Kind::Again};
    if (n <= 0) return {Transfer::Kind::Failed, 0, n < 0 ? errno : ENOSPC};
    return {Transfer::Kind::Moved, static_cast<size_t>(n)};
}

bool OutputFile::Truncate(uint64_t Size, std::string& Error) {
    if (::ftruncate(native_->fd, static_cast<off_t>(Size)) == 0) return true;
    Error = SystemReason(errno);
    return false;
}

bool OutputFile::Flush(std::string& Error) {
    if (!regular_ || ::fsync(native_->fd) == 0) return true;
    Error = SystemReason(errno);
    return false;
}

bool OutputFile::SameFileAtPath() const {
    struct stat st {};
    return ::stat(path_.c_str(), &st) == 0 && st.st_dev == native_->device &&
           st.st_ino == native_->inode;
}

bool OutputFile::ReaderGone() const {
    if (regular_) return false;
    pollfd p{native_->fd, 0, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLERR) != 0;
}

} // namespace cli
