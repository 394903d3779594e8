#include "app/Unit1.h"

#include "app/FieldPresets.h"
#include "app/Plot.h"
#include "app/SeriesFolder.h"
#include "app/UpperPanel.h"
#include "hid/JvHidControllerClass.h"
#include "hid/link/InstrumentLink.h"
#include "hid/qt/QtHidEventLoop.h"
#include "imaging/jpeg.h"
#include "instrument/Command.h"
#include "widgets/RXSpin.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

TOrmelix_Control_Form* Ormelix_Control_Form = nullptr;
TJvHidDevice* InstrumentDevice = nullptr;
int32_t ScaleDivisor = 0;
uint8_t ExchangeBuffer[ExchangeSize] = {};
uint8_t ReportBuffer[ReportSize] = {};
int32_t SnapshotTriggerPos = 0;
bool SnapshotArmed = false;
QString SnapshotFolder;

const char* const IdleCaption = "Tavrix. ormelix.example.org ";
const char* const FoundCaption = "Устройство обнаруженно :)";
const char* const NotFoundCaption = "Устройство не обнаруженно :(";

namespace {

// Drop-down rows of a fixed 16-pixel height, drawn the default way.
class FixedRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override {
        return QSize(QStyledItemDelegate::sizeHint(Option, Index).width(), 16);
    }
};

} // namespace

TOrmelix_Control_Form::TOrmelix_Control_Form(QWidget* Parent)
    : QWidget(Parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    Ormelix_Control_Form = this;
    ProgramFolder = [] { return QCoreApplication::applicationDirPath(); };
    PicturesFolder = [] { return UserPicturesFolder(); };
    HomeFolder = [] { return UserHomeFolder(); };
    Pause = [](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); };
    createControls();
    FormCreate(this);
}

TOrmelix_Control_Form::~TOrmelix_Control_Form() {
    // Every device the console checked out (the held instrument, and the earlier of two
    // matching ones) is its own. They outlive the handler that forgets the held one and are
    // destroyed after the controller, which then builds no replacement for them.
    std::vector<TJvHidDevice*> checkedOut;
    for (TJvHidDevice* d : JvHidDeviceController->DeviceList())
        if (d->IsCheckedOut()) checkedOut.push_back(d);
    FormDestroy(this);
    Timer->stop();
    delete JvHidDeviceController;
    JvHidDeviceController = nullptr;
    for (TJvHidDevice* d : checkedOut) delete d;
    if (Ormelix_Control_Form == this) Ormelix_Control_Form = nullptr;
}

void TOrmelix_Control_Form::createControls() {
    setObjectName("Ormelix_Control_Form");
    setFixedSize(ClientWidth, ClientHeight);
    SetConsoleLook(this);

    Label1 = MakeConsoleLabel(this, 24, 280, 113, 17, QStringLiteral("Период опроса"), true);
    upper_.CreatePlotArea(this);
    Label2 = upper_.Label2;
    Label3 = upper_.Label3;
    Label46 = upper_.ReadOuts[0];
    Label47 = upper_.ReadOuts[1];
    Label48 = upper_.ReadOuts[2];
    Label49 = upper_.ReadOuts[3];
    Label_01 = upper_.Label_01;
    Label_00 = upper_.Label_00;
    Label_41 = upper_.Label_41;
    Label_40 = upper_.Label_40;
    Label_mark2 = upper_.Label_mark2;
    Label_mark1 = upper_.Label_mark1;
    Pos_Label = upper_.Pos_Label;
    sig_Label1 = upper_.sig_Label1;
    Image = upper_.Image;
    sig_Label2 = upper_.sig_Label2;

    CheckBox1 = new QCheckBox(QStringLiteral("Подключение"), this);
    CheckBox1->setGeometry(24, 360, 129, 17);

    RxSpinEdit240 = new TRxSpinEdit(this);
    RxSpinEdit240->setGeometry(144, 280, 61, 21);
    LoadRxSpinEdit240(RxSpinEdit240);
    upper_.CreateMarkerFields(this);
    RxSpinEdit_mark1 = upper_.RxSpinEdit_mark1;
    RxSpinEdit_mark2 = upper_.RxSpinEdit_mark2;

    GoButton = new QPushButton(QStringLiteral("Выполнить"), this);
    GoButton->setGeometry(360, 384, 89, 22);

    FuncComboBox = new QComboBox(this);
    FuncComboBox->setGeometry(16, 384, 329, 22);
    FuncComboBox->setEditable(false);
    FuncComboBox->setItemDelegate(new FixedRowDelegate(FuncComboBox));
    FuncComboBox->addItems({QStringLiteral("Обычная работа"),
                            QStringLiteral("Считать переменные из eeprom"),
                            QStringLiteral("Сохранить переменные в eeprom"),
                            QStringLiteral("Сброс значений оперативных переменных"),
                            QStringLiteral("Проверка работы индикатора OS1 OS1=0"),
                            QStringLiteral("Проверка работы индикатора OS1 OS1=1"),
                            QStringLiteral("Проверка работы выхода OS2 OS2=0"),
                            QStringLiteral("Проверка работы выхода OS2 OS2=1")});

    Panel1 = MakeSeparator(this, 272);

    CheckBox2 = new QCheckBox(QStringLiteral("Делать SS"), this);
    CheckBox2->setGeometry(184, 360, 97, 17);

    Panel2 = MakeSeparator(this, 352);

    // Tab order: CheckBox1, the three fields, GoButton, FuncComboBox, CheckBox2.
    QWidget* order[] = {CheckBox1, RxSpinEdit240, RxSpinEdit_mark1, RxSpinEdit_mark2,
                        GoButton,  FuncComboBox,  CheckBox2};
    for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);

    hidLoop_ = std::make_unique<QtHidEventLoop>();
    JvHidDeviceController = new TJvHidDeviceController(hidLoop_.get());
    JvHidDeviceController->SetDevThreadSleepTime(10);
    JvHidDeviceController->SetOnEnumerate(
        TJvHidEnumerateEvent(this, &TOrmelix_Control_Form::JvHidDeviceControllerEnumerate));

    Timer = new QTimer(this);
    Timer->setInterval(500);
    Timer->setSingleShot(false);

    // Check boxes run their handlers whenever the mark changes, also when set from code.
    connect(CheckBox1, &QCheckBox::toggled, this, [this] { CheckBox1Click(CheckBox1); });
    connect(CheckBox2, &QCheckBox::toggled, this, [this] { CheckBox2Click(CheckBox2); });
    connect(GoButton, &QPushButton::clicked, this, [this] { GoButtonClick(GoButton); });
    connect(Timer, &QTimer::timeout, this, [this] { TimerTimer(Timer); });
}

void TOrmelix_Control_Form::showEvent(QShowEvent* Event) {
    QWidget::showEvent(Event);
    if (!centred_) {
        centred_ = true;
        if (QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
            const QRect avail = screen->availableGeometry();
            const QSize outer = frameGeometry().size();
            move(avail.center() - QPoint(outer.width() / 2, outer.height() / 2));
        }
    }
}

void TOrmelix_Control_Form::FormCreate(QObject*) {
    Ormelix_Control_Form->doubleBuffered_ = true;
    init_app();
}

void TOrmelix_Control_Form::FormDestroy(QObject*) {
    InstrumentDevice = nullptr;
}

void TOrmelix_Control_Form::init_app() {
    SetFontColor(Label2, clNavy);
    SetFontColor(Label3, clTeal);
    setWindowTitle(QString::fromUtf8(IdleCaption));
    GoButton->setEnabled(false);
    FuncComboBox->setEnabled(false);
    FuncComboBox->setCurrentIndex(0);
    RxSpinEdit240->setEnabled(false);
    RxSpinEdit_mark1->setEnabled(false);
    RxSpinEdit_mark2->setEnabled(false);
    CheckBox2->setEnabled(false);
    TCanvas* canvas = Image->Canvas();
    canvas->pen().Color = clWhite;
    canvas->FillRect(0, 0, Image->width(), Image->height());
    upper_.ClearLabels();
    SnapshotFolder.clear();
}

bool TOrmelix_Control_Form::send_data() {
    return hidlink::SendRecord(*InstrumentDevice, ReportBuffer, ExchangeBuffer);
}

bool TOrmelix_Control_Form::get_data() {
    return hidlink::FetchRecord(*InstrumentDevice, ReportBuffer, ExchangeBuffer);
}

bool TOrmelix_Control_Form::Get_Ormelix_Dev() {
    hidlink::LetGoIfGone(InstrumentDevice);
    if (!InstrumentDevice) JvHidDeviceController->Enumerate();
    return hidlink::Holds(InstrumentDevice);
}

bool TOrmelix_Control_Form::JvHidDeviceControllerEnumerate(TJvHidDevice* HidDev, int Idx) {
    if (hidlink::IsInstrument(*HidDev))
        JvHidDeviceController->CheckOutByIndex(InstrumentDevice, Idx);
    return true;
}

void TOrmelix_Control_Form::CheckBox1Click(QObject*) {
    if (CheckBox1->isChecked()) {
        if (Get_Ormelix_Dev()) {
            FuncComboBox->setCurrentIndex(1);
            GoButtonClick(this);
        }
        if (!Timer->isActive()) Timer->start();
    } else {
        Timer->stop();
        init_app();
    }
}

void TOrmelix_Control_Form::GoButtonClick(QObject*) {
    if (!Get_Ormelix_Dev()) return;
    const int item = FuncComboBox->currentIndex();
    if (item < 0 || item >= static_cast<int>(instrument::CommandItems.size())) {
        send_data();
        return;
    }
    instrument::CommandLink link;
    link.Send = [this] { return send_data(); };
    link.Pause = Pause;
    link.Fetch = [this] { return get_data(); };
    link.StoredRead = [this] {
        ScaleDivisor = ExchangeBuffer[ScaleByte] != 0 ? ExchangeBuffer[ScaleByte] : 64;
        RxSpinEdit240->SetValue(ExchangeBuffer[PollPeriod]);
    };
    const uint8_t code = instrument::CommandItems[item].Code;
    const uint8_t period = code == instrument::command::SaveStored
                               ? static_cast<uint8_t>(RxSpinEdit240->IntegerValue() & 0xFF)
                               : 0;
    instrument::RunCommand(ExchangeBuffer, code, period, link);
    if (instrument::CommandItems[item].BackToFirst) FuncComboBox->setCurrentIndex(0);
}

void TOrmelix_Control_Form::drawPlot() {
    ScaleDivisor = ExchangeBuffer[ScaleByte];
    upper_.Draw(ExchangeBuffer);
}

void TOrmelix_Control_Form::TimerTimer(QObject*) {
    Timer->stop();
    try {
        if (!Get_Ormelix_Dev()) {
            CheckBox1->setChecked(false);
            init_app();
            setWindowTitle(QString::fromUtf8(NotFoundCaption));
            return;
        }
        setWindowTitle(QString::fromUtf8(FoundCaption));
        GoButton->setEnabled(true);
        FuncComboBox->setEnabled(true);
        get_data();
        drawPlot();
        RxSpinEdit240->setEnabled(true);
        RxSpinEdit_mark1->setEnabled(true);
        RxSpinEdit_mark2->setEnabled(true);
        CheckBox2->setEnabled(true);
        if (CheckBox2->isChecked()) snapshot_step();
    } catch (...) {
        // A failed tick keeps what it drew; polling goes on below.
    }
    // Only while the box is still ticked: the snapshot step handles pending events, and a user
    // who unticked it there has stopped polling.
    if (CheckBox1->isChecked()) Timer->start();
}

QString TOrmelix_Control_Form::SeriesFolderName() const {
    // An installed program's folder is not the user's to write: the series would be lost there.
    const QString root = SeriesRoot(ProgramFolder(), PicturesFolder(), HomeFolder());
    return QDir(root).filePath(Now().toString(QStringLiteral("ddMMyy_HHmmss")));
}

void TOrmelix_Control_Form::CheckBox2Click(QObject*) {
    SnapshotFolder = SeriesFolderName();
}

void TOrmelix_Control_Form::snapshot_step() {
    if (ExchangeBuffer[CursorPos] > 210 && !SnapshotArmed) {
        // Let the screen show this tick's drawing first; user actions may run here.
        QCoreApplication::processEvents();
        if (SnapshotFolder.isEmpty()) {
            // The window went idle since the box was clicked. While polling goes on, the series
            // goes on in a folder named now, as a click would name it.
            if (!CheckBox1->isChecked()) return;
            SnapshotFolder = SeriesFolderName();
        }
        QDir().mkpath(SnapshotFolder);
        SnapshotArmed = true;
        SnapshotTriggerPos = ExchangeBuffer[CursorPos];
        make_screen_short();
    }
    // Read again: a command run above may have replaced the record.
    if (ExchangeBuffer[CursorPos] < 150 && ExchangeBuffer[CursorPos] < SnapshotTriggerPos)
        SnapshotArmed = false;
}

void TOrmelix_Control_Form::make_screen_short() {
    try {
        QImage bitmap(SnapshotWidth, SnapshotHeight, QImage::Format_RGB32);
        // The picture is taken at device-independent size whatever the screen's scale.
        QImage shot = grab(QRect(0, 0, bitmap.width(), bitmap.height())).toImage();
        if (shot.size() != bitmap.size())
            shot = shot.scaled(bitmap.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        shot.setDevicePixelRatio(1.0);
        bitmap = shot.convertToFormat(QImage::Format_RGB32);
        TJPEGImage jpeg;
        jpeg.Assign(bitmap);
        jpeg.SetQuality(50);
        const QString name = Now().toString(QStringLiteral("HHmmss")) + QStringLiteral(".jpg");
        jpeg.SaveToFile(QDir(SnapshotFolder).filePath(name));
    } catch (...) {
        // A picture that cannot be made is simply not there; the series goes on.
    }
}
