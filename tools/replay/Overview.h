// The overview: every record's minima and maxima along the whole recording, built in the
// background from a mapping of its own, and the strip that shows it; a click jumps there.
#pragma once

#include "tools/replay/Recording.h"

#include <QImage>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace replay {

// Reads the extremes of the first Count rows of FileName on a thread of its own.
class OverviewBuilder {
public:
    OverviewBuilder(const QString& FileName, size_t Count);
    ~OverviewBuilder(); // stops and waits

    bool Done() const { return done_.load(); }
    int Percent() const { return percent_.load(); }
    // Once Done: the extremes (empty when the file could not be read again).
    std::vector<Summary> Take();

private:
    std::vector<Summary> result_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::atomic<int> percent_{0};
    std::thread thread_;
};

class OverviewStrip : public QWidget {
    Q_OBJECT
public:
    explicit OverviewStrip(QWidget* Parent = nullptr);

    // The extremes, one per record; redrawn when they or the levels change.
    void SetData(const std::vector<Summary>* Data, size_t Count);
    void SetLevels(long double Mark1, long double Mark2);
    void SetCurrent(size_t Index);
    // The record under column X.
    size_t RecordAt(int X) const;

    std::function<void(size_t)> OnJump;

protected:
    void paintEvent(QPaintEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;

private:
    void Rebuild();
    int Row(long double Volts) const;

    const std::vector<Summary>* data_ = nullptr;
    size_t count_ = 0;
    size_t current_ = 0;
    long double levels_[2] = {0, 0};
    long double top_ = 4.5L; // volts at the top row
    QImage image_;
};

} // namespace replay
