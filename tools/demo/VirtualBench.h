// The demo's bench: the virtual instrument on a simulated HID platform, with two HID devices
// beside it that are not the instrument, and a small window that plugs and unplugs it and shows
// its state live.
#pragma once

#include "hid/sim/BenchDevices.h"
#include "hid/sim/SimHidPlatform.h"
#include "hid/sim/SimInstrument.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>
#include <memory>

class QLabel;
class QPushButton;
class QTimer;

class VirtualBench {
public:
    static constexpr const char* InstrumentPath = bench::InstrumentPath;
    static constexpr const char* MousePath = bench::MousePath;
    static constexpr const char* LookAlikePath = bench::LookAlikePath;

    // Plugs the three devices in and installs the simulated platform, so make it before the
    // console window and keep it until the window is gone.
    VirtualBench();
    ~VirtualBench();
    VirtualBench(const VirtualBench&) = delete;
    VirtualBench& operator=(const VirtualBench&) = delete;

    // Like pulling and plugging the cable of a self-powered instrument: its state is kept.
    // False when it already was in that state.
    bool PlugInstrument();
    bool UnplugInstrument();
    bool InstrumentPlugged() const;

    VirtualInstrument& Instrument() { return *instrument_; }
    hidsim::SimHidPlatform& Sim() { return sim_; }

    // What the bench window shows.
    struct Readout {
        bool Plugged = false;
        bool Os1 = false;
        bool Os2 = false;
        QString Connection;
        QString PollPeriod;
        QString Scale;
        QString Cursor;
        QString LastCommand;
        QString Traffic;
    };
    Readout Read() const;

private:
    hidsim::SimHidPlatform sim_;
    std::shared_ptr<VirtualInstrument> instrument_;
};

// What a command code asks of the instrument, for the bench's read-out.
QString CommandMeaning(uint8_t Code);

// Where the bench window goes: beside the console (right, else left, else below) inside the
// available screen area, never over it unless the screen is too small for that.
QPoint BenchPosition(const QRect& Available, const QRect& ConsoleFrame, const QSize& BenchFrame);

class TVirtualBenchWindow : public QWidget {
    Q_OBJECT
public:
    explicit TVirtualBenchWindow(VirtualBench& Bench, QWidget* Parent = nullptr);

    // Reads the instrument's state into the labels; the refresh timer calls it every 100 ms.
    void Refresh();
    // Moves the window beside Console on Console's screen.
    void PlaceBeside(const QWidget& Console);

    QPushButton* PlugButton = nullptr;
    QPushButton* UnplugButton = nullptr;
    QLabel* ConnectionValue = nullptr;
    QLabel* Os1Value = nullptr;
    QLabel* Os2Value = nullptr;
    QLabel* PollPeriodValue = nullptr;
    QLabel* ScaleValue = nullptr;
    QLabel* CursorValue = nullptr;
    QLabel* LastCommandValue = nullptr;
    QLabel* TrafficValue = nullptr;
    QTimer* RefreshTimer = nullptr;

private:
    VirtualBench& bench_;
};
