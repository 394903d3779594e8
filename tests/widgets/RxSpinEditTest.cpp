#include "app/FieldPresets.h"
#include "tests/widgets/WidgetTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QVBoxLayout>
#include <functional>
#include <memory>
#include <ostream>

namespace {

enum TFieldKind { fkField240, fkMark, fkPlainInteger, fkPlainFloat, fkPlainHex, fkEqualBounds };

std::unique_ptr<TRxSpinEdit> MakeField(TFieldKind Kind) {
    auto Edit = std::make_unique<TRxSpinEdit>();
    Edit->setGeometry(0, 0, 61, 21);
    switch (Kind) {
    case fkField240:
        LoadRxSpinEdit240(Edit.get());
        break;
    case fkMark:
        LoadRxSpinEditMark(Edit.get());
        break;
    case fkPlainInteger:
        break;
    case fkPlainFloat:
        Edit->SetValueType(vtFloat);
        break;
    case fkPlainHex:
        Edit->SetValueType(vtHex);
        break;
    case fkEqualBounds:
        Edit->SetMinValue(5);
        Edit->SetMaxValue(5);
        break;
    }
    return Edit;
}

// ---- writing --------------------------------------------------------------------------------

struct WriteCase {
    TFieldKind Kind;
    long double Written;
    const char* Shown;
};

// Names the case in test listings.
void PrintTo(const WriteCase& P, std::ostream* Os) {
    *Os << P.Shown << " from " << P.Written << " field " << static_cast<int>(P.Kind);
}

class SpinEditWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(SpinEditWrite, ClampsAndFormats) {
    const WriteCase& C = GetParam();
    auto Edit = MakeField(C.Kind);
    Edit->SetValue(C.Written);
    EXPECT_EQ(Edit->text(), QString::fromLatin1(C.Shown));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SpinEditWrite,
    ::testing::Values(WriteCase{fkField240, 300, "255"}, WriteCase{fkField240, 0, "1"},
                      WriteCase{fkField240, 255, "255"}, WriteCase{fkField240, 17.5L, "18"},
                      WriteCase{fkField240, 16.5L, "16"}, WriteCase{fkPlainInteger, 2.5L, "2"},
                      WriteCase{fkPlainInteger, 3.5L, "4"}, WriteCase{fkPlainInteger, -2.5L, "-2"},
                      WriteCase{fkPlainInteger, 1e6L, "1000000"},
                      WriteCase{fkEqualBounds, 1000, "1000"}, WriteCase{fkEqualBounds, -3, "-3"},
                      WriteCase{fkMark, 5, "4.00"}, WriteCase{fkMark, 0, "0.01"},
                      WriteCase{fkMark, 1.234L, "1.23"}, WriteCase{fkMark, 2.5L, "2.50"},
                      WriteCase{fkPlainFloat, -1000.5L, "-1000.50"},
                      WriteCase{fkPlainHex, 255, "FF"}, WriteCase{fkPlainHex, 10, "A"},
                      WriteCase{fkPlainHex, -1, "FFFFFFFF"}, WriteCase{fkPlainHex, 2.5L, "2"}));

TEST(SpinEdit, DefaultsAndConsoleConfiguration) {
    TRxSpinEdit Plain;
    EXPECT_EQ(Plain.text(), "0");
    EXPECT_EQ(Plain.ValueType(), vtInteger);
    EXPECT_EQ(Plain.Decimal(), 2);
    EXPECT_EQ(Plain.Increment(), 1.0L);
    EXPECT_EQ(Plain.ButtonKind(), bkDiagonal);
    EXPECT_TRUE(Plain.ArrowKeys());
    EXPECT_TRUE(Plain.EditorEnabled());
    EXPECT_NE(Plain.Button(), nullptr);
    EXPECT_EQ(Plain.UpDown(), nullptr);

    auto Poll = MakeField(fkField240);
    EXPECT_EQ(Poll->text(), "1");
    auto Mark = MakeField(fkMark);
    EXPECT_EQ(Mark->text(), "0.01");
    EXPECT_EQ(Mark->Value(), 0.01L);
}

TEST(SpinEdit, NotANumberWriteKeepsText) {
    auto Edit = MakeField(fkPlainFloat);
    Edit->SetValue(1.5L);
    Edit->SetValue(std::nanl(""));
    EXPECT_EQ(Edit->text(), "1.50");
}

// ---- reading --------------------------------------------------------------------------------

struct ReadCase {
    TFieldKind Kind;
    const char* Text;
    long double Read;
};

// Names the case in test listings.
void PrintTo(const ReadCase& P, std::ostream* Os) {
    *Os << '"' << P.Text << "\" field " << static_cast<int>(P.Kind);
}

class SpinEditRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(SpinEditRead, ParsesOrFallsBackWithoutTouchingText) {
    const ReadCase& C = GetParam();
    auto Edit = MakeField(C.Kind);
    Edit->setText(QString::fromLatin1(C.Text));
    EXPECT_EQ(Edit->Value(), C.Read) << C.Text;
    EXPECT_EQ(Edit->text(), QString::fromLatin1(C.Text));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SpinEditRead,
    ::testing::Values(ReadCase{fkField240, "", 1}, ReadCase{fkField240, "abc", 1},
                      ReadCase{fkField240, "-", 1}, ReadCase{fkField240, "300", 300},
                      ReadCase{fkField240, "007", 7}, ReadCase{fkField240, "2147483648", 1},
                      ReadCase{fkMark, "", 0.01L}, ReadCase{fkMark, "1e", 0.01L},
                      ReadCase{fkMark, "1,5", 0.01L}, ReadCase{fkMark, "1.5", 1.5L},
                      ReadCase{fkMark, "2e-1", 0.2L}, ReadCase{fkPlainHex, "10", 16},
                      ReadCase{fkPlainHex, "ff", 255}, ReadCase{fkPlainHex, "-1", 0}));

TEST(SpinEdit, IntegerFallbackIsTruncatedMinimum) {
    TRxSpinEdit Edit;
    Edit.SetMinValue(-2.7L);
    Edit.SetMaxValue(10);
    Edit.setText("x");
    EXPECT_EQ(Edit.Value(), -2.0L);
    Edit.SetValueType(vtHex);
    Edit.setText("x");
    EXPECT_EQ(Edit.Value(), -2.0L);
}

TEST(SpinEdit, IntegerValueTruncatesAndKeepsLow32Bits) {
    auto Edit = MakeField(fkPlainFloat);
    const struct {
        const char* Text;
        int32_t Expected;
    } Cases[] = {{"2.99", 2}, {"-2.7", -2}, {"0.5", 0}, {"4294967297", 1}, {"-4294967297", -1}};
    for (const auto& C : Cases) {
        Edit->setText(C.Text);
        EXPECT_EQ(Edit->IntegerValue(), C.Expected) << C.Text;
    }
}

// ---- comma locale ---------------------------------------------------------------------------

using SpinEditComma = CommaLocaleTest;

TEST_F(SpinEditComma, IntegerValueOfCommaTexts) {
    auto Edit = MakeField(fkMark);
    Edit->setText(QString::fromUtf8("2,99"));
    EXPECT_EQ(Edit->IntegerValue(), 2);
    Edit->setText(QString::fromUtf8("-2,7"));
    EXPECT_EQ(Edit->IntegerValue(), -2);
}

TEST_F(SpinEditComma, MarkerFieldWritesAndStepsInCommaNotation) {
    auto Edit = MakeField(fkMark);
    EXPECT_EQ(Edit->text(), "0,01");
    for (int I = 0; I < 10; ++I) Edit->StepUp(nullptr);
    EXPECT_EQ(Edit->text(), "0,11");
}

TEST_F(SpinEditComma, SeparatorRefusedWhenTextHasOneEvenIfSelected) {
    TBeepCounter Beeps;
    auto Edit = MakeField(fkMark);
    Edit->setText("15");
    Edit->setCursorPosition(1);
    QTest::keyClick(Edit.get(), ',');
    EXPECT_EQ(Edit->text(), "1,5");
    EXPECT_EQ(Beeps.Count(), 0);

    QTest::keyClick(Edit.get(), ',');
    EXPECT_EQ(Edit->text(), "1,5");
    EXPECT_EQ(Beeps.Count(), 1);

    Edit->selectAll();
    QTest::keyClick(Edit.get(), ',');
    EXPECT_EQ(Edit->text(), "1,5");
    EXPECT_EQ(Beeps.Count(), 2);

    Edit->setText("2");
    QTest::keyClick(Edit.get(), '.'); // not this locale's separator
    EXPECT_EQ(Edit->text(), "2");
    EXPECT_EQ(Beeps.Count(), 3);
}

TEST(SpinEdit, TenStepsFromOneHundredthShowEleven) {
    auto Edit = MakeField(fkMark);
    for (int I = 0; I < 10; ++I) Edit->StepUp(nullptr);
    EXPECT_EQ(Edit->text(), "0.11");
    for (int I = 0; I < 400; ++I) Edit->StepUp(nullptr);
    EXPECT_EQ(Edit->text(), "4.00");
}

// ---- key filter -----------------------------------------------------------------------------

struct KeyCase {
    TValueType Type;
    const char* Text;
    char16_t Key;
    bool EditorEnabled;
    bool Accepted;
};

// Names the case in test listings.
void PrintTo(const KeyCase& P, std::ostream* Os) {
    *Os << '"' << P.Text << "\" key " << static_cast<int>(P.Key) << " type "
        << static_cast<int>(P.Type) << (P.EditorEnabled ? "" : " read-only");
}

class SpinEditKeyFilter : public ::testing::TestWithParam<KeyCase> {};

TEST_P(SpinEditKeyFilter, AcceptsKey) {
    const KeyCase& C = GetParam();
    TRxSpinEdit Edit;
    Edit.SetValueType(C.Type);
    Edit.setText(QString::fromLatin1(C.Text));
    Edit.SetEditorEnabled(C.EditorEnabled);
    EXPECT_EQ(Edit.AcceptsKey(QChar(C.Key)), C.Accepted)
        << "type " << C.Type << " text '" << C.Text << "' key " << int(C.Key);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SpinEditKeyFilter,
    ::testing::Values(
        KeyCase{vtInteger, "", u'5', true, true}, KeyCase{vtInteger, "", u'+', true, true},
        KeyCase{vtInteger, "", u'-', true, true}, KeyCase{vtInteger, "", u'a', true, false},
        KeyCase{vtInteger, "", u'.', true, false}, KeyCase{vtInteger, "", u'e', true, false},
        KeyCase{vtInteger, "", u' ', true, false}, KeyCase{vtInteger, "", 8, true, true},
        KeyCase{vtInteger, "", 13, true, true}, KeyCase{vtHex, "", u'a', true, true},
        KeyCase{vtHex, "", u'F', true, true}, KeyCase{vtHex, "", u'g', true, false},
        KeyCase{vtFloat, "1", u'.', true, true}, KeyCase{vtFloat, "1.5", u'.', true, false},
        KeyCase{vtFloat, "1", u'e', true, true}, KeyCase{vtFloat, "1", u'E', true, true},
        KeyCase{vtFloat, "1e5", u'E', true, false}, KeyCase{vtFloat, "1E5", u'e', true, false},
        KeyCase{vtFloat, "", u'a', true, false}, KeyCase{vtInteger, "", u'5', false, false},
        KeyCase{vtInteger, "", 8, false, false}, KeyCase{vtInteger, "", 13, false, true},
        KeyCase{vtInteger, "", 27, false, true}, KeyCase{vtInteger, "", 0x16, false, true},
        KeyCase{vtFloat, "1", u'.', false, false}));

TEST(SpinEdit, ExponentLetterTypedOnlyOnce) {
    TBeepCounter Beeps;
    auto Edit = MakeField(fkMark);
    Edit->setText("1");
    Edit->setCursorPosition(1);
    QTest::keyClick(Edit.get(), Qt::Key_E, Qt::NoModifier); // types "e"
    EXPECT_EQ(Edit->text(), "1e");
    QTest::keyClick(Edit.get(), Qt::Key_E, Qt::ShiftModifier); // "E"
    QTest::keyClicks(Edit.get(), "e");
    EXPECT_EQ(Edit->text(), "1e");
    EXPECT_EQ(Beeps.Count(), 2);
    QTest::keyClicks(Edit.get(), "2");
    EXPECT_EQ(Edit->Value(), 100.0L);
}

TEST(SpinEdit, EditorDisabledRefusesEditingButSteps) {
    TBeepCounter Beeps;
    auto Edit = MakeField(fkField240);
    Edit->SetValue(7);
    Edit->SetEditorEnabled(false);
    Edit->setCursorPosition(1);

    QTest::keyClicks(Edit.get(), "3");
    QTest::keyClick(Edit.get(), Qt::Key_Backspace);
    QTest::keyClick(Edit.get(), Qt::Key_Home);
    QTest::keyClick(Edit.get(), Qt::Key_Delete);
    EXPECT_EQ(Edit->text(), "7");
    EXPECT_EQ(Beeps.Count(), 3);

    QTest::keyClick(Edit.get(), Qt::Key_Up);
    EXPECT_EQ(Edit->text(), "8");
    Edit->show();
    QTest::mouseClick(Edit->Button(), Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(Edit->text(), "9");
    EXPECT_EQ(Beeps.Count(), 3);

    Edit->SetEditorEnabled(true);
    QTest::keyClick(Edit.get(), Qt::Key_End);
    QTest::keyClick(Edit.get(), Qt::Key_Backspace);
    EXPECT_EQ(Edit->text(), "");
}

TEST(SpinEdit, CutAndPasteObeyEditorEnabledAndReadOnly) {
    QApplication::clipboard()->setText("42");
    auto Edit = MakeField(fkField240);
    Edit->SetValue(17);

    Edit->SetEditorEnabled(false);
    Edit->selectAll();
    QTest::keyClick(Edit.get(), Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(Edit->text(), "17");
    QTest::keyClick(Edit.get(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Edit->text(), "17");

    Edit->SetEditorEnabled(true);
    Edit->setReadOnly(true);
    Edit->selectAll();
    Edit->Cut();
    Edit->Paste();
    EXPECT_EQ(Edit->text(), "17");

    Edit->setReadOnly(false);
    Edit->selectAll();
    QTest::keyClick(Edit.get(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Edit->text(), "42");
    Edit->selectAll();
    QTest::keyClick(Edit.get(), Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(Edit->text(), "");
    EXPECT_EQ(QApplication::clipboard()->text(), "42");
}

// ---- every way text enters the field ----------------------------------------------------------

enum TEntryPath { epPaste, epSelection, epDrop, epInputMethod };

void Enter(TRxSpinEdit& Edit, TEntryPath Path, const QString& Text) {
    switch (Path) {
    case epPaste:
        QApplication::clipboard()->setText(Text);
        QTest::keyClick(&Edit, Qt::Key_V, Qt::ControlModifier);
        break;
    case epSelection:
        QApplication::clipboard()->setText(Text, QClipboard::Selection);
        QTest::mouseClick(&Edit, Qt::MiddleButton, {}, QPoint(30, 10));
        break;
    case epDrop: {
        QMimeData Data;
        Data.setText(Text);
        QDropEvent Drop(QPointF(30, 10), Qt::CopyAction, &Data, Qt::LeftButton, {});
        // Straight to the field: the application passes drops only to the drag's target.
        static_cast<QObject&>(Edit).event(&Drop);
        break;
    }
    case epInputMethod: {
        QInputMethodEvent Commit;
        Commit.setCommitString(Text);
        QApplication::sendEvent(&Edit, &Commit);
        break;
    }
    }
}

class SpinEditEntry : public ::testing::TestWithParam<TEntryPath> {};

TEST_P(SpinEditEntry, ObeysTheGatesAndTheKeyFilter) {
    if (GetParam() == epSelection && !QApplication::clipboard()->supportsSelection())
        GTEST_SKIP() << "no primary selection here (run under xvfb-run -platform xcb)";
    const struct {
        const char* Text;
        bool EditorEnabled, ReadOnly;
        const char* Want;
    } Rows[] = {
        {"5", true, false, "75"},  {"e-5", true, false, "7e-5"}, {"abc", true, false, "7"},
        {"e5e", true, false, "7"}, {"5\n", true, false, "7"},    {"5", false, false, "7"},
        {"5", true, true, "7"},
    };
    auto Edit = MakeField(fkMark);
    Edit->setAcceptDrops(true);
    Edit->show();
    for (const auto& Row : Rows) {
        SCOPED_TRACE(Row.Text);
        Edit->setText("7");
        Edit->SetEditorEnabled(Row.EditorEnabled);
        Edit->setReadOnly(Row.ReadOnly);
        Enter(*Edit, GetParam(), QString::fromLatin1(Row.Text));
        EXPECT_EQ(Edit->text(), Row.Want);
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, SpinEditEntry,
                         ::testing::Values(epPaste, epSelection, epDrop, epInputMethod));

TEST(SpinEdit, ContextMenuCutPasteAndDeleteGoThroughTheGate) {
    QApplication::clipboard()->setText("99");
    auto Edit = MakeField(fkField240);
    Edit->SetValue(17);
    auto Trigger = [&](const QString& Prefix) {
        Edit->selectAll();
        std::unique_ptr<QMenu> Menu(Edit->CreateContextMenu());
        for (QAction* A : Menu->actions())
            if (A->text().startsWith(Prefix) && A->isEnabled()) A->trigger();
    };
    Edit->SetEditorEnabled(false);
    Trigger(QLineEdit::tr("Cu&t"));
    Trigger(QLineEdit::tr("&Paste"));
    Trigger(QLineEdit::tr("Delete"));
    EXPECT_EQ(Edit->text(), "17");

    Edit->SetEditorEnabled(true);
    Trigger(QLineEdit::tr("&Paste"));
    EXPECT_EQ(Edit->text(), "99");
    Trigger(QLineEdit::tr("Cu&t"));
    EXPECT_EQ(Edit->text(), "");
}

// Records the keys that reach the window.
class TKeySink : public QWidget {
public:
    QList<int> Keys;

protected:
    void keyPressEvent(QKeyEvent* Event) override {
        Keys << Event->key();
        Event->accept();
    }
};

TEST(SpinEdit, EnterGoesToTheWindowNotTheText) {
    TKeySink Window;
    auto* Edit = new TRxSpinEdit(&Window);
    Edit->setText("12");
    Edit->setCursorPosition(2);
    QTest::keyClick(Edit, Qt::Key_Return);
    QTest::keyClick(Edit, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(Edit->text(), "12");
    EXPECT_EQ(Window.Keys, (QList<int>{Qt::Key_Return, Qt::Key_Enter}));

    QTest::keyClick(Edit, Qt::Key_Escape);
    EXPECT_EQ(Window.Keys.size(), 3);
    EXPECT_EQ(Window.Keys.back(), int(Qt::Key_Escape));

    QTest::keyClick(Edit, Qt::Key_Up); // consumed by the step
    EXPECT_EQ(Window.Keys.size(), 3);
    EXPECT_EQ(Edit->text(), "13");
}

TEST(SpinEdit, ArrowKeysStepOnlyWhenEnabled) {
    auto Edit = MakeField(fkField240);
    Edit->SetValue(10);
    QTest::keyClick(Edit.get(), Qt::Key_Up);
    QTest::keyClick(Edit.get(), Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(Edit->text(), "12");
    QTest::keyClick(Edit.get(), Qt::Key_Down);
    EXPECT_EQ(Edit->text(), "11");
    QTest::keyClick(Edit.get(), Qt::Key_PageUp);
    EXPECT_EQ(Edit->text(), "11");
    Edit->SetArrowKeys(false);
    QTest::keyClick(Edit.get(), Qt::Key_Up);
    EXPECT_EQ(Edit->text(), "11");
}

// ---- stepping -------------------------------------------------------------------------------

TEST(SpinEdit, StepAtBoundFiresTopClickButNoChange) {
    auto Edit = MakeField(fkField240);
    int Changes = 0, Tops = 0, Bottoms = 0;
    Edit->SetOnChange([&](QObject*) { ++Changes; });
    Edit->SetOnTopClick([&](QObject* Sender) {
        EXPECT_EQ(Sender, Edit.get());
        ++Tops;
    });
    Edit->SetOnBottomClick([&](QObject*) { ++Bottoms; });
    Edit->SetValue(255);
    Changes = 0;
    Edit->setModified(false);

    Edit->StepUp(nullptr);
    EXPECT_EQ(Edit->text(), "255");
    EXPECT_FALSE(Edit->isModified());
    EXPECT_EQ(Changes, 0);
    EXPECT_EQ(Tops, 1);

    Edit->StepDown(nullptr);
    EXPECT_EQ(Edit->text(), "254");
    EXPECT_TRUE(Edit->isModified());
    EXPECT_EQ(Changes, 1);
    EXPECT_EQ(Bottoms, 1);

    Edit->setModified(false);
    Edit->StepUp(nullptr);
    EXPECT_EQ(Edit->text(), "255");
    EXPECT_EQ(Changes, 2); // exactly one notification per step
    EXPECT_EQ(Tops, 2);
}

TEST(SpinEdit, StepChangeTestIgnoresLetterCase) {
    TRxSpinEdit Edit;
    Edit.SetValueType(vtHex);
    Edit.SetMinValue(0);
    Edit.SetMaxValue(10);
    Edit.setText("a");
    int Changes = 0;
    Edit.SetOnChange([&](QObject*) { ++Changes; });
    Edit.setModified(false);
    Edit.StepUp(nullptr); // 10 at the bound, rewritten as "A"
    EXPECT_EQ(Edit.text(), "A");
    EXPECT_EQ(Changes, 0);
    EXPECT_FALSE(Edit.isModified());
}

TEST(SpinEdit, StepFromUnparsableTextStartsAtFallback) {
    auto Edit = MakeField(fkField240);
    Edit->setText("");
    Edit->StepUp(nullptr);
    EXPECT_EQ(Edit->text(), "2");
}

TEST(SpinEdit, ReadOnlyStepBeepsAndChangesNothing) {
    TBeepCounter Beeps;
    auto Edit = MakeField(fkField240);
    int Tops = 0;
    Edit->SetOnTopClick([&](QObject*) { ++Tops; });
    Edit->setReadOnly(true);
    Edit->StepUp(nullptr);
    EXPECT_EQ(Edit->text(), "1");
    EXPECT_EQ(Tops, 0);
    EXPECT_EQ(Beeps.Count(), 1);
}

TEST(SpinEdit, TypingNotifiesChangeAndStepsDoOnce) {
    auto Edit = MakeField(fkField240);
    QStringList Seen;
    Edit->SetOnChange([&](QObject*) { Seen << Edit->text(); });
    Edit->selectAll();
    QTest::keyClicks(Edit.get(), "42");
    EXPECT_EQ(Seen, (QStringList{"4", "42"}));
    Edit->StepUp(nullptr);
    EXPECT_EQ(Seen, (QStringList{"4", "42", "43"}));
}

// ---- type and decimals ----------------------------------------------------------------------

TEST(SpinEdit, IntegerToHexRereadsText) {
    TRxSpinEdit Edit;
    Edit.setText("10");
    Edit.SetIncrement(2.5L);
    Edit.SetValueType(vtHex);
    EXPECT_EQ(Edit.Value(), 16.0L);
    EXPECT_EQ(Edit.text(), "10");
    EXPECT_EQ(Edit.Increment(), 2.0L);
    Edit.StepUp(nullptr);
    EXPECT_EQ(Edit.text(), "12");

    Edit.SetValueType(vtFloat);
    Edit.SetIncrement(0.4L);
    Edit.SetValueType(vtInteger); // 0.4 rounds to 0, which becomes 1
    EXPECT_EQ(Edit.Increment(), 1.0L);
}

TEST(SpinEdit, DecimalChangeReformats) {
    auto Edit = MakeField(fkMark);
    Edit->setText("1.5");
    Edit->SetDecimal(3);
    EXPECT_EQ(Edit->text(), "1.500");
    Edit->SetDecimal(0);
    EXPECT_EQ(Edit->text(), "2");
    auto Poll = MakeField(fkField240);
    Poll->SetValue(7);
    Poll->SetDecimal(4);
    EXPECT_EQ(Poll->text(), "7");
}

// ---- focus ----------------------------------------------------------------------------------

struct TTwoFields {
    QWidget Window;
    TRxSpinEdit* Edit;
    QLineEdit* Other;
    explicit TTwoFields(TFieldKind Kind) {
        auto* Layout = new QVBoxLayout(&Window);
        Edit = MakeField(Kind).release();
        Edit->setFixedSize(61, 21);
        Layout->addWidget(Edit);
        Other = new QLineEdit(&Window);
        Layout->addWidget(Other);
    }
};

TEST(SpinEditFocus, TypedValueClampedOnlyWhenLeaving) {
    TTwoFields F(fkField240);
    ASSERT_TRUE(ShowActive(F.Window));
    F.Other->setFocus(Qt::TabFocusReason);
    F.Edit->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(F.Edit->hasFocus());
    EXPECT_EQ(F.Edit->selectedText(), "1");
    QTest::keyClicks(F.Edit, "300");
    EXPECT_EQ(F.Edit->text(), "300");
    EXPECT_EQ(F.Edit->Value(), 300.0L);
    F.Other->setFocus(Qt::TabFocusReason);
    ASSERT_FALSE(F.Edit->hasFocus());
    EXPECT_EQ(F.Edit->text(), "255");

    F.Edit->setFocus(Qt::TabFocusReason);
    F.Edit->setText("007");
    F.Other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(F.Edit->text(), "007");
}

TEST(SpinEditFocus, EmptyMarkerReadsMinimumAndStaysEmpty) {
    TTwoFields F(fkMark);
    ASSERT_TRUE(ShowActive(F.Window));
    F.Edit->setFocus(Qt::TabFocusReason);
    F.Edit->setText("");
    EXPECT_EQ(F.Edit->Value(), 0.01L);
    F.Other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(F.Edit->text(), "");
    EXPECT_EQ(F.Edit->Value(), 0.01L);
}

TEST(SpinEditFocus, EntrySelectsAllUnlessByMouse) {
    TTwoFields F(fkField240);
    ASSERT_TRUE(ShowActive(F.Window));
    F.Edit->SetValue(123);
    F.Other->setFocus();
    QTest::mousePress(F.Edit, Qt::LeftButton, {}, QPoint(5, 10));
    F.Edit->setFocus(Qt::MouseFocusReason);
    EXPECT_FALSE(F.Edit->hasSelectedText());
    QTest::mouseRelease(F.Edit, Qt::LeftButton, {}, QPoint(5, 10));
    F.Other->setFocus();
    F.Edit->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(F.Edit->selectedText(), "123");
    // A right click comes for the context menu, which then acts on the whole number.
    F.Other->setFocus();
    QTest::mouseClick(F.Edit, Qt::RightButton, {}, QPoint(5, 10));
    EXPECT_TRUE(F.Edit->hasFocus());
    EXPECT_EQ(F.Edit->selectedText(), "123");

    F.Other->setFocus();
    F.Edit->SetAutoSelect(false);
    F.Edit->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(F.Edit->hasSelectedText());
}

TEST(SpinEditFocus, WindowSwitchIsNoEntryOrExit) {
    TTwoFields F(fkField240);
    ASSERT_TRUE(ShowActive(F.Window));
    EXPECT_TRUE(F.Edit->hasFocus()); // first in the chain: entered when the window opened
    EXPECT_EQ(F.Edit->selectedText(), "1");
    F.Edit->setText("300");
    F.Edit->setCursorPosition(1);

    QFocusEvent Out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(F.Edit, &Out);
    QFocusEvent In(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(F.Edit, &In);
    EXPECT_EQ(F.Edit->text(), "300");
    EXPECT_FALSE(F.Edit->hasSelectedText());

    QFocusEvent Leave(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(F.Edit, &Leave);
    EXPECT_EQ(F.Edit->text(), "255");
}

TEST(SpinEditFocus, MenuBarVisitIsNoExit) {
    TTwoFields F(fkField240);
    ASSERT_TRUE(ShowActive(F.Window));
    F.Edit->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(F.Edit, "300");
    // The menu bar takes the focus within the window and gives it back.
    F.Other->setFocus(Qt::MenuBarFocusReason);
    EXPECT_EQ(F.Edit->text(), "300");
    F.Edit->setFocus(Qt::MenuBarFocusReason);
    EXPECT_EQ(F.Edit->text(), "300");
    EXPECT_FALSE(F.Edit->hasSelectedText());
}

// Focus lost to another window is parked; what happens while the window is away decides
// whether it comes back to the field or has left it for good.
struct ParkedCase {
    const char* Name;
    std::function<void(TTwoFields&)> WhileAway;
    bool LeftForGood;
    bool AtOnce; // known while the window is still away
};

// Names the case in test listings.
void PrintTo(const ParkedCase& P, std::ostream* Os) {
    *Os << P.Name;
}

class SpinEditParkedFocus : public ::testing::TestWithParam<ParkedCase> {};

TEST_P(SpinEditParkedFocus, ClampedOnceTheFocusHasLeftForGood) {
    TTwoFields F(fkField240);
    QWidget Elsewhere;
    ASSERT_TRUE(ShowActive(F.Window));
    F.Edit->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(F.Edit, "300");
    ASSERT_TRUE(ShowActive(Elsewhere));
    ASSERT_FALSE(F.Edit->hasFocus());
    EXPECT_EQ(F.Edit->text(), "300"); // parked, not left

    GetParam().WhileAway(F);
    EXPECT_EQ(F.Edit->text(), GetParam().AtOnce ? "255" : "300");
    ASSERT_TRUE(ShowActive(F.Window));
    const bool Gone = GetParam().LeftForGood;
    EXPECT_EQ(F.Edit->text(), Gone ? "255" : "300");
    EXPECT_EQ(F.Edit->IntegerValue(), Gone ? 255 : 300);
    if (Gone) return; // the window may give the field the focus again, as a new entry
    EXPECT_TRUE(F.Edit->hasFocus());
    F.Other->setFocus(Qt::TabFocusReason); // leaving as ever
    EXPECT_EQ(F.Edit->text(), "255");
}

INSTANTIATE_TEST_SUITE_P(
    Routes, SpinEditParkedFocus,
    ::testing::Values(
        ParkedCase{"Nothing", [](TTwoFields&) {}, false, false},
        ParkedCase{"Minimised", [](TTwoFields& F) { F.Window.showMinimized(); }, false, false},
        ParkedCase{"Disabled", [](TTwoFields& F) { F.Edit->setEnabled(false); }, true, true},
        ParkedCase{"DisabledAndEnabledAgain",
                   [](TTwoFields& F) {
                       F.Edit->setEnabled(false);
                       F.Edit->setEnabled(true);
                   },
                   true, true},
        ParkedCase{"WindowDisabled",
                   [](TTwoFields& F) {
                       F.Window.setEnabled(false);
                       F.Window.setEnabled(true);
                   },
                   true, true},
        ParkedCase{"Hidden", [](TTwoFields& F) { F.Edit->hide(); }, true, true},
        ParkedCase{"WindowClosed", [](TTwoFields& F) { F.Window.hide(); }, false, false},
        ParkedCase{"FocusMovedInTheWindow",
                   [](TTwoFields& F) { F.Other->setFocus(Qt::OtherFocusReason); }, true, false}),
    [](const ::testing::TestParamInfo<ParkedCase>& Info) { return std::string(Info.param.Name); });

TEST(SpinEditFocus, ButtonPressFocusesTheFieldWithoutSelecting) {
    TTwoFields F(fkField240);
    ASSERT_TRUE(ShowActive(F.Window));
    F.Other->setFocus();
    QTest::mouseClick(F.Edit->Button(), Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_TRUE(F.Edit->hasFocus());
    EXPECT_FALSE(F.Edit->hasSelectedText());
    EXPECT_EQ(F.Edit->text(), "2");
}

// ---- geometry -------------------------------------------------------------------------------

TEST(SpinEditLayout, DiagonalButtonHostAndTextMargin) {
    auto Edit = MakeField(fkField240);
    Edit->show();
    ASSERT_NE(Edit->ButtonHost(), nullptr);
    EXPECT_EQ(Edit->ButtonHost()->geometry(), QRect(41, 1, 18, 18));
    EXPECT_EQ(Edit->Button()->geometry(), QRect(0, 0, 18, 18));
    EXPECT_EQ(Edit->textMargins().right(), 20);
    EXPECT_EQ(Edit->textMargins().left(), 0);

    Edit->setLayoutDirection(Qt::RightToLeft);
    EXPECT_EQ(Edit->ButtonHost()->geometry(), QRect(1, 1, 18, 18));
    EXPECT_EQ(Edit->textMargins().left(), 19);
    EXPECT_EQ(Edit->textMargins().right(), 1);

    Edit->setLayoutDirection(Qt::LeftToRight);
    Edit->resize(80, 30);
    EXPECT_EQ(Edit->ButtonHost()->geometry(), QRect(51, 1, 27, 27));
    EXPECT_EQ(Edit->textMargins().right(), 29);
}

TEST(SpinEditLayout, StandardKindUsesUpDown) {
    auto Edit = MakeField(fkField240);
    Edit->show();
    Edit->SetButtonKind(bkStandard);
    EXPECT_EQ(Edit->Button(), nullptr);
    EXPECT_EQ(Edit->ButtonHost(), nullptr);
    ASSERT_NE(Edit->UpDown(), nullptr);
    const int Bw = DefaultButtonWidth();
    EXPECT_LE(Bw, 15);
    EXPECT_EQ(Edit->UpDown()->geometry(), QRect(61 - 2 - Bw, 2, Bw, 17));
    EXPECT_EQ(Edit->textMargins().right(), Bw + 2);

    QTest::mouseClick(Edit->UpDown(), Qt::LeftButton, {}, QPoint(3, 2));
    EXPECT_EQ(Edit->text(), "2");
    QTest::mouseClick(Edit->UpDown(), Qt::LeftButton, {}, QPoint(3, 15));
    EXPECT_EQ(Edit->text(), "1");

    Edit->SetButtonKind(bkDiagonal);
    EXPECT_EQ(Edit->UpDown(), nullptr);
    ASSERT_NE(Edit->Button(), nullptr);
    EXPECT_EQ(Edit->ButtonHost()->geometry(), QRect(41, 1, 18, 18));
}

TEST(SpinEditLayout, HeightSnapsToMinimum) {
    TRxSpinEdit Edit;
    const int Min = QFontMetrics(Edit.font()).height() + 4 + 1;
    EXPECT_EQ(Edit.MinimumFieldHeight(), Min);
    Edit.setGeometry(0, 0, 61, 5);
    EXPECT_EQ(Edit.height(), Min);
    Edit.show();
    Edit.resize(61, Min - 3);
    EXPECT_EQ(Edit.height(), Min);

    QFont Big = Edit.font();
    Big.setPixelSize(40);
    Edit.setFont(Big);
    const int BigMin = QFontMetrics(Big).height() + 5;
    EXPECT_EQ(Edit.height(), BigMin);
    Edit.resize(61, BigMin + 10);
    EXPECT_EQ(Edit.height(), BigMin + 10);
}

TEST(SpinEditLayout, EnabledStateReachesTheButton) {
    auto Edit = MakeField(fkField240);
    Edit->show();
    int Tops = 0;
    Edit->SetOnTopClick([&](QObject*) { ++Tops; });
    Edit->setEnabled(false);
    EXPECT_FALSE(Edit->Button()->isEnabled());
    QTest::mousePress(Edit->Button(), Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseRelease(Edit->Button(), Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(Tops, 0);
    EXPECT_EQ(Edit->text(), "1");
    Edit->setEnabled(true);
    EXPECT_TRUE(Edit->Button()->isEnabled());
    QTest::mouseClick(Edit->Button(), Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(Tops, 1);

    Edit->SetButtonKind(bkStandard);
    Edit->setEnabled(false);
    EXPECT_FALSE(Edit->UpDown()->isEnabled());
    Edit->setEnabled(true);
    EXPECT_TRUE(Edit->UpDown()->isEnabled());
}

} // namespace
