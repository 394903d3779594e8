#include "tools/cli/OutputFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

std::atomic<bool> StopRequested{false};

struct OutputFile::Native {
    int fd = -1;
    std::string path; // empty: standard output
    bool regular = false;
    uint64_t sizeAtOpen = 0;
    dev_t device = 0;
    ino_t inode = 0;
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

OutputFile::OutputFile(std::unique_ptr<Native> N) : native_(std::move(N)) {}

OutputFile::~OutputFile() {
    if (native_->fd >= 0) ::close(native_->fd);
}

std::unique_ptr<OutputFile> OutputFile::OpenPath(const std::string& Path, How Mode,
                                                 std::string& Error) {
    auto n = std::make_unique<Native>();
    n->path = Path;
    struct stat st {};
    if (::stat(Path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        // Write-only: a FIFO opened read-write would be its own reader and swallow every row.
        n->fd = ::open(Path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (n->fd < 0) {
            Error = errno == ENXIO ? "no process reads " + Path + ": start its reader first"
                                   : "cannot open " + Path + ": " + SystemReason(errno);
            return nullptr;
        }
        return std::unique_ptr<OutputFile>(new OutputFile(std::move(n)));
    }
    int flags = O_CREAT | O_APPEND | O_NOCTTY | O_CLOEXEC;
    flags |= Mode == How::Append ? O_RDWR : O_WRONLY;
    if (Mode == How::CreateNew) flags |= O_EXCL;
    n->fd = ::open(Path.c_str(), flags, 0666);
    if (n->fd < 0) {
        Error = errno == EEXIST
                    ? Path + " exists: give --force to replace it or --append to add to it"
                    : "cannot open " + Path + ": " + SystemReason(errno);
        return nullptr;
    }
    if (::fstat(n->fd, &st) != 0) {
        Error = "cannot examine " + Path + ": " + SystemReason(errno);
        return nullptr;
    }
    n->regular = S_ISREG(st.st_mode);
    n->device = st.st_dev;
    n->inode = st.st_ino;
    if (n->regular) {
        if (::flock(n->fd, LOCK_EX | LOCK_NB) != 0) {
            Error = errno == EWOULDBLOCK
                        ? Path + " is being written by another program (another ormelix-cli?): "
                                 "not writing to it"
                        : "cannot lock " + Path + ": " + SystemReason(errno);
            return nullptr;
        }
        // Emptied only now that no other writer has it.
        if (Mode == How::Replace && ::ftruncate(n->fd, 0) != 0) {
            Error = "cannot empty " + Path + ": " + SystemReason(errno);
            return nullptr;
        }
        if (::fstat(n->fd, &st) == 0) n->sizeAtOpen = static_cast<uint64_t>(st.st_size);
    }
    return std::unique_ptr<OutputFile>(new OutputFile(std::move(n)));
}

std::unique_ptr<OutputFile> OutputFile::OpenStandardOutput(std::string& Error) {
    auto n = std::make_unique<Native>();
    n->fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (n->fd < 0) {
        Error = std::string("cannot use standard output: ") + SystemReason(errno);
        return nullptr;
    }
    struct stat st {};
    n->regular = ::fstat(n->fd, &st) == 0 && S_ISREG(st.st_mode);
    return std::unique_ptr<OutputFile>(new OutputFile(std::move(n)));
}

bool OutputFile::IsRegular() const {
    return native_->regular;
}

uint64_t OutputFile::SizeAtOpen() const {
    return native_->sizeAtOpen;
}

bool OutputFile::ReadAt(uint64_t Offset, size_t Count, std::string& Into, std::string& Error) {
    Into.assign(Count, '\0');
    size_t got = 0;
    while (got < Count) {
        const ssize_t n =
            ::pread(native_->fd, Into.data() + got, Count - got, static_cast<off_t>(Offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Error = "cannot read " + native_->path + ": " +
                    (n < 0 ? SystemReason(errno) : std::string("it shrank"));
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

OutputFile::Outcome OutputFile::Write(std::string_view Bytes, size_t& Done, std::string& Error) {
    Done = 0;
    while (Done < Bytes.size()) {
        // Standard output may be a pipe shared with others: it stays blocking, so it is waited
        // for before the write; the signals interrupt the write itself (no restart).
        if (!native_->regular && !WaitWritable(native_->fd)) return Outcome::Stopped;
        const ssize_t n = ::write(native_->fd, Bytes.data() + Done, Bytes.size() - Done);
        if (n < 0 && errno == EINTR) {
            if (StopRequested.load()) return Outcome::Stopped;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (n <= 0) {
            Error = SystemReason(n < 0 ? errno : ENOSPC);
            return Outcome::Failed;
        }
        Done += static_cast<size_t>(n);
    }
    return Outcome::Written;
}

bool OutputFile::Truncate(uint64_t Size, std::string& Error) {
    if (::ftruncate(native_->fd, static_cast<off_t>(Size)) == 0) return true;
    Error = SystemReason(errno);
    return false;
}

bool OutputFile::Flush(std::string& Error) {
    if (!native_->regular || ::fsync(native_->fd) == 0) return true;
    Error = SystemReason(errno);
    return false;
}

bool OutputFile::StillAtPath(std::string& Error) const {
    if (!native_->regular || native_->path.empty()) return true;
    struct stat st {};
    if (::stat(native_->path.c_str(), &st) == 0 && st.st_dev == native_->device &&
        st.st_ino == native_->inode)
        return true;
    Error = native_->path + " is gone (removed, or its folder removed or renamed): stopping";
    return false;
}

bool OutputFile::ReaderGone() const {
    if (native_->regular) return false;
    pollfd p{native_->fd, 0, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLERR) != 0;
}

} // namespace cli
