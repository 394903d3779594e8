#include "widgets/RXSpin.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <cmath>

namespace {

constexpr int kInitRepeatPause = 400;
constexpr int kRepeatPause = 100;

// A pen on a QImage that draws the way GDI's MoveTo/LineTo does: 1 pixel wide, the end point
// left out, so that consecutive segments never paint a corner twice.
class TPixelPen {
public:
    explicit TPixelPen(QImage& Image) : FImage(Image) {}
    void SetColor(QRgb Color) { FColor = Color; }
    void MoveTo(int X, int Y) { FX = X, FY = Y; }
    void LineTo(int X, int Y) {
        const int Dx = std::abs(X - FX), Dy = std::abs(Y - FY);
        const int Sx = X > FX ? 1 : -1, Sy = Y > FY ? 1 : -1;
        int Px = FX, Py = FY;
        if (Dx >= Dy) {
            int Err = Dx / 2;
            for (int I = 0; I < Dx; ++I) {
                Plot(Px, Py);
                Px += Sx;
                Err -= Dy;
                if (Err < 0) Py += Sy, Err += Dx;
            }
        } else {
            int Err = Dy / 2;
            for (int I = 0; I < Dy; ++I) {
                Plot(Px, Py);
                Py += Sy;
                Err -= Dx;
                if (Err < 0) Px += Sx, Err += Dy;
            }
        }
        FX = X, FY = Y;
    }
    // Outline of the rectangle (L, T)-(R, B), right and bottom edges exclusive.
    void Frame(int L, int T, int R, int B) {
        MoveTo(L, T);
        LineTo(R - 1, T);
        LineTo(R - 1, B - 1);
        LineTo(L, B - 1);
        LineTo(L, T);
    }

private:
    void Plot(int X, int Y) {
        if (X >= 0 && Y >= 0 && X < FImage.width() && Y < FImage.height())
            FImage.setPixel(X, Y, FColor);
    }
    QImage& FImage;
    QRgb FColor = 0;
    int FX = 0, FY = 0;
};

QImage GlyphFromRows(const char* const Rows[6]) {
    QImage Glyph(6, 6, QImage::Format_RGB32);
    for (int Y = 0; Y < 6; ++Y)
        for (int X = 0; X < 6; ++X)
            Glyph.setPixel(X, Y, Rows[Y][X] == '#' ? 0xFF000000 : 0xFFFFFFFF);
    return Glyph;
}

// Copies Glyph with its transparent colour (the colour of its bottom-left pixel, white for the
// built-in arrows) replaced by Face; fully transparent pixels count as that colour too.
void DrawGlyph(QImage& Image, const QImage& Source, int Left, int Top, QRgb Face) {
    if (Source.isNull()) return;
    const QImage Glyph = Source.convertToFormat(QImage::Format_ARGB32);
    const QRgb Transparent = Glyph.pixel(0, Glyph.height() - 1);
    for (int Y = 0; Y < Glyph.height(); ++Y)
        for (int X = 0; X < Glyph.width(); ++X) {
            const int Ix = Left + X, Iy = Top + Y;
            if (Ix < 0 || Iy < 0 || Ix >= Image.width() || Iy >= Image.height()) continue;
            const QRgb P = Glyph.pixel(X, Y);
            Image.setPixel(Ix, Iy, P == Transparent || qAlpha(P) == 0 ? Face : (P | 0xFF000000));
        }
}

int RoundHalfEven(double V) {
    return int(std::nearbyint(V));
}

} // namespace

TRxSpinButton::TRxSpinButton(QWidget* Parent) : QWidget(Parent) {
    FUpGlyph = BuiltInUpGlyph();
    FDownGlyph = BuiltInDownGlyph();
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(20, 20);
}

TRxSpinButton::~TRxSpinButton() = default;

QImage TRxSpinButton::BuiltInUpGlyph() {
    static const char* const Rows[6] = {"..##..", ".####.", "######", "..##..", "..##..", "..##.."};
    return GlyphFromRows(Rows);
}

QImage TRxSpinButton::BuiltInDownGlyph() {
    static const char* const Rows[6] = {"..##..", "..##..", "..##..", "######", ".####.", "..##.."};
    return GlyphFromRows(Rows);
}

void TRxSpinButton::SetUpGlyph(const QImage& Glyph) {
    FUpGlyph = Glyph.isNull() ? BuiltInUpGlyph() : Glyph.copy();
    FInvalidate = true;
    update();
}

void TRxSpinButton::SetDownGlyph(const QImage& Glyph) {
    FDownGlyph = Glyph.isNull() ? BuiltInDownGlyph() : Glyph.copy();
    FInvalidate = true;
    update();
}

TSpinButtonState TRxSpinButton::HalfAt(double X, double Y, int W, int H) {
    if (W <= 0) return sbTopDown;
    return Y > double(H) - (double(H) / double(W)) * X ? sbBottomDown : sbTopDown;
}

void TRxSpinButton::TopClick() {
    if (FOnTopClick) {
        FOnTopClick(this);
        AfterClick();
    }
}

void TRxSpinButton::BottomClick() {
    if (FOnBottomClick) {
        FOnBottomClick(this);
        AfterClick();
    }
}

// The release may have gone to another window (a modal dialog opened by the handler), so the
// button's own record is checked against the real button state.
bool TRxSpinButton::LeftStillHeld() const {
    return FLeftHeld && (QGuiApplication::mouseButtons() & Qt::LeftButton);
}

// A handler may have shown a window that took the release; the press is then over.
void TRxSpinButton::AfterClick() {
    if (!LeftStillHeld()) FDown = sbNotDown;
}

void TRxSpinButton::mousePressEvent(QMouseEvent* Event) {
    QWidget::mousePressEvent(Event);
    Event->accept();
    if (Event->button() != Qt::LeftButton || !isEnabled()) return;
    FLeftHeld = true;
    if (FFocusControl && (FFocusControl->focusPolicy() & Qt::TabFocus) &&
        FFocusControl->isEnabled() && FFocusControl->isVisible() && !FFocusControl->hasFocus())
        FFocusControl->setFocus(Qt::MouseFocusReason);
    if (FDown == sbNotDown) {
        FLastDown = FDown;
        const QPointF P = Event->position();
        if (HalfAt(P.x(), P.y(), width(), height()) == sbBottomDown) {
            FDown = sbBottomDown;
            BottomClick();
        } else {
            FDown = sbTopDown;
            TopClick();
        }
        if (FDown != FLastDown) {
            FLastDown = FDown;
            repaint();
        }
        if (FRepeatTimer == nullptr) {
            FRepeatTimer = new QTimer(this);
            FRepeatTimer->setTimerType(Qt::PreciseTimer);
            connect(FRepeatTimer, &QTimer::timeout, this, [this] { TimerExpired(); });
        }
        FRepeatTimer->setInterval(kInitRepeatPause);
        FRepeatTimer->start();
    }
    FDragging = true;
}

void TRxSpinButton::Track(QPointF Pos) {
    const TSpinButtonState Old = FDown;
    if (Pos.x() >= 0 && Pos.x() <= width() && Pos.y() >= 0 && Pos.y() <= height()) {
        // The press stays with the half it started in.
        const TSpinButtonState Over = HalfAt(Pos.x(), Pos.y(), width(), height());
        FDown = Over == FLastDown ? FLastDown : sbNotDown;
    } else {
        FDown = sbNotDown;
    }
    if (FDown != Old) repaint();
}

void TRxSpinButton::mouseMoveEvent(QMouseEvent* Event) {
    QWidget::mouseMoveEvent(Event);
    Event->accept();
    if (FDragging) Track(Event->position());
}

void TRxSpinButton::mouseReleaseEvent(QMouseEvent* Event) {
    QWidget::mouseReleaseEvent(Event);
    Event->accept();
    if (Event->button() != Qt::LeftButton || !FDragging) return;
    // A release without a preceding move to its place still ends the press there.
    Track(Event->position());
    FDragging = false;
    const QPointF P = Event->position();
    if (P.x() >= 0 && P.x() <= width() && P.y() >= 0 && P.y() <= height()) {
        FDown = sbNotDown;
        FLastDown = sbNotDown;
        repaint();
    }
}

bool TRxSpinButton::event(QEvent* Event) {
    // A disabled widget gets no mouse handlers, but the button must still learn that the
    // left button has come up, or the repeat would go on after re-enabling.
    if (Event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton)
        FLeftHeld = false;
    return QWidget::event(Event);
}

void TRxSpinButton::hideEvent(QHideEvent* Event) {
    FLeftHeld = false; // a hidden widget loses its mouse grab
    QWidget::hideEvent(Event);
}

void TRxSpinButton::TimerExpired() {
    FRepeatTimer->setInterval(kRepeatPause);
    if (FDown == sbNotDown || !LeftStillHeld()) return;
    try {
        if (FDown == sbBottomDown)
            BottomClick();
        else
            TopClick();
    } catch (...) {
        FRepeatTimer->stop();
        throw;
    }
}

void TRxSpinButton::changeEvent(QEvent* Event) {
    QWidget::changeEvent(Event);
    if (Event->type() == QEvent::EnabledChange) {
        FInvalidate = true;
        update();
    }
}

void TRxSpinButton::paintEvent(QPaintEvent*) {
    if (!isEnabled()) FDragging = false;
    if (FImages[sbNotDown].size() != size() || FInvalidate) DrawImages();
    QPainter P(this);
    P.drawImage(0, 0, FImages[FDown]);
}

void TRxSpinButton::DrawImages() {
    FInvalidate = false;
    for (TSpinButtonState S : {sbNotDown, sbTopDown, sbBottomDown}) {
        FImages[S] = QImage(size(), QImage::Format_RGB32);
        DrawImage(FImages[S], S);
    }
    ++FRedrawCount;
}

// Colours: button face = Button, window frame = Shadow, shadow = Dark, highlight = Light, all
// from the active group so that a disabled button looks the same.
void TRxSpinButton::DrawImage(QImage& Image, TSpinButtonState State) const {
    const QPalette& Pal = palette();
    const QRgb Face = Pal.color(QPalette::Active, QPalette::Button).rgb();
    const QRgb WindowFrame = Pal.color(QPalette::Active, QPalette::Shadow).rgb();
    const QRgb Shadow = Pal.color(QPalette::Active, QPalette::Dark).rgb();
    const QRgb Highlight = Pal.color(QPalette::Active, QPalette::Light).rgb();
    const int W = Image.width(), H = Image.height();
    if (W <= 0 || H <= 0) return;

    Image.fill(Face);
    TPixelPen Pen(Image);
    Pen.SetColor(WindowFrame);
    Pen.Frame(0, 0, W, H);
    Pen.MoveTo(-1, H);
    Pen.LineTo(W, -1);

    Pen.SetColor(State == sbTopDown ? Shadow : Highlight);
    Pen.MoveTo(1, H - 4);
    Pen.LineTo(1, 1);
    Pen.LineTo(W - 3, 1);
    if (State != sbTopDown) {
        Pen.SetColor(Shadow);
        Pen.MoveTo(1, H - 3);
        Pen.LineTo(W - 2, 0);
    }

    const bool BottomDown = State == sbBottomDown;
    Pen.SetColor(BottomDown ? Highlight : Shadow);
    Pen.MoveTo(2, H - 2);
    Pen.LineTo(W - 2, H - 2);
    Pen.LineTo(W - 2, 1);
    Pen.SetColor(BottomDown ? Shadow : Highlight);
    Pen.MoveTo(2, H - 2);
    Pen.LineTo(W - 1, 1);

    const int K = State == sbTopDown ? 2 : 1;
    DrawGlyph(Image, FUpGlyph, RoundHalfEven(W / 4.0 - FUpGlyph.width() / 2.0) + K,
              RoundHalfEven(H / 4.0 - FUpGlyph.height() / 2.0) + K, Face);
    DrawGlyph(Image, FDownGlyph, RoundHalfEven(3.0 * W / 4.0 - FDownGlyph.width() / 2.0) - 1,
              RoundHalfEven(3.0 * H / 4.0 - FDownGlyph.height() / 2.0) - 1, Face);

    if (BottomDown) {
        Pen.SetColor(Shadow);
        Pen.MoveTo(3, H - 2);
        Pen.LineTo(W - 1, 2);
    }
}
