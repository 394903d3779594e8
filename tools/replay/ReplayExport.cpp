// Export: the shown record as a picture, a range of records as a snapshot series folder.
#include "tools/replay/ReplayWindow.h"

#include "tools/replay/ConsolePanel.h"
#include "tools/replay/Export.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>

namespace replay {

QString ReplayWindow::ExportPicture(const QString& Path) {
    if (!recording_ || Count() == 0) return QStringLiteral("No record is shown.");
    return SavePicture(panel_->Picture(), Path);
}

QString ReplayWindow::ExportSeries(const QString& Parent, size_t First, size_t Last,
                                   QString* Error) {
    const auto fail = [&](const QString& Why) {
        if (Error) *Error = Why;
        return QString();
    };
    if (!recording_ || Count() == 0) return fail(QStringLiteral("No recording is open."));
    Last = std::min(Last, Count() - 1);
    if (First > Last) return fail(QStringLiteral("The range is empty."));
    std::vector<std::pair<size_t, QDateTime>> times;
    times.reserve(Last - First + 1);
    for (size_t i = First; i <= Last; ++i) times.emplace_back(i, recording_->Time(i));
    const SeriesPlan plan = PlanSeries(times);
    if (plan.Pictures.empty()) return fail(QStringLiteral("No record of the range has a time."));
    const QString folder = QDir(Parent).filePath(plan.Folder);
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("Cannot make the folder %1.").arg(folder));

    // A panel of its own, at the shown levels: the window's stays on the shown record.
    ConsolePanel panel;
    long double levels[2];
    panel_->Levels(levels);
    panel.SetLevels(levels[0], levels[1]);
    QProgressDialog progress(QStringLiteral("Exporting…"), QStringLiteral("Stop"), 0,
                             static_cast<int>(plan.Pictures.size()), this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    size_t written = 0;
    for (const auto& [index, name] : plan.Pictures) {
        if (progress.wasCanceled()) break;
        const Row row = recording_->Record(index);
        panel.Show(row);
        panel.SetCaption(QStringLiteral("Запись %1").arg(row.Counter));
        const QString why = SavePicture(panel.Picture(), QDir(folder).filePath(name));
        if (!why.isEmpty()) return fail(QStringLiteral("%1: %2").arg(name, why));
        progress.setValue(static_cast<int>(++written));
    }
    SetStatus(QStringLiteral("%1 pictures of records %2–%3 in %4%5.")
                  .arg(written)
                  .arg(First + 1)
                  .arg(Last + 1)
                  .arg(folder)
                  .arg(plan.Pictures.size() < times.size()
                           ? QStringLiteral(" (one a second, as the console names them)")
                           : QString()));
    return folder;
}

void ReplayWindow::ExportPictureDialog() {
    if (!recording_ || Count() == 0) return;
    const QDateTime when = recording_->Time(current_);
    const QString suggested =
        QFileInfo(recording_->FileName())
            .dir()
            .filePath(when.isValid() ? PictureName(when) : QStringLiteral("record.jpg"));
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Export the shown record"), suggested,
        QStringLiteral("JPEG as the console saves (*.jpg);;PNG (*.png)"));
    if (path.isEmpty()) return;
    const QString why = ExportPicture(path);
    if (why.isEmpty())
        SetStatus(QStringLiteral("Saved %1.").arg(path));
    else
        SetStatus(QStringLiteral("Could not save %1: %2").arg(path, why), true);
}

void ReplayWindow::ExportSeriesDialog() {
    if (!recording_ || Count() == 0) return;
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Export records as a snapshot series"));
    auto* form = new QFormLayout(&dialog);
    auto* from = new QSpinBox(&dialog);
    auto* to = new QSpinBox(&dialog);
    for (QSpinBox* s : {from, to}) s->setRange(1, static_cast<int>(Count()));
    from->setValue(static_cast<int>(current_ + 1));
    to->setValue(static_cast<int>(std::min(Count(), current_ + 100)));
    auto* parentRow = new QHBoxLayout;
    auto* parent = new QLabel(QFileInfo(recording_->FileName()).absolutePath(), &dialog);
    auto* browse = new QPushButton(QStringLiteral("Choose…"), &dialog);
    parentRow->addWidget(parent, 1);
    parentRow->addWidget(browse);
    form->addRow(QStringLiteral("From record"), from);
    form->addRow(QStringLiteral("To record"), to);
    form->addRow(QStringLiteral("Into"), parentRow);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(buttons);
    connect(browse, &QPushButton::clicked, &dialog, [&] {
        const QString d = QFileDialog::getExistingDirectory(&dialog, QString(), parent->text());
        if (!d.isEmpty()) parent->setText(d);
    });
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted) return;
    QString error;
    if (ExportSeries(parent->text(), static_cast<size_t>(from->value() - 1),
                     static_cast<size_t>(to->value() - 1), &error)
            .isEmpty())
        SetStatus(QStringLiteral("Export failed: ") + error, true);
}

} // namespace replay
