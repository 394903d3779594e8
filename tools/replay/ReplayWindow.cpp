// The window: its layout, buttons, keys and shortcuts, drops and open dialogs. What the pages do
// is beside it: ReplayPlayback, ReplayOverview, ReplayExport, ReplaySeriesPage.
#include "tools/replay/ReplayWindow.h"

#include "imaging/Graphics.h"
#include "tools/replay/ConsolePanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace replay {

namespace {

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

} // namespace replay
