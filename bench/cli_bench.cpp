// ormelix-cli's recording rate on the simulated platform with the virtual instrument, in one run:
//   1. the bare fetch rate: whole records fetched back to back through the HID layer;
//   2. what one CSV row costs: formatting (volts, raw) and writing it;
//   3. the poll alone at --period 10: fetch, then 10 ms from the end of the tick, no file;
//   4. ormelix-cli's recorder at --period 10, writing CSV to a file and syncing it.
// The ratio of 4 to 1 is the one the period sets; 4 against 3 shows what the CSV costs.
//   cli_bench [--seconds S]   S seconds for each timed loop (default 5)
#include "hid/qt/QtHidEventLoop.h"
#include "hid/sim/SimHidPlatform.h"
#include "hid/sim/SimInstrument.h"
#include "tools/cli/Csv.h"
#include "tools/cli/InstrumentLink.h"
#include "tools/cli/Recorder.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sstream>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration D) {
    return std::chrono::duration<double>(D).count();
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 5;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::max(1, std::atoi(argv[i + 1]));
    QCoreApplication app(argc, argv);
    hidsim::SimHidPlatform sim;
    auto instrument = std::make_shared<VirtualInstrument>();
    sim.Plug(VirtualInstrumentDevice(instrument, "/dev/hidraw-sim0"));
    SetHidPlatform(sim.Platform());
    const auto span = std::chrono::milliseconds(seconds * 1000);

    double bareRate = 0;
    {
        QtHidEventLoop loop;
        cli::InstrumentLink link(&loop);
        QCoreApplication::sendPostedEvents();
        if (!link.Find()) {
            std::fprintf(stderr, "cli_bench: the virtual instrument was not found\n");
            return 1;
        }
        cli::Record r{};
        long n = 0;
        const auto start = Clock::now();
        while (Clock::now() - start < span) {
            for (int i = 0; i < 100; ++i) link.Fetch(r);
            n += 100;
            sim.ClearLogs();
        }
        bareRate = n / Seconds(Clock::now() - start);
        std::printf("bare fetch rate                    %10.0f records/s (%.1f us each)\n",
                    bareRate, 1e6 / bareRate);

        QTemporaryDir tmp;
        const int fd = ::open(tmp.filePath("rows.csv").toLocal8Bit().constData(),
                              O_WRONLY | O_CREAT | O_TRUNC, 0644);
        for (const bool raw : {false, true}) {
            link.Fetch(r);
            long rows = 0;
            const auto t0 = Clock::now();
            while (Clock::now() - t0 < span / 5) {
                for (int i = 0; i < 100; ++i) {
                    const std::string row = cli::CsvRow(
                        cli::IsoTime(std::chrono::system_clock::now()), rows, r.data(), raw);
                    if (::write(fd, row.data(), row.size()) != static_cast<ssize_t>(row.size()))
                        return 1;
                    ++rows;
                }
            }
            const double us = 1e6 * Seconds(Clock::now() - t0) / rows;
            std::printf("one CSV row formatted and written  %10.1f us (%s), %.2f%% of a 10 ms "
                        "period\n",
                        us, raw ? "raw" : "volts", us / 100.0);
        }
        ::close(fd);

        // The poll alone, counted like the console's: the next tick 10 ms after this one ended.
        long polled = 0;
        QEventLoop wait;
        QTimer tick;
        tick.setSingleShot(true);
        tick.setTimerType(Qt::PreciseTimer);
        const auto start2 = Clock::now();
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (link.Find() && link.Fetch(r)) ++polled;
            sim.ClearLogs();
            if (Clock::now() - start2 >= span)
                wait.quit();
            else
                tick.start(10);
        });
        tick.start(0);
        wait.exec();
        const double pollRate = polled / Seconds(Clock::now() - start2);
        std::printf("poll alone at period 10            %10.1f records/s\n", pollRate);

        QTemporaryDir out;
        cli::RecordOptions options;
        options.Output = out.filePath("bench.csv").toStdString();
        options.PeriodMs = 10;
        options.DurationMs = seconds * 1000;
        std::ostringstream err;
        cli::Recorder recorder(options, err);
        recorder.AfterTick = [&](uint64_t) { sim.ClearLogs(); };
        const auto start3 = Clock::now();
        if (recorder.Run() != 0) {
            std::fprintf(stderr, "%s", err.str().c_str());
            return 1;
        }
        const double rowRate = recorder.Summary().Records / Seconds(Clock::now() - start3);
        std::printf("ormelix-cli record --period 10     %10.1f rows/s\n", rowRate);
        std::printf("ratio rows/s : bare fetch rate     %10.5f (the period sets it: at most "
                    "%.5f)\n",
                    rowRate / bareRate, (1000.0 / (10.0 + 1000.0 / bareRate)) / bareRate);
        std::printf("ratio rows/s : poll alone          %10.3f\n", rowRate / pollRate);
    }
    SetHidPlatform(nullptr);
    return 0;
}
