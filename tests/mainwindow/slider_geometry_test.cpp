#include "mainwindow/slider_geometry.h"

#include <gtest/gtest.h>

namespace {

// A horizontal slider 119 pixels wide has a channel 106 pixels wide, from 8 to 114.
constexpr int kWidth = 119;

TEST(SliderGeometryTest, ChannelOfTheClickTableSize) {
    const SliderRect channel = SliderGeometry(kWidth, 24, false).ChannelRect();
    EXPECT_EQ(channel.left, 8);
    EXPECT_EQ(channel.right - channel.left, 106);
}

struct ClickCase {
    int x;
    int minimum;
    int maximum;
    int expected;
};

TEST(SliderGeometryTest, ClickPositions) {
    const ClickCase cases[] = {
        {114 - 6, 0, 100, 100},  // six pixels from the right end reaches the maximum
        {8, 0, 100, 0},
        {58, 0, 100, 50},
        {0, 0, 100, 0},         // left of the channel
        {118, 0, 100, 100},     // in the reserve at the right end
        {58, 10, 20, 15},       // the range's minimum is the origin
        {58, 0, 23, 11},
        {60, 0, 0, 0},          // empty range
    };
    const SliderGeometry geometry(kWidth, 24, false);
    for (const ClickCase& c : cases) {
        SCOPED_TRACE("x " + std::to_string(c.x) + " range " + std::to_string(c.minimum) + "-" + std::to_string(c.maximum));
        EXPECT_EQ(geometry.PositionAt(c.x, 12, c.minimum, c.maximum), c.expected);
    }
}

TEST(SliderGeometryTest, TooShortAChannelGivesTheMinimum) {
    for (int width : {0, 5, 12, 19}) {
        EXPECT_EQ(SliderGeometry(width, 24, false).PositionAt(width, 12, 3, 100), 3) << width;
    }
}

TEST(SliderGeometryTest, VerticalSliderFollowsY) {
    const SliderGeometry geometry(24, kWidth, true);
    EXPECT_EQ(geometry.PositionAt(12, 108, 0, 100), 100);
    EXPECT_EQ(geometry.PositionAt(500, 58, 0, 100), 50);
}

TEST(SliderGeometryTest, ThumbCentresOnTheClickedPosition) {
    const SliderGeometry geometry(kWidth, 24, false);
    for (int x : {8, 30, 58, 108}) {
        const int position = geometry.PositionAt(x, 12, 0, 100);
        const SliderRect thumb = geometry.ThumbRect(0, 100, position);
        EXPECT_EQ((thumb.left + thumb.right - 1) / 2, x) << x;
    }
}

}  // namespace
