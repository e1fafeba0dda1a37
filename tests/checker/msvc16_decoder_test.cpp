#include "checker/msvc16_decoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "checker/avi_reader.h"
#include "tests/support/skip.h"
#include "tests/support/temp_folder.h"

namespace {

std::vector<uint8_t> Words(std::initializer_list<uint16_t> words) {
    std::vector<uint8_t> v;
    for (uint16_t w : words) {
        v.push_back(static_cast<uint8_t>(w));
        v.push_back(static_cast<uint8_t>(w >> 8));
    }
    return v;
}

// The 4x4 block at block column bx, block row by (0 = top), top row first.
std::vector<uint16_t> Block(const std::vector<uint16_t>& picture, int width, int bx, int by) {
    std::vector<uint16_t> b;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) b.push_back(picture[(by * 4 + y) * width + bx * 4 + x]);
    return b;
}

std::vector<uint16_t> Filled(uint16_t c) { return std::vector<uint16_t>(16, c); }

// An 8x8 picture is four blocks: bottom-left, bottom-right, top-left, top-right in stream order.
TEST(DecodeMsvc16, BlockOrderAndFills) {
    std::vector<uint16_t> picture(64, 0x1111);
    const auto data = Words({0x8001, 0x8002, 0x9C00, 0xFFFF});
    Msvc16BlockCounts counts;
    EXPECT_TRUE(DecodeMsvc16(picture.data(), data.data(), data.size(), 8, 8, &counts));
    EXPECT_EQ(Block(picture, 8, 0, 1), Filled(0x8001));
    EXPECT_EQ(Block(picture, 8, 1, 1), Filled(0x8002));
    EXPECT_EQ(Block(picture, 8, 0, 0), Filled(0x9C00));
    EXPECT_EQ(Block(picture, 8, 1, 0), Filled(0xFFFF));
    EXPECT_EQ(counts.one_colour, 4u);

    uint8_t bgr[64 * 3];
    Rgb555ToBgr24(bgr, picture.data(), 8, 8);
    const uint8_t red[] = {0x00, 0x00, 0x38};  // 0x9C00: red 7 x 8
    EXPECT_EQ(std::memcmp(bgr, red, 3), 0);
    const uint8_t white[] = {0xF8, 0xF8, 0xF8};  // bit 15 ignored
    EXPECT_EQ(std::memcmp(bgr + 3 * 4, white, 3), 0);
}

TEST(Rgb555ToBgr24, SplitsTheFields) {
    const uint16_t in[] = {0x001F, 0x03E0, 0x7C00, 0x0421, 0x8000, 0x5295};
    const uint8_t want[] = {0xF8, 0, 0, 0, 0xF8, 0, 0, 0, 0xF8, 8, 8, 8, 0, 0, 0, 0xA8, 0xA0, 0xA0};
    uint8_t out[sizeof(want)];
    Rgb555ToBgr24(out, in, 3, 2);
    EXPECT_EQ(std::vector<uint8_t>(out, out + sizeof(out)), std::vector<uint8_t>(want, want + sizeof(want)));
}

TEST(DecodeMsvc16, TwoAndEightColourFlags) {
    const uint16_t p = 0x0123, q = 0x0456;
    struct Case {
        uint16_t flags;
        std::vector<uint16_t> want;  // top row first
    };
    const Case two[] = {
        {0x0001, {q, q, q, q, q, q, q, q, q, q, q, q, p, q, q, q}},
        {0x0000, Filled(q)},
        {0x1234, {p, q, q, q, q, p, q, q, p, p, q, q, q, q, p, q}},
    };
    for (const Case& c : two) {
        std::vector<uint16_t> picture(16, 0);
        const auto data = Words({c.flags, p, q});
        Msvc16BlockCounts counts;
        EXPECT_TRUE(DecodeMsvc16(picture.data(), data.data(), data.size(), 4, 4, &counts));
        EXPECT_EQ(picture, c.want) << std::hex << c.flags;
        EXPECT_EQ(counts.two_colour, 1u);
    }

    const uint16_t c0 = 0x8010, c1 = 0x11, c2 = 0x12, c3 = 0x13, c4 = 0x14, c5 = 0x15, c6 = 0x16, c7 = 0x17;
    const Case eight[] = {
        {0x00FF, {c5, c5, c7, c7, c5, c5, c7, c7, c0, c0, c2, c2, c0, c0, c2, c2}},
        {0x0F0F, {c5, c5, c7, c7, c4, c4, c6, c6, c1, c1, c3, c3, c0, c0, c2, c2}},
        {0x7000, {c4, c4, c6, c7, c5, c5, c7, c7, c1, c1, c3, c3, c1, c1, c3, c3}},
    };
    for (const Case& c : eight) {
        std::vector<uint16_t> picture(16, 0);
        const auto data = Words({c.flags, c0, c1, c2, c3, c4, c5, c6, c7});
        Msvc16BlockCounts counts;
        EXPECT_TRUE(DecodeMsvc16(picture.data(), data.data(), data.size(), 4, 4, &counts));
        EXPECT_EQ(picture, c.want) << std::hex << c.flags;
        EXPECT_EQ(counts.eight_colour, 1u);
    }
}

TEST(DecodeMsvc16, SkipsKeepThePreviousFrame) {
    // 16x4: four blocks in one row.
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        std::vector<uint16_t> colours;  // per block after decoding; 7 = unchanged
        uint64_t skipped;
        bool complete;
    };
    const Case cases[] = {
        {"0x8402 skips this block and the next", Words({0x8402, 0x8001, 0x8002}), {7, 7, 0x8001, 0x8002}, 2, true},
        {"0x8401 skips one", Words({0x8001, 0x8401, 0x8002, 0x8003}), {0x8001, 7, 0x8002, 0x8003}, 1, true},
        {"0x8400 skips the rest of the frame", Words({0x8001, 0x8400, 0x8002}), {0x8001, 7, 7, 7}, 3, true},
        {"a skip past the last block ends the frame", Words({0x8001, 0x87FF}), {0x8001, 7, 7, 7}, 3, true},
        {"data run out", Words({0x8001, 0x0000, 0x1234}), {0x8001, 7, 7, 7}, 0, false},
        {"eight colours cut short", Words({0x8001, 0x0000, 0x8000, 1, 2, 3}), {0x8001, 7, 7, 7}, 0, false},
        {"odd trailing byte", [] {
             auto v = Words({0x8001, 0x8002});
             v.push_back(0x85);
             return v;
         }(), {0x8001, 0x8002, 7, 7}, 0, false},
        {"no data", {}, {7, 7, 7, 7}, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint16_t> picture(64, 7);
        // An exact-size copy, so a read past the end is caught by the sanitizer.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[c.data.size()]);
        if (!c.data.empty()) std::memcpy(exact.get(), c.data.data(), c.data.size());
        Msvc16BlockCounts counts;
        EXPECT_EQ(DecodeMsvc16(picture.data(), exact.get(), c.data.size(), 16, 4, &counts), c.complete);
        for (int b = 0; b < 4; ++b) EXPECT_EQ(Block(picture, 16, b, 0), Filled(c.colours[b])) << b;
        EXPECT_EQ(counts.skipped, c.skipped);
    }
}

TEST(DecodeMsvc16, RemainderPixelsAndBadSizesAreLeftAlone) {
    // 10x6: two whole blocks in the top four rows; columns 8-9 and rows 4-5 are not coded.
    std::vector<uint16_t> picture(60, 7);
    const auto data = Words({0x8001, 0x8002, 0x8003});
    EXPECT_TRUE(DecodeMsvc16(picture.data(), data.data(), data.size(), 10, 6));
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x) {
            const uint16_t want = y >= 4 || x >= 8 ? 7 : (x < 4 ? 0x8001 : 0x8002);
            EXPECT_EQ(picture[y * 10 + x], want) << x << "," << y;
        }
    EXPECT_FALSE(DecodeMsvc16(picture.data(), data.data(), data.size(), 0, 4));
    EXPECT_FALSE(DecodeMsvc16(picture.data(), data.data(), data.size(), 4, -4));
    EXPECT_FALSE(DecodeMsvc16(nullptr, data.data(), data.size(), 4, 4));
    // Smaller than one block: nothing to code, nothing touched.
    std::vector<uint16_t> tiny(9, 7);
    EXPECT_TRUE(DecodeMsvc16(tiny.data(), data.data(), data.size(), 3, 3));
    EXPECT_EQ(tiny, std::vector<uint16_t>(9, 7));
}

// libavcodec's decoder of the same format, for the cross-check.
class ReferenceDecoder {
public:
    ReferenceDecoder(int width, int height) : width_(width), height_(height), last_(size_t(width) * height, 0) {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MSVIDEO1);
        if (!codec) return;
        ctx_ = avcodec_alloc_context3(codec);
        ctx_->width = width;
        ctx_->height = height;
        ctx_->bits_per_coded_sample = 16;
        if (avcodec_open2(ctx_, codec, nullptr) < 0) avcodec_free_context(&ctx_);
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
    }
    ~ReferenceDecoder() {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&ctx_);
    }
    bool ok() const { return ctx_ != nullptr; }

    // The picture after this frame; a frame it rejects leaves the last one.
    const std::vector<uint16_t>& Decode(const uint8_t* data, size_t n) {
        if (n == 0 || av_new_packet(packet_, static_cast<int>(n)) < 0) return last_;
        std::memcpy(packet_->data, data, n);
        const int sent = avcodec_send_packet(ctx_, packet_);
        av_packet_unref(packet_);
        if (sent < 0 || avcodec_receive_frame(ctx_, frame_) < 0) return last_;
        EXPECT_EQ(frame_->format, AV_PIX_FMT_RGB555LE);
        for (int y = 0; y < height_; ++y)
            std::memcpy(&last_[size_t(y) * width_], frame_->data[0] + size_t(y) * frame_->linesize[0], 2 * width_);
        av_frame_unref(frame_);
        return last_;
    }

private:
    int width_, height_;
    std::vector<uint16_t> last_;
    AVCodecContext* ctx_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
};

bool HaveFfmpeg() { return std::system("test -x /usr/bin/ffmpeg") == 0; }

std::string MakeVideo(const TempFolder& tmp, const std::string& name, const std::string& source) {
    const std::string path = tmp.Sub(name);
    const std::string cmd = "/usr/bin/ffmpeg -nostdin -v error -y -f lavfi -i '" + source +
                            "' -t 3 -c:v msvideo1 " + path;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return path;
}

TEST(DecodeMsvc16, MatchesLibavcodecOnEncodedVideo) {
    if (!HaveFfmpeg()) SKIP_WITHOUT_INSTALLED("no /usr/bin/ffmpeg");
    TempFolder tmp;
    const std::string sources[] = {
        "testsrc2=size=176x144:rate=15",
        "mandelbrot=size=176x144:rate=15",
        "testsrc2=size=176x144:rate=15,noise=alls=30:allf=t",
    };
    Msvc16BlockCounts total;
    int frames = 0;
    for (const std::string& source : sources) {
        SCOPED_TRACE(source);
        AviReader reader;
        ASSERT_EQ(reader.Open(MakeVideo(tmp, "v.avi", source)), 1);
        ASSERT_EQ(reader.codec(), AviReader::kCodecMsvc);
        const int w = reader.width(), h = reader.height();
        ReferenceDecoder reference(w, h);
        ASSERT_TRUE(reference.ok());
        std::vector<uint16_t> picture(size_t(w) * h, 0);
        std::vector<uint8_t> ours(picture.size() * 3), theirs(picture.size() * 3);
        std::vector<uint8_t> chunk(4000000);
        uint32_t n = 0;
        int frame = 0;
        while (reader.ReadChunk(chunk.data(), chunk.size(), &n)) {
            if (reader.last_chunk_kind() != AviReader::kChunkVideo) continue;
            Msvc16BlockCounts counts;
            EXPECT_TRUE(DecodeMsvc16(picture.data(), chunk.data(), n, w, h, &counts)) << frame;
            EXPECT_EQ(counts.skipped + counts.one_colour + counts.two_colour + counts.eight_colour,
                      uint64_t(w / 4) * (h / 4));
            total.skipped += counts.skipped;
            total.one_colour += counts.one_colour;
            total.two_colour += counts.two_colour;
            total.eight_colour += counts.eight_colour;
            const std::vector<uint16_t>& want = reference.Decode(chunk.data(), n);
            Rgb555ToBgr24(ours.data(), picture.data(), w, h);
            Rgb555ToBgr24(theirs.data(), want.data(), w, h);
            ASSERT_EQ(ours, theirs) << "frame " << frame;
            ++frame;
        }
        EXPECT_FALSE(reader.failed());
        EXPECT_EQ(frame, 45);
        frames += frame;
    }
    EXPECT_EQ(frames, 135);
    // Proof that every kind of block took part in the comparison.
    EXPECT_GT(total.skipped, 0u);
    EXPECT_GT(total.one_colour, 0u);
    EXPECT_GT(total.two_colour, 0u);
    EXPECT_GT(total.eight_colour, 0u);
    std::printf("blocks: %llu skipped, %llu one-colour, %llu two-colour, %llu eight-colour\n",
                static_cast<unsigned long long>(total.skipped), static_cast<unsigned long long>(total.one_colour),
                static_cast<unsigned long long>(total.two_colour),
                static_cast<unsigned long long>(total.eight_colour));
}

// Every cut of a real frame stops within the data it was given.
TEST(DecodeMsvc16, EveryCutOfARealFrameStaysInItsData) {
    if (!HaveFfmpeg()) SKIP_WITHOUT_INSTALLED("no /usr/bin/ffmpeg");
    TempFolder tmp;
    AviReader reader;
    ASSERT_EQ(reader.Open(MakeVideo(tmp, "v.avi", "mandelbrot=size=64x48:rate=15")), 1);
    std::vector<uint8_t> chunk(4000000);
    uint32_t n = 0;
    ASSERT_EQ(reader.ReadChunk(chunk.data(), chunk.size(), &n), 1);
    const int w = reader.width(), h = reader.height();
    std::vector<uint16_t> whole(size_t(w) * h, 0);
    ASSERT_TRUE(DecodeMsvc16(whole.data(), chunk.data(), n, w, h));
    // A key frame codes every block, so it comes up short until its last block
    // is whole; from there on (trailing words) it decodes to the same picture.
    uint32_t needed = n + 1;
    for (uint32_t cut = 0; cut <= n; ++cut) {
        std::unique_ptr<uint8_t[]> exact(new uint8_t[cut]);
        std::memcpy(exact.get(), chunk.data(), cut);
        std::vector<uint16_t> picture(whole.size(), 0);
        const bool complete = DecodeMsvc16(picture.data(), exact.get(), cut, w, h);
        if (complete && needed > n) needed = cut;
        EXPECT_EQ(complete, cut >= needed) << cut;
        if (complete) {
            EXPECT_EQ(picture, whole) << cut;
        }
    }
    EXPECT_LE(needed, n);
    EXPECT_GT(needed, n / 2);
}

}  // namespace
