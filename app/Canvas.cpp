#include "app/Canvas.h"

#include <QPaintEvent>
#include <QPainter>
#include <cstdlib>

QColor ToQColor(TColor Color) {
    return QColor(Color & 0xFF, (Color >> 8) & 0xFF, (Color >> 16) & 0xFF);
}

TColor FromQRgb(QRgb Rgb) {
    return TColor(qRed(Rgb)) | (TColor(qGreen(Rgb)) << 8) | (TColor(qBlue(Rgb)) << 16);
}

TCanvas::TCanvas(int Width, int Height) : image_(Width, Height, QImage::Format_RGB32) {
    image_.fill(Qt::white);
}

TColor TCanvas::Pixel(int X, int Y) const {
    return FromQRgb(image_.pixel(X, Y));
}

void TCanvas::Changed() {
    if (OnChange) OnChange();
}

void TCanvas::FillRect(int Left, int Top, int Right, int Bottom) {
    const QRect r =
        QRect(QPoint(Left, Top), QPoint(Right - 1, Bottom - 1)).intersected(image_.rect());
    if (r == image_.rect()) {
        // The whole plot at every tick: the image's own fill is the fastest way there.
        image_.fill(ToQColor(brushColor_).rgb());
    } else if (!r.isEmpty()) {
        const QRgb rgb = ToQColor(brushColor_).rgb();
        for (int y = r.top(); y <= r.bottom(); ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(image_.scanLine(y));
            std::fill(line + r.left(), line + r.right() + 1, rgb);
        }
    }
    Changed();
}

void TCanvas::MoveTo(int X, int Y) {
    penX_ = X;
    penY_ = Y;
}

void TCanvas::LineTo(int X, int Y) {
    if (pen_.Width <= 1)
        ThinLine(penX_, penY_, X, Y);
    else
        WideLine(penX_, penY_, X, Y);
    penX_ = X;
    penY_ = Y;
    Changed();
}

// Bresenham from the start point up to, but not including, the end point. The dash pattern
// (18 on, 6 off) starts afresh with every line.
void TCanvas::ThinLine(int X0, int Y0, int X1, int Y1) {
    const QRgb rgb = ToQColor(pen_.Color).rgb();
    const bool dashed = pen_.Style == TPenStyle::psDash;
    int64_t x = X0, y = Y0;
    const int64_t dx = std::llabs(int64_t(X1) - X0), dy = std::llabs(int64_t(Y1) - Y0);
    const int sx = X0 < X1 ? 1 : -1, sy = Y0 < Y1 ? 1 : -1;
    const int64_t steps = std::max(dx, dy);
    int64_t err = (dx > dy ? dx : -dy) / 2;
    // The bits, the stride and the size are taken once per line: asking the image for a scan
    // line per pixel costs a detach check and two out-of-line calls each time.
    uchar* const bits = image_.bits();
    const qsizetype stride = image_.bytesPerLine();
    const int64_t w = image_.width(), h = image_.height();
    int dash = 0;
    for (int64_t i = 0; i < steps; ++i) {
        if ((!dashed || dash < 18) && x >= 0 && y >= 0 && x < w && y < h)
            reinterpret_cast<QRgb*>(bits + y * stride)[x] = rgb;
        if (++dash == 24) dash = 0;
        const int64_t e = err;
        if (e > -dx) {
            err -= dy;
            x += sx;
        }
        if (e < dy) {
            err += dx;
            y += sy;
        }
    }
}

void TCanvas::WideLine(int X0, int Y0, int X1, int Y1) {
    QPainter p(&image_);
    p.setRenderHint(QPainter::Antialiasing, false);
    QPen qpen(ToQColor(pen_.Color), pen_.Width,
              pen_.Style == TPenStyle::psDash ? Qt::DashLine : Qt::SolidLine, Qt::RoundCap,
              Qt::RoundJoin);
    p.setPen(qpen);
    p.drawLine(X0, Y0, X1, Y1);
}

TImage::TImage(QWidget* Parent) : QWidget(Parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TCanvas* TImage::Canvas() {
    if (!canvas_) {
        canvas_ = std::make_unique<TCanvas>(width(), height());
        // One repaint request until the repaint comes: a tick draws some 250 times.
        canvas_->OnChange = [this] {
            if (updatePending_) return;
            updatePending_ = true;
            update();
        };
    }
    return canvas_.get();
}

void TImage::paintEvent(QPaintEvent* Event) {
    updatePending_ = false;
    QPainter p(this);
    if (canvas_)
        p.drawImage(Event->rect().topLeft(), canvas_->Bitmap(), Event->rect());
    else
        p.fillRect(Event->rect(), palette().color(QPalette::Window));
}
