#include "tests/app/ConsoleFixture.h"
#include "tests/common/CommaLocale.h"
#include <ostream>

namespace {

// A record that keeps the traces and the markers out of the way of what a test looks at.
class PlotTest : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        instrument = PlugInstrument();
        Start();
        Connect();
        instrument->next.fill(0); // samples at row 255, outside the picture
        instrument->next[ScaleByte] = 64;
        instrument->next[CursorPos] = 200;       // cursor at column 398
        form->RxSpinEdit_mark1->SetValue(0.01L); // markers at row 255
        form->RxSpinEdit_mark2->SetValue(0.01L);
    }
    void TickWith(uint8_t Scale) {
        instrument->next[ScaleByte] = Scale;
        Tick();
    }
    std::shared_ptr<ScriptedInstrument> instrument;
};

struct GridCase {
    int scale;
    std::vector<int> rows; // 4, 3, 2 and 1 volts
    int labelTop;
};

// Names the case in test listings.
void PrintTo(const GridCase& P, std::ostream* Os) {
    *Os << "scale " << P.scale;
}

class GridTest : public PlotTest, public ::testing::WithParamInterface<GridCase> {};

TEST_P(GridTest, GridRowsAndScaleMarks) {
    TickWith(static_cast<uint8_t>(GetParam().scale));
    EXPECT_EQ(ScaleDivisor, GetParam().scale);
    EXPECT_EQ(form->Label_40->y(), GetParam().labelTop);
    EXPECT_EQ(form->Label_41->y(), GetParam().labelTop);
    for (int row : GetParam().rows) {
        if (row < 0) continue; // clipped above the picture
        EXPECT_EQ(Px(0, row), GridOrange) << "row " << row;
        EXPECT_EQ(Px(17, row), GridOrange) << "row " << row;
        EXPECT_EQ(Px(20, row), clWhite) << "gap in row " << row;
        EXPECT_EQ(Px(470, row), GridOrange) << "row " << row; // 470 = 19 × 24 + 14: in a dash
    }
    int orangeRows = 0;
    for (int y = 0; y < 255; ++y) orangeRows += Px(0, y) == GridOrange;
    EXPECT_EQ(orangeRows, std::count_if(GetParam().rows.begin(), GetParam().rows.end(),
                                        [](int r) { return r >= 0; }));
}

INSTANTIATE_TEST_SUITE_P(
    Scales, GridTest,
    ::testing::Values(GridCase{64, {23, 81, 139, 197}, 10}, GridCase{33, {135, 165, 195, 225}, 14},
                      GridCase{11, {215, 225, 235, 245}, 30}, GridCase{70, {1, 65, 128, 192}, 9},
                      GridCase{71, {-3, 62, 126, 191}, 9}, GridCase{88, {-65, 15, 95, 175}, 9},
                      GridCase{89, {-68, 13, 94, 175}, 8}, GridCase{132, {-225, -105, 15, 135}, 8},
                      GridCase{133, {-228, -107, 14, 135}, 7},
                      GridCase{255, {-672, -440, -208, 24}, 7}));

TEST_F(PlotTest, MarkerLevelsAndTheirLabels) {
    form->RxSpinEdit_mark1->SetValue(1.0L);
    form->RxSpinEdit_mark2->SetValue(2.5L);
    TickWith(64);
    EXPECT_EQ(Px(20, 197), clNavy); // over the 1-volt grid line
    EXPECT_EQ(form->Label_mark1->y(), 191);
    EXPECT_EQ(form->Label_mark1->text(), "1.0 В");
    // 2.5 × 64 / 1.1 = 145.45 → row 110
    EXPECT_EQ(Px(300, 110), clTeal);
    EXPECT_EQ(form->Label_mark2->y(), 104);
    EXPECT_EQ(form->Label_mark2->text(), "2.5 В");
}

TEST_F(PlotTest, MarkerTwoIsDrawnOverMarkerOne) {
    form->RxSpinEdit_mark1->SetValue(1.5L);
    form->RxSpinEdit_mark2->SetValue(1.5L);
    TickWith(64);
    const int row = 255 - static_cast<int>(1.5L * 64 / 1.1L);
    EXPECT_EQ(Px(100, row), clTeal);
}

TEST_F(PlotTest, MarkerRowsUseExtendedPrecision) {
    // Table of levels where double arithmetic lands one row off.
    struct Case {
        long double level;
        int row;
    };
    for (const Case& c : {Case{1.65L, 255 - 96}, Case{3.30L, 255 - 192}, Case{3.85L, 255 - 223}}) {
        form->RxSpinEdit_mark1->SetValue(c.level);
        TickWith(64);
        EXPECT_EQ(Px(200, c.row), clNavy) << double(c.level);
        EXPECT_EQ(form->Label_mark1->y(), c.row - 6);
    }
}

// The field clamps only on leaving, so a poll meets whatever is typed so far. A level far
// above the plot draws nothing in it and its label sits above it; one far below, below it.
TEST_F(PlotTest, LevelsTypedFarBeyondTheRangeStayOffThePlot) {
    const struct {
        const char* Typed;
        bool Above;
    } Cases[] = {
        {"9e9", true}, {"40000000", true}, {"1e4000", true}, {"-9e9", false}, {"-40000000", false}};
    for (const auto& c : Cases) {
        SCOPED_TRACE(c.Typed);
        form->RxSpinEdit_mark1->setText(c.Typed);
        TickWith(255);
        ASSERT_TRUE(form->Timer->isActive()); // the tick went through
        for (int y = 0; y < 255; ++y) ASSERT_NE(Px(200, y), clNavy) << "row " << y;
        if (c.Above)
            EXPECT_LT(form->Label_mark1->y() + form->Label_mark1->height(), 0);
        else
            EXPECT_GT(form->Label_mark1->y(), 255);
    }
}

TEST_F(PlotTest, TracesSampleByteToRowAndColumn) {
    for (int i = 0; i <= 120; ++i) {
        instrument->next[2 * i] = 200;     // S1 at row 55
        instrument->next[2 * i + 1] = 100; // S2 at row 155
    }
    instrument->next[0] = 255;                                      // S1 sample 0 at row 0
    for (int i = 59; i <= 61; ++i) instrument->next[2 * i + 1] = 0; // S2 at row 255, outside
    TickWith(64);
    EXPECT_EQ(Px(0, 0), clBlack);
    EXPECT_EQ(Px(200, 55), clBlack);
    EXPECT_EQ(Px(475, 55), clBlack); // the segment towards sample 119 reaches the last column
    EXPECT_EQ(Px(100, 155), clRed);
    EXPECT_EQ(Px(475, 155), clRed);
    for (int y = 0; y < 255; ++y) EXPECT_NE(Px(240, y), clRed) << y; // S2 falls off the bottom
}

TEST_F(PlotTest, SecondTraceIsDrawnOverTheFirst) {
    for (int i = 0; i <= 120; ++i) {
        instrument->next[2 * i] = 128;
        instrument->next[2 * i + 1] = 128;
    }
    TickWith(64);
    EXPECT_EQ(Px(100, 127), clRed);
}

TEST_F(PlotTest, CursorIsAFourPixelGreyLineOverEverything) {
    for (int i = 0; i <= 120; ++i) instrument->next[2 * i] = 100;
    instrument->next[CursorPos] = 100;
    TickWith(64);
    int grey = 0;
    for (int x = 190; x < 206; ++x) grey += Px(x, 155) == clGray;
    EXPECT_EQ(grey, 4);
    EXPECT_EQ(Px(198, 155), clGray);
    EXPECT_EQ(Px(198, 0), clGray);
    EXPECT_EQ(Px(198, 254), clGray);
    EXPECT_EQ(form->Pos_Label->text(), "100");
    EXPECT_EQ(form->Pos_Label->x(), 210);
}

TEST_F(PlotTest, PlotIsRepaintedWhiteAtEveryTick) {
    for (int i = 0; i <= 120; ++i) instrument->next[2 * i] = 100;
    TickWith(64);
    ASSERT_EQ(Px(100, 155), clBlack);
    for (int i = 0; i <= 120; ++i) instrument->next[2 * i] = 0;
    TickWith(64);
    EXPECT_EQ(Px(100, 155), clWhite);
}

struct CursorCase {
    int pos;
    bool shown;
};

// Names the case in test listings.
void PrintTo(const CursorCase& P, std::ostream* Os) {
    *Os << "cursor " << P.pos;
}

class CursorLabelTest : public PlotTest, public ::testing::WithParamInterface<CursorCase> {};

TEST_P(CursorLabelTest, ValuesUnderTheCursor) {
    for (int i = 0; i < 240; ++i) instrument->next[i] = static_cast<uint8_t>(i);
    const int pos = GetParam().pos;
    instrument->next[CursorPos] = static_cast<uint8_t>(pos);
    form->sig_Label1->setText("old");
    TickWith(64);
    EXPECT_EQ(form->Pos_Label->text(), QString::number(pos));
    EXPECT_EQ(form->Pos_Label->x(), 2 * pos + 10);
    if (GetParam().shown) {
        const int b1 = pos - 4, b2 = pos - 3; // byte values equal their indexes here
        EXPECT_EQ(form->sig_Label1->y(), 249 - b1);
        EXPECT_EQ(form->sig_Label2->y(), 249 - b2);
        EXPECT_EQ(form->sig_Label1->text(), FormatVolts(b1 * 1.1L / 64, 1) + " В");
        EXPECT_EQ(form->sig_Label2->text(), FormatVolts(b2 * 1.1L / 64, 1) + " В");
    } else {
        EXPECT_EQ(form->sig_Label1->y(), -255);
        EXPECT_EQ(form->sig_Label2->y(), -255);
        EXPECT_EQ(form->sig_Label1->text(), "old");
    }
}

INSTANTIATE_TEST_SUITE_P(Positions, CursorLabelTest,
                         ::testing::Values(CursorCase{0, false}, CursorCase{4, false},
                                           CursorCase{5, true}, CursorCase{100, true},
                                           CursorCase{239, true}));

TEST_F(PlotTest, CursorAtFiveShowsBytesOneAndTwo) {
    instrument->next[1] = 64;
    instrument->next[2] = 128;
    instrument->next[CursorPos] = 5;
    TickWith(64);
    EXPECT_EQ(form->sig_Label1->text(), "1.1 В");
    EXPECT_EQ(form->sig_Label1->y(), 249 - 64);
    EXPECT_EQ(form->sig_Label2->text(), "2.2 В");
}

TEST_F(PlotTest, MinimaAndMaximaInVolts) {
    instrument->next[MinS1] = 100;
    instrument->next[MaxS1] = 200;
    instrument->next[MinS2] = 0;
    instrument->next[MaxS2] = 255;
    TickWith(64);
    EXPECT_EQ(form->Label46->text(), "Min значение S1 = 1.72 В");
    EXPECT_EQ(form->Label47->text(), "Max значение S1 = 3.44 В");
    EXPECT_EQ(form->Label48->text(), "Min значение S2 = 0.00 В");
    EXPECT_EQ(form->Label49->text(), "Max значение S2 = 4.38 В");
}

TEST_F(PlotTest, ReadOutsFollowTheLocaleSeparator) {
    if (!UseCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma installed";
    instrument->next[MinS1] = 100;
    form->RxSpinEdit_mark1->SetValue(1.0L);
    TickWith(64);
    EXPECT_EQ(form->Label46->text(), "Min значение S1 = 1,72 В");
    EXPECT_EQ(form->Label_mark1->text(), "1,0 В");
}

TEST_F(PlotTest, SuccessfulTickEnablesTheControlsAndRestartsTheTimer) {
    TickWith(64);
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8(FoundCaption));
    for (QWidget* w : std::initializer_list<QWidget*>{form->GoButton, form->FuncComboBox,
                                                      form->RxSpinEdit240, form->RxSpinEdit_mark1,
                                                      form->RxSpinEdit_mark2, form->CheckBox2})
        EXPECT_TRUE(w->isEnabled());
    EXPECT_TRUE(form->Timer->isActive());
}

TEST_F(PlotTest, ZeroScaleEndsTheTickWithAWhitePlotButPollingGoesOn) {
    for (int i = 0; i <= 120; ++i) instrument->next[2 * i] = 100;
    TickWith(64);
    form->Label46->setText("kept");
    TickWith(0);
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8(FoundCaption));
    EXPECT_TRUE(form->GoButton->isEnabled());
    EXPECT_EQ(Px(100, 155), clWhite);
    EXPECT_EQ(form->Label46->text(), "kept");
    // Polling goes on: the next record is tried at the next tick.
    EXPECT_TRUE(form->Timer->isActive());
    TickWith(64);
    EXPECT_EQ(Px(100, 155), clBlack);
}

} // namespace
