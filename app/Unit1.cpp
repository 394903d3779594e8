#include "app/Unit1.h"

#include "app/FieldPresets.h"
#include "app/Plot.h"
#include "app/SeriesFolder.h"
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

void SetFontColor(QLabel* Label, TColor Color) {
    QPalette pal = Label->palette();
    pal.setColor(QPalette::WindowText, ToQColor(Color));
    Label->setPalette(pal);
}

// A plot label centred on a row of the plot.
void ShowAtRow(QLabel* Label, int32_t Row, const QString& Text) {
    Label->move(Label->x(), Row - Label->height() / 2);
    Label->setText(Text);
}

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

QLabel* TOrmelix_Control_Form::makeLabel(int Left, int Top, int Width, int Height,
                                         const QString& Text, bool Centred) {
    auto* label = new QLabel(Text, this);
    label->setGeometry(Left, Top, Width, Height);
    label->setAlignment(Qt::AlignLeft | (Centred ? Qt::AlignVCenter : Qt::AlignTop));
    label->setMargin(0);
    label->setIndent(0);
    label->setWordWrap(false);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void TOrmelix_Control_Form::createControls() {
    setObjectName("Ormelix_Control_Form");
    setFixedSize(ClientWidth, ClientHeight);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    font.setStyleStrategy(QFont::PreferDefault);
    setFont(font);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    setAutoFillBackground(true);

    Label1 = makeLabel(24, 280, 113, 17, QStringLiteral("Период опроса"), true);
    Label2 = makeLabel(24, 304, 113, 17, QStringLiteral("Маркер  1"), true);
    Label3 = makeLabel(24, 328, 113, 17, QStringLiteral("Маркер  2"), true);
    Label46 = makeLabel(216, 280, 279, 17, QString(), true);
    Label47 = makeLabel(216, 296, 279, 17, QString(), true);
    Label49 = makeLabel(216, 328, 279, 17, QString(), true);
    Label48 = makeLabel(216, 312, 279, 17, QString(), true);
    Label_01 = makeLabel(498, 248, 9, 13, QStringLiteral("0"), false);
    Label_00 = makeLabel(8, 248, 9, 13, QStringLiteral("0"), false);
    Label_41 = makeLabel(498, 8, 9, 13, QStringLiteral("4"), true);
    Label_40 = makeLabel(8, 8, 9, 13, QStringLiteral("4"), true);
    Label_mark2 = makeLabel(0, 72, 17, 13, QString(), false);
    Label_mark1 = makeLabel(0, 40, 17, 13, QString(), false);
    Pos_Label = makeLabel(28, 256, 17, 13, QString(), false);
    sig_Label1 = makeLabel(498, 120, 17, 13, QString(), false);

    Image = new TImage(this);
    Image->setObjectName("Image");
    Image->setGeometry(18, 0, PlotWidth, PlotHeight);

    sig_Label2 = makeLabel(498, 144, 17, 13, QString(), false);

    CheckBox1 = new QCheckBox(QStringLiteral("Подключение"), this);
    CheckBox1->setGeometry(24, 360, 129, 17);

    auto loadSpin = [this](int Top) {
        auto* edit = new TRxSpinEdit(this);
        edit->setGeometry(144, Top, 61, 21);
        return edit;
    };
    RxSpinEdit240 = loadSpin(280);
    LoadRxSpinEdit240(RxSpinEdit240);
    RxSpinEdit_mark1 = loadSpin(304);
    LoadRxSpinEditMark(RxSpinEdit_mark1);
    RxSpinEdit_mark2 = loadSpin(328);
    LoadRxSpinEditMark(RxSpinEdit_mark2);

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

    auto makePanel = [this](int Top) {
        auto* panel = new QFrame(this);
        panel->setFrameShape(QFrame::HLine);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setLineWidth(1);
        panel->setGeometry(-3, Top, 525, 2);
        panel->setFocusPolicy(Qt::NoFocus);
        return panel;
    };
    Panel1 = makePanel(272);

    CheckBox2 = new QCheckBox(QStringLiteral("Делать SS"), this);
    CheckBox2->setGeometry(184, 360, 97, 17);

    Panel2 = makePanel(352);

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
    for (QLabel* label : {Label46, Label47, Label48, Label49}) label->clear();
    RxSpinEdit240->setEnabled(false);
    RxSpinEdit_mark1->setEnabled(false);
    RxSpinEdit_mark2->setEnabled(false);
    CheckBox2->setEnabled(false);
    TCanvas* canvas = Image->Canvas();
    canvas->pen().Color = clWhite;
    canvas->FillRect(0, 0, Image->width(), Image->height());
    for (QLabel* label : {Pos_Label, Label_mark1, Label_mark2, sig_Label1, sig_Label2})
        label->clear();
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
    // The plot's labels are the window's own: placed where the drawing says.
    struct FormLabels : PlotLabelSink {
        TOrmelix_Control_Form& f;
        explicit FormLabels(TOrmelix_Control_Form& Form) : f(Form) {}
        void ScaleMarks(int32_t Row) override {
            f.Label_40->move(f.Label_40->x(), Row + f.Label_40->height() / 2);
            f.Label_41->move(f.Label_41->x(), f.Label_40->y());
        }
        void Marker(int Index, int32_t Row, const QString& Text) override {
            ShowAtRow(Index == 0 ? f.Label_mark1 : f.Label_mark2, Row, Text);
        }
        void Cursor(int32_t Left, const QString& Text) override {
            f.Pos_Label->setText(Text);
            f.Pos_Label->move(Left, f.Pos_Label->y());
        }
        void UnderCursor(int Index, std::optional<int32_t> Row, const QString& Text) override {
            QLabel* label = Index == 0 ? f.sig_Label1 : f.sig_Label2;
            // Out of sight, its text kept.
            if (Row)
                ShowAtRow(label, *Row, Text);
            else
                label->move(label->x(), -255);
        }
        void ReadOut(int Index, const QString& Text) override {
            QLabel* const labels[] = {f.Label46, f.Label47, f.Label48, f.Label49};
            labels[Index]->setText(Text);
        }
    } labels(*this);

    ScaleDivisor = ExchangeBuffer[ScaleByte];
    const long double levels[2] = {RxSpinEdit_mark1->Value(), RxSpinEdit_mark2->Value()};
    DrawRecord(*Image->Canvas(), ExchangeBuffer, levels, labels);
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
