// The stored properties of the console's three number fields: the poll period and the two marker
// levels.
#pragma once

class TRxSpinEdit;

// Applied in the order the window's form lists them (call after the 61 x 21 geometry is set).
void LoadRxSpinEdit240(TRxSpinEdit* Edit);
void LoadRxSpinEditMark(TRxSpinEdit* Edit);
