#include "media/info_box_text.h"
#include "media/viewer_text.h"

#include <gtest/gtest.h>

namespace {

OsdState Noon() {
    OsdState s;
    s.year = 2024;
    s.month = 3;
    s.day = 5;
    s.hour = 12;
    s.minute = 4;
    s.second = 9;
    s.camera_name = "Gate";
    return s;
}

TEST(BuildOsdLines, HoursAndSwitches) {
    struct Case {
        const char* what;
        int hour;
        int text, date, time, channel, name;
        const char* first;
        const char* second;
    };
    const Case cases[] = {
        {"noon is am", 12, 1, 1, 1, 1, 1, "CH-3 Gate", "2024/03/05 12:04:09 am"},
        {"13 is 01 pm", 13, 1, 1, 1, 1, 1, "CH-3 Gate", "2024/03/05 01:04:09 pm"},
        {"midnight", 0, 1, 1, 1, 1, 1, "CH-3 Gate", "2024/03/05 00:04:09 am"},
        {"23", 23, 1, 1, 1, 1, 1, "CH-3 Gate", "2024/03/05 11:04:09 pm"},
        {"no date", 9, 1, 0, 1, 1, 1, "CH-3 Gate", "09:04:09 am"},
        {"no time", 9, 1, 1, 0, 1, 1, "CH-3 Gate", "2024/03/05 "},
        {"no channel", 9, 1, 1, 1, 0, 1, "Gate", "2024/03/05 09:04:09 am"},
        {"channel only", 9, 1, 1, 1, 1, 0, "CH-3 ", "2024/03/05 09:04:09 am"},
        {"first line empty", 9, 1, 1, 1, 0, 0, "", "2024/03/05 09:04:09 am"},
        {"text off", 9, 0, 1, 1, 1, 1, "", ""},
    };
    for (const Case& c : cases) {
        OsdState s = Noon();
        s.hour = c.hour;
        s.show_text = c.text;
        s.show_date = c.date;
        s.show_time = c.time;
        s.show_channel = c.channel;
        s.show_camera_name = c.name;
        const OsdLines lines = BuildOsdLines(s, 2, " am", " pm");
        EXPECT_EQ(lines.first, c.first) << c.what;
        EXPECT_EQ(lines.second, c.second) << c.what;
    }
}

TEST(SnapshotFileName, Pattern) {
    EXPECT_EQ(SnapshotFileName(1, 2024, 3, 5, 9, 5, 3), "CH01_20240305-90503.jpg");
    EXPECT_EQ(SnapshotFileName(4, 2024, 12, 31, 23, 59, 58), "CH04_20241231-235958.jpg");
}

TEST(InfoBoxText, SpeedCueAndDate) {
    EXPECT_EQ(InfoBoxSpeedText(4), "4x");
    EXPECT_EQ(InfoBoxSpeedText(1), "1x");
    EXPECT_EQ(InfoBoxSpeedText(-8), "1/8x");
    EXPECT_EQ(InfoBoxSpeedText(0), "1/0x");
    EXPECT_EQ(InfoBoxSpeedText(-2147483647 - 1), "1/2147483648x");
    EXPECT_EQ(InfoBoxCueInText(3725), "01:02:05 :  IN");
    EXPECT_EQ(InfoBoxCueOutText(86399), "23:59:59 : OUT");
    EXPECT_EQ(InfoBoxCueInText(0), "00:00:00 :  IN");
    EXPECT_EQ(InfoBoxCueOutText(-1), "");
    EXPECT_EQ(InfoBoxDateText(2024, 3, 5), " 2024/03/05");
    EXPECT_EQ(InfoBoxTodayText().size(), 11u);
}

}  // namespace
