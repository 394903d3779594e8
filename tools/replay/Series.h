// The console's snapshot series read back: a ddmmyy_hhmmss folder of hhmmss.jpg pictures, in the
// order they were taken, each with its time from its name; and the names the console gives, for
// writing a series.
#pragma once

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QStringList>
#include <vector>

namespace replay {

struct Picture {
    QString Path;
    QDateTime When; // invalid when the name is not hhmmss.jpg
};

// The start a series folder's name says (ddmmyy_hhmmss), or an invalid time.
QDateTime SeriesStart(const QString& FolderName);
// The pictures of Folder (.jpg and .jpeg), in the order taken: named ones by their time, a name
// before the folder's start time of day being the next day's; the others after them by name.
std::vector<Picture> ListSeries(const QString& Folder);

// The console's names: the series folder from its start, a picture from its time.
QString SeriesFolderName(const QDateTime& Start);
QString PictureName(const QDateTime& When);

// The largest picture the viewer decodes, in pixels: the picture class refuses a file claiming
// more from its header.
constexpr qint64 MaxPicturePixels = 64LL * 1024 * 1024;

// Decodes a picture through the project's picture class at full size or, with Eighth, at 1/8.
// A null image with Error set when the file cannot be read, is no JPEG, claims too large a
// size or fails to decode.
QImage DecodePicture(const QString& Path, bool Eighth, QString* Error);
// What is shown in a picture's place when it cannot be: its name and why, on grey.
QImage ErrorTile(const QSize& Size, const QString& Name, const QString& Error);

} // namespace replay
