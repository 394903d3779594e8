#include "tools/cli/RowFile.h"

#include "tools/cli/Csv.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cli {

namespace {

std::string Reason(int Error) {
    if (Error == ENOSPC) return "the disk is full";
    if (Error == EDQUOT) return "the disk quota is used up";
    return std::strerror(Error);
}

// Volt rows carry a decimal point or nothing in the volt columns, raw rows whole numbers.
bool IsRawRow(const std::vector<std::string>& Fields) {
    const std::string& minS1 = Fields.at(4);
    return !minS1.empty() && minS1.find('.') == std::string::npos;
}

} // namespace

RowFile::~RowFile() {
    std::string ignored;
    Close(ignored);
}

bool RowFile::Open(const std::string& Path, Mode How, bool Raw, std::string& Error) {
    path_ = Path;
    int flags = O_RDWR | O_CREAT | O_CLOEXEC;
    if (How == Mode::Create) flags |= O_EXCL;
    if (How == Mode::Overwrite) flags |= O_TRUNC;
    fd_ = ::open(Path.c_str(), flags, 0666);
    if (fd_ < 0) {
        Error = errno == EEXIST
                    ? Path + " exists: give --force to replace it or --append to add to it"
                    : "cannot open " + Path + ": " + Reason(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        Error = "cannot examine " + Path + ": " + Reason(errno);
        return false;
    }
    regular_ = S_ISREG(st.st_mode);
    device_ = st.st_dev;
    inode_ = st.st_ino;
    size_ = regular_ ? static_cast<uint64_t>(st.st_size) : 0;
    ownFile_ = true;
    if (How == Mode::Append && size_ > 0) {
        if (!ReadExisting(Raw, Error)) return false;
        if (::lseek(fd_, static_cast<off_t>(size_), SEEK_SET) < 0) {
            Error = "cannot go to the end of " + path_ + ": " + Reason(errno);
            return false;
        }
        return true;
    }
    return Write(CsvHeader(), Error);
}

bool RowFile::ReadExisting(bool Raw, std::string& Error) {
    std::string text(size_, '\0');
    size_t got = 0;
    while (got < text.size()) {
        const ssize_t n =
            ::pread(fd_, text.data() + got, text.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Error = "cannot read " + path_ + ": " + (n < 0 ? Reason(errno) : "it shrank");
            return false;
        }
        got += static_cast<size_t>(n);
    }
    if (text.compare(0, CsvHeader().size(), CsvHeader()) != 0) {
        Error =
            path_ + " does not start with the header of ormelix-cli's rows: not appending to it";
        return false;
    }
    // A run that was killed in the middle of a write may have left part of a row.
    const size_t end = text.rfind("\r\n") + 2;
    if (end < text.size()) {
        cutBytes_ = text.size() - end;
        if (::ftruncate(fd_, static_cast<off_t>(end)) != 0) {
            Error = "cannot cut the incomplete last row off " + path_ + ": " + Reason(errno);
            return false;
        }
        size_ = end;
        text.resize(end);
    }
    if (text.size() > CsvHeader().size()) {
        const size_t start = text.rfind("\r\n", text.size() - 3) + 2;
        const std::vector<std::string> last =
            CsvFields(std::string_view(text).substr(start, text.size() - 2 - start));
        if (last.size() != CsvColumns) {
            Error = "the last row of " + path_ + " does not have " + std::to_string(CsvColumns) +
                    " fields: not appending to it";
            return false;
        }
        if (IsRawRow(last) != Raw) {
            Error = path_ + (Raw ? " holds volts" : " holds raw bytes") + ": append to it " +
                    (Raw ? "without" : "with") + " --raw";
            return false;
        }
        lastCounter_ = std::strtoull(last[1].c_str(), nullptr, 10);
    }
    return true;
}

bool RowFile::OpenStandardOutput(std::string& Error) {
    path_ = "standard output";
    fd_ = ::dup(STDOUT_FILENO);
    if (fd_ < 0) {
        Error = std::string("cannot use standard output: ") + std::strerror(errno);
        return false;
    }
    struct stat st {};
    regular_ = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    device_ = st.st_dev;
    inode_ = st.st_ino;
    return Write(CsvHeader(), Error);
}

bool RowFile::Write(const std::string& Row, std::string& Error) {
    if (fd_ < 0) {
        Error = "the file is not open";
        return false;
    }
    size_t done = 0;
    while (done < Row.size()) {
        // One write for the whole row; the loop goes on only after a short write.
        const ssize_t n = ::write(fd_, Row.data() + done, Row.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            Error = "cannot write to " + path_ + ": " + Reason(error);
            if (done > 0 && (!ownFile_ || ::ftruncate(fd_, static_cast<off_t>(size_)) != 0))
                Error += "; its last row is incomplete";
            else if (done > 0)
                ::lseek(fd_, static_cast<off_t>(size_), SEEK_SET);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    size_ += Row.size();
    dirty_ = true;
    return true;
}

int RowFile::MillisecondsToSync() const {
    if (!dirty_ || !regular_) return -1;
    const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - lastSync_);
    return since.count() >= 1000 ? 0 : static_cast<int>(1000 - since.count());
}

bool RowFile::Sync(std::string& Error) {
    if (fd_ < 0 || !regular_) return true;
    if (dirty_) {
        if (::fsync(fd_) != 0) {
            Error = "cannot sync " + path_ + ": " + Reason(errno);
            return false;
        }
        dirty_ = false;
        lastSync_ = std::chrono::steady_clock::now();
    }
    struct stat st {};
    if (ownFile_ &&
        (::stat(path_.c_str(), &st) != 0 || st.st_dev != device_ || st.st_ino != inode_)) {
        Error = path_ + " is gone (removed, or its folder removed or renamed): stopping";
        return false;
    }
    return true;
}

bool RowFile::Close(std::string& Error) {
    if (fd_ < 0) return true;
    bool ok = true;
    if (regular_ && dirty_ && ::fsync(fd_) != 0) {
        Error = "cannot sync " + path_ + ": " + Reason(errno);
        ok = false;
    }
    if (::close(fd_) != 0 && ok) {
        Error = "cannot close " + path_ + ": " + Reason(errno);
        ok = false;
    }
    fd_ = -1;
    dirty_ = false;
    return ok;
}

} // namespace cli
