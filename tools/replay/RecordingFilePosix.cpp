#include "tools/replay/RecordingFile.h"

#include <sys/stat.h>

namespace replay {

namespace {

// The file's size now, straight from the descriptor: asked for every row read, where QFile's own
// bookkeeping would double the overview's time.
qint64 SizeNow(const QFile& File) {
    struct stat st {};
    return ::fstat(File.handle(), &st) == 0 ? static_cast<qint64>(st.st_size) : -1;
}

} // namespace

RecordingFile::~RecordingFile() {
    QString ignored;
    Load(0, ignored);
}

bool RecordingFile::Open(const QString& Path, QString& Error) {
    Load(0, Error);
    file_.close();
    file_.setFileName(Path);
    if (file_.open(QIODevice::ReadOnly)) return true;
    Error = file_.errorString();
    return false;
}

bool RecordingFile::Load(qint64 Size, QString& Error) {
    if (data_) file_.unmap(reinterpret_cast<uchar*>(const_cast<char*>(data_)));
    data_ = nullptr;
    loaded_ = 0;
    if (Size == 0) return true;
    uchar* p = file_.map(0, Size);
    if (!p) {
        Error = QStringLiteral("Cannot map %1: %2").arg(file_.fileName(), file_.errorString());
        return false;
    }
    data_ = reinterpret_cast<const char*>(p);
    loaded_ = Size;
    return true;
}

// Mapped pages past the file's end fault (SIGBUS) when touched. A file cut back under the mapping
// (ormelix-cli --force, a torn row taken back) shows no bytes until it is opened again, which the
// window's next poll does.
bool RecordingFile::Scan(qint64 From, const std::function<void(const char*, qint64)>& Body,
                         QString&) {
    if (From < loaded_ && SizeNow(file_) >= loaded_) Body(data_ + From, loaded_ - From);
    return true;
}

std::string_view RecordingFile::Bytes(qint64 From, qint64 To) const {
    if (To > loaded_ || SizeNow(file_) < To) return {};
    return std::string_view(data_ + From, static_cast<size_t>(To - From));
}

qint64 RecordingFile::MappedBytes() const {
    return loaded_;
}

} // namespace replay
