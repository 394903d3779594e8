// The console polling the bench's virtual instrument, driven tick by tick.
#include "tools/demo/Demo.h"
#include "app/Unit1.h"
#include "hid/JvHidControllerClass.h"
#include "tests/common/DecodePicture.h"
#include "tests/common/ProgramState.h"
#include "tools/demo/VirtualBench.h"
#include "widgets/RXSpin.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>

namespace {

class DemoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetProgramState();
        bench = std::make_unique<VirtualBench>();
        form = std::make_unique<TOrmelix_Control_Form>();
        form->Pause = [](int) {};
        ProcessPendingEvents(); // the controller's first scan
    }
    void TearDown() override {
        window.reset();
        form.reset();
        bench.reset();
        ResetProgramState();
    }

    void Connect() { form->CheckBox1->setChecked(true); }
    void Tick() { form->TimerTimer(form->Timer); }
    QString Title() const { return form->windowTitle(); }

    void Send(int Item) {
        form->FuncComboBox->setCurrentIndex(Item);
        form->GoButtonClick(form->GoButton);
    }

    TVirtualBenchWindow& Window() {
        if (!window) window = std::make_unique<TVirtualBenchWindow>(*bench);
        return *window;
    }

    std::unique_ptr<VirtualBench> bench;
    std::unique_ptr<TOrmelix_Control_Form> form;
    std::unique_ptr<TVirtualBenchWindow> window;
};

TEST_F(DemoTest, ConsoleTakesTheInstrumentAndPassesTheOtherDevicesBy) {
    ASSERT_EQ(form->JvHidDeviceController->Count(), 3);
    Connect();
    ASSERT_NE(InstrumentDevice, nullptr);
    EXPECT_EQ(InstrumentDevice->PnPInfo().DevicePath, VirtualBench::InstrumentPath);
    EXPECT_EQ(form->JvHidDeviceController->CheckedOutCount(), 1);
    // Connecting read the stored variables: a command 1, then the echo of the reply.
    const VirtualInstrument::State s = bench->Instrument().Snapshot();
    EXPECT_EQ(s.Commands, 2u);
    EXPECT_EQ(s.Fetches, 1u);
    EXPECT_EQ(ScaleDivisor, s.StoredScale);
    EXPECT_EQ(form->RxSpinEdit240->IntegerValue(), s.StoredPollPeriod);
    // Nothing went to the look-alike.
    for (const auto& t : bench->Sim().FeatureTransfers())
        EXPECT_EQ(t.Path, VirtualBench::InstrumentPath);
}

TEST_F(DemoTest, AutoConnectSetsTheMarkersAndPolls) {
    DemoAutoConnect(*form);
    EXPECT_TRUE(form->Timer->isActive());
    Tick();
    EXPECT_EQ(Title(), QString::fromUtf8(FoundCaption));
    EXPECT_EQ(form->Label_mark1->text(), QStringLiteral("3.3 В"));
    EXPECT_EQ(form->Label_mark2->text(), QStringLiteral("1.2 В"));
    // Each marker is a full-width line at its level: 255 - trunc(u * 64 / 1.1).
    const int row1 = 255 - static_cast<int>(DemoMarker1 * 64 / 1.1L);
    const int row2 = 255 - static_cast<int>(DemoMarker2 * 64 / 1.1L);
    int navy = 0, teal = 0;
    for (int x = 0; x < form->Image->width(); ++x) {
        navy += form->Image->Canvas()->Pixel(x, row1) == clNavy;
        teal += form->Image->Canvas()->Pixel(x, row2) == clTeal;
    }
    // Traces and the cursor cross them here and there.
    EXPECT_GT(navy, 400);
    EXPECT_GT(teal, 400);
}

TEST_F(DemoTest, ACursorSweepWithSnapshotsOnLeavesOneCompleteJpeg) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    form->ProgramFolder = [&tmp] { return tmp.path(); };
    QDateTime clock(QDate(2026, 3, 14), QTime(9, 26, 53));
    form->Now = [&clock] { return clock = clock.addSecs(1); };
    Connect();
    Tick(); // enables the snapshot box
    ASSERT_LT(ExchangeBuffer[CursorPos], 150);
    form->CheckBox2->setChecked(true);

    // Poll until the cursor has run to its end and started over.
    int previous = ExchangeBuffer[CursorPos];
    int ticks = 0;
    bool passedTrigger = false;
    for (;;) {
        Tick();
        ASSERT_TRUE(form->Timer->isActive()) << "polling stopped at tick " << ticks;
        const int cursor = ExchangeBuffer[CursorPos];
        if (cursor < previous) break;
        passedTrigger = passedTrigger || cursor > 210;
        previous = cursor;
        ASSERT_LT(++ticks, 100) << "the cursor never came round";
    }
    ASSERT_TRUE(passedTrigger);

    QStringList pictures;
    QDirIterator it(tmp.path(), {"*"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) pictures << it.next();
    ASSERT_EQ(pictures.size(), 1) << pictures.join(", ").toStdString();
    EXPECT_TRUE(pictures[0].endsWith(".jpg"));

    QFile file(pictures[0]);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_GT(bytes.size(), 1000);
    EXPECT_EQ(static_cast<uint8_t>(bytes[0]), 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(bytes[1]), 0xD8);
    EXPECT_EQ(static_cast<uint8_t>(bytes[bytes.size() - 2]), 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(bytes[bytes.size() - 1]), 0xD9);
    const QImage picture = DecodePicture(bytes);
    ASSERT_EQ(picture.size(), QSize(SnapshotWidth, SnapshotHeight));
    // The plot in it holds the traces: dark pixels on the white plot, left of the read-outs.
    int dark = 0;
    for (int x = 18; x < 18 + 476; ++x)
        for (int y = 0; y < 255; ++y)
            if (qGray(picture.pixel(x, y)) < 80) ++dark;
    EXPECT_GT(dark, 200);

    // The next sweep takes the next picture.
    for (int i = 0; i < 45; ++i) Tick();
    int count = 0;
    QDirIterator again(tmp.path(), {"*.jpg"}, QDir::Files, QDirIterator::Subdirectories);
    while (again.hasNext()) {
        again.next();
        ++count;
    }
    EXPECT_EQ(count, 2);
}

TEST_F(DemoTest, UnplugAndReplugThroughTheBench) {
    Connect();
    Tick();
    ASSERT_EQ(Title(), QString::fromUtf8(FoundCaption));
    ASSERT_TRUE(form->Timer->isActive());

    TVirtualBenchWindow& w = Window();
    w.UnplugButton->click();
    EXPECT_FALSE(bench->InstrumentPlugged());
    EXPECT_TRUE(w.PlugButton->isEnabled());
    EXPECT_FALSE(w.UnplugButton->isEnabled());
    EXPECT_EQ(w.ConnectionValue->text(), QStringLiteral("unplugged"));
    ProcessPendingEvents(); // the device-change notification

    Tick();
    EXPECT_EQ(Title(), QString::fromUtf8(NotFoundCaption));
    EXPECT_FALSE(form->CheckBox1->isChecked());
    EXPECT_FALSE(form->Timer->isActive());
    EXPECT_FALSE(form->GoButton->isEnabled());
    EXPECT_FALSE(form->CheckBox2->isEnabled());

    w.PlugButton->click();
    EXPECT_TRUE(bench->InstrumentPlugged());
    ProcessPendingEvents();
    const uint32_t fetchesBefore = bench->Instrument().Snapshot().Fetches;
    Connect();
    EXPECT_TRUE(form->Timer->isActive());
    ASSERT_NE(InstrumentDevice, nullptr);
    EXPECT_TRUE(InstrumentDevice->IsPluggedIn());
    Tick();
    EXPECT_EQ(Title(), QString::fromUtf8(FoundCaption));
    EXPECT_TRUE(form->GoButton->isEnabled());
    // The stored-variable read and this tick's poll both reached the instrument.
    EXPECT_EQ(bench->Instrument().Snapshot().Fetches, fetchesBefore + 2);
    EXPECT_EQ(ExchangeBuffer[ScaleByte], 64);
}

TEST_F(DemoTest, UnplugNoticedOnlyByTheFetchUntilTheNotificationIsHandled) {
    Connect();
    Tick();
    bench->UnplugInstrument();
    Tick(); // the held device still looks present: its fetch fails and leaves a zero record
    for (uint8_t b : ExchangeBuffer) ASSERT_EQ(b, 0);
    ProcessPendingEvents();
    Tick();
    EXPECT_EQ(Title(), QString::fromUtf8(NotFoundCaption));
    EXPECT_FALSE(form->CheckBox1->isChecked());
    EXPECT_FALSE(form->Timer->isActive());
}

struct CommandCase {
    std::vector<int> items;
    bool os1;
    bool os2;
    const char* lastCommand;
};

void PrintTo(const CommandCase& C, std::ostream* Os) {
    *Os << "items";
    for (int item : C.items) *Os << ' ' << item;
}

class BenchCommandTest : public DemoTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(BenchCommandTest, BenchShowsWhatTheConsoleSent) {
    Connect();
    Tick();
    TVirtualBenchWindow& w = Window();
    w.Refresh();
    ASSERT_EQ(w.Os1Value->text(), QStringLiteral("0 (off)"));
    ASSERT_EQ(w.Os2Value->text(), QStringLiteral("0 (off)"));
    for (int item : GetParam().items) Send(item);
    w.Refresh();
    EXPECT_EQ(w.Os1Value->text(),
              GetParam().os1 ? QStringLiteral("1 (on)") : QStringLiteral("0 (off)"));
    EXPECT_EQ(w.Os2Value->text(),
              GetParam().os2 ? QStringLiteral("1 (on)") : QStringLiteral("0 (off)"));
    EXPECT_EQ(w.LastCommandValue->text(), QString::fromUtf8(GetParam().lastCommand));
}

INSTANTIATE_TEST_SUITE_P(
    Items, BenchCommandTest,
    ::testing::Values(CommandCase{{5}, true, false, "49: OS1 = 1"},
                      CommandCase{{5, 4}, false, false, "48: OS1 = 0"},
                      CommandCase{{7}, false, true, "65: OS2 = 1"},
                      CommandCase{{7, 6}, false, false, "64: OS2 = 0"},
                      CommandCase{{5, 7}, true, true, "65: OS2 = 1"},
                      CommandCase{{5, 7, 3}, true, true, "32: reset working variables"}));

TEST_F(DemoTest, SavingThePollPeriodShowsAsStoredOnTheBench) {
    Connect();
    Tick();
    TVirtualBenchWindow& w = Window();
    w.Refresh();
    EXPECT_EQ(w.PollPeriodValue->text(), QStringLiteral("10 working, 10 stored"));
    form->RxSpinEdit240->SetValue(77);
    Send(2);
    w.Refresh();
    EXPECT_EQ(w.PollPeriodValue->text(), QStringLiteral("77 working, 77 stored"));
    EXPECT_EQ(w.LastCommandValue->text(), QStringLiteral("2: save variables"));
    // Read back by the next connection.
    form->CheckBox1->setChecked(false);
    form->RxSpinEdit240->SetValue(5);
    Connect();
    EXPECT_EQ(form->RxSpinEdit240->IntegerValue(), 77);
}

TEST_F(DemoTest, BenchFollowsThePollingOnItsOwn) {
    Connect();
    TVirtualBenchWindow& w = Window();
    const QString before = w.TrafficValue->text();
    Tick();
    Tick();
    // No explicit refresh: the window's timer must pick the new state up.
    QElapsedTimer clock;
    clock.start();
    while (w.TrafficValue->text() == before && clock.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_NE(w.TrafficValue->text(), before);
    EXPECT_EQ(w.CursorValue->text().toInt(), bench->Instrument().Snapshot().Cursor);
}

struct PlacementCase {
    const char* name;
    QRect available;
    QRect console;
    QSize bench;
    QPoint expected;
};

void PrintTo(const PlacementCase& C, std::ostream* Os) {
    *Os << C.name;
}

class PlacementTest : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(PlacementTest, BenchGoesBesideTheConsole) {
    const PlacementCase& c = GetParam();
    const QPoint p = BenchPosition(c.available, c.console, c.bench);
    EXPECT_EQ(p, c.expected) << c.name << ": got " << p.x() << "," << p.y();
    const QRect placed(p, c.bench);
    const bool roomBeside = c.available.width() >= c.console.width() + c.bench.width() + 12 ||
                            c.available.height() >= c.console.height() + c.bench.height() + 12;
    if (roomBeside) {
        EXPECT_FALSE(placed.intersects(c.console)) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Screens, PlacementTest,
    ::testing::Values(
        PlacementCase{"right", {0, 0, 1280, 800}, {381, 182, 517, 435}, {320, 300}, {910, 182}},
        PlacementCase{
            "right edge exactly", {0, 0, 1242, 800}, {381, 182, 517, 435}, {332, 300}, {910, 182}},
        PlacementCase{"left", {0, 0, 1280, 800}, {700, 100, 517, 435}, {320, 300}, {368, 100}},
        PlacementCase{"below", {0, 0, 800, 1000}, {141, 100, 517, 435}, {320, 300}, {141, 547}},
        PlacementCase{"kept on screen vertically",
                      {0, 0, 1280, 400},
                      {381, 0, 517, 435},
                      {320, 500},
                      {910, 0}},
        PlacementCase{
            "second screen", {1280, 0, 1920, 1080}, {1981, 322, 517, 435}, {320, 300}, {2510, 322}},
        PlacementCase{
            "too small: right edge", {0, 0, 640, 480}, {61, 22, 517, 435}, {320, 300}, {320, 22}}));

} // namespace
