#include "tools/cli/Csv.h"

#include "instrument/Protocol.h"

#include <array>
#include <charconv>
#include <ctime>

namespace cli {

namespace {

void AppendNumber(std::string& Row, uint64_t Value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, Value).ptr;
    Row.append(digits, end);
}

} // namespace

const std::string& CsvHeader() {
    static const std::string header = [] {
        std::string h = "time,record,scale,cursor";
        for (const LevelColumn& level : LevelColumns) {
            h += ',';
            h += level.Name;
        }
        for (int signal = 1; signal <= 2; ++signal)
            for (int i = 0; i < instrument::SamplePoints; ++i)
                h += ",s" + std::to_string(signal) + "_" + std::to_string(i);
        return h + "\r\n";
    }();
    return header;
}

std::string IsoTime(std::chrono::system_clock::time_point When) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(When.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    int millis = static_cast<int>(ms % 1000);
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
    std::tm asUtc = local;
    const long offset = static_cast<long>(_mkgmtime(&asUtc) - seconds);
#else
    localtime_r(&seconds, &local);
    const long offset = local.tm_gmtoff;
#endif
    const long absOffset = offset < 0 ? -offset : offset;
    char text[48];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d%c%02ld:%02ld", millis, offset < 0 ? '-' : '+',
                  absOffset / 3600, absOffset / 60 % 60);
    return text;
}

void AppendVolts(std::string& Row, uint8_t Value, uint8_t Scale) {
    if (Scale == 0) return;
    char digits[32];
    const auto end =
        std::to_chars(digits, digits + sizeof digits, instrument::ByteVolts(Value, Scale),
                      std::chars_format::fixed, VoltDecimals)
            .ptr;
    Row.append(digits, end);
}

std::string CsvRow(std::string_view Time, uint64_t Counter, const uint8_t* Record, bool Raw) {
    using namespace instrument;
    std::string row;
    row.reserve(4096);
    row.append(Time);
    row += ',';
    AppendNumber(row, Counter);
    row += ',';
    AppendNumber(row, Record[ScaleByte]);
    row += ',';
    AppendNumber(row, Record[CursorPos]);
    // The 256 volt texts of a scale, made again only when the scale changes: formatting 246
    // extended-precision values per row would cost more than the rest of the row.
    thread_local int cachedScale = -1;
    thread_local std::array<std::string, 256> volts;
    const uint8_t scale = Record[ScaleByte];
    if (!Raw && cachedScale != scale) {
        for (int b = 0; b < 256; ++b) {
            volts[b].clear();
            AppendVolts(volts[b], static_cast<uint8_t>(b), scale);
        }
        cachedScale = scale;
    }
    const auto field = [&](int Byte) {
        row += ',';
        if (Raw)
            AppendNumber(row, Record[Byte]);
        else
            row += volts[Record[Byte]];
    };
    for (const LevelColumn& level : LevelColumns) field(level.Byte);
    for (int signal = 0; signal < 2; ++signal)
        for (int i = 0; i < SamplePoints; ++i) field(SampleByte(signal, i));
    row += "\r\n";
    return row;
}

std::vector<std::string> CsvFields(std::string_view Line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < Line.size(); ++i) {
        const char c = Line[i];
        if (quoted) {
            if (c != '"')
                fields.back() += c;
            else if (i + 1 < Line.size() && Line[i + 1] == '"')
                fields.back() += Line[++i];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

} // namespace cli
