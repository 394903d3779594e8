#include "widgets/RxNumber.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <string>

namespace rxnum {

namespace {

bool IsDigit(QChar C) {
    return C.unicode() >= '0' && C.unicode() <= '9';
}

int HexDigit(QChar C) {
    const char16_t U = C.unicode();
    if (U >= '0' && U <= '9') return U - '0';
    if (U >= 'A' && U <= 'F') return U - 'A' + 10;
    if (U >= 'a' && U <= 'f') return U - 'a' + 10;
    return -1;
}

// strtold honours LC_NUMERIC; the canonical text built below always uses a point. False when
// the text is not one number to its end.
bool CanonToFloat(const std::string& Canon, long double& Value) {
    char* End = nullptr;
#ifdef _WIN32
    // MinGW has no strtold_l: give its strtold the separator of the numeric locale instead.
    std::string Local = Canon;
    const lconv* Conv = std::localeconv();
    const std::string Point =
        Conv && Conv->decimal_point && Conv->decimal_point[0] ? Conv->decimal_point : ".";
    if (const auto Dot = Local.find('.'); Dot != std::string::npos) Local.replace(Dot, 1, Point);
    Value = std::strtold(Local.c_str(), &End);
    return End == Local.c_str() + Local.size();
#else
    static const locale_t Loc = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    Value = strtold_l(Canon.c_str(), &End, Loc);
    return End == Canon.c_str() + Canon.size();
#endif
}

constexpr long double kTwo63 = 9223372036854775808.0L;

} // namespace

QString DecimalSeparator() {
    const lconv* Conv = std::localeconv();
    if (Conv == nullptr || Conv->decimal_point == nullptr || Conv->decimal_point[0] == '\0')
        return QStringLiteral(".");
    return QString::fromLocal8Bit(Conv->decimal_point);
}

std::optional<long double> TextToFloat(const QString& Text, const QString& Separator) {
    const qsizetype N = Text.size();
    qsizetype I = 0;
    while (I < N && Text[I] == u' ') ++I;

    std::string Canon;
    if (I < N && (Text[I] == u'+' || Text[I] == u'-')) Canon += char(Text[I++].unicode());
    int Digits = 0;
    while (I < N && IsDigit(Text[I])) {
        Canon += char(Text[I++].unicode());
        ++Digits;
    }
    if (!Separator.isEmpty() && QStringView(Text).mid(I).startsWith(Separator)) {
        I += Separator.size();
        Canon += '.';
        while (I < N && IsDigit(Text[I])) {
            Canon += char(Text[I++].unicode());
            ++Digits;
        }
    }
    if (Digits == 0) return std::nullopt;

    if (I < N && (Text[I] == u'e' || Text[I] == u'E')) {
        ++I;
        Canon += 'e';
        if (I < N && (Text[I] == u'+' || Text[I] == u'-')) Canon += char(Text[I++].unicode());
        int ExpDigits = 0;
        while (I < N && IsDigit(Text[I])) {
            Canon += char(Text[I++].unicode());
            ++ExpDigits;
        }
        if (ExpDigits == 0) return std::nullopt;
    }
    while (I < N && Text[I] == u' ') ++I;
    if (I != N) return std::nullopt;

    errno = 0;
    long double V = 0;
    if (!CanonToFloat(Canon, V)) return std::nullopt;
    // Underflow quietly gives zero or a denormal; overflow is a failed conversion.
    if (errno == ERANGE && std::isinf(V)) return std::nullopt;
    return V;
}

std::optional<int32_t> TextToInt(const QString& Text) {
    const qsizetype N = Text.size();
    qsizetype I = 0;
    while (I < N && Text[I] == u' ') ++I;
    bool Negative = false;
    if (I < N && (Text[I] == u'+' || Text[I] == u'-')) Negative = Text[I++] == u'-';
    if (I == N) return std::nullopt;
    int64_t Magnitude = 0;
    for (; I < N; ++I) {
        if (!IsDigit(Text[I])) return std::nullopt;
        Magnitude = Magnitude * 10 + (Text[I].unicode() - '0');
        if (Magnitude > int64_t(INT32_MAX) + 1) return std::nullopt;
    }
    const int64_t V = Negative ? -Magnitude : Magnitude;
    if (V > INT32_MAX || V < INT32_MIN) return std::nullopt;
    return int32_t(V);
}

std::optional<int32_t> HexToInt(const QString& Text) {
    if (Text.isEmpty()) return std::nullopt;
    uint64_t V = 0;
    for (QChar C : Text) {
        const int D = HexDigit(C);
        if (D < 0) return std::nullopt;
        V = V * 16 + uint64_t(D);
        if (V > 0xFFFFFFFFull) return std::nullopt;
    }
    return int32_t(uint32_t(V));
}

std::optional<int64_t> RoundToInt64(long double V) {
    if (std::isnan(V)) return std::nullopt;
    const long double R = std::nearbyint(V); // default rounding mode: halves to even
    if (R >= kTwo63) return INT64_MAX;
    if (R < -kTwo63) return INT64_MIN;
    return int64_t(R);
}

int64_t TruncToInt64(long double V) {
    if (std::isnan(V)) return 0;
    const long double T = std::trunc(V);
    if (T >= kTwo63) return INT64_MAX;
    if (T < -kTwo63) return INT64_MIN;
    return int64_t(T);
}

QString FormatFixed(long double V, int Decimals, const QString& Separator) {
    if (Decimals < 0) Decimals = 0;
    std::array<char, 64> Sci{};
    // The exponent after rounding to 15 significant digits decides how many decimals survive.
    auto SciEnd =
        std::to_chars(Sci.data(), Sci.data() + Sci.size(), V, std::chars_format::scientific, 14)
            .ptr;
    const std::string SciText(Sci.data(), SciEnd);
    const auto EPos = SciText.find('e');
    const int Exponent = V == 0 ? 0 : std::atoi(SciText.c_str() + EPos + 1);

    if (Exponent >= 15) {
        std::string Mantissa = SciText.substr(0, EPos);
        while (!Mantissa.empty() && Mantissa.back() == '0') Mantissa.pop_back();
        if (!Mantissa.empty() && Mantissa.back() == '.') Mantissa.pop_back();
        QString Out = QString::fromLatin1(Mantissa) + u'E' + QString::number(Exponent);
        return Out.replace(u'.', Separator);
    }

    const int Keep = std::min(Decimals, 14 - Exponent);
    std::string Fixed(Keep + 40, '\0');
    auto FixedEnd =
        std::to_chars(Fixed.data(), Fixed.data() + Fixed.size(), V, std::chars_format::fixed, Keep)
            .ptr;
    Fixed.resize(FixedEnd - Fixed.data());
    if (!Fixed.empty() && Fixed[0] == '-' && Fixed.find_first_of("123456789") == std::string::npos)
        Fixed.erase(0, 1); // no "-0.00"
    if (Decimals > Keep) {
        if (Keep == 0) Fixed += '.';
        Fixed.append(size_t(Decimals - Keep), '0');
    }
    QString Out = QString::fromLatin1(Fixed);
    const qsizetype Point = Out.indexOf(u'.');
    if (Point >= 0) Out.replace(Point, 1, Separator);
    return Out;
}

QString FormatHex(int64_t V) {
    if (V < 0 && V >= INT32_MIN) return QString::number(uint32_t(V), 16).toUpper();
    return QString::number(uint64_t(V), 16).toUpper();
}

} // namespace rxnum
