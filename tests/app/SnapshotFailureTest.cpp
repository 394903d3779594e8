// The console's snapshot step end to end when the picture cannot be written: a folder that
// cannot be made or written, and a file system that fills up in the middle of a picture. No
// partial file is left, no older picture is lost, and polling goes on.
#include "tests/app/ConsoleFixture.h"
#include "tests/soak/SoakSupport.h"

#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

class SnapshotFailureTest : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        ASSERT_TRUE(tmp.isValid());
        instrument = PlugInstrument();
        for (int i = 0; i <= 120; ++i) instrument->next[2 * i] = static_cast<uint8_t>(40 + i);
        Start();
        form->ProgramFolder = [this] { return programFolder; };
        // The same second at every reading: every picture of a series has the same name.
        form->Now = [] { return QDateTime(QDate(2026, 12, 7), QTime(20, 13, 5)); };
        Connect();
        TickAt(10); // enables CheckBox2
    }

    void TickAt(int Cursor) {
        instrument->next[CursorPos] = static_cast<uint8_t>(Cursor);
        Tick();
    }

    // One sweep: the picture at 230, then back below 150.
    void Sweep() {
        TickAt(230);
        TickAt(100);
    }

    void ExpectStillPolling() {
        const int before = instrument->fetches;
        TickAt(50);
        EXPECT_EQ(instrument->fetches, before + 1);
        EXPECT_TRUE(form->Timer->isActive());
        EXPECT_TRUE(form->CheckBox1->isChecked());
        EXPECT_EQ(form->windowTitle(), QString::fromUtf8(FoundCaption));
    }

    QTemporaryDir tmp;
    QString programFolder;
    std::shared_ptr<ScriptedInstrument> instrument;
};

struct Unwritable {
    const char* name;
    // Makes, under Root, a program folder in which no series folder can be made or written.
    QString (*make)(const QString& Root);
    bool needsUnprivileged;
};

// Names the case in test listings.
void PrintTo(const Unwritable& P, std::ostream* Os) {
    *Os << P.name;
}

QString BelowARegularFile(const QString& Root) {
    QFile f(Root + "/not-a-folder");
    if (f.open(QIODevice::WriteOnly)) f.write("x");
    return Root + "/not-a-folder";
}

QString ReadOnlyFolder(const QString& Root) {
    QDir(Root).mkdir("ro");
    QFile::setPermissions(Root + "/ro", QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    return Root + "/ro";
}

QString SeriesFolderIsAFile(const QString& Root) {
    // The series folder's name is taken by a file.
    QDir(Root).mkdir("bin");
    QFile f(Root + "/bin/071226_201305");
    if (f.open(QIODevice::WriteOnly)) f.write("x");
    return Root + "/bin";
}

class UnwritableFolderTest : public SnapshotFailureTest,
                             public ::testing::WithParamInterface<Unwritable> {};

TEST_P(UnwritableFolderTest, NoPictureNoPartialFileAndPollingGoesOn) {
    if (GetParam().needsUnprivileged && ::geteuid() == 0)
        GTEST_SKIP() << "file permissions do not bind root";
    programFolder = GetParam().make(tmp.path());
    const QStringList before = FilesUnder(tmp.path());
    form->CheckBox2->setChecked(true);
    TickAt(230);
    EXPECT_TRUE(SnapshotArmed); // the series goes on as if the picture had been taken
    TickAt(100);
    EXPECT_FALSE(SnapshotArmed);
    ExpectStillPolling();
    Sweep();
    ExpectStillPolling();
    EXPECT_EQ(FilesUnder(tmp.path()), before); // nothing written, nothing left half-way
    QFile::setPermissions(tmp.path() + "/ro",
                          QFileDevice::WriteOwner | QFileDevice::ReadOwner | QFileDevice::ExeOwner);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, UnwritableFolderTest,
    ::testing::Values(Unwritable{"BelowARegularFile", &BelowARegularFile, false},
                      Unwritable{"SeriesFolderIsAFile", &SeriesFolderIsAFile, false},
                      Unwritable{"ReadOnlyFolder", &ReadOnlyFolder, true}),
    [](const ::testing::TestParamInfo<Unwritable>& Info) { return std::string(Info.param.name); });

// A small file system that is nearly full when the second picture of the series is written.
TEST_F(SnapshotFailureTest, FileSystemFillingUpMidPictureKeepsTheOlderPicture) {
    const QString mountPoint = tmp.path() + "/small";
    ASSERT_TRUE(QDir(tmp.path()).mkdir("small"));
    const QByteArray point = QFile::encodeName(mountPoint);
    if (::mount("tmpfs", point.constData(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "no tmpfs mount here: " << std::strerror(errno);
    struct Unmount {
        QByteArray Point;
        ~Unmount() { ::umount2(Point.constData(), MNT_DETACH); }
    } unmount{point};
    programFolder = mountPoint;

    form->CheckBox2->setChecked(true);
    Sweep();
    const QStringList first = FilesUnder(mountPoint);
    ASSERT_EQ(first.size(), 1);
    const QByteArray older = FileBytes(first[0]);
    ASSERT_TRUE(IsWholeJpeg(older, QSize(SnapshotWidth, SnapshotHeight)));

    // Leave room for about half a picture.
    struct statvfs fs {};
    ASSERT_EQ(::statvfs(point.constData(), &fs), 0);
    const qint64 free = static_cast<qint64>(fs.f_bavail) * static_cast<qint64>(fs.f_frsize);
    const qint64 filler = free - older.size() / 2;
    ASSERT_GT(filler, 0);
    {
        QFile f(mountPoint + "/filler");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(QByteArray(filler, '\0')), filler);
    }

    Sweep(); // the same name again: this picture replaces the first, and cannot be finished
    EXPECT_EQ(FileBytes(first[0]), older);
    EXPECT_EQ(FilesUnder(mountPoint), QStringList({first[0], mountPoint + "/filler"}));
    ExpectStillPolling();

    // Room again: the series goes on with a whole picture.
    ASSERT_TRUE(QFile::remove(mountPoint + "/filler"));
    Sweep();
    EXPECT_EQ(FilesUnder(mountPoint), QStringList{first[0]});
    EXPECT_TRUE(IsWholeJpeg(FileBytes(first[0]), QSize(SnapshotWidth, SnapshotHeight)));
    ExpectStillPolling();
}

// The series folder removed between two pictures is made again at the next one.
TEST_F(SnapshotFailureTest, SeriesFolderRemovedBetweenPicturesIsMadeAgain) {
    programFolder = tmp.path();
    form->CheckBox2->setChecked(true);
    Sweep();
    ASSERT_EQ(FilesUnder(tmp.path(), {"*.jpg"}).size(), 1);
    ASSERT_TRUE(QDir(SnapshotFolder).removeRecursively());
    Sweep();
    const QStringList pictures = FilesUnder(tmp.path(), {"*.jpg"});
    ASSERT_EQ(pictures.size(), 1);
    EXPECT_TRUE(IsWholeJpeg(FileBytes(pictures[0]), QSize(SnapshotWidth, SnapshotHeight)));
    ExpectStillPolling();
}

} // namespace
