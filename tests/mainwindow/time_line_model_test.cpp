#include "mainwindow/time_line_model.h"

#include <gtest/gtest.h>

namespace {

constexpr int kHour = 3600;
constexpr int kMinute = 60;

// Row centres in content coordinates.
int RowY(int channel) { return 25 + 30 * (channel - 1) + 15; }

TEST(TimeLineModelTest, ZoomLevelsGiveTheirSlotWidth) {
    const std::pair<int, int> cases[] = {{-1, 7},  {0, 7},   {3, 10},  {4, 15},   {7, 21},   {8, 31},  {11, 40},
                                         {12, 55}, {15, 67}, {16, 87}, {19, 102}, {20, 127}, {23, 145}, {24, 145}};
    for (const auto& [level, slot] : cases) {
        TimeLineModel model;
        model.SetZoom(level);
        EXPECT_EQ(model.SlotWidth(), slot) << "level " << level;
        EXPECT_EQ(model.Zoom(), std::clamp(level, 0, 23));
        EXPECT_EQ(model.ScrollWidth(), 96 * slot + 6);
    }
}

TEST(TimeLineModelTest, SecondsAndPixelsAgreeAtWholeHoursOnEveryZoom) {
    for (int level = 0; level <= 23; ++level) {
        TimeLineModel model;
        model.SetZoom(level);
        for (int hour = 0; hour < 24; ++hour) {
            const int x = model.XOfSecond(hour * kHour);
            EXPECT_EQ(x, 5 + hour * 4 * model.SlotWidth());
            EXPECT_EQ(model.SecondAtX(x), hour * kHour) << "level " << level << " hour " << hour;
        }
        EXPECT_EQ(model.XOfSecond(86400), 5 + model.DayWidth());
    }
}

TEST(TimeLineModelTest, ActiveAreaAndRows) {
    TimeLineModel model;
    EXPECT_TRUE(model.InActiveArea(5, 25));
    EXPECT_TRUE(model.InActiveArea(5 + 672, 145));
    EXPECT_FALSE(model.InActiveArea(4, 100));
    EXPECT_FALSE(model.InActiveArea(678, 100));
    EXPECT_FALSE(model.InActiveArea(100, 24));
    EXPECT_FALSE(model.InActiveArea(100, 146));
    EXPECT_EQ(TimeLineModel::RowAtY(25), 1);
    EXPECT_EQ(TimeLineModel::RowAtY(54), 1);
    EXPECT_EQ(TimeLineModel::RowAtY(55), 2);
    EXPECT_EQ(TimeLineModel::RowAtY(144), 4);
    EXPECT_EQ(TimeLineModel::RowAtY(145), 5);  // the bottom border
}

class TimeLineSelectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        model.AppendSegment({1, 9 * kHour + 10 * kMinute, 9 * kHour + 20 * kMinute, 1});  // 33000-33600
        model.AppendSegment({2, 8 * kHour, 9 * kHour + 5 * kMinute, 2});
        model.AppendSegment({2, 9 * kHour + 50 * kMinute, 11 * kHour, 1});
        model.AppendSegment({3, 14 * kHour, 15 * kHour, 3});
        model.AppendSegment({4, 20 * kHour, 21 * kHour, 2});
        // Neither takes part: an unknown type, a channel past the fourth.
        model.AppendSegment({1, 2 * kHour, 3 * kHour, 0});
        model.AppendSegment({5, 1 * kHour, 23 * kHour, 1});
    }

    void Drag(int from_second, int from_channel, int to_second, int to_channel) {
        model.PressAt(model.XOfSecond(from_second), RowY(from_channel));
        model.DragTo(model.XOfSecond(to_second), RowY(to_channel));
        ASSERT_TRUE(model.ReleaseAt(model.XOfSecond(to_second), RowY(to_channel)));
    }

    void ExpectFlags(bool one, bool two, bool three, bool four) {
        EXPECT_EQ(model.RowFlag(1), one);
        EXPECT_EQ(model.RowFlag(2), two);
        EXPECT_EQ(model.RowFlag(3), three);
        EXPECT_EQ(model.RowFlag(4), four);
    }

    TimeLineModel model;
};

TEST_F(TimeLineSelectionTest, ClickInsideARecordingSelectsOneMinuteOfThatChannel) {
    Drag(10 * kHour, 2, 10 * kHour, 2);
    EXPECT_EQ(model.SelectionStart(), 36000);
    EXPECT_EQ(model.SelectionEnd(), 36060);
    ExpectFlags(false, true, false, false);
    EXPECT_FALSE(model.Dragging());
}

TEST_F(TimeLineSelectionTest, DragSnapsToTheRecordingsOfItsRows) {
    Drag(9 * kHour, 1, 9 * kHour + 30 * kMinute, 1);
    EXPECT_EQ(model.SelectionStart(), 33000);
    EXPECT_EQ(model.SelectionEnd(), 33600);
    ExpectFlags(true, false, false, false);
}

TEST_F(TimeLineSelectionTest, DirectionOfTheDragDoesNotMatter) {
    Drag(9 * kHour + 30 * kMinute, 2, 9 * kHour, 1);
    const int start = model.SelectionStart();
    const int end = model.SelectionEnd();
    Drag(9 * kHour, 1, 9 * kHour + 30 * kMinute, 2);
    EXPECT_EQ(model.SelectionStart(), start);
    EXPECT_EQ(model.SelectionEnd(), end);
    // Channel 1's recording and the start of channel 2's bridge the range.
    EXPECT_EQ(start, 9 * kHour);
    EXPECT_EQ(end, 33600);
    ExpectFlags(true, true, false, false);
}

TEST_F(TimeLineSelectionTest, DragOverNoRecordingSelectsNothing) {
    // 02:00-03:00 on channel 1 holds only a segment of an unknown type.
    Drag(2 * kHour, 1, 3 * kHour, 1);
    EXPECT_EQ(model.SelectionStart(), 0);
    EXPECT_EQ(model.SelectionEnd(), 0);
    ExpectFlags(false, false, false, false);
    // A gap between two recordings of the row.
    Drag(16 * kHour, 3, 19 * kHour, 4);
    EXPECT_EQ(model.SelectionStart(), 0);
    EXPECT_EQ(model.SelectionEnd(), 0);
    ExpectFlags(false, false, false, false);
}

TEST_F(TimeLineSelectionTest, WholeDayWithoutRowsTakesAllFourChannels) {
    model.SetSelection(0, 86399);
    EXPECT_EQ(model.SelectionStart(), 8 * kHour);
    EXPECT_EQ(model.SelectionEnd(), 21 * kHour);
    EXPECT_EQ(model.FirstRow(), 1);
    EXPECT_EQ(model.LastRow(), 4);
    ExpectFlags(true, true, true, true);
}

TEST_F(TimeLineSelectionTest, SetSelectionKeepsChosenRowsAndAddsFlags) {
    Drag(10 * kHour, 2, 10 * kHour, 2);
    model.SetSelection(14 * kHour, 16 * kHour);  // rows 2..2 still chosen: channel 3 is not among them
    EXPECT_EQ(model.SelectionStart(), 0);
    EXPECT_EQ(model.SelectionEnd(), 0);
    ExpectFlags(false, true, false, false);
}

TEST_F(TimeLineSelectionTest, BottomBorderRowMatchesNoChannelAlone) {
    const int x = model.XOfSecond(20 * kHour + 30 * kMinute);
    model.PressAt(x, 145);
    EXPECT_EQ(model.FirstRow(), 5);
    model.ReleaseAt(x, 145);
    EXPECT_EQ(model.SelectionEnd(), 0);
    ExpectFlags(false, false, false, false);

    // From row 4 down to the border, channel 4 is within the range.
    model.PressAt(x, RowY(4));
    model.ReleaseAt(x, 145);
    EXPECT_EQ(model.SelectionStart(), 20 * kHour + 30 * kMinute);
    ExpectFlags(false, false, false, true);
}

TEST_F(TimeLineSelectionTest, ReleaseOutsideKeepsTheLastPointInside) {
    model.PressAt(model.XOfSecond(9 * kHour), RowY(1));
    model.DragTo(model.XOfSecond(9 * kHour + 30 * kMinute), RowY(1));
    EXPECT_FALSE(model.DragTo(2000, 400));
    model.ReleaseAt(2000, 400);
    EXPECT_EQ(model.SelectionStart(), 33000);
    EXPECT_EQ(model.SelectionEnd(), 33600);
}

TEST_F(TimeLineSelectionTest, PressOutsideStartsNoDrag) {
    model.PressAt(2, RowY(1));
    EXPECT_FALSE(model.Dragging());
    EXPECT_FALSE(model.ReleaseAt(100, RowY(1)));
}

TEST_F(TimeLineSelectionTest, ClearSegmentsResetsTheSelectionButNotTheFlags) {
    Drag(9 * kHour, 1, 9 * kHour + 30 * kMinute, 1);
    model.ClearSegments();
    EXPECT_TRUE(model.Segments().empty());
    EXPECT_EQ(model.SelectionStart(), 0);
    EXPECT_EQ(model.SelectionEnd(), 0);
    EXPECT_EQ(model.FirstRow(), 0);
    EXPECT_EQ(model.LastRow(), 0);
    EXPECT_TRUE(model.RowFlag(1));
}

TEST(TimeLineModelTest, MinuteClickNeverPassesTheDay) {
    TimeLineModel model;
    model.AppendSegment({1, 86000, 86399, 1});
    model.SetSelection(86390, 86390);
    EXPECT_EQ(model.SelectionStart(), 86390);
    EXPECT_EQ(model.SelectionEnd(), 86399);
}

}  // namespace
