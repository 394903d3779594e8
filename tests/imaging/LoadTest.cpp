#include "imaging/jpeg.h"

#include <QBuffer>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

extern "C" {
#include <cstdio>
#include <jpeglib.h>
// after jpeglib.h
#include <jerror.h>
#include <ostream>
}

namespace {

// Drawn like the console's window: grey face, white plot with a grid, two traces, labels.
QImage ConsoleLike() {
    QImage image(517, 353, QImage::Format_RGB32);
    image.fill(QColor(0xF0, 0xF0, 0xF0));
    QPainter p(&image);
    p.fillRect(18, 8, 476, 255, Qt::white);
    p.setPen(QPen(Qt::gray, 1, Qt::DashLine));
    for (int row = 58; row < 263; row += 51) p.drawLine(18, row, 493, row);
    for (const auto& [colour, phase] : {std::pair{Qt::red, 0.0}, std::pair{Qt::blue, 1.5}}) {
        p.setPen(QPen(colour, 2));
        QPolygon trace;
        for (int i = 0; i <= 120; ++i)
            trace << QPoint(18 + 4 * i, 135 + int(90 * std::sin(i / 9.0 + phase)));
        p.drawPolyline(trace);
    }
    for (int i = 0; i < 6; ++i) p.fillRect(30 + 80 * i, 290, 50, 12, Qt::black);
    p.fillRect(32, 320, 64, 24, Qt::red);
    p.fillRect(160, 320, 64, 24, Qt::blue);
    return image;
}

QByteArray Encoded(const QImage& Bitmap, int Quality, bool Progressive = false) {
    TJPEGImage jpeg;
    jpeg.Assign(Bitmap);
    jpeg.SetQuality(static_cast<std::uint8_t>(Quality));
    jpeg.SetProgressiveOutput(Progressive);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    jpeg.SaveToStream(buffer);
    return buffer.data();
}

void Load(TJPEGImage& Jpeg, const QByteArray& Bytes) {
    QBuffer buffer;
    buffer.setData(Bytes);
    buffer.open(QIODevice::ReadOnly);
    Jpeg.LoadFromStream(buffer);
}

// Mean difference per channel, in levels of 255, between each decoded pixel and the mean of
// its N x N block of the original (fewer pixels at the edges): what decoding at 1/N approximates.
double MeanError(const QImage& Decoded, const QImage& Original, int N = 1) {
    double sum = 0;
    for (int y = 0; y < Decoded.height(); ++y)
        for (int x = 0; x < Decoded.width(); ++x) {
            int r = 0, g = 0, b = 0, count = 0;
            for (int v = y * N; v < std::min(y * N + N, Original.height()); ++v)
                for (int u = x * N; u < std::min(x * N + N, Original.width()); ++u, ++count) {
                    const QRgb p = Original.pixel(u, v);
                    r += qRed(p), g += qGreen(p), b += qBlue(p);
                }
            const QRgb d = Decoded.pixel(x, y);
            sum += std::abs(qRed(d) - r / count) + std::abs(qGreen(d) - g / count) +
                   std::abs(qBlue(d) - b / count);
        }
    return sum / (3.0 * Decoded.width() * Decoded.height());
}

// --- the console's snapshot, saved, loaded from its file and decoded at every scale ---

class SnapshotRoundTrip : public ::testing::TestWithParam<TJPEGScale> {};

TEST_P(SnapshotRoundTrip, DecodesToThePictureWithinJpegError) {
    const QImage original = ConsoleLike();
    QTemporaryDir dir;
    const QString path = dir.filePath("201542.jpg");
    TJPEGImage snapshot;
    snapshot.Assign(original);
    snapshot.SetQuality(50);
    snapshot.SaveToFile(path);
    const int n = 1 << GetParam();
    const QSize scaled((517 + n - 1) / n, (353 + n - 1) / n);

    TJPEGImage jpeg;
    jpeg.SetScale(GetParam());
    jpeg.LoadFromFile(path);
    EXPECT_EQ(QSize(jpeg.Data()->Width(), jpeg.Data()->Height()), QSize(517, 353));
    EXPECT_EQ(QSize(jpeg.Width(), jpeg.Height()), scaled);
    EXPECT_TRUE(jpeg.Bitmap().isNull()) << "the size comes from the header alone";

    const QImage decoded = jpeg.ToBitmap();
    ASSERT_EQ(decoded.size(), scaled);
    EXPECT_LT(MeanError(decoded, original, n), 4.0);
    for (const auto& [at, colour] : {std::pair{QPoint(64, 332), QColor(Qt::red)},
                                     std::pair{QPoint(192, 332), QColor(Qt::blue)}}) {
        const QColor got = decoded.pixelColor(at / n);
        EXPECT_LT(std::abs(got.red() - colour.red()) + std::abs(got.blue() - colour.blue()), 40)
            << got.name().toStdString();
    }

    // The file's bytes are kept as they were, for saving again.
    EXPECT_EQ(jpeg.Data()->Bytes(), snapshot.Data()->Bytes());
}

INSTANTIATE_TEST_SUITE_P(Scales, SnapshotRoundTrip,
                         ::testing::Values(jsFullSize, jsHalf, jsQuarter, jsEighth));

// --- decode settings ---

TEST(JpegDecode, SettingsShapeTheDecodedPicture) {
    const QImage original = ConsoleLike();
    const QByteArray bytes = Encoded(original, 90);
    TJPEGImage best;
    Load(best, bytes);
    const QImage exact = best.ToBitmap();
    EXPECT_LT(MeanError(exact, original), 2.5);

    TJPEGImage gray;
    gray.SetGrayscaleOutput(true);
    Load(gray, bytes);
    EXPECT_EQ(gray.ToBitmap().format(), QImage::Format_Grayscale8);
    EXPECT_LT(MeanError(gray.ToBitmap(), original.convertToFormat(QImage::Format_Grayscale8)), 3.0);

    TJPEGImage fast;
    fast.SetPerformance(jpBestSpeed);
    fast.SetSmoothing(false);
    Load(fast, bytes);
    EXPECT_LT(MeanError(fast.ToBitmap(), original), 3.0);
    EXPECT_NE(fast.ToBitmap(), exact) << "fast decoding takes another path";

    TJPEGImage palette;
    palette.SetPixelFormat(jf8Bit);
    Load(palette, bytes);
    EXPECT_EQ(palette.ToBitmap().format(), QImage::Format_Indexed8);
    EXPECT_LE(palette.ToBitmap().colorCount(), 256);
    // Dithered to 256 colours, so coarser.
    EXPECT_LT(MeanError(palette.ToBitmap(), original), 6.0);
    EXPECT_TRUE(palette.PaletteModified());

    // A new setting drops the decoded pixels and decodes afresh at it.
    best.SetScale(jsQuarter);
    EXPECT_TRUE(best.Bitmap().isNull());
    EXPECT_EQ(best.Width(), 130);
    EXPECT_EQ(best.ToBitmap().size(), QSize(130, 89));
}

TEST(JpegDecode, IncrementalDisplayShowsThePictureAfterEachScan) {
    const QImage original = ConsoleLike();
    const QByteArray bytes = Encoded(original, 75, true);
    TJPEGImage plain;
    Load(plain, bytes);

    TJPEGImage jpeg;
    jpeg.SetProgressiveDisplay(true);
    Load(jpeg, bytes);
    std::vector<int> percents;
    std::vector<double> errors;
    jpeg.SetOnProgress([&](TJPEGImage& Sender, TProgressStage Stage, int Percent) {
        percents.push_back(Stage == psStarting ? -1 : Stage == psEnding ? 1000 : Percent);
        if (Stage == psRunning) errors.push_back(MeanError(Sender.Bitmap(), original));
    });
    EXPECT_EQ(jpeg.ToBitmap(), plain.ToBitmap());
    // The library's progression for three channels has ten scans: nine pictures before the last.
    ASSERT_EQ(errors.size(), 9u);
    EXPECT_EQ(percents.size(), 11u);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end())) << "start, rising, end";
    EXPECT_GT(errors.front(), 2 * errors.back()) << "each scan refines the picture";
}

TEST(JpegDecode, AssignedBitmapIsKeptAndSharedDataDecodesOnce) {
    TJPEGImage source;
    source.Assign(ConsoleLike());
    source.SetScale(jsHalf); // an assigned bitmap is the picture: no scale applies to it
    EXPECT_EQ(source.Width(), 517);
    Load(source, Encoded(ConsoleLike(), 50));
    source.DIBNeeded();

    TJPEGImage same, other;
    same.SetScale(jsHalf);
    same.Assign(source);
    other.Assign(source);
    EXPECT_EQ(same.Data(), source.Data());
    EXPECT_EQ(other.Data(), source.Data());
    EXPECT_FALSE(same.Bitmap().isNull()) << "decoded at the same settings: shared";
    EXPECT_TRUE(other.Bitmap().isNull()) << "decoded at another scale: not shown here";
    EXPECT_EQ(other.ToBitmap().size(), QSize(517, 353));
}

// --- broken files raise EJPEG, at load when the header is broken, else at decoding ---

constexpr int kWhole = 1 << 30;

struct BrokenCase {
    const char* Name;
    int Keep; // bytes kept from the start; negative: counted from the end
    qsizetype Poke = -1;
    char Byte = 0;
    bool FailsAtLoad = true;
    int Code = 0;
};

// Names the case in test listings.
void PrintTo(const BrokenCase& P, std::ostream* Os) {
    *Os << P.Name;
}

class BrokenFileTest : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenFileTest, RaisesEJpegAndKeepsThePicture) {
    const BrokenCase& c = GetParam();
    const QByteArray whole = Encoded(ConsoleLike(), 50, true);
    QByteArray bytes = whole.left(c.Keep >= 0 ? c.Keep : whole.size() + c.Keep);
    if (c.Poke >= 0) bytes[c.Poke] = c.Byte;

    TJPEGImage jpeg;
    Load(jpeg, Encoded(QImage(8, 4, QImage::Format_RGB32), 50));
    int code = 0;
    try {
        Load(jpeg, bytes);
        EXPECT_FALSE(c.FailsAtLoad) << "loaded";
        EXPECT_EQ(jpeg.Width(), 517) << "the header is whole";
        jpeg.DIBNeeded();
        ADD_FAILURE() << "decoded";
    } catch (const EJPEG& e) {
        code = e.ErrorCode();
    }
    EXPECT_EQ(code, c.Code);
    if (c.FailsAtLoad) {
        EXPECT_EQ(jpeg.Width(), 8) << "a failed load changes nothing";
    }
    EXPECT_TRUE(jpeg.Bitmap().isNull());
}

INSTANTIATE_TEST_SUITE_P(
    Files, BrokenFileTest,
    ::testing::Values(BrokenCase{"ZeroLength", 0, -1, 0, true, JERR_INPUT_EMPTY},
                      BrokenCase{"CutInTheHeader", 100, -1, 0, true, JERR_INPUT_EOF},
                      BrokenCase{"CutInTheScans", 6000, -1, 0, false, JERR_INPUT_EOF},
                      BrokenCase{"NoEndMarker", -2, -1, 0, false, JERR_INPUT_EOF},
                      BrokenCase{"NoStartMarker", kWhole, 1, '\xC4', true, JERR_NO_SOI},
                      BrokenCase{"UnknownMarker", kWhole, 3, '\x4F', true, JERR_UNKNOWN_MARKER}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// --- the picture-format registry, and drawing through the generic picture ---

TEST(JpegFormat, RegisteredFilesLoadAndDrawAsPictures) {
    const TGraphicClass jpg = GraphicClassOf(QStringLiteral("jpg"));
    ASSERT_NE(jpg, nullptr);
    EXPECT_EQ(GraphicClassOf(QStringLiteral(".JPEG")), jpg);
    EXPECT_EQ(GraphicDescription(QStringLiteral("jpeg")), "JPEG Image File");
    EXPECT_EQ(GraphicFilters(), QStringList{"JPEG Image File (*.jpeg *.jpg)"});

    QTemporaryDir dir;
    const QString path = dir.filePath("201542.jpg");
    TJPEGImage snapshot;
    snapshot.Assign(ConsoleLike());
    snapshot.SaveToFile(path);

    const std::unique_ptr<TGraphic> picture = LoadGraphic(path);
    ASSERT_NE(dynamic_cast<TJPEGImage*>(picture.get()), nullptr);
    EXPECT_EQ(picture->Width(), 517);
    QImage canvas(300, 200, QImage::Format_RGB32);
    canvas.fill(Qt::green);
    QPainter painter(&canvas);
    picture->Draw(painter, QRect(10, 10, 259, 177));
    painter.end();
    EXPECT_EQ(canvas.pixelColor(280, 190), QColor(Qt::green)) << "outside the rectangle";
    EXPECT_GT(canvas.pixelColor(10 + 50, 10 + 10).lightness(), 235) << "the plot, halved";

    EXPECT_THROW(LoadGraphic(dir.filePath("a.png")), EInvalidGraphic);
    EXPECT_THROW(LoadGraphic(dir.filePath("missing.jpg")), EFOpenError);

    UnregisterGraphicClass(jpg);
    EXPECT_EQ(GraphicClassOf(QStringLiteral("jpeg")), nullptr);
    RegisterFileFormat(QStringLiteral("jpeg"), QStringLiteral("JPEG Image File"), jpg);
    RegisterFileFormat(QStringLiteral("jpg"), QStringLiteral("JPEG Image File"), jpg);
}

} // namespace
