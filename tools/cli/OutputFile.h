// The operating system's side of the recorder's output: one file, FIFO, device or standard
// output, written a whole row at a time. Everything the row file decides (which rows, what to
// cut, when to sync) stays in RowFile; this class only does what the system is asked. The loops
// that write and read are OutputFile.cpp; each system's calls are OutputFilePosix.cpp and
// OutputFileWindows.cpp (CreateFileW, LockFileEx, WriteFile, FlushFileBuffers and the file id
// for the identity check).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace cli {

// Set by a signal or console-control handler: a write waiting on a full pipe gives up.
extern std::atomic<bool> StopRequested;

class OutputFile {
public:
    enum class How {
        CreateNew, // refuse an existing regular file
        Replace,   // empty an existing regular file (once it is ours alone)
        Append,    // keep what is there; writes go to the end
    };
    enum class Outcome { Written, Failed, Stopped };

    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // A regular file at Path is locked for this writer alone: a second writer is refused. An
    // existing FIFO or device is written to as it is, whatever How says; a FIFO that no process
    // reads is refused. Null, with Error set, when the output cannot be used.
    static std::unique_ptr<OutputFile> OpenPath(const std::string& Path, How Mode,
                                                std::string& Error);
    static std::unique_ptr<OutputFile> OpenStandardOutput(std::string& Error);

    // A regular file: it is synced, can be read back and cut.
    bool IsRegular() const;
    // Its size when it was opened (0 for anything else).
    uint64_t SizeAtOpen() const;

    // Count bytes from Offset; false at a short read.
    bool ReadAt(uint64_t Offset, size_t Count, std::string& Into, std::string& Error);
    // Writes all of Bytes, in one system write where it fits (a pipe takes up to its atomic size
    // whole or not at all). Waits for a full pipe until StopRequested (Stopped, nothing more
    // written). Done tells how much reached the output when it Failed.
    Outcome Write(std::string_view Bytes, size_t& Done, std::string& Error);
    bool Truncate(uint64_t Size, std::string& Error);
    // The data on the disk (regular files; others need nothing).
    bool Flush(std::string& Error);
    // The file opened is still the one at its path (regular files opened by path).
    bool StillAtPath(std::string& Error) const;
    // The pipe or FIFO has lost its last reader.
    bool ReaderGone() const;

private:
    struct Native;
    // What one system write or read did: Count bytes moved (0 from a read: the end of the file),
    // try again, a stop request came first, or failed with the system's Error.
    struct Transfer {
        enum class Kind { Moved, Again, Stopped, Failed };
        Kind How = Kind::Moved;
        size_t Count = 0;
        int Error = 0;
    };

    OutputFile();
    // Each system's side of OpenPath (at path_) and OpenStandardOutput; false with Error set.
    bool OpenNative(How Mode, std::string& Error);
    bool UseStandardOutput(std::string& Error);
    // Each system's side of Write: waits for room where the output needs it, then one write of
    // as much of Bytes as the system takes (never none: that Failed, as a full disk).
    Transfer WriteSome(std::string_view Bytes);
    Transfer ReadSome(uint64_t Offset, char* Into, size_t Count);
    // The file at path_ is the one opened.
    bool SameFileAtPath() const;

    // Closes what it holds, so an open that fails half-way leaves nothing open.
    std::unique_ptr<Native> native_;
    std::string path_; // empty: standard output
    bool regular_ = false;
    uint64_t sizeAtOpen_ = 0;
};

// Why a system call failed, in the words the messages use.
std::string SystemReason(int Error);

} // namespace cli
