#include "imaging/jpeg.h"
#include "imaging/JpegCodec.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIODevice>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <exception>
#include <new>

using namespace jpegcodec;

TJPEGDefaults JPEGDefaults;

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
        if (!e.Guarded([&e] { e.Run(); })) e.Fail();
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
