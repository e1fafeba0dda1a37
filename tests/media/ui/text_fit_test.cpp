// The text fitter on a small form: a long label widens, what stands to its
// right moves along, the column below follows, the frame and the window grow.
#include <gtest/gtest.h>

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "media/ui/text_fit.h"
#include "tests/mainwindow/ui/control_test_support.h"

namespace {

TEST(TextFitTest, WidensMovesAlignsAndGrows) {
    control_test::EnsureApplication();
    QDialog dialog;
    dialog.setFixedSize(300, 200);
    auto* group = new QGroupBox(&dialog);
    group->setGeometry(10, 10, 260, 90);
    auto* long_label = new QLabel("A label far longer than its place", &dialog);
    long_label->setGeometry(20, 30, 60, 22);
    auto* first = new QLineEdit(&dialog);
    first->setGeometry(90, 30, 150, 22);
    auto* short_label = new QLabel("Port", &dialog);
    short_label->setGeometry(20, 60, 60, 22);
    auto* second = new QLineEdit(&dialog);
    second->setGeometry(90, 60, 150, 22);
    auto* below = new QPushButton("OK", &dialog);
    below->setGeometry(200, 150, 80, 26);

    ui::FitTexts(&dialog);

    const int d = long_label->sizeHint().width() - 60;
    ASSERT_GT(d, 0);
    EXPECT_EQ(long_label->geometry(), QRect(20, 30, 60 + d, 22));
    EXPECT_EQ(first->geometry(), QRect(90 + d, 30, 150, 22));
    EXPECT_EQ(second->x(), 90 + d);                          // the column stays a column
    EXPECT_EQ(short_label->geometry(), QRect(20, 60, 60, 22));  // its own text fits
    EXPECT_EQ(group->geometry(), QRect(10, 10, 260 + d, 90));
    EXPECT_EQ(below->geometry(), QRect(200, 150, 80, 26));  // not in the band
    // The window keeps its right margin: 20 beside the button, the rightmost before.
    EXPECT_EQ(dialog.width(), 10 + 260 + d + 20);
    EXPECT_EQ(dialog.minimumWidth(), dialog.maximumWidth());
}

// A label drawn far past its window is cut back to it, never below its text.
TEST(TextFitTest, LabelPastTheWindowIsCutBack) {
    control_test::EnsureApplication();
    QDialog dialog;
    dialog.setFixedSize(300, 100);
    auto* overrun = new QLabel("short", &dialog);
    overrun->setGeometry(20, 10, 600, 22);
    auto* wide = new QLabel("a text wider than the whole window is, by far, in any font", &dialog);
    wide->setGeometry(20, 40, 600, 22);
    ui::FitTexts(&dialog);
    EXPECT_LE(overrun->x() + overrun->width(), dialog.width());
    EXPECT_GE(wide->width(), wide->sizeHint().width());
    EXPECT_GE(dialog.width(), wide->x() + wide->width());
}

TEST(TextFitTest, DialogUnitsFollowTheFont) {
    control_test::EnsureApplication();
    QFont font("Liberation Sans");
    font.setPixelSize(20);
    const ui::DialogUnits units = ui::DialogUnitsOf(font);
    const QFontMetrics fm(font);
    EXPECT_EQ(units.base_y, fm.height());
    // Four horizontal units are one average Latin letter.
    const int letters = fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    EXPECT_NEAR(units.X(4 * 52), letters, 52);
    EXPECT_EQ(units.Rect(8, 8, 4, 8), QRect(2 * units.base_x, units.base_y, units.base_x, units.base_y));
}

}  // namespace
