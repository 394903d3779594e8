#include "imaging/jpeg.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIODevice>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <exception>
#include <new>

extern "C" {
#include <jpeglib.h>
// jerror.h needs jpeglib.h first.
#include <jerror.h>
}

static_assert(JPEG_LIB_VERSION == 62, "the encoder is written for the version 62 interface");
static_assert(JERR_FILE_WRITE == 37, "a failed store is reported as library error 37");

TJPEGDefaults JPEGDefaults;

namespace {

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
std::optional<TRowLayout> DirectLayout(QImage::Format Format) {
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

std::optional<TRowLayout> DirectLayout(QImage::Format) {
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

// Runs Step with the error exit armed and answers whether it got through. The library leaves
// by longjmp to this frame, so neither Step nor anything it calls may hold an object with a
// destructor across a library call.
template <class F> bool Guarded(std::jmp_buf& Jump, const F& Step) {
    if (setjmp(Jump) != 0) return false;
    Step();
    return true;
}

} // namespace

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

bool TJPEGProgress::Report() noexcept {
    try {
        const auto now = std::chrono::steady_clock::now();
        if (!TimeRecorded) {
            TimeRecorded = true;
            LastTick = now;
            return true;
        }
        if (now - LastTick < Image->ProgressInterval()) return true;
        LastTick = now;
        if (Pub.pass_limit <= 0 || Pub.total_passes <= 0) return true;
        const double passes =
            static_cast<double>(Pub.pass_counter) / static_cast<double>(Pub.pass_limit) +
            Pub.completed_passes;
        const int percent = std::clamp(static_cast<int>(passes * 100.0 / Pub.total_passes), 0, 100);
        if (percent == LastPercent) return true;
        LastPercent = percent;
        Image->Progress(psRunning, percent);
    } catch (...) {
        Pending = std::current_exception();
        return false;
    }
    return true;
}

// One encoding: the library state and everything its callbacks reach. Lives in the frame that
// started the encoding, outside the stretch that longjmp skips.
struct TJPEGEncoder {
    jpeg_error_mgr Error{};
    TJPEGProgress Progress;
    jpeg_compress_struct Info{};
    TDestination Dest{};
    std::jmp_buf Jump{};
    int ErrorCode = 0;
    TJPEGImage& Image;
    TMemoryStream Stream;
    QImage Rows;

    explicit TJPEGEncoder(TJPEGImage& Owner);
    TJPEGEncoder(const TJPEGEncoder&) = delete;
    TJPEGEncoder& operator=(const TJPEGEncoder&) = delete;
    ~TJPEGEncoder() { jpeg_destroy(reinterpret_cast<j_common_ptr>(&Info)); }

    void Create();
    void Configure(int Quality, bool Gray, bool Progressive);
    void Run();
    [[noreturn]] void Fail();

    static TJPEGEncoder& Of(j_common_ptr Info) {
        return *static_cast<TJPEGEncoder*>(Info->client_data);
    }
    static TJPEGEncoder& Of(j_compress_ptr Info) {
        return *static_cast<TJPEGEncoder*>(Info->client_data);
    }

    [[noreturn]] static void ErrorExit(j_common_ptr Info);
    static void EmitMessage(j_common_ptr, int) {}
    static void OutputMessage(j_common_ptr) {}
    static void FormatMessageText(j_common_ptr, char* Buffer) { Buffer[0] = '\0'; }
    static void ResetErrorMgr(j_common_ptr Info);
    static void ProgressMonitor(j_common_ptr Info);
    static void InitDestination(j_compress_ptr Info);
    static boolean EmptyOutputBuffer(j_compress_ptr Info);
    static void TermDestination(j_compress_ptr Info);
};

TJPEGEncoder::TJPEGEncoder(TJPEGImage& Owner) : Image(Owner), Stream(Owner.EncodedSizeLimit()) {
    Info.err = jpeg_std_error(&Error);
    Error.error_exit = ErrorExit;
    Error.emit_message = EmitMessage;
    Error.output_message = OutputMessage;
    Error.format_message = FormatMessageText;
    Error.reset_error_mgr = ResetErrorMgr;
    // Kept by jpeg_CreateCompress; every callback finds the encoder through it.
    Info.client_data = this;
    Progress.Pub.progress_monitor = ProgressMonitor;
    Progress.Image = &Owner;
    Dest.Pub.init_destination = InitDestination;
    Dest.Pub.empty_output_buffer = EmptyOutputBuffer;
    Dest.Pub.term_destination = TermDestination;
    Dest.Stream = &Stream;
}

void TJPEGEncoder::ErrorExit(j_common_ptr Info) {
    TJPEGEncoder& e = Of(Info);
    e.ErrorCode = Info->err->msg_code;
    std::longjmp(e.Jump, 1);
}

void TJPEGEncoder::ResetErrorMgr(j_common_ptr Info) {
    Info->err->num_warnings = 0;
    Info->err->msg_code = 0;
}

void TJPEGEncoder::ProgressMonitor(j_common_ptr Info) {
    TJPEGEncoder& e = Of(Info);
    if (!e.Progress.Report()) std::longjmp(e.Jump, 1);
}

void TJPEGEncoder::InitDestination(j_compress_ptr Info) {
    TDestination& d = Of(Info).Dest;
    d.Buffer = static_cast<JOCTET*>((*Info->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(Info), JPOOL_IMAGE, kBlockSize * sizeof(JOCTET)));
    d.Pub.next_output_byte = d.Buffer;
    d.Pub.free_in_buffer = kBlockSize;
}

boolean TJPEGEncoder::EmptyOutputBuffer(j_compress_ptr Info) {
    TDestination& d = Of(Info).Dest;
    if (d.Stream->Write(d.Buffer, kBlockSize) != static_cast<qsizetype>(kBlockSize))
        ERREXIT(Info, JERR_FILE_WRITE);
    d.Pub.next_output_byte = d.Buffer;
    d.Pub.free_in_buffer = kBlockSize;
    return TRUE;
}

void TJPEGEncoder::TermDestination(j_compress_ptr Info) {
    TDestination& d = Of(Info).Dest;
    const auto count = static_cast<qsizetype>(kBlockSize - d.Pub.free_in_buffer);
    if (d.Stream->Write(d.Buffer, count) != count) ERREXIT(Info, JERR_FILE_WRITE);
}

void TJPEGEncoder::Create() {
    if (!Guarded(Jump, [this] { jpeg_CreateCompress(&Info, JPEG_LIB_VERSION, sizeof(Info)); }))
        Fail();
    // jpeg_CreateCompress clears everything but the error manager and client_data.
    Info.progress = &Progress.Pub;
    Info.dest = &Dest.Pub;
}

void TJPEGEncoder::Configure(int Quality, bool Gray, bool Progressive) {
    const bool ok = Guarded(Jump, [this, Quality, Gray, Progressive] {
        jpeg_set_defaults(&Info);
        Info.dct_method = JDCT_FLOAT;
        jpeg_set_quality(&Info, Quality, TRUE);
        if (Gray) jpeg_set_colorspace(&Info, JCS_GRAYSCALE);
        if (Progressive) jpeg_simple_progression(&Info);
    });
    if (!ok) Fail();
}

void TJPEGEncoder::Run() {
    jpeg_start_compress(&Info, TRUE);
    const uchar* const top = Rows.constBits();
    const qsizetype stride = Rows.bytesPerLine();
    while (Info.next_scanline < Info.image_height) {
        // The library only reads the rows; its interface just lacks the const.
        JSAMPROW row =
            const_cast<JSAMPROW>(top + static_cast<qsizetype>(Info.next_scanline) * stride);
        jpeg_write_scanlines(&Info, &row, 1);
    }
    jpeg_finish_compress(&Info);
}

void TJPEGEncoder::Fail() {
    if (Progress.Pending) std::rethrow_exception(Progress.Pending);
    throw EJPEG(ErrorCode);
}

namespace {

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

} // namespace

// One decoding (or header reading) of held bytes. Like the encoder, it lives in the frame that
// runs it, and the library leaves its calls by longjmp into Guarded.
struct TJPEGDecoder {
    jpeg_error_mgr Error{};
    TJPEGProgress Progress;
    jpeg_source_mgr Source{};
    jpeg_decompress_struct Info{};
    std::jmp_buf Jump{};
    int ErrorCode = 0;
    const QByteArray Bytes;
    TOutput Output = TOutput::Colour;
    TDecodeSettings Wanted{};
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
    void Configure(const TDecodeSettings& Settings);
    // Pass, when given, sees the picture after each scan of a multi-scan file (not for 8-bit or
    // CMYK output) with the share of the bytes read so far.
    QImage Decode(const std::function<void(const QImage&, int)>& Pass = {});
    [[noreturn]] void Fail() const {
        if (Progress.Pending) std::rethrow_exception(Progress.Pending);
        throw EJPEG(ErrorCode);
    }

    static TJPEGDecoder& Of(j_common_ptr Info) {
        return *static_cast<TJPEGDecoder*>(Info->client_data);
    }
    [[noreturn]] static void ErrorExit(j_common_ptr Info);
    static void EmitMessage(j_common_ptr Info, int Level);
    static void ProgressMonitor(j_common_ptr Info);
    static void InitSource(j_decompress_ptr) {}
    static boolean FillInputBuffer(j_decompress_ptr Info);
    static void SkipInputData(j_decompress_ptr Info, long Count);
    static void TermSource(j_decompress_ptr) {}
};

TJPEGDecoder::TJPEGDecoder(const QByteArray& Data, TJPEGImage* Reporter) : Bytes(Data) {
    Info.err = jpeg_std_error(&Error);
    Error.error_exit = ErrorExit;
    Error.emit_message = EmitMessage;
    Error.output_message = TJPEGEncoder::OutputMessage;
    Error.format_message = TJPEGEncoder::FormatMessageText;
    Error.reset_error_mgr = TJPEGEncoder::ResetErrorMgr;
    Info.client_data = this;
    Progress.Pub.progress_monitor = ProgressMonitor;
    Progress.Image = Reporter;
    Source.init_source = InitSource;
    Source.fill_input_buffer = FillInputBuffer;
    Source.skip_input_data = SkipInputData;
    Source.resync_to_restart = jpeg_resync_to_restart;
    Source.term_source = TermSource;
    Source.next_input_byte = reinterpret_cast<const JOCTET*>(Bytes.constData());
    Source.bytes_in_buffer = static_cast<std::size_t>(Bytes.size());
}

void TJPEGDecoder::ErrorExit(j_common_ptr Info) {
    TJPEGDecoder& d = Of(Info);
    d.ErrorCode = Info->err->msg_code;
    std::longjmp(d.Jump, 1);
}

// These warnings say that a scan's data stopped at a marker before the picture was complete (or
// a restart interval's data did); the library would fill the rest with grey and go on. They
// fail the decoding as data that physically ends does. Other warnings are dropped.
void TJPEGDecoder::EmitMessage(j_common_ptr Info, int Level) {
    if (Level >= 0) return;
    const int code = Info->err->msg_code;
    if (code != JWRN_HIT_MARKER && code != JWRN_JPEG_EOF && code != JWRN_MUST_RESYNC) return;
    TJPEGDecoder& d = Of(Info);
    d.ErrorCode = JERR_INPUT_EOF;
    std::longjmp(d.Jump, 1);
}

void TJPEGDecoder::ProgressMonitor(j_common_ptr Info) {
    TJPEGDecoder& d = Of(Info);
    if (!d.Progress.Report()) std::longjmp(d.Jump, 1);
}

// All bytes are in the buffer from the start, so a call for more means the data ended early.
// That is an error, not the library's usual warning and made-up end marker: a cut-off picture
// must not pass for a whole one.
boolean TJPEGDecoder::FillInputBuffer(j_decompress_ptr Info) {
    ERREXIT(Info, Of(reinterpret_cast<j_common_ptr>(Info)).Bytes.isEmpty() ? JERR_INPUT_EMPTY
                                                                           : JERR_INPUT_EOF);
    return FALSE;
}

void TJPEGDecoder::SkipInputData(j_decompress_ptr Info, long Count) {
    if (Count <= 0) return;
    jpeg_source_mgr& src = *Info->src;
    if (static_cast<unsigned long>(Count) > src.bytes_in_buffer) ERREXIT(Info, JERR_INPUT_EOF);
    src.next_input_byte += Count;
    src.bytes_in_buffer -= static_cast<std::size_t>(Count);
}

void TJPEGDecoder::ReadHeader() {
    const bool ok = Guarded(Jump, [this] {
        jpeg_CreateDecompress(&Info, JPEG_LIB_VERSION, sizeof(Info));
        // jpeg_CreateDecompress clears everything but the error manager and client_data.
        Info.src = &Source;
        jpeg_read_header(&Info, TRUE);
    });
    if (!ok) Fail();
    InvertedInks = Info.saw_Adobe_marker != FALSE;
}

void TJPEGDecoder::CheckSize(std::int64_t MaxPixels) const {
    if (MaxPixels > 0 &&
        static_cast<std::int64_t>(Info.image_width) * Info.image_height > MaxPixels)
        throw EJPEG(JERR_IMAGE_TOO_BIG);
}

bool TJPEGDecoder::HasMultipleScans() {
    bool multiple = false;
    if (!Guarded(Jump, [this, &multiple] { multiple = jpeg_has_multiple_scans(&Info); })) Fail();
    return multiple;
}

void TJPEGDecoder::Configure(const TDecodeSettings& Settings) {
    Wanted = Settings;
    switch (Info.jpeg_color_space) {
    case JCS_GRAYSCALE:
        Output = TOutput::Gray;
        break;
    // The library turns these into CMYK only; Decode makes colours of that.
    case JCS_CMYK:
    case JCS_YCCK:
        Output = TOutput::Cmyk;
        break;
    default:
        Output = Settings.Gray ? TOutput::Gray : TOutput::Colour;
        break;
    }
    // The quantiser's second pass wants three channels; CMYK is reduced by Qt afterwards.
    const bool quantize = Settings.PixelFormat == jf8Bit && Output != TOutput::Cmyk;
    const bool ok = Guarded(Jump, [this, &Settings, quantize] {
        Info.scale_num = 1;
        Info.scale_denom = 1u << Settings.Scale;
        Info.do_block_smoothing = Settings.Smoothing ? TRUE : FALSE;
        if (Settings.Performance == jpBestSpeed) {
            Info.dct_method = JDCT_IFAST;
            Info.do_fancy_upsampling = FALSE;
            Info.two_pass_quantize = FALSE;
            Info.dither_mode = JDITHER_ORDERED;
        }
        switch (Output) {
        case TOutput::Gray:
            Info.out_color_space = JCS_GRAYSCALE;
            break;
        case TOutput::Cmyk:
            Info.out_color_space = JCS_CMYK;
            break;
        default:
            Info.out_color_space = quantize ? JCS_RGB : kDecodedSpace;
            break;
        }
        if (quantize) {
            Info.quantize_colors = TRUE;
            Info.desired_number_of_colors = 256;
        }
        jpeg_calc_output_dimensions(&Info);
    });
    if (!ok) Fail();
    if (quantize) Output = TOutput::Indexed;
}

QImage TJPEGDecoder::Decode(const std::function<void(const QImage&, int)>& Pass) {
    const bool wanted = Pass && (Output == TOutput::Gray || Output == TOutput::Colour);
    bool incremental = false;
    if (!Guarded(Jump, [this, wanted, &incremental] {
            incremental = wanted && jpeg_has_multiple_scans(&Info);
            Info.buffered_image = incremental ? TRUE : FALSE;
            if (Progress.Image) Info.progress = &Progress.Pub;
            jpeg_start_decompress(&Info);
        }))
        Fail();
    const int width = static_cast<int>(Info.output_width);
    const int height = static_cast<int>(Info.output_height);
    switch (Output) {
    case TOutput::Gray:
        Rows = QImage(width, height, QImage::Format_Grayscale8);
        break;
    case TOutput::Indexed:
        Rows = QImage(width, height, QImage::Format_Indexed8);
        break;
    // Four bytes a pixel, C M Y K, turned into 0xffRRGGBB in place below.
    case TOutput::Cmyk:
        Rows = QImage(width, height, QImage::Format_RGB32);
        break;
    case TOutput::Colour:
        Rows = QImage(width, height, kDecodedFormat);
        break;
    }
    if (Rows.isNull()) throw EJPEG(JERR_OUT_OF_MEMORY);
    uchar* const top = Rows.bits();
    const qsizetype stride = Rows.bytesPerLine();
    const auto readRows = [this, top, stride] {
        while (Info.output_scanline < Info.output_height) {
            JSAMPROW row = top + static_cast<qsizetype>(Info.output_scanline) * stride;
            jpeg_read_scanlines(&Info, &row, 1);
        }
    };
    // One output pass per scan; the last one, made once all input is read, is the whole picture.
    for (bool complete = !incremental; !complete;) {
        if (!Guarded(Jump, [this, &readRows, &complete] {
                jpeg_start_output(&Info, Info.input_scan_number);
                readRows();
                jpeg_finish_output(&Info);
                complete = jpeg_input_complete(&Info);
            }))
            Fail();
        if (!complete)
            Pass(Rows,
                 static_cast<int>((Bytes.size() - static_cast<qsizetype>(Source.bytes_in_buffer)) *
                                  100 / Bytes.size()));
    }
    const bool ok = Guarded(Jump, [this, &readRows, incremental] {
        if (Output == TOutput::Indexed) {
            ColourCount = std::min(Info.actual_number_of_colors, 256);
            for (int i = 0; i < ColourCount; ++i) {
                const auto at = [this, i](int c) {
                    return static_cast<int>(
                        Info.colormap[Info.out_color_components == 1 ? 0 : c][i]);
                };
                Colours[static_cast<std::size_t>(i)] = qRgb(at(0), at(1), at(2));
            }
        }
        if (!incremental) readRows();
        jpeg_finish_decompress(&Info);
    });
    if (!ok) Fail();
    if (Output == TOutput::Indexed)
        Rows.setColorTable(QList<QRgb>(Colours.begin(), Colours.begin() + ColourCount));
    if (Output == TOutput::Cmyk) {
        // Adobe's files, the usual kind, store the inks inverted (255 is no ink) and say so with
        // their marker; any other four-channel file stores them as they are (0 is no ink).
        // light() is what an ink lets through: 255 where there is none of it.
        const bool inverted = InvertedInks;
        const auto light = [inverted](uchar Ink) { return inverted ? Ink : 255 - Ink; };
        for (int y = 0; y < height; ++y) {
            auto* px = reinterpret_cast<QRgb*>(Rows.scanLine(y));
            const uchar* ink = Rows.constScanLine(y);
            for (int x = 0; x < width; ++x) {
                const int c = light(ink[4 * x]), m = light(ink[4 * x + 1]),
                          yel = light(ink[4 * x + 2]), k = light(ink[4 * x + 3]);
                px[x] = qRgb(c * k / 255, m * k / 255, yel * k / 255);
            }
        }
        if (Wanted.Gray)
            Rows = Rows.convertToFormat(QImage::Format_Grayscale8);
        else if (Wanted.PixelFormat == jf8Bit)
            Rows = Rows.convertToFormat(QImage::Format_Indexed8);
        if (Rows.isNull()) throw EJPEG(JERR_OUT_OF_MEMORY);
    }
    return std::move(Rows);
}

TJPEGImage::TJPEGImage()
    : FData(std::make_shared<TJPEGData>()), FQuality(JPEGDefaults.CompressionQuality),
      FGrayscaleOutput(JPEGDefaults.Grayscale),
      FProgressiveOutput(JPEGDefaults.ProgressiveEncoding), FScale(JPEGDefaults.Scale),
      FPixelFormat(JPEGDefaults.PixelFormat), FPerformance(JPEGDefaults.Performance),
      FSmoothing(JPEGDefaults.Smoothing), FProgressiveDisplay(JPEGDefaults.ProgressiveDisplay),
      FMaxPixels(JPEGDefaults.MaxPixels) {}

TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::Assign(const QImage& Bitmap) {
    FData = std::make_shared<TJPEGData>();
    // A deep copy: the source may wrap memory its owner frees right after this call.
    FBitmap = Bitmap.copy();
    FDecoded = false;
    FNeedRecalc = true;
}

void TJPEGImage::Assign(const TJPEGImage& Source) {
    if (&Source == this) return;
    FData = Source.FData;
    // Pixels decoded at other settings would not be what this image shows.
    const bool keep = !Source.FDecoded || DecodesLike(Source);
    FBitmap = keep ? Source.FBitmap : QImage();
    FDecoded = keep && Source.FDecoded;
    FNeedRecalc = true;
    FPaletteModified = FDecoded && FBitmap.format() == QImage::Format_Indexed8;
}

bool TJPEGImage::DecodesLike(const TJPEGImage& Other) const {
    const auto settings = [](const TJPEGImage& i) {
        return TDecodeSettings{i.FScale, i.FGrayscaleOutput, i.FPixelFormat, i.FPerformance,
                               i.FSmoothing};
    };
    return settings(*this) == settings(Other);
}

void TJPEGImage::LoadFromStream(QIODevice& Stream) {
    std::shared_ptr<TJPEGData> data;
    bool multiScan = false;
    try {
        const QByteArray bytes = Stream.readAll();
        TJPEGDecoder d(bytes);
        d.ReadHeader();
        d.CheckSize(FMaxPixels);
        multiScan = d.HasMultipleScans();
        data = std::make_shared<TJPEGData>();
        data->FBytes = bytes;
        data->FWidth = static_cast<int>(d.Info.image_width);
        data->FHeight = static_cast<int>(d.Info.image_height);
        data->FGrayscale = d.Info.jpeg_color_space == JCS_GRAYSCALE;
    } catch (const std::bad_alloc&) {
        throw EJPEG(JERR_OUT_OF_MEMORY);
    }
    // Whether the file has several scans, progressive or not.
    FProgressiveOutput = multiScan;
    FData = std::move(data);
    FBitmap = QImage();
    FDecoded = false;
    FNeedRecalc = true;
}

void TJPEGImage::DIBNeeded() {
    if (!FBitmap.isNull() || !FData->HasBytes() || FData->FBytes->isEmpty()) return;
    try {
        Decode();
    } catch (const EAbort&) {
        FBitmap = QImage();
        FDecoded = false;
    }
}

void TJPEGImage::Decode() {
    const TDecodeSettings settings{FScale, FGrayscaleOutput, FPixelFormat, FPerformance,
                                   FSmoothing};
    TJPEGDecoder d(*FData->FBytes, this);
    d.ReadHeader();
    // The limit may have been lowered, or the bytes come from an image that had another.
    d.CheckSize(FMaxPixels);
    d.Configure(settings);
    std::function<void(const QImage&, int)> pass;
    if (FProgressiveDisplay)
        pass = [this](const QImage& Part, int Percent) {
            FBitmap = Part.copy();
            FDecoded = true;
            Progress(psRunning, Percent);
        };
    QImage decoded;
    try {
        Progress(psStarting, 0);
        try {
            decoded = d.Decode(pass);
        } catch (const std::bad_alloc&) {
            throw EJPEG(JERR_OUT_OF_MEMORY);
        }
    } catch (...) {
        FBitmap = QImage();
        FDecoded = false;
        // The failure that ended the decoding is the one the caller hears about.
        try {
            Progress(psEnding, 0);
        } catch (...) {}
        throw;
    }
    // A progress callback that changed a setting wants another picture, decoded when needed.
    if (settings ==
        TDecodeSettings{FScale, FGrayscaleOutput, FPixelFormat, FPerformance, FSmoothing}) {
        FBitmap = std::move(decoded);
        FDecoded = true;
        FScaledWidth = FBitmap.width();
        FScaledHeight = FBitmap.height();
        FNeedRecalc = false;
        if (FBitmap.format() == QImage::Format_Indexed8) FPaletteModified = true;
    } else {
        FBitmap = QImage();
        FDecoded = false;
    }
    Progress(psEnding, 100);
}

QImage TJPEGImage::ToBitmap() {
    DIBNeeded();
    return FBitmap;
}

void TJPEGImage::Draw(QPainter& Painter, const QRect& Rect) {
    DIBNeeded();
    if (FBitmap.isNull()) return;
    Painter.drawImage(Rect, FBitmap);
    FPaletteModified = false;
}

void TJPEGImage::CalcOutputDimensions() const {
    if (!FNeedRecalc) return;
    FScaledWidth = FScaledHeight = 0;
    if (FData->HasBytes() && !FData->FBytes->isEmpty()) {
        TJPEGDecoder d(*FData->FBytes);
        d.ReadHeader();
        d.Configure({FScale, FGrayscaleOutput, FPixelFormat, FPerformance, FSmoothing});
        FScaledWidth = static_cast<int>(d.Info.output_width);
        FScaledHeight = static_cast<int>(d.Info.output_height);
    }
    FNeedRecalc = false;
}

void TJPEGImage::DecodeSettingChanged(bool SizeChanges) {
    if (FDecoded) {
        FBitmap = QImage();
        FDecoded = false;
    }
    if (SizeChanges) FNeedRecalc = true;
}

void TJPEGImage::SetGrayscaleOutput(bool Value) {
    if (Value == FGrayscaleOutput) return;
    FGrayscaleOutput = Value;
    DecodeSettingChanged(false);
}

void TJPEGImage::SetScale(TJPEGScale Value) {
    if (Value == FScale) return;
    FScale = Value;
    DecodeSettingChanged(true);
}

void TJPEGImage::SetPixelFormat(TJPEGPixelFormat Value) {
    if (Value == FPixelFormat) return;
    FPixelFormat = Value;
    DecodeSettingChanged(false);
}

void TJPEGImage::SetPerformance(TJPEGPerformance Value) {
    if (Value == FPerformance) return;
    FPerformance = Value;
    DecodeSettingChanged(false);
}

void TJPEGImage::SetSmoothing(bool Value) {
    if (Value == FSmoothing) return;
    FSmoothing = Value;
    DecodeSettingChanged(false);
}

void TJPEGImage::Compress() {
    // Loaded bytes not decoded yet: encode the picture they hold, not an empty one.
    DIBNeeded();
    ++FCompressCount;
    if (FData->HasBytes()) FData = std::make_shared<TJPEGData>();
    const std::shared_ptr<TJPEGData> data = FData;
    try {
        Encode(data);
    } catch (const EAbort&) {
        FData = std::make_shared<TJPEGData>();
    }
}

void TJPEGImage::Encode(const std::shared_ptr<TJPEGData>& Data) {
    TJPEGEncoder e(*this);
    e.Create();

    const int width = FBitmap.width();
    const int height = FBitmap.height();
    if (FBitmap.isNull() || width <= 0 || height <= 0) {
        Data->FBytes = QByteArray();
        return;
    }

    Data->FWidth = width;
    Data->FHeight = height;
    e.Info.image_width = static_cast<JDIMENSION>(width);
    e.Info.image_height = static_cast<JDIMENSION>(height);
    const TRowLayout layout = DirectLayout(FBitmap.format()).value_or(kRows24);
    e.Info.input_components = layout.Components;
    e.Info.in_color_space = layout.Space;
    e.Rows = FBitmap.convertToFormat(layout.Format);
    if (e.Rows.isNull()) throw std::bad_alloc();

    e.Configure(FQuality, FGrayscaleOutput, FProgressiveOutput);
    if (FGrayscaleOutput) Data->FGrayscale = true;

    try {
        Progress(psStarting, 0);
        if (!Guarded(e.Jump, [&e] { e.Run(); })) e.Fail();
    } catch (...) {
        // The failure that ended the encoding is the one the caller hears about.
        try {
            Progress(psEnding, 0);
        } catch (...) {}
        throw;
    }
    Progress(psEnding, 100);
    // Only a complete encoding becomes visible to this image and to those sharing its data.
    Data->FBytes = e.Stream.Take();
}

void TJPEGImage::SaveToStream(QIODevice& Stream) {
    if (!FData->HasBytes()) Compress();
    const std::shared_ptr<const TJPEGData> data = FData;
    if (!data->HasBytes()) return;
    const QByteArray& bytes = *data->FBytes;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qint64 n = Stream.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) throw EWriteError();
        done += n;
    }
}

void TJPEGImage::SaveToFile(const QString& FileName) {
    if (!FData->HasBytes()) Compress();
    const std::shared_ptr<const TJPEGData> data = FData;
    if (!data->HasBytes()) return;
    ReplaceFileContents(FileName, *data->FBytes, FFileWriter);
}

int TJPEGImage::Width() const {
    if (!FBitmap.isNull()) return FBitmap.width();
    if (!FData->HasBytes()) return FData->Width();
    CalcOutputDimensions();
    return FScaledWidth;
}

int TJPEGImage::Height() const {
    if (!FBitmap.isNull()) return FBitmap.height();
    if (!FData->HasBytes()) return FData->Height();
    CalcOutputDimensions();
    return FScaledHeight;
}

void TJPEGImage::SetWidth(int) {
    throw EInvalidGraphicOperation(QStringLiteral("Cannot change the size of a JPEG image"));
}

void TJPEGImage::SetHeight(int) {
    throw EInvalidGraphicOperation(QStringLiteral("Cannot change the size of a JPEG image"));
}

bool TJPEGImage::Empty() const {
    return FBitmap.isNull() && !FData->HasBytes();
}

void TJPEGImage::Progress(TProgressStage Stage, int PercentDone) {
    if (FOnProgress) FOnProgress(*this, Stage, PercentDone);
}

namespace {

std::unique_ptr<TGraphic> NewJPEGImage() {
    return std::make_unique<TJPEGImage>();
}

void UnregisterJPEGImage() {
    UnregisterGraphicClass(NewJPEGImage);
}

// Runs when the application object is made, and undone when it goes.
void RegisterJPEGImage() {
    // A palette helps only a screen that shows 256 colours or fewer. The application object
    // brings the platform and its screens up before it runs this, so every picture made after
    // it starts with the right default; a value the program set itself stays.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            JPEGDefaults.PixelFormat.Suggest(screen->depth() <= 8 ? jf8Bit : jf24Bit);
    RegisterFileFormat(QStringLiteral("jpeg"), QStringLiteral("JPEG Image File"), NewJPEGImage);
    RegisterFileFormat(QStringLiteral("jpg"), QStringLiteral("JPEG Image File"), NewJPEGImage);
    qAddPostRoutine(UnregisterJPEGImage);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(RegisterJPEGImage)
