// ormelix-replay on a day-long recording: a volts recording of 172,800 records (about 390 MB) is
// written into a temporary folder with the recorder's own row writer, then opened in the
// viewer's window on the offscreen platform. Reports open to first record shown, one step's
// redraw (median and p99, the window's repaint included), the background overview's build time,
// and memory: resident file pages (the mapping) apart from the rest.
//   replay_bench [--records N] [--steps N] [--keep FILE] [--cold]
// --cold drops the recording's own pages from the page cache before opening it (that file only,
// posix_fadvise), so that opening reads it from the disk.
#include "tools/cli/Csv.h"
#include "tools/replay/ConsolePanel.h"
#include "tools/replay/ReplayWindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point From, Clock::time_point To) {
    return std::chrono::duration<double, std::milli>(To - From).count();
}

// KiB of one line of /proc/self/status ("VmRSS:", "RssAnon:", "RssFile:").
long StatusKiB(const char* Key) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kib = -1;
    const size_t n = std::strlen(Key);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, Key, n) == 0) kib = std::strtol(line + n, nullptr, 10);
    std::fclose(f);
    return kib;
}

void PrintMemory(const char* When) {
    std::printf("%-28s VmRSS %7.1f MB   RssAnon %6.1f MB   RssFile %7.1f MB\n", When,
                StatusKiB("VmRSS:") / 1024.0, StatusKiB("RssAnon:") / 1024.0,
                StatusKiB("RssFile:") / 1024.0);
}

// Records like a sweep of the instrument: two traces moving from record to record.
bool WriteRecording(const QString& Path, long Records) {
    QFile f(Path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    f.write(QByteArray::fromStdString(cli::CsvHeader()));
    uint8_t record[instrument::RecordSize] = {};
    record[instrument::ScaleByte] = 64;
    std::string chunk;
    const auto start = std::chrono::system_clock::now();
    for (long r = 0; r < Records; ++r) {
        uint8_t lo[2] = {255, 255}, hi[2] = {0, 0};
        for (int i = 0; i < instrument::SamplePoints; ++i)
            for (int s = 0; s < 2; ++s) {
                const double phase = 0.05 * i + 0.01 * static_cast<double>(r) * (s + 1);
                const double amplitude = 60 + 50 * std::sin(static_cast<double>(r) / 5000.0);
                const auto b = static_cast<uint8_t>(120 + amplitude * std::sin(phase + s));
                record[instrument::SampleByte(s, i)] = b;
                lo[s] = std::min(lo[s], b);
                hi[s] = std::max(hi[s], b);
            }
        record[instrument::MinS1] = lo[0];
        record[instrument::MaxS1] = hi[0];
        record[instrument::MinS2] = lo[1];
        record[instrument::MaxS2] = hi[1];
        record[instrument::CursorPos] = static_cast<uint8_t>(r % 240);
        chunk += cli::CsvRow(cli::IsoTime(start + std::chrono::milliseconds(500 * r)),
                             static_cast<uint64_t>(r + 1), record, false);
        if (chunk.size() > (8 << 20)) {
            f.write(chunk.data(), static_cast<qint64>(chunk.size()));
            chunk.clear();
        }
    }
    f.write(chunk.data(), static_cast<qint64>(chunk.size()));
    return f.error() == QFile::NoError;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    long records = 172800;
    int steps = 2000;
    QString keep;
    bool cold = false;
    for (int i = 1; i < argc; ++i) cold = cold || std::strcmp(argv[i], "--cold") == 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--records") == 0) records = std::max(1L, std::atol(argv[i + 1]));
        if (std::strcmp(argv[i], "--steps") == 0) steps = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--keep") == 0) keep = QString::fromLocal8Bit(argv[i + 1]);
    }
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = keep.isEmpty() ? dir.filePath("day.csv") : keep;
    if (!QFile::exists(path)) {
        const auto t0 = Clock::now();
        if (!WriteRecording(path, records)) {
            std::fprintf(stderr, "replay_bench: cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("wrote %ld records, %.1f MB, in %.1f s\n", records,
                    static_cast<double>(QFile(path).size()) / 1e6, Ms(t0, Clock::now()) / 1000);
    }

    if (cold) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
        if (fd >= 0) {
            ::fdatasync(fd);
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
    }
    replay::ReplayWindow window;
    window.resize(560, 640);
    window.show();
    QApplication::processEvents();
    PrintMemory("before opening");

    const auto open0 = Clock::now();
    if (!window.Open(path)) {
        std::fprintf(stderr, "replay_bench: %s\n", qPrintable(window.Status()));
        return 1;
    }
    window.Panel()->repaint();
    const auto open1 = Clock::now();
    std::printf("open to first record shown   %8.1f ms   (%zu records, %.1f MB)\n",
                Ms(open0, open1), window.Count(), static_cast<double>(QFile(path).size()) / 1e6);
    PrintMemory("after opening");

    while (!window.OverviewReady()) QApplication::processEvents(QEventLoop::AllEvents, 10);
    const auto overview1 = Clock::now();
    std::printf("overview built (background)  %8.1f ms   after opening\n", Ms(open0, overview1));
    PrintMemory("overview built");

    // Steps spread over the whole file, so that most of them touch pages not read before.
    std::vector<double> stepMs, drawMs;
    stepMs.reserve(static_cast<size_t>(steps));
    drawMs.reserve(static_cast<size_t>(steps));
    const long stride = std::max<long>(1, static_cast<long>(window.Count()) / steps);
    for (int i = 0; i < steps; ++i) {
        const auto s0 = Clock::now();
        if (i % 2 == 0)
            window.Go(static_cast<size_t>(i) * static_cast<size_t>(stride));
        else
            window.Step(1);
        drawMs.push_back(Ms(s0, Clock::now()));
        window.Panel()->repaint();
        stepMs.push_back(Ms(s0, Clock::now()));
    }
    std::sort(stepMs.begin(), stepMs.end());
    std::sort(drawMs.begin(), drawMs.end());
    std::printf("  of which read + draw       median %6.2f ms   p99 %6.2f ms   max %6.2f ms\n",
                drawMs[drawMs.size() / 2], drawMs[drawMs.size() * 99 / 100], drawMs.back());
    std::printf(
        "one step redrawn             median %6.2f ms   p99 %6.2f ms   max %6.2f ms   (n=%d)\n",
        stepMs[stepMs.size() / 2], stepMs[stepMs.size() * 99 / 100], stepMs.back(), steps);

    const auto find0 = Clock::now();
    window.Go(0);
    const bool found = window.FindNext();
    std::printf("find next from record 1      %8.1f ms   (%s record %zu)\n",
                Ms(find0, Clock::now()), found ? "found" : "none to", window.Current() + 1);
    PrintMemory("after the steps");
    return 0;
}
