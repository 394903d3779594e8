#include "app/Canvas.h"

#include <gtest/gtest.h>

namespace {

int CountColour(const TCanvas& C, TColor Colour) {
    int n = 0;
    for (int y = 0; y < C.Bitmap().height(); ++y)
        for (int x = 0; x < C.Bitmap().width(); ++x) n += C.Pixel(x, y) == Colour;
    return n;
}

TEST(Canvas, ThinLineLeavesOutItsEndPoint) {
    struct Case {
        int x0, y0, x1, y1;
    };
    for (const Case& c :
         {Case{2, 5, 12, 5}, Case{5, 2, 5, 12}, Case{12, 12, 2, 2}, Case{3, 9, 9, 3}}) {
        TCanvas canvas(20, 20);
        canvas.pen().Color = clBlack;
        canvas.MoveTo(c.x0, c.y0);
        canvas.LineTo(c.x1, c.y1);
        EXPECT_EQ(canvas.Pixel(c.x0, c.y0), clBlack) << c.x0 << "," << c.y0;
        EXPECT_EQ(canvas.Pixel(c.x1, c.y1), clWhite) << c.x1 << "," << c.y1;
        EXPECT_EQ(CountColour(canvas, clBlack),
                  std::max(std::abs(c.x1 - c.x0), std::abs(c.y1 - c.y0)));
        EXPECT_EQ(canvas.PenPos(), QPoint(c.x1, c.y1));
    }
}

TEST(Canvas, LineToTheCurrentPointDrawsNothing) {
    TCanvas canvas(10, 10);
    canvas.MoveTo(4, 4);
    canvas.LineTo(4, 4);
    EXPECT_EQ(CountColour(canvas, clBlack), 0);
}

TEST(Canvas, FillRectExcludesRightAndBottomEdges) {
    TCanvas canvas(10, 10);
    canvas.SetBrushColor(clRed);
    canvas.FillRect(2, 3, 6, 8);
    EXPECT_EQ(canvas.Pixel(2, 3), clRed);
    EXPECT_EQ(canvas.Pixel(5, 7), clRed);
    EXPECT_EQ(canvas.Pixel(6, 7), clWhite);
    EXPECT_EQ(canvas.Pixel(5, 8), clWhite);
    EXPECT_EQ(CountColour(canvas, clRed), 4 * 5);
}

TEST(Canvas, FillRectUsesTheBrushNotThePen) {
    TCanvas canvas(4, 4);
    canvas.SetBrushColor(clTeal);
    canvas.pen().Color = clRed;
    canvas.FillRect(0, 0, 4, 4);
    EXPECT_EQ(CountColour(canvas, clTeal), 16);
}

TEST(Canvas, DrawingIsClippedToTheBitmap) {
    TCanvas canvas(10, 10);
    canvas.pen().Color = clNavy;
    canvas.MoveTo(-50, 5);
    canvas.LineTo(100, 5); // crosses the whole bitmap
    canvas.MoveTo(3, -1000);
    canvas.LineTo(3, -10); // entirely above
    canvas.SetBrushColor(clRed);
    canvas.FillRect(-5, -5, 2, 2);
    EXPECT_EQ(CountColour(canvas, clNavy), 10);
    EXPECT_EQ(CountColour(canvas, clRed), 4);
}

TEST(Canvas, PenSettingsPersistBetweenPasses) {
    TCanvas canvas(30, 4);
    canvas.pen().Color = clTeal;
    canvas.pen().Style = TPenStyle::psDash;
    canvas.MoveTo(0, 1);
    canvas.LineTo(30, 1);
    // A later pass that sets nothing draws with the same pen.
    canvas.MoveTo(0, 2);
    canvas.LineTo(30, 2);
    for (int y : {1, 2}) {
        int on = 0;
        for (int x = 0; x < 30; ++x) on += canvas.Pixel(x, y) == clTeal;
        EXPECT_EQ(on, 18 + 6) << "row " << y; // a dash, a gap, then the next dash up to x = 29
        EXPECT_EQ(canvas.Pixel(18, y), clWhite);
        EXPECT_EQ(canvas.Pixel(24, y), clTeal);
    }
}

TEST(Canvas, WidePenCoversFourColumns) {
    TCanvas canvas(20, 10);
    canvas.pen().Width = 4;
    canvas.pen().Color = clGray;
    canvas.MoveTo(10, 0);
    canvas.LineTo(10, 10);
    int columns = 0;
    for (int x = 0; x < 20; ++x) columns += canvas.Pixel(x, 5) == clGray;
    EXPECT_EQ(columns, 4);
    EXPECT_EQ(canvas.Pixel(10, 5), clGray);
}

TEST(Canvas, ColourEncodingIsBlueInTheHighByte) {
    EXPECT_EQ(ToQColor(0x008CFF), QColor(255, 140, 0));
    EXPECT_EQ(FromQRgb(qRgb(0, 128, 128)), clTeal);
}

TEST(Canvas, ImageControlMakesItsSurfaceAtFirstUseAndRepaints) {
    TImage image;
    image.resize(476, 255);
    EXPECT_FALSE(image.HasCanvas());
    TCanvas* canvas = image.Canvas();
    ASSERT_TRUE(image.HasCanvas());
    EXPECT_EQ(canvas->Bitmap().size(), QSize(476, 255));
    EXPECT_EQ(image.Canvas(), canvas);
    canvas->pen().Color = clRed;
    canvas->MoveTo(0, 0);
    canvas->LineTo(10, 0);
    const QImage shown = image.grab().toImage();
    EXPECT_EQ(FromQRgb(shown.pixel(5, 0)), clRed);
}

} // namespace
