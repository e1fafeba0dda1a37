#include <gtest/gtest.h>

#include <ctime>

#include "mainwindow/ui/calendar.h"
#include "media/ui/gdi_paint.h"
#include "tests/mainwindow/ui/control_test_support.h"

namespace {

using control_test::Rgb;

class CalendarTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialog.resize(400, 300);
        calendar.Create(QRect(12, 50, 208, 160), &dialog);
        calendar.SetMessageSink(recorder.Sink());
        calendar.SetYear(2008);
        calendar.SetMonth(3);  // the 1st is a Saturday
    }

    void ClickDay(int day) {
        CStaticEx* cell = calendar.Cell(day + 7 - 2);
        ASSERT_NE(cell, nullptr);
        control_test::Click(cell, QPoint(cell->width() / 2, 3));
        control_test::DeliverPosted();
    }

    control_test::ApplicationGuard application;
    QWidget dialog;
    CCalendar calendar;
    control_test::MessageRecorder recorder;
};

TEST_F(CalendarTest, CreateLaysOutBoxesCaptionsAndCells) {
    EXPECT_EQ(calendar.property("controlId").toInt(), 400);
    EXPECT_EQ(calendar.geometry(), QRect(12, 50, 208, 160));
    EXPECT_EQ(calendar.MonthBox()->property("controlId").toInt(), 98);
    EXPECT_EQ(calendar.YearBox()->property("controlId").toInt(), 99);
    EXPECT_EQ(calendar.MonthBox()->count(), 12);
    EXPECT_EQ(calendar.MonthBox()->itemText(0), "01");
    EXPECT_EQ(calendar.YearBox()->itemText(0), "2005");
    // The year list reaches past today's year, at index year - 2005.
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const int this_year = local.tm_year + 1900;
    ASSERT_GE(calendar.YearBox()->count(), this_year - 2005 + 1);
    EXPECT_EQ(calendar.YearBox()->itemText(this_year - 2005), QString::number(this_year));

    // w = 208: columns of 29 pixels; h = 160: rows of 17 from y 55.
    EXPECT_EQ(calendar.Cell(0)->geometry(), QRect(0, 55, 29, 17));
    EXPECT_EQ(calendar.Cell(41)->geometry(), QRect(174, 55 + 5 * 17, 29, 17));
    EXPECT_EQ(calendar.Cell(9)->property("controlId").toInt(), 9);

    EXPECT_EQ(calendar.Year(), 2008);
    EXPECT_EQ(calendar.Month(), 3);
    EXPECT_EQ(calendar.Cell(5)->Text(), "");
    EXPECT_EQ(calendar.Cell(6)->Text(), "1");
    EXPECT_EQ(calendar.Cell(36)->Text(), "31");
    EXPECT_EQ(calendar.Cell(37)->Text(), "");
}

TEST_F(CalendarTest, ClickingAMarkedDayPicksItAndNotifiesTheParent) {
    calendar.MarkDay(5);
    calendar.MarkDay(12);
    ClickDay(12);
    EXPECT_EQ(calendar.GetSelectedDay(), 12);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].message, 0x464u);
    EXPECT_EQ(recorder.messages[0].wparam, 1);

    ClickDay(5);
    EXPECT_EQ(calendar.GetSelectedDay(), 5);
    EXPECT_EQ(calendar.Cell(12 + 5)->State(), CalendarGrid::kStateMarked);
    EXPECT_EQ(calendar.Cell(5 + 5)->State(), CalendarGrid::kStatePicked);
    EXPECT_EQ(recorder.messages.size(), 2u);

    // A day without recordings and an empty cell do nothing.
    ClickDay(20);
    control_test::Click(calendar.Cell(2), QPoint(5, 3));
    control_test::DeliverPosted();
    EXPECT_EQ(recorder.messages.size(), 2u);
    EXPECT_EQ(calendar.GetSelectedDay(), 5);
}

TEST_F(CalendarTest, ChangingTheMonthInTheBoxClearsMarksAndNotifies) {
    calendar.MarkDay(12);
    calendar.SelectDay(12);
    calendar.MonthBox()->setCurrentIndex(3);
    emit calendar.MonthBox()->activated(3);
    control_test::DeliverPosted();
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].message, WM_CALENDAR_NOTIFY);
    EXPECT_EQ(recorder.messages[0].wparam, 0);
    EXPECT_EQ(calendar.Month(), 4);
    EXPECT_EQ(calendar.GetSelectedDay(), 0);
    for (int i = 0; i < CalendarGrid::kCellCount; ++i) EXPECT_EQ(calendar.Cell(i)->State(), CalendarGrid::kStatePlain);
    // April 2008 begins on a Tuesday and has 30 days.
    EXPECT_EQ(calendar.Cell(2)->Text(), "1");
    EXPECT_EQ(calendar.Cell(31)->Text(), "30");
    EXPECT_EQ(calendar.Cell(32)->Text(), "");
}

TEST_F(CalendarTest, YearsOutsideTheListAreStillShown) {
    calendar.SetYear(2031);
    EXPECT_EQ(calendar.YearBox()->currentIndex(), 2031 - 2005);
    EXPECT_EQ(calendar.Year(), 2031);
    calendar.SetYear(2003);
    EXPECT_EQ(calendar.YearBox()->currentIndex(), -1);
    EXPECT_EQ(calendar.Year(), 2003);
    calendar.SetMonth(2);
    EXPECT_EQ(calendar.Year(), 2003);
    EXPECT_EQ(calendar.Month(), 2);
}

TEST_F(CalendarTest, PaintsCaptionBandsAndDayColours) {
    calendar.MarkDay(12);
    calendar.MarkDay(13);
    calendar.SelectDay(13);
    const QImage image = dialog.grab(calendar.geometry()).toImage();
    // Captions sit in y 32-52; the three bands are 7, 7 and the rest.
    EXPECT_EQ(Rgb(image, 28, 32 + 1), Rgb(ColorFromColorref(0xF0461E)));
    EXPECT_EQ(Rgb(image, 28, 32 + 8), Rgb(ColorFromColorref(0xDC4614)));
    EXPECT_EQ(Rgb(image, 28, 32 + 18), Rgb(ColorFromColorref(0xC8460A)));
    EXPECT_EQ(Rgb(image, 0, 0), Rgb(kEdgeShadowColour));  // etched edge

    auto has_colour = [&](int cell, QColor wanted) {
        const QRect r = calendar.Cell(cell)->geometry();
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x) {
                const QColor c(image.pixel(x, y));
                if (std::abs(c.red() - wanted.red()) < 60 && std::abs(c.green() - wanted.green()) < 60 &&
                    std::abs(c.blue() - wanted.blue()) < 60 && (c.red() > 150 || c.blue() > 150))
                    return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(has_colour(12 + 5, QColor(0, 0, 255)));   // marked: blue
    EXPECT_TRUE(has_colour(13 + 5, QColor(255, 0, 0)));   // picked: red
    EXPECT_FALSE(has_colour(14 + 5, QColor(0, 0, 255)));  // plain: black
}

}  // namespace
