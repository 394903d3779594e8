#include "tools/replay/Recording.h"

#include "tools/cli/Csv.h"

#include <QFileInfo>
#include <charconv>
#include <cmath>
#include <cstring>

namespace replay {

namespace {

constexpr int kFixedColumns = 8; // time, record, scale, cursor, then the four extremes
constexpr int kColumns = cli::CsvColumns;

// The byte each value column fills, after the four fixed ones.
int ValueByte(int Column) {
    if (Column < kFixedColumns) return cli::LevelColumns[Column - 4].Byte;
    const int k = Column - kFixedColumns;
    return instrument::SampleByte(k / instrument::SamplePoints, k % instrument::SamplePoints);
}

// Splits a line into at most Max fields; RFC 4180 quotes are honoured, though the recorder
// never writes them. Quoted fields are unquoted into Scratch.
struct Fields {
    std::vector<std::string_view> Items;
    std::vector<std::string> Scratch;
};

void Split(std::string_view Line, size_t Max, Fields& Out) {
    Out.Items.clear();
    Out.Scratch.clear();
    Out.Scratch.reserve(Max); // views into it stay valid
    size_t i = 0;
    while (Out.Items.size() < Max) {
        if (i < Line.size() && Line[i] == '"') {
            std::string text;
            ++i;
            while (i < Line.size()) {
                if (Line[i] == '"') {
                    if (i + 1 < Line.size() && Line[i + 1] == '"') {
                        text += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                text += Line[i++];
            }
            while (i < Line.size() && Line[i] != ',') text += Line[i++];
            Out.Scratch.push_back(std::move(text));
            Out.Items.emplace_back(Out.Scratch.back());
        } else {
            const size_t end = std::min(Line.find(',', i), Line.size());
            Out.Items.push_back(Line.substr(i, end - i));
            i = end;
        }
        if (i >= Line.size()) break;
        ++i; // the comma
        if (i == Line.size()) {
            if (Out.Items.size() < Max) Out.Items.emplace_back();
            break;
        }
    }
}

template <typename T> std::optional<T> WholeNumber(std::string_view Field) {
    T value{};
    const auto [end, ec] = std::from_chars(Field.data(), Field.data() + Field.size(), value);
    if (ec != std::errc() || end != Field.data() + Field.size() || Field.empty()) return {};
    return value;
}

QString Quoted(std::string_view Field) {
    QString text = QString::fromUtf8(Field.data(), static_cast<qsizetype>(Field.size()));
    if (text.size() > 24) text = text.left(24) + QStringLiteral("…");
    return QStringLiteral("\"") + text + QStringLiteral("\"");
}

} // namespace

std::optional<uint8_t> VoltsToByte(std::string_view Field, uint8_t Scale) {
    if (Scale == 0 || Field.empty() || Field.front() == '-' || Field.front() == '+') return {};
    double volts = 0;
    const auto [end, ec] =
        std::from_chars(Field.data(), Field.data() + Field.size(), volts, std::chars_format::fixed);
    if (ec != std::errc() || end != Field.data() + Field.size() || !std::isfinite(volts)) return {};
    const long double b =
        std::round(static_cast<long double>(volts) * Scale / instrument::VoltFactor);
    if (b < 0 || b > 255) return {};
    const auto byte = static_cast<uint8_t>(b);
    // Written with six decimals: the text is within half a millionth of the byte's volts.
    if (std::fabs(instrument::ByteVolts(byte, Scale) - static_cast<long double>(volts)) >
        5.0001e-7L)
        return {};
    return byte;
}

std::optional<uint8_t> RawByte(std::string_view Field) {
    const auto value = WholeNumber<unsigned>(Field);
    if (!value || *value > 255) return {};
    return static_cast<uint8_t>(*value);
}

// The recorder's own header, so that what it writes is what is read here.
const std::vector<std::string>& ColumnNames() {
    static const std::vector<std::string> names = [] {
        const std::string& header = cli::CsvHeader();
        return cli::CsvFields(std::string_view(header).substr(0, header.size() - 2));
    }();
    return names;
}

Recording::~Recording() = default;

bool Recording::Open(const QString& FileName) {
    fileName_ = FileName;
    error_.clear();
    rows_.clear();
    indexedTo_ = 0;
    loaded_ = 0;
    QString why;
    if (QFileInfo(FileName).isDir() || !file_.Open(FileName, why)) {
        error_ = QStringLiteral("Cannot open %1: %2")
                     .arg(FileName, QFileInfo(FileName).isDir() ? QStringLiteral("a folder") : why);
        return false;
    }
    const qint64 size = file_.Size();
    if (!file_.Load(size, error_)) return false;
    loaded_ = size;

    // The header is the recorder's 250 names, some 2 kB: a first line far longer is no header.
    const std::string_view head = file_.Bytes(0, std::min<qint64>(loaded_, 1 << 16));
    const size_t nl = head.find('\n');
    if (nl == std::string_view::npos) {
        error_ = loaded_ == 0 ? QStringLiteral("%1 is empty: not a recording (yet)").arg(FileName)
                              : QStringLiteral("%1 is not an ormelix-cli recording: no header line")
                                    .arg(FileName);
        return false;
    }
    std::string_view header = head.substr(0, nl);
    if (!header.empty() && header.back() == '\r') header.remove_suffix(1);
    if (header.size() >= 3 && std::memcmp(header.data(), "\xEF\xBB\xBF", 3) == 0)
        header.remove_prefix(3);
    Fields f;
    Split(header, 4096, f);
    const auto& names = ColumnNames();
    if (f.Items.empty() || f.Items[0] != "time" || f.Items.size() < 2 || f.Items[1] != "record") {
        error_ = QStringLiteral("%1 is not an ormelix-cli recording: its header starts with %2")
                     .arg(FileName, Quoted(header.substr(0, 40)));
        return false;
    }
    for (const auto& name : names) {
        bool found = false;
        for (auto item : f.Items) found = found || item == name;
        if (!found) {
            error_ = QStringLiteral("%1 lacks the column %2")
                         .arg(FileName, QString::fromStdString(name));
            return false;
        }
    }
    if (f.Items.size() != names.size() ||
        !std::equal(names.begin(), names.end(), f.Items.begin())) {
        error_ = QStringLiteral("%1: the columns are not in the recorder's order (%2 columns)")
                     .arg(FileName)
                     .arg(f.Items.size());
        return false;
    }
    indexedTo_ = static_cast<qint64>(nl) + 1;
    rows_.reserve(static_cast<size_t>(loaded_ / 1000 + 16));
    return IndexFrom(indexedTo_);
}

bool Recording::IndexFrom(qint64 Offset) {
    return file_.Scan(
        Offset,
        [this, Offset](const char* Data, qint64 Length) {
            const char* p = Data;
            const char* const end = Data + Length;
            while (p < end) {
                const char* nl =
                    static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
                if (!nl) break; // torn: left out until whole
                if (nl > p && !(nl == p + 1 && *p == '\r'))
                    rows_.push_back(static_cast<uint64_t>(Offset + (p - Data)));
                p = nl + 1;
            }
            indexedTo_ = Offset + (p - Data);
        },
        error_);
}

bool Recording::Refresh() {
    const qint64 size = QFileInfo(fileName_).size();
    if (size == loaded_) return true;
    // Whatever fails below leaves no row pointing past what is loaded.
    const auto lost = [this](QString Why) {
        error_ = std::move(Why);
        rows_.clear();
        indexedTo_ = 0;
        loaded_ = 0;
        QString ignored;
        file_.Load(0, ignored);
        return false;
    };
    if (size < loaded_ || !QFileInfo::exists(fileName_))
        return lost(QStringLiteral("%1 was shortened or replaced").arg(fileName_));
    // A file written over by another (same name, new inode) goes unnoticed here; the shorter
    // size catches the usual case, ormelix-cli --force starting anew.
    // Opened again, so that the file's size as Qt knows it covers the new bytes.
    QString why;
    if (!file_.Open(fileName_, why))
        return lost(QStringLiteral("Cannot read %1 again: %2").arg(fileName_, why));
    const qint64 now = file_.Size();
    if (now < indexedTo_)
        return lost(QStringLiteral("%1 was shortened or replaced").arg(fileName_));
    if (!file_.Load(now, why)) return lost(why);
    loaded_ = now;
    if (!IndexFrom(indexedTo_)) return lost(error_);
    return true;
}

std::string_view Recording::Line(size_t Index) const {
    const qint64 start = static_cast<qint64>(rows_.at(Index));
    const qint64 next =
        Index + 1 < rows_.size() ? static_cast<qint64>(rows_[Index + 1]) : indexedTo_;
    std::string_view line = file_.Bytes(start, next);
    line = line.substr(0, line.find('\n'));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

QDateTime Recording::Time(size_t Index) const {
    const std::string_view line = Line(Index);
    const std::string_view time = line.substr(0, line.find(','));
    return QDateTime::fromString(
        QString::fromLatin1(time.data(), static_cast<qsizetype>(time.size())), Qt::ISODateWithMs);
}

Row Recording::Record(size_t Index) const {
    Row row;
    Fields f;
    Split(Line(Index), kColumns + 1, f);
    const auto& names = ColumnNames();
    const auto fail = [&](QString Why) {
        row.Missing = true;
        row.Problem = std::move(Why);
        return row;
    };
    if (!f.Items.empty())
        row.Time = QString::fromUtf8(f.Items[0].data(), static_cast<qsizetype>(f.Items[0].size()));
    row.When = QDateTime::fromString(row.Time, Qt::ISODateWithMs);
    if (f.Items.size() != kColumns)
        return fail(QStringLiteral("%1 fields instead of %2").arg(f.Items.size()).arg(kColumns));
    const auto counter = WholeNumber<uint64_t>(f.Items[1]);
    const auto scale = RawByte(f.Items[2]);
    const auto cursor = RawByte(f.Items[3]);
    if (!counter) return fail(QStringLiteral("record %1 is not a number").arg(Quoted(f.Items[1])));
    row.Counter = *counter;
    if (!scale) return fail(QStringLiteral("scale %1 is not a byte").arg(Quoted(f.Items[2])));
    if (!cursor) return fail(QStringLiteral("cursor %1 is not a byte").arg(Quoted(f.Items[3])));
    row.Bytes[instrument::ScaleByte] = *scale;
    row.Bytes[instrument::CursorPos] = *cursor;
    // The recorder writes a file in one form: volts have a decimal point, or are empty at scale 0.
    const std::string_view first = f.Items[4];
    const bool volts = first.empty() || first.find('.') != std::string_view::npos;
    if (volts && *scale == 0) return fail(QStringLiteral("scale 0: the row carries no volts"));
    for (int c = 4; c < kColumns; ++c) {
        const auto byte = volts ? VoltsToByte(f.Items[c], *scale) : RawByte(f.Items[c]);
        if (!byte)
            return fail(QStringLiteral("%1 %2 is not %3")
                            .arg(QString::fromStdString(names[c]), Quoted(f.Items[c]),
                                 volts
                                     ? QStringLiteral("the volts of a byte at scale %1").arg(*scale)
                                     : QStringLiteral("a byte")));
        row.Bytes[ValueByte(c)] = *byte;
    }
    return row;
}

Summary Recording::Extremes(size_t Index) const {
    Summary s;
    Fields f;
    Split(Line(Index), kFixedColumns + 1, f);
    if (f.Items.size() < kFixedColumns + 1) return s;
    const auto scale = RawByte(f.Items[2]);
    if (!scale || *scale == 0) return s;
    s.Scale = *scale;
    const bool volts = f.Items[4].find('.') != std::string_view::npos;
    for (int k = 0; k < 4; ++k) {
        const auto byte = volts ? VoltsToByte(f.Items[4 + k], *scale) : RawByte(f.Items[4 + k]);
        if (!byte) return s;
        s.Extremes[k] = *byte;
    }
    s.Valid = true;
    return s;
}

std::optional<size_t> FindNextCrossing(const std::function<Summary(size_t)>& Extremes, size_t Count,
                                       size_t From, const long double (&Levels)[2],
                                       const std::atomic<bool>* Stop) {
    if (Count == 0 || From + 1 >= Count) return {};
    Summary before = Extremes(From);
    for (size_t i = From + 1; i < Count; ++i) {
        if (Stop && (i & 1023) == 0 && Stop->load()) return {};
        const Summary now = Extremes(i);
        if (now.Valid && before.Valid) {
            for (int k = 0; k < 4; ++k)
                for (const long double level : Levels) {
                    const bool was =
                        instrument::ByteVolts(before.Extremes[k], before.Scale) >= level;
                    const bool is = instrument::ByteVolts(now.Extremes[k], now.Scale) >= level;
                    if (was != is) return i;
                }
        }
        before = now;
    }
    return {};
}

} // namespace replay
