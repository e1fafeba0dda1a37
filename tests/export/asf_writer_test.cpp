#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "export/asf_writer.h"
#include "export/local_export.h"
#include "tests/export/avi_test_support.h"
#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;
using avitest::ReadAll;
using avitest::RunCommand;

namespace {

// A picture whose top half is red and bottom half blue, rows top first.
std::vector<uint8_t> RedOverBlue(int width, int height) {
    std::vector<uint8_t> p(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* px = &p[(static_cast<size_t>(y) * width + x) * 3];
            const bool top = y < height / 2;
            px[0] = top ? 0 : 255;  // blue
            px[1] = 0;
            px[2] = top ? 255 : 0;  // red
        }
    return p;
}

std::vector<uint8_t> RowsReversed(const std::vector<uint8_t>& p, int width, int height) {
    std::vector<uint8_t> r(p.size());
    const size_t row = static_cast<size_t>(width) * 3;
    for (int y = 0; y < height; ++y)
        std::copy_n(p.begin() + static_cast<ptrdiff_t>(y * row), row, r.begin() + static_cast<ptrdiff_t>((height - 1 - y) * row));
    return r;
}

std::string Probe(const std::string& path, const std::string& what) {
    return RunCommand("ffprobe -v error " + what + " -of default=noprint_wrappers=1 '" + path + "' 2>&1");
}

// The first decoded picture, 24-bit blue-green-red, top row first.
std::vector<uint8_t> FirstPicture(const std::string& path) {
    const std::string raw = path + ".bgr";
    RunCommand("ffmpeg -v error -i '" + path + "' -frames:v 1 -f rawvideo -pix_fmt bgr24 -y '" + raw + "' 2>&1");
    std::vector<uint8_t> data = ReadAll(raw);
    fs::remove(raw);
    return data;
}

TEST(AsfWriter, FileIsWmv2WithPcmOfTheWritersParametersAndLastsAsStamped) {
    TempFolder dir;
    struct Case {
        int width, height, rate, channels, bits;
        std::string audio_codec;
    };
    // 175 wide: the coder takes even sizes only, the file is still whole.
    const Case cases[] = {
        {352, 240, 8000, 1, 16, "pcm_s16le"},
        {175, 144, 16000, 2, 16, "pcm_s16le"},
        {176, 144, 11025, 1, 8, "pcm_u8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " " << c.rate << " Hz");
        const std::string path = dir.Sub("out" + std::to_string(c.width) + ".asf");
        AsfWriter w;
        ASSERT_EQ(w.Open(path, c.width, c.height, c.rate, c.channels, c.bits), 1);
        const std::vector<uint8_t> picture = RedOverBlue(c.width, c.height);
        // 50 pictures 40 ms apart from an arbitrary first stamp: two seconds.
        const int block = c.channels * c.bits / 8;
        const std::vector<uint8_t> audio(static_cast<size_t>(c.rate / 25) * block, c.bits == 8 ? 0x80 : 0);
        for (int i = 0; i < 50; ++i) {
            w.WriteVideoFrame(picture.data(), static_cast<int>(picture.size()), c.width, c.height, 700000 + 40 * i, 1);
            w.WriteAudio(audio.data(), static_cast<int>(audio.size()));
        }
        EXPECT_EQ(w.video_count(), 50);
        EXPECT_TRUE(w.Close());
        EXPECT_FALSE(w.IsOpen());

        EXPECT_EQ(Probe(path, "-show_entries format=format_name"), "format_name=asf\n");
        const std::string streams =
            Probe(path, "-count_frames -show_entries stream=codec_name,sample_rate,channels,nb_read_frames");
        EXPECT_NE(streams.find("codec_name=" + c.audio_codec + "\nsample_rate=" + std::to_string(c.rate) +
                               "\nchannels=" + std::to_string(c.channels)),
                  std::string::npos)
            << streams;
        EXPECT_NE(streams.find("codec_name=wmv2\nnb_read_frames=50"), std::string::npos) << streams;
        const double duration = std::atof(Probe(path, "-show_entries format=duration").substr(9).c_str());
        EXPECT_NEAR(duration, 2.0, 0.05);
        EXPECT_EQ(RunCommand("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "");
    }
}

TEST(AsfWriter, FlipFlagSaysWhichRowComesFirst) {
    TempFolder dir;
    const int w = 160, h = 120;
    const std::vector<uint8_t> top_first = RedOverBlue(w, h);
    const std::vector<uint8_t> bottom_first = RowsReversed(top_first, w, h);
    struct Case {
        const std::vector<uint8_t>* picture;
        uint8_t flip;
    };
    for (const Case& c : {Case{&top_first, 1}, Case{&bottom_first, 0}}) {
        SCOPED_TRACE(testing::Message() << "flip " << int(c.flip));
        const std::string path = dir.Sub("flip" + std::to_string(c.flip) + ".asf");
        AsfWriter writer;
        ASSERT_EQ(writer.Open(path, w, h, 8000, 1, 16), 1);
        for (int i = 0; i < 3; ++i)
            writer.WriteVideoFrame(c.picture->data(), static_cast<int>(c.picture->size()), w, h, 33 * i, c.flip);
        ASSERT_TRUE(writer.Close());
        const std::vector<uint8_t> shown = FirstPicture(path);
        ASSERT_EQ(shown.size(), top_first.size());
        const uint8_t* top = &shown[(static_cast<size_t>(10) * w + w / 2) * 3];
        const uint8_t* bottom = &shown[(static_cast<size_t>(h - 10) * w + w / 2) * 3];
        EXPECT_GT(top[2], 200);
        EXPECT_LT(top[0], 60);
        EXPECT_GT(bottom[0], 200);
        EXPECT_LT(bottom[2], 60);
    }
}

TEST(AsfWriter, RefusesWhatItCannotWriteAndLeavesNoFile) {
    TempFolder dir;
    struct Case {
        std::string path;
        int width, height, rate, channels, bits;
    };
    const Case cases[] = {
        {dir.Sub("size.asf"), 0, 240, 8000, 1, 16},
        {dir.Sub("huge.asf"), 320, 100000, 8000, 1, 16},
        {dir.Sub("bits.asf"), 320, 240, 8000, 1, 4},
        {dir.Sub("rate.asf"), 320, 240, 0, 1, 16},
        {dir.Sub("channels.asf"), 320, 240, 8000, 0, 16},
        {dir.Sub("no/such/folder/x.asf"), 320, 240, 8000, 1, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        AsfWriter w;
        EXPECT_EQ(w.Open(c.path, c.width, c.height, c.rate, c.channels, c.bits), 0);
        const std::vector<uint8_t> picture(320 * 240 * 3);
        w.WriteVideoFrame(picture.data(), static_cast<int>(picture.size()), 320, 240, 0, 1);
        w.WriteAudio(picture.data(), 100);
        EXPECT_FALSE(w.Close());
        EXPECT_FALSE(fs::exists(c.path));
    }
    // A picture shorter than its size says is not read.
    AsfWriter w;
    const std::string path = dir.Sub("short.asf");
    ASSERT_EQ(w.Open(path, 320, 240, 8000, 1, 16), 1);
    const std::vector<uint8_t> small(100);
    w.WriteVideoFrame(small.data(), static_cast<int>(small.size()), 320, 240, 0, 1);
    EXPECT_EQ(w.video_count(), 0);
    EXPECT_TRUE(w.Close());
}

class EndSink : public LocalExportProgressSink {
public:
    void SetProgress(int) override {}
    void SetCaption(const std::string& name) override {
        std::lock_guard<std::mutex> lock(mutex_);
        caption = name;
    }
    void EndDialog() override {
        std::lock_guard<std::mutex> lock(mutex_);
        ended = true;
        cv_.notify_all();
    }
    bool Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(30), [this] { return ended; });
    }
    std::string caption;
    bool ended = false;

private:
    std::mutex mutex_;
    std::condition_variable cv_;
};

TEST(AsfWriter, LocalExportFormatTwoWritesAsfParts) {
    TempFolder tmp;
    SmallRecording rec;
    const std::string data = WriteSmallRecording(tmp.path(), rec);
    ASSERT_FALSE(data.empty());
    const std::string out = tmp.Sub("out");
    fs::create_directories(out);
    RecordSource source;
    source.path = data;
    source.year = rec.date.year;
    source.month = rec.date.month;
    source.day = rec.date.day;

    LocalExport exporter;
    exporter.Configure(source, rec.start_second, rec.start_second + rec.seconds - 1, out);
    exporter.BeginExport();
    std::tm now{};
    now.tm_year = 2013 - 1900;
    now.tm_mon = 4;
    now.tm_mday = 13;
    now.tm_hour = 9;
    now.tm_min = 15;
    now.tm_sec = 2;
    EndSink sink;
    exporter.BeginChannel(0, LocalExport::kFormatAsf, 80, false, now, &sink);
    ASSERT_TRUE(sink.Wait());
    exporter.EndChannel(1);

    const std::string name = "CH01_20130513-91502.asf";
    EXPECT_EQ(sink.caption, name);
    const std::string path = out + "/" + name;
    ASSERT_TRUE(fs::exists(path));
    const std::string streams = Probe(path, "-count_frames -show_entries stream=codec_name,width,height,nb_read_frames");
    EXPECT_NE(streams.find("codec_name=wmv2\nwidth=176\nheight=144\nnb_read_frames=15"), std::string::npos) << streams;
    EXPECT_NE(streams.find("codec_name=pcm_s16le"), std::string::npos) << streams;
    EXPECT_EQ(RunCommand("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "");
}

}  // namespace
