// The snapshot step of a poll tick, timed: a tick that takes a picture (cursor above 210)
// against the same tick without one, make_screen_short alone (capture, encode, write), and its
// parts: the window capture, the JPEG encoding and the file write.
//   snapshot_bench [--pictures N] [--folder DIR]    default 200 pictures in a temporary folder
#include "app/Unit1.h"
#include "hid/HidPlatform.h"
#include "hid/sim/SimHidPlatform.h"
#include "hid/sim/SimInstrument.h"
#include "imaging/jpeg.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Micros(Clock::time_point From, Clock::time_point To) {
    return std::chrono::duration<double, std::micro>(To - From).count();
}

void Print(const char* What, std::vector<double> Us) {
    std::sort(Us.begin(), Us.end());
    const double median = Us[Us.size() / 2];
    const double p90 = Us[std::min(Us.size() - 1, Us.size() * 9 / 10)];
    std::printf("%-40s n=%-5zu median %9.1f us   p90 %9.1f us\n", What, Us.size(), median, p90);
}

} // namespace

int main(int argc, char** argv) {
    int pictures = 200;
    QString folderArg;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--pictures") == 0) pictures = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--folder") == 0) folderArg = QString::fromLocal8Bit(argv[i + 1]);
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");

    QTemporaryDir tmp(folderArg.isEmpty() ? QDir::tempPath() + "/snapshot_bench-XXXXXX"
                                          : folderArg + "/snapshot_bench-XXXXXX");
    if (!tmp.isValid()) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }

    // The virtual instrument's records with the cursor set by the bench.
    hidsim::SimHidPlatform sim;
    auto instrument = std::make_shared<VirtualInstrument>();
    auto cursor = std::make_shared<std::atomic<int>>(100);
    hidsim::SimDeviceSpec desc = VirtualInstrumentDevice(instrument, "/dev/hidraw0");
    desc.GetFeature = [instrument, cursor](uint8_t* Report, uint32_t Length) {
        const VirtualInstrument::Record r = instrument->Fetch();
        std::copy_n(r.begin(), std::min<size_t>(Length - 1, r.size()), Report + 1);
        if (Length > CursorPos + 1) Report[CursorPos + 1] = static_cast<uint8_t>(cursor->load());
        return true;
    };
    sim.Plug(desc);
    SetHidPlatform(sim.Platform());

    auto form = std::make_unique<TOrmelix_Control_Form>();
    form->Pause = [](int) {};
    const QString programFolder = tmp.path();
    form->ProgramFolder = [programFolder] { return programFolder; };
    // A new second at every reading, so that every picture is a new file.
    auto clock = std::make_shared<QDateTime>(QDate(2026, 12, 7), QTime(20, 0, 0));
    form->Now = [clock] { return *clock = clock->addSecs(1); };
    form->show();
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    form->CheckBox1->setChecked(true);
    const auto tickAt = [&](int Cursor) {
        cursor->store(Cursor);
        form->TimerTimer(form->Timer);
        form->Timer->stop();
    };
    tickAt(100);
    form->CheckBox2->setChecked(true);
    if (SnapshotFolder.isEmpty()) {
        std::fprintf(stderr, "the console did not start a series\n");
        return 1;
    }

    std::vector<double> withPicture, without, shortUs, captureUs, encodeUs, writeUs;
    for (int i = 0; i < pictures; ++i) {
        tickAt(100); // clears the trigger
        QCoreApplication::processEvents();
        auto t0 = Clock::now();
        tickAt(200);
        auto t1 = Clock::now();
        without.push_back(Micros(t0, t1));
        QCoreApplication::processEvents();
        t0 = Clock::now();
        tickAt(230);
        t1 = Clock::now();
        withPicture.push_back(Micros(t0, t1));
        QCoreApplication::processEvents();

        t0 = Clock::now();
        form->make_screen_short();
        t1 = Clock::now();
        shortUs.push_back(Micros(t0, t1));

        // The same work in its parts.
        t0 = Clock::now();
        const QImage shot = form->grab(QRect(0, 0, SnapshotWidth, SnapshotHeight))
                                .toImage()
                                .convertToFormat(QImage::Format_RGB32);
        t1 = Clock::now();
        TJPEGImage jpeg;
        jpeg.Assign(shot);
        jpeg.SetQuality(50);
        jpeg.Compress();
        const auto t2 = Clock::now();
        jpeg.SaveToFile(QDir(tmp.path()).filePath(QStringLiteral("part.jpg")));
        const auto t3 = Clock::now();
        captureUs.push_back(Micros(t0, t1));
        encodeUs.push_back(Micros(t1, t2));
        writeUs.push_back(Micros(t2, t3));
    }
    const int files = static_cast<int>(QDir(SnapshotFolder).entryList({"*.jpg"}).size());
    std::printf("snapshot step, %d pictures (517 x 353, quality 50) into %s\n", pictures,
                qPrintable(tmp.path()));
    Print("tick without a picture (cursor 200)", without);
    Print("tick with a picture (cursor 230)", withPicture);
    std::vector<double> step(withPicture.size());
    for (size_t i = 0; i < step.size(); ++i) step[i] = withPicture[i] - without[i];
    Print("  difference: the snapshot step", step);
    Print("make_screen_short alone", shortUs);
    Print("  capture (grab of the client area)", captureUs);
    Print("  JPEG encoding (TJPEGImage)", encodeUs);
    Print("  file write (temp file, fsync, rename)", writeUs);
    std::printf("pictures written by the ticks and make_screen_short: %d\n", files);
    form.reset();
    SetHidPlatform(nullptr);
    return 0;
}
