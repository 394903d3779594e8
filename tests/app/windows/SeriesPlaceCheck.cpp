// The snapshot series as the installed console places it: the console window with its own
// program and Pictures folders (nothing substituted), the virtual instrument on the simulated
// platform, the series box ticked and one sweep past the trigger. Prints where the series went
// and its pictures as native paths; tools/windows-check.sh runs it under Wine as an ordinary
// user from a folder that user cannot write, and checks the files on the Unix side.
//   series_place_check          exit 0 when one whole JPEG picture was written
#include "app/Unit1.h"
#include "hid/HidPlatform.h"
#include "hid/sim/SimHidPlatform.h"
#include "hid/sim/SimInstrument.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");

    // The instrument's records with the cursor moved by the check, so that the sweep is known.
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

    int status = 1;
    {
        TOrmelix_Control_Form form;
        form.Pause = [](int) {};
        form.show();
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
        form.CheckBox1->setChecked(true);
        const auto tickAt = [&](int Cursor) {
            cursor->store(Cursor);
            form.TimerTimer(form.Timer);
            form.Timer->stop();
            QCoreApplication::processEvents();
        };
        tickAt(100);
        form.CheckBox2->setChecked(true);
        tickAt(230);

        std::printf("program folder: %s\n",
                    qPrintable(QDir::toNativeSeparators(QCoreApplication::applicationDirPath())));
        std::printf("pictures folder: %s\n",
                    qPrintable(QDir::toNativeSeparators(
                        QStandardPaths::writableLocation(QStandardPaths::PicturesLocation))));
        std::printf("series: %s\n", qPrintable(QDir::toNativeSeparators(SnapshotFolder)));
        const QStringList pictures = SnapshotFolder.isEmpty()
                                         ? QStringList()
                                         : QDir(SnapshotFolder).entryList({"*.jpg"}, QDir::Files);
        for (const QString& name : pictures) {
            const QString path = QDir(SnapshotFolder).filePath(name);
            QFile file(path);
            const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
            const bool whole = bytes.startsWith("\xFF\xD8") && bytes.endsWith("\xFF\xD9");
            std::printf("picture: %s (%lld bytes%s)\n", qPrintable(QDir::toNativeSeparators(path)),
                        static_cast<long long>(bytes.size()), whole ? "" : ", not a whole JPEG");
            if (whole && pictures.size() == 1) status = 0;
        }
        if (pictures.isEmpty()) std::printf("no picture written\n");
        form.CheckBox1->setChecked(false);
    }
    SetHidPlatform(nullptr);
    return status;
}
