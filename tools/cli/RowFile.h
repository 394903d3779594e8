// Where the recorder's rows go: a file that holds only whole rows. Each row reaches the file in
// one write and is cut back out when it could not be written whole (a full disk), so the file
// always ends with a complete row; it is synced at least once a second. One writer at a time:
// a file another run writes to is refused.
#pragma once

#include "tools/cli/OutputFile.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace cli {

class RowFile {
public:
    enum class Mode {
        Create,    // refuse an existing file
        Overwrite, // replace an existing file
        Append,    // add to an existing file whose header matches (or create it)
    };
    enum class Result { Written, Failed, Stopped };

    RowFile() = default;
    ~RowFile();
    RowFile(const RowFile&) = delete;
    RowFile& operator=(const RowFile&) = delete;

    // Opens Path and writes the header unless appending to rows already there. Raw tells which
    // kind of rows the run writes, so that a file of the other kind is not appended to. False,
    // with Error set, when the file cannot be used. Appending reads only the header and the
    // file's last KiBs, whatever its size.
    bool Open(const std::string& Path, Mode How, bool Raw, std::string& Error);
    // Standard output (a pipe or terminal is not synced).
    bool OpenStandardOutput(std::string& Error);

    // The record counter of the last row already in an appended file, else 0.
    uint64_t LastCounter() const { return lastCounter_; }
    // Set when an appended file ended with an incomplete row that was cut off: its size.
    uint64_t CutBytes() const { return cutBytes_; }

    // Writes one whole row. On failure the file is cut back to the rows before it and Error says
    // why (full disk, I/O error, a reader gone). Stopped: a stop was asked for while the row
    // waited for a full pipe; nothing of it was written.
    Result Write(const std::string& Row, std::string& Error);
    // Syncs when rows were written since the last sync, and checks that the file is still the
    // one at its path (a removed or renamed folder takes everything written after with it).
    bool Sync(std::string& Error);
    // Milliseconds until a sync is due, or -1 when nothing waits for one.
    int MillisecondsToSync() const;
    // A pipe or FIFO whose reader left: false with Error set.
    bool ReaderStays(std::string& Error) const;
    bool Close(std::string& Error);

    const std::string& Path() const { return path_; }
    bool IsRegular() const { return out_ && out_->IsRegular(); }

private:
    bool ReadExisting(bool Raw, std::string& Error);
    // Cuts a torn tail of Torn bytes off at Complete.
    bool Truncated(uint64_t Complete, uint64_t Torn, std::string& Error);

    std::unique_ptr<OutputFile> out_;
    std::string path_;
    bool ownFile_ = false; // opened here, so it may be cut back
    bool dirty_ = false;
    uint64_t size_ = 0;
    uint64_t lastCounter_ = 0;
    uint64_t cutBytes_ = 0;
    std::chrono::steady_clock::time_point lastSync_ = std::chrono::steady_clock::now();
};

} // namespace cli
