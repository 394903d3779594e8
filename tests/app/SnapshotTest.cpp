#include "app/SeriesFolder.h"
#include "tests/app/ConsoleFixture.h"
#include "tests/common/DecodePicture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <cctype>
#include <string>
#ifndef _WIN32
#include <ostream>
#include <unistd.h>
#endif

namespace {

class SnapshotTest : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        ASSERT_TRUE(tmp.isValid());
        instrument = PlugInstrument();
        Start();
        programFolder = tmp.path();
        form->ProgramFolder = [this] { return programFolder; };
        // Every reading of the clock is one second later than the one before.
        form->Now = [this] { return clock = clock.addSecs(1); };
        Connect();
        instrument->next[CursorPos] = 10;
        Tick(); // enables CheckBox2
    }

    void StartSeries() { form->CheckBox2->setChecked(true); }

    void TickAt(int Cursor) {
        instrument->next[CursorPos] = static_cast<uint8_t>(Cursor);
        Tick();
    }

    QStringList Pictures() const {
        QStringList found;
        QDirIterator it(tmp.path(), {"*.jpg"}, QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) found << it.next();
        found.sort();
        return found;
    }

    QTemporaryDir tmp;
    QString programFolder;
    QDateTime clock{QDate(2026, 12, 7), QTime(20, 13, 4)};
    std::shared_ptr<ScriptedInstrument> instrument;
};

TEST_F(SnapshotTest, ClickNamesTheFolderFromTheClockAndCreatesNothing) {
    StartSeries();
    EXPECT_EQ(SnapshotFolder, QDir(tmp.path()).filePath("071226_201305"));
    EXPECT_FALSE(QDir(SnapshotFolder).exists());
    form->CheckBox2->setChecked(false); // unticking names it anew too
    EXPECT_EQ(SnapshotFolder, QDir(tmp.path()).filePath("071226_201306"));
}

struct TriggerCase {
    std::vector<int> cursors;
    std::vector<int> picturesAfter; // pictures in the folder after each tick
    bool armedAtEnd;
};

// Names the case in test listings.
void PrintTo(const TriggerCase& P, std::ostream* Os) {
    *Os << "cursor";
    for (int c : P.cursors) *Os << ' ' << c;
}

class TriggerTest : public SnapshotTest, public ::testing::WithParamInterface<TriggerCase> {};

TEST_P(TriggerTest, OnePicturePerSweep) {
    StartSeries();
    const auto& c = GetParam();
    for (size_t i = 0; i < c.cursors.size(); ++i) {
        TickAt(c.cursors[i]);
        EXPECT_EQ(Pictures().size(), static_cast<qsizetype>(c.picturesAfter[i])) << "tick " << i;
    }
    EXPECT_EQ(SnapshotArmed, c.armedAtEnd);
    EXPECT_TRUE(form->Timer->isActive());
}

INSTANTIATE_TEST_SUITE_P(
    Sweeps, TriggerTest,
    ::testing::Values(TriggerCase{{210}, {0}, false}, TriggerCase{{211}, {1}, true},
                      TriggerCase{{220, 150}, {1, 1}, true}, TriggerCase{{220, 149}, {1, 1}, false},
                      TriggerCase{{220, 230, 140, 215}, {1, 1, 1, 2}, true},
                      TriggerCase{{255, 0, 255, 0, 255}, {1, 1, 2, 2, 3}, true}));

TEST_F(SnapshotTest, NothingWhileTheBoxIsUnticked) {
    SnapshotArmed = true;
    SnapshotTriggerPos = 220;
    TickAt(100); // would clear the armed flag with the box ticked
    TickAt(230);
    EXPECT_TRUE(Pictures().isEmpty());
    EXPECT_TRUE(SnapshotArmed);
}

TEST_F(SnapshotTest, FirstPictureCreatesTheFolderWithItsParents) {
    programFolder = QDir(tmp.path()).filePath("bin/ormelix");
    StartSeries();
    TickAt(230);
    const QString folder = QDir(tmp.path()).filePath("bin/ormelix/071226_201305");
    EXPECT_EQ(SnapshotFolder, folder);
    ASSERT_EQ(Pictures().size(), 1);
    // The file is named by the time of the capture, in the series' folder.
    EXPECT_EQ(QFileInfo(Pictures()[0]).absolutePath(), folder);
    EXPECT_EQ(QFileInfo(Pictures()[0]).fileName(), "201306.jpg");
    TickAt(100);
    TickAt(240);
    EXPECT_EQ(Pictures().size(), 2);
}

#ifdef _WIN32
// No root to step down from. Qt's permissions only set the read-only attribute, which Windows
// ignores on folders, and Wine's folders follow the Unix rights of a user who may be root: the
// read-only case runs only where the folder really refuses files.
struct AsOrdinaryUser {};
bool RefusesFiles(const QString& Folder) {
    return !QTemporaryFile(Folder + "/probe-XXXXXX").open();
}
#else
// File permissions do not bind root: the click that decides the place runs as nobody then.
struct AsOrdinaryUser {
    const bool wasRoot = ::geteuid() == 0 && ::seteuid(65534) == 0;
    ~AsOrdinaryUser() {
        if (wasRoot && ::seteuid(0) != 0) std::abort();
    }
};
#endif

struct PlaceCase {
    const char* name;
    bool programFolderWritable;
    bool picturesWritable;
    const char* series; // where the series goes, under the temporary folder
};

// Names the case in test listings.
void PrintTo(const PlaceCase& P, std::ostream* Os) {
    *Os << P.name;
}

class SeriesPlaceTest : public SnapshotTest, public ::testing::WithParamInterface<PlaceCase> {};

TEST_P(SeriesPlaceTest, WholePicturesWhereTheUserCanFindThem) {
    using P = QFileDevice;
    const auto readOnly =
        P::ReadUser | P::ExeUser | P::ReadGroup | P::ExeGroup | P::ReadOther | P::ExeOther;
    const auto all = readOnly | P::WriteUser | P::WriteGroup | P::WriteOther;
    QDir root(tmp.path());
    ASSERT_TRUE(root.mkdir("bin") && root.mkdir("Pictures") && root.mkdir("home"));
    programFolder = root.filePath("bin");
    form->PicturesFolder = [&root] { return root.filePath("Pictures"); };
    form->HomeFolder = [&root] { return root.filePath("home"); };
    const auto& c = GetParam();
    ASSERT_TRUE(QFile::setPermissions(tmp.path(), all));
    ASSERT_TRUE(QFile::setPermissions(root.filePath("home"), all));
    ASSERT_TRUE(
        QFile::setPermissions(root.filePath("Pictures"), c.picturesWritable ? all : readOnly));
    ASSERT_TRUE(QFile::setPermissions(programFolder, c.programFolderWritable ? all : readOnly));
    {
        [[maybe_unused]] AsOrdinaryUser user;
#ifdef _WIN32
        for (const QString& folder : {programFolder, root.filePath("Pictures")}) {
            const bool meantReadOnly =
                folder == programFolder ? !c.programFolderWritable : !c.picturesWritable;
            if (meantReadOnly && !RefusesFiles(folder))
                GTEST_SKIP() << "a folder cannot be made read-only here";
        }
#else
        ASSERT_NE(::geteuid(), 0u);
#endif
        StartSeries();
    }
    // Decided at the click: a folder that turns writable later does not move the series.
    ASSERT_TRUE(QFile::setPermissions(programFolder, all));
    ASSERT_TRUE(QFile::setPermissions(root.filePath("Pictures"), all));
    TickAt(230);
    TickAt(100);
    TickAt(230);

    const QString folder = root.filePath(c.series);
    EXPECT_EQ(SnapshotFolder, folder);
    const QStringList pictures = Pictures();
    EXPECT_EQ(pictures, QStringList({folder + "/201306.jpg", folder + "/201307.jpg"}));
    for (const QString& name : pictures) {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_TRUE(bytes.startsWith("\xFF\xD8") && bytes.endsWith("\xFF\xD9"))
            << name.toStdString();
        const QImage picture = DecodePicture(bytes);
        EXPECT_EQ(picture.size(), QSize(SnapshotWidth, SnapshotHeight));
    }
    // No probe file left behind.
    for (const char* place : {"bin", "Pictures", "home"}) {
        const QString where = root.filePath(place);
        const QStringList left =
            QDir(where).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        EXPECT_EQ(left.size(), folder.startsWith(where + "/") ? 1 : 0) << place;
    }
}

INSTANTIATE_TEST_SUITE_P(
    ProgramFolders, SeriesPlaceTest,
    ::testing::Values(PlaceCase{"Writable", true, true, "bin/071226_201305"},
                      PlaceCase{"ReadOnly", false, true, "Pictures/Ormelix/071226_201305"},
                      PlaceCase{"PicturesReadOnlyToo", false, false, "home/Ormelix/071226_201305"},
                      PlaceCase{"OnlyPicturesReadOnly", true, false, "bin/071226_201305"}),
    [](const ::testing::TestParamInfo<PlaceCase>& Info) { return std::string(Info.param.name); });

#ifndef _WIN32
struct SystemFolderCase {
    const char* folder;
    bool system;
};

// Names the case in test listings.
void PrintTo(const SystemFolderCase& P, std::ostream* Os) {
    *Os << P.folder;
}

class SystemFolderTest : public ::testing::TestWithParam<SystemFolderCase> {};

// As root a file can be made in /usr/bin, so only the folder's kind keeps the series out.
TEST_P(SystemFolderTest, InstalledProgramNeverWritesBesideItself) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString pictures = QDir(tmp.path()).filePath("Pictures");
    const QString home = QDir(tmp.path()).filePath("home");
    EXPECT_EQ(IsSystemFolder(GetParam().folder), GetParam().system);
    if (!GetParam().system) return;
    EXPECT_EQ(SeriesRoot(GetParam().folder, pictures, home), pictures + "/Ormelix");
    // Nor does the last resort when no other place can be written.
    EXPECT_EQ(SeriesRoot(GetParam().folder, "/proc/no-pictures", "/proc/no-home"),
              "/proc/no-pictures/Ormelix");
}

INSTANTIATE_TEST_SUITE_P(
    Folders, SystemFolderTest,
    ::testing::Values(SystemFolderCase{"/usr/bin", true}, SystemFolderCase{"/usr/local/bin", true},
                      SystemFolderCase{"/bin", true}, SystemFolderCase{"/usr/sbin", true},
                      SystemFolderCase{"/sbin", true}, SystemFolderCase{"/opt/ormelix/bin", true},
                      SystemFolderCase{"/usr/lib/x86_64-linux-gnu/ormelix", true},
                      SystemFolderCase{"/usr/bin/../local/bin", true}, SystemFolderCase{"/", true},
                      SystemFolderCase{"/usrlocal/bin", false},
                      SystemFolderCase{"/home/user/ormelix/build", false},
                      SystemFolderCase{"/var/home/user/bin", false},
                      SystemFolderCase{"/tmp/ormelix", false}),
    [](const ::testing::TestParamInfo<SystemFolderCase>& Info) {
        std::string name = "At";
        for (const char* c = Info.param.folder; *c; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

struct PicturesSettingCase {
    const char* name;
    const char* setting;  // the user-dirs line's value; null for no file
    const char* home;     // null for the temporary home
    const char* expected; // under the temporary home; null for none known
};

// Names the case in test listings.
void PrintTo(const PicturesSettingCase& P, std::ostream* Os) {
    *Os << P.name;
}

class PicturesSettingTest : public ::testing::TestWithParam<PicturesSettingCase> {
protected:
    // The environment as it was, given back after each case.
    struct SavedVariable {
        const char* name;
        bool was = qEnvironmentVariableIsSet(name);
        QByteArray value = qgetenv(name);
        ~SavedVariable() {
            if (was)
                qputenv(name, value);
            else
                qunsetenv(name);
        }
    };
    SavedVariable savedHome{"HOME"};
    SavedVariable savedConfig{"XDG_CONFIG_HOME"};
};

TEST_P(PicturesSettingTest, OnlyAnAbsoluteSettingIsFollowed) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const auto& c = GetParam();
    const QString home = c.home ? QString(c.home) : tmp.path();
    qputenv("HOME", home.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", tmp.path().toLocal8Bit());
    if (c.setting) {
        QFile dirs(QDir(tmp.path()).filePath("user-dirs.dirs"));
        ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
        dirs.write(QByteArray("XDG_PICTURES_DIR=") + c.setting + "\n");
    }
    const QString expected =
        c.expected ? QDir(tmp.path()).filePath(QString::fromUtf8(c.expected)) : QString();
    EXPECT_EQ(UserPicturesFolder(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PicturesSettingTest,
    ::testing::Values(PicturesSettingCase{"UnderHome", "\"$HOME/Bilder\"", nullptr, "Bilder"},
                      PicturesSettingCase{"None", nullptr, nullptr, "Pictures"},
                      PicturesSettingCase{"Empty", "\"\"", nullptr, "Pictures"},
                      PicturesSettingCase{"Relative", "\"shots\"", nullptr, "Pictures"},
                      PicturesSettingCase{"DotRelative", "\"./shots\"", nullptr, "Pictures"},
                      PicturesSettingCase{"Unquoted", "shots", nullptr, "Pictures"},
                      PicturesSettingCase{"RelativeHome", nullptr, "relative/home", nullptr}),
    [](const ::testing::TestParamInfo<PicturesSettingCase>& Info) {
        return std::string(Info.param.name);
    });
#endif

TEST_F(SnapshotTest, PictureIsTheTopOfTheWindowAsAJpeg) {
    for (int i = 0; i <= 120; ++i) instrument->next[2 * i] = 100;
    StartSeries();
    TickAt(230);
    ASSERT_EQ(Pictures().size(), 1);
    QFile file(Pictures()[0]);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_GE(bytes.size(), 4);
    EXPECT_EQ(static_cast<uint8_t>(bytes[0]), 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(bytes[1]), 0xD8);
    EXPECT_EQ(static_cast<uint8_t>(bytes[bytes.size() - 2]), 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(bytes[bytes.size() - 1]), 0xD9);
    const QImage picture = DecodePicture(bytes);
    ASSERT_EQ(picture.size(), QSize(517, 353));
    // The plot's white area, and the S1 trace at row 155 (column 100 of the plot).
    const QColor plot = picture.pixelColor(18 + 40, 20);
    EXPECT_GT(plot.lightness(), 235);
    EXPECT_LT(picture.pixelColor(18 + 100, 155).lightness(), 120);
}

TEST_F(SnapshotTest, UnwritableFolderLeavesNoFileAndPollingGoesOn) {
    QFile blocker(QDir(tmp.path()).filePath("not-a-folder"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    programFolder = blocker.fileName(); // a file where the folder should be
    StartSeries();
    TickAt(230);
    EXPECT_TRUE(Pictures().isEmpty());
    EXPECT_TRUE(SnapshotArmed); // the series goes on as if the picture had been taken
    EXPECT_TRUE(form->Timer->isActive());
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8(FoundCaption));
}

TEST_F(SnapshotTest, AfterIdleTheSeriesGoesOnInAFolderNamedAtTheTrigger) {
    StartSeries();
    form->CheckBox1->setChecked(false); // idle: the folder name is gone, the box stays ticked
    ASSERT_TRUE(SnapshotFolder.isEmpty());
    ASSERT_TRUE(form->CheckBox2->isChecked());
    Connect();
    TickAt(230);
    ASSERT_EQ(Pictures().size(), 1);
    EXPECT_FALSE(SnapshotFolder.isEmpty());
    EXPECT_EQ(QFileInfo(Pictures()[0]).absolutePath(), SnapshotFolder);
    EXPECT_TRUE(form->Timer->isActive());
}

TEST_F(SnapshotTest, UntickingTheConnectionDuringTheCaptureStopsWithoutAPicture) {
    StartSeries();
    QTimer::singleShot(0, form.get(), [this] { form->CheckBox1->setChecked(false); });
    TickAt(230);
    EXPECT_TRUE(Pictures().isEmpty());
    EXPECT_FALSE(form->Timer->isActive());
    EXPECT_FALSE(SnapshotArmed);
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8(IdleCaption));
}

TEST_F(SnapshotTest, CommandDuringTheCaptureReplacesTheRecordTheStepReads) {
    StartSeries();
    // A stored-variable read run while pending events are handled fetches a record whose
    // cursor is back at 100; the rest of the step reads that record.
    QTimer::singleShot(0, form.get(), [this] {
        instrument->next[CursorPos] = 100;
        form->FuncComboBox->setCurrentIndex(1);
        form->GoButtonClick(form->GoButton);
    });
    TickAt(215);
    EXPECT_EQ(Pictures().size(), 1);
    EXPECT_EQ(ExchangeBuffer[CursorPos], 100);
    EXPECT_EQ(SnapshotTriggerPos, 100);
    EXPECT_TRUE(SnapshotArmed); // 100 is not below the trigger position just taken
    TickAt(99);
    EXPECT_FALSE(SnapshotArmed);
}

} // namespace
