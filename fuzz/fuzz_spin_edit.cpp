// libFuzzer entry: the spin edit reads any text as a number without failing, refuses the keys
// its filter refuses, and writes back a value within its bounds that reads back as written.
// With settings bit 3 the text is typed and pasted into one of the console's fields while the
// console polls, a tick after every keystroke: exponents and huge numbers reach the marker rows
// and the poll-period byte half typed.
// Input: a settings byte, a text (up to its first NUL), then keystrokes.
#include "fuzz/FuzzConsole.h"
#include "fuzz/FuzzSupport.h"
#include "widgets/RXSpin.h"
#include "widgets/RxNumber.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <clocale>
#include <cmath>
#include <memory>

namespace {

struct Field {
    Field() {
        edit = std::make_unique<TRxSpinEdit>();
        edit->resize(61, 21);
        SetRxBeepHook([] {});
    }
    std::unique_ptr<TRxSpinEdit> edit;
};

Field& TheField() {
    static Field* f = new Field;
    return *f;
}

long double Clamp(long double V, long double Min, long double Max) {
    if (Min == Max) return V;
    return V < Min ? Min : (V > Max ? Max : V);
}

// Whether a tick may have failed on the level: its row is computed in extended precision, and
// an overflow there ends the tick like any floating-point fault.
bool LevelOverflows(const TRxSpinEdit* Field) {
    return !std::isfinite(instrument::LevelBytes(Field->Value(), 255));
}

void TickAndCheck(TOrmelix_Control_Form& F) {
    F.TimerTimer(F.Timer);
    if (F.Timer->isActive() != F.CheckBox1->isChecked() && !LevelOverflows(F.RxSpinEdit_mark1) &&
        !LevelOverflows(F.RxSpinEdit_mark2))
        fuzz::Fail("a typed level stopped polling");
    F.Timer->stop();
}

void TypeIntoConsole(uint8_t Settings, const QString& Text) {
    fuzz::Console& c = fuzz::TheConsole();
    TOrmelix_Control_Form& f = *c.form;
    c.record.fill(0);
    c.record[ScaleByte] = 255; // the steepest scale: the largest rows
    c.record[CursorPos] = 100;
    f.CheckBox2->setChecked(false);
    f.CheckBox1->setChecked(false);
    f.CheckBox1->setChecked(true);
    if (InstrumentDevice == nullptr) fuzz::Fail("the console did not connect");
    f.Timer->stop();
    f.RxSpinEdit_mark1->SetValue(1);
    f.RxSpinEdit_mark2->SetValue(2);
    f.RxSpinEdit240->SetValue(1);
    TickAndCheck(f); // enables the fields

    TRxSpinEdit* const fields[] = {f.RxSpinEdit_mark1, f.RxSpinEdit_mark2, f.RxSpinEdit240,
                                   f.RxSpinEdit_mark1};
    TRxSpinEdit& e = *fields[(Settings >> 4) & 3];
    e.selectAll();
    for (qsizetype n = 0; n < Text.size() && n < 24; ++n) { // a tick costs; 24 keys suffice
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(Text[n]));
        QCoreApplication::sendEvent(&e, &press);
        TickAndCheck(f);
    }
    // The whole text at once: pasted over everything, then set by program code past the filter.
    e.selectAll();
    QApplication::clipboard()->setText(Text);
    e.Paste();
    TickAndCheck(f);
    e.setText(Text);
    TickAndCheck(f);
    // The poll-period byte is taken from the field by a save command.
    f.FuncComboBox->setCurrentIndex(2);
    f.GoButtonClick(f.GoButton);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::App();
    fuzz::TheConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    fuzz::App();
    fuzz::Bytes in(Data, Size);
    const uint8_t settings = in.Byte();
    // The comma locale where the machine has it, the point otherwise.
    const char* locale = (settings & 0x80) ? "ru_RU.UTF-8" : "C";
    if (!std::setlocale(LC_NUMERIC, locale)) std::setlocale(LC_NUMERIC, "C");

    TRxSpinEdit& e = *TheField().edit;
    e.SetValueType(vtInteger);
    e.setText(QStringLiteral("0"));
    e.SetEditorEnabled(true);
    e.setReadOnly(false);
    // The console's two configurations, or none at all (equal bounds).
    switch (settings & 3) {
    case 0:
        e.SetMinValue(1), e.SetMaxValue(255), e.SetIncrement(1), e.SetDecimal(1);
        break;
    case 1:
        e.SetMinValue(0.01L), e.SetMaxValue(4), e.SetIncrement(0.01L), e.SetDecimal(2);
        e.SetValueType(vtFloat);
        break;
    case 2:
        e.SetMinValue(0), e.SetMaxValue(0), e.SetIncrement(1), e.SetDecimal(3);
        e.SetValueType(vtFloat);
        break;
    default:
        e.SetMinValue(-100), e.SetMaxValue(0x7FFF), e.SetIncrement(3), e.SetDecimal(0);
        e.SetValueType(vtHex);
        break;
    }
    e.SetEditorEnabled((settings & 4) == 0);

    // Reading: any text, no failure, and within [Min, Max] never enforced on a read.
    std::string text;
    while (!in.Empty()) {
        const uint8_t c = in.Byte();
        if (c == 0) break;
        text.push_back(static_cast<char>(c));
    }
    e.setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    const long double read = e.Value();
    const int32_t whole = e.IntegerValue();
    (void)whole;

    // Writing clamps; the text then reads back as the clamped value to its shown precision.
    if (std::isfinite(read) && std::fabs(read) < 1e12L) {
        e.SetValue(read);
        const long double back = e.Value();
        const long double want = Clamp(read, e.MinValue(), e.MaxValue());
        long double tolerance = 0.5L;
        if (e.ValueType() == vtFloat) tolerance = 0.51L * std::pow(10.0L, -e.Decimal());
        if (std::fabs(back - want) > tolerance + std::fabs(want) * 1e-14L)
            fuzz::Fail("a written value does not read back");
        if (e.MinValue() != e.MaxValue() && (back < e.MinValue() || back > e.MaxValue()))
            fuzz::Fail("a written value lies outside the bounds");
    }

    // Keystrokes: a refused character never reaches the text.
    e.setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    for (int n = 0; n < 32 && !in.Empty(); ++n) {
        const uint8_t k = in.Byte();
        const QString before = e.text();
        if (k == 0xF0) {
            QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
            QCoreApplication::sendEvent(&e, &up);
            continue;
        }
        if (k == 0xF1) {
            QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
            QCoreApplication::sendEvent(&e, &down);
            continue;
        }
        const QChar ch = QChar(k < 0x80 ? k : 0x400 + (k & 0x7F)); // Cyrillic for the high half
        const bool accepted = e.AcceptsKey(ch);
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QCoreApplication::sendEvent(&e, &press);
        if (!accepted && ch.unicode() >= 32 && ch.unicode() != 0x7F && e.text() != before)
            fuzz::Fail("a refused character changed the text");
    }
    (void)e.Value();
    e.StepUp(nullptr);
    e.StepDown(nullptr);
    (void)e.Value();

    // The conversions on their own.
    const QString sep = rxnum::DecimalSeparator();
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (auto f = rxnum::TextToFloat(s, sep); f && std::isfinite(*f)) {
        (void)rxnum::FormatFixed(*f, settings >> 4, sep);
        (void)rxnum::RoundToInt64(*f);
        (void)rxnum::TruncToInt64(*f);
    }
    if (auto i = rxnum::TextToInt(s)) {
        if (rxnum::TextToInt(QString::number(*i)) != i) fuzz::Fail("decimal round trip");
    }
    if (auto h = rxnum::HexToInt(s)) {
        if (rxnum::HexToInt(rxnum::FormatHex(*h)) != h) fuzz::Fail("hexadecimal round trip");
    }

    if (settings & 8) TypeIntoConsole(settings, s);
    return 0;
}
