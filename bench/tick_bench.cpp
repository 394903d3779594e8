// One poll tick of the console, timed tick by tick: fetch from the virtual instrument on the
// simulated platform, full redraw, labels, enabling; then the window's repaint that follows;
// then, alone, the fetch, the drawing part of the tick (plot and labels), the device check and
// the poll timer's restart, and the wake-up of the event loop.
//   tick_bench [--ticks N]            timing, N ticks per figure (default 10000)
//   tick_bench --callgrind N          just N ticks after a warm-up, for
//       valgrind --tool=callgrind --toggle-collect='TOrmelix_Control_Form::TimerTimer(QObject*)'
#include "app/Canvas.h"
#include "app/Unit1.h"
#include "hid/HidPlatform.h"
#include "hid/sim/SimHidPlatform.h"
#include "hid/sim/SimInstrument.h"
#include "widgets/RXSpin.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
    double median, p99, mean, max;
};

Figures Summarise(std::vector<double> Us) {
    std::sort(Us.begin(), Us.end());
    double sum = 0;
    for (double u : Us) sum += u;
    const auto at = [&](double q) {
        return Us[std::min(Us.size() - 1, static_cast<size_t>(q * static_cast<double>(Us.size())))];
    };
    return {at(0.5), at(0.99), sum / static_cast<double>(Us.size()), Us.back()};
}

void Print(const char* What, const std::vector<double>& Us) {
    const Figures f = Summarise(Us);
    std::printf("%-34s n=%-6zu median %8.1f us   p99 %8.1f us   mean %8.1f us   max %8.1f us\n",
                What, Us.size(), f.median, f.p99, f.mean, f.max);
}

double Micros(Clock::time_point From, Clock::time_point To) {
    return std::chrono::duration<double, std::micro>(To - From).count();
}

} // namespace

int main(int argc, char** argv) {
    int ticks = 10000;
    int callgrindTicks = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--ticks") == 0) ticks = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--callgrind") == 0) callgrindTicks = std::atoi(argv[i + 1]);
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");

    hidsim::SimHidPlatform sim;
    auto instrument = std::make_shared<VirtualInstrument>();
    sim.Plug(VirtualInstrumentDevice(instrument, "/dev/hidraw0"));
    SetHidPlatform(sim.Platform());

    auto form = std::make_unique<TOrmelix_Control_Form>();
    form->Pause = [](int) {};
    form->show();
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents(); // the first scan
    form->CheckBox1->setChecked(true);
    if (!form->Timer->isActive() || InstrumentDevice == nullptr) {
        std::fprintf(stderr, "the console did not connect to the virtual instrument\n");
        return 1;
    }
    // Ticks are driven here; the 500 ms timer must not add its own.
    const auto tick = [&] {
        form->TimerTimer(form->Timer);
        form->Timer->stop();
    };
    const int warmUp = 200;
    for (int i = 0; i < warmUp; ++i) {
        tick();
        QCoreApplication::processEvents();
    }

    if (callgrindTicks > 0) {
        for (int i = 0; i < callgrindTicks; ++i) {
            tick();
            QCoreApplication::processEvents();
        }
        // Every call of the tick handler is counted by callgrind, the warm-up's included.
        std::printf("timer_calls %d\n", callgrindTicks + warmUp);
    } else {
        std::vector<double> tickUs, repaintUs, fetchUs, plotUs;
        tickUs.reserve(ticks);
        repaintUs.reserve(ticks);
        for (int i = 0; i < ticks; ++i) {
            const auto t0 = Clock::now();
            tick();
            const auto t1 = Clock::now();
            QCoreApplication::processEvents();
            const auto t2 = Clock::now();
            tickUs.push_back(Micros(t0, t1));
            repaintUs.push_back(Micros(t1, t2));
        }
        for (int i = 0; i < ticks; ++i) {
            const auto t0 = Clock::now();
            form->get_data();
            const auto t1 = Clock::now();
            fetchUs.push_back(Micros(t0, t1));
        }
        for (int i = 0; i < ticks; ++i) {
            const auto t0 = Clock::now();
            form->drawPlot();
            const auto t1 = Clock::now();
            plotUs.push_back(Micros(t0, t1));
            // The canvas asks for a repaint after each operation; let it happen between runs.
            QCoreApplication::processEvents();
        }
        // The same after a fresh fetch, as in the tick: the read-outs' texts change too.
        std::vector<double> plotFreshUs;
        for (int i = 0; i < ticks; ++i) {
            form->get_data();
            const auto t0 = Clock::now();
            form->drawPlot();
            const auto t1 = Clock::now();
            plotFreshUs.push_back(Micros(t0, t1));
            QCoreApplication::processEvents();
        }
        // The other parts of the tick: the device check, and the poll timer's restart (a stop
        // at the start of the tick, a start at its end; under Wine each is a call into the
        // Wine server).
        std::vector<double> deviceUs, timerUs;
        for (int i = 0; i < ticks; ++i) {
            const auto t0 = Clock::now();
            form->Get_Ormelix_Dev();
            const auto t1 = Clock::now();
            deviceUs.push_back(Micros(t0, t1));
        }
        for (int i = 0; i < ticks; ++i) {
            const auto t0 = Clock::now();
            form->Timer->start();
            form->Timer->stop();
            const auto t1 = Clock::now();
            timerUs.push_back(Micros(t0, t1));
        }
        // The read-outs' numbers: a tick formats eight.
        std::vector<double> formatUs;
        qsizetype formatted = 0;
        for (int i = 0; i < ticks; ++i) {
            const auto t0 = Clock::now();
            for (int k = 0; k < 8; ++k)
                formatted +=
                    FormatVolts(static_cast<long double>((i + k) % 256) * 4 / 255, 2).size();
            const auto t1 = Clock::now();
            formatUs.push_back(Micros(t0, t1));
        }
        // The first event posted after the loop ran wakes the loop up: a repaint request of the
        // tick does that (under Wine a message posted through the Wine server).
        std::vector<double> postUs;
        for (int i = 0; i < ticks; ++i) {
            QCoreApplication::processEvents();
            const auto t0 = Clock::now();
            QCoreApplication::postEvent(form.get(), new QEvent(QEvent::User));
            const auto t1 = Clock::now();
            postUs.push_back(Micros(t0, t1));
        }
        QCoreApplication::processEvents();
        std::printf("poll tick on the virtual instrument, offscreen, %d ticks per figure\n", ticks);
        Print("tick (TimerTimer)", tickUs);
        Print("window repaint after the tick", repaintUs);
        std::vector<double> both(ticks);
        for (int i = 0; i < ticks; ++i) both[i] = tickUs[i] + repaintUs[i];
        Print("tick + repaint", both);
        Print("fetch alone (get_data)", fetchUs);
        Print("plot redraw alone (drawing part)", plotUs);
        Print("plot redraw after a fetch", plotFreshUs);
        Print("device check (Get_Ormelix_Dev)", deviceUs);
        Print("poll timer start + stop", timerUs);
        Print("event loop wake-up (postEvent)", postUs);
        Print("8 read-out numbers (FormatVolts)", formatUs);
        if (formatted == 0) std::printf("nothing formatted\n");
        std::printf("instrument fetches: %u\n", instrument->Snapshot().Fetches);
    }
    form.reset();
    SetHidPlatform(nullptr);
    return 0;
}
