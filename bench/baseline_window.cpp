// The baseline for the console's whole-process figures: a bare Qt 6 window of the console's
// size with a 500 ms timer that does nothing, measured by the same probe.
//   baseline_window [--minutes N]
#include "bench/ProcessProbe.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    const long long entered = probe::EpochMicros();
    QApplication app(argc, argv);
    const int minutes = probe::MinutesArgument(argc, argv, 1);

    QWidget window;
    window.setWindowTitle(QStringLiteral("baseline"));
    window.setFixedSize(517, 410);
    long ticks = 0;
    QTimer timer;
    timer.setInterval(500);
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });

    std::unique_ptr<probe::MinuteReport> report;
    probe::FirstShown shown(&window, [&] {
        timer.start();
        report = std::make_unique<probe::MinuteReport>(minutes, [&ticks] { return ticks; });
    });
    window.show();
    const int code = app.exec();
    std::printf("main %lld\n", entered);
    return code;
}
