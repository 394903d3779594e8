#include "widgets/RXSpin.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QTimer>
#include <algorithm>

namespace {
constexpr int kInitRepeatPause = 400;
constexpr int kRepeatPause = 100;
} // namespace

TRxUpDown::TRxUpDown(QWidget* Parent) : QWidget(Parent) {
    setFocusPolicy(Qt::NoFocus);
    FRepeatTimer = new QTimer(this);
    FRepeatTimer->setTimerType(Qt::PreciseTimer);
    connect(FRepeatTimer, &QTimer::timeout, this, [this] { RepeatTick(); });
    resize(DefaultButtonWidth(), 20);
}

TRxUpDown::~TRxUpDown() {
    FOnClick = nullptr;
}

void TRxUpDown::SetPosition(int Position) {
    FPosition = std::clamp(Position, MinPosition, MaxPosition);
}

void TRxUpDown::Scroll(int Code, int Pos) {
    if (Code != scThumbPosition || FChanging) return;
    FChanging = true;
    struct TReset {
        bool& Flag;
        ~TReset() { Flag = false; }
    } Reset{FChanging};
    if (Pos > 0) {
        if (FOnClick) FOnClick(this, btNext);
    } else if (Pos < 0) {
        if (FOnClick) FOnClick(this, btPrev);
    }
    SetPosition(0);
}

TRxUpDown::TArrow TRxUpDown::ArrowAt(QPointF Pos) const {
    if (Pos.x() < 0 || Pos.y() < 0 || Pos.x() >= width() || Pos.y() >= height()) return arNone;
    return Pos.y() < height() / 2 ? arUp : arDown;
}

void TRxUpDown::ArrowStep() {
    if (FActive == arNone) return;
    SetPosition(FPosition + (FActive == arUp ? 1 : -1));
    Scroll(scThumbPosition, FPosition);
}

void TRxUpDown::RepeatTick() {
    // A release that went elsewhere (a dialog opened by the click, a disabled moment) ends
    // the press as well.
    if (!(QGuiApplication::mouseButtons() & Qt::LeftButton)) {
        EndPress();
        return;
    }
    FRepeatTimer->setInterval(kRepeatPause);
    ArrowStep();
}

void TRxUpDown::mousePressEvent(QMouseEvent* Event) {
    Event->accept();
    if (Event->button() != Qt::LeftButton || !isEnabled() || FHeld != arNone) return;
    FHeld = FActive = ArrowAt(Event->position());
    if (FHeld == arNone) return;
    update();
    FRepeatTimer->start(kInitRepeatPause);
    ArrowStep();
}

void TRxUpDown::mouseMoveEvent(QMouseEvent* Event) {
    Event->accept();
    if (FHeld == arNone) return;
    const TArrow Now = ArrowAt(Event->position()) == FHeld ? FHeld : arNone;
    if (Now != FActive) {
        FActive = Now;
        update();
    }
}

void TRxUpDown::EndPress() {
    if (FHeld == arNone) return;
    FRepeatTimer->stop();
    FHeld = FActive = arNone;
    update();
    Scroll(scEndScroll, FPosition);
}

void TRxUpDown::mouseReleaseEvent(QMouseEvent* Event) {
    Event->accept();
    if (Event->button() == Qt::LeftButton) EndPress();
}

void TRxUpDown::hideEvent(QHideEvent* Event) {
    EndPress();
    QWidget::hideEvent(Event);
}

void TRxUpDown::changeEvent(QEvent* Event) {
    // A disabled widget never sees the release.
    if (Event->type() == QEvent::EnabledChange && !isEnabled()) EndPress();
    QWidget::changeEvent(Event);
}

void TRxUpDown::resizeEvent(QResizeEvent* Event) {
    QWidget::resizeEvent(Event);
    if (width() != DefaultButtonWidth()) resize(DefaultButtonWidth(), height());
}

void TRxUpDown::paintEvent(QPaintEvent*) {
    QPainter P(this);
    const int Half = height() / 2;
    const QRect Parts[2] = {QRect(0, 0, width(), Half), QRect(0, Half, width(), height() - Half)};
    for (int I = 0; I < 2; ++I) {
        const TArrow Arrow = I == 0 ? arUp : arDown;
        QStyleOptionButton Opt;
        Opt.initFrom(this);
        Opt.rect = Parts[I];
        Opt.state |= FActive == Arrow ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &Opt, &P, this);
        Opt.rect = Parts[I].adjusted(2, 1, -2, -1);
        style()->drawPrimitive(Arrow == arUp ? QStyle::PE_IndicatorArrowUp
                                             : QStyle::PE_IndicatorArrowDown,
                               &Opt, &P, this);
    }
}
