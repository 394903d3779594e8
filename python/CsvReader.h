// python/ only. An ormelix-cli recording read back, volts or raw, into columns the caller
// allocates once the rows are counted: a day-long file is read twice in blocks and never held
// whole.
#pragma once

#include "instrument/Protocol.h"

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace python {

struct CsvError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The file could not be opened or read.
struct CsvFileError : std::runtime_error {
    CsvFileError(int Errno, const std::string& Path)
        : std::runtime_error(Path), Errno(Errno), Path(Path) {}
    int Errno;
    std::string Path;
};

// Where the rows go, row after row; the level and trace columns hold double volts (NaN for an
// empty field, a record at scale 0) or, for a raw file, uint8 bytes.
struct CsvColumns {
    int64_t* Time;    // milliseconds since 1970 UTC
    uint64_t* Record; // the record counter
    uint8_t* Scale;
    uint8_t* Cursor;
    void* Levels[4]; // min_s1, max_s1, min_s2, max_s2
    void* S1;        // rows × SamplePoints
    void* S2;
};

class CsvReader {
public:
    // Reads the header and counts the rows; throws CsvError (a file that is not a recording)
    // or CsvFileError (cannot be read).
    explicit CsvReader(const std::string& Path);
    ~CsvReader();
    CsvReader(const CsvReader&) = delete;
    CsvReader& operator=(const CsvReader&) = delete;

    // At most this many rows (a torn last row without its line end is not one).
    uint64_t Rows() const { return rows_; }
    bool Raw() const { return raw_; }
    // Reads the rows into Into; the count read, at most Rows(). Throws CsvError with the line.
    uint64_t Read(const CsvColumns& Into);

private:
    std::string path_;
    std::FILE* file_ = nullptr;
    uint64_t rows_ = 0;
    bool raw_ = false;
};

// "2026-12-09T06:01:02.345+01:00" as milliseconds since 1970 UTC; false when it is not that form.
bool ParseIsoTime(const char* First, const char* Last, int64_t& Ms);

} // namespace python
