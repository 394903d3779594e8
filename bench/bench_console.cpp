// The console as a user runs it, on the simulated HID platform with the virtual instrument
// plugged in: the real window, the real 500 ms timer, CheckBox1 ticked once the first device
// scan has run. Reports through the same probe as the baseline window.
//   bench_console [--minutes N] [--ticks N] [--series DIR]
// With --ticks N it stops after N poll ticks instead (for valgrind runs); with --series DIR it
// also runs a snapshot series with DIR as the program's folder.
#include "app/Ormelix.h"
#include "app/Unit1.h"
#include "bench/ProcessProbe.h"
#include "hid/HidPlatform.h"
#include "hid/sim/SimHidPlatform.h"
#include "hid/sim/SimInstrument.h"

#include <QApplication>
#include <QCheckBox>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char** argv) {
    const long long entered = probe::EpochMicros();
    long stopAfterTicks = 0;
    const char* series = nullptr;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--ticks") == 0) stopAfterTicks = std::atol(argv[i + 1]);
        if (std::strcmp(argv[i], "--series") == 0) series = argv[i + 1];
    }
    const int minutes = probe::MinutesArgument(argc, argv, 1);

    QApplication app(argc, argv);
    PrepareOrmelixApplication(app);

    hidsim::SimHidPlatform sim;
    auto instrument = std::make_shared<VirtualInstrument>();
    sim.Plug(VirtualInstrumentDevice(instrument, "/dev/hidraw0"));
    SetHidPlatform(sim.Platform());

    int code = 0;
    {
        TOrmelix_Control_Form form;
        long ticks = 0;
        QObject::connect(form.Timer, &QTimer::timeout, &form, [&] {
            ++ticks;
            // The simulator logs every transfer for the tests to inspect; a long run must not
            // count that log as the console's memory.
            sim.ClearLogs();
            if (stopAfterTicks > 0 && ticks >= stopAfterTicks)
                QTimer::singleShot(0, &app, [] { QCoreApplication::quit(); });
        });
        if (stopAfterTicks > 0) form.Timer->setInterval(1); // valgrind runs need no pauses
        if (series) {
            const QString folder = QString::fromLocal8Bit(series);
            form.ProgramFolder = [folder] { return folder; };
        }

        std::unique_ptr<probe::MinuteReport> report;
        probe::FirstShown shown(&form, [&] {
            // The posted first scan has run by now: connect as the user would.
            form.CheckBox1->setChecked(true);
            if (series) form.CheckBox2->setChecked(true);
            if (stopAfterTicks == 0)
                report = std::make_unique<probe::MinuteReport>(minutes, [&] { return ticks; });
        });
        form.show();
        code = app.exec();
        report.reset();
        std::printf("ticks %ld fetches %u caption %s\n", ticks, instrument->Snapshot().Fetches,
                    qPrintable(form.windowTitle()));
        if (series) std::printf("series folder %s\n", qPrintable(SnapshotFolder));
    }
    SnapshotFolder.clear();
    SetHidPlatform(nullptr);
    std::printf("main %lld\n", entered);
    return code;
}
