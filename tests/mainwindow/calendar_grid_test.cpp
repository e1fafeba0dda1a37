#include "mainwindow/calendar_grid.h"

#include <gtest/gtest.h>

namespace {

struct MonthCase {
    int year;
    int month;
    int first_weekday;
    int days;
};

TEST(CalendarGridTest, MonthsStartOnTheirWeekdayWithTheirLength) {
    const MonthCase cases[] = {
        {2008, 3, 7, 31},   // the 1st is a Saturday
        {2009, 2, 1, 28},   // a Sunday
        {2008, 2, 6, 29},   // leap year
        {2010, 2, 2, 28},
        {2000, 2, 3, 29},   // divisible by 400
        {1900, 2, 5, 28},   // divisible by 100 only
        {2024, 9, 1, 30},
        {2019, 12, 1, 31},
    };
    for (const MonthCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.month));
        EXPECT_EQ(CalendarGrid::FirstWeekdayNumber(c.year, c.month), c.first_weekday);
        EXPECT_EQ(CalendarGrid::DaysInMonth(c.year, c.month), c.days);
    }
}

TEST(CalendarGridTest, SaturdayFirstFillsCellsSixToThirtySix) {
    CalendarGrid grid;
    grid.FillMonth(2008, 3);
    for (int cell = 0; cell < CalendarGrid::kCellCount; ++cell) {
        const int expected = (cell >= 6 && cell <= 36) ? cell - 5 : 0;
        EXPECT_EQ(grid.DayInCell(cell), expected) << "cell " << cell;
        EXPECT_EQ(grid.StateOf(cell), CalendarGrid::kStatePlain);
    }
    EXPECT_EQ(grid.CellOfDay(1), 6);
    EXPECT_EQ(grid.CellOfDay(31), 36);
    EXPECT_EQ(grid.CellOfDay(32), -1);
    EXPECT_EQ(grid.CellOfDay(0), -1);
}

TEST(CalendarGridTest, PickingMovesBetweenMarkedDaysOnly) {
    CalendarGrid grid;
    grid.FillMonth(2010, 2);
    ASSERT_TRUE(grid.MarkDay(3));
    ASSERT_TRUE(grid.MarkDay(17));
    // Days that do not exist in the month mark nothing.
    EXPECT_FALSE(grid.MarkDay(29));
    EXPECT_FALSE(grid.MarkDay(40));
    EXPECT_FALSE(grid.MarkDay(-1));

    EXPECT_FALSE(grid.SelectDay(4));  // no recordings
    EXPECT_EQ(grid.GetSelectedDay(), 0);
    EXPECT_TRUE(grid.SelectDay(17));
    EXPECT_EQ(grid.GetSelectedDay(), 17);
    EXPECT_EQ(grid.StateOf(grid.CellOfDay(17)), CalendarGrid::kStatePicked);

    EXPECT_TRUE(grid.SelectDay(3));
    EXPECT_EQ(grid.GetSelectedDay(), 3);
    EXPECT_EQ(grid.StateOf(grid.CellOfDay(17)), CalendarGrid::kStateMarked);

    // A refused pick still gives up the previous one, which stays marked.
    EXPECT_FALSE(grid.SelectDay(5));
    EXPECT_EQ(grid.GetSelectedDay(), 0);
    EXPECT_EQ(grid.StateOf(grid.CellOfDay(3)), CalendarGrid::kStateMarked);
}

TEST(CalendarGridTest, RefillAndClearRemoveMarksAndPick) {
    CalendarGrid grid;
    grid.FillMonth(2008, 3);
    grid.MarkDay(10);
    grid.SelectDay(10);
    grid.FillMonth(2008, 4);
    EXPECT_EQ(grid.GetSelectedDay(), 0);
    EXPECT_FALSE(grid.SelectDay(10));

    grid.MarkDay(10);
    grid.ClearMarks();
    for (int cell = 0; cell < CalendarGrid::kCellCount; ++cell) EXPECT_EQ(grid.StateOf(cell), CalendarGrid::kStatePlain);
}

}  // namespace
