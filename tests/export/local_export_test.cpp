#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "checker/avi_reader.h"
#include "checker/msvc16_decoder.h"
#include "checker/watermark_checks.h"
#include "export/export_osd.h"
#include "export/local_export.h"
#include "media/disk_format.h"
#include "media/g726_audio.h"
#include "tests/export/avi_test_support.h"
#include "tests/support/sample_recording.h"
#include "tests/support/skip.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tool_run.h"
#include "tools/common/avdata_writer.h"
#include "tools/common/sample_media.h"

namespace fs = std::filesystem;

namespace {

class RecordingSink : public LocalExportProgressSink {
public:
    void SetProgress(int percent) override {
        std::lock_guard<std::mutex> lock(mutex_);
        progress.push_back(percent);
    }
    void SetCaption(const std::string& file_name) override {
        std::lock_guard<std::mutex> lock(mutex_);
        captions.push_back(file_name);
    }
    void EndDialog() override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++ends;
        ended_.notify_all();
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        progress.clear();
        captions.clear();
        ends = 0;
    }
    bool WaitEnd(int ms) {
        std::unique_lock<std::mutex> lock(mutex_);
        return ended_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return ends > 0; });
    }

    std::vector<int> progress;
    std::vector<std::string> captions;
    int ends = 0;

private:
    std::mutex mutex_;
    std::condition_variable ended_;
};

struct AviSummary {
    bool opened = false;
    int codec = -2;
    int width = 0, height = 0;
    int audio_format = -1;
    int audio_bits = 0;
    int frames = 0;  // video chunks with data (not the writer's gap fillers)
    int audio_chunks = 0;
    std::vector<std::string> payload_texts;  // leading text of each frame
    std::vector<std::vector<uint8_t>> audio;
};

AviSummary ReadAvi(const std::string& path) {
    AviSummary s;
    AviReader reader;
    if (!reader.Open(path)) return s;
    s.opened = true;
    s.codec = reader.codec();
    s.width = reader.width();
    s.height = reader.height();
    s.audio_format = reader.audio_format();
    s.audio_bits = reader.audio_bits_per_sample();
    bool failed = false;
    for (const auto& chunk : avitest::Chunks(reader, &failed)) {
        if (chunk.kind == AviReader::kChunkVideo && !chunk.data.empty()) {
            ++s.frames;
            s.payload_texts.emplace_back(chunk.data.begin(),
                                         chunk.data.begin() + static_cast<long>(std::min<size_t>(8, chunk.data.size())));
        } else if (chunk.kind == AviReader::kChunkAudio) {
            ++s.audio_chunks;
            s.audio.push_back(chunk.data);
        }
    }
    EXPECT_FALSE(failed) << path;
    return s;
}

std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) names.insert(e.path().filename().string());
    return names;
}

const std::tm kNow = [] {
    std::tm t{};
    t.tm_year = 2013 - 1900;
    t.tm_mon = 4;
    t.tm_mday = 13;
    t.tm_hour = 9;
    t.tm_min = 15;
    t.tm_sec = 2;
    return t;
}();
const std::string kBase = "CH01_20130513-91502";

// A frame whose payload names its time, so the file shows which entries it holds.
sample::SampleFrame FakeFrame(int second_of_day, int index, bool key, int64_t stamp, int width = 176, int height = 144) {
    sample::SampleFrame f;
    f.kind = diskformat::kKindVideo;
    f.codec = diskformat::kCodecMjpeg;
    f.key = key ? 1 : 0;
    f.time_stamp_ms = stamp;
    f.width = width;
    f.height = height;
    char text[16];
    std::snprintf(text, sizeof text, "%.2d%.2d%.2d-%d", second_of_day / 3600, (second_of_day / 60) % 60,
                  second_of_day % 60, index);
    f.data.assign(text, text + 8);
    f.data.resize(200, 0xAB);
    return f;
}

sample::SampleFrame PcmAudio(int samples = 800) {
    sample::SampleFrame a;
    a.kind = diskformat::kKindAudio;
    a.codec = diskformat::kAudioPcm;
    a.bits = 16;
    a.sample_rate = 8000;
    a.channels = 1;
    a.data.assign(static_cast<size_t>(samples) * 2, 0x11);
    return a;
}

class LocalExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        out = tmp.Sub("out");
        fs::create_directories(out);
        data = tmp.Sub("avdata");
        exporter.SetFreeBytesFunction([this](const std::string&) { return free_bytes; });
    }

    // The fake recording: `seconds` seconds from `start` on channel 1, one
    // frame each (key every second), stamps 1000 ms apart.
    void WriteFakeRange(int start, int seconds, const std::function<void(int, sample::SampleChannelSecond&)>& edit = {}) {
        std::map<int, sample::SampleMinute> minutes;
        for (int i = 0; i < seconds; ++i) {
            const int t = start + i;
            sample::SampleMinute& m = minutes[t / 60];
            m.titles = {u"Gate", u"", u"", u""};
            sample::SampleChannelSecond ch;
            ch.frames.push_back(FakeFrame(t, 0, true, 1000000 + 1000LL * t));
            if (edit) edit(t, ch);
            m.seconds[static_cast<size_t>(t % 60)].channels[0] = std::move(ch);
        }
        for (const auto& [minute, content] : minutes)
            ASSERT_TRUE(sample::WriteMinuteFile(data, kDay.year, kDay.month, kDay.day, minute / 60, minute % 60, content,
                                                nullptr));
    }

    RecordSource Source() const {
        RecordSource s;
        s.path = data;
        s.year = kDay.year;
        s.month = kDay.month;
        s.day = kDay.day;
        return s;
    }

    // One channel run to its end, as the dialog drives it.
    void Run(int channel, int format, int cue_in, int cue_out, int result = 1, bool osd = false) {
        exporter.Configure(Source(), cue_in, cue_out, out);
        exporter.BeginExport();
        exporter.BeginChannel(channel, format, 80, osd, kNow, &sink);
        EXPECT_TRUE(sink.WaitEnd(30000));
        exporter.EndChannel(result);
    }

    static constexpr CivilDate kDay{2012, 3, 5};
    TempFolder tmp;
    std::string out;
    std::string data;
    LocalExport exporter;
    RecordingSink sink;
    uint64_t free_bytes = 1ULL << 40;
};

TEST_F(LocalExportTest, NamesFollowTheChannelAndTheStartTime) {
    EXPECT_EQ(LocalExport::MakeBaseName(0, kNow), kBase);
    std::tm evening = kNow;
    evening.tm_hour = 21;
    evening.tm_min = 5;
    evening.tm_sec = 9;
    EXPECT_EQ(LocalExport::MakeBaseName(3, evening), "CH04_20130513-210509");

    uint8_t field[64] = {};
    const char16_t title[] = u"Gate\u00e9";
    for (int i = 0; i < 5; ++i) {
        field[4 * i] = static_cast<uint8_t>(title[i] & 0xFF);
        field[4 * i + 1] = static_cast<uint8_t>(title[i] >> 8);
        field[4 * i + 2] = 0x7F;  // the high half is not the export's
    }
    EXPECT_EQ(LocalExport::ExportChannelTitle(field, 1), "CH2-Gate\xC3\xA9");
    for (int i = 0; i < 16; ++i) field[4 * i] = 'A', field[4 * i + 1] = 0;
    EXPECT_EQ(LocalExport::ExportChannelTitle(field, 0), "CH1-" + std::string(16, 'A'));
}

TEST_F(LocalExportTest, SampleRecordingInBothFormatsWithAndWithoutWatermark) {
    SmallRecording rec;
    data = WriteSmallRecording(tmp.path(), rec);
    ASSERT_FALSE(data.empty());
    const int from = rec.start_second, to = rec.start_second + rec.seconds - 1;
    struct Case {
        int channel, format;
        bool watermark;
        int codec;
        int frames;  // -1: at least one
        int audio_chunks;
    };
    // Channel 1's first audio entry comes before the second's first picture, so it is not exported.
    const Case cases[] = {
        {0, LocalExport::kFormatOriginal, true, AviReader::kCodecMjpeg, 15, 2},
        {0, LocalExport::kFormatMsVideo1, false, AviReader::kCodecMsvc, -1, 2},
        {1, LocalExport::kFormatOriginal, false, AviReader::kCodecH264, 15, 0},
        {1, LocalExport::kFormatMsVideo1, true, AviReader::kCodecMsvc, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "channel " << c.channel << " format " << c.format);
        fs::remove_all(out);
        fs::create_directories(out);
        sink.Clear();
        exporter.SetWatermark(c.watermark);
        Run(c.channel, c.format, from, to);
        const std::string name = LocalExport::MakeBaseName(c.channel, kNow) + ".avi";
        ASSERT_EQ(FilesIn(out), std::set<std::string>{name});
        const AviSummary avi = ReadAvi(out + "/" + name);
        ASSERT_TRUE(avi.opened);
        EXPECT_EQ(avi.codec, c.codec);
        EXPECT_EQ(avi.width, 176);
        EXPECT_EQ(avi.height, 144);
        if (c.frames >= 0)
            EXPECT_EQ(avi.frames, c.frames);
        else
            EXPECT_GT(avi.frames, 0);
        EXPECT_EQ(avi.audio_chunks, c.audio_chunks);
        if (c.audio_chunks) {
            EXPECT_EQ(avi.audio_format, AviReader::kAudioPcm);
            EXPECT_EQ(avi.audio[0].size(), 8000u);
        }
        EXPECT_EQ(CheckAviTrailer(out + "/" + name), c.watermark);
        EXPECT_EQ(sink.captions, std::vector<std::string>{name});
        EXPECT_EQ(sink.progress.back(), 100);
        EXPECT_EQ(sink.ends, 1);
        EXPECT_TRUE(exporter.space_ok());
    }
}

TEST_F(LocalExportTest, NothingBeforeTheFirstKeyFrameIsExported) {
    SmallRecording rec;
    rec.h264_key_interval = 7;  // keys at frames 0, 7, 14
    data = WriteSmallRecording(tmp.path(), rec);
    ASSERT_FALSE(data.empty());
    // From the second second: H.264 frames 5 and 6 wait for the key at 7.
    Run(1, LocalExport::kFormatOriginal, rec.start_second + 1, rec.start_second + 2);
    AviSummary avi = ReadAvi(out + "/" + LocalExport::MakeBaseName(1, kNow) + ".avi");
    EXPECT_EQ(avi.frames, 8);

    // Channel 1 from the same second: that second's audio precedes its first picture.
    sink.Clear();
    Run(0, LocalExport::kFormatOriginal, rec.start_second + 1, rec.start_second + 2);
    avi = ReadAvi(out + "/" + kBase + ".avi");
    EXPECT_EQ(avi.frames, 10);
    EXPECT_EQ(avi.audio_chunks, 1);
}

TEST_F(LocalExportTest, RangeEdgesAreInclusiveAcrossMinuteFiles) {
    const int h9 = 9 * 3600;
    WriteFakeRange(h9, 180);
    struct Case {
        int cue_in, cue_out;
        bool drop_first_minute;
        std::string first, last;
        int frames;
    };
    const Case cases[] = {
        {h9 + 30, h9 + 130, false, "090030-0", "090210-0", 101},
        {h9 + 59, h9 + 60, false, "090059-0", "090100-0", 2},
        // Without 09:00 the next minute is read whole.
        {h9 + 30, h9 + 130, true, "090100-0", "090210-0", 71},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first);
        if (c.drop_first_minute) fs::remove(MinuteFilePath(data, kDay.year, kDay.month, kDay.day, 9, 0));
        fs::remove_all(out);
        fs::create_directories(out);
        sink.Clear();
        Run(0, LocalExport::kFormatOriginal, c.cue_in, c.cue_out);
        ASSERT_EQ(FilesIn(out).size(), 1u);
        const AviSummary avi = ReadAvi(out + "/" + kBase + ".avi");
        ASSERT_EQ(avi.frames, c.frames);
        EXPECT_EQ(avi.payload_texts.front(), c.first);
        EXPECT_EQ(avi.payload_texts.back(), c.last);
    }
}

// A minute file missing from the data folder is a gap only where the day
// index lists no recording of the channel; one it lists is lost data: the
// channel stops there, told with the file's path, its parts whole.
TEST_F(LocalExportTest, AMissingMinuteFileTheDayIndexListsIsAFailureNotAGap) {
    const int h9 = 9 * 3600;
    struct Case {
        const char* name;
        std::vector<sample::SampleDayEntry> entries;
        bool failed;
        int frames;
        std::optional<int32_t> count = std::nullopt;  // a damaged count
    };
    const Case cases[] = {
        {"no day index", {}, false, 120},
        {"listed around the missing minute", {{h9, h9 + 59, '1', '1'}, {h9 + 120, h9 + 179, 'f', '1'}}, false, 120},
        {"listed for another channel", {{h9, h9 + 179, '2', '1'}}, false, 120},
        {"listed for the channel", {{h9, h9 + 179, '1', '1'}}, true, 60},
        {"listed in one second of the minute", {{h9 + 119, h9 + 125, '3', '1'}}, true, 60},
        {"listed by an index whose count runs past its end", {{h9, h9 + 179, '1', '1'}}, false, 120, 1000000},
    };
    WriteFakeRange(h9, 180);
    const std::string missing = MinuteFilePath(data, kDay.year, kDay.month, kDay.day, 9, 1);
    fs::remove(missing);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(DayIndexPath(data, kDay.year, kDay.month, kDay.day));
        if (!c.entries.empty()) {
            sample::SampleDay day;
            day.year = kDay.year, day.month = kDay.month, day.day = kDay.day;
            day.entries = c.entries;
            day.count_override = c.count;
            std::string error;
            ASSERT_TRUE(sample::WriteDayIndex(data, day, &error)) << error;
        }
        fs::remove_all(out);
        fs::create_directories(out);
        sink.Clear();
        Run(0, LocalExport::kFormatOriginal, h9, h9 + 179);
        EXPECT_EQ(exporter.read_failed(), c.failed);
        EXPECT_EQ(exporter.unreadable(), c.failed ? std::vector<std::string>{missing} : std::vector<std::string>{});
        // Across a gap the recording's clock jumps a minute: a second part.
        const std::vector<ExportedPart> parts = exporter.parts();
        ASSERT_EQ(parts.size(), c.failed ? 1u : 2u);
        int frames = 0;
        for (const ExportedPart& part : parts) {
            EXPECT_TRUE(part.whole) << part.path;
            frames += ReadAvi(part.path).frames;
        }
        EXPECT_EQ(frames, c.frames);
    }
}

TEST_F(LocalExportTest, SizeChangeStartsTheNextPartAndEveryPartCarriesTheTrailer) {
    const int t0 = 14 * 3600;
    std::string error;
    auto encoder = sample::SampleVideoEncoder::Create(sample::SampleVideoCodec::Mjpeg, 352, 288, 15, 1, 1, &error);
    ASSERT_TRUE(encoder) << error;
    WriteFakeRange(t0, 10, [&](int t, sample::SampleChannelSecond& ch) {
        if (t >= t0 + 5) {
            // A real change: pictures that decode to the size their entries give.
            sample::EncodedPacket packet;
            ASSERT_TRUE(encoder->Encode(t - t0, "CH01", &packet));
            ch.frames[0].width = 352;
            ch.frames[0].height = 288;
            ch.frames[0].data = packet.data;
        }
        ch.frames.push_back(PcmAudio());
    });
    exporter.SetWatermark(true);
    Run(0, LocalExport::kFormatOriginal, t0, t0 + 9);
    EXPECT_EQ(FilesIn(out), (std::set<std::string>{kBase + ".avi", kBase + "_1.avi"}));
    const AviSummary first = ReadAvi(out + "/" + kBase + ".avi");
    const AviSummary second = ReadAvi(out + "/" + kBase + "_1.avi");
    EXPECT_EQ(first.width, 176);
    EXPECT_EQ(first.frames, 5);
    EXPECT_EQ(first.audio_chunks, 5);
    EXPECT_EQ(second.width, 352);
    EXPECT_EQ(second.frames, 5);
    EXPECT_EQ(second.audio_chunks, 5);
    EXPECT_TRUE(CheckAviTrailer(out + "/" + kBase + ".avi"));
    EXPECT_TRUE(CheckAviTrailer(out + "/" + kBase + "_1.avi"));
    EXPECT_EQ(sink.captions, (std::vector<std::string>{kBase + ".avi", kBase + "_1.avi"}));
}

// A damaged copy whose entries claim sizes and codecs their data does not
// have must not scatter the range over a part per entry.
TEST_F(LocalExportTest, EntriesWithImpossibleOrUndecodableSizesStartNoPart) {
    const int t0 = 14 * 3600;
    WriteFakeRange(t0, 8, [t0](int t, sample::SampleChannelSecond& ch) {
        const int i = t - t0;
        sample::SampleFrame bad = FakeFrame(t, 1, true, 1000000 + 1000LL * t + 500);
        const int sizes[][2] = {{352, 288}, {0, 144}, {176, -4}, {100000, 144}, {7, 3}, {704, 576}, {176, 145}, {1, 1}};
        bad.width = sizes[i][0];
        bad.height = sizes[i][1];
        if (i == 2) bad.codec = 3;  // no video codec
        ch.frames.push_back(bad);
        sample::SampleFrame odd_audio = PcmAudio();
        if (i % 2) odd_audio.bits = 0;
        else odd_audio.codec = 9;
        ch.frames.push_back(odd_audio);
        ch.frames.push_back(PcmAudio());
    });
    Run(0, LocalExport::kFormatOriginal, t0, t0 + 7);
    EXPECT_EQ(FilesIn(out), std::set<std::string>{kBase + ".avi"});
    const AviSummary avi = ReadAvi(out + "/" + kBase + ".avi");
    EXPECT_EQ(avi.width, 176);
    EXPECT_EQ(avi.frames, 8);
    EXPECT_EQ(avi.audio_chunks, 8);
    const std::vector<ExportedPart> parts = exporter.parts();
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].video_frames, 8);
    EXPECT_TRUE(parts[0].whole);
}

TEST_F(LocalExportTest, DamagedEntriesAreDroppedAndTheRestWritten) {
    const int t0 = 14 * 3600;
    WriteFakeRange(t0, 4, [t0](int t, sample::SampleChannelSecond& ch) {
        ch.frames.push_back(FakeFrame(t, 1, false, 1000000 + 1000LL * t + 500));
        if (t == t0 + 1) ch.frames[1].length_override = 1500000;  // runs past the end of the file
        if (t == t0 + 2) ch.frames[1].offset_override = 0x7FFFFF00;
        if (t == t0 + 3) ch.used_count_override = 1000;  // held to the block's 60 slots
    });
    Run(0, LocalExport::kFormatOriginal, t0, t0 + 3);
    const AviSummary avi = ReadAvi(out + "/" + kBase + ".avi");
    EXPECT_EQ(avi.payload_texts,
              (std::vector<std::string>{"140000-0", "140000-1", "140001-0", "140002-0", "140003-0", "140003-1"}));
}

// A damaged copy whose 16-bit sound entries end in half a sample: every
// format writes whole samples only, so players take every chunk (ffmpeg
// refuses a chunk of odd length with "Invalid PCM packet").
TEST_F(LocalExportTest, SoundOfDamagedEntriesIsWrittenInWholeSamplesInEveryFormat) {
    struct Case {
        const char* name;
        int format;
        bool avi;
    };
    const Case cases[] = {
        {"Video 1", LocalExport::kFormatMsVideo1, true},
        {"original frames", LocalExport::kFormatOriginal, true},
        {"ASF", LocalExport::kFormatAsf, false},
    };
    // Per second: a whole block, one with half a sample more, one of half a sample, one of three halves.
    const size_t kLengths[] = {640, 801, 1, 3};
    const std::vector<size_t> kWholeSeconds = {640, 800, 2};
    constexpr int kSeconds = 4;
    std::string error;
    auto encoder = sample::SampleVideoEncoder::Create(sample::SampleVideoCodec::Mjpeg, 176, 144, 15, 1, 1, &error);
    ASSERT_TRUE(encoder) << error;
    const int t0 = 14 * 3600;
    WriteFakeRange(t0, kSeconds, [&](int t, sample::SampleChannelSecond& ch) {
        sample::EncodedPacket packet;
        ASSERT_TRUE(encoder->Encode(t - t0, "CH01", &packet));
        ch.frames[0].data = packet.data;
        for (const size_t length : kLengths) {
            sample::SampleFrame a = PcmAudio();
            a.data.assign(length, static_cast<uint8_t>(length));
            ch.frames.push_back(std::move(a));
        }
    });
    const bool have_ffmpeg = RunShell("ffmpeg -version").status == 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(out);
        fs::create_directories(out);
        sink.Clear();
        Run(0, c.format, t0, t0 + kSeconds - 1);
        const std::vector<ExportedPart> parts = exporter.parts();
        ASSERT_EQ(parts.size(), 1u);
        EXPECT_TRUE(parts[0].whole);
        if (c.avi) {
            const AviSummary avi = ReadAvi(parts[0].path);
            std::vector<size_t> sizes;
            for (const auto& chunk : avi.audio) sizes.push_back(chunk.size());
            std::vector<size_t> expected;
            for (int i = 0; i < kSeconds; ++i) expected.insert(expected.end(), kWholeSeconds.begin(), kWholeSeconds.end());
            EXPECT_EQ(sizes, expected);
        }
        if (have_ffmpeg) {
            EXPECT_EQ(DecodeErrors(parts[0].path), "");
        }
    }
    if (!have_ffmpeg) SKIP_WITHOUT_INSTALLED("ffmpeg is not installed: the files were not decoded");
}

TEST_F(LocalExportTest, RangeWithoutDataOrWithoutOutputFolderEndsWithoutAFile) {
    const int t0 = 14 * 3600;
    WriteFakeRange(t0, 3);
    Run(2, LocalExport::kFormatOriginal, t0, t0 + 2);
    EXPECT_EQ(sink.ends, 1);
    EXPECT_TRUE(sink.captions.empty());
    EXPECT_TRUE(FilesIn(out).empty());

    // The part cannot be created: its records are dropped, the run still ends.
    sink.Clear();
    exporter.Configure(Source(), t0, t0 + 2, tmp.Sub("missing"));
    exporter.BeginChannel(0, LocalExport::kFormatOriginal, 80, false, kNow, &sink);
    EXPECT_TRUE(sink.WaitEnd(30000));
    exporter.EndChannel(1);
    EXPECT_FALSE(fs::exists(tmp.Sub("missing")));
}

TEST_F(LocalExportTest, LowFreeSpaceStopsTheChannelAndKeepsItsFile) {
    const int t0 = 14 * 3600;
    WriteFakeRange(t0, 10);
    exporter.SetWatermark(true);
    free_bytes = LocalExport::kMinFreeBytes;
    Run(0, LocalExport::kFormatOriginal, t0, t0 + 9);
    EXPECT_TRUE(exporter.space_ok());
    EXPECT_EQ(ReadAvi(out + "/" + kBase + ".avi").frames, 10);

    fs::remove_all(out);
    fs::create_directories(out);
    sink.Clear();
    free_bytes = LocalExport::kMinFreeBytes - 1;
    Run(0, LocalExport::kFormatOriginal, t0, t0 + 9);
    EXPECT_FALSE(exporter.space_ok());
    EXPECT_FALSE(exporter.reader_running());
    const AviSummary avi = ReadAvi(out + "/" + kBase + ".avi");
    EXPECT_EQ(avi.frames, 1);
    EXPECT_TRUE(CheckAviTrailer(out + "/" + kBase + ".avi"));
}

TEST_F(LocalExportTest, CancelDeletesOnlyTheChannelsOwnLastPart) {
    const int t0 = 14 * 3600;
    // A jump in the stamps makes a second part.
    WriteFakeRange(t0, 10, [t0](int t, sample::SampleChannelSecond& ch) {
        if (t >= t0 + 5) ch.frames[0].time_stamp_ms += 10000;
    });
    Run(0, LocalExport::kFormatOriginal, t0, t0 + 9, 2);
    EXPECT_EQ(FilesIn(out), std::set<std::string>{kBase + ".avi"});

    // A channel cancelled before it opened anything leaves the earlier channel's file alone.
    sink.Clear();
    Run(2, LocalExport::kFormatOriginal, t0, t0 + 9, 2);
    EXPECT_EQ(FilesIn(out), std::set<std::string>{kBase + ".avi"});

    // A link standing where the last part was is not followed.
    fs::remove_all(out);
    fs::create_directories(out);
    sink.Clear();
    Run(0, LocalExport::kFormatOriginal, t0, t0 + 4, 1);
    const std::string kept = tmp.Sub("kept.avi");
    fs::rename(out + "/" + kBase + ".avi", kept);
    fs::create_symlink(kept, out + "/" + kBase + ".avi");
    exporter.EndChannel(2);
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_TRUE(fs::is_symlink(out + "/" + kBase + ".avi"));
}

TEST_F(LocalExportTest, AudioCodecsReachTheFileAsTheirFormatsSay) {
    struct Case {
        sample::SampleAudioCodec codec;
        uint8_t disk_codec;
        int format;
        int audio_format;
        int bits;
        int recorded_bits = 0;  // the entry's figure when not the encoder's
    };
    const Case cases[] = {
        {sample::SampleAudioCodec::MuLaw, diskformat::kAudioG711A, LocalExport::kFormatOriginal, AviReader::kAudioMuLaw, 8},
        {sample::SampleAudioCodec::MuLaw, diskformat::kAudioG711B, LocalExport::kFormatMsVideo1, AviReader::kAudioMuLaw, 8},
        {sample::SampleAudioCodec::Aac, diskformat::kAudioAac, LocalExport::kFormatOriginal, AviReader::kAudioPcm, 16},
        {sample::SampleAudioCodec::G726, diskformat::kAudioG726, LocalExport::kFormatOriginal, AviReader::kAudioPcm, 16},
        // Marked with its coded 4 bits a sample: the file still declares the 16-bit PCM it holds.
        {sample::SampleAudioCodec::G726, diskformat::kAudioG726, LocalExport::kFormatOriginal, AviReader::kAudioPcm, 16, 4},
    };
    // The fake pictures are no JPEG; the re-encoding case only looks at the sound.
    av_log_set_level(AV_LOG_QUIET);
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.disk_codec));
        std::string error;
        auto encoder = sample::SampleAudioEncoder::Create(c.codec, &error);
        ASSERT_TRUE(encoder) << error;
        const int t0 = 14 * 3600;
        fs::remove_all(data);
        WriteFakeRange(t0, 3, [&](int, sample::SampleChannelSecond& ch) {
            for (int ms = 0; ms < 1000;) {
                sample::EncodedPacket packet;
                int duration = 0;
                ASSERT_TRUE(encoder->EncodeNext(&packet, &duration));
                sample::SampleFrame a;
                a.kind = diskformat::kKindAudio;
                a.codec = c.disk_codec;
                a.bits = c.recorded_bits ? c.recorded_bits : encoder->bits_per_sample();
                a.sample_rate = encoder->sample_rate();
                a.channels = encoder->channels();
                a.data = packet.data;
                ch.frames.push_back(std::move(a));
                ms += std::max(duration, 1);
            }
        });
        fs::remove_all(out);
        fs::create_directories(out);
        sink.Clear();
        Run(0, c.format, t0, t0 + 2);
        const AviSummary avi = ReadAvi(out + "/" + kBase + ".avi");
        ASSERT_TRUE(avi.opened);
        EXPECT_EQ(avi.audio_format, c.audio_format);
        EXPECT_EQ(avi.audio_bits, c.bits);
        ASSERT_GT(avi.audio_chunks, 0);
        if (c.disk_codec == diskformat::kAudioAac || c.disk_codec == diskformat::kAudioG726) {
            // The tone is back at its recorded level (G.726 after its fourfold gain).
            int peak = 0;
            for (const auto& chunk : avi.audio)
                for (size_t i = 0; i + 1 < chunk.size(); i += 2)
                    peak = std::max(peak, std::abs(static_cast<int16_t>(chunk[i] | (chunk[i + 1] << 8))));
            EXPECT_GT(peak, sample::kSampleTonePeak * 6 / 10);
            EXPECT_LT(peak, sample::kSampleTonePeak * 14 / 10);
        }
    }
}

TEST_F(LocalExportTest, OsdTextLandsAtTheTopLeftOfTheExportedPicture) {
    SmallRecording rec;
    data = WriteSmallRecording(tmp.path(), rec);
    ASSERT_FALSE(data.empty());
    // First picture of a re-encoded export, top row first, blue-green-red.
    auto first_picture = [&](bool osd) {
        fs::remove_all(out);
        fs::create_directories(out);
        sink.Clear();
        Run(0, LocalExport::kFormatMsVideo1, rec.start_second, rec.start_second, 1, osd);
        AviReader reader;
        EXPECT_TRUE(reader.Open(out + "/" + kBase + ".avi"));
        bool failed = false;
        const auto chunks = avitest::Chunks(reader, &failed);
        std::vector<uint16_t> rgb(176 * 144);
        std::vector<uint8_t> bgr(176 * 144 * 3);
        for (const auto& chunk : chunks)
            if (chunk.kind == AviReader::kChunkVideo && !chunk.data.empty()) {
                EXPECT_TRUE(DecodeMsvc16(rgb.data(), chunk.data.data(), chunk.data.size(), 176, 144));
                break;
            }
        Rgb555ToBgr24(bgr.data(), rgb.data(), 176, 144);
        return bgr;
    };
    const std::vector<uint8_t> plain = first_picture(false);
    const std::vector<uint8_t> captioned = first_picture(true);
    auto at = [](const std::vector<uint8_t>& p, int x, int y) { return &p[(static_cast<size_t>(y) * 176 + x) * 3]; };
    // "CH1-Front" in white over the top left: bright pixels there that the plain picture lacks.
    int brightened = 0;
    for (int y = 0; y < kExportOsdLineHeight; ++y)
        for (int x = 0; x < 80; ++x) {
            const uint8_t* c = at(captioned, x, y);
            const uint8_t* p = at(plain, x, y);
            if (c[0] + c[1] + c[2] > 3 * 200 && c[0] + c[1] + c[2] > p[0] + p[1] + p[2] + 150) ++brightened;
        }
    EXPECT_GT(brightened, 100);
    // The bottom rows carry no text, and the picture is the right way up there too.
    for (int x = 0; x < 176; x += 8)
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(at(captioned, x, 140)[c], at(plain, x, 140)[c], 24) << x;
}

// Sound as recorded (G.711, PCM) reaches the parts whole and in order
// across every kind of part change, also one at a picture that is no key
// frame, where the next part has to wait for the key, and when the range ends
// before that key comes: sound of the new format then gets a part of its own.
TEST_F(LocalExportTest, SoundOfTheRangeIsAllWrittenAcrossPartChanges) {
    enum Change { kJump, kSize, kSound };
    struct Case {
        const char* name;
        Change change;
        uint8_t codec;
        int bits;
        int parts;
        int last = 9;  // the range's last second
    };
    const Case cases[] = {
        {"time jump, G.711", kJump, diskformat::kAudioG711A, 8, 2},
        {"time jump, PCM", kJump, diskformat::kAudioPcm, 16, 2},
        {"picture size, G.711", kSize, diskformat::kAudioG711B, 8, 2},
        {"picture size, PCM", kSize, diskformat::kAudioPcm, 16, 2},
        {"sound rate, G.711", kSound, diskformat::kAudioG711A, 8, 2},
        {"sound rate, PCM", kSound, diskformat::kAudioPcm, 16, 2},
        {"sound rate, G.711, range ends before the key", kSound, diskformat::kAudioG711B, 8, 2, 6},
        {"sound rate, PCM, range ends before the key", kSound, diskformat::kAudioPcm, 16, 2, 5},
        // The running part takes the sound of its own format up to the range's end.
        {"time jump, PCM, range ends before the key", kJump, diskformat::kAudioPcm, 16, 1, 6},
    };
    std::string error;
    auto encoder = sample::SampleVideoEncoder::Create(sample::SampleVideoCodec::Mjpeg, 352, 288, 15, 1, 1, &error);
    ASSERT_TRUE(encoder) << error;
    const int t0 = 14 * 3600;
    constexpr int kSeconds = 10, kChangeAt = 4, kNextKey = 7;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(data);
        fs::remove_all(out);
        fs::create_directories(out);
        sink.Clear();
        std::vector<uint8_t> recorded;
        int record = 0;
        WriteFakeRange(t0, kSeconds, [&](int t, sample::SampleChannelSecond& ch) {
            const int i = t - t0;
            sample::SampleFrame& picture = ch.frames[0];
            // Key pictures only at the start and three seconds after the change.
            picture.key = i == 0 || i == kNextKey ? 1 : 0;
            if (c.change == kJump && i >= kChangeAt) picture.time_stamp_ms += 10000;
            if (c.change == kSize && i >= kChangeAt) {
                sample::EncodedPacket packet;
                ASSERT_TRUE(encoder->Encode(i, "CH01", &packet));
                picture.width = 352;
                picture.height = 288;
                picture.data = packet.data;
            }
            // Two pieces of sound a second, each with bytes of its own.
            for (int k = 0; k < 2; ++k, ++record) {
                sample::SampleFrame a;
                a.kind = diskformat::kKindAudio;
                a.codec = c.codec;
                a.bits = c.bits;
                a.channels = 1;
                a.sample_rate = c.change == kSound && i >= kChangeAt ? 16000 : 8000;
                a.data.assign(static_cast<size_t>(c.bits / 8 * 400), static_cast<uint8_t>(record + 1));
                if (i <= c.last) recorded.insert(recorded.end(), a.data.begin(), a.data.end());
                ch.frames.push_back(std::move(a));
            }
        });
        Run(0, LocalExport::kFormatOriginal, t0, t0 + c.last);
        const std::vector<ExportedPart> parts = exporter.parts();
        ASSERT_EQ(static_cast<int>(parts.size()), c.parts);
        std::vector<uint8_t> written;
        for (const ExportedPart& part : parts) {
            EXPECT_TRUE(part.whole) << part.path;
            const AviSummary avi = ReadAvi(part.path);
            ASSERT_TRUE(avi.opened) << part.path;
            EXPECT_EQ(avi.audio_bits, c.bits) << part.path;
            for (const auto& chunk : avi.audio) written.insert(written.end(), chunk.begin(), chunk.end());
        }
        EXPECT_EQ(written.size(), recorded.size());
        EXPECT_TRUE(written == recorded) << "the sound differs from the recorded sound";
        // The second part starts at the key picture, with nothing before it;
        // one the range ended before holds no picture.
        const int last_frames = c.parts == 1 ? kChangeAt : std::max(0, c.last + 1 - kNextKey);
        EXPECT_EQ(ReadAvi(parts.back().path).frames, last_frames);
        if (c.change == kSound) {
            AviReader reader;
            ASSERT_TRUE(reader.Open(parts.back().path));
            EXPECT_EQ(reader.audio_sample_rate(), 16000);
        }
    }
}

// The first part opens before any sound when the first seconds have none:
// once sound comes, the file declares what it holds and holds all of it.
TEST_F(LocalExportTest, APartOpenedBeforeItsFirstSoundDeclaresTheSoundItHolds) {
    struct Case {
        const char* name;
        sample::SampleAudioCodec codec;
        uint8_t disk_codec;
        int format;
        int audio_format;
        int bits;
    };
    const Case cases[] = {
        {"G.711, original", sample::SampleAudioCodec::MuLaw, diskformat::kAudioG711A, LocalExport::kFormatOriginal,
         AviReader::kAudioMuLaw, 8},
        {"G.711, Video 1", sample::SampleAudioCodec::MuLaw, diskformat::kAudioG711B, LocalExport::kFormatMsVideo1,
         AviReader::kAudioMuLaw, 8},
        {"AAC, original", sample::SampleAudioCodec::Aac, diskformat::kAudioAac, LocalExport::kFormatOriginal,
         AviReader::kAudioPcm, 16},
    };
    av_log_set_level(AV_LOG_QUIET);
    const int t0 = 14 * 3600;
    // More silent seconds than the reader queues before the writer must start.
    constexpr int kSilent = 20, kSeconds = 24;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        auto encoder = sample::SampleAudioEncoder::Create(c.codec, &error);
        ASSERT_TRUE(encoder) << error;
        fs::remove_all(data);
        fs::remove_all(out);
        fs::create_directories(out);
        sink.Clear();
        std::vector<uint8_t> recorded;
        WriteFakeRange(t0, kSeconds, [&](int t, sample::SampleChannelSecond& ch) {
            if (t - t0 < kSilent) return;
            for (int ms = 0; ms < 1000;) {
                sample::EncodedPacket packet;
                int duration = 0;
                ASSERT_TRUE(encoder->EncodeNext(&packet, &duration));
                sample::SampleFrame a;
                a.kind = diskformat::kKindAudio;
                a.codec = c.disk_codec;
                a.bits = encoder->bits_per_sample();
                a.sample_rate = encoder->sample_rate();
                a.channels = encoder->channels();
                a.data = packet.data;
                recorded.insert(recorded.end(), a.data.begin(), a.data.end());
                ch.frames.push_back(std::move(a));
                ms += std::max(duration, 1);
            }
        });
        Run(0, c.format, t0, t0 + kSeconds - 1);
        const std::vector<ExportedPart> parts = exporter.parts();
        ASSERT_EQ(parts.size(), 1u);
        EXPECT_TRUE(parts[0].whole);
        AviReader reader;
        ASSERT_TRUE(reader.Open(parts[0].path));
        EXPECT_EQ(reader.audio_format(), c.audio_format);
        EXPECT_EQ(reader.audio_bits_per_sample(), c.bits);
        EXPECT_EQ(reader.audio_sample_rate(), encoder->sample_rate());
        EXPECT_EQ(reader.audio_channels(), encoder->channels());
        const AviSummary avi = ReadAvi(parts[0].path);
        std::vector<uint8_t> written;
        for (const auto& chunk : avi.audio) written.insert(written.end(), chunk.begin(), chunk.end());
        if (c.disk_codec == diskformat::kAudioAac) {
            // Decoded: about the recorded seconds of 16-bit sound (the first
            // packet may give nothing yet).
            const size_t second = static_cast<size_t>(encoder->sample_rate()) * 2 * encoder->channels();
            EXPECT_GT(written.size(), second * (kSeconds - kSilent) * 9 / 10);
            EXPECT_LE(written.size(), second * (kSeconds - kSilent + 1));
        } else {
            EXPECT_TRUE(written == recorded) << written.size() << " of " << recorded.size() << " bytes";
        }
    }
}

// A part that cannot be closed whole at a part change ends the channel as
// failed: no later part is opened, written or listed as whole.
TEST_F(LocalExportTest, APartThatFailsToCloseAtAPartChangeEndsTheChannel) {
    const int t0 = 14 * 3600;
    WriteFakeRange(t0, 8, [&](int t, sample::SampleChannelSecond& ch) {
        // A jump of ten seconds at a key picture: the part changes there.
        if (t - t0 >= 4) ch.frames[0].time_stamp_ms += 10000;
        ch.frames.push_back(PcmAudio());
    });
    // The headers (2 KiB) fit under the limit; the gathered chunks, written
    // when the first part closes, do not.
    struct rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto old_handler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &limited);
    Run(0, LocalExport::kFormatOriginal, t0, t0 + 7);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, old_handler);

    EXPECT_TRUE(exporter.write_failed());
    const std::vector<ExportedPart> parts = exporter.parts();
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].path, out + "/" + kBase + ".avi");
    EXPECT_FALSE(parts[0].whole);
    EXPECT_EQ(FilesIn(out), (std::set<std::string>{kBase + ".avi"}));
}

TEST(G726Gain, FourTimesWithSaturation) {
    const int16_t in[] = {0, 100, -100, 8191, 8192, -8192, -8193, 20000, -20000, 32767, -32768};
    const int16_t expected[] = {0, 400, -400, 32764, 32767, -32768, -32768, 32767, -32768, 32767, -32768};
    std::vector<uint8_t> pcm;
    for (int16_t v : in) {
        pcm.push_back(static_cast<uint8_t>(v & 0xFF));
        pcm.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
    }
    pcm.push_back(0x55);  // an odd trailing byte stays as it is
    AmplifyG726Pcm(pcm.data(), pcm.size());
    for (size_t i = 0; i < std::size(in); ++i)
        EXPECT_EQ(static_cast<int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8)), expected[i]) << in[i];
    EXPECT_EQ(pcm.back(), 0x55);
}

// The ink of a caption: which pixels turned white, seen top row first.
struct Ink {
    int top = 1 << 30, bottom = -1, left = 1 << 30, right = -1, count = 0;
    std::vector<bool> at;
};

Ink InkOf(const std::string& first, const std::string& second, int w = 240, int h = 100) {
    std::vector<uint8_t> picture(static_cast<size_t>(w) * h * 3, 60);
    DrawExportOsd(picture.data(), w, h, first, second);
    Ink ink;
    ink.at.assign(static_cast<size_t>(w) * h, false);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Stored bottom row first.
            const uint8_t* p = &picture[(static_cast<size_t>(h - 1 - y) * w + x) * 3];
            EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << x << "," << y;  // white over gray stays gray
            if (p[0] == 60) continue;
            ink.at[static_cast<size_t>(y) * w + x] = true;
            ++ink.count;
            ink.top = std::min(ink.top, y);
            ink.bottom = std::max(ink.bottom, y);
            ink.left = std::min(ink.left, x);
            ink.right = std::max(ink.right, x);
        }
    return ink;
}

TEST(ExportOsd, LinesAreDrawnInABoldFaceOfTheirCellAtTheTopLeft) {
    // A capital of a 36-pixel cell stands about 25 pixels tall on a baseline near 29 (Arial's proportions).
    const Ink h = InkOf("H", "");
    EXPECT_GE(h.top, 2);
    EXPECT_LE(h.bottom, 32);
    EXPECT_GE(h.bottom - h.top + 1, 22);
    EXPECT_LE(h.bottom - h.top + 1, 28);
    EXPECT_GE(h.left, 2);
    EXPECT_LE(h.left, 6);
    // Bold: the stems of an H are several pixels wide.
    int stem = 0;
    for (int x = h.left; h.at[static_cast<size_t>(h.top + 10) * 240 + x]; ++x) ++stem;
    EXPECT_GE(stem, 4);

    // The second line: the same glyph 36 pixels lower.
    const Ink low = InkOf("", "H");
    EXPECT_EQ(low.top, h.top + kExportOsdLineHeight);
    EXPECT_EQ(low.count, h.count);
    EXPECT_EQ(low.left, h.left);

    // Chinese titles show as their own glyphs, not as a stand-in.
    const Ink day = InkOf("\xE6\x97\xA5", "");  // U+65E5
    const Ink mouth = InkOf("\xE5\x8F\xA3", "");  // U+53E3
    const Ink question = InkOf("?", "");
    const Ink replacement = InkOf("\xEF\xBF\xBD", "");
    EXPECT_GT(day.count, 100);
    EXPECT_NE(day.at, mouth.at);
    EXPECT_NE(day.at, question.at);
    EXPECT_NE(day.at, replacement.at);
    EXPECT_LE(day.bottom, kExportOsdLineHeight - 1);

    // Nothing outside the text's lines changes; text past the right edge and
    // pictures smaller than a line are clipped.
    const Ink both = InkOf("CH1-Gate", "2012/03/05 14:07:00");
    EXPECT_LT(both.bottom, 2 * kExportOsdLineHeight);
    std::vector<uint8_t> small(10 * 5 * 3, 7);
    DrawExportOsd(small.data(), 10, 5, "WWWWWWWWWWWWWWW", "\xE6\x97\xA5 unknown");
    DrawExportOsd(nullptr, 10, 5, "A", "B");
}

}  // namespace
