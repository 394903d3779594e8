#include "app/UpperPanel.h"

#include "app/FieldPresets.h"
#include "app/Plot.h"
#include "widgets/RXSpin.h"

#include <QFrame>
#include <QLabel>

namespace {

// A plot label centred on a row of the plot.
void ShowAtRow(QLabel* Label, int32_t Row, const QString& Text) {
    Label->move(Label->x(), Row - Label->height() / 2);
    Label->setText(Text);
}

} // namespace

void SetConsoleLook(QWidget* Owner) {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    font.setStyleStrategy(QFont::PreferDefault);
    Owner->setFont(font);
    QPalette pal = Owner->palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    Owner->setPalette(pal);
    Owner->setAutoFillBackground(true);
}

QLabel* MakeConsoleLabel(QWidget* Owner, int Left, int Top, int Width, int Height,
                         const QString& Text, bool Centred) {
    auto* label = new QLabel(Text, Owner);
    label->setGeometry(Left, Top, Width, Height);
    label->setAlignment(Qt::AlignLeft | (Centred ? Qt::AlignVCenter : Qt::AlignTop));
    label->setMargin(0);
    label->setIndent(0);
    label->setWordWrap(false);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QFrame* MakeSeparator(QWidget* Owner, int Top) {
    auto* panel = new QFrame(Owner);
    panel->setFrameShape(QFrame::HLine);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setLineWidth(1);
    panel->setGeometry(-3, Top, 525, 2);
    panel->setFocusPolicy(Qt::NoFocus);
    return panel;
}

void SetFontColor(QLabel* Label, TColor Color) {
    QPalette pal = Label->palette();
    pal.setColor(QPalette::WindowText, ToQColor(Color));
    Label->setPalette(pal);
}

void UpperPanel::CreatePlotArea(QWidget* Owner) {
    const auto label = [Owner](int Left, int Top, int Width, int Height, const QString& Text,
                               bool Centred) {
        return MakeConsoleLabel(Owner, Left, Top, Width, Height, Text, Centred);
    };
    Label2 = label(24, 304, 113, 17, QStringLiteral("Маркер  1"), true);
    Label3 = label(24, 328, 113, 17, QStringLiteral("Маркер  2"), true);
    SetFontColor(Label2, clNavy);
    SetFontColor(Label3, clTeal);
    ReadOuts[0] = label(216, 280, 279, 17, QString(), true);
    ReadOuts[1] = label(216, 296, 279, 17, QString(), true);
    ReadOuts[3] = label(216, 328, 279, 17, QString(), true);
    ReadOuts[2] = label(216, 312, 279, 17, QString(), true);
    Label_01 = label(498, 248, 9, 13, QStringLiteral("0"), false);
    Label_00 = label(8, 248, 9, 13, QStringLiteral("0"), false);
    Label_41 = label(498, 8, 9, 13, QStringLiteral("4"), true);
    Label_40 = label(8, 8, 9, 13, QStringLiteral("4"), true);
    Label_mark2 = label(0, 72, 17, 13, QString(), false);
    Label_mark1 = label(0, 40, 17, 13, QString(), false);
    Pos_Label = label(28, 256, 17, 13, QString(), false);
    sig_Label1 = label(498, 120, 17, 13, QString(), false);

    Image = new TImage(Owner);
    Image->setObjectName("Image");
    Image->setGeometry(18, 0, PlotWidth, PlotHeight);

    sig_Label2 = label(498, 144, 17, 13, QString(), false);
}

void UpperPanel::CreateMarkerFields(QWidget* Owner) {
    const auto markSpin = [Owner](int Top) {
        auto* edit = new TRxSpinEdit(Owner);
        edit->setGeometry(144, Top, 61, 21);
        LoadRxSpinEditMark(edit);
        return edit;
    };
    RxSpinEdit_mark1 = markSpin(304);
    RxSpinEdit_mark2 = markSpin(328);
}

void UpperPanel::ClearLabels() {
    for (QLabel* label : ReadOuts) label->clear();
    for (QLabel* label : {Pos_Label, Label_mark1, Label_mark2, sig_Label1, sig_Label2})
        label->clear();
}

void UpperPanel::Draw(const uint8_t* Record) {
    // The plot's labels are the owner's own: placed where the drawing says.
    struct PanelLabels : PlotLabelSink {
        UpperPanel& p;
        explicit PanelLabels(UpperPanel& Panel) : p(Panel) {}
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
            // Out of sight, its text kept.
            if (Row)
                ShowAtRow(label, *Row, Text);
            else
                label->move(label->x(), -255);
        }
        void ReadOut(int Index, const QString& Text) override { p.ReadOuts[Index]->setText(Text); }
    } labels(*this);
    const long double levels[2] = {RxSpinEdit_mark1->Value(), RxSpinEdit_mark2->Value()};
    DrawRecord(*Image->Canvas(), Record, levels, labels);
}
