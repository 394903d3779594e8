// The recording page: opening, stepping, playback at the recorded pace, the search for a crossing
// and following a growing file.
#include "tools/replay/ReplayWindow.h"

#include "tools/replay/ConsolePanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QTimer>
#include <algorithm>

namespace replay {

bool ReplayWindow::OpenRecording(const QString& Path) {
    auto recording = std::make_unique<Recording>();
    if (!recording->Open(Path)) {
        SetStatus(recording->Error(), true);
        return false;
    }
    Pause();
    StopThumbnails();
    builder_.reset();
    recording_ = std::move(recording);
    summaries_.clear();
    overviewReady_ = false;
    overview_->SetData(nullptr, 0);
    pages_->setCurrentIndex(0);
    for (QPushButton* b : exportButtons_) b->setEnabled(true);
    setWindowTitle(QFileInfo(Path).fileName() + QStringLiteral(" — Ormelix replay"));
    current_ = 0;
    SetStatus(QStringLiteral("%1: %2 records.").arg(Path).arg(Count()));
    ShowCurrent();
    builder_ = std::make_unique<OverviewBuilder>(Path, Count());
    progress_->setValue(0);
    progress_->show();
    overviewTimer_->start();
    pollTimer_->start();
    setFocus();
    return true;
}

void ReplayWindow::ShowCurrent() {
    if (!recording_ || Count() == 0) {
        panel_->Clear(recording_ ? QStringLiteral("No whole record yet") : QString());
        timeLabel_->setText(QString());
        return;
    }
    current_ = std::min(current_, Count() - 1);
    const Row row = recording_->Record(current_);
    panel_->Show(row);
    panel_->SetCaption(QStringLiteral("Запись %1").arg(row.Counter));
    timeLabel_->setText(
        QStringLiteral("Record %1 of %2   %3%4")
            .arg(current_ + 1)
            .arg(Count())
            .arg(row.When.isValid() ? row.When.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
                                    : row.Time)
            .arg(row.Missing ? QStringLiteral("   (missing: ") + row.Problem + QStringLiteral(")")
                             : QString()));
    inSliderUpdate_ = true;
    slider_->setRange(0, static_cast<int>(Count() - 1));
    slider_->setValue(static_cast<int>(current_));
    inSliderUpdate_ = false;
    overview_->SetCurrent(current_);
}

void ReplayWindow::Go(size_t Index) {
    if (!recording_ || Count() == 0) return;
    current_ = std::min(Index, Count() - 1);
    ShowCurrent();
}

void ReplayWindow::Step(long Records) {
    if (!recording_ || Count() == 0) return;
    const long long target = static_cast<long long>(current_) + Records;
    Go(static_cast<size_t>(std::clamp<long long>(target, 0, static_cast<long long>(Count()) - 1)));
}

bool ReplayWindow::Playing() const {
    return playTimer_->isActive();
}

void ReplayWindow::Play(int Speed) {
    if (!recording_ || Count() == 0) return;
    speedFactor_ = Speed;
    speed_->blockSignals(true);
    speed_->setCurrentIndex(Speed >= 100 ? 2 : Speed >= 10 ? 1 : 0);
    speed_->blockSignals(false);
    if (current_ + 1 >= Count() && !follow_->isChecked()) current_ = 0;
    ShowCurrent();
    const QDateTime t = recording_->Time(current_);
    playStartMs_ = t.isValid() ? t.toMSecsSinceEpoch() : 0;
    playClock_.start();
    playTimer_->start();
    playButton_->setText(QStringLiteral("Pause"));
}

void ReplayWindow::Pause() {
    playTimer_->stop();
    playButton_->setText(QStringLiteral("Play"));
}

void ReplayWindow::PlayTick() {
    if (!recording_ || current_ + 1 >= Count()) {
        if (!follow_->isChecked()) Pause();
        return;
    }
    const qint64 target = playStartMs_ + playClock_.elapsed() * speedFactor_;
    size_t next = current_;
    // The records whose time has come; a record without a time takes one tick.
    while (next + 1 < Count()) {
        const QDateTime t = recording_->Time(next + 1);
        if (!t.isValid() || playStartMs_ == 0) {
            if (next == current_) ++next;
            break;
        }
        if (t.toMSecsSinceEpoch() > target) break;
        ++next;
    }
    if (next != current_) Go(next);
}

bool ReplayWindow::FindNext() {
    if (!recording_ || Count() == 0) return false;
    long double levels[2];
    panel_->Levels(levels);
    const auto found =
        FindNextCrossing([this](size_t i) { return ExtremesOf(i); }, Count(), current_, levels);
    if (!found) {
        SetStatus(QStringLiteral("No record after %1 crosses %2 V or %3 V.")
                      .arg(current_ + 1)
                      .arg(static_cast<double>(levels[0]), 0, 'f', 2)
                      .arg(static_cast<double>(levels[1]), 0, 'f', 2));
        return false;
    }
    Go(*found);
    SetStatus(QStringLiteral("Record %1 crosses a marker level.").arg(*found + 1));
    return true;
}

void ReplayWindow::Poll() {
    if (!recording_) return;
    const size_t before = Count();
    const bool atEnd = before == 0 || current_ + 1 >= before;
    if (!recording_->Refresh()) {
        // Started anew (--force) or replaced: read it again from its start.
        const QString path = recording_->FileName();
        SetStatus(recording_->Error() + QStringLiteral(": reopened."), true);
        auto again = std::make_unique<Recording>();
        if (again->Open(path)) {
            recording_ = std::move(again);
            builder_.reset();
            summaries_.clear();
            overviewReady_ = false;
            builder_ = std::make_unique<OverviewBuilder>(path, Count());
            progress_->show();
            overviewTimer_->start();
            current_ = 0;
            ShowCurrent();
        }
        return;
    }
    if (Count() == before) return;
    SetStatus(QStringLiteral("%1: %2 records, growing.").arg(recording_->FileName()).arg(Count()));
    if (overviewReady_) {
        for (size_t i = summaries_.size(); i < Count(); ++i)
            summaries_.push_back(recording_->Extremes(i));
        overview_->SetData(&summaries_, Count());
    }
    if (follow_->isChecked() || (atEnd && !Playing()))
        Go(Count() - 1);
    else
        ShowCurrent(); // the slider's range
}

void ReplayWindow::SetFollow(bool On) {
    if (follow_->isChecked() != On) follow_->setChecked(On);
    if (On && recording_) {
        Poll();
        if (Count()) Go(Count() - 1);
    }
}

} // namespace replay
