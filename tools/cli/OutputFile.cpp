#include "tools/cli/OutputFile.h"

namespace cli {

std::atomic<bool> StopRequested{false};

std::unique_ptr<OutputFile> OutputFile::OpenPath(const std::string& Path, How Mode,
                                                 std::string& Error) {
    std::unique_ptr<OutputFile> file(new OutputFile());
    file->path_ = Path;
    // Dropped on failure, and with it whatever the system's side had opened.
    if (!file->OpenNative(Mode, Error)) return nullptr;
    return file;
}

std::unique_ptr<OutputFile> OutputFile::OpenStandardOutput(std::string& Error) {
    std::unique_ptr<OutputFile> file(new OutputFile());
    if (!file->UseStandardOutput(Error)) return nullptr;
    return file;
}

bool OutputFile::IsRegular() const {
    return regular_;
}

uint64_t OutputFile::SizeAtOpen() const {
    return sizeAtOpen_;
}

bool OutputFile::ReadAt(uint64_t Offset, size_t Count, std::string& Into, std::string& Error) {
    Into.assign(Count, '\0');
    size_t got = 0;
    while (got < Count) {
        const Transfer t = ReadSome(Offset + got, Into.data() + got, Count - got);
        if (t.How == Transfer::Kind::Again) continue;
        if (t.How != Transfer::Kind::Moved || t.Count == 0) {
            Error = "cannot read " + path_ + ": ";
            Error += t.How == Transfer::Kind::Failed ? SystemReason(t.Error) : "it shrank";
            return false;
        }
        got += t.Count;
    }
    return true;
}

OutputFile::Outcome OutputFile::Write(std::string_view Bytes, size_t& Done, std::string& Error) {
    Done = 0;
    while (Done < Bytes.size()) {
        const Transfer t = WriteSome(Bytes.substr(Done));
        switch (t.How) {
        case Transfer::Kind::Moved:
            Done += t.Count;
            break;
        case Transfer::Kind::Again:
            break;
        case Transfer::Kind::Stopped:
            return Outcome::Stopped;
        case Transfer::Kind::Failed:
            Error = SystemReason(t.Error);
            return Outcome::Failed;
        }
    }
    return Outcome::Written;
}

bool OutputFile::StillAtPath(std::string& Error) const {
    if (!regular_ || path_.empty() || SameFileAtPath()) return true;
    Error = path_ + " is gone (removed, or its folder removed or renamed): stopping";
    return false;
}

} // namespace cli
