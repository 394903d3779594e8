// ormelix-cli at its edges: runs that never reach the instrument, output that is lost, files
// with another writer or a foreign tail, pipes that fill or lose their reader, signals, the
// choice between two instruments, and the arguments scripts give.
#include "app/Unit1.h"
#include "hid/JvHidControllerClass.h"
#include "hid/sim/SimHidPlatform.h"
#include "instrument/Protocol.h"
#include "instrument/virtual/VirtualInstrument.h"
#include "tests/common/ProgramState.h"
#include "tests/common/Sanitized.h"
#include "tools/cli/Cli.h"
#include "tools/cli/Csv.h"
#include "tools/cli/InstrumentLink.h"
#include "tools/cli/OutputFile.h"
#include "tools/cli/Recorder.h"
#include "tools/cli/RowFile.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using namespace instrument;
using namespace std::chrono_literals;

std::string Slurp(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void Spit(const std::string& Path, const std::string& Text) {
    std::ofstream(Path, std::ios::binary | std::ios::trunc) << Text;
}

// The record counters of a CSV text's rows (either line end).
std::vector<std::string> Counters(const std::string& Text) {
    std::vector<std::string> counters;
    std::istringstream in(Text);
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto fields = cli::CsvFields(line);
        counters.push_back(fields.size() == cli::CsvColumns ? fields[1] : "torn");
    }
    return counters;
}

std::string Row(uint64_t Counter, const char* LineEnd = "\r\n") {
    cli::Record r{};
    r[ScaleByte] = 64;
    std::string row = cli::CsvRow("2026-12-09T06:00:00.000+00:00", Counter, r.data(), false);
    row.resize(row.size() - 2);
    return row + LineEnd;
}

std::string Header(const char* LineEnd = "\r\n") {
    const std::string& h = cli::CsvHeader();
    return h.substr(0, h.size() - 2) + LineEnd;
}

// An instrument of the simulated platform that answers with its number in every byte, and
// counts what it was sent.
struct Bench {
    struct Instrument {
        std::string Path, Serial;
        int Fetches = 0;
        std::vector<uint8_t> Codes;
        bool Refuses = false;
    };
    hidsim::SimHidPlatform sim;
    std::map<std::string, std::shared_ptr<Instrument>> plugged;
    std::function<std::string(const TJvHidPnPInfo&)> previousSerials = cli::SerialNumberOf;

    Bench() {
        SetHidPlatform(sim.Platform());
        cli::SerialNumberOf = [this](const TJvHidPnPInfo& Info) {
            const auto it = plugged.find(Info.DevicePath);
            return it == plugged.end() ? std::string() : it->second->Serial;
        };
    }
    ~Bench() {
        cli::SerialNumberOf = previousSerials;
        SetHidPlatform(nullptr);
    }

    std::shared_ptr<Instrument> Plug(const std::string& Path, const std::string& Serial,
                                     bool Refuses = false) {
        auto i = std::make_shared<Instrument>();
        i->Path = Path;
        i->Serial = Serial;
        i->Refuses = Refuses;
        hidsim::SimDeviceSpec d;
        d.Path = Path;
        d.VendorID = VendorId;
        d.ProductID = ProductId;
        d.Manufacturer = u"Bramlo-kt";
        d.Product = u"Ormelix";
        d.FeatureReportByteLength = ReportSize;
        d.UsagePage = UsagePage;
        d.Usage = Usage;
        d.GetFeature = [i](uint8_t* Report, uint32_t Length) {
            ++i->Fetches;
            std::fill(Report + 1, Report + Length, uint8_t{64});
            return !i->Refuses;
        };
        d.SetFeature = [i](const uint8_t* Report, uint32_t Length) {
            i->Codes.push_back(Report[Length - 1]);
            return true;
        };
        plugged[Path] = i;
        sim.Plug(d);
        return i;
    }
};

int RunRecorder(cli::RecordOptions Options, std::string& Err,
                std::function<void(cli::Recorder&, uint64_t)> Hook = {},
                std::function<void()> AfterOpen = {}) {
    std::ostringstream err;
    cli::Recorder recorder(std::move(Options), err);
    if (Hook) recorder.AfterTick = [&](uint64_t Rows) { Hook(recorder, Rows); };
    recorder.AfterOpen = std::move(AfterOpen);
    const int status = recorder.Run();
    Err = err.str();
    return status;
}

// --- a run that never reached the instrument is no success -----------------------------------

TEST(NeverReachedTest, EndsWithExitOneHoweverTheRunEnds) {
    struct Case {
        const char* Name;
        bool Plugged, Refuses;
        uint64_t Count;
        int64_t DurationMs, WaitMs;
        int PlugAfterTicks; // -1: never
        int Status;
        const char* Says;
    } cases[] = {
        {"duration ends, nothing plugged", false, false, 0, 300, 10000, -1, 1,
         "no record was fetched from the instrument: "},
        {"count never reached, the wait runs out", false, false, 3, 0, 200, -1, 1,
         "no instrument within the wait of"},
        {"refused fetches until the wait runs out", true, true, 3, 0, 200, -1, 1,
         "refused every fetch within the wait"},
        {"plugged in during the wait", false, false, 3, 0, 5000, 5, 0, "3 records in"},
        {"one record", true, false, 1, 0, 200, -1, 0, "1 record in"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Bench bench;
        if (c.Plugged) bench.Plug("/dev/hidraw0", "A", c.Refuses);
        QTemporaryDir tmp;
        cli::RecordOptions o;
        o.Output = tmp.filePath("x.csv").toStdString();
        o.PeriodMs = 10;
        o.Count = c.Count;
        o.DurationMs = c.DurationMs;
        o.WaitMs = c.WaitMs;
        int ticks = 0;
        std::string err;
        const auto start = std::chrono::steady_clock::now();
        const int status = RunRecorder(o, err, [&](cli::Recorder&, uint64_t) {
            if (++ticks == c.PlugAfterTicks) bench.Plug("/dev/hidraw0", "A");
        });
        EXPECT_EQ(status, c.Status) << err;
        EXPECT_NE(err.find(c.Says), std::string::npos) << err;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
        EXPECT_EQ(err.find("1 records"), std::string::npos) << err;
        // The hint for a machine without an instrument points to the virtual one.
        if (!c.Plugged && c.Status != 0) {
            EXPECT_NE(err.find("give --demo"), std::string::npos) << err;
        }
    }
}

// --- files: one writer, and what --append takes ----------------------------------------------

TEST(RowFileTest, AppendContinuesWholeRowsAndRefusesWhatItCannotRead) {
    const std::string torn = Row(4).substr(0, 33);
    struct Case {
        const char* Name;
        std::string Text;
        bool Opens;
        uint64_t LastCounter, Cut;
        const char* Says; // when refused
    } cases[] = {
        {"CRLF rows", Header() + Row(1) + Row(2), true, 2, 0, ""},
        {"LF rows after a CRLF header", Header() + Row(1, "\n") + Row(2, "\n") + Row(3, "\n"), true,
         3, 0, ""},
        {"LF header and rows", Header("\n") + Row(1, "\n") + Row(7, "\n"), true, 7, 0, ""},
        {"a torn row is cut", Header() + Row(1) + Row(2) + torn, true, 2, 33, ""},
        {"a torn first row is cut", Header() + torn, true, 0, 33, ""},
        {"a row torn before its LF", Header() + Row(1) + Row(2, "\r"), true, 1, Row(2, "\r").size(),
         ""},
        {"more than a row's worth of tail", Header() + Row(1) + std::string(5000, 'x'), false, 0, 0,
         "bytes that are not a whole row"},
        {"a counter that is no number",
         Header() + Row(1) + "t,abc" + Row(2).substr(Row(2).find(",2,") + 2), false, 0, 0,
         "has no record counter"},
        {"a negative counter", Header() + "t,-2" + Row(2).substr(Row(2).find(",2,") + 2), false, 0,
         0, "has no record counter"},
        {"too few fields", Header() + "a,b,c\r\n", false, 0, 0, "does not have 250 fields"},
        {"another header", "a,b\r\n1,2\r\n", false, 0, 0, "does not start with the header"},
    };
    QTemporaryDir tmp;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = tmp.filePath("a.csv").toStdString();
        Spit(path, c.Text);
        std::string error;
        {
            cli::RowFile f;
            ASSERT_EQ(f.Open(path, cli::RowFile::Mode::Append, false, error), c.Opens) << error;
            if (!c.Opens) {
                EXPECT_NE(error.find(c.Says), std::string::npos) << error;
                EXPECT_EQ(Slurp(path), c.Text);
                continue;
            }
            EXPECT_EQ(f.LastCounter(), c.LastCounter);
            EXPECT_EQ(f.CutBytes(), c.Cut);
            ASSERT_EQ(f.Write(Row(c.LastCounter + 1), error), cli::RowFile::Result::Written);
            ASSERT_TRUE(f.Close(error)) << error;
        }
        const std::string text = Slurp(path);
        EXPECT_EQ(text, c.Text.substr(0, c.Text.size() - c.Cut) + Row(c.LastCounter + 1));
    }
}

TEST(RowFileTest, ASecondWriterIsRefusedAndLeavesTheFileAlone) {
    QTemporaryDir tmp;
    const std::string path = tmp.filePath("one.csv").toStdString();
    std::string error;
    cli::RowFile first;
    ASSERT_TRUE(first.Open(path, cli::RowFile::Mode::Create, false, error)) << error;
    ASSERT_EQ(first.Write(Row(1), error), cli::RowFile::Result::Written);
    const std::string before = Slurp(path);
    for (const auto mode : {cli::RowFile::Mode::Append, cli::RowFile::Mode::Overwrite}) {
        cli::RowFile second;
        error.clear();
        EXPECT_FALSE(second.Open(path, mode, false, error));
        EXPECT_NE(error.find("is being written by another program"), std::string::npos) << error;
        EXPECT_EQ(Slurp(path), before); // --force did not empty it
    }
    // Once the first is closed, the next one may.
    ASSERT_TRUE(first.Close(error));
    cli::RowFile next;
    EXPECT_TRUE(next.Open(path, cli::RowFile::Mode::Append, false, error)) << error;
    EXPECT_EQ(next.LastCounter(), 1u);
}

#ifdef __linux__
// An output refused after its file was opened (another writer holds it) closes what it opened:
// a caller that tries again and again must not run out of descriptors.
TEST(OutputFileTest, ARefusedOpenLeavesNoDescriptorOpen) {
    using How = cli::OutputFile::How;
    const auto openDescriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    QTemporaryDir tmp;
    const std::string path = tmp.filePath("held.csv").toStdString();
    std::string error;
    const auto first = cli::OutputFile::OpenPath(path, How::CreateNew, error);
    ASSERT_TRUE(first) << error;
    const auto before = openDescriptors();
    for (const How mode : {How::Append, How::Replace, How::CreateNew}) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            error.clear();
            EXPECT_FALSE(cli::OutputFile::OpenPath(path, mode, error));
            EXPECT_FALSE(error.empty());
        }
    }
    EXPECT_EQ(openDescriptors(), before);
}
#endif

TEST(RecorderTest, TheFilesReadingIsNotPartOfTheDuration) {
    Bench bench;
    bench.Plug("/dev/hidraw0", "A");
    QTemporaryDir tmp;
    cli::RecordOptions o;
    o.Output = tmp.filePath("slow.csv").toStdString();
    o.PeriodMs = 10;
    o.DurationMs = 600;
    std::string err;
    // An append that takes 400 ms to read its file still records for 600 ms.
    ASSERT_EQ(RunRecorder(o, err, {}, [] { QThread::msleep(400); }), 0) << err;
    EXPECT_GE(Counters(Slurp(o.Output)).size(), 30u);
}

TEST(RecorderTest, LongDurationsAreWaitedForInStepsAQtTimerTakes) {
    struct Case {
        int64_t DurationMs;
        std::chrono::steady_clock::duration Elapsed;
        int Expected;
    } cases[] = {
        {1000, 0s, 1000},
        {1000, 999ms, 1},
        {1000, 1000ms, 0},
        {1000, 5000ms, 0},
        {int64_t{600} * 3600 * 1000, 0s, 3600 * 1000},             // 25 days
        {int64_t{87600} * 3600 * 1000, 87599h + 59min, 60 * 1000}, // the longest
        {int64_t{87600} * 3600 * 1000, 87600h, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cli::EndTimerMs(c.DurationMs, c.Elapsed), c.Expected) << c.DurationMs;
}

// --- the virtual instrument keeps S2's last point -------------------------------------------

TEST(VirtualInstrumentFlagsTest, TheOutputsLeaveEveryByteOfTheRecordAlone) {
    const int named[] = {PollPeriod, ScaleByte, MinS1, MaxS1, MinS2, MaxS2, CursorPos, CommandCode};
    EXPECT_GT(VirtualInstrument::OutputsByte, SampleByte(1, SamplePoints - 1));
    for (const int b : named) EXPECT_NE(VirtualInstrument::OutputsByte, b);
    for (const uint8_t flags : {0, 1, 2, 3}) {
        VirtualInstrument vi;
        VirtualInstrument::Record command{};
        command[CommandCode] = flags & 1 ? command::Os1On : command::Os1Off;
        vi.Receive(command);
        command[CommandCode] = flags & 2 ? command::Os2On : command::Os2Off;
        vi.Receive(command);
        for (int fetch = 0; fetch < 40; ++fetch) {
            const auto r = vi.Fetch();
            EXPECT_EQ(r[VirtualInstrument::OutputsByte], flags);
            // S2 is a triangle from 40 to 120 with a little noise, to its last point.
            const uint8_t last = r[SampleByte(1, SamplePoints - 1)];
            EXPECT_GE(last, 37) << "fetch " << fetch;
            EXPECT_LE(last, 123) << "fetch " << fetch;
            EXPECT_LE(std::abs(int(last) - int(r[SampleByte(1, SamplePoints - 2)])), 4 + 6);
        }
    }
}

// --- choosing the instrument ----------------------------------------------------------------

TEST(DeviceChoiceTest, TheNamedOneOrTheConsolesOneAndNoOther) {
    struct Case {
        std::string Device;
        int Expected; // 0: /dev/hidraw0, 1: /dev/hidraw1, -1: none (exit 1)
    } cases[] = {
        {"", 1},      {"/dev/hidraw0", 0}, {"/dev/hidraw1", 1},  {"SER-A", 0},
        {"SER-B", 1}, {"SER-C", -1},       {"/dev/hidraw2", -1},
    };
    for (const Case& c : cases) {
        for (const std::string command : {"send", "info", "record"}) {
            SCOPED_TRACE(command + " --device '" + c.Device + "'");
            Bench bench;
            auto a = bench.Plug("/dev/hidraw0", "SER-A");
            auto b = bench.Plug("/dev/hidraw1", "SER-B");
            QTemporaryDir tmp;
            std::vector<std::string> args = {command};
            if (command == "send") args.push_back("os1=1");
            if (command == "record")
                args.insert(args.end(), {"--count=2", "--period=10", "--wait=0",
                                         "--output=" + tmp.filePath("d.csv").toStdString()});
            if (!c.Device.empty()) args.push_back("--device=" + c.Device);
            std::ostringstream out, err;
            const int status = cli::CliMain(args, out, err);
            EXPECT_EQ(status, c.Expected < 0 ? cli::ExitUnreachable : cli::ExitDone) << err.str();
            const auto& chosen = c.Expected == 0 ? a : b;
            const auto& other = c.Expected == 0 ? b : a;
            if (c.Expected >= 0) {
                EXPECT_GT(chosen->Fetches, 0);
                EXPECT_EQ(other->Fetches, 0);
                if (command == "send") {
                    EXPECT_EQ(chosen->Codes, std::vector<uint8_t>{49});
                }
            } else {
                EXPECT_EQ(a->Fetches + b->Fetches, 0);
                if (command != "record") {
                    EXPECT_NE(err.str().find("'ormelix-cli list' lists"), std::string::npos)
                        << err.str();
                }
            }
        }
    }
}

TEST(DeviceChoiceTest, ListMarksTheOneTheConsoleTakes) {
    Bench bench;
    bench.Plug("/dev/hidraw3", "SER-A");
    bench.Plug("/dev/hidraw1", "");
    bench.Plug("/dev/hidraw2", "SER-C");
    std::ostringstream out, err;
    ASSERT_EQ(cli::CliMain({"list", "--json"}, out, err), 0) << err.str();
    EXPECT_EQ(out.str(), "[{\"path\": \"/dev/hidraw3\", \"serial\": \"SER-A\", \"location\": "
                         "null, \"default\": false}, {\"path\": \"/dev/hidraw1\", \"serial\": "
                         "null, \"location\": null, \"default\": false}, {\"path\": "
                         "\"/dev/hidraw2\", \"serial\": \"SER-C\", \"location\": null, "
                         "\"default\": true}]\n");
    // The console itself, on the same bench.
    ResetProgramState();
    {
        TOrmelix_Control_Form form;
        form.PicturesFolder = [] { return QString(); };
        ProcessPendingEvents();
        ASSERT_TRUE(form.Get_Ormelix_Dev());
        EXPECT_EQ(InstrumentDevice->PnPInfo().DevicePath, "/dev/hidraw2");
    }
    ResetProgramState();
}

#ifndef _WIN32
// --- POSIX only: sysfs, and the whole program under pipes, FIFOs, signals and terminals -------

TEST(DeviceChoiceTest, TheSerialNumberIsTheHidDevicesUniqueId) {
    QTemporaryDir tmp;
    struct Case {
        const char* Uevent; // nullptr: no file
        const char* Serial;
    } cases[] = {
        {"DRIVER=hid-generic\nHID_ID=0003:000016C0:000005DF\nHID_NAME=Bramlo-kt Ormelix\n"
         "HID_PHYS=usb-0000:00:14.0-2/input0\nHID_UNIQ=ORX-0042\nMODALIAS=hid:b0003\n",
         "ORX-0042"},
        {"HID_NAME=x\nHID_UNIQ=\n", ""},
        {"HID_NAME=x\n", ""},
        {nullptr, ""},
    };
    for (const Case& c : cases) {
        const QString dir = tmp.filePath(QString::number(&c - cases));
        QDir().mkpath(dir);
        if (c.Uevent) Spit((dir + "/uevent").toStdString(), c.Uevent);
        TJvHidPnPInfo info(1, "/dev/hidraw0");
        info.PhysicalDeviceObjectName = dir.toStdString();
        EXPECT_EQ(cli::NativeSerialNumber(info), c.Serial) << (c.Uevent ? c.Uevent : "none");
    }
}

class EdgeProcessTest : public ::testing::Test {
protected:
    QTemporaryDir tmp;

    std::string Path(const char* Name) const { return tmp.filePath(Name).toStdString(); }

    static int Run(const QStringList& Args, QByteArray* Err = nullptr,
                   const QString& StdoutFile = {}) {
        QProcess p;
        if (!StdoutFile.isEmpty()) p.setStandardOutputFile(StdoutFile);
        p.start(ORMELIX_CLI, Args);
        if (!p.waitForFinished(20000)) return -1;
        if (Err) *Err = p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    }

    std::string Fifo(const char* Name) const {
        const std::string path = Path(Name);
        EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
        return path;
    }
};

TEST_F(EdgeProcessTest, ArgumentsAsScriptsGiveThem) {
    const QString file = tmp.filePath("eq.csv");
    struct Case {
        QStringList Args;
        int Status;
        const char* Says; // on stderr, or stdout for --version
    } cases[] = {
        {{"--version"}, 0, "ormelix-cli " ORMELIX_VERSION_TEXT "\n"},
        {{"record", "--demo", "--count=1", "-o", ""}, 2, "-o needs a file name"},
        {{"record", "--demo", "--count=1", "--output="}, 2, "-o needs a file name"},
        {{"record", "--demo", "--period=10", "--duration", "2562048h"}, 2, "up to 87600h"},
        {{"record", "--demo", "--period=10", "--duration=87601h"}, 2, "up to 87600h"},
        {{"record", "--demo", "--count=1", "--raw=1"}, 2, "--raw takes no value"},
        {{"record", "--count=1", "--demo=3"}, 2, "--demo takes 1 or 2"},
        {{"record", "--demo", "--count=1", "--wait=-1"}, 2, "--wait takes"},
        {{"record", "--demo", "--count=2", "--period=10", "--output=" + file}, 0, "2 records"},
        {{"info", "--demo=2", "--device=ORX-0001", "--json"}, 0, ""},
        {{"send", "--demo", "--device", "/dev/hidraw-sim0", "save-period", "20"}, 0, ""},
    };
    for (const Case& c : cases) {
        QProcess p;
        p.start(ORMELIX_CLI, c.Args);
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << c.Args.join(' ').toStdString() << ": still running";
            continue;
        }
        const QByteArray said = p.readAllStandardError() + p.readAllStandardOutput();
        EXPECT_EQ(p.exitCode(), c.Status)
            << c.Args.join(' ').toStdString() << ": " << said.toStdString();
        EXPECT_TRUE(said.contains(c.Says))
            << c.Args.join(' ').toStdString() << ": " << said.toStdString();
    }
    EXPECT_EQ(Counters(Slurp(file.toStdString())), (std::vector<std::string>{"1", "2"}));
    for (const char* tool : {ORMELIX_HIDLIST, ORMELIX_SIM}) {
        if (*tool == '\0') continue;
        QProcess p;
        p.start(tool, {"--version"});
        ASSERT_TRUE(p.waitForFinished(5000));
        EXPECT_EQ(p.exitCode(), 0) << tool;
        EXPECT_TRUE(p.readAllStandardOutput().endsWith(" " ORMELIX_VERSION_TEXT "\n")) << tool;
    }
}

TEST_F(EdgeProcessTest, LostOutputIsExitThree) {
    struct Case {
        QStringList Args;
        const char* Says;
    } cases[] = {
        {{"info", "--demo", "--json"}, "cannot write to standard output"},
        {{"send", "--demo", "os1=1"}, "cannot write to standard output"},
        {{"list", "--demo"}, "cannot write to standard output"},
        {{"--version"}, "cannot write to standard output"},
        {{"record", "--demo", "--count", "2"}, "the disk is full"},
    };
    for (const Case& c : cases) {
        QByteArray err;
        EXPECT_EQ(Run(c.Args, &err, "/dev/full"), cli::ExitFile) << c.Args.join(' ').toStdString();
        EXPECT_TRUE(err.contains(c.Says)) << err.toStdString();
    }
}

TEST_F(EdgeProcessTest, AFifoWithoutReaderOrWhoseReaderLeavesIsExitThree) {
    const std::string fifo = Fifo("rows");
    QByteArray err;
    EXPECT_EQ(Run({"record", "--demo", "--count", "10", "-o", QString::fromStdString(fifo)}, &err),
              cli::ExitFile);
    EXPECT_TRUE(err.contains("no process reads")) << err.toStdString();

    // A reader that takes the header and two rows and leaves, with a period longer than a
    // second: the leaving is noticed between rows.
    for (const char* period : {"10", "5000"}) {
        // The reader first: the recorder refuses a FIFO that nobody reads.
        const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        QProcess p;
        p.start(ORMELIX_CLI,
                {"record", "--demo", "--period", period, "-o", QString::fromStdString(fifo)});
        ASSERT_TRUE(p.waitForStarted());
        std::string got;
        char buffer[65536];
        while (Counters(got).size() < 1 || got.back() != '\n') {
            pollfd pf{fd, POLLIN, 0};
            ASSERT_GT(::poll(&pf, 1, 10000), 0);
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            ASSERT_GT(n, 0);
            got.append(buffer, static_cast<size_t>(n));
        }
        ::close(fd);
        const auto left = std::chrono::steady_clock::now();
        ASSERT_TRUE(p.waitForFinished(5000));
        EXPECT_LT(std::chrono::steady_clock::now() - left, 1s) << period;
        EXPECT_EQ(p.exitCode(), cli::ExitFile) << period;
        EXPECT_TRUE(p.readAllStandardError().contains("reader")) << period;
    }
}

TEST_F(EdgeProcessTest, SignalsEndARunBlockedOnAFullPipe) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        const std::string fifo = Fifo(("full" + std::to_string(signal)).c_str());
        const int fd =
            ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); // a reader that never reads
        ASSERT_GE(fd, 0);
        QProcess p;
        p.start(ORMELIX_CLI, {"record", "--demo", "--period", "10", "--wait", "0", "-o",
                              QString::fromStdString(fifo)});
        ASSERT_TRUE(p.waitForStarted());
        // 64 KiB of pipe fill within about 25 rows; well past that the writer waits.
        QThread::msleep(1500);
        ASSERT_EQ(p.state(), QProcess::Running);
        const auto sent = std::chrono::steady_clock::now();
        ::kill(static_cast<pid_t>(p.processId()), signal);
        const bool ended = p.waitForFinished(3000);
        ::close(fd);
        if (!ended) {
            p.kill();
            p.waitForFinished();
        }
        ASSERT_TRUE(ended) << "signal " << signal;
        EXPECT_LT(std::chrono::steady_clock::now() - sent, 1s);
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
        EXPECT_TRUE(p.readAllStandardError().contains(" records in ")) << "signal " << signal;
    }
}

TEST_F(EdgeProcessTest, AppendToAHugeFileReadsOnlyItsEnds) {
#ifdef ORMELIX_SANITIZED
    GTEST_SKIP() << "the sanitizers' shadow memory does not fit an address-space limit";
#endif
    // 2 GiB, most of it a hole: reading it whole would not fit under the limit below.
    const std::string big = Path("big.csv");
    Spit(big, Header() + Row(1));
    ASSERT_EQ(::truncate(big.c_str(), int64_t{2} << 30), 0);
    { std::ofstream(big, std::ios::binary | std::ios::app) << "\n" << Row(41); }
    QProcess p;
    p.start("sh", {"-c", QString("ulimit -v 1000000; exec '%1' record --demo --period 10 "
                                 "--count 2 --append -o '%2'")
                             .arg(ORMELIX_CLI, QString::fromStdString(big))});
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    std::ifstream in(big, std::ios::binary);
    in.seekg(-8192, std::ios::end);
    std::string end((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(end.find(",42,"), std::string::npos);
    EXPECT_NE(end.find(",43,"), std::string::npos);
}

TEST_F(EdgeProcessTest, NoProgressLineAmongRowsOnATerminal) {
    struct Case {
        bool ToFile;
        bool Progress;
    } cases[] = {{false, false}, {true, true}};
    for (const Case& c : cases) {
        const std::string file = Path(c.ToFile ? "tty.csv" : "unused.csv");
        int master = -1;
        const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            std::vector<const char*> argv = {ORMELIX_CLI, "record",  "--demo", "--period",
                                             "300",       "--count", "4"};
            if (c.ToFile) argv.insert(argv.end(), {"-o", file.c_str()});
            argv.push_back(nullptr);
            ::execv(ORMELIX_CLI, const_cast<char* const*>(argv.data()));
            ::_exit(127);
        }
        std::string screen;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0) break;
            screen.append(buffer, static_cast<size_t>(n));
        }
        ::close(master);
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0) << screen;
        EXPECT_EQ(screen.find("\033[K") != std::string::npos, c.Progress) << screen;
    }
}

#endif // _WIN32

} // namespace
