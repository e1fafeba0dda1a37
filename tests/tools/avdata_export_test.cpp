// The export tool run as people and scripts run it, on the sample disk copy,
// every file it makes checked from outside.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <zlib.h>

#include "checker/avi_reader.h"
#include "tests/export/avi_test_support.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tool_run.h"
#include "tools/common/fake_recorder.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMinute = 14 * 3600 + 7 * 60;

// Every entry of the sample in its stored order, as the manifest lists it.
struct ManifestEntry {
    int second_of_day;
    int channel;
    bool video;
    bool key;
    int64_t stamp;
    size_t size;
    uLong crc;
};

std::vector<ManifestEntry> ReadManifestEntries(const std::string& path) {
    std::vector<ManifestEntry> entries;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::istringstream f(line);
        std::string clock, kind, crc;
        int second, channel, codec, key, width, height;
        int64_t stamp;
        size_t size;
        f >> clock >> second >> channel >> kind >> codec >> key >> stamp >> width >> height >> size >> crc;
        const int minute_of_day = std::stoi(clock.substr(0, 2)) * 60 + std::stoi(clock.substr(3, 2));
        entries.push_back({minute_of_day * 60 + second, channel, kind == "video", key == 1, stamp, size,
                           std::stoul(crc, nullptr, 16)});
    }
    return entries;
}

// Recorded pictures of a channel in [from, to] an export can give: from the
// first key frame on; in original frames, after a jump of more than two
// seconds nothing until the next key frame (no player could decode it).
int64_t ExpectedFrames(const std::vector<ManifestEntry>& manifest, int channel, int from, int to, bool original) {
    int64_t count = 0;
    bool waiting = true;
    int64_t last = 0;
    for (const ManifestEntry& f : manifest) {
        if (!f.video || f.channel != channel || f.second_of_day < from || f.second_of_day > to) continue;
        if (!waiting && original && (f.stamp - last > 2000 || f.stamp < last)) waiting = true;
        last = f.stamp;
        if (waiting && !f.key) continue;
        waiting = false;
        ++count;
    }
    return count;
}

struct Expected {
    const char* video_codec;
    int width, height;
    const char* audio_codec;
    int sample_rate;
};
// What avdata-sample records on its four channels, as the exports write it:
// AAC and G.726 decoded to 16-bit PCM, mu-law kept.
const Expected kChannels[4] = {
    {"h264", 704, 576, "pcm_s16le", 16000},
    {"mpeg4", 352, 288, "pcm_mulaw", 8000},
    {"mjpeg", 352, 288, "pcm_s16le", 8000},
    {"h264", 352, 288, "pcm_s16le", 8000},
};

struct Part {
    std::string path;
    int64_t frames;
};

std::vector<Part> Parts(const std::string& out) {
    std::vector<Part> parts;
    for (const std::string& line : Lines(out)) {
        const size_t tab = line.find('\t');
        EXPECT_NE(tab, std::string::npos) << line;
        if (tab == std::string::npos) continue;
        parts.push_back({line.substr(0, tab), std::stoll(line.substr(tab + 1))});
    }
    return parts;
}

int ChannelOf(const std::string& path) { return std::stoi(fs::path(path).filename().string().substr(2, 2)); }

// Everything a player and the checker see of one exported file.
void CheckFile(const Part& part, bool original, bool watermark) {
    SCOPED_TRACE(part.path);
    const Expected& want = kChannels[ChannelOf(part.path) - 1];
    const auto streams = ProbeStreams(part.path);
    ASSERT_EQ(streams.size(), 2u);
    const auto& video = streams[0];
    const auto& audio = streams[1];
    EXPECT_EQ(video.at("codec_name"), original ? want.video_codec : "msvideo1");
    EXPECT_EQ(std::stoi(video.at("width")), want.width);
    EXPECT_EQ(std::stoi(video.at("height")), want.height);
    EXPECT_EQ(video.at("time_base"), "1/30");
    EXPECT_EQ(audio.at("codec_name"), want.audio_codec);
    EXPECT_EQ(std::stoi(audio.at("sample_rate")), want.sample_rate);
    EXPECT_EQ(audio.at("channels"), "1");
    EXPECT_EQ(DecodeErrors(part.path), "");

    AviReader reader;
    ASSERT_TRUE(reader.Open(part.path));
    bool failed = false;
    int64_t pictures = 0, samples = 0;
    const int bytes_per_sample = std::string(want.audio_codec) == "pcm_mulaw" ? 1 : 2;
    for (const avitest::ReadChunk& chunk : avitest::Chunks(reader, &failed)) {
        if (chunk.kind == AviReader::kChunkVideo && !chunk.data.empty()) ++pictures;
        if (chunk.kind == AviReader::kChunkAudio) samples += static_cast<int64_t>(chunk.data.size()) / bytes_per_sample;
    }
    EXPECT_FALSE(failed);
    // Re-encoded pictures are held by repeating them; original frames appear once each.
    if (original) {
        EXPECT_EQ(pictures, part.frames);
    } else {
        EXPECT_GE(pictures, part.frames);
    }
    // The audio is declared as long as it plays, and plays as long as the pictures.
    EXPECT_EQ(audio.at("nb_frames"), samples > 0 ? std::to_string(samples) : "N/A");
    const double video_seconds = std::stod(video.at("nb_frames")) / 30;
    if (samples > 0) {
        // The writers place each picture two grid slots early, and the last
        // one lasts a recorded frame (at most 1/15 s) past its slot.
        EXPECT_NEAR(static_cast<double>(samples) / want.sample_rate, video_seconds, 4.5 / 30);
    }

    EXPECT_EQ(RunTool("watermark-check " + ShellQuote(part.path)).out, part.path + (watermark ? "\tV\n" : "\tX\n"));
}

class AvdataExportTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        tmp_ = new TempFolder;
        const ToolRun run = RunTool("avdata-sample " + tmp_->path() + " --date 2012-03-05 --start 14:07 --minutes 1 --manifest " +
                                    tmp_->Sub("manifest.txt"));
        ASSERT_EQ(run.status, 0) << run.err;
        entries_ = ReadManifestEntries(tmp_->Sub("manifest.txt"));
    }
    static void TearDownTestSuite() { delete tmp_; }

    std::string Out(const std::string& name) {
        const std::string out = tmp_->Sub(name);
        fs::remove_all(out);
        fs::create_directories(out);
        return out;
    }
    static std::string Data() { return tmp_->Sub("avdata"); }

    static TempFolder* tmp_;
    static std::vector<ManifestEntry> entries_;
};
TempFolder* AvdataExportTest::tmp_ = nullptr;
std::vector<ManifestEntry> AvdataExportTest::entries_;

// The range crosses the sample's gap at seconds 40-44 (a jump: a new part)
// and channel 3's pause at seconds 10-19.
TEST_F(AvdataExportTest, EveryFileOfBothFormatsReadsBackAsDeclared) {
    struct Case {
        const char* format;
        const char* channels;
        const char* options;
        bool watermark;
        int from, to;  // seconds of the minute
    };
    const Case cases[] = {
        {"original", "1,2,3,4", "--watermark", true, 5, 50},
        {"msvideo1", "1,3", "--osd --quality 85", false, 8, 48},
        {"msvideo1", "2,4", "--watermark", true, 36, 47},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + c.channels);
        const std::string out = Out("out");
        char range[64];
        std::snprintf(range, sizeof range, " --from 14:07:%.2d --to 14:07:%.2d", c.from, c.to);
        const ToolRun run = RunTool("avdata-export --data " + Data() + " --date 2012-03-05" + range + " --channels " +
                                    c.channels + " --format " + c.format + " " + c.options + " --out " + out);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err.find("avdata-export:"), std::string::npos) << run.err;  // no complaint
        const bool original = std::string(c.format) == "original";
        const std::vector<Part> parts = Parts(run.out);
        std::set<std::string> listed;
        std::map<int, int64_t> frames;
        for (const Part& part : parts) {
            CheckFile(part, original, c.watermark);
            listed.insert(fs::path(part.path).filename().string());
            frames[ChannelOf(part.path)] += part.frames;
        }
        // Exactly the files written are listed.
        std::set<std::string> present;
        for (const auto& e : fs::directory_iterator(out)) present.insert(e.path().filename().string());
        EXPECT_EQ(listed, present);
        for (const char* ch = c.channels; *ch; ++ch) {
            if (*ch == ',') continue;
            const int channel = *ch - '0';
            EXPECT_EQ(frames[channel], ExpectedFrames(entries_, channel, kMinute + c.from, kMinute + c.to, original))
                << "channel " << channel;
        }
    }
}

// Sound stored as recorded (G.711 on channel 2, PCM on channel 4) reaches
// the parts whole in both AVI formats: what ffmpeg reads out of a channel's
// parts, in their order, is byte for byte the sound the range recorded from
// its first key picture on, across the part change at the sample's gap
// (where an original-frames part waits for a key picture).
TEST_F(AvdataExportTest, SoundStoredAsRecordedIsAllWrittenAcrossPartChanges) {
    struct Channel {
        int channel;
        const char* raw_format;  // ffmpeg's muxer for the stream's bytes as they are
    };
    const Channel channels[] = {{2, "mulaw"}, {4, "s16le"}};
    constexpr int kFrom = kMinute + 5, kTo = kMinute + 50;
    for (const char* format : {"original", "msvideo1"}) {
        SCOPED_TRACE(format);
        const std::string out = Out("sound");
        const ToolRun run = RunTool("avdata-export --data " + Data() +
                                    " --date 2012-03-05 --from 14:07:05 --to 14:07:50 --channels 2,4 --format " +
                                    format + " --out " + out);
        ASSERT_EQ(run.status, 0) << run.err;
        for (const Channel& c : channels) {
            SCOPED_TRACE("channel " + std::to_string(c.channel));
            size_t recorded_bytes = 0;
            uLong recorded_crc = crc32(0, nullptr, 0);
            bool keyed = false;
            for (const ManifestEntry& e : entries_) {
                if (e.channel != c.channel || e.second_of_day < kFrom || e.second_of_day > kTo) continue;
                if (e.video && e.key) keyed = true;
                if (e.video || !keyed) continue;
                recorded_crc = crc32_combine(recorded_crc, e.crc, static_cast<z_off_t>(e.size));
                recorded_bytes += e.size;
            }
            ASSERT_GT(recorded_bytes, 0u);
            std::string written;
            int parts = 0;
            for (const Part& part : Parts(run.out)) {
                if (ChannelOf(part.path) != c.channel) continue;
                ++parts;
                const ToolRun sound = RunShell("ffmpeg -nostdin -v error -i " + ShellQuote(part.path) +
                                               " -map 0:a -c:a copy -f " + c.raw_format + " -");
                EXPECT_EQ(sound.status, 0) << part.path;
                written += sound.out;
            }
            // The gap at seconds 40-44 starts a second part.
            EXPECT_EQ(parts, 2) << run.out;
            EXPECT_EQ(written.size(), recorded_bytes);
            EXPECT_EQ(crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(written.data()),
                            static_cast<uInt>(written.size())),
                      recorded_crc)
                << "the sound written differs from the sound recorded";
        }
    }
}

// The disk copy's third format: WMV2 pictures and 16-bit PCM (mu-law expanded), as long as the range.
TEST_F(AvdataExportTest, AsfFormatWritesWmv2WithPcmAudio) {
    const std::string out = Out("asf");
    const ToolRun run = RunTool("avdata-export --data " + Data() +
                                " --date 2012-03-05 --from 14:07:05 --to 14:07:30 --channels 1,2 --format asf --watermark"
                                " --out " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<Part> parts = Parts(run.out);
    ASSERT_EQ(parts.size(), 2u) << run.out;
    for (const Part& part : parts) {
        SCOPED_TRACE(part.path);
        const int channel = ChannelOf(part.path);
        const Expected& want = kChannels[channel - 1];
        EXPECT_EQ(fs::path(part.path).extension(), ".asf");
        const auto streams = ProbeStreams(part.path);
        ASSERT_EQ(streams.size(), 2u);
        EXPECT_EQ(streams[0].at("codec_name"), "pcm_s16le");
        EXPECT_EQ(std::stoi(streams[0].at("sample_rate")), want.sample_rate);
        EXPECT_EQ(streams[1].at("codec_name"), "wmv2");
        EXPECT_EQ(std::stoi(streams[1].at("width")), want.width);
        EXPECT_EQ(std::stoi(streams[1].at("height")), want.height);
        EXPECT_EQ(DecodeErrors(part.path), "");
        EXPECT_EQ(part.frames, ExpectedFrames(entries_, channel, kMinute + 5, kMinute + 30, false));
        const ToolRun count = RunShell("ffprobe -v error -count_frames -select_streams v -show_entries "
                                       "stream=nb_read_frames -of csv=p=0 " + ShellQuote(part.path));
        EXPECT_EQ(count.out, std::to_string(part.frames) + "\n");
        const ToolRun duration =
            RunShell("ffprobe -v error -show_entries format=duration -of csv=p=0 " + ShellQuote(part.path));
        // As long as its pictures: the sample records 20 a second on channel 1, 15 on channel 2.
        const double fps = channel == 1 ? 20.0 : 15.0;
        EXPECT_NEAR(std::stod(duration.out), static_cast<double>(part.frames) / fps, 0.1) << duration.out;
        EXPECT_EQ(RunTool("watermark-check " + ShellQuote(part.path)).out, part.path + "\tV\n");
    }
}

TEST_F(AvdataExportTest, WrongUseIsRefusedWithAReason) {
    const std::string out = Out("unused");
    const std::string base = "avdata-export --data " + Data() + " --out " + out;
    const std::string range = " --date 2012-03-05 --from 14:07:00 --to 14:07:10 --channels 1 --format original";
    struct Case {
        std::string args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {"avdata-export", 2, "usage"},
        {base + range + " --speed 2", 2, "unknown option --speed"},
        {base + " --date 2012-02-30 --from 14:07:00 --to 14:07:10 --channels 1 --format original", 2, "--date"},
        {base + " --date 2012-03-05 --from 24:00:00 --to 14:07:10 --channels 1 --format original", 2, "--from"},
        {base + " --date 2012-03-05 --from 14:07:10 --to 14:07:00 --channels 1 --format original", 2, "before"},
        {base + " --date 2012-03-05 --from 14:07:00 --to 14:07:10 --channels 1,5 --format original", 2, "--channels"},
        {base + " --date 2012-03-05 --from 14:07:00 --to 14:07:10 --channels 1,1 --format original", 2, "--channels"},
        {base + " --date 2012-03-05 --from 14:07:00 --to 14:07:10 --channels 1 --format wmv", 2, "--format"},
        {base + range + " --quality 0", 2, "--quality"},
        {base + range + " --recorder 127.0.0.1:1", 2, "either"},
        {base + range + " --user admin", 2, "--recorder"},
        {"avdata-export --data " + Data() + range, 2, "--out"},
        {"avdata-export --data " + Data() + range + " --out " + tmp_->Sub("missing"), 1, "not a folder"},
        {"avdata-export --data " + tmp_->Sub("missing") + range + " --out " + out, 1, "not a folder"},
        // Nothing to write is no success: the folder holding the data folder, a day not recorded.
        {"avdata-export --data " + tmp_->path() + range + " --out " + out, 1, "no recordings"},
        {base + " --date 2012-03-06 --from 14:07:00 --to 14:07:10 --channels 1 --format original", 1, "no recordings"},
    };
    for (const Case& c : cases) {
        const ToolRun run = RunTool(c.args);
        EXPECT_EQ(run.status, c.status) << c.args;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << c.args << ": " << run.err;
        EXPECT_EQ(run.out, "") << c.args;
    }
    EXPECT_TRUE(fs::is_empty(out));
}

// Writes that fail (a file-size limit here) end the export with the failure
// told; every file listed as written is whole and the cut one has no trailer.
TEST_F(AvdataExportTest, FailingWritesAreToldAndNoCutFileIsListed) {
    const std::string out = Out("limited");
    const ToolRun run = RunTool("avdata-export --data " + Data() +
                                    " --date 2012-03-05 --from 14:07:00 --to 14:07:59 --channels 4,1 --format original "
                                    "--watermark --out " + out,
                                "ulimit -f 1024;");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("could not be written whole"), std::string::npos) << run.err;
    for (const Part& part : Parts(run.out)) CheckFile(part, true, true);
    // Channel 1 (704 x 576) passes the limit in its first part: nothing of it is listed.
    for (const Part& part : Parts(run.out)) EXPECT_EQ(ChannelOf(part.path), 4);
    std::set<std::string> cut;
    for (const auto& e : fs::directory_iterator(out))
        if (run.out.find(e.path().string() + "\t") == std::string::npos) cut.insert(e.path().string());
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(RunTool("watermark-check " + ShellQuote(*cut.begin())).out, *cut.begin() + "\tX\n");
}

// Where the test may mount: a small file system, below the 50 MB the export
// keeps free, stops the export at once with the reason told.
TEST_F(AvdataExportTest, ASmallFileSystemStopsTheExport) {
    const std::string out = Out("small");
    const ScopedMount small("tmpfs", out, "tmpfs", 0, "size=8m");
    if (!small.ok()) GTEST_SKIP() << "cannot mount here";
    const ToolRun run = RunTool("avdata-export --data " + Data() +
                                " --date 2012-03-05 --from 14:07:00 --to 14:07:59 --channels 1,2 --format original --out " + out);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("less than 50 MB free"), std::string::npos) << run.err;
    for (const Part& part : Parts(run.out)) CheckFile(part, true, false);
}

class AvdataExportRecorderTest : public AvdataExportTest {
protected:
    void Start(fake::Fault fault = {}) {
        fake::FakeRecorderOptions options;
        options.data_folder = Data();
        options.password = "secret";
        options.fault = fault;
        std::string error;
        ASSERT_TRUE(recorder_.Start(options, &error)) << error;
    }
    std::string Recorder() const { return "--recorder 127.0.0.1:" + std::to_string(recorder_.port()); }
    fake::FakeRecorder recorder_;
};

TEST_F(AvdataExportRecorderTest, LogsInAndExportsFromTheRecorder) {
    Start();
    const std::string out = Out("remote");
    const ToolRun run = RunTool("avdata-export " + Recorder() +
                                " --user admin --password secret --date 2012-03-05 --from 14:07:00 --to 14:07:02 "
                                "--channels 4 --format original --watermark --out " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<Part> parts = Parts(run.out);
    ASSERT_FALSE(parts.empty());
    for (const Part& part : parts) {
        EXPECT_EQ(ChannelOf(part.path), 4);
        CheckFile(part, true, true);
    }
    const ToolRun refused = RunTool("avdata-export " + Recorder() +
                                    " --user admin --password wrong --date 2012-03-05 --from 14:07:00 --to 14:07:02 "
                                    "--channels 4 --format original --out " + out);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("Login failed!"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out, "");
}

TEST_F(AvdataExportRecorderTest, ARecorderThatFallsSilentEndsTheRun) {
    Start({fake::FaultKind::kStallAfter, 0});
    const std::string out = Out("silent");
    const ToolRun run = RunTool("avdata-export " + Recorder() +
                                " --user admin --password secret --date 2012-03-05 --from 14:07:00 --to 14:07:30 "
                                "--channels 1 --format original --out " + out);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("stopped answering"), std::string::npos) << run.err;
    for (const Part& part : Parts(run.out)) CheckFile(part, true, false);
}

}  // namespace

// A steady 256 kbit/s link whose first picture of each second is 100 kB (over 3 s a picture,
// twice the silence the download allows), and a recorder that sends on past the range
// without its end packet: both exports end by themselves with the range's pictures whole.
TEST_F(AvdataExportRecorderTest, ASlowLinkAndAnEndlessStreamExportTheRangeWhole) {
    fake::Fault slow(fake::FaultKind::kSlowLink);
    slow.kbits = 256;
    struct Case {
        const char* name;
        fake::Fault fault;
        int to;  // second of the minute
    } cases[] = {{"slow link", slow, 1}, {"no end packet", fake::Fault(fake::FaultKind::kNoEndMarker), 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake::FakeRecorder recorder;
        fake::FakeRecorderOptions options;
        options.data_folder = Data();
        options.password = "secret";
        options.fault = c.fault;
        std::string error;
        ASSERT_TRUE(recorder.Start(options, &error)) << error;
        const std::string out = Out(std::string("ranged-") + (c.to == 1 ? "slow" : "endless"));
        char range[64];
        std::snprintf(range, sizeof range, " --from 14:07:00 --to 14:07:%.2d", c.to);
        const ToolRun run = RunTool("avdata-export --recorder 127.0.0.1:" + std::to_string(recorder.port()) +
                                    " --user admin --password secret --date 2012-03-05" + range +
                                    " --channels 4 --format original --out " + out);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err.find("avdata-export:"), std::string::npos) << run.err;
        int64_t frames = 0;
        for (const Part& part : Parts(run.out)) {
            CheckFile(part, true, false);
            frames += part.frames;
        }
        EXPECT_EQ(frames, ExpectedFrames(entries_, 4, kMinute, kMinute + c.to, true));
        recorder.Stop();
    }
}
