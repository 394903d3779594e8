#include "tools/demo/VirtualBench.h"

#include "hid/sim/BenchDevices.h"

#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QString OnOff(bool On) {
    return On ? QStringLiteral("1 (on)") : QStringLiteral("0 (off)");
}

void ShowLamp(QLabel* Label, bool On) {
    Label->setText(OnOff(On));
    Label->setStyleSheet(On ? QStringLiteral("background:#2e9d3a; color:white; padding:1px 6px;")
                            : QStringLiteral("background:#d6d6d6; color:black; padding:1px 6px;"));
}

} // namespace

VirtualBench::VirtualBench() : instrument_(std::make_shared<VirtualInstrument>()) {
    sim_.Plug(VirtualInstrumentDevice(instrument_, InstrumentPath));
    sim_.Plug(bench::Mouse());
    sim_.Plug(bench::LookAlike());
    SetHidPlatform(sim_.Platform());
}

VirtualBench::~VirtualBench() {
    SetHidPlatform(nullptr);
}

bool VirtualBench::PlugInstrument() {
    if (sim_.IsPlugged(InstrumentPath)) return false;
    return sim_.Plug(VirtualInstrumentDevice(instrument_, InstrumentPath)) != 0;
}

bool VirtualBench::UnplugInstrument() {
    return sim_.Unplug(InstrumentPath);
}

bool VirtualBench::InstrumentPlugged() const {
    return sim_.IsPlugged(InstrumentPath);
}

VirtualBench::Readout VirtualBench::Read() const {
    const VirtualInstrument::State s = instrument_->Snapshot();
    Readout r;
    r.Plugged = InstrumentPlugged();
    r.Os1 = s.Os1;
    r.Os2 = s.Os2;
    r.Connection = r.Plugged ? QStringLiteral("plugged in at %1").arg(InstrumentPath)
                             : QStringLiteral("unplugged");
    r.PollPeriod =
        QStringLiteral("%1 working, %2 stored").arg(s.PollPeriod).arg(s.StoredPollPeriod);
    r.Scale = QStringLiteral("%1 working, %2 stored").arg(s.Scale).arg(s.StoredScale);
    r.Cursor = QString::number(s.Cursor);
    r.LastCommand = s.Commands == 0 ? QStringLiteral("none yet") : CommandMeaning(s.LastCommand);
    r.Traffic = QStringLiteral("%1 records sent, %2 received").arg(s.Fetches).arg(s.Commands);
    return r;
}

QString CommandMeaning(uint8_t Code) {
    const char* meaning = nullptr;
    switch (Code) {
    case 0:
        meaning = "normal operation";
        break;
    case 1:
        meaning = "read stored variables";
        break;
    case 2:
        meaning = "save variables";
        break;
    case 32:
        meaning = "reset working variables";
        break;
    case 48:
        meaning = "OS1 = 0";
        break;
    case 49:
        meaning = "OS1 = 1";
        break;
    case 64:
        meaning = "OS2 = 0";
        break;
    case 65:
        meaning = "OS2 = 1";
        break;
    default:
        meaning = "unknown, taken as normal operation";
        break;
    }
    return QStringLiteral("%1: %2").arg(Code).arg(QString::fromLatin1(meaning));
}

QPoint BenchPosition(const QRect& Available, const QRect& ConsoleFrame, const QSize& BenchFrame) {
    constexpr int gap = 12;
    const int w = BenchFrame.width();
    const int h = BenchFrame.height();
    // QRect's right() and bottom() are the last pixels inside.
    const int availRight = Available.x() + Available.width();
    const int availBottom = Available.y() + Available.height();
    const auto clampY = [&](int Y) {
        return std::max(Available.y(), std::min(Y, availBottom - h));
    };
    const auto clampX = [&](int X) { return std::max(Available.x(), std::min(X, availRight - w)); };

    const int right = ConsoleFrame.x() + ConsoleFrame.width() + gap;
    if (right + w <= availRight) return {right, clampY(ConsoleFrame.y())};
    const int left = ConsoleFrame.x() - gap - w;
    if (left >= Available.x()) return {left, clampY(ConsoleFrame.y())};
    const int below = ConsoleFrame.y() + ConsoleFrame.height() + gap;
    if (below + h <= availBottom) return {clampX(ConsoleFrame.x()), below};
    return {std::max(Available.x(), availRight - w), clampY(ConsoleFrame.y())};
}

TVirtualBenchWindow::TVirtualBenchWindow(VirtualBench& Bench, QWidget* Parent)
    : QWidget(Parent, Qt::Window), bench_(Bench) {
    setObjectName(QStringLiteral("VirtualBench"));
    setWindowTitle(QStringLiteral("Ormelix virtual bench"));

    PlugButton = new QPushButton(QStringLiteral("Plug in"), this);
    UnplugButton = new QPushButton(QStringLiteral("Unplug"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(PlugButton);
    buttons->addWidget(UnplugButton);

    auto value = [this] {
        auto* label = new QLabel(this);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return label;
    };
    ConnectionValue = value();
    Os1Value = value();
    Os2Value = value();
    PollPeriodValue = value();
    ScaleValue = value();
    CursorValue = value();
    LastCommandValue = value();
    TrafficValue = value();
    for (QLabel* lamp : {Os1Value, Os2Value})
        lamp->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Instrument:"), ConnectionValue);
    form->addRow(QStringLiteral("OS1 indicator:"), Os1Value);
    form->addRow(QStringLiteral("OS2 output:"), Os2Value);
    form->addRow(QStringLiteral("Poll period:"), PollPeriodValue);
    form->addRow(QStringLiteral("Scale:"), ScaleValue);
    form->addRow(QStringLiteral("Cursor:"), CursorValue);
    form->addRow(QStringLiteral("Last command:"), LastCommandValue);
    form->addRow(QStringLiteral("Exchange:"), TrafficValue);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addLayout(form);

    connect(PlugButton, &QPushButton::clicked, this, [this] {
        bench_.PlugInstrument();
        Refresh();
    });
    connect(UnplugButton, &QPushButton::clicked, this, [this] {
        bench_.UnplugInstrument();
        Refresh();
    });

    RefreshTimer = new QTimer(this);
    RefreshTimer->setInterval(100);
    connect(RefreshTimer, &QTimer::timeout, this, [this] { Refresh(); });
    RefreshTimer->start();
    Refresh();
}

void TVirtualBenchWindow::Refresh() {
    const VirtualBench::Readout r = bench_.Read();
    PlugButton->setEnabled(!r.Plugged);
    UnplugButton->setEnabled(r.Plugged);
    ConnectionValue->setText(r.Connection);
    ShowLamp(Os1Value, r.Os1);
    ShowLamp(Os2Value, r.Os2);
    PollPeriodValue->setText(r.PollPeriod);
    ScaleValue->setText(r.Scale);
    CursorValue->setText(r.Cursor);
    LastCommandValue->setText(r.LastCommand);
    TrafficValue->setText(r.Traffic);
}

void TVirtualBenchWindow::PlaceBeside(const QWidget& Console) {
    QScreen* screen = Console.screen() ? Console.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    adjustSize();
    const QSize frame = frameGeometry().size();
    move(BenchPosition(screen->availableGeometry(), Console.frameGeometry(), frame));
}
