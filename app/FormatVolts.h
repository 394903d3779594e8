// Voltage text as the console's read-outs show it.
#pragma once

#include <QString>

// Fixed point with the given decimals, halves away from zero, the locale's decimal separator.
QString FormatVolts(long double Volts, int Decimals);
