// The JPEG picture: keeps a bitmap and turns it into JPEG bytes on the first save, through
// libjpeg (interface version 62). The bytes are kept, so later saves write them again without
// encoding, and images assigned from one another share them. A loaded picture keeps the file's
// bytes and is decoded only when its pixels are first needed, at the image's decode settings.
#pragma once

#include "imaging/Exceptions.h"
#include "imaging/Graphics.h"
#include "imaging/SafeFile.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QIODevice;

enum TProgressStage { psStarting, psRunning, psEnding };

class TJPEGImage;

// Decoded size relative to the picture's.
enum TJPEGScale { jsFullSize, jsHalf, jsQuarter, jsEighth };
// jf8Bit decodes to at most 256 colours with a colour table.
enum TJPEGPixelFormat { jf24Bit, jf8Bit };
// jpBestSpeed: the fast integer inverse DCT, plain upsampling, one-pass ordered dithering.
enum TJPEGPerformance { jpBestQuality, jpBestSpeed };

using TProgressEvent =
    std::function<void(TJPEGImage& Sender, TProgressStage Stage, int PercentDone)>;

// A default that remembers whether the program set it, so that what the module finds out at
// start never overrides the program's own choice. Reads and assigns like a plain T.
template <class T> class TJPEGDefault {
public:
    constexpr TJPEGDefault(T Value) : FValue(Value) {}
    constexpr TJPEGDefault& operator=(T Value) {
        FValue = Value;
        FChosen = true;
        return *this;
    }
    constexpr operator T() const { return FValue; }
    // The program has assigned a value.
    constexpr bool Chosen() const { return FChosen; }
    // The module's own default, taken only while the program has chosen none.
    constexpr void Suggest(T Value) {
        if (!FChosen) FValue = Value;
    }

private:
    T FValue;
    bool FChosen = false;
};

// Most pixels (width x height of the whole picture) a loaded header may announce: 2^28, a 1 GiB
// bitmap of 32-bit pixels. The largest pictures cameras write themselves (about 190 million
// pixels, from the multi-shot modes) pass; what lies beyond is a claim, not a photograph, and
// the format itself allows 16 times more.
constexpr std::int64_t kDefaultMaxPixels = std::int64_t{1} << 28;

// Settings every new image starts with. PixelFormat becomes jf8Bit when the application object
// is made on a screen that shows 256 colours or fewer, unless the program has set it already.
struct TJPEGDefaults {
    std::uint8_t CompressionQuality = 90;
    bool Grayscale = false;
    bool ProgressiveEncoding = false;
    TJPEGDefault<TJPEGPixelFormat> PixelFormat = jf24Bit;
    TJPEGPerformance Performance = jpBestQuality;
    TJPEGScale Scale = jsFullSize;
    bool Smoothing = true;
    bool ProgressiveDisplay = false;
    // See TJPEGImage::MaxPixels.
    std::int64_t MaxPixels = kDefaultMaxPixels;
};

extern TJPEGDefaults JPEGDefaults;

// The encoded form, shared (by reference count) between images assigned from one another.
class TJPEGData {
public:
    // False until an encoding has completed; an empty picture encodes to zero bytes.
    bool HasBytes() const { return FBytes.has_value(); }
    // Of the whole picture, also when it is decoded at a smaller scale. A loaded picture takes
    // them from its header; its grayscale flag says whether the file has a single gray channel.
    QByteArray Bytes() const { return FBytes.value_or(QByteArray()); }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    bool Grayscale() const { return FGrayscale; }

private:
    friend class TJPEGImage;

    std::optional<QByteArray> FBytes;
    int FWidth = 0;
    int FHeight = 0;
    bool FGrayscale = false;
};

class TJPEGImage : public TGraphic {
public:
    TJPEGImage();
    ~TJPEGImage() override;

    // Keeps a private copy of Bitmap and drops any encoded bytes.
    void Assign(const QImage& Bitmap);
    // Shares Source's encoded bytes and copies its bitmap (a decoded one only when this image
    // decodes with the same settings).
    void Assign(const TJPEGImage& Source);

    // Takes the rest of the stream as the picture's bytes and reads their header: size,
    // grayscale and ProgressiveOutput (whether the file has several scans) are known at once,
    // the pixels are decoded when first needed. EJPEG for a header the library refuses, for a
    // picture of more than MaxPixels (JERR_IMAGE_TOO_BIG) and when memory runs out
    // (JERR_OUT_OF_MEMORY); the image is then unchanged.
    void LoadFromStream(QIODevice& Stream) override;

    // Decodes the loaded bytes unless the pixels are there already, with progress reports
    // like an encoding (running ones from the library as it goes, at most once a
    // ProgressInterval). EJPEG when the data is corrupt, ends early (JERR_INPUT_EOF, also when
    // a scan's data stops short at a marker), the picture has more than MaxPixels
    // (JERR_IMAGE_TOO_BIG) or memory runs out (JERR_OUT_OF_MEMORY); EAbort from the progress
    // callback ends it quietly without pixels, which is how a viewer stops a long decoding.
    void DIBNeeded();
    // The picture's pixels (decoded first when needed): the loaded picture at the decode
    // settings, or the assigned bitmap.
    QImage ToBitmap();
    void Draw(QPainter& Painter, const QRect& Rect) override;

    // Encodes the bitmap now, replacing any bytes held. EAbort from the progress callback ends
    // it quietly with no bytes; every other failure reaches the caller and leaves no bytes.
    void Compress();

    // Encodes when no bytes are held yet, then writes them all. Writes nothing after an
    // aborted encoding. EWriteError when the device takes fewer bytes.
    void SaveToStream(QIODevice& Stream) override;

    // Encodes first, then replaces the file as a whole (see ReplaceFileContents). An aborted
    // encoding creates no file; a failed save leaves an existing file untouched.
    void SaveToFile(const QString& FileName) override;

    // The bitmap's size, or, for undecoded bytes, the size they decode to at Scale (from the
    // header, without decoding).
    int Width() const override;
    int Height() const override;
    // The size follows the bitmap; both raise EInvalidGraphicOperation.
    void SetWidth(int Value);
    void SetHeight(int Value);
    bool Empty() const override;

    std::uint8_t Quality() const { return FQuality; }
    void SetQuality(std::uint8_t Value) { FQuality = Value; }
    // Writes one gray channel, and decodes to gray.
    bool GrayscaleOutput() const { return FGrayscaleOutput; }
    void SetGrayscaleOutput(bool Value);
    // The held bytes have a single gray channel.
    bool Grayscale() const { return FData->Grayscale(); }
    bool ProgressiveOutput() const { return FProgressiveOutput; }
    void SetProgressiveOutput(bool Value) { FProgressiveOutput = Value; }

    // Decode settings. Changing one drops decoded pixels (never an assigned bitmap).
    TJPEGScale Scale() const { return FScale; }
    void SetScale(TJPEGScale Value);
    TJPEGPixelFormat PixelFormat() const { return FPixelFormat; }
    void SetPixelFormat(TJPEGPixelFormat Value);
    TJPEGPerformance Performance() const { return FPerformance; }
    void SetPerformance(TJPEGPerformance Value);
    bool Smoothing() const { return FSmoothing; }
    void SetSmoothing(bool Value);
    // Incremental display: while a multi-scan file decodes, Bitmap() holds the picture so far
    // at every running progress report (24-bit and gray output only).
    bool ProgressiveDisplay() const { return FProgressiveDisplay; }
    void SetProgressiveDisplay(bool Value) { FProgressiveDisplay = Value; }

    // Set whenever decoding gives the bitmap a new colour table (8-bit output), cleared by
    // Draw: a viewer that caches converted pixmaps rebuilds them while it is set.
    bool PaletteModified() const { return FPaletteModified; }

    const TProgressEvent& OnProgress() const { return FOnProgress; }
    void SetOnProgress(TProgressEvent Value) { FOnProgress = std::move(Value); }

    const QImage& Bitmap() const { return FBitmap; }
    std::shared_ptr<const TJPEGData> Data() const { return FData; }

    // Number of encodings this object has run.
    int CompressCount() const { return FCompressCount; }

    // Most encoded bytes accepted; a larger result fails with library error 37. 0: no limit.
    qsizetype EncodedSizeLimit() const { return FEncodedSizeLimit; }
    void SetEncodedSizeLimit(qsizetype Bytes) { FEncodedSizeLimit = Bytes; }

    // Most pixels a loaded picture may have, checked against its header before anything is
    // allocated for it (at load and again at decoding); 0: no limit. Starts as
    // JPEGDefaults.MaxPixels.
    std::int64_t MaxPixels() const { return FMaxPixels; }
    void SetMaxPixels(std::int64_t Value) { FMaxPixels = Value; }

    // Least time between two running-progress reports, encoding or decoding.
    std::chrono::milliseconds ProgressInterval() const { return FProgressInterval; }
    void SetProgressInterval(std::chrono::milliseconds Value) { FProgressInterval = Value; }

    // How SaveToFile writes to the file; empty means write(2).
    void SetFileWriter(TFileWriter Writer) { FFileWriter = std::move(Writer); }

protected:
    virtual void Progress(TProgressStage Stage, int PercentDone);

private:
    friend struct TJPEGEncoder;
    friend struct TJPEGProgress;

    void Encode(const std::shared_ptr<TJPEGData>& Data);
    void Decode();
    bool DecodesLike(const TJPEGImage& Other) const;
    void DecodeSettingChanged(bool SizeChanges);
    void CalcOutputDimensions() const;

    std::shared_ptr<TJPEGData> FData;
    QImage FBitmap;
    // FBitmap was decoded from FData's bytes, so it can be decoded again.
    bool FDecoded = false;
    // Size the bytes decode to at FScale, valid while FNeedRecalc is false.
    mutable int FScaledWidth = 0;
    mutable int FScaledHeight = 0;
    mutable bool FNeedRecalc = true;
    bool FPaletteModified = false;
    std::uint8_t FQuality;
    bool FGrayscaleOutput;
    bool FProgressiveOutput;
    TJPEGScale FScale;
    TJPEGPixelFormat FPixelFormat;
    TJPEGPerformance FPerformance;
    bool FSmoothing;
    bool FProgressiveDisplay;
    TProgressEvent FOnProgress;
    int FCompressCount = 0;
    qsizetype FEncodedSizeLimit = 0;
    std::int64_t FMaxPixels;
    std::chrono::milliseconds FProgressInterval{500};
    TFileWriter FFileWriter;
};
