// The plot unit draws what the console's tick draws: the same pixels and the same labels, for
// records the tick sees, without the window.
#include "app/Plot.h"
#include "tests/app/ConsoleFixture.h"

#include <QImage>
#include <ostream>
#include <random>
#include <stdexcept>

namespace {

struct PlotCase {
    const char* name;
    uint8_t scale;
    uint8_t cursor;
    long double mark1;
    long double mark2;
    unsigned seed; // samples and read-out bytes
};

void PrintTo(const PlotCase& P, std::ostream* Os) {
    *Os << P.name;
}

class PlotUnitTest : public ConsoleTest, public ::testing::WithParamInterface<PlotCase> {};

TEST_P(PlotUnitTest, DrawsTheTicksPixelsAndLabels) {
    const PlotCase& c = GetParam();
    auto instrument = PlugInstrument();
    Start();
    Connect();
    std::mt19937 random(c.seed);
    for (uint8_t& b : instrument->next) b = static_cast<uint8_t>(random());
    instrument->next[ScaleByte] = c.scale;
    instrument->next[CursorPos] = c.cursor;
    form->RxSpinEdit_mark1->SetValue(c.mark1);
    form->RxSpinEdit_mark2->SetValue(c.mark2);
    Tick();
    const Record record = instrument->next;

    TCanvas canvas(PlotWidth, PlotHeight);
    PlotLabels labels;
    const long double levels[2] = {c.mark1, c.mark2};
    DrawRecord(canvas, record.data(), levels, labels);

    EXPECT_EQ(canvas.Bitmap(), form->Image->Canvas()->Bitmap());
    // A trace point the cursor and markers leave alone sits at row 255 − byte.
    EXPECT_EQ(canvas.Pixel(4 * 60, 255 - record[instrument::SampleByte(1, 60)]), clRed);

    ASSERT_TRUE(labels.ScaleRow.has_value());
    EXPECT_EQ(form->Label_40->y(), *labels.ScaleRow + form->Label_40->height() / 2);
    QLabel* const marks[] = {form->Label_mark1, form->Label_mark2};
    QLabel* const under[] = {form->sig_Label1, form->sig_Label2};
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(marks[k]->text(), labels.MarkerTexts[k]);
        EXPECT_EQ(marks[k]->y(), *labels.MarkerRows[k] - marks[k]->height() / 2);
        if (labels.UnderCursorRows[k]) {
            EXPECT_EQ(under[k]->text(), labels.UnderCursorTexts[k]);
            EXPECT_EQ(under[k]->y(), *labels.UnderCursorRows[k] - under[k]->height() / 2);
        } else {
            EXPECT_EQ(under[k]->y(), -255);
        }
    }
    EXPECT_EQ(form->Pos_Label->text(), labels.CursorText);
    EXPECT_EQ(form->Pos_Label->x(), *labels.CursorLeft);
    QLabel* const readOuts[] = {form->Label46, form->Label47, form->Label48, form->Label49};
    for (int k = 0; k < 4; ++k) EXPECT_EQ(readOuts[k]->text(), labels.ReadOuts[k]);
}

INSTANTIATE_TEST_SUITE_P(
    Records, PlotUnitTest,
    ::testing::Values(PlotCase{"scale64", 64, 200, 3.3L, 1.2L, 1},
                      PlotCase{"scale11", 11, 120, 0.5L, 0.01L, 2},
                      PlotCase{"scale255_cursor_at_edge", 255, 3, 4.0L, 2.0L, 3},
                      PlotCase{"cursor_past_the_plot", 33, 255, 1.0L, 1.0L, 4}),
    [](const auto& Info) { return std::string(Info.param.name); });

TEST(PlotUnit, ScaleZeroStopsAfterTheWhiteFill) {
    TCanvas canvas(PlotWidth, PlotHeight);
    canvas.pen().Color = clBlack;
    canvas.MoveTo(0, 10);
    canvas.LineTo(PlotWidth, 10);
    PlotLabels labels;
    const uint8_t record[instrument::RecordSize] = {};
    const long double levels[2] = {1.0L, 2.0L};
    EXPECT_THROW(DrawRecord(canvas, record, levels, labels), std::domain_error);
    EXPECT_EQ(canvas.Pixel(100, 10), clWhite);
    EXPECT_FALSE(labels.ScaleRow.has_value());
}

} // namespace
