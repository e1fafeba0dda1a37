#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "checker/avi_reader.h"
#include "checker/watermark_checks.h"
#include "export/remote_export.h"
#include "media/http_get.h"
#include "tests/export/avi_test_support.h"
#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"
#include "media/disk_format.h"
#include "tools/common/avdata_writer.h"
#include "tools/common/fake_recorder.h"

namespace fs = std::filesystem;

namespace {

class RecordingSink : public RemoteExportProgressSink {
public:
    void ShowFileName(const std::string& file_name) override {
        std::lock_guard<std::mutex> lock(mutex_);
        names.push_back(file_name);
    }
    void SetProgress(int elapsed, int total) override {
        std::lock_guard<std::mutex> lock(mutex_);
        last_elapsed = elapsed;
        last_total = total;
    }
    void Finish() override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++finishes;
        finished_.notify_all();
    }
    void WriterEnded() override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++writer_ends;
        finished_.notify_all();
    }
    bool WaitWriterEnded(int ms) {
        std::unique_lock<std::mutex> lock(mutex_);
        return finished_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return writer_ends > 0; });
    }
    bool WaitFinish(int ms) {
        std::unique_lock<std::mutex> lock(mutex_);
        return finished_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return finishes > 0; });
    }
    std::vector<std::string> names;
    int last_elapsed = -1;
    int last_total = -1;
    int finishes = 0;
    int writer_ends = 0;

private:
    std::mutex mutex_;
    std::condition_variable finished_;
};

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
    t.tm_mday = 4;
    t.tm_hour = 9;
    t.tm_min = 30;
    t.tm_sec = 5;
    return t;
}();

RemoteExportTimings FastTimings() {
    RemoteExportTimings t;
    t.download_start_ms = 0;
    t.between_requests_ms = 0;
    t.retry_ms = 50;
    t.teardown_ms = 0;
    t.connect_timeout_ms = 3000;
    t.receive_timeout_ms = 1000;
    return t;
}

class RemoteExportTest : public ::testing::Test {
protected:
    void Start(fake::Fault fault = {}, int seconds = 3, int fps = 5) {
        rec_.seconds = seconds;
        rec_.fps = fps;
        ASSERT_FALSE(WriteSmallRecording(tmp_.path(), rec_).empty());
        std::string error;
        fake::FakeRecorderOptions options;
        options.data_folder = tmp_.path();
        options.password = "secret";
        options.fault = fault;
        ASSERT_TRUE(recorder_.Start(options, &error)) << error;
        HttpGet control;
        ASSERT_EQ(control.Connect("127.0.0.1", "admin", "secret", 3000, 0, recorder_.port()), 1);
        std::vector<char> reply(256, 0);
        ASSERT_EQ(control.Fetch("/play/getid", reply.data(), reply.size()), 1);
        session_ = std::atoi(std::string(reply.data()).substr(3).c_str());
        fs::create_directories(out_);
    }
    RemoteExportSettings Settings(bool original) const {
        const SmallRecording& rec = rec_;
        RemoteExportSettings s;
        s.host = "127.0.0.1";
        s.user = "admin";
        s.password = "secret";
        s.port = recorder_.port();
        s.session_id = session_;
        s.year = rec.date.year;
        s.month = rec.date.month;
        s.day = rec.date.day;
        s.cue_in = rec.start_second;
        s.cue_out = rec.start_second + rec.seconds - 1;
        s.output_folder = out_;
        s.original_format = original;
        s.quality = 80;
        return s;
    }

    SmallRecording rec_;
    TempFolder tmp_;
    std::string out_ = tmp_.Sub("out");
    fake::FakeRecorder recorder_;
    int session_ = 0;
};

TEST(RemoteExportText, RequestsNamesAndTitles) {
    EXPECT_EQ(RemoteExport::BackupRequest(7, 0, RemoteExport::RequestTimeText(2013, 5, 4, 9 * 3600),
                                          RemoteExport::RequestTimeText(2013, 5, 4, 9 * 3600 + 1800)),
              "/play/backup?id=7&avdevid=0&starttime=2013,5,4,09,00,00&endtime=2013,5,4,09,30,00");
    EXPECT_EQ(RemoteExport::StreamRequest(7, 1), "/play/mav/nvrprofilestream?id=7&avdevid=0,1,0,0&profile=0&mode=1");
    EXPECT_EQ(RemoteExport::StreamRequest(7, 3), "/play/mav/nvrprofilestream?id=7&avdevid=0,0,0,1&profile=0&mode=1");
    EXPECT_EQ(RemoteExport::MakeBaseName(1, kNow), "CH02_20130504-93005");

    struct Case {
        int code;
        std::vector<uint8_t> bytes;
        std::string text;
    };
    const Case cases[] = {
        {1, {'C', 'a', 'm', 0, 'x'}, "Cam"},
        {2, {'G', 0, 'a', 0, 't', 0, 0, 0, 'x', 0}, "Gat"},
        {4, {'D', 0, 9, 9, 'o', 0, 9, 9, 0, 0, 0, 0}, "Do"},
        {2, {0xE9, 0x00, 'e', 0}, "\xC3\xA9" "e"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> field(64, 0);
        std::copy(c.bytes.begin(), c.bytes.end(), field.begin());
        EXPECT_EQ(RemoteExport::OsdTitleText(field.data(), c.code), c.text) << c.code;
    }
    // A title filling the whole field stops at its end.
    std::vector<uint8_t> full(64 + 8, 'A');
    EXPECT_EQ(RemoteExport::OsdTitleText(full.data(), 1), std::string(64, 'A'));
}

TEST(RemoteExportText, PacketTimeIsMillisecondsAcrossTheSecond) {
    // Microseconds restart within each second; with the seconds they must still rise.
    StreamPacketHeader a = StreamPacketHeader::Video();
    a.SetI32(streamformat::kOffSeconds, 1000);
    a.SetI32(streamformat::kOffMicroseconds, 999000);
    StreamPacketHeader b = a;
    b.SetI32(streamformat::kOffSeconds, 1001);
    b.SetI32(streamformat::kOffMicroseconds, 0);
    EXPECT_EQ(RemoteExport::PacketTimeMs(a.bytes.data()), 1000999);
    EXPECT_EQ(RemoteExport::PacketTimeMs(b.bytes.data()), 1001000);
}

// What an original-frames part may begin with, for each frame-type code as the stream's
// parser reads it: every MJPEG picture stands alone, whatever its code.
TEST(RemoteExportText, KeyPicturesByFrameType) {
    struct Case {
        int32_t frame_type;
        bool key;
    } cases[] = {{100, true}, {0, true},    {103, true},  {106, true}, {-1, true}, {999, true},
                 {101, true}, {102, false}, {104, true},  {105, false}};
    for (const Case& c : cases) {
        StreamPacketHeader h = StreamPacketHeader::Video();
        h.SetI32(streamformat::kOffFrameType, c.frame_type);
        h.SetU16(streamformat::kOffVideoChannelMask, 1);
        h.SetU16(streamformat::kOffWidth, 176);
        h.SetU16(streamformat::kOffHeight, 144);
        const uint8_t payload[4] = {1, 2, 3, 4};
        const std::vector<uint8_t> packet = BuildStreamPacket(h, payload, sizeof payload);
        StreamPacketParser parser;
        ASSERT_TRUE(parser.Feed(packet.data(), packet.size()));
        ASSERT_NE(parser.NextPacket(), nullptr) << c.frame_type;
        StreamFrameItem item;
        item.media_class = 1;
        item.kind = parser.kind();
        item.video_header = std::make_unique<std::array<uint8_t, streamformat::kVideoHeaderSize>>();
        std::memcpy(item.video_header->data(), parser.GetHeader(), streamformat::kVideoHeaderSize);
        EXPECT_EQ(RemoteExport::IsKeyPicture(item), c.key) << c.frame_type;
    }
    // Audio is no picture.
    StreamFrameItem audio;
    audio.media_class = 0;
    audio.kind = 3;
    EXPECT_FALSE(RemoteExport::IsKeyPicture(audio));
}

TEST_F(RemoteExportTest, RangeInBothFormatsReadsBackWithTrailerInOnePart) {
    Start();
    struct Case {
        bool original;
        bool watermark;
        int codec;
    };
    const Case cases[] = {{true, true, AviReader::kCodecMjpeg}, {false, false, AviReader::kCodecMsvc}};
    for (const Case& c : cases) {
        fs::remove_all(out_);
        fs::create_directories(out_);
        RemoteExport exporter;
        exporter.SetTimings(FastTimings());
        exporter.Configure(Settings(c.original));
        exporter.SetWatermark(c.watermark);
        exporter.BeginExport();
        RecordingSink sink;
        exporter.BeginChannel(0, kNow, &sink);
        ASSERT_TRUE(sink.WaitFinish(20000));
        exporter.EndChannel();
        EXPECT_TRUE(exporter.space_ok());

        // Three seconds of recording: one file, no part started at the second boundaries.
        const std::string name = "CH01_20130504-93005.avi";
        EXPECT_EQ(FilesIn(out_), std::set<std::string>{name}) << c.original;
        EXPECT_EQ(sink.names, std::vector<std::string>{name});
        EXPECT_EQ(sink.last_total, 2);
        EXPECT_GE(sink.last_elapsed, 1);
        AviReader reader;
        ASSERT_EQ(reader.Open(out_ + "/" + name), 1);
        EXPECT_EQ(reader.codec(), c.codec);
        EXPECT_EQ(reader.width(), 176);
        EXPECT_EQ(reader.height(), 144);
        EXPECT_EQ(reader.audio_format(), AviReader::kAudioPcm);
        bool failed = false;
        int frames = 0, audio = 0;
        for (const auto& chunk : avitest::Chunks(reader, &failed)) {
            if (chunk.kind == AviReader::kChunkVideo && !chunk.data.empty()) ++frames;
            if (chunk.kind == AviReader::kChunkAudio) ++audio;
        }
        EXPECT_FALSE(failed);
        // 15 pictures sent, every one written, the first ones too: the stream's first bytes are
        // parsed. Re-encoded pictures are held on the 30 fps grid, so each gives one chunk or more.
        if (c.original) {
            EXPECT_EQ(frames, 15);
        } else {
            EXPECT_GE(frames, 15);
        }
        EXPECT_GT(audio, 0);
        reader.Close();
        EXPECT_EQ(CheckAviTrailer(out_ + "/" + name), c.watermark);
    }
}

// A range that begins between key frames: the file starts at the first key
// frame, so a player decodes it from its first frame on.
TEST_F(RemoteExportTest, OriginalFramesStartAtAKeyFrame) {
    rec_.h264_key_interval = 7;  // at 5 frames a second, the second second begins mid-group
    Start({}, 4);
    RemoteExportSettings settings = Settings(true);
    settings.cue_in = rec_.start_second + 1;
    RemoteExport exporter;
    exporter.SetTimings(FastTimings());
    exporter.Configure(settings);
    exporter.BeginExport();
    RecordingSink sink;
    exporter.BeginChannel(1, kNow, &sink);
    ASSERT_TRUE(sink.WaitFinish(20000));
    exporter.EndChannel();
    const std::string file = out_ + "/CH02_20130504-93005.avi";
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(avitest::RunCommand("ffmpeg -nostdin -v error -i '" + file + "' -f null - 2>&1"), "");
    AviReader reader;
    ASSERT_EQ(reader.Open(file), 1);
    EXPECT_EQ(reader.codec(), AviReader::kCodecH264);
    bool failed = false;
    int frames = 0;
    for (const auto& chunk : avitest::Chunks(reader, &failed))
        if (chunk.kind == AviReader::kChunkVideo && !chunk.data.empty()) ++frames;
    // Seconds 1-3 hold 15 frames; the two before the key frame at 7 are left out.
    EXPECT_EQ(frames, 13);
}

// Sound reaches the parts whole and in order when the part changes at a
// picture that is no key picture: the running part takes the sound of its own
// format until the key picture opens the next, sound of a new format waits
// for that part, and gets one of its own when the range ends before the key.
TEST_F(RemoteExportTest, SoundOfTheRangeIsAllWrittenWhileAPartWaitsForItsKeyPicture) {
    enum Change { kJump, kSound };
    struct Case {
        const char* name;
        Change change;
        int last;  // the range's last second
        int parts;
        int last_part_frames;
        int last_part_rate;
    };
    constexpr int kSeconds = 10, kChangeAt = 4, kNextKey = 7, kFps = 2;
    const Case cases[] = {
        {"time jump", kJump, 9, 2, (10 - kNextKey) * kFps, 8000},
        {"sound rate", kSound, 9, 2, (10 - kNextKey) * kFps, 16000},
        {"sound rate, range ends before the key", kSound, 5, 2, 0, 16000},
    };
    const CivilDate day{2012, 3, 5};
    const int t0 = 14 * 3600 + 7 * 60;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(tmp_.Sub("avdata"));
        fs::remove_all(out_);
        fs::create_directories(out_);
        // Channel 1: H.264 pictures (their bytes are never decoded in original
        // frames) with key pictures only at the start and three seconds after
        // the change, and two pieces of 16-bit sound a second, each with bytes of its own.
        sample::SampleMinute minute;
        minute.titles = {u"Gate", u"", u"", u""};
        std::vector<uint8_t> recorded;
        int piece = 0;
        for (int i = 0; i < kSeconds; ++i) {
            sample::SampleChannelSecond& ch = minute.seconds[static_cast<size_t>(i)].channels[0].emplace();
            const int64_t second_ms = 1000000 + 1000LL * i + (c.change == kJump && i >= kChangeAt ? 10000 : 0);
            for (int f = 0; f < kFps; ++f) {
                sample::SampleFrame picture;
                picture.kind = diskformat::kKindVideo;
                picture.codec = diskformat::kCodecH264;
                picture.key = f == 0 && (i == 0 || i == kNextKey) ? 1 : 0;
                picture.time_stamp_ms = second_ms + f * 1000 / kFps;
                picture.width = 176;
                picture.height = 144;
                picture.data.assign(300, static_cast<uint8_t>(0x40 + i));
                ch.frames.push_back(std::move(picture));
                sample::SampleFrame sound;
                sound.kind = diskformat::kKindAudio;
                sound.codec = diskformat::kAudioPcm;
                sound.bits = 16;
                sound.channels = 1;
                sound.sample_rate = c.change == kSound && i >= kChangeAt ? 16000 : 8000;
                sound.time_stamp_ms = picture.time_stamp_ms + 1;
                sound.data.assign(800, static_cast<uint8_t>(++piece));
                if (i <= c.last) recorded.insert(recorded.end(), sound.data.begin(), sound.data.end());
                ch.frames.push_back(std::move(sound));
            }
        }
        ASSERT_TRUE(sample::WriteMinuteFile(tmp_.Sub("avdata"), day.year, day.month, day.day, t0 / 3600, t0 / 60 % 60,
                                            minute, nullptr));
        fake::FakeRecorder recorder;
        fake::FakeRecorderOptions options;
        options.data_folder = tmp_.path();
        options.password = "secret";
        std::string error;
        ASSERT_TRUE(recorder.Start(options, &error)) << error;
        HttpGet control;
        ASSERT_EQ(control.Connect("127.0.0.1", "admin", "secret", 3000, 0, recorder.port()), 1);
        std::vector<char> reply(256, 0);
        ASSERT_EQ(control.Fetch("/play/getid", reply.data(), reply.size()), 1);

        RemoteExportSettings settings = Settings(true);
        settings.port = recorder.port();
        settings.session_id = std::atoi(std::string(reply.data()).substr(3).c_str());
        settings.year = day.year;
        settings.month = day.month;
        settings.day = day.day;
        settings.cue_in = t0;
        settings.cue_out = t0 + c.last;
        RemoteExport exporter;
        exporter.SetTimings(FastTimings());
        exporter.Configure(settings);
        exporter.BeginExport();
        RecordingSink sink;
        exporter.BeginChannel(0, kNow, &sink);
        ASSERT_TRUE(sink.WaitFinish(60000));
        exporter.EndChannel();
        recorder.Stop();

        const std::vector<ExportedPart> parts = exporter.parts();
        ASSERT_EQ(static_cast<int>(parts.size()), c.parts);
        std::vector<uint8_t> written;
        int frames = 0;
        for (const ExportedPart& part : parts) {
            EXPECT_TRUE(part.whole) << part.path;
            AviReader reader;
            ASSERT_EQ(reader.Open(part.path), 1) << part.path;
            EXPECT_EQ(reader.audio_bits_per_sample(), 16) << part.path;
            bool failed = false;
            frames = 0;
            for (const auto& chunk : avitest::Chunks(reader, &failed)) {
                if (chunk.kind == AviReader::kChunkVideo && !chunk.data.empty()) ++frames;
                if (chunk.kind == AviReader::kChunkAudio) written.insert(written.end(), chunk.data.begin(), chunk.data.end());
            }
            EXPECT_FALSE(failed);
            if (&part == &parts.back()) {
                EXPECT_EQ(reader.audio_sample_rate(), c.last_part_rate);
            }
        }
        EXPECT_EQ(written.size(), recorded.size());
        EXPECT_TRUE(written == recorded) << "the sound differs from the recorded sound";
        // The last part starts at the key picture, with nothing before it.
        EXPECT_EQ(frames, c.last_part_frames);
    }
}

TEST_F(RemoteExportTest, LowDiskEndsTheChannelAtTheThreshold) {
    Start();
    for (const uint64_t free_bytes : {RemoteExport::kMinFreeBytes, RemoteExport::kMinFreeBytes - 1}) {
        fs::remove_all(out_);
        fs::create_directories(out_);
        RemoteExport exporter;
        exporter.SetTimings(FastTimings());
        exporter.Configure(Settings(true));
        exporter.SetWatermark(true);
        exporter.SetFreeBytesFunction([free_bytes](const std::string&) { return free_bytes; });
        exporter.BeginExport();
        RecordingSink sink;
        exporter.BeginChannel(0, kNow, &sink);
        ASSERT_TRUE(sink.WaitFinish(20000));
        exporter.EndChannel();
        const bool enough = free_bytes == RemoteExport::kMinFreeBytes;
        EXPECT_EQ(exporter.space_ok(), enough);
        // The file written so far is closed normally, trailer included.
        const std::string path = out_ + "/CH01_20130504-93005.avi";
        AviReader reader;
        ASSERT_EQ(reader.Open(path), 1);
        bool failed = false;
        int frames = 0;
        for (const auto& chunk : avitest::Chunks(reader, &failed))
            if (chunk.kind == AviReader::kChunkVideo) ++frames;
        EXPECT_FALSE(failed);
        if (enough)
            EXPECT_GE(frames, 15);
        else
            EXPECT_EQ(frames, 0);
        reader.Close();
        EXPECT_TRUE(CheckAviTrailer(path));
    }
}

TEST_F(RemoteExportTest, CancelWhileExportingLeavesAClosedFile) {
    // The stream stalls after its start, as a slow recorder's would.
    Start({fake::FaultKind::kStallAfter, 0});
    RemoteExport exporter;
    // The silence before a re-send and the reply deadline a minute each: a cancel within a
    // fraction of that ended the download's waits itself, however loaded the machine.
    constexpr int kLongMs = 60000;
    RemoteExportTimings timings = FastTimings();
    timings.resend_steps = kLongMs / timings.idle_read_ms;
    timings.receive_timeout_ms = kLongMs;
    exporter.SetTimings(timings);
    exporter.Configure(Settings(true));
    exporter.SetWatermark(true);
    exporter.BeginExport();
    RecordingSink sink;
    exporter.BeginChannel(0, kNow, &sink);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto before = std::chrono::steady_clock::now();
    exporter.EndChannel();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(kLongMs / 6));
    EXPECT_FALSE(exporter.download_running());
    EXPECT_FALSE(exporter.writer_running());
    for (const std::string& name : FilesIn(out_)) EXPECT_TRUE(CheckAviTrailer(out_ + "/" + name)) << name;
}

TEST_F(RemoteExportTest, RefusingRecorderGivesUpWithoutAFile) {
    Start({fake::FaultKind::kUnavailable, 0});
    RemoteExport exporter;
    exporter.SetTimings(FastTimings());
    exporter.Configure(Settings(true));
    exporter.BeginExport();
    RecordingSink sink;
    exporter.BeginChannel(0, kNow, &sink);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((exporter.download_running() || exporter.writer_running()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(exporter.download_running());
    EXPECT_FALSE(exporter.writer_running());
    // Never taken for a finished channel.
    EXPECT_TRUE(sink.WaitWriterEnded(5000));
    EXPECT_TRUE(exporter.download_gave_up());
    EXPECT_EQ(sink.finishes, 0);
    exporter.EndChannel();
    EXPECT_TRUE(FilesIn(out_).empty());
    EXPECT_EQ(recorder_.streams_started(), 0);
}

TEST_F(RemoteExportTest, RecorderThatStopsMidExportGivesUpWithItsFileClosed) {
    // The writer is held back, so the download waits and the recorder, still
    // sending (more than the sockets hold), cuts the stream.
    Start({fake::FaultKind::kDropAfter, 1}, 60, 25);
    RemoteExport exporter;
    RemoteExportTimings t = FastTimings();
    t.resend_steps = 2;
    t.resend_step_ms = 10;
    t.receive_timeout_ms = 300;
    exporter.SetTimings(t);
    exporter.Configure(Settings(true));
    exporter.SetWatermark(true);
    exporter.BeginExport();
    // The writer is held back so the stream is still running when it is cut.
    std::mutex hold;
    hold.lock();
    struct SlowSink : RecordingSink {
        std::mutex* hold;
        void SetProgress(int elapsed, int total) override {
            std::lock_guard<std::mutex> wait(*hold);
            RecordingSink::SetProgress(elapsed, total);
        }
    } slow;
    slow.hold = &hold;
    exporter.BeginChannel(0, kNow, &slow);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    hold.unlock();
    ASSERT_TRUE(slow.WaitWriterEnded(20000));
    EXPECT_TRUE(exporter.download_gave_up());
    EXPECT_EQ(slow.finishes, 0);
    exporter.EndChannel();
    // What arrived is in a whole, closed file.
    const std::string path = out_ + "/CH01_20130504-93005.avi";
    AviReader reader;
    ASSERT_EQ(reader.Open(path), 1);
    bool failed = false;
    int frames = 0;
    for (const auto& chunk : avitest::Chunks(reader, &failed))
        if (chunk.kind == AviReader::kChunkVideo && !chunk.data.empty()) ++frames;
    EXPECT_FALSE(failed);
    EXPECT_GT(frames, 0);
    EXPECT_LT(frames, 1500);
    reader.Close();
    EXPECT_TRUE(CheckAviTrailer(path));
}

TEST_F(RemoteExportTest, DownloadWaitsForASlowWriterWithABoundedQueue) {
    Start({}, 30);
    RemoteExport exporter;
    RemoteExportTimings t = FastTimings();
    t.queue_full_ms = 0;
    exporter.SetTimings(t);
    exporter.Configure(Settings(true));
    exporter.BeginExport();
    std::mutex hold;
    hold.lock();
    struct SlowSink : RecordingSink {
        std::mutex* hold;
        void SetProgress(int elapsed, int total) override {
            std::lock_guard<std::mutex> wait(*hold);
            RecordingSink::SetProgress(elapsed, total);
        }
    } slow;
    slow.hold = &hold;
    exporter.BeginChannel(0, kNow, &slow);
    size_t most = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(800);
    while (std::chrono::steady_clock::now() < until) {
        most = std::max(most, exporter.queued());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // 180 packets are on their way; the download holds them back at the bound.
    EXPECT_EQ(most, RemoteExport::kQueueLimit);
    hold.unlock();
    ASSERT_TRUE(slow.WaitFinish(20000));
    exporter.EndChannel();
    AviReader reader;
    ASSERT_EQ(reader.Open(out_ + "/CH01_20130504-93005.avi"), 1);
    bool failed = false;
    // Pictures 200 ms apart fill about six slots of the file's 30 per second:
    // a picture lost to the bound would leave twelve.
    int frames = 0, slots_since = -1, widest = 0;
    for (const auto& chunk : avitest::Chunks(reader, &failed)) {
        if (chunk.kind != AviReader::kChunkVideo) continue;
        if (slots_since >= 0) ++slots_since;
        if (chunk.data.empty()) continue;
        widest = std::max(widest, slots_since);
        slots_since = 0;
        ++frames;
    }
    EXPECT_FALSE(failed);
    EXPECT_LT(widest, 11);
    // Every picture of the thirty seconds.
    EXPECT_EQ(frames, 150);
}

}  // namespace
