#include "tools/replay/Overview.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace replay {

OverviewBuilder::OverviewBuilder(const QString& FileName, size_t Count) {
    thread_ = std::thread([this, FileName, Count] {
        Recording own; // a mapping of its own: the window's may be remapped while this runs
        if (own.Open(FileName)) {
            const size_t n = std::min(Count, own.Count());
            result_.reserve(n);
            for (size_t i = 0; i < n; ++i) {
                if ((i & 4095) == 0) {
                    if (stop_.load()) break;
                    percent_.store(static_cast<int>(100 * i / std::max<size_t>(n, 1)));
                }
                result_.push_back(own.Extremes(i));
            }
        }
        percent_.store(100);
        done_.store(true);
    });
}

OverviewBuilder::~OverviewBuilder() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
}

std::vector<Summary> OverviewBuilder::Take() {
    if (thread_.joinable()) thread_.join();
    return std::move(result_);
}

OverviewStrip::OverviewStrip(QWidget* Parent) : QWidget(Parent) {
    setMinimumHeight(48);
    setCursor(Qt::PointingHandCursor);
    setToolTip(
        QStringLiteral("Every record's minima and maxima (S1 black, S2 red); click to jump"));
}

void OverviewStrip::SetData(const std::vector<Summary>* Data, size_t Count) {
    data_ = Data;
    count_ = Count;
    Rebuild();
}

void OverviewStrip::SetLevels(long double Mark1, long double Mark2) {
    levels_[0] = Mark1;
    levels_[1] = Mark2;
    update();
}

void OverviewStrip::SetCurrent(size_t Index) {
    current_ = Index;
    update();
}

size_t OverviewStrip::RecordAt(int X) const {
    if (count_ == 0 || width() <= 0) return 0;
    const int x = std::clamp(X, 0, width() - 1);
    return std::min(count_ - 1, static_cast<size_t>(x) * count_ / static_cast<size_t>(width()));
}

int OverviewStrip::Row(long double Volts) const {
    const int h = height() - 1;
    return h - static_cast<int>(std::clamp(Volts / top_, 0.0L, 1.0L) * h);
}

void OverviewStrip::Rebuild() {
    image_ = QImage(std::max(1, width()), std::max(1, height()), QImage::Format_RGB32);
    image_.fill(Qt::white);
    if (!data_ || data_->empty() || count_ == 0) return update();
    const size_t n = std::min(count_, data_->size());
    top_ = 0;
    for (size_t i = 0; i < n; ++i) {
        const Summary& s = (*data_)[i];
        if (s.Valid)
            top_ = std::max({top_, instrument::ByteVolts(s.Extremes[1], s.Scale),
                             instrument::ByteVolts(s.Extremes[3], s.Scale)});
    }
    top_ = top_ > 0 ? top_ * 1.05L : 4.5L;
    QPainter p(&image_);
    const int w = image_.width();
    for (int x = 0; x < w; ++x) {
        const size_t from = static_cast<size_t>(x) * count_ / static_cast<size_t>(w);
        const size_t to = std::min(
            n, std::max(from + 1, static_cast<size_t>(x + 1) * count_ / static_cast<size_t>(w)));
        if (from >= n) break;
        for (int signal = 0; signal < 2; ++signal) {
            long double lo = 1e9L, hi = -1;
            for (size_t i = from; i < to; ++i) {
                const Summary& s = (*data_)[i];
                if (!s.Valid) continue;
                lo = std::min(lo, instrument::ByteVolts(s.Extremes[2 * signal], s.Scale));
                hi = std::max(hi, instrument::ByteVolts(s.Extremes[2 * signal + 1], s.Scale));
            }
            if (hi < 0) {
                if (signal == 0) {
                    p.setPen(QColor(0xD0, 0xD0, 0xD0)); // no record to show here
                    p.drawLine(x, 0, x, image_.height() - 1);
                }
                continue;
            }
            p.setPen(signal == 0 ? Qt::black : Qt::red);
            p.drawLine(x, Row(hi), x, Row(lo));
        }
    }
    update();
}

void OverviewStrip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, image_);
    const QColor markColours[] = {QColor(0, 0, 0x80), QColor(0x80, 0x80, 0)};
    for (int k = 0; k < 2; ++k) {
        p.setPen(QPen(markColours[k], 1, Qt::DashLine));
        p.drawLine(0, Row(levels_[k]), width(), Row(levels_[k]));
    }
    if (count_ > 0) {
        const int x = static_cast<int>(current_ * static_cast<size_t>(width()) / count_);
        p.setPen(QPen(QColor(0x30, 0x90, 0xFF), 2));
        p.drawLine(x, 0, x, height());
    }
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void OverviewStrip::mousePressEvent(QMouseEvent* Event) {
    if (count_ > 0 && OnJump) OnJump(RecordAt(static_cast<int>(Event->position().x())));
}

void OverviewStrip::mouseMoveEvent(QMouseEvent* Event) {
    if ((Event->buttons() & Qt::LeftButton) && count_ > 0 && OnJump)
        OnJump(RecordAt(static_cast<int>(Event->position().x())));
}

void OverviewStrip::resizeEvent(QResizeEvent*) {
    Rebuild();
}

} // namespace replay
