#include "imaging/jpeg.h"
#include "tests/imaging/LibJpeg.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <array>
#include <cstdlib>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

extern "C" {
#include <cstdio>
#include <jpeglib.h>
// after jpeglib.h
#include <jerror.h>
#include <ostream>
}

namespace {

QImage Filled(int W, int H, QColor Colour, QImage::Format Format = QImage::Format_RGB32) {
    QImage image(W, H, Format);
    if (Format == QImage::Format_Indexed8) {
        image.setColorTable({Colour.rgb()});
        image.fill(0);
    } else {
        image.fill(Colour);
    }
    return image;
}

QImage Noise(int W, int H) {
    QImage image(W, H, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) image.setPixel(x, y, random.generate() | 0xff000000u);
    return image;
}

QByteArray Save(TJPEGImage& Image) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    Image.SaveToStream(buffer);
    return buffer.data();
}

// The encoded bytes read back through the class.
QImage Decode(const QByteArray& Bytes) {
    QByteArray copy = Bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    TJPEGImage jpeg;
    jpeg.LoadFromStream(buffer);
    return jpeg.ToBitmap();
}

// The payloads (after the length) of the header's segments with this marker, joined.
QByteArray Segment(const QByteArray& Bytes, uchar Marker) {
    QByteArray payload;
    for (qsizetype at = 2; at + 4 <= Bytes.size() && uchar(Bytes[at]) == 0xFF;) {
        const int length = uchar(Bytes[at + 2]) << 8 | uchar(Bytes[at + 3]);
        if (uchar(Bytes[at + 1]) == Marker) payload += Bytes.mid(at + 4, length - 2);
        at += 2 + length;
    }
    return payload;
}

bool Near(QColor A, QColor B, int Tolerance = 8) {
    return std::abs(A.red() - B.red()) <= Tolerance &&
           std::abs(A.green() - B.green()) <= Tolerance &&
           std::abs(A.blue() - B.blue()) <= Tolerance;
}

// --- colours reach the file in the screen's order, whatever the bitmap's pixel format ---

struct ColourCase {
    QColor Colour;
    QImage::Format Format;
};

// Names the case in test listings.
void PrintTo(const ColourCase& P, std::ostream* Os) {
    *Os << P.Colour.name().toStdString() << " format " << static_cast<int>(P.Format);
}

class ColourTest : public ::testing::TestWithParam<ColourCase> {};

TEST_P(ColourTest, DecodesAsTheBitmapColour) {
    TJPEGImage jpeg;
    jpeg.Assign(Filled(8, 8, GetParam().Colour, GetParam().Format));
    jpeg.SetQuality(50);
    const QImage d = Decode(Save(jpeg));
    ASSERT_EQ(d.size(), QSize(8, 8));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            ASSERT_TRUE(Near(d.pixelColor(x, y), GetParam().Colour))
                << x << "," << y << " " << d.pixelColor(x, y).name().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Formats, ColourTest,
                         ::testing::Values(ColourCase{Qt::red, QImage::Format_RGB32},
                                           ColourCase{Qt::blue, QImage::Format_RGB32},
                                           ColourCase{QColor(30, 200, 90), QImage::Format_RGB32},
                                           ColourCase{Qt::red, QImage::Format_ARGB32_Premultiplied},
                                           ColourCase{Qt::red, QImage::Format_RGB888},
                                           ColourCase{Qt::red, QImage::Format_BGR888},
                                           ColourCase{Qt::red, QImage::Format_RGB16},
                                           ColourCase{Qt::red, QImage::Format_Indexed8}));

// --- what kind of file is written ---

struct KindCase {
    bool Gray;
    bool Progressive;
    int Components;
};

// Names the case in test listings.
void PrintTo(const KindCase& P, std::ostream* Os) {
    *Os << (P.Gray ? "gray" : "colour") << (P.Progressive ? " progressive " : " baseline ")
        << P.Components;
}

class FileKindTest : public ::testing::TestWithParam<KindCase> {};

TEST_P(FileKindTest, HeaderMatchesSettings) {
    const KindCase& c = GetParam();
    TJPEGImage jpeg;
    jpeg.Assign(Filled(40, 24, QColor(200, 40, 40)));
    jpeg.SetGrayscaleOutput(c.Gray);
    jpeg.SetProgressiveOutput(c.Progressive);
    const QByteArray bytes = Save(jpeg);
    // A JFIF file: one gray channel, or three (Y, Cb, Cr) numbered 1 to 3.
    EXPECT_TRUE(Segment(bytes, 0xE0).startsWith(QByteArray("JFIF", 5)));
    const QByteArray frame = Segment(bytes, c.Progressive ? 0xC2 : 0xC0);
    ASSERT_EQ(frame.size(), 6 + 3 * c.Components);
    ASSERT_EQ(frame[5], c.Components);
    for (int i = 0; i < c.Components; ++i) EXPECT_EQ(frame[6 + 3 * i], i + 1);
    EXPECT_EQ(jpeg.Data()->Grayscale(), c.Gray);

    QBuffer file;
    file.setData(bytes);
    file.open(QIODevice::ReadOnly);
    TJPEGImage loaded;
    loaded.SetProgressiveOutput(!c.Progressive);
    loaded.LoadFromStream(file);
    EXPECT_EQ(loaded.Grayscale(), c.Gray);
    EXPECT_EQ(loaded.ProgressiveOutput(), c.Progressive);
    EXPECT_EQ(loaded.ToBitmap().format(),
              c.Gray ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
}

INSTANTIATE_TEST_SUITE_P(Settings, FileKindTest,
                         ::testing::Values(KindCase{false, false, 3}, KindCase{true, false, 1},
                                           KindCase{false, true, 3}, KindCase{true, true, 1}));

TEST(JpegTables, QualityFiftyWritesTheAnnexKTablesUnscaled) {
    // ITU-T T.81 Annex K, tables K.1 (luminance) and K.2 (chrominance), row by row.
    const std::vector<std::uint16_t> luminance = {
        16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
        14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
        18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
        49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
    std::vector<std::uint16_t> chrominance(64, 99);
    const std::uint16_t chromaTop[4][4] = {
        {17, 18, 24, 47}, {18, 21, 26, 66}, {24, 26, 56, 99}, {47, 66, 99, 99}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            chrominance[static_cast<std::size_t>(r * 8 + c)] = chromaTop[r][c];

    TJPEGImage jpeg;
    jpeg.Assign(Noise(32, 32));
    jpeg.SetQuality(50);
    const QByteArray bytes = Save(jpeg);
    // The tables in the file, by number, turned from zigzag into row order.
    std::array<std::vector<std::uint16_t>, 4> quant;
    const QByteArray dqt = Segment(bytes, 0xDB);
    for (qsizetype at = 0; at + 65 <= dqt.size(); at += 65) {
        ASSERT_EQ(dqt[at] >> 4, 0) << "8-bit entries";
        std::vector<std::uint16_t>& table = quant.at(static_cast<std::size_t>(dqt[at] & 3));
        table.assign(64, 0);
        int k = 0;
        for (int d = 0; d < 15; ++d)
            for (int i = 0; i <= d; ++i) {
                const int r = d % 2 ? i : d - i;
                const int c = d - r;
                if (r < 8 && c < 8)
                    table[static_cast<std::size_t>(r * 8 + c)] = uchar(dqt[at + 1 + k++]);
            }
    }
    const QByteArray frame = Segment(bytes, 0xC0);
    ASSERT_EQ(frame.size(), 6 + 9);
    const auto luma = static_cast<std::size_t>(frame[6 + 2]);
    const auto chroma = static_cast<std::size_t>(frame[9 + 2]);
    EXPECT_EQ(frame[12 + 2], frame[9 + 2]);
    EXPECT_NE(luma, chroma);
    EXPECT_EQ(quant.at(luma), luminance);
    EXPECT_EQ(quant.at(chroma), chrominance);
}

// Float DCT, baseline, the library's default tables and no optimisation pass: exactly what libjpeg
// itself writes for these settings.
TEST(JpegTables, BytesMatchLibjpegWithTheSameSettings) {
    const QImage bitmap = Noise(70, 45);
    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    jpeg.SetQuality(50);
    const QByteArray bytes = Save(jpeg);
    EXPECT_EQ(bytes, EncodeReference(bitmap, 50, JDCT_FLOAT));
    EXPECT_NE(bytes, EncodeReference(bitmap, 50, JDCT_ISLOW));
}

// --- lazy encoding and the cached bytes ---

TEST(JpegLifecycle, EncodesOnceAndFollowsAssignments) {
    TJPEGImage jpeg;
    EXPECT_TRUE(jpeg.Empty());
    EXPECT_EQ(jpeg.Quality(), 90);

    jpeg.Assign(Noise(64, 48));
    EXPECT_EQ(jpeg.Width(), 64);
    EXPECT_EQ(jpeg.Height(), 48);
    EXPECT_FALSE(jpeg.Data()->HasBytes());
    EXPECT_EQ(jpeg.CompressCount(), 0);

    const QByteArray first = Save(jpeg);
    const QByteArray second = Save(jpeg);
    EXPECT_FALSE(first.isEmpty());
    EXPECT_EQ(first, second);
    EXPECT_EQ(jpeg.CompressCount(), 1);

    jpeg.Assign(Noise(16, 16));
    EXPECT_FALSE(jpeg.Data()->HasBytes());
    EXPECT_EQ(Decode(Save(jpeg)).width(), 16);
    EXPECT_EQ(jpeg.CompressCount(), 2);
}

TEST(JpegLifecycle, QualityCountsOnlyBeforeTheFirstSave) {
    TJPEGImage atFifty, atNinety;
    atFifty.Assign(Noise(64, 64));
    atNinety.Assign(Noise(64, 64));
    atFifty.SetQuality(50);
    const QByteArray fifty = Save(atFifty);
    const QByteArray ninety = Save(atNinety);
    EXPECT_NE(fifty, ninety);
    EXPECT_LT(fifty.size(), ninety.size());

    atFifty.SetQuality(10);
    EXPECT_EQ(Save(atFifty), fifty);
}

TEST(JpegLifecycle, AssignKeepsItsOwnCopyOfTheBitmap) {
    std::vector<uchar> pixels(8 * 8 * 4);
    QImage wrapped(pixels.data(), 8, 8, QImage::Format_RGB32);
    wrapped.fill(Qt::red);
    TJPEGImage jpeg;
    jpeg.Assign(wrapped);
    QImage(pixels.data(), 8, 8, QImage::Format_RGB32).fill(Qt::blue);
    EXPECT_TRUE(Near(Decode(Save(jpeg)).pixelColor(4, 4), Qt::red));
}

TEST(JpegLifecycle, AssignFromAnotherImageSharesItsBytes) {
    TJPEGImage source;
    source.Assign(Noise(24, 24));
    const QByteArray bytes = Save(source);

    TJPEGImage copy;
    copy.Assign(source);
    EXPECT_EQ(copy.Data(), source.Data());
    EXPECT_EQ(copy.Width(), 24);
    EXPECT_EQ(Save(copy), bytes);
    EXPECT_EQ(copy.CompressCount(), 0);

    source.Assign(Noise(8, 8));
    EXPECT_EQ(Save(copy), bytes);
}

TEST(JpegLifecycle, SizeCannotBeSet) {
    TJPEGImage jpeg;
    jpeg.Assign(Noise(8, 8));
    for (auto set : {&TJPEGImage::SetWidth, &TJPEGImage::SetHeight}) {
        try {
            (jpeg.*set)(4);
            ADD_FAILURE() << "size changed";
        } catch (const EInvalidGraphicOperation& e) {
            EXPECT_EQ(e.Message(), "Cannot change the size of a JPEG image");
        }
    }
    EXPECT_EQ(jpeg.Width(), 8);
}

TEST(JpegLifecycle, EmptyBitmapEncodesToNoBytes) {
    for (const QImage& bitmap :
         {QImage(), QImage(0, 8, QImage::Format_RGB32), QImage(8, 0, QImage::Format_RGB32)}) {
        TJPEGImage jpeg;
        jpeg.Assign(bitmap);
        EXPECT_TRUE(Save(jpeg).isEmpty());
        EXPECT_TRUE(jpeg.Data()->HasBytes());
    }
}

TEST(JpegLifecycle, ShortStreamWriteRaises) {
    TJPEGImage jpeg;
    jpeg.Assign(Noise(8, 8));
    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    EXPECT_THROW(jpeg.SaveToStream(readOnly), EWriteError);
}

// --- library errors ---

TEST(JpegErrors, LibraryErrorRaisesEJpegWithItsCode) {
    TJPEGImage jpeg;
    jpeg.Assign(QImage(JPEG_MAX_DIMENSION + 1, 1, QImage::Format_RGB32));
    try {
        Save(jpeg);
        FAIL() << "no error";
    } catch (const EJPEG& e) {
        EXPECT_EQ(e.ErrorCode(), JERR_IMAGE_TOO_BIG);
        EXPECT_EQ(e.Message(), QStringLiteral("JPEG error #%1").arg(JERR_IMAGE_TOO_BIG));
        const EInvalidGraphic& base = e;
        EXPECT_STREQ(base.what(), e.Message().toUtf8().constData());
    }
    EXPECT_FALSE(jpeg.Data()->HasBytes());
}

// A store that takes fewer bytes than offered ends the encoding with error 37 and leaves no
// partial bytes behind; the next save encodes afresh.
TEST(JpegErrors, ShortStoreFailsWithFileWriteAndKeepsNoPartialBytes) {
    TJPEGImage reference;
    reference.Assign(Noise(160, 160));
    const QByteArray full = Save(reference);
    ASSERT_GT(full.size(), 3 * 4096);

    for (const qsizetype limit : {qsizetype(100), qsizetype(4096), full.size() - 1, full.size()}) {
        SCOPED_TRACE(limit);
        TJPEGImage jpeg;
        jpeg.Assign(Noise(160, 160));
        jpeg.SetEncodedSizeLimit(limit);
        if (limit >= full.size()) {
            EXPECT_EQ(Save(jpeg), full);
            continue;
        }
        try {
            Save(jpeg);
            ADD_FAILURE() << "no error";
        } catch (const EJPEG& e) {
            EXPECT_EQ(e.ErrorCode(), 37);
        }
        EXPECT_FALSE(jpeg.Data()->HasBytes());
        jpeg.SetEncodedSizeLimit(0);
        EXPECT_EQ(Save(jpeg), full);
    }
}

// --- progress ---

struct ProgressCall {
    TProgressStage Stage;
    int Percent;
};

TEST(JpegProgress, ReportsStartRunningAndEnd) {
    TJPEGImage jpeg;
    jpeg.Assign(Noise(16, 2000));
    std::vector<ProgressCall> calls;
    jpeg.SetOnProgress([&](TJPEGImage& sender, TProgressStage stage, int percent) {
        EXPECT_EQ(&sender, &jpeg);
        calls.push_back({stage, percent});
    });
    jpeg.SetProgressInterval(std::chrono::milliseconds(0));
    Save(jpeg);
    ASSERT_GE(calls.size(), 12u);
    EXPECT_EQ(calls.front().Stage, psStarting);
    EXPECT_EQ(calls.front().Percent, 0);
    EXPECT_EQ(calls.back().Stage, psEnding);
    EXPECT_EQ(calls.back().Percent, 100);
    for (std::size_t i = 1; i + 1 < calls.size(); ++i) {
        EXPECT_EQ(calls[i].Stage, psRunning);
        EXPECT_GT(calls[i].Percent, calls[i - 1].Percent);
        EXPECT_LE(calls[i].Percent, 100);
    }

    // At the normal pace a quick encoding has no running report.
    calls.clear();
    jpeg.SetProgressInterval(std::chrono::milliseconds(500));
    jpeg.Compress();
    ASSERT_EQ(calls.size(), 2u);
}

class AbortTest : public ::testing::TestWithParam<TProgressStage> {};

TEST_P(AbortTest, AbortFromProgressLeavesNoBytes) {
    TJPEGImage jpeg;
    jpeg.Assign(Noise(16, 600));
    const auto shared = jpeg.Data();
    TJPEGImage sharer;
    sharer.Assign(jpeg);
    std::vector<ProgressCall> calls;
    jpeg.SetProgressInterval(std::chrono::milliseconds(0));
    jpeg.SetOnProgress([&](TJPEGImage&, TProgressStage stage, int percent) {
        calls.push_back({stage, percent});
        if (stage == GetParam()) throw EAbort();
    });
    EXPECT_TRUE(Save(jpeg).isEmpty());
    EXPECT_FALSE(jpeg.Data()->HasBytes());
    EXPECT_NE(jpeg.Data(), shared);
    EXPECT_FALSE(sharer.Data()->HasBytes());
    ASSERT_FALSE(calls.empty());
    // The end is still reported: with 0 when the encoding was cut short before it.
    EXPECT_EQ(calls.back().Stage, psEnding);
    EXPECT_EQ(calls.back().Percent, GetParam() == psEnding ? 100 : 0);
}

INSTANTIATE_TEST_SUITE_P(Stages, AbortTest, ::testing::Values(psStarting, psRunning, psEnding));

TEST(JpegProgress, OtherFailureFromRunningProgressReachesTheCaller) {
    TJPEGImage jpeg;
    jpeg.Assign(Noise(16, 600));
    jpeg.SetProgressInterval(std::chrono::milliseconds(0));
    jpeg.SetOnProgress([](TJPEGImage&, TProgressStage stage, int) {
        if (stage == psRunning) throw std::runtime_error("stop");
    });
    EXPECT_THROW(Save(jpeg), std::runtime_error);
    EXPECT_FALSE(jpeg.Data()->HasBytes());

    jpeg.SetOnProgress({});
    EXPECT_EQ(Decode(Save(jpeg)).height(), 600);
}

} // namespace
