#include "tests/widgets/WidgetTestSupport.h"

#include <QElapsedTimer>
#include <vector>

namespace {

class TProbeUpDown : public TRxUpDown {
public:
    using TRxUpDown::scEndScroll;
    using TRxUpDown::Scroll;
    using TRxUpDown::scThumbPosition;
};

struct TRecorder {
    TProbeUpDown UpDown;
    std::vector<TUDBtnType> Clicks;
    TRecorder() {
        UpDown.SetOnClick([this](QObject* Sender, TUDBtnType B) {
            EXPECT_EQ(Sender, &UpDown);
            Clicks.push_back(B);
        });
        UpDown.setGeometry(0, 0, 15, 20);
        UpDown.show();
    }
};

TEST(UpDown, ArrowsReportNextAndPrevAndResetPosition) {
    TRecorder R;
    QTest::mouseClick(&R.UpDown, Qt::LeftButton, {}, QPoint(4, 3));
    EXPECT_EQ(R.Clicks, (std::vector<TUDBtnType>{btNext}));
    EXPECT_EQ(R.UpDown.Position(), 0);
    QTest::mouseClick(&R.UpDown, Qt::LeftButton, {}, QPoint(4, 16));
    EXPECT_EQ(R.Clicks, (std::vector<TUDBtnType>{btNext, btPrev}));
    EXPECT_EQ(R.UpDown.Position(), 0);
}

TEST(UpDown, ScrollReportsOnlyThumbPositionAwayFromZero) {
    TRecorder R;
    R.UpDown.Scroll(TProbeUpDown::scEndScroll, 1);
    R.UpDown.Scroll(TProbeUpDown::scThumbPosition, 0);
    EXPECT_TRUE(R.Clicks.empty());
    R.UpDown.SetPosition(1);
    R.UpDown.Scroll(TProbeUpDown::scThumbPosition, -1);
    EXPECT_EQ(R.Clicks, (std::vector<TUDBtnType>{btPrev}));
    EXPECT_EQ(R.UpDown.Position(), 0);
}

TEST(UpDown, ReentryDuringAReportIsIgnored) {
    TProbeUpDown UpDown;
    int Calls = 0;
    UpDown.SetOnClick([&](QObject*, TUDBtnType) {
        ++Calls;
        UpDown.Scroll(TProbeUpDown::scThumbPosition, 1); // nested report
    });
    UpDown.Scroll(TProbeUpDown::scThumbPosition, 1);
    EXPECT_EQ(Calls, 1);
    EXPECT_EQ(UpDown.Position(), 0);
    UpDown.Scroll(TProbeUpDown::scThumbPosition, 1); // the guard is cleared afterwards
    EXPECT_EQ(Calls, 2);
}

TEST(UpDown, GuardClearedWhenHandlerThrows) {
    TProbeUpDown UpDown;
    int Calls = 0;
    UpDown.SetOnClick([&](QObject*, TUDBtnType) {
        if (++Calls == 1) throw std::runtime_error("failed");
    });
    EXPECT_THROW(UpDown.Scroll(TProbeUpDown::scThumbPosition, 1), std::runtime_error);
    UpDown.Scroll(TProbeUpDown::scThumbPosition, 1);
    EXPECT_EQ(Calls, 2);
}

TEST(UpDown, KeepsDefaultWidth) {
    TRxUpDown UpDown;
    UpDown.show();
    UpDown.resize(40, 30);
    EXPECT_EQ(UpDown.width(), DefaultButtonWidth());
    EXPECT_EQ(UpDown.height(), 30);
}

// The release may never reach the control: it was disabled meanwhile, or a dialog opened by
// the click took it. The repeat must still end.
TEST(UpDown, PressEndsWhenTheReleaseGoesElsewhere) {
    const struct {
        const char* Name;
        bool DialogOnClick;
    } Cases[] = {{"disabled while held", false}, {"dialog opened by the click", true}};
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TRecorder R;
        if (Case.DialogOnClick)
            R.UpDown.SetOnClick([&](QObject*, TUDBtnType B) {
                R.Clicks.push_back(B);
                if (R.Clicks.size() == 1) RunDialogThatTakesTheRelease();
            });
        QTest::mousePress(&R.UpDown, Qt::LeftButton, {}, QPoint(4, 3));
        if (!Case.DialogOnClick) {
            R.UpDown.setEnabled(false);
            QTest::mouseRelease(&R.UpDown, Qt::LeftButton, {}, QPoint(4, 3));
            R.UpDown.setEnabled(true);
        }
        QTest::qWait(600);
        EXPECT_EQ(R.Clicks.size(), 1u);
        EXPECT_EQ(R.UpDown.PressedArrow(), TRxUpDown::arNone);
    }
}

TEST(UpDown, HoldRepeatsUntilRelease) {
    TRecorder R;
    QElapsedTimer Clock;
    Clock.start();
    QTest::mousePress(&R.UpDown, Qt::LeftButton, {}, QPoint(4, 3));
    EXPECT_EQ(R.Clicks.size(), 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return R.Clicks.size() >= 3; }, 3000));
    EXPECT_GE(Clock.elapsed(), 495);
    QTest::mouseRelease(&R.UpDown, Qt::LeftButton, {}, QPoint(4, 3));
    const size_t Released = R.Clicks.size();
    QTest::qWait(300);
    EXPECT_EQ(R.Clicks.size(), Released);
    for (TUDBtnType B : R.Clicks) EXPECT_EQ(B, btNext);
    EXPECT_EQ(R.UpDown.Position(), 0);
}

} // namespace
