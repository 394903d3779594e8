#include "imaging/SafeFile.h"

#include "imaging/Exceptions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

namespace {

// The few file calls that differ on Windows. Paths are bytes in the file system's encoding; on
// Windows they are UTF-8 and reach the wide entries, so a user name outside the ANSI code page
// still works.
#ifdef _WIN32
std::wstring Wide(const QByteArray& Path) {
    return QString::fromUtf8(Path).toStdWString();
}
QByteArray PathBytes(const QString& Path) {
    return Path.toUtf8();
}
int OpenNew(const QByteArray& Path) {
    // Binary: text mode would turn every 0x0A of a picture into 0x0D 0x0A.
    return ::_wopen(Wide(Path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                    _S_IREAD | _S_IWRITE);
}
void RemoveFile(const QByteArray& Path) {
    ::_wunlink(Wide(Path).c_str());
}
int FlushFile(int Fd) {
    return ::_commit(Fd);
}
// rename() on Windows refuses an existing target, which is the usual case here.
int RenameOver(const QByteArray& From, const QByteArray& To) {
    if (::MoveFileExW(Wide(From).c_str(), Wide(To).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    const DWORD error = ::GetLastError();
    errno = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? EACCES
            : error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND ? ENOENT
                                                                             : EIO;
    return -1;
}
#else
QByteArray PathBytes(const QString& Path) {
    return QFile::encodeName(Path);
}
int OpenNew(const QByteArray& Path) {
    // 0666 lets the umask decide, as for any newly created file.
    return ::open(Path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}
void RemoveFile(const QByteArray& Path) {
    ::unlink(Path.constData());
}
int FlushFile(int Fd) {
    return ::fsync(Fd);
}
int RenameOver(const QByteArray& From, const QByteArray& To) {
    return ::rename(From.constData(), To.constData());
}
#endif

// Long enough to tell the temporary file's origin, short enough to stay below NAME_MAX together
// with the suffix even when the target's own name is near the limit.
constexpr qsizetype kTempStemBytes = 180;

std::atomic<unsigned> TempCounter{0};

class TempFile {
public:
    TempFile() = default;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        CloseQuietly();
        if (!FPath.isEmpty()) RemoveFile(FPath);
    }

    // Creates a fresh file beside the target; errno is kept for the caller on failure.
    bool Create(const QByteArray& Folder, const QByteArray& TargetName) {
        const QByteArray stem = TargetName.left(kTempStemBytes);
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray path = Folder + "/." + stem + '.' + QByteArray::number(::getpid()) +
                                    '.' + QByteArray::number(TempCounter.fetch_add(1)) + ".tmp";
            FFd = OpenNew(path);
            if (FFd >= 0) {
                FPath = path;
                return true;
            }
            if (errno != EEXIST) return false;
        }
        return false;
    }

    int Fd() const { return FFd; }
    const QByteArray& Path() const { return FPath; }

    bool Close() {
        const int fd = FFd;
        FFd = -1;
        return ::close(fd) == 0;
    }

    // The file now has the target's name; nothing is left to remove.
    void Release() { FPath.clear(); }

private:
    void CloseQuietly() {
        if (FFd >= 0) ::close(FFd);
        FFd = -1;
    }

    int FFd = -1;
    QByteArray FPath;
};

// The folder part of a path as given: "" for a bare name, "/" for a file in the root.
QByteArray FolderOf(const QByteArray& Path) {
    const qsizetype slash = Path.lastIndexOf('/');
    if (slash < 0) return {};
    return slash == 0 ? QByteArray("/") : Path.left(slash);
}

#ifndef _WIN32
// Follows symbolic links in the last component the way open(2) does, a dangling one to the
// file it names, so that the new file takes the place of the link's target and the link stays.
// Stat is filled when the final file exists. False with errno ELOOP after too many links; any
// other failure is left for the creation beside the target to report as the system words it.
bool ResolveTarget(QByteArray& Path, struct stat& Stat, bool& Exists) {
    constexpr int kMaxLinks = 40; // the kernel's own limit
    for (int links = 0;; ++links) {
        Exists = ::lstat(Path.constData(), &Stat) == 0;
        if (!Exists || !S_ISLNK(Stat.st_mode)) return true;
        if (links == kMaxLinks) {
            errno = ELOOP;
            return false;
        }
        QByteArray link(PATH_MAX, '\0');
        const ssize_t n =
            ::readlink(Path.constData(), link.data(), static_cast<size_t>(link.size()));
        if (n < 0) return true;
        link.truncate(n);
        const QByteArray folder = FolderOf(Path);
        if (link.startsWith('/') || folder.isEmpty())
            Path = link;
        else
            Path = folder.endsWith('/') ? folder + link : folder + '/' + link;
    }
}
#endif

#ifndef _WIN32
// The new file takes the old one's place, which needs only the folder's permission; an overwrite
// in place needs the file's own. So a file the caller may not write is refused as open(2) would
// refuse it, a folder as well, and anything but a regular file too: a pipe, socket or device
// would take the bytes (or refuse them) itself, and must not be turned into a file.
void RefuseWhatAnOverwriteWould(const QByteArray& Target, const struct stat& Old,
                                const QString& Expanded) {
    if (S_ISDIR(Old.st_mode)) throw EFCreateError(Expanded, EISDIR);
    if (!S_ISREG(Old.st_mode)) throw EFCreateError(Expanded, ENOTSUP);
    // With the effective IDs, as open(2) checks, so root may write what it could write in place.
    if (::faccessat(AT_FDCWD, Target.constData(), W_OK, AT_EACCESS) != 0)
        throw EFCreateError(Expanded, errno);
}

// An overwrite keeps the file's owner, group and permission bits; a new file has ours. Giving
// them back may be beyond our rights (EPERM): then the group alone, which a member may give, or
// neither. A set-ID bit grants its owner's (group's) rights, so it stays only where that owner
// (group) was given back, as the system itself clears it when another user writes the file.
void KeepOwnerAndMode(int Fd, const struct stat& Old, const QString& Expanded) {
    if (::fchown(Fd, Old.st_uid, Old.st_gid) != 0) {
        [[maybe_unused]] const int grouped = ::fchown(Fd, static_cast<uid_t>(-1), Old.st_gid);
    }
    struct stat now {};
    if (::fstat(Fd, &now) != 0) throw EFCreateError(Expanded, errno);
    mode_t mode = Old.st_mode & 07777;
    if (now.st_uid != Old.st_uid) mode &= ~static_cast<mode_t>(S_ISUID);
    if (now.st_gid != Old.st_gid) mode &= ~static_cast<mode_t>(S_ISGID);
    if (::fchmod(Fd, mode) != 0) throw EFCreateError(Expanded, errno);
}
#endif

bool WriteAll(int Fd, QByteArrayView Bytes, const TFileWriter& Writer) {
    const char* p = Bytes.data();
    qsizetype left = Bytes.size();
    while (left > 0) {
        const ssize_t n = Writer ? Writer(Fd, p, static_cast<std::size_t>(left))
                                 : ::write(Fd, p, static_cast<std::size_t>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || n > left) return false;
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

QString ExpandFileName(const QString& FileName) {
    if (FileName.isEmpty()) return FileName;
    return QDir::cleanPath(QFileInfo(FileName).absoluteFilePath());
}

void ReplaceFileContents(const QString& FileName, QByteArrayView Bytes, const TFileWriter& Writer) {
    const QString expanded = ExpandFileName(FileName);
#ifdef _WIN32
    // Windows has no links to follow here nor owners to give back; it resolves ".." itself.
    const QByteArray target = PathBytes(QDir::fromNativeSeparators(FileName));
    if (expanded.isEmpty()) throw EFCreateError(expanded, ENOENT);
#else
    // The path goes to the system as given: "missing/../x.jpg" fails as open(2) fails it.
    QByteArray target = PathBytes(FileName);
    struct stat old {};
    bool exists = false;
    if (expanded.isEmpty()) throw EFCreateError(expanded, ENOENT);
    if (!ResolveTarget(target, old, exists)) throw EFCreateError(expanded, errno);
    if (exists) RefuseWhatAnOverwriteWould(target, old, expanded);
#endif

    const QByteArray folder = FolderOf(target);
    TempFile temp;
    if (!temp.Create(folder.isEmpty() ? QByteArray(".") : folder,
                     target.mid(target.lastIndexOf('/') + 1)))
        throw EFCreateError(expanded, errno);

#ifndef _WIN32
    if (exists) KeepOwnerAndMode(temp.Fd(), old, expanded);
#endif
    if (!WriteAll(temp.Fd(), Bytes, Writer)) throw EWriteError();
    // The old picture is replaced only by one that has fully reached the disk. EINVAL: the file
    // system has nothing to flush.
    if (FlushFile(temp.Fd()) != 0 && errno != EINVAL) throw EWriteError();
    if (!temp.Close()) throw EWriteError();
    if (RenameOver(temp.Path(), target) != 0) throw EFCreateError(expanded, errno);
    temp.Release();
}
