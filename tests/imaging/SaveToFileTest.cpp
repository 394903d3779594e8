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
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
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
