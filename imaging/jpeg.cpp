#include "jpeg.h"

#include <QIODevice>
#include <algorithm>
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

struct TProgressManager {
    jpeg_progress_mgr Pub;
    int LastPercent;
    bool TimeRecorded;
    std::chrono::steady_clock::time_point LastTick;
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

// One encoding: the library state and everything its callbacks reach. Lives in the frame that
// started the encoding, outside the stretch that longjmp skips.
struct TJPEGEncoder {
    jpeg_error_mgr Error{};
    TProgressManager ProgressMgr{};
    jpeg_compress_struct Info{};
    TDestination Dest{};
    std::jmp_buf Jump{};
    int ErrorCode = 0;
    std::exception_ptr Pending;
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
    bool ReportRunning() noexcept;
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
    ProgressMgr.Pub.progress_monitor = ProgressMonitor;
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
    if (!e.ReportRunning()) std::longjmp(e.Jump, 1);
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
    Info.progress = &ProgressMgr.Pub;
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

bool TJPEGEncoder::ReportRunning() noexcept {
    try {
        TProgressManager& p = ProgressMgr;
        const auto now = std::chrono::steady_clock::now();
        if (!p.TimeRecorded) {
            p.TimeRecorded = true;
            p.LastTick = now;
            return true;
        }
        if (now - p.LastTick < Image.ProgressInterval()) return true;
        p.LastTick = now;
        const jpeg_progress_mgr& m = p.Pub;
        if (m.pass_limit <= 0 || m.total_passes <= 0) return true;
        const int percent = static_cast<int>(
            (static_cast<double>(m.pass_counter) / static_cast<double>(m.pass_limit) +
             m.completed_passes) *
            100.0 / m.total_passes);
        if (percent == p.LastPercent) return true;
        p.LastPercent = percent;
        Image.Progress(psRunning, percent);
    } catch (...) {
        Pending = std::current_exception();
        return false;
    }
    return true;
}

void TJPEGEncoder::Fail() {
    if (Pending) std::rethrow_exception(Pending);
    throw EJPEG(ErrorCode);
}

TJPEGImage::TJPEGImage()
    : FData(std::make_shared<TJPEGData>()), FQuality(JPEGDefaults.CompressionQuality),
      FGrayscaleOutput(JPEGDefaults.Grayscale),
      FProgressiveOutput(JPEGDefaults.ProgressiveEncoding) {}

TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::Assign(const QImage& Bitmap) {
    FData = std::make_shared<TJPEGData>();
    // A deep copy: the source may wrap memory its owner frees right after this call.
    FBitmap = Bitmap.copy();
}

void TJPEGImage::Assign(const TJPEGImage& Source) {
    if (&Source == this) return;
    FData = Source.FData;
    FBitmap = Source.FBitmap;
}

void TJPEGImage::Compress() {
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
    return FBitmap.isNull() ? FData->Width() : FBitmap.width();
}

int TJPEGImage::Height() const {
    return FBitmap.isNull() ? FData->Height() : FBitmap.height();
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
