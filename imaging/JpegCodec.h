// What the encoder, the decoder and the picture class share; not part of the imaging interface.
#pragma once

#include "imaging/jpeg.h"

#include <QByteArray>
#include <QImage>
#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <exception>
#include <optional>

extern "C" {
#include <jpeglib.h>
// jerror.h needs jpeglib.h first.
#include <jerror.h>
}

static_assert(JPEG_LIB_VERSION == 62, "the encoder is written for the version 62 interface");
static_assert(JERR_FILE_WRITE == 37, "a failed store is reported as library error 37");

namespace jpegcodec {

constexpr std::size_t kBlockSize = 4096;

// How the bitmap's rows reach the library: the 24-bit copy keeps the screen's blue-green-red
// order and the library is told so.
struct TRowLayout {
    QImage::Format Format;
    int Components;
    J_COLOR_SPACE Space;
};

#ifdef JCS_EXTENSIONS
constexpr TRowLayout kRows24{QImage::Format_BGR888, 3, JCS_EXT_BGR};

// Decoded colour goes straight into 0xffRRGGBB pixels (the library fills the alpha byte).
constexpr QImage::Format kDecodedFormat = QImage::Format_RGB32;
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr J_COLOR_SPACE kDecodedSpace = JCS_EXT_BGRA;
#else
constexpr J_COLOR_SPACE kDecodedSpace = JCS_EXT_ARGB;
#endif

// 32-bit pixels with the colour in the low three bytes (alpha, if any, is ignored, as the
// conversion to 24 bits would) go in as they are, which spares the copy and conversion.
inline std::optional<TRowLayout> DirectLayout(QImage::Format Format) {
    if (Format != QImage::Format_RGB32 && Format != QImage::Format_ARGB32) return std::nullopt;
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    return TRowLayout{Format, 4, JCS_EXT_BGRX};
#else
    return TRowLayout{Format, 4, JCS_EXT_XRGB};
#endif
}
#else
// A library without the extended colour spaces wants red first: convert straight to that order.
constexpr TRowLayout kRows24{QImage::Format_RGB888, 3, JCS_RGB};
constexpr QImage::Format kDecodedFormat = QImage::Format_RGB888;
constexpr J_COLOR_SPACE kDecodedSpace = JCS_RGB;

inline std::optional<TRowLayout> DirectLayout(QImage::Format) {
    return std::nullopt;
}
#endif

// Growing store of the encoded bytes. A store that takes fewer bytes than offered fails the
// encoding, so nothing here may throw into the library.
class TMemoryStream {
public:
    explicit TMemoryStream(qsizetype Limit) : FLimit(Limit) {}

    qsizetype Write(const void* Data, qsizetype Size) noexcept {
        const qsizetype room =
            FLimit > 0 ? std::clamp<qsizetype>(FLimit - FBytes.size(), 0, Size) : Size;
        try {
            FBytes.append(static_cast<const char*>(Data), room);
        } catch (...) {
            return 0;
        }
        return room;
    }

    QByteArray Take() { return std::move(FBytes); }

private:
    qsizetype FLimit;
    QByteArray FBytes;
};

struct TDestination {
    jpeg_destination_mgr Pub;
    TMemoryStream* Stream;
    JOCTET* Buffer;
};

// What a decoding is asked for; compared to tell whether decoded pixels can be shared.
struct TDecodeSettings {
    TJPEGScale Scale;
    bool Gray;
    TJPEGPixelFormat PixelFormat;
    TJPEGPerformance Performance;
    bool Smoothing;
    bool operator==(const TDecodeSettings&) const = default;
};

// How the decoded rows are laid out: the library writes straight into the bitmap's rows.
enum class TOutput { Gray, Colour, Cmyk, Indexed };

} // namespace jpegcodec

// The library's progress hook extended with the image to report to and its own counters. Reports
// at most once a ProgressInterval (the first call only notes the time), and only a changed whole
// percentage.
struct TJPEGProgress {
    jpeg_progress_mgr Pub{};
    TJPEGImage* Image = nullptr;
    int LastPercent = 0;
    bool TimeRecorded = false;
    std::chrono::steady_clock::time_point LastTick;
    // What the progress callback threw; the library is left before it is raised again.
    std::exception_ptr Pending;

    // False when the callback threw.
    bool Report() noexcept;
};

// The error manager both directions install: the library's error exit and a progress callback
// that threw leave by longjmp to the frame in Guarded, with the library's code kept for the
// exception; its messages are not printed (the code says what went wrong). The encoder and the
// decoder derive from it and find themselves through the library's client_data.
struct TJPEGErrorTrap {
    jpeg_error_mgr Error{};
    TJPEGProgress Progress;
    std::jmp_buf Jump{};
    int ErrorCode = 0;

    // Info is the library state of either direction; Reporter, when given, hears its progress.
    template <class TInfo> void Install(TInfo& Info, TJPEGImage* Reporter) {
        Info.err = jpeg_std_error(&Error);
        Error.error_exit = ErrorExit;
        Error.emit_message = EmitMessage;
        Error.output_message = OutputMessage;
        Error.format_message = FormatMessageText;
        Error.reset_error_mgr = ResetErrorMgr;
        // Kept by jpeg_Create*; every callback finds its encoder or decoder through it.
        Info.client_data = this;
        Progress.Pub.progress_monitor = ProgressMonitor;
        Progress.Image = Reporter;
    }
    // Runs Step with the error exit armed and answers whether it got through. The library leaves
    // by longjmp to this frame, so neither Step nor anything it calls may hold an object with a
    // destructor across a library call.
    template <class F> bool Guarded(const F& Step) {
        if (setjmp(Jump) != 0) return false;
        Step();
        return true;
    }
    // Leaves the library call in progress, failing it with Code.
    [[noreturn]] void Leave(int Code) {
        ErrorCode = Code;
        std::longjmp(Jump, 1);
    }
    // The exception for the failure Guarded reported: what the progress callback threw, or EJPEG.
    [[noreturn]] void Fail() const {
        if (Progress.Pending) std::rethrow_exception(Progress.Pending);
        throw EJPEG(ErrorCode);
    }

    // Info: the library state of either direction, or the common part both start with.
    template <class TInfoPtr> static TJPEGErrorTrap& Trap(TInfoPtr Info) {
        return *static_cast<TJPEGErrorTrap*>(Info->client_data);
    }
    [[noreturn]] static void ErrorExit(j_common_ptr Info) { Trap(Info).Leave(Info->err->msg_code); }
    static void EmitMessage(j_common_ptr, int) {}
    static void OutputMessage(j_common_ptr) {}
    static void FormatMessageText(j_common_ptr, char* Buffer) { Buffer[0] = '\0'; }
    static void ResetErrorMgr(j_common_ptr Info) {
        Info->err->num_warnings = 0;
        Info->err->msg_code = 0;
    }
    static void ProgressMonitor(j_common_ptr Info) {
        TJPEGErrorTrap& t = Trap(Info);
        if (!t.Progress.Report()) std::longjmp(t.Jump, 1);
    }
};

// One encoding: the library state and everything its callbacks reach. Lives in the frame that
// started the encoding, outside the stretch that longjmp skips.
struct TJPEGEncoder : TJPEGErrorTrap {
    jpeg_compress_struct Info{};
    jpegcodec::TDestination Dest{};
    TJPEGImage& Image;
    jpegcodec::TMemoryStream Stream;
    QImage Rows;

    explicit TJPEGEncoder(TJPEGImage& Owner);
    TJPEGEncoder(const TJPEGEncoder&) = delete;
    TJPEGEncoder& operator=(const TJPEGEncoder&) = delete;
    ~TJPEGEncoder() { jpeg_destroy(reinterpret_cast<j_common_ptr>(&Info)); }

    void Create();
    void Configure(int Quality, bool Gray, bool Progressive);
    void Run();

    static TJPEGEncoder& Of(j_compress_ptr Info) { return static_cast<TJPEGEncoder&>(Trap(Info)); }

    static void InitDestination(j_compress_ptr Info);
    static boolean EmptyOutputBuffer(j_compress_ptr Info);
    static void TermDestination(j_compress_ptr Info);
};

// One decoding (or header reading) of held bytes. Like the encoder, it lives in the frame that
// runs it, and the library leaves its calls by longjmp into Guarded.
struct TJPEGDecoder : TJPEGErrorTrap {
    jpeg_source_mgr Source{};
    jpeg_decompress_struct Info{};
    const QByteArray Bytes;
    jpegcodec::TOutput Output = jpegcodec::TOutput::Colour;
    jpegcodec::TDecodeSettings Wanted{};
    std::array<QRgb, 256> Colours{};
    int ColourCount = 0;
    // Four channels stored the Adobe way, 255 meaning no ink.
    bool InvertedInks = false;
    QImage Rows;

    // Reporter, when given, hears the library's progress while Decode runs.
    explicit TJPEGDecoder(const QByteArray& Data, TJPEGImage* Reporter = nullptr);
    TJPEGDecoder(const TJPEGDecoder&) = delete;
    TJPEGDecoder& operator=(const TJPEGDecoder&) = delete;
    ~TJPEGDecoder() { jpeg_destroy(reinterpret_cast<j_common_ptr>(&Info)); }

    void ReadHeader();
    // EJPEG JERR_IMAGE_TOO_BIG when the header announces more than MaxPixels (0: no limit).
    void CheckSize(std::int64_t MaxPixels) const;
    bool HasMultipleScans();
    void Configure(const jpegcodec::TDecodeSettings& Settings);
    // Pass, when given, sees the picture after each scan of a multi-scan file (not for 8-bit or
    // CMYK output) with the share of the bytes read so far.
    QImage Decode(const std::function<void(const QImage&, int)>& Pass = {});

    static TJPEGDecoder& Of(j_decompress_ptr Info) {
        return static_cast<TJPEGDecoder&>(Trap(Info));
    }
    static void EmitMessage(j_common_ptr Info, int Level);
    static void InitSource(j_decompress_ptr) {}
    static boolean FillInputBuffer(j_decompress_ptr Info);
    static void SkipInputData(j_decompress_ptr Info, long Count);
    static void TermSource(j_decompress_ptr) {}
};
