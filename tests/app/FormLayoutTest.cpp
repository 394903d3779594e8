#include "app/Unit1.h"
#include "widgets/RXSpin.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class FormTest : public ::testing::Test {
protected:
    void SetUp() override { form = std::make_unique<TOrmelix_Control_Form>(); }
    void TearDown() override { form.reset(); }
    std::unique_ptr<TOrmelix_Control_Form> form;
};

TEST_F(FormTest, EveryControlSitsWhereTheLayoutPutsIt) {
    struct Row {
        const char* name;
        QWidget* widget;
        QRect rect;
        QString text;
    };
    const TOrmelix_Control_Form& f = *form;
    const std::vector<Row> rows = {
        {"Label1", f.Label1, {24, 280, 113, 17}, "Период опроса"},
        {"Label2", f.Label2, {24, 304, 113, 17}, "Маркер  1"},
        {"Label3", f.Label3, {24, 328, 113, 17}, "Маркер  2"},
        {"Label46", f.Label46, {216, 280, 279, 17}, ""},
        {"Label47", f.Label47, {216, 296, 279, 17}, ""},
        {"Label49", f.Label49, {216, 328, 279, 17}, ""},
        {"Label48", f.Label48, {216, 312, 279, 17}, ""},
        {"Label_01", f.Label_01, {498, 248, 9, 13}, "0"},
        {"Label_00", f.Label_00, {8, 248, 9, 13}, "0"},
        {"Label_41", f.Label_41, {498, 8, 9, 13}, "4"},
        {"Label_40", f.Label_40, {8, 8, 9, 13}, "4"},
        {"Label_mark2", f.Label_mark2, {0, 72, 17, 13}, ""},
        {"Label_mark1", f.Label_mark1, {0, 40, 17, 13}, ""},
        {"Pos_Label", f.Pos_Label, {28, 256, 17, 13}, ""},
        {"sig_Label1", f.sig_Label1, {498, 120, 17, 13}, ""},
        {"Image", f.Image, {18, 0, 476, 255}, ""},
        {"sig_Label2", f.sig_Label2, {498, 144, 17, 13}, ""},
        {"CheckBox1", f.CheckBox1, {24, 360, 129, 17}, "Подключение"},
        {"RxSpinEdit240", f.RxSpinEdit240, {144, 280, 61, 21}, "1"},
        {"RxSpinEdit_mark1", f.RxSpinEdit_mark1, {144, 304, 61, 21}, "0.01"},
        {"RxSpinEdit_mark2", f.RxSpinEdit_mark2, {144, 328, 61, 21}, "0.01"},
        {"GoButton", f.GoButton, {360, 384, 89, 22}, "Выполнить"},
        {"FuncComboBox", f.FuncComboBox, {16, 384, 329, 22}, "Обычная работа"},
        {"Panel1", f.Panel1, {-3, 272, 525, 2}, ""},
        {"CheckBox2", f.CheckBox2, {184, 360, 97, 17}, "Делать SS"},
        {"Panel2", f.Panel2, {-3, 352, 525, 2}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NE(row.widget, nullptr);
        EXPECT_EQ(row.widget->parentWidget(), form.get());
        EXPECT_EQ(row.widget->geometry(), row.rect);
        QString text;
        if (auto* l = qobject_cast<QLabel*>(row.widget))
            text = l->text();
        else if (auto* b = qobject_cast<QAbstractButton*>(row.widget))
            text = b->text();
        else if (auto* e = qobject_cast<QLineEdit*>(row.widget))
            text = e->text();
        else if (auto* c = qobject_cast<QComboBox*>(row.widget))
            text = c->currentText();
        EXPECT_EQ(text, row.text);
    }
    // Later controls lie above earlier ones: the plot covers the labels made before it.
    const QObjectList& kids = form->children();
    EXPECT_LT(kids.indexOf(f.sig_Label1), kids.indexOf(f.Image));
    EXPECT_LT(kids.indexOf(f.Image), kids.indexOf(f.sig_Label2));
}

TEST_F(FormTest, WindowIsAFixedDialogWithTahomaElevenPixels) {
    EXPECT_EQ(form->size(), QSize(517, 410));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(form->font().family(), "Tahoma");
    EXPECT_EQ(form->font().pixelSize(), 11);
    EXPECT_EQ(form->Label46->font().pixelSize(), 11); // inherited
    EXPECT_TRUE(form->DoubleBuffered());
}

TEST_F(FormTest, ComboHoldsTheEightCommands) {
    const QStringList expected = {"Обычная работа",
                                  "Считать переменные из eeprom",
                                  "Сохранить переменные в eeprom",
                                  "Сброс значений оперативных переменных",
                                  "Проверка работы индикатора OS1 OS1=0",
                                  "Проверка работы индикатора OS1 OS1=1",
                                  "Проверка работы выхода OS2 OS2=0",
                                  "Проверка работы выхода OS2 OS2=1"};
    ASSERT_EQ(form->FuncComboBox->count(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        EXPECT_EQ(form->FuncComboBox->itemText(i), expected[i]);
    EXPECT_FALSE(form->FuncComboBox->isEditable());
}

TEST_F(FormTest, TabOrderRunsThroughTheInputControls) {
    std::vector<QWidget*> order = {
        form->CheckBox1, form->RxSpinEdit240, form->RxSpinEdit_mark1, form->RxSpinEdit_mark2,
        form->GoButton,  form->FuncComboBox,  form->CheckBox2};
    for (size_t i = 0; i + 1 < order.size(); ++i) {
        QWidget* next = order[i]->nextInFocusChain();
        // Skip the children of compound controls (the spin edits' buttons take no focus).
        while (next && next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
        EXPECT_EQ(next, order[i + 1]) << i;
    }
    EXPECT_EQ(form->Panel1->focusPolicy(), Qt::NoFocus);
}

TEST_F(FormTest, FirstShowIsTheIdleWindow) {
    form->show();
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8(IdleCaption));
    EXPECT_TRUE(form->windowTitle().startsWith("Tavrix. "));
    EXPECT_TRUE(form->windowTitle().endsWith(" "));
    for (QWidget* w :
         {static_cast<QWidget*>(form->GoButton), static_cast<QWidget*>(form->FuncComboBox),
          static_cast<QWidget*>(form->RxSpinEdit240), static_cast<QWidget*>(form->RxSpinEdit_mark1),
          static_cast<QWidget*>(form->RxSpinEdit_mark2), static_cast<QWidget*>(form->CheckBox2)})
        EXPECT_FALSE(w->isEnabled()) << w->metaObject()->className();
    EXPECT_TRUE(form->CheckBox1->isEnabled());
    EXPECT_FALSE(form->CheckBox1->isChecked());
    EXPECT_FALSE(form->Timer->isActive());
    EXPECT_EQ(form->Timer->interval(), 500);
    EXPECT_EQ(form->FuncComboBox->currentText(), "Обычная работа");
    const QImage& plot = form->Image->Canvas()->Bitmap();
    ASSERT_EQ(plot.size(), QSize(476, 255));
    for (int y = 0; y < plot.height(); ++y)
        for (int x = 0; x < plot.width(); ++x)
            ASSERT_EQ(plot.pixel(x, y), qRgb(255, 255, 255)) << x << "," << y;
    EXPECT_EQ(form->Label2->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    EXPECT_EQ(form->Label3->palette().color(QPalette::WindowText), QColor(0, 128, 128));
}

TEST_F(FormTest, IdleStateKeepsValuesScaleMarksAndTheSnapshotTick) {
    form->CheckBox2->setEnabled(true);
    form->CheckBox2->setChecked(true);
    SnapshotFolder = "/somewhere/071226_201305";
    form->RxSpinEdit240->SetValue(77);
    form->RxSpinEdit_mark1->SetValue(1.5L);
    form->Label_40->move(8, 30);
    form->Label46->setText("Min значение S1 = 1.00 В");
    form->init_app();
    EXPECT_TRUE(form->CheckBox2->isChecked());
    EXPECT_FALSE(form->CheckBox2->isEnabled());
    EXPECT_TRUE(SnapshotFolder.isEmpty());
    EXPECT_EQ(form->RxSpinEdit240->IntegerValue(), 77);
    EXPECT_EQ(form->RxSpinEdit_mark1->Value(), 1.5L);
    EXPECT_EQ(form->Label_40->text(), "4");
    EXPECT_EQ(form->Label_41->text(), "4");
    EXPECT_EQ(form->Label_00->text(), "0");
    EXPECT_EQ(form->Label_01->text(), "0");
    EXPECT_EQ(form->Label_40->y(), 30); // positions stay where the last tick put them
    EXPECT_TRUE(form->Label46->text().isEmpty());
}

TEST_F(FormTest, GrabbedWindowHasThePlotAtItsPlace) {
    form->show();
    const QImage shot = form->grab().toImage();
    ASSERT_EQ(shot.size() / shot.devicePixelRatio(), QSize(517, 410));
    const auto at = [&](int x, int y) { return shot.pixelColor(x, y); };
    EXPECT_EQ(at(18, 0), QColor(Qt::white));
    EXPECT_EQ(at(18 + 475, 254), QColor(Qt::white));
    EXPECT_NE(at(17, 100), QColor(Qt::white)); // button face left of the plot
    EXPECT_NE(at(18 + 476, 100), QColor(Qt::white));
    EXPECT_NE(at(100, 255), QColor(Qt::white));
}

} // namespace
