// The console on a simulated instrument, made once per fuzzing process and shared by the
// targets that drive it: the record it serves and whether its fetches fail are the caller's.
#pragma once

#include "app/Unit1.h"
#include "hid/JvHidControllerClass.h"
#include "hid/sim/SimInstrument.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>
#include <array>
#include <clocale>
#include <memory>

namespace fuzz {

struct Console {
    Console() {
        std::setlocale(LC_NUMERIC, "C");
        hidsim::SimDeviceSpec desc = InstrumentIdentity("/dev/hidraw0");
        desc.GetFeature = [this](uint8_t* Report, uint32_t Length) {
            for (uint32_t i = 1; i < Length && i <= record.size(); ++i) Report[i] = record[i - 1];
            return !fetchFails;
        };
        desc.SetFeature = [](const uint8_t*, uint32_t) { return true; };
        sim.Plug(desc);
        SetHidPlatform(sim.Platform());
        form = std::make_unique<TOrmelix_Control_Form>();
        form->Pause = [](int) {};
        form->ProgramFolder = [this] { return folder.path(); };
        form->Now = [] { return QDateTime(QDate(2026, 12, 7), QTime(20, 13, 5)); };
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    }

    hidsim::SimHidPlatform sim;
    // Pictures go to memory where the machine offers it: the fsync of a disk would slow every run.
    QTemporaryDir folder{QDir(QStringLiteral("/dev/shm")).exists()
                             ? QStringLiteral("/dev/shm/fuzz_console-XXXXXX")
                             : QDir::tempPath() + QStringLiteral("/fuzz_console-XXXXXX")};
    std::array<uint8_t, ExchangeSize> record{};
    bool fetchFails = false;
    std::unique_ptr<TOrmelix_Control_Form> form;
};

inline Console& TheConsole() {
    static Console* c = new Console;
    return *c;
}

} // namespace fuzz
