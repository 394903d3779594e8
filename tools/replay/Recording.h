// A recording made by ormelix-cli, read back: the file is mapped (RecordingFile) and only the
// rows' starts are indexed at opening; a row is parsed when it is shown. Volts are turned back
// into the bytes the instrument sent, by the row's scale, and checked to map back to the same text.
#pragma once

#include "instrument/Protocol.h"
#include "tools/replay/RecordingFile.h"

#include <QDateTime>
#include <QFile>
#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace replay {

using RecordBytes = std::array<uint8_t, instrument::RecordSize>;

// The byte a volt field stands for at Scale, or none when its volts are not those of any byte
// (b × 1.1 / scale, to the six decimals written). Scale 0 carries no volts.
std::optional<uint8_t> VoltsToByte(std::string_view Field, uint8_t Scale);
// A --raw field: a whole number 0..255.
std::optional<uint8_t> RawByte(std::string_view Field);

// One row read back.
struct Row {
    QString Time;   // as written
    QDateTime When; // invalid when the time field is not ISO 8601
    uint64_t Counter = 0;
    RecordBytes Bytes{};  // what the row carries, the rest 0
    bool Missing = false; // a field that is no number, or volts of no byte: nothing to draw
    QString Problem;      // why, for the status line
};

// The four extremes of a row with its scale, for the overview and the search.
struct Summary {
    uint8_t Scale = 0;
    uint8_t Extremes[4] = {}; // min S1, max S1, min S2, max S2 (bytes)
    bool Valid = false;
};

class Recording {
public:
    Recording() = default;
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;
    ~Recording();

    // Maps the file and indexes its whole rows; false with Error() set for a file that cannot be
    // read or is not a recording (foreign header, a missing column).
    bool Open(const QString& FileName);
    const QString& Error() const { return error_; }
    const QString& FileName() const { return fileName_; }

    // Rows appended since: indexes them. A last row without its line end is left out until
    // whole. False (with Error) when the file was replaced or shortened: reopen it.
    bool Refresh();

    size_t Count() const { return rows_.size(); }
    Row Record(size_t Index) const;
    // The time field only, cheap: for the slider and playback.
    QDateTime Time(size_t Index) const;
    Summary Extremes(size_t Index) const;
    // Bytes of the file, and of the index beside it.
    qint64 MappedBytes() const { return file_.MappedBytes(); }
    size_t IndexBytes() const { return rows_.capacity() * sizeof(uint64_t); }

private:
    std::string_view Line(size_t Index) const;
    bool IndexFrom(qint64 Offset);

    QString fileName_;
    QString error_;
    RecordingFile file_;
    qint64 loaded_ = 0;    // bytes of the file read for rows
    qint64 indexedTo_ = 0; // where the next row starts
    std::vector<uint64_t> rows_;
};

// The header's column names, in order; a recording's first line is exactly these.
const std::vector<std::string>& ColumnNames();

// The first record after From whose S1 or S2 minimum or maximum crosses one of the levels (volts):
// lies on the other side of it than in the record before. Records without a summary are passed
// over (and end a crossing's "before"). Stop, when set, ends the search early.
std::optional<size_t> FindNextCrossing(const std::function<Summary(size_t)>& Extremes, size_t Count,
                                       size_t From, const long double (&Levels)[2],
                                       const std::atomic<bool>* Stop = nullptr);

} // namespace replay
