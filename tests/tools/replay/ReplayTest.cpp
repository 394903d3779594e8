// ormelix-replay: the recording read back (volts to bytes, the row index, torn and bad rows), the
// record shown exactly as the plot unit draws it, the level-crossing search, snapshot series and
// export.
#include "app/Plot.h"
#include "imaging/jpeg.h"
#include "tools/cli/Csv.h"
#include "tools/replay/ConsolePanel.h"
#include "tools/replay/Export.h"
#include "tools/replay/Overview.h"
#include "tools/replay/Recording.h"
#include "tools/replay/RecordingFile.h"
#include "tools/replay/ReplayWindow.h"
#include "tools/replay/Series.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <random>

using namespace replay;

namespace {

void WriteFile(const QString& Path, const std::string& Content) {
    QFile f(Path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(Content.data(), static_cast<qint64>(Content.size()));
}

void AppendFile(const QString& Path, const std::string& Content) {
    QFile f(Path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Append));
    f.write(Content.data(), static_cast<qint64>(Content.size()));
}

// A record as the instrument sends it, with the bytes a row does not carry left 0.
RecordBytes MakeRecord(std::mt19937& Rng, uint8_t Scale) {
    RecordBytes r{};
    std::uniform_int_distribution<int> byte(0, 255);
    for (int s = 0; s < 2; ++s)
        for (int i = 0; i < instrument::SamplePoints; ++i)
            r[instrument::SampleByte(s, i)] = static_cast<uint8_t>(byte(Rng));
    r[instrument::ScaleByte] = Scale;
    for (int b : {instrument::MinS1, instrument::MaxS1, instrument::MinS2, instrument::MaxS2})
        r[b] = static_cast<uint8_t>(byte(Rng));
    r[instrument::CursorPos] =
        static_cast<uint8_t>(std::uniform_int_distribution<int>(0, 240)(Rng));
    return r;
}

std::string CsvLine(int Second, uint64_t Counter, const RecordBytes& R, bool Raw) {
    char time[48];
    std::snprintf(time, sizeof time, "2026-12-09T23:59:%02d.%03d+01:00", Second % 60,
                  static_cast<int>(Counter % 1000));
    return cli::CsvRow(time, Counter, R.data(), Raw);
}

void ProcessUntil(const std::function<bool()>& Done, int Ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!Done() && t.elapsed() < Ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

// Every byte at every scale written as volts by the recorder comes back as that byte; text that
// is the volts of no byte, or no number, is refused.
TEST(ReplayVolts, RoundTripAndRefusal) {
    for (int scale = 1; scale <= 255; ++scale)
        for (int b = 0; b <= 255; ++b) {
            std::string text;
            cli::AppendVolts(text, static_cast<uint8_t>(b), static_cast<uint8_t>(scale));
            const auto back = VoltsToByte(text, static_cast<uint8_t>(scale));
            ASSERT_TRUE(back) << text << " at scale " << scale;
            ASSERT_EQ(*back, b) << text << " at scale " << scale;
        }
    const struct {
        const char* Field;
        int Scale;
    } refused[] = {
        {"0.017100", 64}, // between byte 0 and byte 1
        {"0.017190", 64}, // byte 1 is 0.0171875: off by more than the last decimal
        {"abc", 64},       {"", 64},         {"-0.017188", 64}, {"+0.017188", 64},
        {"1e-2", 64},      {"4.400001", 64}, {"5.000000", 64}, // above byte 255
        {"0.017188", 0},                                       // scale 0 carries no volts
        {"0.017188x", 64},
    };
    for (const auto& c : refused)
        EXPECT_FALSE(VoltsToByte(c.Field, static_cast<uint8_t>(c.Scale))) << c.Field;
    for (const char* f : {"256", "-1", "1.0", "", " 5", "0x10", "12a"})
        EXPECT_FALSE(RawByte(f)) << f;
    EXPECT_EQ(RawByte("255"), 255);
    EXPECT_EQ(RawByte("0"), 0);
}

// The file's bytes as the platform's reader gives them (kept mapped on Linux, mapped for the scan
// and read by row on Windows): any range, a scan from any offset (mapping offsets are not page
// aligned), and the bytes appended later once loaded again.
TEST(ReplayRecording, FileBytesAsWritten) {
    QTemporaryDir dir;
    const QString path = dir.filePath("bytes.bin");
    std::string content;
    for (int i = 0; i < 70000; ++i) content += static_cast<char>('a' + (i * 7919) % 26);
    WriteFile(path, content.substr(0, 50000));
    RecordingFile file;
    QString error;
    ASSERT_TRUE(file.Open(path, error)) << error.toStdString();
    ASSERT_EQ(file.Size(), 50000);
    ASSERT_TRUE(file.Load(50000, error)) << error.toStdString();
    const auto check = [&](qint64 Loaded) {
        const struct {
            qint64 From, To;
        } ranges[] = {{0, 1}, {4095, 4097}, {12345, 23456}, {Loaded - 3, Loaded}, {0, Loaded}};
        for (const auto& r : ranges)
            // Compared whole, not printed: the ranges are long.
            EXPECT_TRUE(file.Bytes(r.From, r.To) ==
                        std::string_view(content).substr(static_cast<size_t>(r.From),
                                                         static_cast<size_t>(r.To - r.From)))
                << r.From << ".." << r.To;
        for (const qint64 from : {qint64{0}, qint64{1}, qint64{40961}, Loaded - 1}) {
            std::string seen;
            ASSERT_TRUE(file.Scan(
                from, [&](const char* Data, qint64 Length) { seen.assign(Data, Length); }, error))
                << error.toStdString();
            EXPECT_TRUE(seen == content.substr(static_cast<size_t>(from),
                                               static_cast<size_t>(Loaded - from)))
                << from << ": " << seen.size() << " bytes";
        }
    };
    check(50000);
    AppendFile(path, content.substr(50000));
    ASSERT_TRUE(file.Open(path, error)) << error.toStdString();
    ASSERT_EQ(file.Size(), 70000);
    ASSERT_TRUE(file.Load(70000, error)) << error.toStdString();
    check(70000);
}

// The index over whole rows: foreign files and missing columns refused with the reason, a torn
// last row left out until it is whole, a field that is no number makes only its record missing.
TEST(ReplayRecording, IndexOverGoodAndBadFiles) {
    QTemporaryDir dir;
    std::mt19937 rng(7);
    const std::string header = cli::CsvHeader();
    std::string rows[3];
    for (int i = 0; i < 3; ++i)
        rows[i] = CsvLine(i, static_cast<uint64_t>(i + 1), MakeRecord(rng, 64), i == 1);
    std::string badField = rows[2];
    {
        // s1_5 is the 14th field.
        size_t pos = 0;
        for (int commas = 0; commas < 13; ++commas) pos = badField.find(',', pos) + 1;
        badField.replace(pos, badField.find(',', pos) - pos, "x1");
    }
    std::string noColumn = header;
    noColumn.replace(noColumn.find(",s2_120"), 7, "");
    std::string lf = header + rows[0];
    std::erase(lf, '\r'); // the rows' CRLF as LF

    const struct {
        const char* Name;
        std::string Content;
        bool Opens;
        const char* ErrorHas;
        size_t Count;
        int MissingRow; // -1 for none
        const char* ProblemHas;
    } cases[] = {
        {"good", header + rows[0] + rows[1] + rows[2], true, "", 3, -1, ""},
        {"header only", header, true, "", 0, -1, ""},
        {"line feeds only", lf, true, "", 1, -1, ""},
        {"blank lines between", header + rows[0] + "\r\n" + rows[1], true, "", 2, -1, ""},
        {"torn last row", header + rows[0] + rows[1].substr(0, 300), true, "", 1, -1, ""},
        {"not a number", header + rows[0] + rows[1] + badField, true, "", 3, 2, "s1_5"},
        {"short row", header + rows[0] + "2026-12-09T10:00:00.000+00:00,5,64\r\n", true, "", 2, 1,
         "fields"},
        {"foreign", "name,value\r\nx,1\r\n", false, "not an ormelix-cli recording", 0, -1, ""},
        {"missing column", noColumn + rows[0], false, "lacks the column s2_120", 0, -1, ""},
        {"empty", "", false, "empty", 0, -1, ""},
        {"no line end at all", header.substr(0, 100), false, "no header line", 0, -1, ""},
        {"binary", std::string("\x89PNG\r\n\x1a\n\0\0", 10), false, "not an ormelix-cli recording",
         0, -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString path = dir.filePath(QString::fromUtf8(c.Name) + ".csv");
        WriteFile(path, c.Content);
        Recording r;
        ASSERT_EQ(r.Open(path), c.Opens) << r.Error().toStdString();
        if (!c.Opens) {
            EXPECT_TRUE(r.Error().contains(QString::fromUtf8(c.ErrorHas)))
                << r.Error().toStdString();
            continue;
        }
        ASSERT_EQ(r.Count(), c.Count);
        for (size_t i = 0; i < r.Count(); ++i) {
            const replay::Row row = r.Record(i);
            if (static_cast<int>(i) == c.MissingRow) {
                EXPECT_TRUE(row.Missing);
                EXPECT_TRUE(row.Problem.contains(QString::fromUtf8(c.ProblemHas)))
                    << row.Problem.toStdString();
            } else {
                EXPECT_FALSE(row.Missing) << i << ": " << row.Problem.toStdString();
                EXPECT_TRUE(row.When.isValid());
            }
        }
    }

    // The torn row, completed, is read on the next refresh; a shortened file asks to be reopened.
    const QString torn = dir.filePath("torn last row.csv");
    Recording r;
    ASSERT_TRUE(r.Open(torn));
    ASSERT_EQ(r.Count(), 1u);
    AppendFile(torn, rows[1].substr(300));
    ASSERT_TRUE(r.Refresh());
    ASSERT_EQ(r.Count(), 2u);
    EXPECT_FALSE(r.Record(1).Missing) << r.Record(1).Problem.toStdString();
    EXPECT_EQ(r.Record(1).Counter, 2u);
    WriteFile(torn, header);
    EXPECT_FALSE(r.Refresh());
}

// A record k of a recording, raw or in volts, is drawn pixel for pixel as the plot unit draws the
// bytes it was made from, with the same labels; S2's points sit at row 255 − byte.
TEST(ReplayWindowTest, ShowsRecordExactlyAsThePlotUnitDraws) {
    QTemporaryDir dir;
    std::mt19937 rng(26);
    std::vector<RecordBytes> records;
    const uint8_t scales[] = {64, 100, 255, 37};
    for (int i = 0; i < 12; ++i) records.push_back(MakeRecord(rng, scales[i % 4]));
    for (const bool raw : {true, false}) {
        SCOPED_TRACE(raw ? "raw" : "volts");
        std::string content = cli::CsvHeader();
        for (size_t i = 0; i < records.size(); ++i)
            content += CsvLine(static_cast<int>(i), i + 1, records[i], raw);
        const QString path = dir.filePath(raw ? "raw.csv" : "volts.csv");
        WriteFile(path, content);
        ReplayWindow window;
        ASSERT_TRUE(window.Open(path)) << window.Status().toStdString();
        window.Panel()->SetLevels(1.25L, 3.5L);
        const long double levels[2] = {1.25L, 3.5L};
        for (size_t k : {size_t{0}, size_t{5}, size_t{11}}) {
            window.Go(k);
            TCanvas expected(PlotWidth, PlotHeight);
            PlotLabels labels;
            DrawRecord(expected, records[k].data(), levels, labels);
            ASSERT_EQ(window.Panel()->Plot().Bitmap(), expected.Bitmap()) << "record " << k;
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(window.Panel()->Upper().ReadOuts[i]->text(), labels.ReadOuts[i]);
            EXPECT_EQ(window.Panel()->Upper().Label_mark1->text(), labels.MarkerTexts[0]);
            EXPECT_EQ(window.Panel()->Upper().Pos_Label->text(), labels.CursorText);
            const int cursorX = 2 * records[k][instrument::CursorPos] - 2;
            for (int i = 0; i < instrument::SamplePoints - 2; ++i) {
                if (std::abs(4 * i - cursorX) <= 3) continue;
                EXPECT_EQ(window.Panel()->Plot().Pixel(
                              4 * i, 255 - records[k][instrument::SampleByte(1, i)]),
                          clRed)
                    << "point " << i;
            }
        }
    }
}

#ifdef ORMELIX_CLI
// The same for a recording made by ormelix-cli itself, its bytes taken with the recorder's own
// field reader and the instrument's byte map.
TEST(ReplayWindowTest, ShowsADemoRecordingAsThePlotUnitDraws) {
    QTemporaryDir dir;
    const QString path = dir.filePath("rec.csv");
    QProcess p;
    p.start(ORMELIX_CLI,
            {"record", "--demo", "--raw", "--period", "10", "--count", "40", "-o", path});
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ReplayWindow window;
    ASSERT_TRUE(window.Open(path));
    ASSERT_EQ(window.Count(), 40u);
    const long double levels[2] = {1.0L, 2.0L};
    for (size_t k : {size_t{0}, size_t{17}, size_t{39}}) {
        const auto fields =
            cli::CsvFields(lines[static_cast<qsizetype>(k + 1)].trimmed().toStdString());
        ASSERT_EQ(fields.size(), 250u);
        RecordBytes bytes{};
        bytes[instrument::ScaleByte] = static_cast<uint8_t>(std::stoi(fields[2]));
        bytes[instrument::CursorPos] = static_cast<uint8_t>(std::stoi(fields[3]));
        const int fixed[] = {instrument::MinS1, instrument::MaxS1, instrument::MinS2,
                             instrument::MaxS2};
        for (int c = 0; c < 4; ++c)
            bytes[fixed[c]] = static_cast<uint8_t>(std::stoi(fields[4 + c]));
        for (int s = 0; s < 2; ++s)
            for (int i = 0; i < instrument::SamplePoints; ++i)
                bytes[instrument::SampleByte(s, i)] =
                    static_cast<uint8_t>(std::stoi(fields[8 + s * instrument::SamplePoints + i]));
        window.Go(k);
        TCanvas expected(PlotWidth, PlotHeight);
        PlotLabels labels;
        DrawRecord(expected, bytes.data(), levels, labels);
        EXPECT_EQ(window.Panel()->Plot().Bitmap(), expected.Bitmap()) << "record " << k;
        EXPECT_EQ(window.Panel()->Upper().ReadOuts[1]->text(), labels.ReadOuts[1]);
    }
}
#endif

// The next record whose S1 or S2 minimum or maximum lies across a level from the record before.
TEST(ReplayFind, NextCrossing) {
    // Extremes in bytes at scale 64 (1 V is byte 58.18…): min S1, max S1, min S2, max S2.
    const auto s = [](int a, int b, int c, int d, uint8_t scale = 64) {
        Summary x;
        x.Scale = scale;
        x.Extremes[0] = static_cast<uint8_t>(a);
        x.Extremes[1] = static_cast<uint8_t>(b);
        x.Extremes[2] = static_cast<uint8_t>(c);
        x.Extremes[3] = static_cast<uint8_t>(d);
        x.Valid = true;
        return x;
    };
    Summary invalid;
    const std::vector<Summary> rec = {
        s(10, 50, 10, 50),     // 0: all below 1 V
        s(10, 50, 10, 50),     // 1
        s(10, 60, 10, 50),     // 2: max S1 rises over 1 V
        s(10, 60, 10, 50),     // 3
        s(10, 60, 10, 120),    // 4: max S2 over 2 V (byte 116.36)
        invalid,               // 5: missing
        s(10, 60, 10, 50),     // 6: after a missing record: no "before"
        s(10, 60, 10, 50),     // 7
        s(10, 60, 10, 50, 32), // 8: the same bytes at another scale: max S1 now 2.06 V
    };
    const auto at = [&](size_t i) { return rec[i]; };
    const struct {
        size_t From;
        long double Levels[2];
        std::optional<size_t> Expected;
    } cases[] = {
        {0, {1.0L, 2.0L}, 2},
        {2, {1.0L, 2.0L}, 4},
        {4, {1.0L, 2.0L}, 8},
        {0, {2.0L, 2.0L}, 4},
        {0, {3.9L, 3.9L}, std::nullopt},
        {8, {1.0L, 2.0L}, std::nullopt},
        {0, {0.1L, 4.0L}, std::nullopt}, // no extreme reaches either level
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindNextCrossing(at, rec.size(), c.From, c.Levels), c.Expected)
            << "from " << c.From << " levels " << static_cast<double>(c.Levels[0]);
}

// A series folder's pictures in the order taken, across midnight, with their times from their
// names; other pictures after them by name.
TEST(ReplaySeries, OrderAndTimesFromNames) {
    QTemporaryDir root;
    const QString folder = root.filePath("091226_235958");
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const char* name : {"000001.jpg", "235959.jpg", "notes.jpg", "000000.JPG", "235958.jpg",
                             "readme.txt", "250000.jpg"})
        WriteFile(QDir(folder).filePath(name), "");
    const auto list = ListSeries(folder);
    const struct {
        const char* Name;
        const char* When; // empty: no time
    } expected[] = {{"235958.jpg", "2026-12-09T23:59:58"},
                    {"235959.jpg", "2026-12-09T23:59:59"},
                    {"000000.JPG", "2026-12-10T00:00:00"},
                    {"000001.jpg", "2026-12-10T00:00:01"},
                    {"250000.jpg", ""},
                    {"notes.jpg", ""}};
    ASSERT_EQ(list.size(), std::size(expected));
    for (size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(QFileInfo(list[i].Path).fileName().toStdString(), expected[i].Name) << i;
        EXPECT_EQ(list[i].When.toString(Qt::ISODate).toStdString(), expected[i].When) << i;
    }
    EXPECT_EQ(SeriesStart("311299_120000"), QDateTime(QDate(2099, 12, 31), QTime(12, 0)));
    EXPECT_FALSE(SeriesStart("321299_120000").isValid());
    EXPECT_FALSE(SeriesStart("pictures").isValid());
}

// Pictures that decode, that fail, and that claim a huge size: the bad ones become error tiles and
// the rest are still shown, the strip decoded at 1/8 in the background.
TEST(ReplaySeries, BadPicturesGetErrorTiles) {
    QTemporaryDir root;
    const QString folder = root.filePath("091226_120000");
    ASSERT_TRUE(QDir().mkpath(folder));
    QImage image(PanelWidth, PanelHeight, QImage::Format_RGB32);
    image.fill(Qt::blue);
    ASSERT_TRUE(SavePicture(image, QDir(folder).filePath("120001.jpg")).isEmpty());
    QFile good(QDir(folder).filePath("120001.jpg"));
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    QByteArray bytes = good.readAll();
    WriteFile(QDir(folder).filePath("120002.jpg"), "not a picture at all");
    WriteFile(QDir(folder).filePath("120003.jpg"), bytes.left(bytes.size() / 3).toStdString());
    // The frame header's height and width claimed as 60000 × 60000: within what libjpeg reads,
    // far beyond what a viewer should allocate.
    const qsizetype sof = bytes.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    QByteArray huge = bytes;
    for (int i : {5, 7}) {
        huge[sof + i] = '\xEA';
        huge[sof + i + 1] = '\x60';
    }
    WriteFile(QDir(folder).filePath("120004.jpg"), huge.toStdString());

    QString error;
    EXPECT_EQ(DecodePicture(QDir(folder).filePath("120001.jpg"), true, &error).size(),
              QSize(65, 45));
    const struct {
        const char* Name;
        bool Decodes;
        const char* ErrorHas;
    } cases[] = {{"120001.jpg", true, ""},
                 {"120002.jpg", false, "JPEG"},
                 {"120003.jpg", false, "JPEG"},
                 {"120004.jpg", false, "refused"}};
    for (const auto& c : cases) {
        error.clear();
        const QImage decoded = DecodePicture(QDir(folder).filePath(c.Name), false, &error);
        EXPECT_EQ(!decoded.isNull(), c.Decodes) << c.Name;
        EXPECT_EQ(error.isEmpty(), c.Decodes) << c.Name << ": " << error.toStdString();
        EXPECT_TRUE(error.contains(c.ErrorHas)) << c.Name << ": " << error.toStdString();
    }

    ReplayWindow window;
    ASSERT_TRUE(window.Open(folder));
    ASSERT_EQ(window.PictureCount(), 4u);
    EXPECT_GT(window.ShownPicture().pixelColor(10, 10).blue(), 200);
    for (size_t i = 1; i < 4; ++i) {
        window.ShowPicture(i);
        EXPECT_EQ(window.ShownPicture().size(), QSize(PanelWidth, PanelHeight));
        EXPECT_TRUE(window.Status().contains("cannot be shown")) << window.Status().toStdString();
    }
    window.ShowPicture(0);
    EXPECT_GT(window.ShownPicture().pixelColor(10, 10).blue(), 200);
    ProcessUntil([&] { return window.ThumbnailsDone(); });
    EXPECT_TRUE(window.ThumbnailsDone());

    // One picture opened: its series, at it, saying why it cannot be shown.
    ReplayWindow single;
    ASSERT_TRUE(single.Open(QDir(folder).filePath("120004.jpg")));
    EXPECT_EQ(single.PictureCount(), 4u);
    EXPECT_EQ(single.CurrentPicture(), 3u);
    EXPECT_TRUE(single.Status().contains("refused")) << single.Status().toStdString();
}

// The console's names: the folder after the first timed record, a picture a second, the last
// record of a second kept.
TEST(ReplayExport, SeriesNaming) {
    const auto t = [](int h, int m, int s, int ms = 0) {
        return QDateTime(QDate(2026, 12, 9), QTime(h, m, s, ms), Qt::OffsetFromUTC, 3600);
    };
    const SeriesPlan plan = PlanSeries({{size_t{3}, QDateTime()},
                                        {4, t(23, 59, 58, 100)},
                                        {5, t(23, 59, 58, 600)},
                                        {6, t(23, 59, 59)},
                                        {7, QDateTime(QDate(2026, 12, 10), QTime(0, 0, 0))}});
    EXPECT_EQ(plan.Folder, "091226_235958");
    EXPECT_EQ(plan.Untimed, 1u);
    const std::vector<std::pair<size_t, QString>> expected = {
        {5, "235958.jpg"}, {6, "235959.jpg"}, {7, "000000.jpg"}};
    EXPECT_EQ(plan.Pictures, expected);
    EXPECT_TRUE(PlanSeries({{size_t{0}, QDateTime()}}).Pictures.empty());
}

// Export from the window: the shown record as the console's 517 × 353 picture (the plot at its
// place in it), and a range as a series folder the viewer reads back in order.
TEST(ReplayExport, PictureAndSeriesFromTheWindow) {
    QTemporaryDir dir;
    std::mt19937 rng(3);
    std::string content = cli::CsvHeader();
    for (int i = 0; i < 6; ++i)
        content += CsvLine(50 + i / 2, static_cast<uint64_t>(i + 1), MakeRecord(rng, 64), true);
    const QString path = dir.filePath("rec.csv");
    WriteFile(path, content);
    ReplayWindow window;
    ASSERT_TRUE(window.Open(path));
    window.Go(2);
    const QString png = dir.filePath("shot.png");
    ASSERT_EQ(window.ExportPicture(png), QString());
    QImage shot(png);
    ASSERT_EQ(shot.size(), QSize(517, 353));
    const QImage plot = window.Panel()->Plot().Bitmap();
    for (int y = 0; y < PlotHeight; y += 7)
        for (int x = 0; x < PlotWidth; x += 5)
            ASSERT_EQ(shot.pixel(18 + x, y), plot.pixel(x, y)) << x << "," << y;
    ASSERT_EQ(window.ExportPicture(dir.filePath("shot.jpg")), QString());
    EXPECT_EQ(DecodePicture(dir.filePath("shot.jpg"), false, nullptr).size(), QSize(517, 353));
    EXPECT_FALSE(window.ExportPicture(dir.filePath("no/such/folder/x.png")).isEmpty());

    QString error;
    const QString folder = window.ExportSeries(dir.path(), 0, 5, &error);
    ASSERT_FALSE(folder.isEmpty()) << error.toStdString();
    EXPECT_EQ(QFileInfo(folder).fileName(), "091226_235950");
    const auto list = ListSeries(folder);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(QFileInfo(list[2].Path).fileName(), "235952.jpg");
    EXPECT_EQ(DecodePicture(list[0].Path, false, nullptr).size(), QSize(517, 353));
    EXPECT_EQ(window.Current(), 2u);
}

// Stepping stays within the file, playback moves on by the recorded times, follow mode shows rows
// as they are appended, and a torn row waits until it is whole.
TEST(ReplayWindowTest, StepPlayAndFollow) {
    QTemporaryDir dir;
    std::mt19937 rng(5);
    std::string content = cli::CsvHeader();
    for (int i = 0; i < 30; ++i)
        content += CsvLine(i, static_cast<uint64_t>(i + 1), MakeRecord(rng, 64), true);
    const QString path = dir.filePath("rec.csv");
    WriteFile(path, content);
    ReplayWindow window;
    ASSERT_TRUE(window.Open(path));
    const struct {
        long Step;
        size_t Expected;
    } steps[] = {{1, 1}, {10, 11}, {-1, 10}, {-10, 0}, {-10, 0}, {100, 29}, {1, 29}};
    for (const auto& s : steps) {
        window.Step(s.Step);
        EXPECT_EQ(window.Current(), s.Expected) << s.Step;
    }
    // A second apart: at 100 × several records pass in 100 ms.
    window.Go(0);
    window.Play(100);
    ProcessUntil([&] { return window.Current() >= 3; }, 3000);
    EXPECT_GE(window.Current(), 3u);
    window.Pause();
    ProcessUntil([&] { return window.OverviewReady(); });
    EXPECT_TRUE(window.OverviewReady());

    window.SetFollow(true);
    EXPECT_EQ(window.Current(), 29u);
    const std::string next = CsvLine(40, 31, MakeRecord(rng, 64), true);
    AppendFile(path, next.substr(0, 100));
    window.Poll();
    EXPECT_EQ(window.Count(), 30u);
    AppendFile(path, next.substr(100));
    window.Poll();
    EXPECT_EQ(window.Count(), 31u);
    EXPECT_EQ(window.Current(), 30u);
    EXPECT_EQ(window.Panel()->Message(), QString());
}

// The recorder cuts its file back while the window shows it (--force starting anew, a torn or
// half-written row taken back): the cut succeeds, and the window reads the file again from its
// start. Windows refuses to shorten a file that is mapped.
TEST(ReplayWindowTest, TheRecorderMayShortenTheFileWhileItIsShown) {
    QTemporaryDir dir;
    std::mt19937 rng(7);
    std::string content = cli::CsvHeader();
    std::vector<qint64> rowEnds = {static_cast<qint64>(content.size())};
    for (int i = 0; i < 20; ++i) {
        content += CsvLine(i, static_cast<uint64_t>(i + 1), MakeRecord(rng, 64), true);
        rowEnds.push_back(static_cast<qint64>(content.size()));
    }
    const QString path = dir.filePath("rec.csv");
    WriteFile(path, content);
    ReplayWindow window;
    ASSERT_TRUE(window.Open(path));
    window.Go(19);
    const struct {
        int Kept;  // rows left by the cut
        int Added; // rows written after it
    } cuts[] = {{5, 0}, {0, 3}, {1, 0}};
    for (const auto& c : cuts) {
        // The overview's reader is done with the file, as the window is between two polls.
        ProcessUntil([&] { return window.OverviewReady(); });
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.resize(rowEnds[static_cast<size_t>(c.Kept)]))
            << c.Kept << ": " << f.errorString().toStdString();
        f.close();
        for (int i = 0; i < c.Added; ++i)
            AppendFile(path,
                       CsvLine(30 + i, static_cast<uint64_t>(100 + i), MakeRecord(rng, 64), true));
        window.Poll();
        ASSERT_EQ(window.Count(), static_cast<size_t>(c.Kept + c.Added)) << c.Kept;
        EXPECT_EQ(window.Panel()->Message(), QString()) << c.Kept;
        window.Go(window.Count() - 1);
        EXPECT_EQ(window.Panel()->Message(), QString()) << c.Kept;
    }
}

// A file cut back under the window, between two polls: a record past the new end is shown as
// missing (no crash on the mapping's pages past the end), and the next poll reads the file anew.
TEST(ReplayWindowTest, ARecordPastACutIsMissingUntilThePoll) {
    QTemporaryDir dir;
    std::mt19937 rng(9);
    const std::string header = cli::CsvHeader();
    std::string content = header;
    for (int i = 0; i < 200; ++i)
        content += CsvLine(i, static_cast<uint64_t>(i + 1), MakeRecord(rng, 64), true);
    const QString path = dir.filePath("rec.csv");
    WriteFile(path, content);
    ReplayWindow window;
    ASSERT_TRUE(window.Open(path));
    ProcessUntil([&] { return window.OverviewReady(); });
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.resize(static_cast<qint64>(header.size())));
    f.close();
    for (const size_t k : {size_t{199}, size_t{0}}) {
        window.Go(k);
        EXPECT_TRUE(window.Panel()->Message().startsWith("Record missing")) << k;
    }
    AppendFile(path, CsvLine(50, 500, MakeRecord(rng, 64), true));
    window.Poll();
    ASSERT_EQ(window.Count(), 1u);
    EXPECT_EQ(window.Panel()->Message(), QString());
}

// Files that are not recordings are refused with a reason, and the window keeps what it showed.
TEST(ReplayWindowTest, RefusesWhatIsNoRecording) {
    QTemporaryDir dir;
    WriteFile(dir.filePath("foreign.csv"), "a,b\r\n1,2\r\n");
    const QString empty = dir.filePath("empty");
    QDir().mkpath(empty);
    ReplayWindow window;
    const struct {
        QString Path;
        const char* Says;
    } cases[] = {{dir.filePath("foreign.csv"), "not an ormelix-cli recording"},
                 {dir.filePath("nothing.csv"), "does not exist"},
                 {empty, "holds no JPEG pictures"}};
    for (const auto& c : cases) {
        EXPECT_FALSE(window.Open(c.Path));
        EXPECT_TRUE(window.Status().contains(c.Says)) << window.Status().toStdString();
    }
}

// What the console could not draw is said over a white plot: a --raw record of scale 0 (where the
// console's tick stops after the white fill) and a volts row of scale 0 (no volts to read); a
// quoted field is read as RFC 4180 has it.
TEST(ReplayWindowTest, RecordsTheConsoleCouldNotDraw) {
    QTemporaryDir dir;
    std::mt19937 rng(11);
    const RecordBytes good = MakeRecord(rng, 64);
    const RecordBytes zero = MakeRecord(rng, 0);
    std::string quoted = CsvLine(2, 3, good, true);
    quoted.insert(quoted.find(','), 1, '"'); // the first field in quotes
    quoted.insert(0, 1, '"');
    const std::string content =
        cli::CsvHeader() + CsvLine(0, 1, zero, true) + CsvLine(1, 2, zero, false) + quoted;
    const QString path = dir.filePath("zero.csv");
    WriteFile(path, content);
    ReplayWindow window;
    ASSERT_TRUE(window.Open(path));
    ASSERT_EQ(window.Count(), 3u);
    const struct {
        size_t Index;
        const char* MessageHas; // empty: drawn
    } cases[] = {{0, "could not draw"}, {1, "scale 0"}, {2, ""}, {0, "could not draw"}};
    for (const auto& c : cases) {
        window.Go(c.Index);
        EXPECT_TRUE(window.Panel()->Message().contains(c.MessageHas))
            << c.Index << ": " << window.Panel()->Message().toStdString();
        EXPECT_EQ(window.Panel()->Message().isEmpty(), *c.MessageHas == 0) << c.Index;
        const QImage& plot = window.Panel()->Plot().Bitmap();
        if (*c.MessageHas) {
            EXPECT_EQ(plot.pixel(100, 100), qRgb(255, 255, 255));
            EXPECT_EQ(window.Panel()->Upper().ReadOuts[0]->text(), QString());
        } else {
            TCanvas expected(PlotWidth, PlotHeight);
            PlotLabels labels;
            const long double levels[2] = {1.0L, 2.0L};
            DrawRecord(expected, good.data(), levels, labels);
            EXPECT_EQ(plot, expected.Bitmap());
        }
    }
}

// The overview strip maps its columns onto the whole recording, and a click there jumps.
TEST(ReplayWindowTest, OverviewColumnsCoverTheRecording) {
    std::vector<Summary> data(1000);
    OverviewStrip strip;
    strip.resize(200, 50);
    strip.SetData(&data, data.size());
    const struct {
        int X;
        size_t Record;
    } cases[] = {{-5, 0}, {0, 0}, {1, 5}, {100, 500}, {199, 995}, {500, 995}};
    for (const auto& c : cases) EXPECT_EQ(strip.RecordAt(c.X), c.Record) << c.X;
    std::optional<size_t> jumped;
    strip.OnJump = [&](size_t i) { jumped = i; };
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(100, 20), QPointF(100, 20), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&strip, &press);
    EXPECT_EQ(jumped, 500u);
    strip.SetData(&data, 0);
    EXPECT_EQ(strip.RecordAt(50), 0u);
}
