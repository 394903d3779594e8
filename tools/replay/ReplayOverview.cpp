// The overview strip's wiring: built in the background, then kept for the search and the strip.
#include "tools/replay/ReplayWindow.h"

#include "tools/replay/ConsolePanel.h"

#include <QProgressBar>
#include <QTimer>

namespace replay {

void ReplayWindow::OverviewTick() {
    if (!builder_) return overviewTimer_->stop();
    progress_->setValue(builder_->Percent());
    if (!builder_->Done()) return;
    summaries_ = builder_->Take();
    builder_.reset();
    overviewTimer_->stop();
    progress_->hide();
    // Rows that arrived while it was built.
    for (size_t i = summaries_.size(); i < Count(); ++i)
        summaries_.push_back(recording_->Extremes(i));
    overviewReady_ = summaries_.size() == Count();
    overview_->SetData(&summaries_, Count());
    overview_->SetCurrent(current_);
    LevelsChanged();
}

Summary ReplayWindow::ExtremesOf(size_t Index) const {
    if (overviewReady_ && Index < summaries_.size()) return summaries_[Index];
    return recording_->Extremes(Index);
}

void ReplayWindow::LevelsChanged() {
    long double levels[2];
    panel_->Levels(levels);
    overview_->SetLevels(levels[0], levels[1]);
}

} // namespace replay
