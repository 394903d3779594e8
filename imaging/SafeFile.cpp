#include "SafeFile.h"

#include "Exceptions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

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
        if (!FPath.isEmpty()) ::unlink(FPath.constData());
    }

    // Creates a fresh file beside the target; errno is kept for the caller on failure.
    bool Create(const QByteArray& Folder, const QByteArray& TargetName) {
        const QByteArray stem = TargetName.left(kTempStemBytes);
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray path = Folder + "/." + stem + '.' + QByteArray::number(::getpid()) +
                                    '.' + QByteArray::number(TempCounter.fetch_add(1)) + ".tmp";
            // 0666 lets the umask decide, as for any newly created file.
            FFd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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
    const QFileInfo info(expanded);
    const QByteArray target = QFile::encodeName(expanded);

    TempFile temp;
    if (expanded.isEmpty() ||
        !temp.Create(QFile::encodeName(info.absolutePath()), QFile::encodeName(info.fileName())))
        throw EFCreateError(expanded, expanded.isEmpty() ? ENOENT : errno);

    if (!WriteAll(temp.Fd(), Bytes, Writer)) throw EWriteError();
    // The old picture is replaced only by one that has fully reached the disk. EINVAL: the file
    // system has nothing to flush.
    if (::fsync(temp.Fd()) != 0 && errno != EINVAL) throw EWriteError();
    if (!temp.Close()) throw EWriteError();
    if (::rename(temp.Path().constData(), target.constData()) != 0)
        throw EFCreateError(expanded, errno);
    temp.Release();
}
