#include "widgets/RXSpin.h"

#include <QApplication>
#include <QStyle>
#include <algorithm>

namespace {
std::function<void()>& BeepHook() {
    static std::function<void()> Hook;
    return Hook;
}
} // namespace

void RxBeep() {
    if (BeepHook())
        BeepHook()();
    else
        QApplication::beep();
}

void SetRxBeepHook(std::function<void()> Hook) {
    BeepHook() = std::move(Hook);
}

int DefaultButtonWidth() {
    return std::min(QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent), 15);
}
