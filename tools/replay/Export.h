// Records written out as the console would have saved them: one picture of the shown record, or
// a range as a snapshot series folder named the console's way.
#pragma once

#include <QDateTime>
#include <QImage>
#include <QString>
#include <utility>
#include <vector>

namespace replay {

// Which record becomes which picture of a series folder: the folder named after the first record
// with a time, a picture per second named after it. Records of one second share a name, and the
// last of them is kept, as the console's later snapshot replaced the earlier; records without a
// time are left out.
struct SeriesPlan {
    QString Folder;
    std::vector<std::pair<size_t, QString>> Pictures; // record index, file name
    size_t Untimed = 0;
};
SeriesPlan PlanSeries(const std::vector<std::pair<size_t, QDateTime>>& Times);

// Writes Picture to Path: JPEG through the picture class at the console's quality 50 for a .jpg
// or .jpeg name, else PNG. An empty string, or why it failed.
QString SavePicture(const QImage& Picture, const QString& Path);

} // namespace replay
