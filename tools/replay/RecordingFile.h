// Only tools/replay/ uses this header. A recording's bytes as the reader sees them.
//
// On Linux the file stays mapped and a row is a view into the mapping. On Windows a mapped view
// keeps the writer from shortening the file, which ormelix-cli does while it may be watched (a
// new recording with --force, a torn row cut back, a row that could not be written whole taken
// back): there the file is mapped only while new rows are searched for, and a row is read when
// it is wanted.
#pragma once

#include <QFile>
#include <QString>
#include <functional>
#include <string>
#include <string_view>

namespace replay {

class RecordingFile {
public:
    RecordingFile() = default;
    RecordingFile(const RecordingFile&) = delete;
    RecordingFile& operator=(const RecordingFile&) = delete;
    ~RecordingFile();

    // Opened (again) for reading; what was loaded is let go.
    bool Open(const QString& Path, QString& Error);
    // The open file's size now.
    qint64 Size() const { return file_.size(); }
    // Makes the first Size bytes readable; 0 lets go of everything.
    bool Load(qint64 Size, QString& Error);
    // Body sees the loaded bytes from From on, which start at Data.
    bool Scan(qint64 From, const std::function<void(const char* Data, qint64 Length)>& Body,
              QString& Error);
    // The loaded bytes [From, To); valid until the next call.
    std::string_view Bytes(qint64 From, qint64 To) const;
    // Bytes of the file held mapped.
    qint64 MappedBytes() const;

private:
    QFile file_;
    qint64 loaded_ = 0;
    const char* data_ = nullptr; // the whole mapping, where it is kept
    mutable std::string buffer_; // the last bytes read, where it is not
};

} // namespace replay
