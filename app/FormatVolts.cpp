#include "app/FormatVolts.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

QString FormatVolts(long double Volts, int Decimals) {
    // Round on the 18 significant digits the extended format carries, halves away from zero.
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.17Le", Volts);
    const bool negative = digits[0] == '-';
    const char* p = digits + (negative ? 1 : 0);
    std::string mantissa;
    // The separator snprintf writes is the locale's; only the digits matter here.
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') mantissa += *p;
    const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
    // mantissa holds d0 d1 ... d17 with the value d0.d1d2... × 10^exponent.
    const int pointAt = exponent + 1;    // digits before the decimal point
    const int keep = pointAt + Decimals; // digits kept
    // kept stands for the value scaled by 10^Decimals, as an integer string: the digits kept,
    // padded with zeros, and "0" when nothing is kept. Built in place: GCC 12 at -O3 sees a false
    // overlap in assignments of literals to it.
    std::string kept(static_cast<size_t>(std::max(keep, 1)), '0');
    const size_t available = mantissa.size();
    if (keep > 0) mantissa.copy(kept.data(), std::min(static_cast<size_t>(keep), available));
    const bool roundUp =
        keep >= 0 && static_cast<size_t>(keep) < available && mantissa[keep] >= '5';
    if (roundUp) {
        int i = static_cast<int>(kept.size()) - 1;
        for (; i >= 0; --i) {
            if (kept[i] == '9') {
                kept[i] = '0';
            } else {
                ++kept[i];
                break;
            }
        }
        if (i < 0) kept.insert(kept.begin(), '1');
    }
    while (static_cast<int>(kept.size()) < Decimals + 1) kept.insert(kept.begin(), '0');
    std::string intPart = kept.substr(0, kept.size() - Decimals);
    const std::string fracPart = kept.substr(kept.size() - Decimals);
    const size_t nz = intPart.find_first_not_of('0');
    intPart = nz == std::string::npos ? "0" : intPart.substr(nz);
    const bool isZero = intPart == "0" && fracPart.find_first_not_of('0') == std::string::npos;

    const char* sep = std::localeconv()->decimal_point;
    QString text;
    if (negative && !isZero) text += QLatin1Char('-');
    text += QString::fromStdString(intPart);
    if (Decimals > 0) {
        text += (sep && *sep) ? QString::fromLocal8Bit(sep) : QStringLiteral(".");
        text += QString::fromStdString(fracPart);
    }
    return text;
}
