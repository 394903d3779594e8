#include "imaging/SafeFile.h"
#include "imaging/jpeg.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#endif
#ifdef __linux__
#include <ostream>
#include <sys/mount.h>
#endif

namespace {

QImage Noise(int W, int H) {
    QImage image(W, H, QImage::Format_RGB32);
    QRandomGenerator random(11);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) image.setPixel(x, y, random.generate() | 0xff000000u);
    return image;
}

QByteArray ReadFile(const QString& Path) {
    QFile f(Path);
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    return f.readAll();
}

void WriteFile(const QString& Path, const QByteArray& Bytes) {
    QFile f(Path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(Bytes), Bytes.size());
}

QStringList Entries(const QString& Dir) {
    return QDir(Dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                               QDir::NoDotAndDotDot);
}

QByteArray Encoded(const QImage& Bitmap, int Quality) {
    TJPEGImage jpeg;
    jpeg.Assign(Bitmap);
    jpeg.SetQuality(static_cast<std::uint8_t>(Quality));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    jpeg.SaveToStream(buffer);
    return buffer.data();
}

class SaveToFileTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    QString Target = Dir.filePath("201542.jpg");
};

TEST_F(SaveToFileTest, ReplacesAnExistingFileAndLeavesNothingElse) {
    WriteFile(Target, "older picture");
    TJPEGImage jpeg;
    jpeg.Assign(Noise(40, 30));
    jpeg.SetQuality(50);
    jpeg.SaveToFile(Target);
    EXPECT_EQ(ReadFile(Target), Encoded(Noise(40, 30), 50));
    EXPECT_EQ(Entries(Dir.path()), QStringList{"201542.jpg"});
    // Saved again from the cache: the same bytes.
    jpeg.SaveToFile(Target);
    EXPECT_EQ(ReadFile(Target), Encoded(Noise(40, 30), 50));
    EXPECT_EQ(jpeg.CompressCount(), 1);
}

TEST_F(SaveToFileTest, EmptyBitmapGivesAnEmptyFile) {
    TJPEGImage jpeg;
    jpeg.Assign(QImage(0, 5, QImage::Format_RGB32));
    jpeg.SaveToFile(Target);
    EXPECT_EQ(ReadFile(Target), QByteArray());
}

TEST_F(SaveToFileTest, MissingFolderRaisesAndCreatesNothing) {
    TJPEGImage jpeg;
    jpeg.Assign(Noise(8, 8));
    const QString asGiven = Dir.path() + "/sub/../missing/x.jpg";
    try {
        jpeg.SaveToFile(asGiven);
        FAIL() << "saved";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file \"" + Dir.path() +
                                   "/missing/x.jpg\". No such file or directory");
    }
    EXPECT_TRUE(Entries(Dir.path()).isEmpty());
}

TEST_F(SaveToFileTest, FolderInPlaceOfTheFileRaisesAndLeavesNoTemporaryFile) {
    ASSERT_TRUE(QDir(Dir.path()).mkdir("201542.jpg"));
    TJPEGImage jpeg;
    jpeg.Assign(Noise(8, 8));
    EXPECT_THROW(jpeg.SaveToFile(Target), EFCreateError);
    EXPECT_EQ(Entries(Dir.path()), QStringList{"201542.jpg"});
}

TEST_F(SaveToFileTest, FailedEncodingOrAbortLeavesTheOldFile) {
    WriteFile(Target, "older picture");
    TJPEGImage tooWide;
    tooWide.Assign(QImage(70000, 1, QImage::Format_RGB32));
    EXPECT_THROW(tooWide.SaveToFile(Target), EJPEG);

    TJPEGImage aborted;
    aborted.Assign(Noise(8, 8));
    aborted.SetOnProgress([](TJPEGImage&, TProgressStage, int) { throw EAbort(); });
    aborted.SaveToFile(Target);
    aborted.SaveToFile(Dir.filePath("new.jpg"));

    EXPECT_EQ(ReadFile(Target), "older picture");
    EXPECT_EQ(Entries(Dir.path()), QStringList{"201542.jpg"});
}

// A folder named outside the ANSI code page, as a user's Pictures folder may be: Windows reaches
// it only through the wide file entries.
TEST_F(SaveToFileTest, ReplacesInAFolderNamedOutsideTheAnsiCodePage) {
    const QString folder = Dir.filePath(QStringLiteral("Снимки Ørsted"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString target = folder + "/201542.jpg";
    WriteFile(target, "older picture");
    ReplaceFileContents(target, "new\n\r\n");
    EXPECT_EQ(ReadFile(target), "new\n\r\n"); // byte for byte: no text-mode line ends
    ReplaceFileContents(folder + "/201543.jpg", "other");
    EXPECT_EQ(Entries(folder), QStringList({"201542.jpg", "201543.jpg"}));
}

#ifndef _WIN32
// The replacement keeps what an overwrite in place keeps: a link stays a link and its target
// gets the bytes, the file keeps its permission bits and owner, and the path reaches the system
// as given.
TEST_F(SaveToFileTest, ReplacementKeepsWhatAnOverwriteKeeps) {
    const QByteArray target = QFile::encodeName(Target);
    struct stat st {};

    ASSERT_TRUE(QDir(Dir.path()).mkdir("pictures"));
    WriteFile(Dir.filePath("pictures/real.jpg"), "older picture");
    ASSERT_EQ(::symlink("pictures/real.jpg", target.constData()), 0);
    ReplaceFileContents(Target, "new");
    EXPECT_TRUE(QFileInfo(Target).isSymLink());
    EXPECT_EQ(ReadFile(Dir.filePath("pictures/real.jpg")), "new");
    EXPECT_EQ(Entries(Dir.filePath("pictures")), QStringList{"real.jpg"});
    ASSERT_EQ(::unlink(target.constData()), 0);

    // A dangling link: the file it names is created, as open(O_CREAT) would.
    ASSERT_EQ(::symlink("pictures/new.jpg", target.constData()), 0);
    ReplaceFileContents(Target, "new");
    EXPECT_TRUE(QFileInfo(Target).isSymLink());
    EXPECT_EQ(ReadFile(Dir.filePath("pictures/new.jpg")), "new");
    ASSERT_EQ(::unlink(target.constData()), 0);

    for (mode_t mode : {0600, 0666, 0751}) {
        WriteFile(Target, "older picture");
        ASSERT_EQ(::chmod(target.constData(), mode), 0);
        ReplaceFileContents(Target, "new");
        ASSERT_EQ(::stat(target.constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode) << std::oct << mode;
    }
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(target.constData(), 4321, 4322), 0);
        ReplaceFileContents(Target, "new");
        ASSERT_EQ(::stat(target.constData(), &st), 0);
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 4322u);
    }

    EXPECT_THROW(ReplaceFileContents(Dir.filePath("missing/../other.jpg"), "new"), EFCreateError);
    EXPECT_FALSE(QFile::exists(Dir.filePath("other.jpg")));
}

// Run as root, the test acts as "nobody" for the replacement, so that permissions count; root
// itself writes any file in place. A user the caller is not, with a group it is not in.
constexpr uid_t kNobody = 65534;
constexpr uid_t kSomeoneElse = 4321;
constexpr gid_t kSomeoneElsesGroup = 4322;

// The effective user and group for as long as it lives (only when the test runs as root).
class ActingAs {
public:
    ActingAs(uid_t Uid, gid_t Gid) : FSwitched(::geteuid() == 0) {
        if (FSwitched) FActive = ::setegid(Gid) == 0 && ::seteuid(Uid) == 0;
    }
    ActingAs(const ActingAs&) = delete;
    ActingAs& operator=(const ActingAs&) = delete;
    ~ActingAs() {
        // Every later test would run with the wrong rights.
        if (FSwitched && (::seteuid(0) != 0 || ::setegid(0) != 0)) std::abort();
    }
    bool Active() const { return FActive; }

private:
    bool FSwitched;
    bool FActive = false;
};

enum class TargetKind { File, Fifo, Socket };

struct RefusalCase {
    const char* Name;
    TargetKind Kind;
    bool SomeoneElses; // owned by another user (needs root to set up)
    mode_t Mode;
    int Errno; // the refusal's reason; 0: replaced
    mode_t ModeAfter;
    // An empty picture for the set-ID cases: the system clears those bits itself on a write of
    // bytes by a user, but not on a file that gets none.
    const char* Bytes = "new";
};

// Names the case in test listings.
void PrintTo(const RefusalCase& P, std::ostream* Os) {
    *Os << P.Name;
}

class RefusalTest : public SaveToFileTest, public ::testing::WithParamInterface<RefusalCase> {};

// What an overwrite in place would refuse is refused, before anything is created; what it would
// allow is replaced, keeping a set-ID bit only with its owner.
TEST_P(RefusalTest, RefusesWhatAnOverwriteInPlaceWould) {
    const RefusalCase& c = GetParam();
    const bool root = ::geteuid() == 0;
    if (c.SomeoneElses && !root) GTEST_SKIP() << "another user's file needs root to set up";
    const uid_t caller = root ? kNobody : ::geteuid();
    const gid_t callerGroup = root ? kNobody : ::getegid();
    // The caller's own folder, reachable by it.
    const QString folder = Dir.filePath("own");
    ASSERT_TRUE(QDir().mkdir(folder));
    const QByteArray folderBytes = QFile::encodeName(folder);
    if (root) {
        ASSERT_EQ(::chmod(QFile::encodeName(Dir.path()).constData(), 0755), 0);
        ASSERT_EQ(::chown(folderBytes.constData(), caller, callerGroup), 0);
    }
    const QString target = folder + "/201542.jpg";
    const QByteArray path = QFile::encodeName(target);
    int socketFd = -1;
    switch (c.Kind) {
    case TargetKind::File:
        WriteFile(target, "older picture");
        break;
    case TargetKind::Fifo:
        ASSERT_EQ(::mkfifo(path.constData(), 0666), 0);
        break;
    case TargetKind::Socket: {
        socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        ASSERT_LT(static_cast<std::size_t>(path.size()), sizeof address.sun_path);
        std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
        ASSERT_EQ(::bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        break;
    }
    }
    if (root) {
        ASSERT_EQ(::chown(path.constData(), c.SomeoneElses ? kSomeoneElse : caller,
                          c.SomeoneElses ? kSomeoneElsesGroup : callerGroup),
                  0);
    }
    ASSERT_EQ(::chmod(path.constData(), c.Mode), 0);

    int refused = 0;
    {
        ActingAs acting(caller, callerGroup);
        ASSERT_TRUE(acting.Active() || !root);
        try {
            ReplaceFileContents(target, c.Bytes);
        } catch (const EFCreateError& e) {
            refused = -1;
            for (const int reason : {EACCES, ENOTSUP})
                if (e.Message().endsWith(QString::fromLocal8Bit(std::strerror(reason))))
                    refused = reason;
        }
    }
    if (socketFd >= 0) ::close(socketFd);
    EXPECT_EQ(refused, c.Errno) << std::strerror(refused);
    EXPECT_EQ(Entries(folder), QStringList{"201542.jpg"}) << "nothing left beside it";
    struct stat st {};
    ASSERT_EQ(::lstat(path.constData(), &st), 0);
    const mode_t kind = c.Kind == TargetKind::Fifo     ? S_IFIFO
                        : c.Kind == TargetKind::Socket ? S_IFSOCK
                                                       : S_IFREG;
    EXPECT_EQ(st.st_mode & S_IFMT, kind) << "still what it was";
    if (c.Errno != 0) {
        EXPECT_EQ(st.st_mode & 07777, c.Mode) << std::oct << (st.st_mode & 07777);
        if (c.Kind == TargetKind::File) {
            EXPECT_EQ(ReadFile(target), "older picture");
        }
    } else {
        EXPECT_EQ(ReadFile(target), c.Bytes);
        EXPECT_EQ(st.st_mode & 07777, c.ModeAfter) << std::oct << (st.st_mode & 07777);
        EXPECT_EQ(st.st_uid, c.SomeoneElses ? caller : st.st_uid);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, RefusalTest,
    ::testing::Values(
        RefusalCase{"ReadOnlyFile", TargetKind::File, false, 0444, EACCES, 0},
        RefusalCase{"SomeoneElsesFile", TargetKind::File, true, 0644, EACCES, 0},
        RefusalCase{"SomeoneElsesWritableFile", TargetKind::File, true, 0666, 0, 0666},
        RefusalCase{"SomeoneElsesSetIdFile", TargetKind::File, true, 06777, 0, 0777, ""},
        RefusalCase{"OwnSetIdFile", TargetKind::File, false, 06755, 0, 06755, ""},
        RefusalCase{"Fifo", TargetKind::Fifo, false, 0666, ENOTSUP, 0},
        RefusalCase{"Socket", TargetKind::Socket, false, 0777, ENOTSUP, 0}),
    [](const auto& Info) { return std::string(Info.param.Name); });
#endif

// Writers that misbehave in the ways a disk does; Chunk is the most one call takes, Fail the
// call from which it fails (-1: never), FailWith and Errno what it answers then. An interrupted
// call fails once only.
struct WriterCase {
    const char* Name;
    std::size_t Chunk;
    int Fail;
    ssize_t FailWith;
    int Errno;
};

// Names the case in test listings.
void PrintTo(const WriterCase& P, std::ostream* Os) {
    *Os << P.Name;
}

class WriterTest : public SaveToFileTest, public ::testing::WithParamInterface<WriterCase> {};

TEST_P(WriterTest, OldFileSurvivesAFailedWrite) {
    const WriterCase c = GetParam();
    WriteFile(Target, "older picture");
    int calls = 0;
    TJPEGImage jpeg;
    jpeg.Assign(Noise(64, 64));
    jpeg.SetFileWriter([&](int fd, const void* data, std::size_t size) -> ssize_t {
        const int call = calls++;
        if (c.Fail >= 0 && (c.Errno == EINTR ? call == c.Fail : call >= c.Fail)) {
            errno = c.Errno;
            return c.FailWith;
        }
        return ::write(fd, data, std::min(size, c.Chunk));
    });
    const bool fails = c.Fail >= 0 && c.Errno != EINTR;
    if (fails) {
        EXPECT_THROW(jpeg.SaveToFile(Target), EWriteError);
        EXPECT_EQ(ReadFile(Target), "older picture");
    } else {
        jpeg.SaveToFile(Target);
        EXPECT_EQ(ReadFile(Target), Encoded(Noise(64, 64), 90));
    }
    EXPECT_EQ(Entries(Dir.path()), QStringList{"201542.jpg"});
}

INSTANTIATE_TEST_SUITE_P(Writers, WriterTest,
                         ::testing::Values(WriterCase{"FullDisk", 1 << 20, 0, -1, ENOSPC},
                                           WriterCase{"HalfWay", 1000, 2, -1, ENOSPC},
                                           WriterCase{"NoProgress", 1000, 1, 0, 0},
                                           WriterCase{"SmallPieces", 777, -1, 0, 0},
                                           WriterCase{"Interrupted", 1 << 20, 0, -1, EINTR}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

#ifdef __linux__
// The same on a real file system that fills up half way through the write.
TEST_F(SaveToFileTest, OldFileSurvivesAFullFileSystem) {
    const QString mountPoint = Dir.filePath("small");
    ASSERT_TRUE(QDir(Dir.path()).mkdir("small"));
    const QByteArray point = QFile::encodeName(mountPoint);
    if (::mount("tmpfs", point.constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "no tmpfs mount here: " << std::strerror(errno);
    struct Unmount {
        QByteArray Point;
        ~Unmount() { ::umount2(Point.constData(), MNT_DETACH); }
    } unmount{point};

    const QString target = mountPoint + "/201542.jpg";
    WriteFile(target, "older picture");
    TJPEGImage jpeg;
    jpeg.Assign(Noise(256, 256));
    jpeg.SetQuality(100);
    EXPECT_THROW(jpeg.SaveToFile(target), EWriteError);
    EXPECT_EQ(ReadFile(target), "older picture");
    EXPECT_EQ(Entries(mountPoint), QStringList{"201542.jpg"});
}
#endif

} // namespace
