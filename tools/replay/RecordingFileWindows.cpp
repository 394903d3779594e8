#include "tools/replay/RecordingFile.h"

#include <algorithm>

namespace replay {

RecordingFile::~RecordingFile() = default;

bool RecordingFile::Open(const QString& Path, QString& Error) {
    loaded_ = 0;
    file_.close();
    file_.setFileName(Path);
    // Unbuffered: a row is read where the file is now, never from an earlier read's buffer.
    if (file_.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return true;
    Error = file_.errorString();
    return false;
}

bool RecordingFile::Load(qint64 Size, QString&) {
    loaded_ = Size;
    return true;
}

bool RecordingFile::Scan(qint64 From, const std::function<void(const char*, qint64)>& Body,
                         QString& Error) {
    if (From >= loaded_) return true;
    uchar* p = file_.map(From, loaded_ - From);
    if (!p) {
        Error = QStringLiteral("Cannot map %1: %2").arg(file_.fileName(), file_.errorString());
        return false;
    }
    Body(reinterpret_cast<const char*>(p), loaded_ - From);
    file_.unmap(p);
    return true;
}

std::string_view RecordingFile::Bytes(qint64 From, qint64 To) const {
    auto& file = const_cast<QFile&>(file_);
    buffer_.resize(static_cast<size_t>(To - From));
    qint64 got = 0;
    if (file.seek(From)) got = file.read(buffer_.data(), To - From);
    // A file shortened under us reads short: the rest is not a row.
    buffer_.resize(static_cast<size_t>(std::max<qint64>(got, 0)));
    return buffer_;
}

qint64 RecordingFile::MappedBytes() const {
    return 0;
}

} // namespace replay
