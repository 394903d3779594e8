// The upper part of the console's window, above the second separator: the plot, its scale, marker,
// cursor and signal labels, the two marker captions and fields, and the four read-outs, at the
// console's places, fonts and colours. The console builds its window around it, and anything that
// shows a record as the console showed it (ormelix-replay) builds the same controls from here.
#pragma once

#include "app/Canvas.h"

#include <cstdint>

class QFrame;
class QLabel;
class QWidget;
class TRxSpinEdit;

struct UpperPanel {
    // The marker captions ("Маркер 1", "Маркер 2").
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    // Minimum and maximum of S1, then of S2 (the console's Label46, Label47, Label48, Label49).
    QLabel* ReadOuts[4] = {};
    QLabel* Label_01 = nullptr;
    QLabel* Label_00 = nullptr;
    QLabel* Label_41 = nullptr;
    QLabel* Label_40 = nullptr;
    QLabel* Label_mark2 = nullptr;
    QLabel* Label_mark1 = nullptr;
    QLabel* Pos_Label = nullptr;
    QLabel* sig_Label1 = nullptr;
    TImage* Image = nullptr;
    QLabel* sig_Label2 = nullptr;
    TRxSpinEdit* RxSpinEdit_mark1 = nullptr;
    TRxSpinEdit* RxSpinEdit_mark2 = nullptr;

    // The controls are the owner's direct children, made in the console's order: siblings paint in
    // that order, so a different one would change the snapshot. The owner makes its own controls
    // between the steps (the console its poll period row before, its connection box between).
    void CreatePlotArea(QWidget* Owner);
    void CreateMarkerFields(QWidget* Owner);

    // The plot's and the read-outs' labels emptied (the plot's pixels are the caller's).
    void ClearLabels();
    // Record drawn at the marker fields' levels, its labels placed as the console places them.
    // Throws where the plot unit does (a scale of 0).
    void Draw(const uint8_t* Record);
};

// The console's window font (Tahoma, 11 pixels) and face colour on Owner.
void SetConsoleLook(QWidget* Owner);
QLabel* MakeConsoleLabel(QWidget* Owner, int Left, int Top, int Width, int Height,
                         const QString& Text, bool Centred);
// The sunken line across the window under the plot (272) and under the fields (352).
QFrame* MakeSeparator(QWidget* Owner, int Top);
void SetFontColor(QLabel* Label, TColor Color);
