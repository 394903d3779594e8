// The CSV form of the instrument's records (RFC 4180: comma separated, CRLF line ends, a header
// row): time, record counter, scale, cursor, the four minima and maxima, then both traces.
#pragma once

#include "instrument/Protocol.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// Time, counter, scale, cursor and the four minima and maxima, then both traces.
constexpr int CsvColumns = 8 + 2 * instrument::SamplePoints;
static_assert(CsvColumns == 250, "the rows keep their shape");
// The minima and maxima columns, after time, record, scale and cursor, and the bytes they hold.
struct LevelColumn {
    const char* Name;
    int Byte;
};
inline constexpr LevelColumn LevelColumns[4] = {{"min_s1", instrument::MinS1},
                                                {"max_s1", instrument::MaxS1},
                                                {"min_s2", instrument::MinS2},
                                                {"max_s2", instrument::MaxS2}};

// Decimals of a volt field: the smallest step (scale 255) is 0.0043 V.
constexpr int VoltDecimals = 6;

// The longest row that CsvRow writes, line end included: the time, a 20-digit counter, scale and
// cursor, and 246 volt fields of "280.500000" (byte 255 at scale 1). A torn row is shorter.
constexpr size_t CsvMaxRowBytes = 29 + 1 + 20 + 2 * 4 + 246 * (1 + 10) + 2;

// The header row, with its line end.
const std::string& CsvHeader();

// ISO 8601 local time with milliseconds and UTC offset: 2026-12-09T06:01:02.345+01:00.
std::string IsoTime(std::chrono::system_clock::time_point When);

// Appends a byte as volts (value × 1.1 / scale in extended precision, fixed point with
// VoltDecimals decimals and a point whatever the locale); nothing for scale 0.
void AppendVolts(std::string& Row, uint8_t Value, uint8_t Scale);

// One row with its line end. Record holds instrument::RecordSize bytes; Raw writes the bytes of
// the volt columns as they are.
std::string CsvRow(std::string_view Time, uint64_t Counter, const uint8_t* Record, bool Raw);

// Whether a volt column's field (min_s1 is the first) is a raw row's: volt rows carry a decimal
// point or nothing there, raw rows whole numbers.
inline bool IsRawField(std::string_view Field) {
    return !Field.empty() && Field.find('.') == std::string_view::npos;
}

// The fields of one line (without its line end); the rows written here need no quoting, but a
// quoted field is read as RFC 4180 has it.
std::vector<std::string> CsvFields(std::string_view Line);

} // namespace cli
