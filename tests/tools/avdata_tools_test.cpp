// The sample writer and the dump, run as programs the way scripts use them.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "media/minute_file.h"
#include "platform/program_folder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tool_run.h"

namespace {

// Decodes one packet with libavcodec; true when it gave a picture or samples.
bool DecodesWithLibavcodec(AVCodecID id, const std::vector<uint8_t>& data, int sample_rate = 0, int bits = 0) {
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec) return false;
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (sample_rate) {
        ctx->sample_rate = sample_rate;
        av_channel_layout_default(&ctx->ch_layout, 1);
        ctx->bits_per_coded_sample = bits;
    }
    bool ok = avcodec_open2(ctx, codec, nullptr) == 0;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<uint8_t> padded(data);
    padded.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    packet->data = padded.data();
    packet->size = static_cast<int>(data.size());
    ok = ok && avcodec_send_packet(ctx, packet) == 0;
    avcodec_send_packet(ctx, nullptr);
    ok = ok && avcodec_receive_frame(ctx, frame) == 0 && (frame->width > 0 || frame->nb_samples > 0);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    return ok;
}

class AvdataToolsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        tmp_ = new TempFolder;
        const ToolRun run = RunTool("avdata-sample " + tmp_->path() + " --date 2012-03-05 --start 14:07 --minutes 1 --manifest " +
                                tmp_->Sub("manifest.txt"));
        ASSERT_EQ(run.status, 0);
        ASSERT_EQ(run.out, tmp_->Sub("avdata") + "\n");
    }
    static void TearDownTestSuite() { delete tmp_; }
    static TempFolder* tmp_;
};
TempFolder* AvdataToolsTest::tmp_ = nullptr;

TEST_F(AvdataToolsTest, DumpListsEveryFrameTheWriterWrote) {
    std::ifstream in(tmp_->Sub("manifest.txt"));
    std::vector<std::string> written;
    for (std::string line; std::getline(in, line);) written.push_back(line.substr(6));  // drop "HH:MM\t"
    ASSERT_GT(written.size(), 60u * 4 * 15 / 2);
    for (const std::string& folder : {tmp_->path(), tmp_->Sub("avdata")}) {
        const ToolRun dump = RunTool("avdata-dump minute " + folder + " 2012 3 5 14 7");
        ASSERT_EQ(dump.status, 0);
        EXPECT_EQ(Lines(dump.out), written);
    }
    // Every kind of content the sample promises.
    std::map<std::string, int> codecs;
    for (const std::string& line : written) {
        std::istringstream fields(line);
        std::string second, channel, kind, codec;
        fields >> second >> channel >> kind >> codec;
        ++codecs[kind + codec];
    }
    for (const char* k : {"video0", "video1", "video2", "audio3", "audio5", "audio6", "audio7"})
        EXPECT_GT(codecs[k], 0) << k;
    EXPECT_NE(written.front().find("\tEntrance"), std::string::npos);
}

TEST_F(AvdataToolsTest, DayIndexAndErrors) {
    const ToolRun day = RunTool("avdata-dump day " + tmp_->path() + " 2012 3 5");
    ASSERT_EQ(day.status, 0);
    const int base = 14 * 3600 + 7 * 60;
    EXPECT_EQ(Lines(day.out), (std::vector<std::string>{std::to_string(base) + "\t" + std::to_string(base + 39) + "\t15\t1",
                                                        std::to_string(base + 45) + "\t" + std::to_string(base + 59) +
                                                            "\t15\t1"}));
    EXPECT_EQ(RunTool("avdata-dump day " + tmp_->path() + " 2012 3 6").status, 1);
    EXPECT_EQ(RunTool("avdata-dump minute " + tmp_->path() + " 2012 3 5 14 8").status, 1);
    EXPECT_EQ(RunTool("avdata-dump day " + tmp_->path() + " 2012 x 5").status, 2);
}

// Fewer recorded seconds per minute: the day index and the minute file both end there.
TEST(AvdataSample, SecondsCutEachMinute) {
    TempFolder tmp;
    const std::string manifest = tmp.Sub("manifest.txt");
    ASSERT_EQ(RunTool("avdata-sample " + tmp.path() + " --date 2012-03-05 --start 00:00 --minutes 1 --seconds 6 --manifest " +
                      manifest).status,
              0);
    const ToolRun day = RunTool("avdata-dump day " + tmp.path() + " 2012 3 5");
    EXPECT_EQ(Lines(day.out), std::vector<std::string>{"0\t5\t15\t1"});
    std::ifstream in(manifest);
    int last_second = -1;
    for (std::string line; std::getline(in, line);) last_second = std::max(last_second, std::stoi(line.substr(6)));
    EXPECT_EQ(last_second, 5);
    EXPECT_EQ(RunTool("avdata-sample " + tmp.path() + " --seconds 61").status, 2);
    // An option in the folder's place is refused, not taken for a folder to write.
    const ToolRun help = RunTool("avdata-sample --help", "cd " + ShellQuote(tmp.path()) + " &&");
    EXPECT_EQ(help.status, 2);
    EXPECT_NE(help.err.find("usage"), std::string::npos) << help.err;
    EXPECT_FALSE(std::filesystem::exists(tmp.Sub("--help")));
}

TEST_F(AvdataToolsTest, FramesOfEveryCodecDecode) {
    MinuteFile file;
    ASSERT_TRUE(file.Open(tmp_->Sub("avdata"), 2012, 3, 5, 14, 7));
    std::map<std::pair<int, int>, bool> seen;  // (kind, disk codec) -> decoded
    for (int c = 0; c < 4; ++c) {
        ChannelSecondBlock block;
        int64_t pos = 0;
        ASSERT_TRUE(file.ReadBlock(0, c, &block, &pos));
        for (const MinuteFrame& f : file.ReadFrames(block, pos)) {
            const auto key = std::make_pair(int(f.entry.kind), int(f.entry.codec));
            if (seen.count(key)) continue;
            bool ok = false;
            switch (f.entry.codec | (f.entry.kind << 8)) {
                case diskformat::kCodecMjpeg: ok = DecodesWithLibavcodec(AV_CODEC_ID_MJPEG, f.data); break;
                case diskformat::kCodecMpeg4: ok = DecodesWithLibavcodec(AV_CODEC_ID_MPEG4, f.data); break;
                case diskformat::kCodecH264: ok = DecodesWithLibavcodec(AV_CODEC_ID_H264, f.data); break;
                case 0x100 | diskformat::kAudioAac: ok = DecodesWithLibavcodec(AV_CODEC_ID_AAC, f.data); break;
                case 0x100 | diskformat::kAudioG711A:
                case 0x100 | diskformat::kAudioG711B:
                    ok = DecodesWithLibavcodec(AV_CODEC_ID_PCM_MULAW, f.data, f.entry.sample_rate);
                    break;
                case 0x100 | diskformat::kAudioG726: {
                    std::vector<uint8_t> swapped(f.data);
                    for (uint8_t& b : swapped) b = static_cast<uint8_t>(b << 4 | b >> 4);
                    ok = DecodesWithLibavcodec(AV_CODEC_ID_ADPCM_G726, swapped, f.entry.sample_rate, 4);
                    break;
                }
                case 0x100 | diskformat::kAudioPcm: ok = f.data.size() % 2 == 0 && f.entry.bits == 16; break;
            }
            EXPECT_TRUE(ok) << "kind " << key.first << " codec " << key.second;
            seen[key] = ok;
        }
    }
    EXPECT_EQ(seen.size(), 7u);
}

}  // namespace
