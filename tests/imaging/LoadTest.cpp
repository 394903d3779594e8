#include "imaging/jpeg.h"
#include "tests/common/Sanitized.h"
#include "tests/imaging/LibJpeg.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#ifdef __linux__
#include <sys/resource.h>
#include <unistd.h>
#endif

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

// --- scan data that stops short at a marker fails like a file that ends early ---

// Position of the Index-th marker Code (0-based) in the entropy-coded data and segments, or -1.
qsizetype MarkerAt(const QByteArray& Bytes, uchar Code, int Index = 0) {
    for (qsizetype at = 0; at + 1 < Bytes.size(); ++at)
        if (uchar(Bytes[at]) == 0xFF && uchar(Bytes[at + 1]) == Code && Index-- == 0) return at;
    return -1;
}

// Where the first scan's coded data begins and where the marker that ends it stands.
std::pair<qsizetype, qsizetype> FirstScanData(const QByteArray& Bytes) {
    const qsizetype sos = MarkerAt(Bytes, 0xDA);
    const qsizetype begin = sos + 2 + (uchar(Bytes[sos + 2]) << 8 | uchar(Bytes[sos + 3]));
    qsizetype end = begin;
    while (!(uchar(Bytes[end]) == 0xFF && Bytes[end + 1] != 0 &&
             (uchar(Bytes[end + 1]) & 0xF8) != 0xD0))
        ++end;
    return {begin, end};
}

const QByteArray kEndMarker("\xFF\xD9", 2);

struct CutCase {
    const char* Name;
    QByteArray (*Broken)();
};

// Names the case in test listings.
void PrintTo(const CutCase& P, std::ostream* Os) {
    *Os << P.Name;
}

class CutShortTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutShortTest, RaisesEJpegLikeATruncatedFile) {
    const QByteArray bytes = GetParam().Broken();
    TJPEGImage jpeg;
    Load(jpeg, bytes);
    EXPECT_EQ(jpeg.Width(), 517) << "the header is whole";
    int code = 0;
    try {
        jpeg.DIBNeeded();
        ADD_FAILURE() << "decoded";
    } catch (const EJPEG& e) {
        code = e.ErrorCode();
    }
    EXPECT_EQ(code, JERR_INPUT_EOF);
    EXPECT_TRUE(jpeg.Bitmap().isNull());
}

INSTANTIATE_TEST_SUITE_P(
    Files, CutShortTest,
    ::testing::Values(
        CutCase{"BaselineEndsAtTheEndMarker",
                [] {
                    const QByteArray whole = Encoded(ConsoleLike(), 50);
                    return whole.left(whole.size() - 1500) + kEndMarker;
                }},
        CutCase{"ProgressiveEndsAtTheEndMarker",
                [] { return Encoded(ConsoleLike(), 50, true).left(6000) + kEndMarker; }},
        // The first scan loses the second half of its data; the later scans follow whole.
        CutCase{"ProgressiveScanEndsAtTheNextScan",
                [] {
                    QByteArray bytes = Encoded(ConsoleLike(), 50, true);
                    const auto [begin, end] = FirstScanData(bytes);
                    const qsizetype half = (end - begin) / 2;
                    return bytes.remove(begin + half, end - begin - half);
                }},
        // Cut between two restart intervals: no interval is short, a restart marker is missing.
        CutCase{"RestartIntervalsEndAtTheEndMarker",
                [] {
                    const QByteArray whole = EncodeSequential(ConsoleLike(), 1, false);
                    return whole.left(MarkerAt(whole, 0xD2)) + kEndMarker;
                }},
        // One interval's data and its marker gone. Every row of blocks is alike, so each
        // interval's data is whole; only the markers' numbers tell that one is missing.
        CutCase{"RestartIntervalLost",
                [] {
                    QImage bands(517, 353, QImage::Format_RGB32);
                    for (int x = 0; x < bands.width(); ++x)
                        for (int y = 0; y < bands.height(); ++y)
                            bands.setPixel(x, y, qRgb(x * 7 % 256, 255 - x % 256, x % 3 * 100));
                    QByteArray bytes = EncodeSequential(bands, 1, false);
                    const qsizetype from = MarkerAt(bytes, 0xD1) + 2;
                    return bytes.remove(from, MarkerAt(bytes, 0xD2) + 2 - from);
                }},
        // An interval with its marker comes twice: the library would skip the next interval's
        // data to find the marker it wants, and show a stripe twice.
        CutCase{"RestartIntervalRepeated",
                [] {
                    QByteArray bytes = EncodeSequential(ConsoleLike(), 1, false);
                    const qsizetype from = MarkerAt(bytes, 0xD0) + 2;
                    const qsizetype to = MarkerAt(bytes, 0xD1) + 2;
                    return bytes.insert(to, bytes.mid(from, to - from));
                }}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// --- what a header may claim, and what a decoding may cost ---

// Bytes with the frame header's size replaced.
QByteArray Claiming(QByteArray Bytes, int W, int H) {
    qsizetype sof = MarkerAt(Bytes, 0xC0);
    if (sof < 0) sof = MarkerAt(Bytes, 0xC2);
    Bytes[sof + 5] = char(H >> 8);
    Bytes[sof + 6] = char(H);
    Bytes[sof + 7] = char(W >> 8);
    Bytes[sof + 8] = char(W);
    return Bytes;
}

constexpr std::int64_t kDefault = -1;
constexpr int kNoDecoding = -1;

struct LimitCase {
    const char* Name;
    int ClaimW, ClaimH;              // 0: the file's own 16 x 16
    std::int64_t AtLoad, AtDecoding; // kDefault: as the image starts
    int LoadCode;                    // 0: loads
    int DecodingCode;                // 0: decodes; kNoDecoding: not tried
};

// Names the case in test listings.
void PrintTo(const LimitCase& P, std::ostream* Os) {
    *Os << P.Name;
}

class PixelLimitTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(PixelLimitTest, RefusesBeforeAllocating) {
    const LimitCase& c = GetParam();
    QByteArray bytes = Encoded(QImage(16, 16, QImage::Format_RGB32), 50);
    if (c.ClaimW > 0) bytes = Claiming(bytes, c.ClaimW, c.ClaimH);
    const auto started = std::chrono::steady_clock::now();

    TJPEGImage jpeg;
    EXPECT_EQ(jpeg.MaxPixels(), kDefaultMaxPixels);
    Load(jpeg, Encoded(QImage(8, 4, QImage::Format_RGB32), 50));
    if (c.AtLoad != kDefault) jpeg.SetMaxPixels(c.AtLoad);
    int code = 0;
    try {
        Load(jpeg, bytes);
    } catch (const EJPEG& e) {
        code = e.ErrorCode();
    }
    EXPECT_EQ(code, c.LoadCode);
    EXPECT_EQ(jpeg.Data()->Width(), code ? 8 : c.ClaimW > 0 ? c.ClaimW : 16);
    if (c.DecodingCode != kNoDecoding && code == 0) {
        if (c.AtDecoding != kDefault) jpeg.SetMaxPixels(c.AtDecoding);
        code = 0;
        try {
            jpeg.DIBNeeded();
        } catch (const EJPEG& e) {
            code = e.ErrorCode();
        }
        EXPECT_EQ(code, c.DecodingCode);
        EXPECT_EQ(jpeg.Bitmap().isNull(), code != 0);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
}

INSTANTIATE_TEST_SUITE_P(
    Claims, PixelLimitTest,
    ::testing::Values(
        LimitCase{"Claims65500Squared", 65500, 65500, kDefault, kDefault, JERR_IMAGE_TOO_BIG, 0},
        LimitCase{"ClaimsALargeCameraPicture", 14204, 10652, kDefault, kDefault, 0, kNoDecoding},
        LimitCase{"ClaimsTheDefaultLimit", 16384, 16384, kDefault, kDefault, 0, kNoDecoding},
        LimitCase{"ClaimsOneRowMore", 16384, 16385, kDefault, kDefault, JERR_IMAGE_TOO_BIG, 0},
        LimitCase{"NoLimitLoadsAnyClaim", 65500, 65500, 0, 0, 0, kNoDecoding},
        LimitCase{"AtASetLimit", 0, 0, 256, 256, 0, 0},
        LimitCase{"OverASetLimit", 0, 0, 255, 255, JERR_IMAGE_TOO_BIG, 0},
        LimitCase{"LimitLoweredAfterTheLoad", 0, 0, kDefault, 255, 0, JERR_IMAGE_TOO_BIG}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(JpegLimits, NewImagesTakeTheLimitFromTheDefaults) {
    const TJPEGDefaults saved = JPEGDefaults;
    JPEGDefaults.MaxPixels = 255;
    TJPEGImage jpeg;
    JPEGDefaults = saved;
    EXPECT_EQ(jpeg.MaxPixels(), 255);
    EXPECT_THROW(Load(jpeg, Encoded(QImage(16, 16, QImage::Format_RGB32), 50)), EJPEG);
}

#ifdef __linux__
// Holds the process's address space to what it uses now plus Room, for as long as it lives.
class AddressSpaceLimit {
public:
    explicit AddressSpaceLimit(std::int64_t Room) {
        std::ifstream statm("/proc/self/statm");
        std::int64_t pages = 0;
        statm >> pages;
        if (pages <= 0 || ::getrlimit(RLIMIT_AS, &FSaved) != 0) return;
        rlimit limit = FSaved;
        limit.rlim_cur = static_cast<rlim_t>(pages * ::sysconf(_SC_PAGESIZE) + Room);
        FActive = ::setrlimit(RLIMIT_AS, &limit) == 0;
    }
    AddressSpaceLimit(const AddressSpaceLimit&) = delete;
    AddressSpaceLimit& operator=(const AddressSpaceLimit&) = delete;
    ~AddressSpaceLimit() {
        if (FActive) ::setrlimit(RLIMIT_AS, &FSaved);
    }
    bool Active() const { return FActive; }

private:
    rlimit FSaved{};
    bool FActive = false;
};

// Without a pixel limit, a claim of 65500 x 65500 asks for a 17 GB bitmap (or, progressive, for
// 25 GB of the library's coefficients). Where memory runs out that is the class's error.
TEST(JpegLimits, AllocationFailureRaisesEJpeg) {
#ifdef ORMELIX_SANITIZED
    GTEST_SKIP() << "the sanitizers' shadow memory does not fit an address-space limit";
#endif
    for (const bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        TJPEGImage jpeg;
        jpeg.SetMaxPixels(0);
        Load(jpeg, Claiming(Encoded(QImage(16, 16, QImage::Format_RGB32), 50, progressive), 65500,
                            65500));
        int code = 0;
        {
            AddressSpaceLimit limit(std::int64_t{1} << 30);
            ASSERT_TRUE(limit.Active()) << "the test would allocate 17 GB";
            try {
                jpeg.DIBNeeded();
            } catch (const EJPEG& e) {
                code = e.ErrorCode();
            }
        }
        EXPECT_EQ(code, JERR_OUT_OF_MEMORY);
        EXPECT_TRUE(jpeg.Bitmap().isNull());
    }
}
#endif

// --- progress while decoding: a viewer can follow and end a long decoding ---

struct DecodeProgressCase {
    const char* Name;
    bool Progressive;
    int AbortAt; // the running report that throws EAbort; 0: none
};

// Names the case in test listings.
void PrintTo(const DecodeProgressCase& P, std::ostream* Os) {
    *Os << P.Name;
}

class DecodeProgressTest : public ::testing::TestWithParam<DecodeProgressCase> {};

TEST_P(DecodeProgressTest, ReportsRunningAndEndsOnAbort) {
    const DecodeProgressCase& c = GetParam();
    QImage tall(64, 2000, QImage::Format_RGB32);
    tall.fill(Qt::darkCyan);
    TJPEGImage jpeg;
    Load(jpeg, Encoded(tall, 75, c.Progressive));
    jpeg.SetProgressInterval(std::chrono::milliseconds(0));
    std::vector<std::pair<TProgressStage, int>> calls;
    int running = 0;
    jpeg.SetOnProgress([&](TJPEGImage&, TProgressStage Stage, int Percent) {
        calls.emplace_back(Stage, Percent);
        if (Stage == psRunning && ++running == c.AbortAt) throw EAbort();
    });
    jpeg.DIBNeeded();
    EXPECT_EQ(jpeg.Bitmap().isNull(), c.AbortAt > 0);
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls.front(), std::make_pair(psStarting, 0));
    EXPECT_EQ(calls.back(), std::make_pair(psEnding, c.AbortAt > 0 ? 0 : 100));
    EXPECT_GE(running, c.AbortAt > 0 ? c.AbortAt : 10);
    for (std::size_t i = 1; i + 1 < calls.size(); ++i) {
        EXPECT_EQ(calls[i].first, psRunning);
        EXPECT_GT(calls[i].second, calls[i - 1].second);
        EXPECT_LE(calls[i].second, 100);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, DecodeProgressTest,
                         ::testing::Values(DecodeProgressCase{"Baseline", false, 0},
                                           DecodeProgressCase{"Progressive", true, 0},
                                           DecodeProgressCase{"BaselineAborted", false, 3},
                                           DecodeProgressCase{"ProgressiveAborted", true, 3}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// --- what a load says about the file ---

struct ScanCase {
    const char* Name;
    QByteArray (*Bytes)();
    bool Several;
};

// Names the case in test listings.
void PrintTo(const ScanCase& P, std::ostream* Os) {
    *Os << P.Name;
}

class ScanCountTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanCountTest, ProgressiveOutputSaysWhetherTheFileHasSeveralScans) {
    TJPEGImage jpeg;
    jpeg.SetProgressiveOutput(!GetParam().Several);
    Load(jpeg, GetParam().Bytes());
    EXPECT_EQ(jpeg.ProgressiveOutput(), GetParam().Several);
    EXPECT_LT(MeanError(jpeg.ToBitmap(), ConsoleLike()), 4.0);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ScanCountTest,
    ::testing::Values(ScanCase{"Baseline", [] { return Encoded(ConsoleLike(), 75); }, false},
                      ScanCase{"Progressive", [] { return Encoded(ConsoleLike(), 75, true); },
                               true},
                      ScanCase{"SequentialOneScan",
                               [] { return EncodeSequential(ConsoleLike(), 0, false); }, false},
                      ScanCase{"SequentialScanPerChannel",
                               [] { return EncodeSequential(ConsoleLike(), 0, true); }, true}),
    [](const auto& Info) { return std::string(Info.param.Name); });

struct InkCase {
    const char* Name;
    std::array<uchar, 4> Stored;
    bool Adobe;
    QColor Shown;
};

// Names the case in test listings.
void PrintTo(const InkCase& P, std::ostream* Os) {
    *Os << P.Name;
}

class InkTest : public ::testing::TestWithParam<InkCase> {};

TEST_P(InkTest, FourChannelsAreInvertedOnlyWithAdobesMarker) {
    const InkCase& c = GetParam();
    TJPEGImage jpeg;
    Load(jpeg, EncodeFourChannels(16, 16, c.Stored, c.Adobe));
    const QColor got = jpeg.ToBitmap().pixelColor(8, 8);
    EXPECT_LE(std::abs(got.red() - c.Shown.red()) + std::abs(got.green() - c.Shown.green()) +
                  std::abs(got.blue() - c.Shown.blue()),
              12)
        << got.name().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Inks, InkTest,
    ::testing::Values(InkCase{"AdobeCyan", {0, 255, 255, 255}, true, QColor(0, 255, 255)},
                      InkCase{"AdobeNoInk", {255, 255, 255, 255}, true, QColor(Qt::white)},
                      InkCase{"PlainCyan", {255, 0, 0, 0}, false, QColor(0, 255, 255)},
                      InkCase{"PlainNoInk", {0, 0, 0, 0}, false, QColor(Qt::white)},
                      InkCase{"PlainBlack", {0, 0, 0, 255}, false, QColor(Qt::black)}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// --- the palette default for low-colour screens ---

TEST(JpegDefaultsTest, ScreenDefaultNeverOverridesTheProgramsChoice) {
    const TJPEGDefaults saved = JPEGDefaults;
    // Set at start: nothing left to arrive through the event loop and undo a later choice.
    JPEGDefaults.PixelFormat = jf8Bit;
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(JPEGDefaults.PixelFormat, jf8Bit);
    EXPECT_EQ(TJPEGImage().PixelFormat(), jf8Bit);
    JPEGDefaults = saved;

    // A choice made before the application object, against what the screen suggests.
    for (const TJPEGPixelFormat chosen : {jf24Bit, jf8Bit}) {
        TJPEGDefaults defaults;
        defaults.PixelFormat = chosen;
        defaults.PixelFormat.Suggest(chosen == jf8Bit ? jf24Bit : jf8Bit);
        EXPECT_EQ(defaults.PixelFormat, chosen);
    }
    TJPEGDefaults untouched;
    untouched.PixelFormat.Suggest(jf8Bit);
    EXPECT_EQ(untouched.PixelFormat, jf8Bit);
    EXPECT_FALSE(untouched.PixelFormat.Chosen());
}

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
