// One record drawn as the console draws it: the plot's pixels on a canvas, and where the plot's
// labels go and what they say. The console's tick draws through it, and so can anything that
// shows a record without the window.
#pragma once

#include "app/Canvas.h"

#include <QString>
#include <cstdint>
#include <optional>

constexpr int PlotWidth = 476;
constexpr int PlotHeight = 255;

// Told where each label goes, in the order the drawing reaches it; a failing record stops the
// drawing part-way, and the labels already told keep what they were told.
class PlotLabelSink {
public:
    virtual ~PlotLabelSink() = default;
    // The scale marks' labels: the row 264 / scale, which the console offsets by half a label.
    virtual void ScaleMarks(int32_t Row) = 0;
    // Marker 0 or 1: the plot row of its level and its text ("1.0 В").
    virtual void Marker(int Index, int32_t Row, const QString& Text) = 0;
    // The cursor's number and the column its label starts at.
    virtual void Cursor(int32_t Left, const QString& Text) = 0;
    // The byte under the cursor of signal 0 or 1: its row and volts, or no row when the cursor is
    // too near the left edge to have one.
    virtual void UnderCursor(int Index, std::optional<int32_t> Row, const QString& Text) = 0;
    // The read-outs: minimum and maximum of S1, then of S2, with their captions.
    virtual void ReadOut(int Index, const QString& Text) = 0;
};

// What a drawing told, kept.
struct PlotLabels : PlotLabelSink {
    std::optional<int32_t> ScaleRow;
    std::optional<int32_t> MarkerRows[2];
    QString MarkerTexts[2];
    std::optional<int32_t> CursorLeft;
    QString CursorText;
    std::optional<int32_t> UnderCursorRows[2];
    QString UnderCursorTexts[2];
    QString ReadOuts[4];

    void ScaleMarks(int32_t Row) override { ScaleRow = Row; }
    void Marker(int Index, int32_t Row, const QString& Text) override;
    void Cursor(int32_t Left, const QString& Text) override;
    void UnderCursor(int Index, std::optional<int32_t> Row, const QString& Text) override;
    void ReadOut(int Index, const QString& Text) override { ReadOuts[Index] = Text; }
};

// Draws Record (the instrument's 254 bytes) with marker levels Levels (volts) on Canvas: white,
// the dashed volt grid, the markers, both traces and the cursor, as the console's plot shows them.
// The scale is the record's scale byte. Throws std::domain_error where the console's tick stops:
// a scale of 0 (after the white fill) or a level that gives no row.
void DrawRecord(TCanvas& Canvas, const uint8_t* Record, const long double (&Levels)[2],
                PlotLabelSink& Labels);
