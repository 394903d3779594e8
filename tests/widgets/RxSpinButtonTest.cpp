#include "tests/widgets/WidgetTestSupport.h"

#include <QElapsedTimer>
#include <QTimer>
#include <memory>
#include <ostream>
#include <stdexcept>

namespace {

// ---- which half -----------------------------------------------------------------------------

struct HalfCase {
    double X, Y;
    TSpinButtonState Expected;
};

// Names the case in test listings.
void PrintTo(const HalfCase& P, std::ostream* Os) {
    *Os << "at " << P.X << ',' << P.Y;
}

class SpinButtonHalf : public ::testing::TestWithParam<HalfCase> {};

TEST_P(SpinButtonHalf, DiagonalSplitsUpFromDown) {
    const HalfCase& C = GetParam();
    EXPECT_EQ(TRxSpinButton::HalfAt(C.X, C.Y, 20, 20), C.Expected) << C.X << "," << C.Y;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SpinButtonHalf,
    ::testing::Values(HalfCase{10, 10, sbTopDown} /* on the diagonal */, HalfCase{0, 20, sbTopDown},
                      HalfCase{20, 0, sbTopDown}, HalfCase{1, 19, sbTopDown},
                      HalfCase{2, 19, sbBottomDown}, HalfCase{10, 10.5, sbBottomDown},
                      HalfCase{10.5, 10, sbBottomDown}, HalfCase{3, 3, sbTopDown},
                      HalfCase{15, 15, sbBottomDown}, HalfCase{0, 0, sbTopDown},
                      HalfCase{20, 20, sbBottomDown}));

// ---- presses and repeat ---------------------------------------------------------------------

struct TCountingButton {
    TRxSpinButton Button;
    int Tops = 0, Bottoms = 0;
    TCountingButton() {
        Button.SetOnTopClick([this](QObject* Sender) {
            EXPECT_EQ(Sender, &Button);
            ++Tops;
        });
        Button.SetOnBottomClick([this](QObject*) { ++Bottoms; });
        Button.show();
    }
};

TEST(SpinButton, PressExactlyOnDiagonalStepsUp) {
    TCountingButton B;
    QTest::mousePress(&B.Button, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(B.Tops, 1);
    EXPECT_EQ(B.Bottoms, 0);
    EXPECT_EQ(B.Button.PressedPart(), sbTopDown);
    EXPECT_TRUE(B.Button.Tracking());
    QTest::mouseRelease(&B.Button, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(B.Button.PressedPart(), sbNotDown);
    EXPECT_EQ(B.Button.LastPressedPart(), sbNotDown);
    EXPECT_FALSE(B.Button.Tracking());
}

TEST(SpinButton, OnlyLeftButtonCounts) {
    TCountingButton B;
    QTest::mouseClick(&B.Button, Qt::RightButton, {}, QPoint(3, 3));
    EXPECT_EQ(B.Tops, 0);
    QTest::mouseClick(&B.Button, Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseDClick(&B.Button, Qt::LeftButton, {}, QPoint(17, 17));
    EXPECT_EQ(B.Tops, 1);
    EXPECT_GE(B.Bottoms, 1);
}

// Real-time auto-repeat: once at once, again after 400 ms, then every 100 ms; sliding to the
// other half pauses it without stepping up, sliding back resumes it.
TEST(SpinButton, HeldHalfRepeatsPausesAndResumes) {
    constexpr int kSlack = 300; // a loaded machine may deliver ticks late, never early
    TCountingButton B;
    QElapsedTimer Clock;
    Clock.start();
    QTest::mousePress(&B.Button, Qt::LeftButton, {}, QPoint(15, 15));
    EXPECT_EQ(B.Bottoms, 1);
    ASSERT_NE(B.Button.RepeatTimer(), nullptr);

    ASSERT_TRUE(QTest::qWaitFor([&] { return B.Bottoms >= 2; }, 3000));
    const qint64 T2 = Clock.elapsed();
    EXPECT_GE(T2, 395);
    EXPECT_LE(T2, 400 + kSlack);
    EXPECT_EQ(B.Bottoms, 2);

    ASSERT_TRUE(QTest::qWaitFor([&] { return B.Bottoms >= 3; }, 3000));
    const qint64 T3 = Clock.elapsed();
    EXPECT_GE(T3 - T2, 85);
    EXPECT_LE(T3 - T2, 100 + kSlack);

    ASSERT_TRUE(QTest::qWaitFor([&] { return B.Bottoms >= 4; }, 3000));
    const qint64 T4 = Clock.elapsed();
    EXPECT_GE(T4 - T3, 85);
    EXPECT_LE(T4 - T3, 100 + kSlack);

    QTest::mouseMove(&B.Button, QPoint(3, 3));
    EXPECT_EQ(B.Button.PressedPart(), sbNotDown);
    const int Paused = B.Bottoms;
    QTest::qWait(400);
    EXPECT_EQ(B.Bottoms, Paused);
    EXPECT_EQ(B.Tops, 0);

    QTest::mouseMove(&B.Button, QPoint(30, 30)); // outside
    EXPECT_EQ(B.Button.PressedPart(), sbNotDown);
    QTest::mouseMove(&B.Button, QPoint(16, 14));
    EXPECT_EQ(B.Button.PressedPart(), sbBottomDown);
    ASSERT_TRUE(QTest::qWaitFor([&] { return B.Bottoms > Paused; }, 100 + kSlack + 100));
    EXPECT_EQ(B.Tops, 0);

    QTest::mouseRelease(&B.Button, Qt::LeftButton, {}, QPoint(16, 14));
    const int Released = B.Bottoms;
    QTest::qWait(350);
    EXPECT_EQ(B.Bottoms, Released);
    EXPECT_EQ(B.Button.PressedPart(), sbNotDown);
}

TEST(SpinButton, ReleaseOutsideEndsThePress) {
    TCountingButton B;
    QTest::mousePress(&B.Button, Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseRelease(&B.Button, Qt::LeftButton, {}, QPoint(40, 40));
    EXPECT_EQ(B.Button.PressedPart(), sbNotDown);
    EXPECT_FALSE(B.Button.Tracking());
    QTest::mouseClick(&B.Button, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(B.Tops, 2);
}

TEST(SpinButton, HandlerThatTakesTheReleaseEndsThePress) {
    TRxSpinButton Button;
    Button.show();
    // As if the handler opened a window that received the release.
    Button.SetOnTopClick(
        [&](QObject*) { QTest::mouseRelease(&Button, Qt::LeftButton, {}, QPoint(3, 3)); });
    QTest::mousePress(&Button, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(Button.PressedPart(), sbNotDown);
}

TEST(SpinButton, DialogOpenedByTheClickEndsThePressAndTheRepeat) {
    TRxSpinButton Button;
    Button.show();
    int Tops = 0;
    Button.SetOnTopClick([&](QObject*) {
        if (++Tops == 1) RunDialogThatTakesTheRelease();
    });
    QTest::mousePress(&Button, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(Button.PressedPart(), sbNotDown);
    QTest::qWait(600);
    EXPECT_EQ(Tops, 1);
}

class TTickingButton : public TRxSpinButton {
public:
    using TRxSpinButton::TimerExpired;
};

TEST(SpinButton, ErrorDuringRepeatStopsTimerAndPropagates) {
    TTickingButton Button;
    Button.show();
    int Calls = 0;
    Button.SetOnTopClick([&](QObject*) {
        if (++Calls == 2) throw std::runtime_error("step failed");
    });
    QTest::mousePress(&Button, Qt::LeftButton, {}, QPoint(3, 3));
    ASSERT_TRUE(Button.RepeatTimer()->isActive());
    EXPECT_THROW(Button.TimerExpired(), std::runtime_error);
    EXPECT_FALSE(Button.RepeatTimer()->isActive());
    QTest::mouseRelease(&Button, Qt::LeftButton, {}, QPoint(3, 3));
}

TEST(SpinButton, DisabledButtonIgnoresPresses) {
    TCountingButton B;
    B.Button.setEnabled(false);
    QTest::mousePress(&B.Button, Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseRelease(&B.Button, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(B.Tops, 0);
    EXPECT_EQ(B.Button.PressedPart(), sbNotDown);
}

// ---- drawing --------------------------------------------------------------------------------

enum TRole { Face, Frame, Shadow, Light, Black };

const QRgb kColors[] = {0xFFC0C0C0, 0xFF101060, 0xFF808080, 0xFFF0F0F0, 0xFF000000};

void UseTestPalette(QWidget& W) {
    QPalette P = W.palette();
    P.setColor(QPalette::Button, QColor::fromRgb(kColors[Face]));
    P.setColor(QPalette::Shadow, QColor::fromRgb(kColors[Frame]));
    P.setColor(QPalette::Dark, QColor::fromRgb(kColors[Shadow]));
    P.setColor(QPalette::Light, QColor::fromRgb(kColors[Light]));
    W.setPalette(P);
}

struct Px {
    int X, Y;
    TRole Role;
};

void ExpectPixels(const QImage& Image, std::initializer_list<Px> Pixels, const char* What) {
    for (const Px& P : Pixels)
        EXPECT_EQ(Image.pixel(P.X, P.Y), kColors[P.Role])
            << What << " at (" << P.X << "," << P.Y << ") expected role " << P.Role;
}

// Pixels worked out by hand from the drawing steps for a 20 x 20 button: frame and diagonal
// (x + y = 19), top shadow line (x + y = 18), bottom highlight line (x + y = 20), pressed
// bottom shadow line (x + y = 21), up glyph at (3, 3) or (4, 4), down glyph at (11, 11).
TEST(SpinButtonDrawing, ImagesAt20) {
    TRxSpinButton Button;
    UseTestPalette(Button);
    Button.grab();
    ASSERT_EQ(Button.StateImage(sbNotDown).size(), QSize(20, 20));

    // clang-format off
    ExpectPixels(Button.StateImage(sbNotDown), {
        {0, 0, Frame}, {19, 19, Frame}, {0, 10, Frame}, {10, 19, Frame}, {19, 5, Frame},
        {10, 9, Frame}, {5, 14, Frame}, {1, 2, Light}, {1, 16, Light}, {1, 1, Light},
        {16, 1, Light}, {1, 17, Shadow}, {17, 1, Shadow}, {8, 10, Shadow}, {10, 18, Shadow},
        {18, 10, Shadow}, {18, 18, Shadow}, {17, 18, Shadow}, {2, 18, Light}, {18, 2, Light},
        {10, 10, Light}, {5, 3, Black}, {6, 3, Black}, {3, 3, Face}, {3, 5, Black},
        {8, 5, Black}, {4, 8, Face}, {5, 8, Black}, {13, 11, Black}, {11, 11, Face},
        {11, 14, Black}, {16, 14, Black}, {12, 16, Face}, {13, 16, Black}, {10, 4, Face},
        {15, 7, Face}}, "not pressed");
    ExpectPixels(Button.StateImage(sbTopDown), {
        {1, 2, Shadow}, {1, 16, Shadow}, {1, 1, Shadow}, {16, 1, Shadow}, {1, 17, Face},
        {17, 1, Face}, {8, 10, Face}, {5, 3, Face}, {6, 4, Black}, {7, 4, Black}, {5, 4, Face},
        {4, 6, Black}, {9, 6, Black}, {10, 18, Shadow}, {2, 18, Light}, {10, 10, Light},
        {13, 11, Black}, {10, 9, Frame}}, "top pressed");
    ExpectPixels(Button.StateImage(sbBottomDown), {
        {10, 18, Light}, {18, 10, Light}, {18, 18, Light}, {17, 18, Light}, {3, 18, Shadow},
        {2, 18, Shadow}, {10, 10, Shadow}, {18, 2, Shadow}, {18, 3, Shadow}, {10, 11, Shadow},
        {12, 9, Shadow}, {1, 2, Light}, {1, 17, Shadow}, {5, 3, Black}, {13, 11, Black},
        {11, 11, Face}, {10, 9, Frame}}, "bottom pressed");
    // clang-format on
}

// The button of a 61 x 21 field is 18 x 18: up glyph at (3, 3) (round(1.5) = 2), down glyph
// at (9, 9) (round(10.5) = 10, halves to even), whose transparent corner covers the highlight
// line at (9, 9).
TEST(SpinButtonDrawing, ImagesInTheConsoleField) {
    TRxSpinEdit Edit;
    Edit.setGeometry(0, 0, 61, 21);
    Edit.show();
    TRxSpinButton& Button = *Edit.Button();
    UseTestPalette(Button);
    Button.grab();
    ASSERT_EQ(Button.StateImage(sbNotDown).size(), QSize(18, 18));

    // clang-format off
    ExpectPixels(Button.StateImage(sbNotDown), {
        {0, 0, Frame}, {17, 17, Frame}, {17, 0, Frame}, {0, 17, Frame}, {8, 9, Frame},
        {1, 14, Light}, {14, 1, Light}, {1, 2, Light}, {1, 15, Shadow}, {15, 1, Shadow},
        {7, 9, Shadow}, {8, 8, Face}, {2, 16, Light}, {16, 2, Light}, {9, 9, Face},
        {8, 10, Light}, {10, 16, Shadow}, {16, 10, Shadow}, {16, 16, Shadow}, {5, 3, Black},
        {6, 3, Black}, {3, 5, Black}, {8, 5, Black}, {11, 9, Black}, {12, 9, Black},
        {9, 12, Black}, {14, 12, Black}, {10, 9, Face}}, "not pressed");
    ExpectPixels(Button.StateImage(sbTopDown), {
        {1, 14, Shadow}, {14, 1, Shadow}, {1, 15, Face}, {15, 1, Face}, {6, 4, Black},
        {7, 4, Black}, {5, 3, Face}, {4, 6, Black}, {9, 6, Black}, {9, 9, Face},
        {8, 10, Light}, {10, 16, Shadow}}, "top pressed");
    ExpectPixels(Button.StateImage(sbBottomDown), {
        {10, 16, Light}, {16, 10, Light}, {16, 16, Light}, {2, 16, Shadow}, {16, 2, Shadow},
        {8, 10, Shadow}, {9, 9, Face}, {10, 9, Shadow}, {9, 10, Shadow}, {3, 16, Shadow},
        {16, 3, Shadow}, {11, 9, Black}, {1, 14, Light}, {1, 15, Shadow}}, "bottom pressed");
    // clang-format on
}

TEST(SpinButtonDrawing, PaintCopiesTheImageOfThePressedHalf) {
    TRxSpinButton Button;
    UseTestPalette(Button);
    Button.show();
    EXPECT_EQ(Button.grab().toImage().convertToFormat(QImage::Format_RGB32),
              Button.StateImage(sbNotDown));
    QTest::mousePress(&Button, Qt::LeftButton, {}, QPoint(15, 15));
    EXPECT_EQ(Button.grab().toImage().convertToFormat(QImage::Format_RGB32),
              Button.StateImage(sbBottomDown));
    QTest::mouseMove(&Button, QPoint(2, 2));
    EXPECT_EQ(Button.grab().toImage().convertToFormat(QImage::Format_RGB32),
              Button.StateImage(sbNotDown));
    QTest::mouseRelease(&Button, Qt::LeftButton, {}, QPoint(2, 2));
}

TEST(SpinButtonDrawing, RedrawnOnlyOnSizeGlyphOrEnabledChange) {
    TRxSpinButton Button;
    Button.show();
    Button.grab();
    const int First = Button.RedrawCount();
    EXPECT_EQ(First, 1);
    Button.grab();
    QTest::mousePress(&Button, Qt::LeftButton, {}, QPoint(3, 3));
    Button.grab();
    QTest::mouseRelease(&Button, Qt::LeftButton, {}, QPoint(3, 3));
    Button.grab();
    EXPECT_EQ(Button.RedrawCount(), First);

    Button.resize(24, 24);
    Button.grab();
    EXPECT_EQ(Button.RedrawCount(), First + 1);
    EXPECT_EQ(Button.StateImage(sbTopDown).size(), QSize(24, 24));

    Button.SetUpGlyph(QImage());
    Button.grab();
    EXPECT_EQ(Button.RedrawCount(), First + 2);

    Button.setEnabled(false);
    Button.grab();
    EXPECT_EQ(Button.RedrawCount(), First + 3);
    Button.grab();
    EXPECT_EQ(Button.RedrawCount(), First + 3);
}

TEST(SpinButtonDrawing, AssignedGlyphIsCopiedAndNoneRestoresBuiltIn) {
    TRxSpinButton Button;
    UseTestPalette(Button);
    QImage Glyph(4, 4, QImage::Format_RGB32);
    Glyph.fill(0xFF00FF00);           // transparent colour: the bottom-left pixel's
    Glyph.setPixel(1, 1, 0xFFFF0000); // one red dot
    Button.SetUpGlyph(Glyph);
    Glyph.setPixel(2, 2, 0xFFFF0000); // later changes of the source do not count
    Button.grab();
    // round(20/4 - 4/2) + 1 = 4
    const QImage& Image = Button.StateImage(sbNotDown);
    EXPECT_EQ(Image.pixel(5, 5), 0xFFFF0000);
    EXPECT_EQ(Image.pixel(4, 4), kColors[Face]);
    EXPECT_EQ(Image.pixel(6, 6), kColors[Face]);

    Button.SetUpGlyph(QImage());
    EXPECT_EQ(Button.UpGlyph(), TRxSpinButton::BuiltInUpGlyph());
    Button.grab();
    EXPECT_EQ(Button.StateImage(sbNotDown).pixel(5, 3), kColors[Black]);
}

} // namespace
