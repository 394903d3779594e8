// The console's main window: the plot, the read-outs, the connection and command controls, and
// the handlers that poll the instrument and talk to it.
#pragma once

#include "app/Canvas.h"
#include "app/FormatVolts.h"
#include "app/UpperPanel.h"
#include "instrument/Protocol.h"

#include <QDateTime>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QTimer;
class TJvHidDevice;
class TJvHidDeviceController;
class TRxSpinEdit;
class QtHidEventLoop;

// The exchange buffer holds the instrument's record, under the record's byte names.
using instrument::CommandCode;
using instrument::CursorPos;
using instrument::MaxS1;
using instrument::MaxS2;
using instrument::MinS1;
using instrument::MinS2;
using instrument::PollPeriod;
using instrument::ReportSize;
using instrument::ScaleByte;
constexpr int ExchangeSize = instrument::RecordSize;

// The snapshot covers the client area down to the second separator: the outer size of the
// dialog frame it was laid out for (3-pixel borders, a 19-pixel caption) less 6 by less 82.
constexpr int ClientWidth = 517;
constexpr int ClientHeight = 410;
constexpr int SnapshotWidth = (ClientWidth + 2 * 3) - 6;
constexpr int SnapshotHeight = (ClientHeight + 2 * 3 + 19) - 82;
static_assert(SnapshotWidth == 517 && SnapshotHeight == 353);

class TOrmelix_Control_Form;

// Program-wide state of the window's module.
extern TOrmelix_Control_Form* Ormelix_Control_Form;
extern TJvHidDevice* InstrumentDevice;
extern int32_t ScaleDivisor;
extern uint8_t ExchangeBuffer[ExchangeSize];
extern uint8_t ReportBuffer[ReportSize];
extern int32_t SnapshotTriggerPos;
extern bool SnapshotArmed;
extern QString SnapshotFolder;

extern const char* const IdleCaption;
extern const char* const FoundCaption;
extern const char* const NotFoundCaption;

class TOrmelix_Control_Form : public QWidget {
    Q_OBJECT
public:
    explicit TOrmelix_Control_Form(QWidget* Parent = nullptr);
    ~TOrmelix_Control_Form() override;

    // Components, in declaration order.
    TImage* Image = nullptr;
    TJvHidDeviceController* JvHidDeviceController = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QTimer* Timer = nullptr;
    TRxSpinEdit* RxSpinEdit240 = nullptr;
    TRxSpinEdit* RxSpinEdit_mark1 = nullptr;
    TRxSpinEdit* RxSpinEdit_mark2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label46 = nullptr;
    QLabel* Label47 = nullptr;
    QLabel* Label49 = nullptr;
    QPushButton* GoButton = nullptr;
    QComboBox* FuncComboBox = nullptr;
    QLabel* Label48 = nullptr;
    QLabel* Label_01 = nullptr;
    QLabel* Label_00 = nullptr;
    QLabel* Label_41 = nullptr;
    QLabel* Label_40 = nullptr;
    QLabel* Label_mark2 = nullptr;
    QLabel* Label_mark1 = nullptr;
    QLabel* Pos_Label = nullptr;
    QLabel* sig_Label1 = nullptr;
    QFrame* Panel1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QLabel* sig_Label2 = nullptr;
    QFrame* Panel2 = nullptr;

    void CheckBox2Click(QObject* Sender);
    void GoButtonClick(QObject* Sender);
    void FormCreate(QObject* Sender);
    void CheckBox1Click(QObject* Sender);
    void TimerTimer(QObject* Sender);
    void FormDestroy(QObject* Sender);
    bool JvHidDeviceControllerEnumerate(TJvHidDevice* HidDev, int Idx);
    bool Get_Ormelix_Dev();
    bool send_data();
    bool get_data();
    void init_app();
    void make_screen_short();

    bool DoubleBuffered() const { return doubleBuffered_; }

    // The drawing part of a tick: plot, scale marks, marker and cursor labels and read-outs,
    // all from the exchange buffer and the marker fields.
    void drawPlot();

    // Seams for the clock, the program's folder, the user's pictures and home folders (where a
    // series goes when the program's folder is not to be written; empty for none, see SeriesRoot)
    // and the pause after a command; production uses the real ones.
    std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };
    std::function<QString()> ProgramFolder;
    std::function<QString()> PicturesFolder;
    std::function<QString()> HomeFolder;
    std::function<void(int Milliseconds)> Pause;

protected:
    void showEvent(QShowEvent* Event) override;

private:
    void createControls();
    QString SeriesFolderName() const;
    void snapshot_step();

    UpperPanel upper_; // the controls above the second separator; the members above name them
    std::unique_ptr<QtHidEventLoop> hidLoop_;
    bool doubleBuffered_ = false;
    bool centred_ = false;
};
