// Shared pieces of the fuzz targets: a Qt application on the offscreen platform made once per
// process, and a reader that takes typed values off the fuzzer's bytes.
#pragma once

#include <QApplication>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace fuzz {

inline QApplication& App() {
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Consumes the input front to back; past the end every read gives zeros.
class Bytes {
public:
    Bytes(const uint8_t* Data, size_t Size) : data_(Data), size_(Size) {}
    bool Empty() const { return pos_ >= size_; }
    size_t Left() const { return Empty() ? 0 : size_ - pos_; }
    uint8_t Byte() { return Empty() ? 0 : data_[pos_++]; }
    uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
    bool Bit() { return (Byte() & 1) != 0; }
    // Up to Max bytes.
    std::string Chunk(size_t Max) {
        const size_t n = std::min(Max, Left());
        std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return s;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// A broken invariant: say which and abort, so that libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* What) {
    std::fprintf(stderr, "invariant broken: %s\n", What);
    std::abort();
}

} // namespace fuzz
