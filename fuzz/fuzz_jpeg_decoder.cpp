// The picture class's reading side on arbitrary bytes: the first byte picks the decode settings,
// the rest is the file. Loading and decoding may raise EJPEG, nothing else; a loaded picture
// decodes to the size its header announced. Headers may announce any size: the class's pixel
// limit bounds what a decoding allocates, and a viewer that gives up at the third progress
// report (the start and two running ones, a second or so into a long decoding) bounds how long
// it runs.
#include "fuzz/FuzzSupport.h"
#include "imaging/jpeg.h"

#include <QBuffer>
#include <QPainter>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    fuzz::App();
    fuzz::Bytes in(Data, Size);
    const uint8_t settings = in.Byte();
    QBuffer file;
    file.setData(QByteArray::fromStdString(in.Chunk(in.Left())));
    file.open(QIODevice::ReadOnly);

    TJPEGImage jpeg;
    jpeg.SetScale(static_cast<TJPEGScale>(settings & 3));
    jpeg.SetGrayscaleOutput(settings & 4);
    jpeg.SetPerformance(settings & 8 ? jpBestSpeed : jpBestQuality);
    jpeg.SetSmoothing(settings & 16);
    jpeg.SetPixelFormat(settings & 32 ? jf8Bit : jf24Bit);
    jpeg.SetProgressiveDisplay(settings & 64);
    try {
        jpeg.LoadFromStream(file);
    } catch (const EJPEG&) {
        if (!jpeg.Empty()) fuzz::Fail("a failed load left a picture");
        return 0;
    }
    const int width = jpeg.Width(), height = jpeg.Height();
    if (width <= 0 || height <= 0) fuzz::Fail("a loaded picture without size");
    if (width > jpeg.Data()->Width() || height > jpeg.Data()->Height())
        fuzz::Fail("the decoded size exceeds the picture");
    if (static_cast<int64_t>(jpeg.Data()->Width()) * jpeg.Data()->Height() > jpeg.MaxPixels())
        fuzz::Fail("a picture beyond the pixel limit loaded");
    int reports = 0;
    bool aborted = false;
    jpeg.SetOnProgress([&](TJPEGImage& Sender, TProgressStage Stage, int) {
        // Between scans of an incrementally shown picture; none before the first.
        if (Stage == psRunning && !Sender.Bitmap().isNull() &&
            Sender.Bitmap().size() != QSize(width, height))
            fuzz::Fail("a partial picture of another size");
        // Now and then a viewer gives up half-way, and on every later decoding (Draw's too).
        if (++reports >= 3) {
            aborted = true;
            throw EAbort();
        }
    });
    try {
        const QImage bitmap = jpeg.ToBitmap();
        if (bitmap.isNull() != aborted) fuzz::Fail("pixels after an abort, or none without");
        if (!bitmap.isNull() && bitmap.size() != QSize(width, height))
            fuzz::Fail("decoded size differs from header");
        QImage canvas(16, 16, QImage::Format_RGB32);
        QPainter painter(&canvas);
        jpeg.Draw(painter, canvas.rect());
    } catch (const EJPEG&) {
        if (!jpeg.Bitmap().isNull()) fuzz::Fail("a failed decoding left pixels");
    }
    return 0;
}
