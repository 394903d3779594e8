#include "app/Unit1.h"

#include "app/SeriesFolder.h"
#include "hid/JvHidControllerClass.h"
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

constexpr int PlotWidth = 476;
constexpr int PlotHeight = 255;

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

// Integer division that fails on zero the way the numeric runtime does, instead of trapping.
int32_t CheckedDiv(int32_t A, int32_t B) {
    if (B == 0) throw std::domain_error("Division by zero");
    return A / B;
}

// A level typed far beyond the field's range (it clamps only on leaving) is held this many rows
// off the plot: nothing of it shows either way, and the row, the label's top and Qt's own
// geometry (kept within 2^24) all stay far from overflow.
constexpr long double kFarRows = 1 << 24;

// Row of a level of Volts volts.
int32_t LevelRow(long double Volts) {
    const long double quotient = instrument::LevelBytes(Volts, ScaleDivisor);
    if (!std::isfinite(quotient)) throw std::domain_error("Invalid floating point operation");
    return 255 - static_cast<int32_t>(std::clamp(std::trunc(quotient), -kFarRows, kFarRows));
}

long double ByteVolts(uint8_t Value) {
    if (ScaleDivisor == 0) throw std::domain_error("Division by zero");
    return instrument::ByteVolts(Value, ScaleDivisor);
}

QString WithUnit(long double Volts, int Decimals) {
    return FormatVolts(Volts, Decimals) + QStringLiteral(" В");
}

// A plot label centred on a row of the plot.
void ShowAtRow(QLabel* Label, int32_t Row, const QString& Text) {
    Label->move(Label->x(), Row - Label->height() / 2);
    Label->setText(Text);
}

} // namespace

QString FormatVolts(long double Volts, int Decimals) {
    // Round on the 18 significant digits the extended format carries, halves away from zero.
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.17Le", Volts);
    const bool negative = digits[0] == '-';
    const char* p = digits + (negative ? 1 : 0);
    std::string mantissa;
    // The separator snprintf writes is the locale's; only the digits matter here.
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') mantissa += *p;
    const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
    // mantissa holds d0 d1 ... d17 with the value d0.d1d2... × 10^exponent.
    const int pointAt = exponent + 1;    // digits before the decimal point
    const int keep = pointAt + Decimals; // digits kept
    // kept stands for the value scaled by 10^Decimals, as an integer string: the digits kept,
    // padded with zeros, and "0" when nothing is kept. Built in place: GCC 12 at -O3 sees a false
    // overlap in assignments of literals to it.
    std::string kept(static_cast<size_t>(std::max(keep, 1)), '0');
    const size_t available = mantissa.size();
    if (keep > 0) mantissa.copy(kept.data(), std::min(static_cast<size_t>(keep), available));
    const bool roundUp =
        keep >= 0 && static_cast<size_t>(keep) < available && mantissa[keep] >= '5';
    if (roundUp) {
        int i = static_cast<int>(kept.size()) - 1;
        for (; i >= 0; --i) {
            if (kept[i] == '9') {
                kept[i] = '0';
            } else {
                ++kept[i];
                break;
            }
        }
        if (i < 0) kept.insert(kept.begin(), '1');
    }
    while (static_cast<int>(kept.size()) < Decimals + 1) kept.insert(kept.begin(), '0');
    std::string intPart = kept.substr(0, kept.size() - Decimals);
    const std::string fracPart = kept.substr(kept.size() - Decimals);
    const size_t nz = intPart.find_first_not_of('0');
    intPart = nz == std::string::npos ? "0" : intPart.substr(nz);
    const bool isZero = intPart == "0" && fracPart.find_first_not_of('0') == std::string::npos;

    const char* sep = std::localeconv()->decimal_point;
    QString text;
    if (negative && !isZero) text += QLatin1Char('-');
    text += QString::fromStdString(intPart);
    if (Decimals > 0) {
        text += (sep && *sep) ? QString::fromLocal8Bit(sep) : QStringLiteral(".");
        text += QString::fromStdString(fracPart);
    }
    return text;
}

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
    InstrumentDevice->OpenHandle();
    std::memset(ReportBuffer, 0, sizeof ReportBuffer);
    std::memcpy(ReportBuffer + 1, ExchangeBuffer, ExchangeSize);
    return InstrumentDevice->SetFeature(ReportBuffer, ReportSize);
}

bool TOrmelix_Control_Form::get_data() {
    InstrumentDevice->OpenHandle();
    std::memset(ReportBuffer, 0, sizeof ReportBuffer);
    std::memset(ExchangeBuffer, 0, sizeof ExchangeBuffer);
    const bool result = InstrumentDevice->GetFeature(ReportBuffer, ReportSize);
    std::memcpy(ExchangeBuffer, ReportBuffer + 1, ExchangeSize);
    return result;
}

bool TOrmelix_Control_Form::Get_Ormelix_Dev() {
    // A held instrument that has been found gone is let go, so that a re-plugged one (a new
    // device instance) can be found again.
    if (InstrumentDevice && !InstrumentDevice->IsPluggedIn()) {
        TJvHidDevice* gone = InstrumentDevice;
        InstrumentDevice = nullptr;
        delete gone;
    }
    if (!InstrumentDevice) JvHidDeviceController->Enumerate();
    return InstrumentDevice && InstrumentDevice->IsCheckedOut() && InstrumentDevice->IsPluggedIn();
}

bool TOrmelix_Control_Form::JvHidDeviceControllerEnumerate(TJvHidDevice* HidDev, int Idx) {
    // Compared as 8-bit text in the system's narrow encoding, exact and case-sensitive.
    const auto narrow = [](const std::u16string& Wide) {
        return QString::fromStdU16String(Wide).toLocal8Bit();
    };
    if (narrow(HidDev->ProductName()) != QByteArray(instrument::Product)) return true;
    if (narrow(HidDev->VendorName()) == QByteArray(instrument::Manufacturer))
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
    // The OS1 and OS2 tests stay selected, so that pressing the button repeats them.
    if (item <= 3) FuncComboBox->setCurrentIndex(0);
}

void TOrmelix_Control_Form::drawPlot() {
    TCanvas* c = Image->Canvas();
    auto& pen = c->pen();

    pen.Style = TPenStyle::psSolid;
    pen.Color = clWhite;
    c->FillRect(0, 0, Image->width(), Image->height());

    ScaleDivisor = ExchangeBuffer[ScaleByte];

    Label_40->move(Label_40->x(), CheckedDiv(264, ScaleDivisor) + Label_40->height() / 2);
    Label_41->move(Label_41->x(), Label_40->y());

    pen.Width = 1;
    pen.Color = 0x008CFF;
    pen.Style = TPenStyle::psDash;
    for (int k = 4; k >= 1; --k) {
        const int32_t r = 255 - instrument::WholeVoltBytes(k, ScaleDivisor);
        c->MoveTo(0, r);
        c->LineTo(Image->width(), r);
    }
    pen.Style = TPenStyle::psSolid;

    // Marker levels: rows, then their labels centred on them, then the lines, marker 2 last.
    TRxSpinEdit* const markFields[] = {RxSpinEdit_mark1, RxSpinEdit_mark2};
    QLabel* const markLabels[] = {Label_mark1, Label_mark2};
    const TColor markColours[] = {clNavy, clTeal};
    int32_t markRows[2];
    for (int k = 0; k < 2; ++k) {
        markRows[k] = LevelRow(markFields[k]->Value());
        ShowAtRow(markLabels[k], markRows[k], WithUnit(markFields[k]->Value(), 1));
    }
    pen.Width = 1;
    for (int k = 0; k < 2; ++k) {
        pen.Color = markColours[k];
        c->MoveTo(0, markRows[k]);
        c->LineTo(Image->width(), markRows[k]);
    }

    // The traces: S1 from the even bytes in black, then S2 from the odd ones in red over it.
    pen.Width = 1;
    for (int signal = 0; signal < 2; ++signal) {
        pen.Color = signal == 0 ? clBlack : clRed;
        c->MoveTo(0, 255 - ExchangeBuffer[instrument::SampleByte(signal, 0)]);
        for (int i = 0; i < instrument::SamplePoints; ++i)
            c->LineTo(4 * i, 255 - ExchangeBuffer[instrument::SampleByte(signal, i)]);
    }

    const int32_t cursor = ExchangeBuffer[CursorPos];
    pen.Width = 4;
    pen.Color = clGray;
    c->MoveTo(2 * cursor - 2, 0);
    c->LineTo(2 * cursor - 2, Image->height());

    Pos_Label->setText(QString::number(cursor));
    Pos_Label->move(2 * cursor + 10, Pos_Label->y());

    // The two bytes under the cursor, beside their rows; out of sight near the left edge.
    QLabel* const sigLabels[] = {sig_Label1, sig_Label2};
    for (int k = 0; k < 2; ++k) {
        if (cursor >= 5) {
            const uint8_t b = ExchangeBuffer[cursor - 4 + k];
            ShowAtRow(sigLabels[k], 255 - b, WithUnit(ByteVolts(b), 1));
        } else {
            sigLabels[k]->move(sigLabels[k]->x(), -255);
        }
    }

    const struct {
        QLabel* Label;
        const char* Prefix;
        int Byte;
    } readOuts[] = {{Label46, "Min значение S1 = ", MinS1},
                    {Label47, "Max значение S1 = ", MaxS1},
                    {Label48, "Min значение S2 = ", MinS2},
                    {Label49, "Max значение S2 = ", MaxS2}};
    for (const auto& r : readOuts)
        r.Label->setText(QString::fromUtf8(r.Prefix) +
                         WithUnit(ByteVolts(ExchangeBuffer[r.Byte]), 2));
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
