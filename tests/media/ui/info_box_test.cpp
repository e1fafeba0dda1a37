#include "media/ui/info_box.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "media/info_box_text.h"
#include "tests/media/ui/viewer_test_support.h"

namespace {

using viewer_test::Pixel;

bool AnyWhiteIn(const QImage& image, const QRect& area) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (Pixel(image, x, y) == 0xFFFFFF) return true;
    return false;
}

class InfoBoxTest : public ::testing::Test {
protected:
    viewer_test::UiRecorder recorder;
    CInfoBox box;
};

TEST_F(InfoBoxTest, TextsFromConstructionSettersAndReset) {
    CInfoBox::Texts t = box.CurrentTexts();
    EXPECT_EQ(t.date, InfoBoxTodayText());
    EXPECT_EQ(t.clock, "00:00:00");
    EXPECT_EQ(t.state, "STOP");
    EXPECT_EQ(t.speed, "1x");
    EXPECT_EQ(t.cue_in, "");
    EXPECT_EQ(t.cue_out, "");
    EXPECT_EQ(box.property("controlId").toInt(), 1058);

    struct Case {
        int speed;
        const char* text;
    };
    for (const Case& c : {Case{4, "4x"}, Case{-8, "1/8x"}, Case{0, "1/0x"}, Case{32, "32x"}}) {
        box.SetSpeed(c.speed);
        EXPECT_EQ(box.GetSpeed(), c.speed);
        EXPECT_EQ(box.CurrentTexts().speed, c.text);
    }

    box.SetDateText(" 2024/03/05");
    box.SetTimeText("12:34:56");
    box.SetStatusText("PLAY");
    box.SetCueMarks(3725, -1);
    t = box.CurrentTexts();
    EXPECT_EQ(t.date, " 2024/03/05");
    EXPECT_EQ(t.clock, "12:34:56");
    EXPECT_EQ(t.state, "PLAY");
    EXPECT_EQ(t.cue_in, "01:02:05 :  IN");
    EXPECT_EQ(t.cue_out, "");

    box.Reset();
    t = box.CurrentTexts();
    EXPECT_EQ(t.clock, "");
    EXPECT_EQ(t.state, "STOP");
    EXPECT_EQ(box.GetSpeed(), 1);
    EXPECT_EQ(t.cue_in, "");
}

TEST_F(InfoBoxTest, PaintsWhiteOnBlackAndGrowsPastItsBitmap) {
    box.resize(300, 120);
    box.SetCueMarks(3725, 7200);
    QImage shot = box.grab().toImage();
    EXPECT_EQ(Pixel(shot, 299, 60), 0x000000u);
    EXPECT_TRUE(AnyWhiteIn(shot, QRect(85, 45, 130, 30)));  // clock
    EXPECT_TRUE(AnyWhiteIn(shot, QRect(2, 90, 118, 15)));   // IN mark

    box.resize(800, 300);
    box.SetTimeText("");
    shot = box.grab().toImage();
    ASSERT_EQ(shot.size(), QSize(800, 300));
    EXPECT_FALSE(AnyWhiteIn(shot, QRect(335, 135, 130, 30)));  // empty clock leaves the centre empty
    EXPECT_TRUE(AnyWhiteIn(shot, QRect(750, 280, 50, 20)));    // state word in the far corner
}

TEST_F(InfoBoxTest, WorkersSetWhileTheWindowPaints) {
    box.resize(300, 120);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 500; ++i) {
            box.SetTimeText(std::to_string(i));
            box.SetSpeed(i % 2 ? 4 : -4);
            box.SetCueMarks(i, i + 1);
        }
        done = true;
    });
    while (!done) {
        box.grab();
        QCoreApplication::processEvents();
    }
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(box.CurrentTexts().clock, "499");
}

}  // namespace
