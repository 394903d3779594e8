#include "tools/cli/RowFile.h"

#include "tools/cli/Csv.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>
#include <vector>

namespace cli {

namespace {

// How much of an appended file's end is read: far more than the last row and a torn one.
constexpr uint64_t kTailBytes = 64 * 1024;

bool IsRawRow(const std::vector<std::string>& Fields) {
    return IsRawField(Fields.at(4));
}

std::optional<uint64_t> Counter(const std::string& Field) {
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(Field.data(), Field.data() + Field.size(), value);
    if (Field.empty() || ec != std::errc() || end != Field.data() + Field.size())
        return std::nullopt;
    return value;
}

} // namespace

RowFile::~RowFile() {
    std::string ignored;
    Close(ignored);
}

bool RowFile::Open(const std::string& Path, Mode How, bool Raw, std::string& Error) {
    path_ = Path;
    out_ = OutputFile::OpenPath(Path,
                                How == Mode::Create      ? OutputFile::How::CreateNew
                                : How == Mode::Overwrite ? OutputFile::How::Replace
                                                         : OutputFile::How::Append,
                                Error);
    if (!out_) return false;
    ownFile_ = out_->IsRegular();
    size_ = out_->SizeAtOpen();
    if (How == Mode::Append && size_ > 0) return ReadExisting(Raw, Error);
    return Write(CsvHeader(), Error) == Result::Written;
}

bool RowFile::ReadExisting(bool Raw, std::string& Error) {
    // The header, with either line end.
    const std::string_view header(CsvHeader().data(), CsvHeader().size() - 2);
    std::string head;
    if (!out_->ReadAt(0, static_cast<size_t>(std::min<uint64_t>(size_, header.size() + 2)), head,
                      Error))
        return false;
    uint64_t headerEnd = 0;
    if (head.compare(0, header.size(), header) == 0) {
        if (head.compare(header.size(), 2, "\r\n") == 0)
            headerEnd = header.size() + 2;
        else if (head.compare(header.size(), 1, "\n") == 0)
            headerEnd = header.size() + 1;
    }
    if (headerEnd == 0) {
        Error =
            path_ + " does not start with the header of ormelix-cli's rows: not appending to it";
        return false;
    }
    const uint64_t from = std::max(headerEnd, size_ > kTailBytes ? size_ - kTailBytes : 0);
    std::string tail;
    if (!out_->ReadAt(from, static_cast<size_t>(size_ - from), tail, Error)) return false;

    // A run that was killed in the middle of a write may have left part of a row; anything
    // longer than one row is not that, and is left for a person to look at.
    const size_t lastEnd = tail.rfind('\n');
    const uint64_t complete = lastEnd == std::string::npos ? from : from + lastEnd + 1;
    const uint64_t torn = size_ - complete;
    if (torn >= CsvMaxRowBytes) {
        Error = path_ + " ends with " + std::to_string(torn) +
                " bytes that are not a whole row, more than one row can be: not appending to it";
        return false;
    }
    if (complete == headerEnd) return Truncated(complete, torn, Error);

    // The last whole row: LF or CRLF, as another tool may have added rows.
    const size_t start = lastEnd == 0 ? std::string::npos : tail.rfind('\n', lastEnd - 1);
    if (start == std::string::npos && from != headerEnd) {
        Error = "the last row of " + path_ +
                " is longer than any row of ormelix-cli: not "
                "appending to it";
        return false;
    }
    const size_t rowStart = start == std::string::npos ? 0 : start + 1;
    std::string_view line = std::string_view(tail).substr(rowStart, lastEnd - rowStart);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::vector<std::string> last = CsvFields(line);
    if (last.size() != CsvColumns) {
        Error = "the last row of " + path_ + " does not have " + std::to_string(CsvColumns) +
                " fields: not appending to it";
        return false;
    }
    const auto counter = Counter(last[1]);
    if (!counter) {
        Error = "the last row of " + path_ + " has no record counter (\"" + last[1] +
                "\"): not appending to it";
        return false;
    }
    if (IsRawRow(last) != Raw) {
        Error = path_ + (Raw ? " holds volts" : " holds raw bytes") + ": append to it " +
                (Raw ? "without" : "with") + " --raw";
        return false;
    }
    lastCounter_ = *counter;
    return Truncated(complete, torn, Error);
}

bool RowFile::Truncated(uint64_t Complete, uint64_t Torn, std::string& Error) {
    if (Torn == 0) return true;
    std::string reason;
    if (!out_->Truncate(Complete, reason)) {
        Error = "cannot cut the incomplete last row off " + path_ + ": " + reason;
        return false;
    }
    cutBytes_ = Torn;
    size_ = Complete;
    return true;
}

bool RowFile::OpenStandardOutput(std::string& Error) {
    path_ = "standard output";
    out_ = OutputFile::OpenStandardOutput(Error);
    if (!out_) return false;
    return Write(CsvHeader(), Error) == Result::Written;
}

RowFile::Result RowFile::Write(const std::string& Row, std::string& Error) {
    if (!out_) {
        Error = "the file is not open";
        return Result::Failed;
    }
    size_t done = 0;
    std::string reason;
    const OutputFile::Outcome outcome = out_->Write(Row, done, reason);
    if (outcome == OutputFile::Outcome::Stopped) return Result::Stopped;
    if (outcome == OutputFile::Outcome::Failed) {
        Error = "cannot write to " + path_ + ": " + reason;
        std::string ignored;
        if (done > 0 && (!ownFile_ || !out_->Truncate(size_, ignored)))
            Error += "; its last row is incomplete";
        return Result::Failed;
    }
    size_ += Row.size();
    dirty_ = true;
    return Result::Written;
}

int RowFile::MillisecondsToSync() const {
    if (!dirty_ || !IsRegular()) return -1;
    const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - lastSync_);
    return since.count() >= 1000 ? 0 : static_cast<int>(1000 - since.count());
}

bool RowFile::Sync(std::string& Error) {
    if (!out_ || !out_->IsRegular()) return true;
    if (dirty_) {
        std::string reason;
        if (!out_->Flush(reason)) {
            Error = "cannot sync " + path_ + ": " + reason;
            return false;
        }
        dirty_ = false;
        lastSync_ = std::chrono::steady_clock::now();
    }
    return !ownFile_ || out_->StillAtPath(Error);
}

bool RowFile::ReaderStays(std::string& Error) const {
    if (!out_ || !out_->ReaderGone()) return true;
    Error = "the reader of " + path_ + " went away";
    return false;
}

bool RowFile::Close(std::string& Error) {
    if (!out_) return true;
    bool ok = true;
    std::string reason;
    if (dirty_ && !out_->Flush(reason)) {
        Error = "cannot sync " + path_ + ": " + reason;
        ok = false;
    }
    out_.reset();
    dirty_ = false;
    return ok;
}

} // namespace cli
