// The upper part of the console's window, as its snapshots show it (517 × 353): the plot drawn by
// the plot unit, its labels where the console places them, the two marker fields and the four
// read-outs. A record is shown here exactly as the console showed it when it arrived.
#pragma once

#include "app/Canvas.h"
#include "app/UpperPanel.h"
#include "tools/replay/Recording.h"

#include <QImage>
#include <QWidget>
#include <functional>

class QLabel;
class QFrame;
class TRxSpinEdit;

namespace replay {

constexpr int PanelWidth = 517;
constexpr int PanelHeight = 353;

class ConsolePanel : public QWidget {
    Q_OBJECT
public:
    explicit ConsolePanel(QWidget* Parent = nullptr);

    // Draws Record with the marker fields' levels; a missing one leaves a white plot and says why.
    void Show(const Row& Record);
    // The last shown record again (after a marker change).
    void Redraw();
    void Clear(const QString& Message = QString());

    void Levels(long double (&Out)[2]) const;
    void SetLevels(long double Mark1, long double Mark2);
    // The caption row above the markers (the console's poll period row): what is shown.
    void SetCaption(const QString& Text);

    // The picture a console snapshot of this record would be.
    QImage Picture();
    const TCanvas& Plot() const;
    QString Message() const;

    std::function<void()> OnLevelsChanged;

    // The controls, named as the console names them.
    const UpperPanel& Upper() const { return upper_; }

private:
    UpperPanel upper_;
    QLabel* caption_ = nullptr;
    QLabel* message_ = nullptr;
    Row shown_;
    bool hasShown_ = false;
};

} // namespace replay
