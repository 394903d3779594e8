// A console snapshot encoded through TJPEGImage against the same pixels encoded by libjpeg
// directly with the same settings; prints the ratio of the two.
#include "imaging/jpeg.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

namespace {

constexpr int kQuality = 50;

// Drawn like the console's window: grey face, a white plot with grid, markers, two traces and
// the cursor, and read-outs in text.
QImage ConsoleSnapshot() {
    QImage image(517, 353, QImage::Format_RGB32);
    image.fill(QColor(0xf0, 0xf0, 0xf0));
    QPainter p(&image);
    const QRect plot(8, 8, 476, 255);
    p.fillRect(plot, Qt::white);
    p.setPen(QPen(QColor(0xc0, 0xc0, 0xc0), 1, Qt::DashLine));
    for (int i = 1; i <= 4; ++i)
        p.drawLine(plot.left(), plot.top() + i * 51, plot.right(), plot.top() + i * 51);
    p.setPen(QPen(Qt::darkGreen, 1));
    p.drawLine(plot.left(), plot.top() + 60, plot.right(), plot.top() + 60);
    p.drawLine(plot.left(), plot.top() + 190, plot.right(), plot.top() + 190);
    for (int trace = 0; trace < 2; ++trace) {
        p.setPen(QPen(trace == 0 ? Qt::red : Qt::blue, 2));
        QPoint last;
        for (int i = 0; i < 121; ++i) {
            const int y =
                128 + static_cast<int>((trace ? 70 : 100) * std::sin(i * (trace ? 0.11 : 0.07)));
            const QPoint at(plot.left() + i * 476 / 120, plot.top() + y);
            if (i) p.drawLine(last, at);
            last = at;
        }
    }
    p.setPen(QPen(Qt::black, 1));
    p.drawLine(plot.left() + 300, plot.top(), plot.left() + 300, plot.bottom());
    p.drawRect(plot.adjusted(-1, -1, 0, 0));
    p.setFont(QFont(QStringLiteral("Sans"), 9));
    for (int row = 0; row < 4; ++row)
        p.drawText(12 + (row % 2) * 250, 290 + (row / 2) * 22,
                   QStringLiteral("S%1 min 0,%2 V   max 1,%3 V")
                       .arg(row % 2 + 1)
                       .arg(120 + row * 7)
                       .arg(450 - row * 13));
    p.drawText(12, 340, QStringLiteral("Cursor 212   Period 500 ms   Scale 48"));
    return image;
}

const QImage& Snapshot() {
    static const QImage image = ConsoleSnapshot();
    return image;
}

void BM_TJPEGImage(benchmark::State& State) {
    std::int64_t bytes = 0;
    for (auto _ : State) {
        TJPEGImage jpeg;
        jpeg.Assign(Snapshot());
        jpeg.SetQuality(kQuality);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        jpeg.SaveToStream(out);
        bytes = out.size();
        benchmark::DoNotOptimize(out.buffer().constData());
    }
    State.counters["bytes"] = static_cast<double>(bytes);
}

// The library alone, handed the blue-green-red rows that TJPEGImage would produce.
void BM_LibJpegDirect(benchmark::State& State) {
    const QImage rows = Snapshot().convertToFormat(QImage::Format_BGR888);
    unsigned long bytes = 0;
    for (auto _ : State) {
        jpeg_compress_struct info{};
        jpeg_error_mgr error{};
        info.err = jpeg_std_error(&error);
        jpeg_create_compress(&info);
        unsigned char* out = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&info, &out, &size);
        info.image_width = static_cast<JDIMENSION>(rows.width());
        info.image_height = static_cast<JDIMENSION>(rows.height());
        info.input_components = 3;
        info.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&info);
        info.dct_method = JDCT_FLOAT;
        jpeg_set_quality(&info, kQuality, TRUE);
        jpeg_start_compress(&info, TRUE);
        while (info.next_scanline < info.image_height) {
            JSAMPROW row =
                const_cast<JSAMPROW>(rows.constScanLine(static_cast<int>(info.next_scanline)));
            jpeg_write_scanlines(&info, &row, 1);
        }
        jpeg_finish_compress(&info);
        jpeg_destroy_compress(&info);
        bytes = size;
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
    State.counters["bytes"] = static_cast<double>(bytes);
}

BENCHMARK(BM_TJPEGImage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibJpegDirect)->Unit(benchmark::kMicrosecond);

// Keeps each run's time per iteration so that the two can be compared at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& Runs) override {
        for (const Run& run : Runs) {
            if (run.error_occurred) continue;
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Iteration)
                Times[name].push_back(run.GetAdjustedRealTime());
            else if (run.aggregate_name == "median")
                Medians[name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
        }
        ConsoleReporter::ReportRuns(Runs);
    }

    std::map<std::string, std::vector<double>> Times;
    // Real and CPU time; on a busy machine the CPU times compare more fairly.
    std::map<std::string, std::pair<double, double>> Medians;
};

double Best(const std::vector<double>& Times) {
    double best = Times.front();
    for (double t : Times) best = std::min(best, t);
    return best;
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);

    // Repeated and interleaved by default, so that a busy machine shows in both alike; flags
    // given on the command line come later and win.
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=10";
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::string minTime = "--benchmark_min_time=0.2";
    args.insert(args.begin() + 1, {repetitions.data(), interleave.data(), minTime.data()});
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto ours = reporter.Times.find("BM_TJPEGImage");
    const auto direct = reporter.Times.find("BM_LibJpegDirect");
    if (ours == reporter.Times.end() || direct == reporter.Times.end()) return 0;
    std::printf("\nTJPEGImage / libjpeg direct (517 x 353, quality 50):\n");
    const auto ourMedian = reporter.Medians.find("BM_TJPEGImage");
    const auto directMedian = reporter.Medians.find("BM_LibJpegDirect");
    if (ourMedian != reporter.Medians.end() && directMedian != reporter.Medians.end()) {
        const auto [ourReal, ourCpu] = ourMedian->second;
        const auto [directReal, directCpu] = directMedian->second;
        std::printf("  median real %.1f us / %.1f us = %.3f\n", ourReal, directReal,
                    ourReal / directReal);
        std::printf("  median cpu  %.1f us / %.1f us = %.3f\n", ourCpu, directCpu,
                    ourCpu / directCpu);
    }
    std::printf("  best real   %.1f us / %.1f us = %.3f   (target: at most 1.10)\n",
                Best(ours->second), Best(direct->second),
                Best(ours->second) / Best(direct->second));
    return 0;
}
