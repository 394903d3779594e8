#include "app/Plot.h"

#include "app/FormatVolts.h"
#include "instrument/Protocol.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

// Integer division that fails on zero the way the numeric runtime does, instead of trapping.
int32_t CheckedDiv(int32_t A, int32_t B) {
    if (B == 0) throw std::domain_error("Division by zero");
    return A / B;
}

// A level typed far beyond the field's range (it clamps only on leaving) is held this many rows
// off the plot: nothing of it shows either way, and the row, the label's top and Qt's own
// geometry (kept within 2^24) all stay far from overflow.
constexpr long double kFarRows = 1 << 24;

int32_t LevelRow(long double Volts, int32_t Scale) {
    const long double quotient = instrument::LevelBytes(Volts, Scale);
    if (!std::isfinite(quotient)) throw std::domain_error("Invalid floating point operation");
    return 255 - static_cast<int32_t>(std::clamp(std::trunc(quotient), -kFarRows, kFarRows));
}

long double ByteVolts(uint8_t Value, int32_t Scale) {
    if (Scale == 0) throw std::domain_error("Division by zero");
    return instrument::ByteVolts(Value, Scale);
}

QString WithUnit(long double Volts, int Decimals) {
    return FormatVolts(Volts, Decimals) + QStringLiteral(" В");
}

} // namespace

void PlotLabels::Marker(int Index, int32_t Row, const QString& Text) {
    MarkerRows[Index] = Row;
    MarkerTexts[Index] = Text;
}

void PlotLabels::Cursor(int32_t Left, const QString& Text) {
    CursorLeft = Left;
    CursorText = Text;
}

void PlotLabels::UnderCursor(int Index, std::optional<int32_t> Row, const QString& Text) {
    UnderCursorRows[Index] = Row;
    UnderCursorTexts[Index] = Text;
}

void DrawRecord(TCanvas& Canvas, const uint8_t* Record, const long double (&Levels)[2],
                PlotLabelSink& Labels) {
    auto& pen = Canvas.pen();
    const int width = Canvas.Bitmap().width();
    const int height = Canvas.Bitmap().height();

    pen.Style = TPenStyle::psSolid;
    pen.Color = clWhite;
    Canvas.FillRect(0, 0, width, height);

    const int32_t scale = Record[instrument::ScaleByte];
    Labels.ScaleMarks(CheckedDiv(264, scale));

    pen.Width = 1;
    pen.Color = 0x008CFF;
    pen.Style = TPenStyle::psDash;
    for (int k = 4; k >= 1; --k) {
        const int32_t r = 255 - instrument::WholeVoltBytes(k, scale);
        Canvas.MoveTo(0, r);
        Canvas.LineTo(width, r);
    }
    pen.Style = TPenStyle::psSolid;

    // Marker levels: rows, then their labels centred on them, then the lines, marker 2 last.
    const TColor markColours[] = {clNavy, clTeal};
    int32_t markRows[2];
    for (int k = 0; k < 2; ++k) {
        markRows[k] = LevelRow(Levels[k], scale);
        Labels.Marker(k, markRows[k], WithUnit(Levels[k], 1));
    }
    pen.Width = 1;
    for (int k = 0; k < 2; ++k) {
        pen.Color = markColours[k];
        Canvas.MoveTo(0, markRows[k]);
        Canvas.LineTo(width, markRows[k]);
    }

    // The traces: S1 from the even bytes in black, then S2 from the odd ones in red over it.
    pen.Width = 1;
    for (int signal = 0; signal < 2; ++signal) {
        pen.Color = signal == 0 ? clBlack : clRed;
        Canvas.MoveTo(0, 255 - Record[instrument::SampleByte(signal, 0)]);
        for (int i = 0; i < instrument::SamplePoints; ++i)
            Canvas.LineTo(4 * i, 255 - Record[instrument::SampleByte(signal, i)]);
    }

    const int32_t cursor = Record[instrument::CursorPos];
    pen.Width = 4;
    pen.Color = clGray;
    Canvas.MoveTo(2 * cursor - 2, 0);
    Canvas.LineTo(2 * cursor - 2, height);
    Labels.Cursor(2 * cursor + 10, QString::number(cursor));

    // The two bytes under the cursor, beside their rows; none near the left edge.
    for (int k = 0; k < 2; ++k) {
        if (cursor >= 5) {
            const uint8_t b = Record[cursor - 4 + k];
            Labels.UnderCursor(k, 255 - b, WithUnit(ByteVolts(b, scale), 1));
        } else {
            Labels.UnderCursor(k, std::nullopt, QString());
        }
    }

    const struct {
        const char* Prefix;
        int Byte;
    } readOuts[] = {{"Min значение S1 = ", instrument::MinS1},
                    {"Max значение S1 = ", instrument::MaxS1},
                    {"Min значение S2 = ", instrument::MinS2},
                    {"Max значение S2 = ", instrument::MaxS2}};
    for (int k = 0; k < 4; ++k)
        Labels.ReadOut(k, QString::fromUtf8(readOuts[k].Prefix) +
                              WithUnit(ByteVolts(Record[readOuts[k].Byte], scale), 2));
}
