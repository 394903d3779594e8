#include "tools/replay/ConsolePanel.h"

#include "app/FieldPresets.h"
#include "app/Plot.h"
#include "widgets/RXSpin.h"

#include <QFrame>
#include <QLabel>
#include <stdexcept>

namespace replay {

namespace {

void SetFontColor(QLabel* Label, TColor Color) {
    QPalette pal = Label->palette();
    pal.setColor(QPalette::WindowText, ToQColor(Color));
    Label->setPalette(pal);
}

void ShowAtRow(QLabel* Label, int32_t Row, const QString& Text) {
    Label->move(Label->x(), Row - Label->height() / 2);
    Label->setText(Text);
}

} // namespace

QLabel* ConsolePanel::MakeLabel(int Left, int Top, int Width, int Height, const QString& Text,
                                bool Centred) {
    auto* label = new QLabel(Text, this);
    label->setGeometry(Left, Top, Width, Height);
    label->setAlignment(Qt::AlignLeft | (Centred ? Qt::AlignVCenter : Qt::AlignTop));
    label->setMargin(0);
    label->setIndent(0);
    label->setWordWrap(false);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// The geometry, fonts and colours are the console window's (app/Unit1.cpp).
ConsolePanel::ConsolePanel(QWidget* Parent) : QWidget(Parent) {
    setFixedSize(PanelWidth, PanelHeight);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    font.setStyleStrategy(QFont::PreferDefault);
    setFont(font);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    setAutoFillBackground(true);

    caption_ = MakeLabel(24, 280, 185, 17, QString(), true);
    auto* mark1 = MakeLabel(24, 304, 113, 17, QStringLiteral("Маркер  1"), true);
    auto* mark2 = MakeLabel(24, 328, 113, 17, QStringLiteral("Маркер  2"), true);
    SetFontColor(mark1, clNavy);
    SetFontColor(mark2, clTeal);
    ReadOuts[0] = MakeLabel(216, 280, 279, 17, QString(), true);
    ReadOuts[1] = MakeLabel(216, 296, 279, 17, QString(), true);
    ReadOuts[3] = MakeLabel(216, 328, 279, 17, QString(), true);
    ReadOuts[2] = MakeLabel(216, 312, 279, 17, QString(), true);
    MakeLabel(498, 248, 9, 13, QStringLiteral("0"), false);
    MakeLabel(8, 248, 9, 13, QStringLiteral("0"), false);
    Label_41 = MakeLabel(498, 8, 9, 13, QStringLiteral("4"), true);
    Label_40 = MakeLabel(8, 8, 9, 13, QStringLiteral("4"), true);
    Label_mark2 = MakeLabel(0, 72, 17, 13, QString(), false);
    Label_mark1 = MakeLabel(0, 40, 17, 13, QString(), false);
    Pos_Label = MakeLabel(28, 256, 17, 13, QString(), false);
    sig_Label1 = MakeLabel(498, 120, 17, 13, QString(), false);

    Image = new TImage(this);
    Image->setGeometry(18, 0, PlotWidth, PlotHeight);
    Image->Canvas();

    sig_Label2 = MakeLabel(498, 144, 17, 13, QString(), false);

    // Over the plot, for a record that cannot be drawn.
    message_ = MakeLabel(18, 100, PlotWidth, 40, QString(), true);
    message_->setAlignment(Qt::AlignCenter);
    message_->setWordWrap(true);
    SetFontColor(message_, clRed);
    message_->hide();

    const auto markSpin = [this](int Top) {
        auto* edit = new TRxSpinEdit(this);
        edit->setGeometry(144, Top, 61, 21);
        LoadRxSpinEditMark(edit);
        edit->SetOnChange([this](QObject*) {
            Redraw();
            if (OnLevelsChanged) OnLevelsChanged();
        });
        return edit;
    };
    RxSpinEdit_mark1 = markSpin(304);
    RxSpinEdit_mark2 = markSpin(328);

    for (int top : {272, 352}) {
        auto* panel = new QFrame(this);
        panel->setFrameShape(QFrame::HLine);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setLineWidth(1);
        panel->setGeometry(-3, top, 525, 2);
        panel->setFocusPolicy(Qt::NoFocus);
    }
    Clear();
}

void ConsolePanel::Levels(long double (&Out)[2]) const {
    Out[0] = RxSpinEdit_mark1->Value();
    Out[1] = RxSpinEdit_mark2->Value();
}

void ConsolePanel::SetLevels(long double Mark1, long double Mark2) {
    RxSpinEdit_mark1->SetValue(Mark1);
    RxSpinEdit_mark2->SetValue(Mark2);
}

void ConsolePanel::SetCaption(const QString& Text) {
    caption_->setText(Text);
}

void ConsolePanel::Clear(const QString& Message) {
    TCanvas* canvas = Image->Canvas();
    canvas->pen().Color = clWhite;
    canvas->SetBrushColor(clWhite);
    canvas->FillRect(0, 0, PlotWidth, PlotHeight);
    for (QLabel* label : {Pos_Label, Label_mark1, Label_mark2, sig_Label1, sig_Label2})
        label->clear();
    for (QLabel* label : ReadOuts) label->clear();
    message_->setText(Message);
    message_->setVisible(!Message.isEmpty());
}

void ConsolePanel::Show(const Row& Record) {
    shown_ = Record;
    hasShown_ = true;
    Redraw();
}

void ConsolePanel::Redraw() {
    if (!hasShown_) return;
    if (shown_.Missing) {
        Clear(QStringLiteral("Record missing: ") + shown_.Problem);
        return;
    }
    struct PanelLabels : PlotLabelSink {
        ConsolePanel& p;
        explicit PanelLabels(ConsolePanel& Panel) : p(Panel) {}
        void ScaleMarks(int32_t Row) override {
            p.Label_40->move(p.Label_40->x(), Row + p.Label_40->height() / 2);
            p.Label_41->move(p.Label_41->x(), p.Label_40->y());
        }
        void Marker(int Index, int32_t Row, const QString& Text) override {
            ShowAtRow(Index == 0 ? p.Label_mark1 : p.Label_mark2, Row, Text);
        }
        void Cursor(int32_t Left, const QString& Text) override {
            p.Pos_Label->setText(Text);
            p.Pos_Label->move(Left, p.Pos_Label->y());
        }
        void UnderCursor(int Index, std::optional<int32_t> Row, const QString& Text) override {
            QLabel* label = Index == 0 ? p.sig_Label1 : p.sig_Label2;
            if (Row)
                ShowAtRow(label, *Row, Text);
            else
                label->move(label->x(), -255);
        }
        void ReadOut(int Index, const QString& Text) override { p.ReadOuts[Index]->setText(Text); }
    } labels(*this);
    long double levels[2];
    Levels(levels);
    message_->hide();
    try {
        DrawRecord(*Image->Canvas(), shown_.Bytes.data(), levels, labels);
    } catch (const std::exception& e) {
        // Where the console's tick stops (a scale of 0). The console kept the earlier record's
        // labels; beside another record's plot they would mislead, so they go.
        Clear(QStringLiteral("The console could not draw this record: %1")
                  .arg(QString::fromUtf8(e.what())));
    }
}

QImage ConsolePanel::Picture() {
    ensurePolished();
    QImage shot = grab(QRect(0, 0, PanelWidth, PanelHeight)).toImage();
    if (shot.size() != QSize(PanelWidth, PanelHeight))
        shot =
            shot.scaled(PanelWidth, PanelHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    shot.setDevicePixelRatio(1.0);
    return shot.convertToFormat(QImage::Format_RGB32);
}

const TCanvas& ConsolePanel::Plot() const {
    return *Image->Canvas();
}

QString ConsolePanel::Message() const {
    return message_->isHidden() ? QString() : message_->text();
}

} // namespace replay
