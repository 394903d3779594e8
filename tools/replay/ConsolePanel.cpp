#include "tools/replay/ConsolePanel.h"

#include "app/Plot.h"
#include "widgets/RXSpin.h"

#include <QFrame>
#include <QLabel>
#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace replay {

// The controls and their places are the console window's own (app/UpperPanel); the poll period
// row gives way to a caption, and a message covers the plot for a record that cannot be drawn.
ConsolePanel::ConsolePanel(QWidget* Parent) : QWidget(Parent) {
    setFixedSize(PanelWidth, PanelHeight);
    SetConsoleLook(this);

    caption_ = MakeConsoleLabel(this, 24, 280, 185, 17, QString(), true);
    upper_.CreatePlotArea(this);
    upper_.Image->Canvas();

    message_ = MakeConsoleLabel(this, 18, 100, PlotWidth, 40, QString(), true);
    message_->setAlignment(Qt::AlignCenter);
    message_->setWordWrap(true);
    SetFontColor(message_, clRed);
    message_->hide();

    upper_.CreateMarkerFields(this);
    for (TRxSpinEdit* edit : {upper_.RxSpinEdit_mark1, upper_.RxSpinEdit_mark2})
        edit->SetOnChange([this](QObject*) {
            Redraw();
            if (OnLevelsChanged) OnLevelsChanged();
        });

    MakeSeparator(this, 272);
    MakeSeparator(this, 352);
    Clear();
}

void ConsolePanel::Levels(long double (&Out)[2]) const {
    Out[0] = upper_.RxSpinEdit_mark1->Value();
    Out[1] = upper_.RxSpinEdit_mark2->Value();
}

void ConsolePanel::SetLevels(long double Mark1, long double Mark2) {
    upper_.RxSpinEdit_mark1->SetValue(Mark1);
    upper_.RxSpinEdit_mark2->SetValue(Mark2);
}

void ConsolePanel::SetCaption(const QString& Text) {
    caption_->setText(Text);
}

void ConsolePanel::Clear(const QString& Message) {
    TCanvas* canvas = upper_.Image->Canvas();
    canvas->pen().Color = clWhite;
    canvas->SetBrushColor(clWhite);
    canvas->FillRect(0, 0, PlotWidth, PlotHeight);
    upper_.ClearLabels();
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
    message_->hide();
    try {
        upper_.Draw(shown_.Bytes.data());
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
    return *upper_.Image->Canvas();
}

QString ConsolePanel::Message() const {
    return message_->isHidden() ? QString() : message_->text();
}

} // namespace replay
