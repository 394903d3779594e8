#include "python/CsvReader.h"

#include "tools/cli/Csv.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

namespace python {

namespace {

constexpr size_t kBlock = 16 << 20;

// Days from 1970-01-01 of a date in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t Y, unsigned M, unsigned D) {
    Y -= M <= 2;
    const int64_t era = (Y >= 0 ? Y : Y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(Y - era * 400);
    const unsigned doy = (153 * (M + (M > 2 ? -3 : 9)) + 2) / 5 + D - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool Digits(const char* At, int N, int& Value) {
    Value = 0;
    for (int i = 0; i < N; ++i) {
        if (At[i] < '0' || At[i] > '9') return false;
        Value = Value * 10 + (At[i] - '0');
    }
    return true;
}

template <typename T> bool Whole(std::string_view Field, T Max, T& Value) {
    uint64_t v = 0;
    const auto [end, ec] = std::from_chars(Field.data(), Field.data() + Field.size(), v);
    if (Field.empty() || ec != std::errc() || end != Field.data() + Field.size() || v > Max)
        return false;
    Value = static_cast<T>(v);
    return true;
}

// Calls Line for every line ending in LF (the CR before it taken off) from Offset on, reading
// the file in blocks; a last line without LF is left out. Line returns false to stop.
template <typename Fn>
void EachLine(std::FILE* File, const std::string& Path, uint64_t Offset, Fn&& Line) {
    if (std::fseek(File, static_cast<long>(Offset), SEEK_SET) != 0) throw CsvFileError(errno, Path);
    std::vector<char> buffer(kBlock);
    size_t kept = 0; // the start of a line carried over from the block before
    for (;;) {
        if (kept == buffer.size()) buffer.resize(buffer.size() * 2); // a line longer than a block
        const size_t got = std::fread(buffer.data() + kept, 1, buffer.size() - kept, File);
        if (got == 0) {
            if (std::ferror(File)) throw CsvFileError(EIO, Path);
            return;
        }
        const char* at = buffer.data();
        const char* end = buffer.data() + kept + got;
        for (;;) {
            const char* lf = static_cast<const char*>(std::memchr(at, '\n', end - at));
            if (!lf) break;
            const char* last = lf > at && lf[-1] == '\r' ? lf - 1 : lf;
            if (!Line(std::string_view(at, last - at))) return;
            at = lf + 1;
        }
        kept = end - at;
        std::memmove(buffer.data(), at, kept);
    }
}

} // namespace

bool ParseIsoTime(const char* First, const char* Last, int64_t& Ms) {
    // YYYY-MM-DDTHH:MM:SS.mmm+HH:MM
    if (Last - First != 29) return false;
    const char* t = First;
    int y, mo, d, h, mi, s, ms, oh, om;
    if (!Digits(t, 4, y) || t[4] != '-' || !Digits(t + 5, 2, mo) || t[7] != '-' ||
        !Digits(t + 8, 2, d) || t[10] != 'T' || !Digits(t + 11, 2, h) || t[13] != ':' ||
        !Digits(t + 14, 2, mi) || t[16] != ':' || !Digits(t + 17, 2, s) || t[19] != '.' ||
        !Digits(t + 20, 3, ms) || (t[23] != '+' && t[23] != '-') || !Digits(t + 24, 2, oh) ||
        t[26] != ':' || !Digits(t + 27, 2, om))
        return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || om > 59)
        return false;
    const int64_t offset = (t[23] == '-' ? -1 : 1) * (oh * 3600 + om * 60);
    const int64_t seconds =
        DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600 +
        mi * 60 + s - offset;
    Ms = seconds * 1000 + ms;
    return true;
}

CsvReader::CsvReader(const std::string& Path) : path_(Path) {
    file_ = std::fopen(Path.c_str(), "rb");
    if (!file_) throw CsvFileError(errno, Path);
    std::string header = cli::CsvHeader();
    header.resize(header.size() - 2); // its CRLF
    bool first = true, sawHeader = false;
    EachLine(file_, path_, 0, [&](std::string_view Line) {
        if (first) {
            first = false;
            if (Line != header)
                throw CsvError(path_ + " is not an ormelix-cli recording: its first line is not "
                                       "the header row");
            sawHeader = true;
            return true;
        }
        if (rows_ == 0 && !Line.empty()) {
            // The kind of the file, from its first row's first volt column.
            const std::vector<std::string> fields = cli::CsvFields(Line);
            if (fields.size() != static_cast<size_t>(cli::CsvColumns))
                throw CsvError(path_ + ": line 2: " + std::to_string(fields.size()) +
                               " fields, not " + std::to_string(cli::CsvColumns));
            raw_ = cli::IsRawField(fields[4]);
        }
        if (!Line.empty()) ++rows_;
        return true;
    });
    if (!sawHeader)
        throw CsvError(path_ + " is not an ormelix-cli recording: it has no header row");
}

CsvReader::~CsvReader() {
    if (file_) std::fclose(file_);
}

uint64_t CsvReader::Read(const CsvColumns& Into) {
    using namespace instrument;
    uint64_t row = 0;
    uint64_t lineNumber = 0;
    std::vector<std::string_view> fields(cli::CsvColumns);
    std::vector<std::string> quoted;
    const auto fail = [&](const std::string& Why) {
        throw CsvError(path_ + ": line " + std::to_string(lineNumber) + ": " + Why);
    };
    bool first = true;
    EachLine(file_, path_, 0, [&](std::string_view Line) {
        ++lineNumber;
        if (first) {
            first = false;
            return true;
        }
        if (Line.empty()) return true;
        if (row == rows_) return false; // grown since it was counted
        size_t n = 0;
        if (Line.find('"') == std::string_view::npos) {
            size_t at = 0;
            for (;;) {
                const size_t comma = Line.find(',', at);
                if (n == fields.size())
                    fail("more than " + std::to_string(cli::CsvColumns) + " fields");
                fields[n++] =
                    Line.substr(at, comma == std::string_view::npos ? Line.npos : comma - at);
                if (comma == std::string_view::npos) break;
                at = comma + 1;
            }
        } else {
            quoted = cli::CsvFields(Line);
            n = std::min(quoted.size(), fields.size() + 1);
            if (quoted.size() <= fields.size())
                for (size_t i = 0; i < quoted.size(); ++i) fields[i] = quoted[i];
        }
        if (n != fields.size())
            fail(std::to_string(n) + " fields, not " + std::to_string(cli::CsvColumns));
        if (!ParseIsoTime(fields[0].data(), fields[0].data() + fields[0].size(), Into.Time[row]))
            fail("the time is not of the form 2026-12-09T06:01:02.345+01:00");
        if (!Whole<uint64_t>(fields[1], UINT64_MAX, Into.Record[row])) fail("a bad record counter");
        if (!Whole<uint8_t>(fields[2], 255, Into.Scale[row])) fail("a bad scale");
        if (!Whole<uint8_t>(fields[3], 255, Into.Cursor[row])) fail("a bad cursor");
        const auto value = [&](size_t Field, void* Column, size_t Index) {
            const std::string_view f = fields[Field];
            if (raw_) {
                if (!Whole<uint8_t>(f, 255, static_cast<uint8_t*>(Column)[Index]))
                    fail("field " + std::to_string(Field + 1) + " is not a byte value");
                return;
            }
            double& v = static_cast<double*>(Column)[Index];
            if (f.empty()) {
                v = std::nan("");
                return;
            }
            const auto [end, ec] = std::from_chars(f.data(), f.data() + f.size(), v);
            if (ec != std::errc() || end != f.data() + f.size() || cli::IsRawField(f))
                fail("field " + std::to_string(Field + 1) + " is not volts");
        };
        for (size_t i = 0; i < 4; ++i) value(4 + i, Into.Levels[i], row);
        for (size_t i = 0; i < static_cast<size_t>(SamplePoints); ++i) {
            value(8 + i, Into.S1, row * SamplePoints + i);
            value(8 + SamplePoints + i, Into.S2, row * SamplePoints + i);
        }
        ++row;
        return true;
    });
    return row;
}

} // namespace python
