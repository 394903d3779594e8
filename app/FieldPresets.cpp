#include "app/FieldPresets.h"

#include "instrument/Command.h"
#include "widgets/RXSpin.h"

void LoadRxSpinEdit240(TRxSpinEdit* Edit) {
    Edit->SetDecimal(1);
    Edit->SetMaxValue(instrument::PollPeriodMax);
    Edit->SetMinValue(instrument::PollPeriodMin);
    Edit->SetValue(1);
}

void LoadRxSpinEditMark(TRxSpinEdit* Edit) {
    Edit->SetIncrement(0.01L);
    Edit->SetMaxValue(4);
    Edit->SetMinValue(0.01L);
    Edit->SetValueType(vtFloat);
    Edit->SetValue(0.01L);
}
