// The JPEG picture: keeps a bitmap and turns it into JPEG bytes on the first save, through
// libjpeg (interface version 62). The bytes are kept, so later saves write them again without
// encoding, and images assigned from one another share them.
#pragma once

#include "Exceptions.h"
#include "SafeFile.h"

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

using TProgressEvent =
    std::function<void(TJPEGImage& Sender, TProgressStage Stage, int PercentDone)>;

// Settings every new image starts with.
struct TJPEGDefaults {
    std::uint8_t CompressionQuality = 90;
    bool Grayscale = false;
    bool ProgressiveEncoding = false;
};

extern TJPEGDefaults JPEGDefaults;

// The encoded form, shared (by reference count) between images assigned from one another.
class TJPEGData {
public:
    // False until an encoding has completed; an empty picture encodes to zero bytes.
    bool HasBytes() const { return FBytes.has_value(); }
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

class TJPEGImage {
public:
    TJPEGImage();
    TJPEGImage(const TJPEGImage&) = delete;
    TJPEGImage& operator=(const TJPEGImage&) = delete;
    virtual ~TJPEGImage();

    // Keeps a private copy of Bitmap and drops any encoded bytes.
    void Assign(const QImage& Bitmap);
    // Shares Source's encoded bytes and copies its bitmap.
    void Assign(const TJPEGImage& Source);

    // Encodes the bitmap now, replacing any bytes held. EAbort from the progress callback ends
    // it quietly with no bytes; every other failure reaches the caller and leaves no bytes.
    void Compress();

    // Encodes when no bytes are held yet, then writes them all. Writes nothing after an
    // aborted encoding. EWriteError when the device takes fewer bytes.
    void SaveToStream(QIODevice& Stream);

    // Encodes first, then replaces the file as a whole (see ReplaceFileContents). An aborted
    // encoding creates no file; a failed save leaves an existing file untouched.
    void SaveToFile(const QString& FileName);

    int Width() const;
    int Height() const;
    // The size follows the bitmap; both raise EInvalidGraphicOperation.
    void SetWidth(int Value);
    void SetHeight(int Value);
    bool Empty() const;

    std::uint8_t Quality() const { return FQuality; }
    void SetQuality(std::uint8_t Value) { FQuality = Value; }
    bool GrayscaleOutput() const { return FGrayscaleOutput; }
    void SetGrayscaleOutput(bool Value) { FGrayscaleOutput = Value; }
    bool ProgressiveOutput() const { return FProgressiveOutput; }
    void SetProgressiveOutput(bool Value) { FProgressiveOutput = Value; }

    const TProgressEvent& OnProgress() const { return FOnProgress; }
    void SetOnProgress(TProgressEvent Value) { FOnProgress = std::move(Value); }

    const QImage& Bitmap() const { return FBitmap; }
    std::shared_ptr<const TJPEGData> Data() const { return FData; }

    // Number of encodings this object has run.
    int CompressCount() const { return FCompressCount; }

    // Most encoded bytes accepted; a larger result fails with library error 37. 0: no limit.
    qsizetype EncodedSizeLimit() const { return FEncodedSizeLimit; }
    void SetEncodedSizeLimit(qsizetype Bytes) { FEncodedSizeLimit = Bytes; }

    // Least time between two running-progress reports.
    std::chrono::milliseconds ProgressInterval() const { return FProgressInterval; }
    void SetProgressInterval(std::chrono::milliseconds Value) { FProgressInterval = Value; }

    // How SaveToFile writes to the file; empty means write(2).
    void SetFileWriter(TFileWriter Writer) { FFileWriter = std::move(Writer); }

protected:
    virtual void Progress(TProgressStage Stage, int PercentDone);

private:
    friend struct TJPEGEncoder;

    void Encode(const std::shared_ptr<TJPEGData>& Data);

    std::shared_ptr<TJPEGData> FData;
    QImage FBitmap;
    std::uint8_t FQuality;
    bool FGrayscaleOutput;
    bool FProgressiveOutput;
    TProgressEvent FOnProgress;
    int FCompressCount = 0;
    qsizetype FEncodedSizeLimit = 0;
    std::chrono::milliseconds FProgressInterval{500};
    TFileWriter FFileWriter;
};
