#pragma once

#include "tests/common/CommaLocale.h"
#include "widgets/RXSpin.h"

#include <QDialog>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <clocale>
#include <gtest/gtest.h>

// Counts RxBeep calls for the lifetime of the object.
class TBeepCounter {
public:
    TBeepCounter() {
        SetRxBeepHook([this] { ++FCount; });
    }
    ~TBeepCounter() { SetRxBeepHook(nullptr); }
    int Count() const { return FCount; }

private:
    int FCount = 0;
};

// Fixture for tests that need the comma locale; skipped where it is not installed.
class CommaLocaleTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!UseCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma installed";
    }
    void TearDown() override { std::setlocale(LC_NUMERIC, "C"); }
};

// Shows a top-level window and waits until it is active, so that focus changes are real.
inline bool ShowActive(QWidget& Window) {
    Window.show();
    Window.activateWindow();
    return QTest::qWaitForWindowActive(&Window);
}

// Runs a modal dialog that receives the left button's release, the way a message box opened by
// a click handler takes it from the control that was pressed.
inline void RunDialogThatTakesTheRelease() {
    QDialog Dialog;
    QTimer::singleShot(50, &Dialog, [&] {
        QTest::mouseRelease(&Dialog, Qt::LeftButton, {}, QPoint(5, 5));
        Dialog.accept();
    });
    Dialog.exec();
}
