// The series page: a folder's pictures one by one, and the thumbnail strip decoded in the
// background.
#include "tools/replay/ReplayWindow.h"

#include "tools/replay/ConsolePanel.h"

#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>

namespace replay {

void ReplayWindow::StopThumbnails() {
    thumbStop_.store(true);
    if (thumbThread_.joinable()) thumbThread_.join();
    thumbStop_.store(false);
    ++thumbGeneration_;
    thumbnailsLeft_ = 0;
}

bool ReplayWindow::OpenSeries(const QString& Folder, const QString& Selected) {
    std::vector<Picture> list = ListSeries(Folder);
    if (list.empty()) {
        SetStatus(QStringLiteral("%1 holds no JPEG pictures.").arg(Folder), true);
        return false;
    }
    Pause();
    pollTimer_->stop();
    overviewTimer_->stop();
    builder_.reset();
    recording_.reset();
    StopThumbnails();
    pictures_ = std::move(list);
    pages_->setCurrentIndex(1);
    for (QPushButton* b : exportButtons_) b->setEnabled(false);
    setWindowTitle(QFileInfo(Folder).fileName() + QStringLiteral(" — Ormelix replay"));
    thumbnails_->blockSignals(true);
    thumbnails_->clear();
    QPixmap blank(kThumbWidth, kThumbHeight);
    blank.fill(QColor(0xE0, 0xE0, 0xE0));
    for (const Picture& p : pictures_) {
        auto* item = new QListWidgetItem(
            QIcon(blank), p.When.isValid() ? p.When.toString(QStringLiteral("HH:mm:ss"))
                                           : QFileInfo(p.Path).fileName());
        item->setToolTip(p.Path);
        thumbnails_->addItem(item);
    }
    thumbnails_->blockSignals(false);
    size_t start = 0;
    for (size_t i = 0; i < pictures_.size(); ++i)
        if (pictures_[i].Path == Selected) start = i;
    currentPicture_ = pictures_.size(); // so that the first show is not skipped
    SetStatus(QStringLiteral("%1: %2 pictures.").arg(Folder).arg(pictures_.size()));
    // Its own status (a picture that cannot be shown says why) replaces the folder's.
    ShowPicture(start);

    // The strip, decoded at 1/8 in the background, in order.
    thumbnailsLeft_ = static_cast<int>(pictures_.size());
    std::vector<QString> paths;
    for (const Picture& p : pictures_) paths.push_back(p.Path);
    const int generation = thumbGeneration_;
    thumbThread_ = std::thread([this, paths = std::move(paths), generation] {
        for (size_t i = 0; i < paths.size() && !thumbStop_.load(); ++i) {
            QString error;
            QImage image = DecodePicture(paths[i], true, &error);
            QMetaObject::invokeMethod(
                this,
                [this, generation, i, image = std::move(image), error] {
                    Thumbnail(generation, static_cast<int>(i), image, error);
                },
                Qt::QueuedConnection);
        }
    });
    setFocus();
    return true;
}

void ReplayWindow::Thumbnail(int Generation, int Index, const QImage& Image, const QString& Error) {
    if (Generation != thumbGeneration_ || Index >= thumbnails_->count()) return;
    const QImage shown =
        Image.isNull() ? ErrorTile(QSize(kThumbWidth, kThumbHeight), QStringLiteral("!"), QString())
                       : Image;
    QListWidgetItem* item = thumbnails_->item(Index);
    item->setIcon(QIcon(QPixmap::fromImage(shown)));
    if (!Error.isEmpty()) item->setToolTip(item->toolTip() + QStringLiteral("\n") + Error);
    --thumbnailsLeft_;
}

void ReplayWindow::ShowPicture(size_t Index) {
    if (Index >= pictures_.size() || Index == currentPicture_) return;
    currentPicture_ = Index;
    const Picture& p = pictures_[Index];
    QString error;
    QImage image = DecodePicture(p.Path, false, &error);
    const QString name = QFileInfo(p.Path).fileName();
    if (image.isNull()) {
        image = ErrorTile(QSize(PanelWidth, PanelHeight), name, error);
        SetStatus(QStringLiteral("%1 cannot be shown: %2").arg(name, error), true);
    } else {
        SetStatus(
            QStringLiteral("%1 (%2 × %3)").arg(p.Path).arg(image.width()).arg(image.height()));
    }
    shownPicture_ = image;
    picture_->setPixmap(QPixmap::fromImage(image));
    pictureTime_->setText(QStringLiteral("Picture %1 of %2   %3")
                              .arg(Index + 1)
                              .arg(pictures_.size())
                              .arg(p.When.isValid()
                                       ? p.When.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                       : QStringLiteral("(no time in its name)")));
    thumbnails_->blockSignals(true);
    thumbnails_->setCurrentRow(static_cast<int>(Index));
    thumbnails_->blockSignals(false);
}

} // namespace replay
