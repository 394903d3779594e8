// ormelix-cli: its rows against the records the instrument served, its file under failure, the
// whole process under signals, and its commands against the console's command button.
#include "tools/cli/Cli.h"
#include "app/Unit1.h"
#include "hid/sim/SimHidPlatform.h"
#include "instrument/Command.h"
#include "instrument/Protocol.h"
#include "tests/common/ProgramState.h"
#include "tools/cli/Csv.h"
#include "tools/cli/Recorder.h"
#include "widgets/RXSpin.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <vector>

namespace {

using cli::Record;
using namespace instrument;

// An instrument whose records the test chooses, that keeps every record it served and every
// report it was sent. After ReadStored its next record is Stored.
struct TestInstrument {
    std::mutex lock;
    std::function<Record(int Fetch)> make;
    Record stored{};
    bool storedNext = false;
    std::vector<Record> served;
    std::vector<std::vector<uint8_t>> received;
};

hidsim::SimDeviceSpec Device(std::shared_ptr<TestInstrument> I, const std::string& Path,
                             std::u16string Manufacturer = u"Bramlo-kt") {
    hidsim::SimDeviceSpec d;
    d.Path = Path;
    d.VendorID = VendorId;
    d.ProductID = ProductId;
    d.Manufacturer = std::move(Manufacturer);
    d.Product = u"Ormelix";
    d.FeatureReportByteLength = ReportSize;
    d.UsagePage = UsagePage;
    d.Usage = Usage;
    d.GetFeature = [I](uint8_t* Report, uint32_t Length) {
        std::lock_guard<std::mutex> g(I->lock);
        const Record r = I->storedNext ? I->stored : I->make(static_cast<int>(I->served.size()));
        I->storedNext = false;
        I->served.push_back(r);
        std::copy_n(r.begin(), std::min<size_t>(Length - 1, r.size()), Report + 1);
        return true;
    };
    d.SetFeature = [I](const uint8_t* Report, uint32_t Length) {
        std::lock_guard<std::mutex> g(I->lock);
        I->received.emplace_back(Report, Report + Length);
        if (Length == ReportSize && Report[1 + CommandCode] == command::ReadStored)
            I->storedNext = true;
        return true;
    };
    return d;
}

// Every byte differs from fetch to fetch; the scale walks through Scales.
std::function<Record(int)> Walking(std::vector<uint8_t> Scales) {
    return [Scales](int Fetch) {
        Record r{};
        for (int i = 0; i < RecordSize; ++i) r[i] = static_cast<uint8_t>(i * 7 + Fetch * 13);
        r[ScaleByte] = Scales[static_cast<size_t>(Fetch) % Scales.size()];
        return r;
    };
}

std::string Slurp(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The rows of a CSV text after the header; fails the test on any line that is not whole.
std::vector<std::vector<std::string>> Rows(const std::string& Text) {
    std::vector<std::vector<std::string>> rows;
    EXPECT_EQ(Text.compare(0, cli::CsvHeader().size(), cli::CsvHeader()), 0) << "header";
    size_t at = cli::CsvHeader().size();
    while (at < Text.size()) {
        const size_t end = Text.find("\r\n", at);
        if (end == std::string::npos) {
            ADD_FAILURE() << "incomplete last row: " << Text.size() - at << " bytes";
            break;
        }
        rows.push_back(cli::CsvFields(std::string_view(Text).substr(at, end - at)));
        EXPECT_EQ(rows.back().size(), static_cast<size_t>(cli::CsvColumns))
            << "row " << rows.size();
        at = end + 2;
    }
    return rows;
}

// The record bytes behind the volt columns, in column order.
std::vector<int> VoltColumnBytes() {
    std::vector<int> bytes = {MinS1, MaxS1, MinS2, MaxS2};
    for (int s = 0; s < 2; ++s)
        for (int i = 0; i < SamplePoints; ++i) bytes.push_back(SampleByte(s, i));
    return bytes;
}

class RecordTest : public ::testing::Test {
protected:
    void SetUp() override { SetHidPlatform(sim.Platform()); }
    void TearDown() override { SetHidPlatform(nullptr); }

    std::shared_ptr<TestInstrument> Plug(std::function<Record(int)> Make) {
        auto i = std::make_shared<TestInstrument>();
        i->make = std::move(Make);
        sim.Plug(Device(i, "/dev/hidraw0"));
        return i;
    }

    int RunRecorder(cli::RecordOptions Options,
                    std::function<void(cli::Recorder&, uint64_t)> Hook = {}) {
        err.str("");
        cli::Recorder recorder(std::move(Options), err);
        if (Hook) recorder.AfterTick = [&](uint64_t Rows) { Hook(recorder, Rows); };
        const int status = recorder.Run();
        summary = recorder.Summary();
        return status;
    }

    cli::RecordOptions Options(const std::string& File, uint64_t Count, bool Raw = false) {
        cli::RecordOptions o;
        o.Output = File;
        o.Count = Count;
        o.PeriodMs = 10;
        o.Raw = Raw;
        return o;
    }

    hidsim::SimHidPlatform sim;
    QTemporaryDir tmp;
    std::ostringstream err;
    cli::RecordSummary summary;
};

// --- rows against the records ---------------------------------------------------------------

TEST_F(RecordTest, RawRowsAreTheRecordsAndVoltRowsAgreeWithThem) {
    // A look-alike from another maker comes first: it must never be fetched.
    auto lookAlike = std::make_shared<TestInstrument>();
    lookAlike->make = [](int) { return Record{}; };
    sim.Plug(Device(lookAlike, "/dev/hidraw9", u"Bramlo-KT"));
    const std::vector<uint8_t> scales = {64, 0, 1, 255, 11};
    for (const bool raw : {true, false}) {
        SCOPED_TRACE(raw ? "raw" : "volts");
        auto instrument = Plug(Walking(scales));
        const std::string file = tmp.filePath(raw ? "raw.csv" : "volts.csv").toStdString();
        ASSERT_EQ(RunRecorder(Options(file, 12, raw)), 0) << err.str();
        sim.Unplug("/dev/hidraw0");
        const auto rows = Rows(Slurp(file));
        ASSERT_EQ(rows.size(), 12u);
        ASSERT_EQ(instrument->served.size(), 12u);
        for (size_t k = 0; k < rows.size(); ++k) {
            const auto& row = rows[k];
            const cli::Record& r = instrument->served[k];
            EXPECT_EQ(row[1], std::to_string(k + 1));
            EXPECT_EQ(row[2], std::to_string(r[ScaleByte]));
            EXPECT_EQ(row[3], std::to_string(r[CursorPos]));
            const std::vector<int> bytes = VoltColumnBytes();
            for (size_t c = 0; c < bytes.size(); ++c) {
                const std::string& cell = row[4 + c];
                const uint8_t b = r[bytes[c]];
                if (raw) {
                    ASSERT_EQ(cell, std::to_string(b)) << "row " << k << " column " << c;
                } else if (r[ScaleByte] == 0) {
                    ASSERT_EQ(cell, "") << "row " << k << " column " << c;
                } else {
                    ASSERT_NE(cell.find('.'), std::string::npos) << cell;
                    const long double v = std::strtold(cell.c_str(), nullptr);
                    ASSERT_LE(std::fabs(v - ByteVolts(b, r[ScaleByte])), 5.0001e-7L)
                        << "row " << k << " column " << c << ": " << cell;
                }
            }
        }
    }
    EXPECT_TRUE(lookAlike->served.empty());
}

TEST(CsvTest, AdjacentStepsAreTellableApartAtEveryScale) {
    for (int scale = 1; scale <= 255; ++scale) {
        std::string previous;
        for (int b = 0; b <= 255; ++b) {
            std::string text;
            cli::AppendVolts(text, static_cast<uint8_t>(b), static_cast<uint8_t>(scale));
            ASSERT_NE(text, previous) << "scale " << scale << " byte " << b;
            previous = text;
        }
    }
    // Time: milliseconds and an offset, whatever the zone.
    const std::string t = cli::IsoTime(std::chrono::system_clock::now());
    EXPECT_EQ(t.size(), 29u) << t;
    EXPECT_EQ(t[10], 'T');
    EXPECT_EQ(t[19], '.');
    EXPECT_TRUE(t[23] == '+' || t[23] == '-') << t;
}

// --- the instrument going and coming ----------------------------------------------------------

TEST_F(RecordTest, UnplugAndReplugDuringARecordingShowAsAGap) {
    auto instrument = Plug(Walking({64}));
    const std::string file = tmp.filePath("gap.csv").toStdString();
    int waitingTicks = 0;
    const int status = RunRecorder(Options(file, 10), [&](cli::Recorder&, uint64_t Rows) {
        if (Rows == 4 && sim.IsPlugged("/dev/hidraw0") && waitingTicks == 0) {
            sim.Unplug("/dev/hidraw0");
        } else if (!sim.IsPlugged("/dev/hidraw0") && ++waitingTicks == 5) {
            sim.Plug(Device(instrument, "/dev/hidraw0"));
        }
    });
    ASSERT_EQ(status, 0) << err.str();
    EXPECT_EQ(summary.Records, 10u);
    EXPECT_EQ(summary.Gaps, 1u);
    EXPECT_NE(err.str().find("the instrument went away at "), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("the instrument is back at "), std::string::npos) << err.str();
    const auto rows = Rows(Slurp(file));
    ASSERT_EQ(rows.size(), 10u);
    for (size_t k = 0; k < rows.size(); ++k) EXPECT_EQ(rows[k][1], std::to_string(k + 1));
    // The gap is in the time stamps: five periods and more between rows 4 and 5.
    const auto ms = [](const std::string& T) {
        return std::stol(T.substr(11, 2)) * 3600000 + std::stol(T.substr(14, 2)) * 60000 +
               std::stol(T.substr(17, 2)) * 1000 + std::stol(T.substr(20, 3));
    };
    EXPECT_GE(ms(rows[4][0]) - ms(rows[3][0]), 50);
}

TEST_F(RecordTest, AnUnreachableInstrumentGetsHidlistsHint) {
    struct Case {
        hidsim::SimAccess Access; // of the instrument; None: not plugged in
        const char* Hint;
    } cases[] = {
        {hidsim::SimAccess::None, "no HID interface with product \"Ormelix\""},
        {hidsim::SimAccess::QueryOnly, "does not open read-write: install the udev rule"},
    };
    for (const Case& c : cases) {
        if (c.Access != hidsim::SimAccess::None) {
            auto device = Device(std::make_shared<TestInstrument>(), "/dev/hidraw5");
            device.Access = c.Access;
            sim.Plug(device);
        }
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"info"}, std::vector<std::string>{"send", "os2=1"}}) {
            std::ostringstream out, err;
            EXPECT_EQ(cli::CliMain(args, out, err), cli::ExitUnreachable) << args[0];
            EXPECT_NE(err.str().find(c.Hint), std::string::npos) << err.str();
        }
    }
}

// --- the file under failure -----------------------------------------------------------------

TEST_F(RecordTest, AFullDiskKeepsEveryCompleteRowAndFails) {
    const QByteArray point = QFile::encodeName(tmp.filePath("small"));
    ASSERT_TRUE(QDir(tmp.path()).mkdir("small"));
    if (::mount("tmpfs", point.constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "no tmpfs mount here: " << std::strerror(errno);
    struct Unmount {
        QByteArray Point;
        ~Unmount() { ::umount2(Point.constData(), MNT_DETACH); }
    } unmount{point};
    auto instrument = Plug(Walking({64, 255}));
    const std::string file = point.toStdString() + "/full.csv";
    ASSERT_EQ(RunRecorder(Options(file, 0)), cli::ExitFile);
    EXPECT_NE(err.str().find("the disk is full"), std::string::npos) << err.str();
    const std::string text = Slurp(file);
    const auto rows = Rows(text);
    ASSERT_GT(rows.size(), 5u);
    EXPECT_EQ(rows.size(), summary.Records);
    // One more row was fetched than written: the one that did not fit, and nothing of it stays.
    EXPECT_EQ(instrument->served.size(), rows.size() + 1);
    EXPECT_EQ(rows.back()[1], std::to_string(rows.size()));
}

TEST_F(RecordTest, AVanishedFolderEndsTheRunWithinASecond) {
    Plug(Walking({64}));
    ASSERT_TRUE(QDir(tmp.path()).mkdir("gone"));
    const std::string file = tmp.filePath("gone/x.csv").toStdString();
    const auto start = std::chrono::steady_clock::now();
    const int status = RunRecorder(Options(file, 100000), [&](cli::Recorder&, uint64_t Rows) {
        if (Rows == 3) QDir(tmp.filePath("gone")).removeRecursively();
    });
    EXPECT_EQ(status, cli::ExitFile);
    EXPECT_NE(err.str().find("is gone"), std::string::npos) << err.str();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
}

TEST_F(RecordTest, ExistingFilesAreKeptOrAppendedToOnlyWhenTheyFit) {
    Plug(Walking({64}));
    const std::string file = tmp.filePath("kept.csv").toStdString();
    ASSERT_EQ(RunRecorder(Options(file, 3)), 0);
    const std::string first = Slurp(file);

    cli::RecordOptions again = Options(file, 2);
    EXPECT_EQ(RunRecorder(again), cli::ExitFile); // no --force, no --append
    EXPECT_NE(err.str().find("exists"), std::string::npos);
    EXPECT_EQ(Slurp(file), first);

    cli::RecordOptions raw = Options(file, 2, true);
    raw.How = cli::RowFile::Mode::Append;
    EXPECT_EQ(RunRecorder(raw), cli::ExitFile); // raw rows onto volt rows
    EXPECT_EQ(Slurp(file), first);

    // A torn last row (a run killed mid-write) is cut off; the counter goes on.
    {
        std::ofstream(file, std::ios::app | std::ios::binary)
            << "2026-12-09T06:00:00.000+00:00,4,6";
    }
    cli::RecordOptions append = Options(file, 2);
    append.How = cli::RowFile::Mode::Append;
    ASSERT_EQ(RunRecorder(append), 0) << err.str();
    EXPECT_NE(err.str().find("cut an incomplete last row (33 bytes)"), std::string::npos)
        << err.str();
    auto rows = Rows(Slurp(file));
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[4][1], "5");
    EXPECT_EQ(Slurp(file).substr(0, first.size()), first);

    std::ofstream(tmp.filePath("other.csv").toStdString()) << "a,b\r\n1,2\r\n";
    cli::RecordOptions other = Options(tmp.filePath("other.csv").toStdString(), 1);
    other.How = cli::RowFile::Mode::Append;
    EXPECT_EQ(RunRecorder(other), cli::ExitFile);

    cli::RecordOptions force = Options(file, 1);
    force.How = cli::RowFile::Mode::Overwrite;
    ASSERT_EQ(RunRecorder(force), 0);
    EXPECT_EQ(Rows(Slurp(file)).size(), 1u);
}

// --- the whole program ------------------------------------------------------------------------

class ProcessTest : public ::testing::Test {
protected:
    QTemporaryDir tmp;

    static size_t CompleteRows(const std::string& Path) {
        const std::string text = Slurp(Path);
        size_t n = 0;
        for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
            ++n;
        return n == 0 ? 0 : n - 1;
    }

    // Starts a recording on the virtual instrument and waits for Rows rows.
    void StartRecording(QProcess& P, const QString& File, size_t Rows) {
        P.start(ORMELIX_CLI, {"record", "--demo", "--period", "10", "-o", File});
        ASSERT_TRUE(P.waitForStarted());
        for (int i = 0; i < 500 && CompleteRows(File.toStdString()) < Rows; ++i)
            QThread::msleep(10);
        ASSERT_GE(CompleteRows(File.toStdString()), Rows);
    }
};

TEST_F(ProcessTest, KillNineLeavesNoPartialRow) {
    for (int run = 0; run < 6; ++run) {
        const QString file = tmp.filePath(QString("killed%1.csv").arg(run));
        QProcess p;
        StartRecording(p, file, 5 + run * 3);
        ::kill(static_cast<pid_t>(p.processId()), SIGKILL);
        ASSERT_TRUE(p.waitForFinished());
        const auto rows = Rows(Slurp(file.toStdString()));
        ASSERT_GE(rows.size(), 5u);
        for (size_t k = 0; k < rows.size(); ++k) ASSERT_EQ(rows[k][1], std::to_string(k + 1));
    }
}

TEST_F(ProcessTest, SigtermAndSigintEndWithASummary) {
    for (const int signal : {SIGTERM, SIGINT}) {
        const QString file = tmp.filePath(QString("signal%1.csv").arg(signal));
        QProcess p;
        StartRecording(p, file, 5);
        ::kill(static_cast<pid_t>(p.processId()), signal);
        ASSERT_TRUE(p.waitForFinished());
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        const size_t rows = Rows(Slurp(file.toStdString())).size();
        // Not a terminal: no progress line, and the summary names the rows written.
        EXPECT_FALSE(err.contains('\r')) << err.toStdString();
        EXPECT_TRUE(err.contains(QString("%1 records in ").arg(rows))) << err.toStdString();
        EXPECT_TRUE(err.contains("0 gaps, in " + file)) << err.toStdString();
    }
}

TEST_F(ProcessTest, ExitStatusesAndThePythonCsvReader) {
    struct Case {
        QStringList Args;
        int Status;
        const char* Says; // on stderr
    } cases[] = {
        {{"record", "--period", "5"}, cli::ExitUsage, "--period takes milliseconds"},
        {{"record", "--count", "3", "--duration", "1m"}, cli::ExitUsage, "not both"},
        {{"send", "save-period"}, cli::ExitUsage, "1 to 255"},
        {{"send", "os3=1"}, cli::ExitUsage, "unknown command"},
        {{"frobnicate"}, cli::ExitUsage, "unknown command"},
        // This machine has no instrument: ormelix-hidlist's hint, or that HID cannot be listed.
        {{"info"}, cli::ExitUnreachable, "ormelix-cli: "},
        {{"send", "--help"}, 0, ""},
    };
    for (const Case& c : cases) {
        QProcess p;
        p.start(ORMELIX_CLI, c.Args);
        ASSERT_TRUE(p.waitForFinished());
        EXPECT_EQ(p.exitCode(), c.Status) << c.Args.join(' ').toStdString();
        EXPECT_TRUE(p.readAllStandardError().contains(c.Says)) << c.Args.join(' ').toStdString();
    }

    // What a fresh machine does first: 20 rows of the virtual instrument, read by Python.
    QProcess p;
    p.setWorkingDirectory(tmp.path());
    p.start(ORMELIX_CLI, {"record", "--demo", "--count", "20", "-o", "demo.csv"});
    ASSERT_TRUE(p.waitForFinished(20000));
    ASSERT_EQ(p.exitCode(), 0);
    QProcess py;
    py.setWorkingDirectory(tmp.path());
    py.start("python3", {"-c", "import csv\n"
                               "rows = list(csv.reader(open('demo.csv', newline='')))\n"
                               "print(len(rows), sorted({len(r) for r in rows}))"});
    if (!py.waitForStarted()) GTEST_SKIP() << "no python3 here";
    ASSERT_TRUE(py.waitForFinished());
    EXPECT_EQ(py.readAllStandardOutput().trimmed(), "21 [250]");
}

// --- commands: the same reports as the console's button ---------------------------------------

class SendTest : public ::testing::TestWithParam<int> {
protected:
    static Record First() {
        Record r{};
        for (int i = 0; i < RecordSize; ++i) r[i] = static_cast<uint8_t>(255 - i);
        r[ScaleByte] = 64;
        r[CursorPos] = 100;
        r[CommandCode] = 7;
        return r;
    }
    static Record Stored() {
        Record r = First();
        r[PollPeriod] = 33;
        r[ScaleByte] = 99;
        r[CommandCode] = 0;
        return r;
    }

    // The reports the instrument receives when the console sends item Item with the poll period
    // field at Period, after one tick.
    std::vector<std::vector<uint8_t>> FromConsole(int Item, int Period, std::vector<int>& Pauses) {
        hidsim::SimHidPlatform sim;
        SetHidPlatform(sim.Platform());
        ResetProgramState();
        auto i = std::make_shared<TestInstrument>();
        i->make = [](int) { return First(); };
        i->stored = Stored();
        sim.Plug(Device(i, "/dev/hidraw0"));
        std::vector<std::vector<uint8_t>> sent;
        {
            TOrmelix_Control_Form form;
            form.Pause = [&](int Ms) { Pauses.push_back(Ms); };
            form.PicturesFolder = [] { return QString(); };
            ProcessPendingEvents();
            form.CheckBox1->setChecked(true); // reads the stored variables on connecting
            form.TimerTimer(form.Timer);
            Pauses.clear();
            i->received.clear();
            form.RxSpinEdit240->SetValue(Period);
            form.FuncComboBox->setCurrentIndex(Item);
            form.GoButtonClick(form.GoButton);
            sent = i->received;
            form.CheckBox1->setChecked(false);
        }
        ResetProgramState();
        SetHidPlatform(nullptr);
        return sent;
    }

    std::vector<std::vector<uint8_t>> FromCli(const std::vector<std::string>& Args,
                                              std::string& Out) {
        hidsim::SimHidPlatform sim;
        SetHidPlatform(sim.Platform());
        auto i = std::make_shared<TestInstrument>();
        i->make = [](int) { return First(); };
        i->stored = Stored();
        sim.Plug(Device(i, "/dev/hidraw0"));
        std::ostringstream out, err;
        EXPECT_EQ(cli::CliMain(Args, out, err), 0) << err.str();
        SetHidPlatform(nullptr);
        Out = out.str();
        return i->received;
    }
};

TEST_P(SendTest, SendsWhatTheConsolesButtonSends) {
    const int item = GetParam();
    const CommandItem& c = CommandItems[item];
    const bool save = c.Code == command::SaveStored;
    for (const bool byCode : {false, true}) {
        std::vector<std::string> args = {"send", byCode ? std::to_string(c.Code) : c.Name};
        if (save) args.push_back("200");
        std::string out;
        const auto cli = FromCli(args, out);
        std::vector<int> pauses;
        const auto console = FromConsole(item, 200, pauses);
        ASSERT_EQ(cli.size(), c.Code == command::ReadStored ? 2u : 1u) << out;
        EXPECT_EQ(cli, console) << args[1];
        EXPECT_EQ(pauses,
                  c.Code == command::ReadStored ? std::vector<int>{10} : std::vector<int>{});
        EXPECT_EQ(cli[0][1 + CommandCode], c.Code);
        if (save) {
            EXPECT_EQ(cli[0][1 + PollPeriod], 200);
        }
        if (c.Code == command::ReadStored)
            EXPECT_NE(out.find("stored poll period 33, scale 99"), std::string::npos) << out;
        else
            EXPECT_NE(out.find(std::string("(") + c.Meaning + ")"), std::string::npos) << out;
    }
}

INSTANTIATE_TEST_SUITE_P(EightItems, SendTest, ::testing::Range(0, 8), [](const auto& Info) {
    std::string n = CommandItems[Info.param].Name;
    for (char& ch : n)
        if (ch == '=' || ch == '-') ch = '_';
    return n;
});

} // namespace
