#include "media/status_reply.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(StatusReplyTest, RepliesAndWhatTheyGive) {
    struct Case {
        std::string reply;
        bool ok;
        RemoteStatus expected;
    } cases[] = {
        {"time=2012,3,5,14,7,9\nplayop=1\nspeed=104\n", true, {{2012, 3, 5, 14, 7, 9}, 1, 104}},
        // Any separators between the keys, in this order.
        {"time=2013,12,31,23,59,59;playop=2;speed=532", true, {{2013, 12, 31, 23, 59, 59}, 2, 532}},
        {"time=2012,3,5,0,0,0\r\nplayop= 0\r\nspeed=-1\r\n", true, {{2012, 3, 5, 0, 0, 0}, 0, -1}},
        // Fewer than six numbers: the rest are 0.
        {"time=2012,3\nplayop=1\nspeed=1\n", true, {{2012, 3, 0, 0, 0, 0}, 1, 1}},
        // Numbers are read saturated.
        {"time=99999999999,3,5,1,2,3\nplayop=99999999999\nspeed=-99999999999\n", true,
         {{INT_MAX, 3, 5, 1, 2, 3}, INT_MAX, INT_MIN}},
        // A key missing.
        {"time=2012,3,5,14,7,9\nplayop=1\n", false, {}},
        {"time=2012,3,5,14,7,9\nspeed=1\n", false, {}},
        {"playop=1\nspeed=1\n", false, {}},
        {"", false, {}},
        {"error=no session\n", false, {}},
        // A time of no day: it would overflow, or give seconds outside the day.
        {"time=2012,3,5,596524,7,9\nplayop=1\nspeed=1\n", false, {}},
        {"time=2012,3,5,24,0,0\nplayop=1\nspeed=1\n", false, {}},
        {"time=2012,3,5,-1,0,0\nplayop=1\nspeed=1\n", false, {}},
        {"time=2012,3,5,1,60,0\nplayop=1\nspeed=1\n", false, {}},
        {"time=2012,3,5,1,0,99999999999\nplayop=1\nspeed=1\n", false, {}},
    };
    for (const Case& c : cases) {
        RemoteStatus got;
        got.playop = 77;
        EXPECT_EQ(ParseStatusReply(c.reply, &got), c.ok) << c.reply;
        if (c.ok) {
            EXPECT_EQ(got.time, c.expected.time) << c.reply;
            EXPECT_EQ(got.playop, c.expected.playop) << c.reply;
            EXPECT_EQ(got.speed_code, c.expected.speed_code) << c.reply;
        } else {
            EXPECT_EQ(got.playop, 77) << "a refused reply changed the status: " << c.reply;
        }
    }
}

}  // namespace
