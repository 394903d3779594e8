// A drawing surface with the semantics of a classic GDI canvas: the pen and the current point
// persist between calls, rectangles exclude their right and bottom edges, and 1-pixel lines
// leave out their end point. Everything is clipped to the bitmap.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <functional>

// Colours in the 0x00BBGGRR encoding: blue in the high byte, red in the low byte.
using TColor = uint32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clNavy = 0x800000;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clWhite = 0xFFFFFF;

QColor ToQColor(TColor Color);
TColor FromQRgb(QRgb Rgb);

enum class TPenStyle { psSolid, psDash };

class TCanvas {
public:
    struct Pen {
        TColor Color = clBlack;
        int Width = 1;
        TPenStyle Style = TPenStyle::psSolid;
    };

    TCanvas(int Width, int Height);

    Pen& pen() { return pen_; }
    const Pen& pen() const { return pen_; }
    TColor BrushColor() const { return brushColor_; }
    void SetBrushColor(TColor Color) { brushColor_ = Color; }

    void FillRect(int Left, int Top, int Right, int Bottom);
    void MoveTo(int X, int Y);
    void LineTo(int X, int Y);
    QPoint PenPos() const { return QPoint(penX_, penY_); }

    const QImage& Bitmap() const { return image_; }
    TColor Pixel(int X, int Y) const;

    // Called after every drawing operation; the image control repaints on it.
    std::function<void()> OnChange;

private:
    void ThinLine(int X0, int Y0, int X1, int Y1);
    void WideLine(int X0, int Y0, int X1, int Y1);
    void Changed();

    QImage image_;
    Pen pen_;
    TColor brushColor_ = clWhite;
    int penX_ = 0;
    int penY_ = 0;
};

// The image control: shows its canvas 1:1; the canvas is made at the first use.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* Parent = nullptr);
    TCanvas* Canvas();
    bool HasCanvas() const { return canvas_ != nullptr; }

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    std::unique_ptr<TCanvas> canvas_;
    bool updatePending_ = false;
};
