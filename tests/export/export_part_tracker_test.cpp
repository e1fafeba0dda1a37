#include "export/export_part_tracker.h"

#include <gtest/gtest.h>

namespace {

struct Flags {
    int time_jump, span_end;
};

Flags After(ExportPartTracker& t, int64_t stamp) {
    t.CheckTime(static_cast<int32_t>(static_cast<uint32_t>(stamp)), static_cast<int32_t>(stamp >> 32));
    return {t.time_jump, t.span_end};
}

TEST(ExportPartTracker, ResetGivesTheStartingValues) {
    ExportPartTracker t;
    t.CheckTime(5000, 1);
    t.CheckAudioFormat(2, 8, 8000, 1);
    t.CheckVideoFormat(7, 704, 480);
    t.time_jump = t.video_change = t.audio_change = t.span_end = 1;
    t.Reset();
    EXPECT_EQ(t.current_stamp, 0);
    EXPECT_EQ(t.start_stamp, 0);
    EXPECT_EQ(t.part_span, 120000);
    EXPECT_EQ(t.jump_threshold, 2000);
    EXPECT_FALSE(t.AnyFlag());
    for (int32_t v : {t.video_codec, t.video_width, t.video_height, t.audio_codec, t.audio_bits, t.audio_rate,
                      t.audio_channels})
        EXPECT_EQ(v, -1);
    EXPECT_EQ(t.first_call, 1);
}

TEST(ExportPartTracker, TwoMinutesOfSteadyStampsEndTheSpan) {
    ExportPartTracker t;
    t.Reset();
    for (int64_t s = 0; s < 120000; s += 40) {
        const Flags f = After(t, s);
        ASSERT_EQ(f.time_jump, 0) << s;
        ASSERT_EQ(f.span_end, 0) << s;
    }
    const Flags f = After(t, 120000);
    EXPECT_EQ(f.time_jump, 0);
    EXPECT_EQ(f.span_end, 1);
    EXPECT_EQ(t.current_stamp, 120000);
    EXPECT_EQ(t.start_stamp, 0);
}

TEST(ExportPartTracker, JumpsForwardOverTheThresholdOrBackwards) {
    struct Case {
        int64_t first, second;
        int jump;
    };
    const int64_t epoch = 1700000000000;  // local stamps are wall-clock milliseconds
    const Case cases[] = {
        {0, 2000, 0},
        {0, 2001, 1},
        {5000, 4999, 1},
        {5000, 5000, 0},
        {epoch, epoch + 2000, 0},
        {epoch, epoch + 2001, 1},
        {epoch, epoch - 1, 1},
        // The low word wraps between the two stamps; the difference is still 40 ms.
        {0xFFFFFFF0ll, 0x100000018ll, 0},
        {0xFFFFFFF0ll, 0x100000800ll, 1},
    };
    for (const Case& c : cases) {
        ExportPartTracker t;
        t.Reset();
        const Flags first = After(t, c.first);
        EXPECT_EQ(first.time_jump, 0) << c.first;  // the first stamp becomes start and current
        EXPECT_EQ(first.span_end, 0) << c.first;
        EXPECT_EQ(After(t, c.second).time_jump, c.jump) << c.first << " -> " << c.second;
        EXPECT_EQ(t.current_stamp, c.jump ? c.first : c.second);
        EXPECT_EQ(t.start_stamp, c.first);
    }
}

TEST(ExportPartTracker, AfterAJumpStampsAreJudgedAgainstTheLastGoodOne) {
    ExportPartTracker t;
    t.Reset();
    After(t, 1000);
    After(t, 9000);
    EXPECT_EQ(t.time_jump, 1);
    EXPECT_EQ(t.current_stamp, 1000);
    // The owner starts the next part with the same record.
    t.Reset();
    const Flags f = After(t, 9000);
    EXPECT_EQ(f.time_jump, 0);
    EXPECT_EQ(t.start_stamp, 9000);
    EXPECT_EQ(After(t, 9040).time_jump, 0);
}

TEST(ExportPartTracker, AnyAudioFormatChangeStartsAPart) {
    struct Case {
        int32_t codec, bits, rate, channels;
        int change;
    };
    // From (2, 8 bits, 8000 Hz, 1 channel).
    const Case cases[] = {
        {2, 8, 8000, 1, 0},  {3, 8, 8000, 1, 0},  {5, 8, 8000, 1, 1},    {2, 16, 8000, 1, 1},
        {2, 8, 16000, 1, 1}, {2, 8, 8000, 2, 1},  {5, 16, 16000, 2, 1},
    };
    for (const Case& c : cases) {
        ExportPartTracker t;
        t.Reset();
        t.CheckAudioFormat(2, 8, 8000, 1);
        EXPECT_EQ(t.audio_change, 0);
        t.CheckAudioFormat(c.codec, c.bits, c.rate, c.channels);
        EXPECT_EQ(t.audio_change, c.change) << c.codec << " " << c.bits << " " << c.rate << " " << c.channels;
        EXPECT_EQ(t.audio_rate, c.rate);  // stored also when the flag is raised
        EXPECT_EQ(t.audio_channels, c.channels);
    }
}

TEST(ExportPartTracker, AnyVideoParameterChangeCounts) {
    struct Case {
        int32_t codec, width, height;
        int change;
    };
    const Case cases[] = {{7, 704, 480, 0}, {7, 352, 480, 1}, {7, 704, 240, 1}, {9, 704, 480, 1}};
    for (const Case& c : cases) {
        ExportPartTracker t;
        t.Reset();
        t.CheckVideoFormat(7, 704, 480);
        EXPECT_EQ(t.video_change, 0);
        t.CheckVideoFormat(c.codec, c.width, c.height);
        EXPECT_EQ(t.video_change, c.change) << c.codec << " " << c.width << "x" << c.height;
        EXPECT_EQ(t.video_width, c.width);
    }
    // Flags stay until Reset, whatever follows.
    ExportPartTracker t;
    t.Reset();
    t.CheckVideoFormat(7, 704, 480);
    t.CheckVideoFormat(7, 352, 240);
    t.CheckVideoFormat(7, 352, 240);
    EXPECT_EQ(t.video_change, 1);
    EXPECT_TRUE(t.AnyFlag());
}

}  // namespace
