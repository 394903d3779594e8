// A console window on a simulated HID platform, with a scripted instrument whose next record
// and received reports the tests control. Ticks are driven by calling the tick handler.
#pragma once

#include "app/Unit1.h"
#include "hid/JvHidControllerClass.h"
#include "hid/sim/SimInstrument.h"
#include "tests/common/ProgramState.h"
#include "widgets/RXSpin.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <array>
#include <clocale>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using Record = std::array<uint8_t, ExchangeSize>;

// Orange of the grid, in the canvas's colour encoding.
constexpr TColor GridOrange = 0x008CFF;

struct ScriptedInstrument {
    Record next{};           // answered to every fetch
    bool fetchFails = false; // the platform call reports failure (after filling the buffer)
    std::vector<std::vector<uint8_t>> received;
    int fetches = 0;
};

inline hidsim::SimDeviceSpec
InstrumentSpec(std::shared_ptr<ScriptedInstrument> Instrument,
               const std::string& Path = "/dev/hidraw0",
               std::u16string Product = instrument::ProductWide.data(),
               std::u16string Vendor = instrument::ManufacturerWide.data()) {
    hidsim::SimDeviceSpec desc = InstrumentIdentity(Path);
    desc.Manufacturer = std::move(Vendor);
    desc.Product = std::move(Product);
    desc.GetFeature = [Instrument](uint8_t* Report, uint32_t Length) {
        ++Instrument->fetches;
        for (uint32_t i = 1; i < Length && i <= ExchangeSize; ++i)
            Report[i] = Instrument->next[i - 1];
        return !Instrument->fetchFails;
    };
    desc.SetFeature = [Instrument](const uint8_t* Report, uint32_t Length) {
        Instrument->received.emplace_back(Report, Report + Length);
        return true;
    };
    return desc;
}

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::setlocale(LC_NUMERIC, "C");
        ResetProgramState();
        SetHidPlatform(sim.Platform());
    }
    void TearDown() override {
        form.reset();
        SetHidPlatform(nullptr);
        ResetProgramState();
        std::setlocale(LC_NUMERIC, "C");
    }

    // Plugs a matching instrument in; the rescan runs when events are processed.
    std::shared_ptr<ScriptedInstrument> PlugInstrument(const std::string& Path = "/dev/hidraw0") {
        auto instrument = std::make_shared<ScriptedInstrument>();
        Record& r = instrument->next;
        r[ScaleByte] = 64;
        r[PollPeriod] = 20;
        r[CursorPos] = 100;
        sim.Plug(InstrumentSpec(instrument, Path));
        return instrument;
    }

    void Events() { ProcessPendingEvents(); }

    void Start() {
        form = std::make_unique<TOrmelix_Control_Form>();
        form->Pause = [this](int Ms) { pauses.push_back(Ms); };
        // No test writes into the real user's pictures or home folder; the tests of them set one.
        form->PicturesFolder = [] { return QString(); };
        form->HomeFolder = [] { return QString(); };
        Events(); // the first, posted device change
    }

    void Connect() { form->CheckBox1->setChecked(true); }

    void Tick() { form->TimerTimer(form->Timer); }

    TColor Px(int X, int Y) { return form->Image->Canvas()->Pixel(X, Y); }

    hidsim::SimHidPlatform sim;
    std::unique_ptr<TOrmelix_Control_Form> form;
    std::vector<int> pauses;
};
