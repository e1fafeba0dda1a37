#include <QScrollBar>

#include <gtest/gtest.h>

#include "mainwindow/ui/time_line_bar.h"
#include "media/ui/gdi_paint.h"
#include "tests/mainwindow/ui/control_test_support.h"

namespace {

using control_test::Rgb;
using control_test::SendMouse;

class TimeLineBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialog.resize(900, 500);
        bar.Create(&dialog, QRect(140, 250, 685, 170));
        bar.SetMessageSink(recorder.Sink());
        bar.AppendSegment({1, 33000, 33600, 1});
        bar.AppendSegment({2, 35000, 40000, 1});
        bar.AppendSegment({3, 50000, 60000, 3});
        bar.AppendSegment({4, 1000, 2000, 2});
    }
    QWidget* View() { return bar.viewport(); }

    control_test::ApplicationGuard application;
    QWidget dialog;
    CTimeLineBar bar;
    control_test::MessageRecorder recorder;
};

TEST_F(TimeLineBarTest, ClickOnARecordingSelectsAMinuteAndPostsPositionChanged) {
    // Zoom 0: 10:00:00 lies at x 285; channel 2's row spans y 55-84.
    control_test::Click(View(), QPoint(285, 70));
    EXPECT_TRUE(recorder.messages.empty());
    control_test::DeliverPosted();
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].message, 0x465u);
    EXPECT_EQ(bar.SelectionStart(), 36000);
    EXPECT_EQ(bar.SelectionEnd(), 36060);
    EXPECT_TRUE(bar.RowFlag(2));
    EXPECT_FALSE(bar.RowFlag(1));
}

TEST_F(TimeLineBarTest, DragFollowsTheScrollPosition) {
    bar.SetZoom(4);  // 15 pixels a slot: 60 seconds a pixel
    bar.resize(685, 170);
    QScrollBar* scroll = bar.horizontalScrollBar();
    ASSERT_GT(scroll->maximum(), 300);
    scroll->setValue(300);
    // Content x 605 is 10:00:00; seen at 305 in the view.
    SendMouse(View(), QEvent::MouseButtonPress, QPoint(305, 40));
    SendMouse(View(), QEvent::MouseMove, QPoint(315, 100));
    EXPECT_EQ(View()->cursor().shape(), Qt::PointingHandCursor);
    SendMouse(View(), QEvent::MouseMove, QPoint(315, 400));
    EXPECT_EQ(View()->cursor().shape(), Qt::ForbiddenCursor);
    SendMouse(View(), QEvent::MouseButtonRelease, QPoint(315, 100));
    control_test::DeliverPosted();
    EXPECT_EQ(recorder.messages.size(), 1u);
    // Channels 1-3 from 10:00:00 to 10:10:00: only channel 2 records then.
    EXPECT_EQ(bar.SelectionStart(), 36000);
    EXPECT_EQ(bar.SelectionEnd(), 36600);
    EXPECT_FALSE(bar.RowFlag(1));
    EXPECT_TRUE(bar.RowFlag(2));
    EXPECT_FALSE(bar.RowFlag(3));
}

TEST_F(TimeLineBarTest, SetSelectionSnapsOverAllRowsAndPosts) {
    bar.SetSelection(0, 86399);
    control_test::DeliverPosted();
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].message, WM_POSITION_CHANGED);
    EXPECT_EQ(bar.SelectionStart(), 1000);
    EXPECT_EQ(bar.SelectionEnd(), 60000);
    for (int channel = 1; channel <= 4; ++channel) EXPECT_TRUE(bar.RowFlag(channel));
}

TEST_F(TimeLineBarTest, DrawsHeaderHoursSelectionAndBars) {
    bar.SetSelection(36000, 39000);  // x 285 to 308, channel 2 only
    const QImage image = bar.RenderContent();
    ASSERT_EQ(image.size(), QSize(96 * 7 + 6, 146));
    EXPECT_EQ(Rgb(image, 27, 20), Rgb(ColorFromColorref(CTimeLineBar::kHeaderColour)));
    EXPECT_EQ(Rgb(image, 5, 3), Rgb(ColorFromColorref(CTimeLineBar::kGridColour)));  // hour tick
    // Row 3: the first slot of 01:00 is grey, the next one white.
    EXPECT_EQ(Rgb(image, 5 + 28 + 3, 90), Rgb(ColorFromColorref(CTimeLineBar::kHourColour)));
    EXPECT_EQ(Rgb(image, 5 + 35 + 3, 90), 0xFFFFFFu);
    // The selection on row 2, above channel 2's bar, from x(start) to x(end).
    const uint32_t selected = Rgb(ColorFromColorref(CTimeLineBar::kSelectionColour));
    EXPECT_EQ(Rgb(image, 295, 60), selected);
    EXPECT_EQ(Rgb(image, 308, 60), selected);
    EXPECT_NE(Rgb(image, 309, 60), selected);
    EXPECT_EQ(Rgb(image, 295, 30), 0xFFFFFFu);  // row 1 not selected
    // Bars: 6 pixels from 12 below the row top, in the colour of their type.
    EXPECT_EQ(Rgb(image, 300, 55 + 12), Rgb(ColorFromColorref(0x0000DD)));
    EXPECT_EQ(Rgb(image, 300, 55 + 17), Rgb(ColorFromColorref(0x0000DD)));
    EXPECT_NE(Rgb(image, 300, 55 + 18), Rgb(ColorFromColorref(0x0000DD)));
    EXPECT_EQ(Rgb(image, bar.Model().XOfSecond(55000), 85 + 14), Rgb(ColorFromColorref(0x00DD00)));
    EXPECT_EQ(Rgb(image, bar.Model().XOfSecond(1500), 115 + 14), Rgb(ColorFromColorref(0xDD0000)));
}

TEST_F(TimeLineBarTest, PointerPastTheEdgeScrollsOneStepPerMove) {
    bar.SetZoom(4);
    QScrollBar* scroll = bar.horizontalScrollBar();
    SendMouse(View(), QEvent::MouseButtonPress, QPoint(100, 40));
    SendMouse(View(), QEvent::MouseMove, QPoint(View()->width() + 10, 40));
    control_test::Pump(350);
    EXPECT_EQ(scroll->value(), 4 * 5);
    SendMouse(View(), QEvent::MouseMove, QPoint(-10, 40));
    control_test::Pump(250);
    EXPECT_EQ(scroll->value(), 0);
    // Nothing to step below zero.
    SendMouse(View(), QEvent::MouseMove, QPoint(-10, 40));
    control_test::Pump(250);
    EXPECT_EQ(scroll->value(), 0);
    SendMouse(View(), QEvent::MouseButtonRelease, QPoint(100, 40));

    bar.SetZoom(0);  // the step is zoom x 5
    scroll->setValue(0);
    SendMouse(View(), QEvent::MouseMove, QPoint(View()->width() + 10, 40));
    control_test::Pump(250);
    EXPECT_EQ(scroll->value(), 0);
}

TEST_F(TimeLineBarTest, ZoomIsClampedAndSetsTheScrollWidth) {
    bar.SetZoom(24);
    EXPECT_EQ(bar.Model().Zoom(), 23);
    EXPECT_EQ(bar.horizontalScrollBar()->maximum(), 96 * 145 + 6 - bar.viewport()->width());
    EXPECT_EQ(bar.RenderContent().width(), 13926);
    bar.SetZoom(-1);
    EXPECT_EQ(bar.Model().Zoom(), 0);
}

}  // namespace
