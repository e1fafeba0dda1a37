#include "media/disk_format.h"

#include <gtest/gtest.h>

#include "media/minute_file.h"
#include "tests/support/temp_folder.h"
#include "tools/common/avdata_writer.h"

namespace {

using sample::SampleChannelSecond;
using sample::SampleFrame;
using sample::SampleMinute;

DayIndexEntry Entry(const char* text16) {
    DayIndexEntry e;
    for (int i = 0; i < 16 && text16[i]; ++i) e.bytes[i] = static_cast<uint8_t>(text16[i]);
    return e;
}

TEST(DayIndexEntry, ReadsTimesMaskAndType) {
    struct Case {
        const char* bytes;
        int start, end, mask, type;
    } cases[] = {
        {"000000235959f1  ", 0, 86399, 15, 1},
        {"0705301230009200", 7 * 3600 + 5 * 60 + 30, 12 * 3600 + 30 * 60, 9, 2},
        {"000001000002a3  ", 1, 2, 10, 3},
        {"000001000002A2  ", 1, 2, 0, 2},   // upper-case digits are not read
        {"000001000002g0  ", 1, 2, 0, 1},
        {"0000010000020   ", 1, 2, 0, 1},
        {"0000010000021x  ", 1, 2, 1, 1},
        {"000001000002e   ", 1, 2, 14, 1},  // blank type
    };
    for (const Case& c : cases) {
        const DayIndexEntry e = Entry(c.bytes);
        EXPECT_EQ(e.StartSecond(), c.start) << c.bytes;
        EXPECT_EQ(e.EndSecond(), c.end) << c.bytes;
        EXPECT_EQ(e.ChannelMask(), c.mask) << c.bytes;
        EXPECT_EQ(e.RecordType(), c.type) << c.bytes;
    }
}

TEST(ChannelSecondBlock, TitlesInBothDecodings) {
    ChannelSecondBlock block;
    // Channel 0: high half "CAM", low half "xyz"; channel 1: sixteen characters, no terminator.
    const char16_t high[] = u"CAM";
    const char16_t low[] = u"xyz";
    for (int i = 0; i < 3; ++i) {
        uint8_t* w = &block.bytes[20 + 4 * i];
        w[0] = static_cast<uint8_t>(low[i]);
        w[1] = 0;
        w[2] = 0;
        w[3] = static_cast<uint8_t>(high[i]);
    }
    for (int i = 0; i < 16; ++i) {
        uint8_t* w = &block.bytes[20 + 64 + 4 * i];
        w[2] = 0x4E;  // U+4E00.. CJK
        w[3] = static_cast<uint8_t>(i);
    }
    EXPECT_EQ(block.Title(0), u"CAM");
    EXPECT_EQ(block.TitleLow(0), u"xyz");
    EXPECT_EQ(block.Title(1).size(), 16u);
    EXPECT_EQ(block.Title(1)[15], char16_t(0x4E0F));
    EXPECT_EQ(Utf16ToUtf8(block.Title(1).substr(0, 1)), "\xE4\xB8\x80");
    EXPECT_TRUE(block.Title(2).empty());
}

TEST(ChannelSecondBlock, UsedCountHeldToSlots) {
    ChannelSecondBlock block;
    for (auto [raw, used] : {std::pair{0, 0}, {7, 7}, {60, 60}, {61, 60}, {1 << 30, 60}, {-1, 0}, {INT32_MIN, 0}}) {
        diskformat::WriteI32(&block.bytes[12], raw);
        EXPECT_EQ(block.UsedCount(), used) << raw;
    }
}

TEST(DiskFormat, PathsAndCodecNumbers) {
    EXPECT_EQ(DayIndexPath("/d/avdata", 2012, 3, 5), "/d/avdata/2012/03/05/RecordList.db");
    EXPECT_EQ(MinuteFilePath("/d/avdata", 2012, 3, 5, 14, 7), "/d/avdata/2012/03/05/14/REC07.db");
    EXPECT_EQ(VideoCodecFromDisk(7), 0);
    EXPECT_EQ(VideoCodecFromDisk(8), 1);
    EXPECT_EQ(VideoCodecFromDisk(9), 2);
    EXPECT_EQ(VideoCodecFromDisk(6), -1);
    const int kinds[] = {-1, 5, 3, 4, 6, 7, -1};
    for (int b = 0; b <= 6; ++b) EXPECT_EQ(AudioKindFromDisk(static_cast<uint8_t>(b)), kinds[b]) << b;
}

SampleFrame Video(uint8_t fill, int length, uint8_t key = 1) {
    SampleFrame f;
    f.kind = 0;
    f.codec = diskformat::kCodecH264;
    f.key = key;
    f.time_stamp_ms = 0x100000000LL + fill;
    f.width = 704;
    f.height = 576;
    f.data.assign(static_cast<size_t>(length), fill);
    return f;
}

class MinuteFileTest : public ::testing::Test {
protected:
    MinuteFile Write(const SampleMinute& minute) {
        std::string error;
        EXPECT_TRUE(sample::WriteMinuteFile(folder_.path(), 2012, 3, 5, 14, 7, minute, &error)) << error;
        MinuteFile file;
        opened_ = file.Open(folder_.path(), 2012, 3, 5, 14, 7);
        return file;
    }
    std::vector<MinuteFrame> Frames(const MinuteFile& file, int s, int c) {
        ChannelSecondBlock block;
        int64_t pos = 0;
        if (!file.ReadBlock(s, c, &block, &pos)) return {};
        return file.ReadFrames(block, pos);
    }
    TempFolder folder_;
    bool opened_ = false;
};

TEST_F(MinuteFileTest, ReadsWhatTheWriterWrote) {
    SampleMinute minute;
    minute.titles[1] = u"Gate";
    SampleChannelSecond ch;
    ch.frames = {Video(1, 100), Video(2, 50, 0)};
    SampleFrame audio;
    audio.kind = 1;
    audio.codec = diskformat::kAudioG711B;
    audio.bits = 8;
    audio.sample_rate = 8000;
    audio.channels = 1;
    audio.data.assign(320, 0x7F);
    ch.frames.push_back(audio);
    minute.seconds[3].channels[1] = ch;
    minute.seconds[59].channels[0] = ch;
    MinuteFile file = Write(minute);
    ASSERT_TRUE(opened_);

    EXPECT_FALSE(file.Second(0).HasData());
    EXPECT_TRUE(file.Second(3).ChannelPresent(1));
    EXPECT_FALSE(file.Second(3).ChannelPresent(0));
    const auto frames = Frames(file, 3, 1);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].data, std::vector<uint8_t>(100, 1));
    EXPECT_EQ(frames[0].entry.time_stamp, 1);
    EXPECT_EQ(frames[0].entry.time_stamp_full, 0x100000001LL);
    EXPECT_EQ(frames[1].entry.key, 0);
    EXPECT_EQ(frames[2].entry.kind, 1);
    EXPECT_EQ(frames[2].entry.sample_rate, 8000);
    EXPECT_EQ(frames[2].data.size(), 320u);
    EXPECT_EQ(Frames(file, 59, 0).size(), 3u);

    ChannelSecondBlock block;
    int64_t pos = 0;
    ASSERT_TRUE(file.ReadBlock(3, 1, &block, &pos));
    EXPECT_EQ(block.Title(1), u"Gate");
    EXPECT_EQ(block.TitleLow(1), u"Gate");
}

TEST_F(MinuteFileTest, SecondAndChannelFlags) {
    SampleMinute minute;
    SampleChannelSecond ch;
    ch.frames = {Video(1, 10)};
    for (int s = 0; s < 4; ++s) minute.seconds[s].channels[0] = ch;
    minute.seconds[0].flag = 0;
    minute.seconds[1].flag = 2;
    minute.seconds[2].flag = -1;
    minute.seconds[3].channels[0]->channel_flag = 0x7fff;  // any non-zero value is present
    minute.seconds[3].channels[2] = ch;
    minute.seconds[3].channels[2]->channel_flag = 0;
    MinuteFile file = Write(minute);
    ASSERT_TRUE(opened_);
    for (int s = 0; s < 3; ++s) EXPECT_FALSE(file.Second(s).ChannelPresent(0)) << s;
    EXPECT_TRUE(file.Second(3).ChannelPresent(0));
    EXPECT_FALSE(file.Second(3).ChannelPresent(2));
}

TEST_F(MinuteFileTest, DamagedEntriesAreSkipped) {
    struct Case {
        const char* name;
        std::function<void(SampleFrame&)> damage;
    } cases[] = {
        {"length 0", [](SampleFrame& f) { f.length_override = 0; }},
        {"negative length", [](SampleFrame& f) { f.length_override = -5; }},
        {"length above 2 MiB", [](SampleFrame& f) { f.length_override = diskformat::kMaxFrameLength + 1; }},
        {"length past end", [](SampleFrame& f) { f.length_override = 1 << 20; }},
        {"offset past end", [](SampleFrame& f) { f.offset_override = 1 << 30; }},
        {"negative offset", [](SampleFrame& f) { f.offset_override = -(1 << 30); }},
        {"offset overflow", [](SampleFrame& f) { f.offset_override = INT32_MAX; }},
        {"kind 2", [](SampleFrame& f) { f.kind = 2; }},
    };
    for (const Case& c : cases) {
        SampleMinute minute;
        SampleChannelSecond ch;
        ch.frames = {Video(1, 10), Video(2, 10), Video(3, 10)};
        c.damage(ch.frames[1]);
        minute.seconds[0].channels[0] = ch;
        MinuteFile file = Write(minute);
        ASSERT_TRUE(opened_);
        const auto frames = Frames(file, 0, 0);
        ASSERT_EQ(frames.size(), 2u) << c.name;
        EXPECT_EQ(frames[0].data[0], 1) << c.name;
        EXPECT_EQ(frames[1].data[0], 3) << c.name;
    }
}

TEST_F(MinuteFileTest, UsedCountLimitsEntries) {
    struct Case {
        int32_t used;
        size_t frames;
    } cases[] = {{0, 0}, {1, 1}, {-3, 0}, {1000, 3}};  // entries past the real ones are empty slots
    for (const Case& c : cases) {
        SampleMinute minute;
        SampleChannelSecond ch;
        ch.frames = {Video(1, 10), Video(2, 10), Video(3, 10)};
        ch.used_count_override = c.used;
        minute.seconds[0].channels[0] = ch;
        MinuteFile file = Write(minute);
        ASSERT_TRUE(opened_);
        EXPECT_EQ(Frames(file, 0, 0).size(), c.frames) << c.used;
    }
}

TEST_F(MinuteFileTest, TruncatedFiles) {
    SampleMinute minute;
    SampleChannelSecond ch;
    ch.frames = {Video(1, 10)};
    minute.seconds[0].channels[0] = ch;
    minute.seconds[1].channels[0] = ch;

    minute.truncate_at = diskformat::kMinuteIndexSize - 1;  // short index: the whole minute is a gap
    Write(minute);
    EXPECT_FALSE(opened_);

    // Cut through second 1's block: second 0 still reads, second 1's channel is dropped.
    const size_t second1_block = diskformat::kMinuteIndexSize + diskformat::kBlockSize + 10;
    minute.truncate_at = second1_block + 100;
    MinuteFile file = Write(minute);
    ASSERT_TRUE(opened_);
    EXPECT_EQ(Frames(file, 0, 0).size(), 1u);
    ChannelSecondBlock block;
    block.bytes.fill(0xAA);
    int64_t pos = 0;
    EXPECT_FALSE(file.ReadBlock(1, 0, &block, &pos));
    EXPECT_EQ(block.UsedCount(), 0);  // never the previous second's contents

    minute.truncate_at.reset();
    minute.seconds[2].channels[0] = ch;
    minute.seconds[2].channels[0]->block_offset_override = -100000;
    file = Write(minute);
    ASSERT_TRUE(opened_);
    EXPECT_FALSE(file.ReadBlock(2, 0, &block, &pos));
}

// One read for the data of several entries gives the bytes each entry read
// gives, and nothing that lies outside the file.
TEST_F(MinuteFileTest, SpanReadsMatchEntryReadsAndStayInsideTheFile) {
    SampleMinute minute;
    SampleChannelSecond ch;
    ch.frames = {Video(1, 100), Video(2, 51, 0), Video(3, 7, 0)};
    minute.seconds[4].channels[2] = ch;
    MinuteFile file = Write(minute);
    ASSERT_TRUE(opened_);
    ChannelSecondBlock block;
    int64_t pos = 0;
    ASSERT_TRUE(file.ReadBlock(4, 2, &block, &pos));
    const MinuteFrameEntry first = block.Entry(0);
    const MinuteFrameEntry last = block.Entry(2);
    const int64_t start = pos + first.data_offset;
    const int64_t end = pos + last.data_offset + last.length;
    std::vector<uint8_t> span;
    ASSERT_TRUE(file.ReadSpan(start, end - start, &span));
    for (int i = 0; i < 3; ++i) {
        const MinuteFrameEntry e = block.Entry(i);
        std::vector<uint8_t> alone;
        ASSERT_TRUE(file.ReadFrameData(e, pos, &alone));
        const auto at = span.begin() + (pos + e.data_offset - start);
        EXPECT_EQ(std::vector<uint8_t>(at, at + e.length), alone) << i;
    }
    // Shorter than before: the buffer is cut to the new length.
    ASSERT_TRUE(file.ReadSpan(start, 10, &span));
    EXPECT_EQ(span, std::vector<uint8_t>(10, 1));

    struct Bad {
        int64_t start, length;
    };
    for (const Bad& b : {Bad{-1, 10}, Bad{0, 0}, Bad{0, -5}, Bad{file.size() - 4, 5}, Bad{file.size() + 1, 1},
                         Bad{1, INT64_MAX}}) {
        span.assign(3, 9);
        EXPECT_FALSE(file.ReadSpan(b.start, b.length, &span)) << b.start << " " << b.length;
        EXPECT_TRUE(span.empty());
    }
}

TEST_F(MinuteFileTest, MissingFileIsAGap) {
    MinuteFile file;
    EXPECT_FALSE(file.Open(folder_.path(), 2012, 3, 5, 14, 8));
    ChannelSecondBlock block;
    int64_t pos = 0;
    EXPECT_FALSE(file.ReadBlock(0, 0, &block, &pos));
}

}  // namespace
