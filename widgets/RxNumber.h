// Text <-> number conversions of the spin edit. The text is the value, so these rules decide
// what a field holds: decimal floats with the C library's LC_NUMERIC separator, 32-bit decimal
// and hexadecimal integers, and fixed-point output limited to 15 significant digits.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace rxnum {

// The decimal separator of the current LC_NUMERIC locale; "." when the locale gives none.
QString DecimalSeparator();

// Optional blanks, optional sign, digits with at most one separator (at least one digit),
// optional exponent "E"/"e" with optional sign and at least one digit, optional blanks.
// Fails on anything else and on overflow of the extended range.
std::optional<long double> TextToFloat(const QString& Text, const QString& Separator);

// Optional leading blanks, optional sign, decimal digits; must fit in 32 bits.
std::optional<int32_t> TextToInt(const QString& Text);

// Hexadecimal digits only (no prefix, no sign); up to 32 bits, read as two's complement.
std::optional<int32_t> HexToInt(const QString& Text);

// Round to a whole number, halves to the even neighbour; saturates at the 64-bit limits.
// Empty for NaN.
std::optional<int64_t> RoundToInt64(long double V);

// Truncate toward zero; saturates at the 64-bit limits; NaN gives 0.
int64_t TruncToInt64(long double V);

// Fixed-point text with exactly Decimals digits after Separator and at most 15 significant
// digits (the rest are zeros). Values of 1e15 and beyond use the "1,5E20" form.
// V must be finite.
QString FormatFixed(long double V, int Decimals, const QString& Separator);

// Upper-case hexadecimal without prefix. Negative values that fit in 32 bits are written as
// their 32-bit pattern so that HexToInt reads them back.
QString FormatHex(int64_t V);

} // namespace rxnum
