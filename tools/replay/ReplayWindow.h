// ormelix-replay's window: a recording shown record by record as the console showed it, with
// stepping, playback, the search for level crossings and the overview; or a snapshot series with
// its thumbnails.
#pragma once

#include "tools/replay/Overview.h"
#include "tools/replay/Recording.h"
#include "tools/replay/Series.h"

#include <QElapsedTimer>
#include <QWidget>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSlider;
class QStackedWidget;
class QTimer;

namespace replay {

class ConsolePanel;

class ReplayWindow : public QWidget {
    Q_OBJECT
public:
    explicit ReplayWindow(QWidget* Parent = nullptr);
    ~ReplayWindow() override;

    // A recording, a series folder, or one picture (its folder's series, at it). False with the
    // reason on the status line.
    bool Open(const QString& Path);

    // Recording
    void Go(size_t Index);
    void Step(long Records);
    size_t Current() const { return current_; }
    size_t Count() const;
    void Play(int Speed); // 1, 10 or 100 × the recorded pace
    void Pause();
    bool Playing() const;
    // False when there is none after the shown record.
    bool FindNext();
    // Rows appended to the file since: shown (the newest one while following).
    void Poll();
    void SetFollow(bool On);
    bool OverviewReady() const { return overviewReady_; }

    // Empty on success, else why not.
    QString ExportPicture(const QString& Path);
    // Records First..Last as a series folder under Parent; the folder made, or empty with Error.
    QString ExportSeries(const QString& Parent, size_t First, size_t Last, QString* Error);

    // Series
    size_t PictureCount() const { return pictures_.size(); }
    size_t CurrentPicture() const { return currentPicture_; }
    void ShowPicture(size_t Index);
    bool ThumbnailsDone() const { return thumbnailsLeft_ == 0; }
    QImage ShownPicture() const { return shownPicture_; }

    ConsolePanel* Panel() const { return panel_; }
    QString Status() const;

protected:
    void keyPressEvent(QKeyEvent* Event) override;
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;

private:
    static constexpr int kThumbWidth = 65; // 517 / 8, rounded up as the decoder does
    static constexpr int kThumbHeight = 45;

    bool OpenRecording(const QString& Path);
    bool OpenSeries(const QString& Folder, const QString& Selected);
    void StopThumbnails();
    void Thumbnail(int Generation, int Index, const QImage& Image, const QString& Error);
    void SetStatus(const QString& Text, bool Error = false);
    void ShowCurrent();
    void PlayTick();
    void OverviewTick();
    void LevelsChanged();
    void OpenDialog();
    void OpenFolderDialog();
    void ExportPictureDialog();
    void ExportSeriesDialog();
    Summary ExtremesOf(size_t Index) const;

    // Controls
    QStackedWidget* pages_ = nullptr;
    ConsolePanel* panel_ = nullptr;
    QSlider* slider_ = nullptr;
    QLabel* timeLabel_ = nullptr;
    QPushButton* playButton_ = nullptr;
    QComboBox* speed_ = nullptr;
    QCheckBox* follow_ = nullptr;
    OverviewStrip* overview_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* picture_ = nullptr;
    QLabel* pictureTime_ = nullptr;
    QListWidget* thumbnails_ = nullptr;
    QPushButton* exportButtons_[2] = {};

    // Recording
    std::unique_ptr<Recording> recording_;
    size_t current_ = 0;
    QTimer* playTimer_ = nullptr;
    QTimer* pollTimer_ = nullptr;
    QTimer* overviewTimer_ = nullptr;
    int speedFactor_ = 1;
    QElapsedTimer playClock_;
    qint64 playStartMs_ = 0; // the recorded time playback started from, ms since the epoch
    std::unique_ptr<OverviewBuilder> builder_;
    std::vector<Summary> summaries_;
    bool overviewReady_ = false;
    bool inSliderUpdate_ = false;

    // Series
    std::vector<Picture> pictures_;
    size_t currentPicture_ = 0;
    QImage shownPicture_;
    std::thread thumbThread_;
    std::atomic<bool> thumbStop_{false};
    int thumbGeneration_ = 0;
    int thumbnailsLeft_ = 0;
};

} // namespace replay
