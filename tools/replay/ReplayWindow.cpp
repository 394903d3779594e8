#include "tools/replay/ReplayWindow.h"

#include "imaging/Graphics.h"
#include "tools/replay/ConsolePanel.h"
#include "tools/replay/Export.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace replay {

namespace {

constexpr int kThumbWidth = 65; // 517 / 8, rounded up as the decoder does
constexpr int kThumbHeight = 45;

QPushButton* Button(const QString& Text, QWidget* Parent, const QString& Tip = QString()) {
    auto* b = new QPushButton(Text, Parent);
    // Arrow and page keys belong to the window's stepping, not to a focused button.
    b->setFocusPolicy(Qt::NoFocus);
    if (!Tip.isEmpty()) b->setToolTip(Tip);
    return b;
}

bool IsPicture(const QString& Path) {
    const QString suffix = QFileInfo(Path).suffix().toLower();
    return suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg");
}

} // namespace

ReplayWindow::ReplayWindow(QWidget* Parent) : QWidget(Parent) {
    setWindowTitle(QStringLiteral("Ormelix replay"));
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);

    auto* top = new QHBoxLayout;
    auto* openButton = Button(QStringLiteral("Open…"), this, QStringLiteral("Ctrl+O"));
    auto* folderButton = Button(QStringLiteral("Open series folder…"), this);
    exportButtons_[0] = Button(QStringLiteral("Export picture…"), this,
                               QStringLiteral("The shown record as the console's snapshot"));
    exportButtons_[1] = Button(QStringLiteral("Export series…"), this,
                               QStringLiteral("A range of records as a snapshot series folder"));
    follow_ = new QCheckBox(QStringLiteral("Follow"), this);
    follow_->setFocusPolicy(Qt::NoFocus);
    follow_->setToolTip(QStringLiteral("Stay at the newest record while the file grows"));
    for (QWidget* w :
         {static_cast<QWidget*>(openButton), static_cast<QWidget*>(folderButton),
          static_cast<QWidget*>(exportButtons_[0]), static_cast<QWidget*>(exportButtons_[1])})
        top->addWidget(w);
    top->addStretch();
    top->addWidget(follow_);

    // The recording page.
    auto* recordPage = new QWidget(this);
    auto* rl = new QVBoxLayout(recordPage);
    rl->setContentsMargins(0, 0, 0, 0);
    panel_ = new ConsolePanel(recordPage);
    panel_->SetLevels(1.0L, 2.0L);
    // A click on the plot takes the keys back from a marker field, for stepping.
    panel_->setFocusPolicy(Qt::ClickFocus);
    rl->addWidget(panel_, 0, Qt::AlignHCenter);
    timeLabel_ = new QLabel(recordPage);
    timeLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    rl->addWidget(timeLabel_);
    slider_ = new QSlider(Qt::Horizontal, recordPage);
    slider_->setFocusPolicy(Qt::NoFocus);
    slider_->setRange(0, 0);
    rl->addWidget(slider_);
    auto* controls = new QHBoxLayout;
    auto* first = Button(QStringLiteral("|◀"), recordPage, QStringLiteral("First record (Home)"));
    auto* back10 = Button(QStringLiteral("◀◀ 10"), recordPage, QStringLiteral("Page Up"));
    auto* back1 = Button(QStringLiteral("◀ 1"), recordPage, QStringLiteral("Left"));
    playButton_ = Button(QStringLiteral("Play"), recordPage, QStringLiteral("Space"));
    auto* fwd1 = Button(QStringLiteral("1 ▶"), recordPage, QStringLiteral("Right"));
    auto* fwd10 = Button(QStringLiteral("10 ▶▶"), recordPage, QStringLiteral("Page Down"));
    auto* last = Button(QStringLiteral("▶|"), recordPage, QStringLiteral("Last record (End)"));
    speed_ = new QComboBox(recordPage);
    speed_->setFocusPolicy(Qt::NoFocus);
    speed_->addItems({QStringLiteral("1 ×"), QStringLiteral("10 ×"), QStringLiteral("100 ×")});
    auto* find = Button(QStringLiteral("Find next"), recordPage,
                        QStringLiteral("The next record whose S1 or S2 minimum or maximum crosses "
                                       "a marker level (F3)"));
    for (QWidget* w :
         {static_cast<QWidget*>(first), static_cast<QWidget*>(back10), static_cast<QWidget*>(back1),
          static_cast<QWidget*>(playButton_), static_cast<QWidget*>(speed_),
          static_cast<QWidget*>(fwd1), static_cast<QWidget*>(fwd10), static_cast<QWidget*>(last)})
        controls->addWidget(w);
    controls->addStretch();
    controls->addWidget(find);
    rl->addLayout(controls);
    overview_ = new OverviewStrip(recordPage);
    overview_->setFixedHeight(64);
    rl->addWidget(overview_);
    progress_ = new QProgressBar(recordPage);
    progress_->setFormat(QStringLiteral("Building the overview… %p%"));
    progress_->hide();
    rl->addWidget(progress_);
    rl->addStretch();

    // The series page.
    auto* seriesPage = new QWidget(this);
    auto* sl = new QVBoxLayout(seriesPage);
    sl->setContentsMargins(0, 0, 0, 0);
    picture_ = new QLabel(seriesPage);
    picture_->setAlignment(Qt::AlignCenter);
    picture_->setMinimumSize(PanelWidth, PanelHeight);
    sl->addWidget(picture_, 1);
    pictureTime_ = new QLabel(seriesPage);
    sl->addWidget(pictureTime_);
    thumbnails_ = new QListWidget(seriesPage);
    thumbnails_->setViewMode(QListView::IconMode);
    thumbnails_->setFlow(QListView::LeftToRight);
    thumbnails_->setWrapping(false);
    thumbnails_->setMovement(QListView::Static);
    thumbnails_->setUniformItemSizes(true);
    thumbnails_->setIconSize(QSize(kThumbWidth, kThumbHeight));
    thumbnails_->setFixedHeight(kThumbHeight + 44);
    thumbnails_->setFocusPolicy(Qt::NoFocus);
    sl->addWidget(thumbnails_);

    pages_ = new QStackedWidget(this);
    pages_->addWidget(recordPage);
    pages_->addWidget(seriesPage);

    status_ = new QLabel(this);
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(pages_, 1);
    layout->addWidget(status_);

    playTimer_ = new QTimer(this);
    playTimer_->setInterval(16);
    pollTimer_ = new QTimer(this);
    pollTimer_->setInterval(500);
    overviewTimer_ = new QTimer(this);
    overviewTimer_->setInterval(100);

    connect(openButton, &QPushButton::clicked, this, [this] { OpenDialog(); });
    connect(folderButton, &QPushButton::clicked, this, [this] { OpenFolderDialog(); });
    connect(exportButtons_[0], &QPushButton::clicked, this, [this] { ExportPictureDialog(); });
    connect(exportButtons_[1], &QPushButton::clicked, this, [this] { ExportSeriesDialog(); });
    connect(follow_, &QCheckBox::toggled, this, [this](bool On) { SetFollow(On); });
    connect(first, &QPushButton::clicked, this, [this] { Go(0); });
    connect(back10, &QPushButton::clicked, this, [this] { Step(-10); });
    connect(back1, &QPushButton::clicked, this, [this] { Step(-1); });
    connect(fwd1, &QPushButton::clicked, this, [this] { Step(1); });
    connect(fwd10, &QPushButton::clicked, this, [this] { Step(10); });
    connect(last, &QPushButton::clicked, this, [this] {
        if (Count()) Go(Count() - 1);
    });
    connect(playButton_, &QPushButton::clicked, this, [this] {
        if (Playing())
            Pause();
        else
            Play(speedFactor_);
    });
    connect(speed_, &QComboBox::currentIndexChanged, this, [this](int Index) {
        const int factor = Index == 2 ? 100 : Index == 1 ? 10 : 1;
        if (Playing())
            Play(factor);
        else
            speedFactor_ = factor;
    });
    connect(find, &QPushButton::clicked, this, [this] { FindNext(); });
    connect(slider_, &QSlider::valueChanged, this, [this](int Value) {
        if (!inSliderUpdate_) Go(static_cast<size_t>(Value));
    });
    connect(thumbnails_, &QListWidget::currentRowChanged, this, [this](int Row) {
        if (Row >= 0 && static_cast<size_t>(Row) != currentPicture_)
            ShowPicture(static_cast<size_t>(Row));
    });
    connect(playTimer_, &QTimer::timeout, this, [this] { PlayTick(); });
    connect(pollTimer_, &QTimer::timeout, this, [this] { Poll(); });
    connect(overviewTimer_, &QTimer::timeout, this, [this] { OverviewTick(); });
    overview_->OnJump = [this](size_t Index) { Go(Index); };
    panel_->OnLevelsChanged = [this] { LevelsChanged(); };

    const auto shortcut = [this](QKeySequence Keys, auto Action) {
        auto* s = new QShortcut(Keys, this);
        connect(s, &QShortcut::activated, this, Action);
    };
    shortcut(QKeySequence::Open, [this] { OpenDialog(); });
    shortcut(QKeySequence(Qt::Key_F3), [this] { FindNext(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_E), [this] { ExportPictureDialog(); });

    pages_->setCurrentIndex(0);
    for (QPushButton* b : exportButtons_) b->setEnabled(false);
    SetStatus(QStringLiteral("Open a recording (ormelix-cli CSV) or a snapshot series folder, or "
                             "drop one here."));
}

ReplayWindow::~ReplayWindow() {
    StopThumbnails();
}

QString ReplayWindow::Status() const {
    return status_->text();
}

void ReplayWindow::SetStatus(const QString& Text, bool Error) {
    status_->setText(Text);
    QPalette pal = status_->palette();
    pal.setColor(QPalette::WindowText,
                 Error ? QColor(0xC0, 0, 0) : palette().color(QPalette::WindowText));
    status_->setPalette(pal);
}

size_t ReplayWindow::Count() const {
    return recording_ ? recording_->Count() : 0;
}

bool ReplayWindow::Open(const QString& Path) {
    const QFileInfo info(Path);
    if (!info.exists()) {
        SetStatus(QStringLiteral("%1 does not exist.").arg(Path), true);
        return false;
    }
    if (info.isDir()) return OpenSeries(info.absoluteFilePath(), QString());
    if (IsPicture(Path)) return OpenSeries(info.absolutePath(), info.absoluteFilePath());
    return OpenRecording(info.absoluteFilePath());
}

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

void ReplayWindow::LevelsChanged() {
    long double levels[2];
    panel_->Levels(levels);
    overview_->SetLevels(levels[0], levels[1]);
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

void ReplayWindow::keyPressEvent(QKeyEvent* Event) {
    const bool series = pages_->currentIndex() == 1;
    const auto step = [&](long n) {
        if (series) {
            if (pictures_.empty()) return;
            const long long to =
                std::clamp<long long>(static_cast<long long>(currentPicture_) + n, 0,
                                      static_cast<long long>(pictures_.size()) - 1);
            ShowPicture(static_cast<size_t>(to));
        } else {
            Step(n);
        }
    };
    switch (Event->key()) {
    case Qt::Key_Left:
        step(-1);
        break;
    case Qt::Key_Right:
        step(1);
        break;
    case Qt::Key_PageUp:
        step(-10);
        break;
    case Qt::Key_PageDown:
        step(10);
        break;
    case Qt::Key_Home:
        step(-(1L << 30));
        break;
    case Qt::Key_End:
        step(1L << 30);
        break;
    case Qt::Key_Space:
        if (!series) {
            if (Playing())
                Pause();
            else
                Play(speedFactor_);
        }
        break;
    default:
        QWidget::keyPressEvent(Event);
        return;
    }
    Event->accept();
}

void ReplayWindow::dragEnterEvent(QDragEnterEvent* Event) {
    const auto urls = Event->mimeData()->urls();
    if (!urls.isEmpty() && urls.first().isLocalFile()) Event->acceptProposedAction();
}

void ReplayWindow::dropEvent(QDropEvent* Event) {
    const auto urls = Event->mimeData()->urls();
    if (!urls.isEmpty() && urls.first().isLocalFile()) Open(urls.first().toLocalFile());
}

void ReplayWindow::OpenDialog() {
    QStringList filters = {QStringLiteral("Recordings and pictures (*.csv *.jpg *.jpeg)"),
                           QStringLiteral("Recordings (*.csv)")};
    filters += GraphicFilters();
    filters += QStringLiteral("All files (*)");
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open"), QString(),
                                                      filters.join(QStringLiteral(";;")));
    if (!path.isEmpty()) Open(path);
}

void ReplayWindow::OpenFolderDialog() {
    const QString path =
        QFileDialog::getExistingDirectory(this, QStringLiteral("Open a snapshot series folder"));
    if (!path.isEmpty()) Open(path);
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

// ---- series ---------------------------------------------------------------------------------

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
