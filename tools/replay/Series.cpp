#include "tools/replay/Series.h"

#include "imaging/Exceptions.h"
#include "imaging/jpeg.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QRegularExpression>
#include <algorithm>
#include <new>

namespace replay {

namespace {

// The picture class reads a whole file into memory before its header: more than any picture of
// a series is refused before that.
constexpr qint64 kMaxFileBytes = 256LL * 1024 * 1024;
// libjpeg's message code for a picture beyond the pixel limit (JERR_IMAGE_TOO_BIG).
constexpr int kImageTooBig = 41;

std::optional<QTime> TimeOfName(const QString& FileName) {
    static const QRegularExpression pattern(QStringLiteral("^(\\d{6})\\.jpe?g$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const auto m = pattern.match(FileName);
    if (!m.hasMatch()) return {};
    const QTime t = QTime::fromString(m.captured(1), QStringLiteral("HHmmss"));
    if (!t.isValid()) return {};
    return t;
}

} // namespace

QDateTime SeriesStart(const QString& FolderName) {
    static const QRegularExpression pattern(QStringLiteral("^\\d{6}_\\d{6}$"));
    if (!pattern.match(FolderName).hasMatch()) return {};
    // Two-digit years are this century's.
    const QDate date = QDate::fromString(FolderName.left(6), QStringLiteral("ddMMyy"));
    const QTime time = QTime::fromString(FolderName.mid(7), QStringLiteral("HHmmss"));
    if (!date.isValid() || !time.isValid()) return {};
    return QDateTime(date.year() < 2000 ? date.addYears(100) : date, time);
}

std::vector<Picture> ListSeries(const QString& Folder) {
    const QDir dir(Folder);
    const QDateTime start = SeriesStart(QFileInfo(QDir::cleanPath(Folder)).fileName());
    const QStringList names = dir.entryList({QStringLiteral("*.jpg"), QStringLiteral("*.jpeg"),
                                             QStringLiteral("*.JPG"), QStringLiteral("*.JPEG")},
                                            QDir::Files | QDir::Readable, QDir::Name);
    std::vector<Picture> named, others;
    for (const QString& name : names) {
        Picture p{dir.filePath(name), {}};
        if (const auto t = TimeOfName(name)) {
            if (start.isValid()) {
                // The console names a picture by the time of day: one before the series began
                // was taken after midnight.
                QDateTime when(start.date(), *t);
                if (*t < start.time()) when = when.addDays(1);
                p.When = when;
            } else {
                // Outside a series folder the day is the file's own.
                p.When = QDateTime(QFileInfo(p.Path).lastModified().date(), *t);
            }
            named.push_back(p);
        } else {
            others.push_back(p);
        }
    }
    std::stable_sort(named.begin(), named.end(), [&](const Picture& a, const Picture& b) {
        if (start.isValid()) return a.When < b.When;
        return a.When.time() < b.When.time();
    });
    named.insert(named.end(), others.begin(), others.end());
    return named;
}

QString SeriesFolderName(const QDateTime& Start) {
    return Start.toString(QStringLiteral("ddMMyy_HHmmss"));
}

QString PictureName(const QDateTime& When) {
    return When.toString(QStringLiteral("HHmmss")) + QStringLiteral(".jpg");
}

QImage DecodePicture(const QString& Path, bool Eighth, QString* Error) {
    const auto fail = [&](const QString& Why) {
        if (Error) *Error = Why;
        return QImage();
    };
    const QFileInfo info(Path);
    if (!info.isFile()) return fail(QStringLiteral("not a file"));
    if (info.size() > kMaxFileBytes)
        return fail(QStringLiteral("%1 MB: too large for a picture").arg(info.size() >> 20));
    try {
        TJPEGImage jpeg;
        // The class refuses a header claiming more, before anything is allocated for it.
        jpeg.SetMaxPixels(MaxPicturePixels);
        if (Eighth) jpeg.SetScale(jsEighth);
        jpeg.LoadFromFile(Path);
        QImage image = jpeg.ToBitmap();
        if (image.isNull()) return fail(QStringLiteral("no pixels decoded"));
        return image;
    } catch (const EJPEG& e) {
        if (e.ErrorCode() == kImageTooBig)
            return fail(QStringLiteral("it claims more than %1 million pixels: refused")
                            .arg(MaxPicturePixels / 1000000));
        return fail(QStringLiteral("not a readable JPEG picture (%1)").arg(e.Message()));
    } catch (const Exception& e) {
        return fail(e.Message());
    } catch (const std::bad_alloc&) {
        return fail(QStringLiteral("out of memory decoding it"));
    } catch (const std::exception& e) {
        return fail(QString::fromUtf8(e.what()));
    }
}

QImage ErrorTile(const QSize& Size, const QString& Name, const QString& Error) {
    QImage tile(Size.isValid() ? Size : QSize(64, 44), QImage::Format_RGB32);
    tile.fill(QColor(0x60, 0x60, 0x60));
    QPainter p(&tile);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setPixelSize(std::max(8, tile.height() / 10));
    p.setFont(f);
    p.drawText(tile.rect().adjusted(4, 4, -4, -4), Qt::AlignCenter | Qt::TextWordWrap,
               Name + QStringLiteral("\n") + Error);
    return tile;
}

} // namespace replay
