#include "media/media_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "tools/common/sample_media.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Picture {
    int width = 0;
    int height = 0;
    Bytes bgr;  // top row first
};

// Smooth content that lossy coders keep well, moving with the frame index, and a
// bright band across the top rows so a picture turned upside down fails.
Picture MakePicture(int width, int height, int frame) {
    Picture p{width, height, Bytes(static_cast<size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* px = &p.bgr[(static_cast<size_t>(y) * width + x) * 3];
            const bool band = y < height / 6;
            px[0] = static_cast<uint8_t>(band ? 40 : 60 + 120 * y / height);
            px[1] = static_cast<uint8_t>(band ? 220 : 40 + (150 * ((x + 2 * frame) % width)) / width);
            px[2] = static_cast<uint8_t>(band ? 230 : 100);
        }
    }
    return p;
}

double MeanAbsDiff(const uint8_t* a, const uint8_t* b, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) sum += std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
    return sum / static_cast<double>(n);
}

// Encodes synthetic pictures with libavcodec's own encoders, one packet per picture.
class VideoEncoder {
public:
    VideoEncoder(int codec_id, int width, int height) : width_(width), height_(height) {
        const AVCodec* codec = nullptr;
        if (codec_id == kCodecIdH264) codec = avcodec_find_encoder_by_name("libx264");
        if (codec_id == kCodecIdMpeg4) codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
        if (codec_id == kCodecIdMjpeg) codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
        if (!codec) return;
        context_ = avcodec_alloc_context3(codec);
        context_->width = width;
        context_->height = height;
        context_->time_base = AVRational{1, 25};
        context_->framerate = AVRational{25, 1};
        context_->gop_size = 10;
        context_->max_b_frames = 0;
        context_->thread_count = 1;
        const bool jpeg = codec_id == kCodecIdMjpeg;
        context_->pix_fmt = jpeg ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
        if (codec_id == kCodecIdH264) {
            av_opt_set(context_->priv_data, "preset", "ultrafast", 0);
            av_opt_set(context_->priv_data, "tune", "zerolatency", 0);
            av_opt_set(context_->priv_data, "crf", "20", 0);
        } else {
            context_->flags |= AV_CODEC_FLAG_QSCALE;
            context_->global_quality = FF_QP2LAMBDA * 3;
        }
        if (avcodec_open2(context_, codec, nullptr) < 0) {
            avcodec_free_context(&context_);
            return;
        }
        frame_ = av_frame_alloc();
        frame_->format = context_->pix_fmt;
        frame_->width = width;
        frame_->height = height;
        av_frame_get_buffer(frame_, 0);
        packet_ = av_packet_alloc();
        // The full range of the JPEG format must be known when the converter is
        // made: a range set afterwards is lost on swscale's unscaled path.
        to_yuv_ = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, context_->pix_fmt,
                                 SWS_BICUBIC, nullptr, nullptr, nullptr);
    }
    ~VideoEncoder() {
        sws_freeContext(to_yuv_);
        av_packet_free(&packet_);
        av_frame_free(&frame_);
        avcodec_free_context(&context_);
    }
    bool ok() const { return context_ != nullptr; }

    Bytes Encode(const Picture& picture) {
        av_frame_make_writable(frame_);
        const uint8_t* src[1] = {picture.bgr.data()};
        const int stride[1] = {picture.width * 3};
        sws_scale(to_yuv_, src, stride, 0, picture.height, frame_->data, frame_->linesize);
        frame_->pts = pts_++;
        Bytes out;
        if (avcodec_send_frame(context_, frame_) < 0) return out;
        while (avcodec_receive_packet(context_, packet_) == 0) {
            out.insert(out.end(), packet_->data, packet_->data + packet_->size);
            av_packet_unref(packet_);
        }
        return out;
    }

private:
    int width_;
    int height_;
    int64_t pts_ = 0;
    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* to_yuv_ = nullptr;
};

// A 7-byte ADTS header (no CRC) in front of each raw AAC frame, as the recorder sends them.
Bytes WithAdts(const uint8_t* raw, int size, int rate_index, int channels) {
    const int length = size + 7;
    Bytes out = {0xFF, 0xF1, static_cast<uint8_t>((1 << 6) | (rate_index << 2) | (channels >> 2)),
                 static_cast<uint8_t>(((channels & 3) << 6) | (length >> 11)),
                 static_cast<uint8_t>((length >> 3) & 0xFF), static_cast<uint8_t>(((length & 7) << 5) | 0x1F),
                 0xFC};
    out.insert(out.end(), raw, raw + size);
    return out;
}

// A sine tone encoded with libavcodec's aac or g726 encoder.
std::vector<Bytes> EncodeTone(AVCodecID id, int rate, int channels, int seconds_x10, double hz) {
    std::vector<Bytes> packets;
    const AVCodec* codec = avcodec_find_encoder(id);
    if (!codec) return packets;
    AVCodecContext* c = avcodec_alloc_context3(codec);
    c->sample_rate = rate;
    av_channel_layout_default(&c->ch_layout, channels);
    c->sample_fmt = id == AV_CODEC_ID_AAC ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16;
    c->bit_rate = id == AV_CODEC_ID_AAC ? 48000 : 32000;
    c->bits_per_coded_sample = 4;
    if (avcodec_open2(c, codec, nullptr) < 0) {
        avcodec_free_context(&c);
        return packets;
    }
    const int per_frame = c->frame_size > 0 ? c->frame_size : 320;
    AVFrame* f = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    const int total = rate * seconds_x10 / 10;
    int rate_index = rate == 16000 ? 8 : rate == 8000 ? 11 : 3;
    auto drain = [&] {
        while (avcodec_receive_packet(c, pkt) == 0) {
            if (id == AV_CODEC_ID_AAC)
                packets.push_back(WithAdts(pkt->data, pkt->size, rate_index, channels));
            else
                packets.emplace_back(pkt->data, pkt->data + pkt->size);
            av_packet_unref(pkt);
        }
    };
    for (int done = 0; done < total; done += per_frame) {
        f->nb_samples = per_frame;
        f->format = c->sample_fmt;
        av_channel_layout_copy(&f->ch_layout, &c->ch_layout);
        f->sample_rate = rate;
        av_frame_get_buffer(f, 0);
        for (int i = 0; i < per_frame; ++i) {
            const double v = 0.25 * std::sin(2 * M_PI * hz * (done + i) / rate);
            for (int ch = 0; ch < channels; ++ch) {
                if (c->sample_fmt == AV_SAMPLE_FMT_FLTP)
                    reinterpret_cast<float*>(f->data[ch])[i] = static_cast<float>(v);
                else
                    reinterpret_cast<int16_t*>(f->data[0])[i * channels + ch] = static_cast<int16_t>(v * 32767);
            }
        }
        f->pts = done;
        avcodec_send_frame(c, f);
        av_frame_unref(f);
        drain();
    }
    avcodec_send_frame(c, nullptr);
    drain();
    av_packet_free(&pkt);
    av_frame_free(&f);
    avcodec_free_context(&c);
    return packets;
}

// Frequency from the rising crossings of one channel of interleaved samples,
// measured between the first and the last so the coder's near-silent start
// does not count; the hysteresis ignores its noise.
double ToneHz(const std::vector<int16_t>& s, int channels, int channel, int rate) {
    int crossings = 0;
    size_t first = 0, last = 0;
    bool low = false;
    const size_t frames = s.size() / channels;
    for (size_t i = 0; i < frames; ++i) {
        const int v = s[i * channels + channel];
        if (v < -500) low = true;
        if (low && v > 500) {
            if (crossings++ == 0) first = i;
            last = i;
            low = false;
        }
    }
    if (crossings < 2) return 0;
    return (crossings - 1) * static_cast<double>(rate) / static_cast<double>(last - first);
}

class MediaDecoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { av_log_set_level(AV_LOG_QUIET); }
};

struct VideoCase {
    const char* name;
    int codec_id;
    int width;
    int height;
};

TEST_F(MediaDecoderTest, VideoDecodesToTopDownBgr) {
    const VideoCase cases[] = {
        {"h264", kCodecIdH264, 176, 144}, {"h264", kCodecIdH264, 704, 576},
        {"mpeg4", kCodecIdMpeg4, 176, 144}, {"mpeg4", kCodecIdMpeg4, 98, 66},
        {"mjpeg", kCodecIdMjpeg, 176, 144}, {"mjpeg", kCodecIdMjpeg, 98, 66},
    };
    for (const VideoCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.width) + "x" + std::to_string(c.height));
        VideoEncoder encoder(c.codec_id, c.width, c.height);
        ASSERT_TRUE(encoder.ok());
        MediaDecoder decoder;
        ASSERT_EQ(1, decoder.OpenVideo(c.codec_id, c.width, c.height));
        const size_t n = static_cast<size_t>(c.width) * c.height * 3;
        EXPECT_EQ(n, decoder.picture_size());
        // Exactly the picture size: any write beyond it trips the sanitizer.
        Bytes out(n);
        for (int frame = 0; frame < 12; ++frame) {
            const Picture source = MakePicture(c.width, c.height, frame);
            const Bytes packet = encoder.Encode(source);
            ASSERT_FALSE(packet.empty());
            size_t size = 0;
            ASSERT_EQ(1, decoder.DecodeVideo(packet.data(), packet.size(), out.data(), out.size(), &size))
                << "frame " << frame;
            EXPECT_EQ(n, size);
            // Lossy coding of a small picture stays well below this; a range or
            // colour-matrix mix-up goes far above it.
            EXPECT_LT(MeanAbsDiff(out.data(), source.bgr.data(), n), 7.0) << "frame " << frame;
            // The bright band is on top: the first row is yellow-ish, not blue-ish.
            const uint8_t* top = &out[(static_cast<size_t>(2) * c.width + c.width / 2) * 3];
            EXPECT_GT(top[2], 180);
            EXPECT_LT(top[0], 90);

            // Written bottom-up through a negative stride, into exactly the
            // picture's bytes: the same picture, last row first.
            const Bytes next = encoder.Encode(MakePicture(c.width, c.height, frame + 100));
            Bytes flipped(n);
            const ptrdiff_t row = static_cast<ptrdiff_t>(c.width) * 3;
            ASSERT_EQ(1, decoder.DecodeVideo(next.data(), next.size(), flipped.data() + (c.height - 1) * row, -row,
                                             &size));
            const Picture expected = MakePicture(c.width, c.height, frame + 100);
            Bytes expected_bottom_up(n);
            for (int y = 0; y < c.height; ++y)
                std::copy_n(expected.bgr.data() + y * row, row, expected_bottom_up.data() + (c.height - 1 - y) * row);
            EXPECT_LT(MeanAbsDiff(flipped.data(), expected_bottom_up.data(), n), 7.0) << "frame " << frame;
            const uint8_t* stored_top = &flipped[(static_cast<size_t>(c.height - 3) * c.width + c.width / 2) * 3];
            EXPECT_GT(stored_top[2], 180);
            EXPECT_LT(stored_top[0], 90);
        }
    }
}

TEST_F(MediaDecoderTest, PictureOfAnotherSizeIsRefusedNotScaledIntoTheBuffer) {
    for (int codec_id : {kCodecIdH264, kCodecIdMpeg4, kCodecIdMjpeg}) {
        // Not much shorter than opened: the MJPEG decoder takes such a picture
        // for one field of an interlaced frame.
        for (auto [w, h] : {std::pair{352, 288}, std::pair{160, 120}}) {
            SCOPED_TRACE(std::to_string(codec_id) + " stream " + std::to_string(w) + "x" + std::to_string(h));
            VideoEncoder encoder(codec_id, w, h);
            ASSERT_TRUE(encoder.ok());
            const Bytes key = encoder.Encode(MakePicture(w, h, 0));
            MediaDecoder decoder;
            ASSERT_EQ(1, decoder.OpenVideo(codec_id, 176, 144));
            Bytes out(static_cast<size_t>(176) * 144 * 3, 0xAB);
            size_t size = 12345;
            EXPECT_EQ(0, decoder.DecodeVideo(key.data(), key.size(), out.data(), out.size(), &size));
            EXPECT_EQ(12345u, size);
            EXPECT_EQ(w, decoder.refused_width());
            EXPECT_EQ(h, decoder.refused_height());
            EXPECT_EQ(Bytes(out.size(), 0xAB), out);
            // The caller reopens with the reported size and gets the picture.
            ASSERT_EQ(1, decoder.OpenVideo(codec_id, decoder.refused_width(), decoder.refused_height()));
            Bytes big(static_cast<size_t>(w) * h * 3);
            EXPECT_EQ(1, decoder.DecodeVideo(key.data(), key.size(), big.data(), big.size(), &size));
            EXPECT_EQ(big.size(), size);
        }
    }
}

TEST_F(MediaDecoderTest, OutputBufferSmallerThanPictureIsRefused) {
    VideoEncoder encoder(kCodecIdMjpeg, 64, 48);
    ASSERT_TRUE(encoder.ok());
    const Bytes packet = encoder.Encode(MakePicture(64, 48, 0));
    MediaDecoder decoder;
    ASSERT_EQ(1, decoder.OpenVideo(kCodecIdMjpeg, 64, 48));
    Bytes out(64 * 48 * 3 - 1);
    size_t size = 0;
    EXPECT_EQ(0, decoder.DecodeVideo(packet.data(), packet.size(), out.data(), out.size(), &size));
}

TEST_F(MediaDecoderTest, OpenVideoRefusesBadCodecsAndSizes) {
    struct Case {
        int codec_id, width, height, result;
    } cases[] = {
        {kCodecIdH264, 4096, 4096, 1}, {kCodecIdH264, 4097, 16, 0}, {kCodecIdMpeg4, 16, 5000, 0},
        {kCodecIdMjpeg, 0, 16, 0},     {kCodecIdMjpeg, 16, -2, 0},  {kCodecIdH264, INT32_MAX, INT32_MAX, 0},
        {27, 176, 144, 0},  // today's FFmpeg number for H.264 is not ours
        {kCodecIdAac, 176, 144, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.codec_id) + " " + std::to_string(c.width) + "x" + std::to_string(c.height));
        MediaDecoder decoder;
        EXPECT_EQ(c.result, decoder.OpenVideo(c.codec_id, c.width, c.height));
        EXPECT_EQ(c.result == 1, decoder.IsOpen());
    }
}

// A JPEG whose frame header claims a huge picture must not make the decoder
// build one: it is refused before any picture is allocated or converted.
TEST_F(MediaDecoderTest, JpegClaimingHugePictureIsRefused) {
    VideoEncoder encoder(kCodecIdMjpeg, 64, 48);
    ASSERT_TRUE(encoder.ok());
    Bytes packet = encoder.Encode(MakePicture(64, 48, 0));
    size_t sof = 0;
    for (size_t i = 0; i + 9 < packet.size(); ++i)
        if (packet[i] == 0xFF && packet[i + 1] == 0xC0) sof = i;
    ASSERT_NE(0u, sof);
    for (int side : {60000, 8000}) {
        Bytes huge = packet;
        huge[sof + 5] = huge[sof + 7] = static_cast<uint8_t>(side >> 8);
        huge[sof + 6] = huge[sof + 8] = static_cast<uint8_t>(side & 0xFF);
        MediaDecoder decoder;
        ASSERT_EQ(1, decoder.OpenVideo(kCodecIdMjpeg, 64, 48));
        Bytes out(64 * 48 * 3);
        size_t size = 0;
        EXPECT_EQ(0, decoder.DecodeVideo(huge.data(), huge.size(), out.data(), out.size(), &size));
        EXPECT_EQ(0, decoder.refused_width());
    }
}

TEST_F(MediaDecoderTest, GarbageGivesFailureAndDecodingRecoversAtNextKeyFrame) {
    std::mt19937 random(7);
    for (int codec_id : {kCodecIdH264, kCodecIdMpeg4, kCodecIdMjpeg}) {
        SCOPED_TRACE(codec_id);
        VideoEncoder encoder(codec_id, 176, 144);
        ASSERT_TRUE(encoder.ok());
        const Bytes key = encoder.Encode(MakePicture(176, 144, 0));
        MediaDecoder decoder;
        Bytes out(176 * 144 * 3);
        size_t size = 0;
        EXPECT_EQ(0, decoder.DecodeVideo(key.data(), key.size(), out.data(), out.size(), &size));  // not open
        ASSERT_EQ(1, decoder.OpenVideo(codec_id, 176, 144));
        EXPECT_EQ(0, decoder.DecodeVideo(nullptr, 100, out.data(), out.size(), &size));
        EXPECT_EQ(0, decoder.DecodeVideo(key.data(), 0, out.data(), out.size(), &size));
        EXPECT_EQ(0, decoder.DecodeVideo(key.data(), key.size(), nullptr, out.size(), &size));
        for (size_t length : {1u, 4u, 7u, 100u, 5000u, 70000u}) {
            Bytes junk(length);
            for (uint8_t& b : junk) b = static_cast<uint8_t>(random());
            if (length >= 5) junk[0] = junk[1] = junk[2] = 0, junk[3] = 1;  // looks like a start code
            EXPECT_EQ(0, decoder.DecodeVideo(junk.data(), junk.size(), out.data(), out.size(), &size));
        }
        // A key frame cut short, then the whole one.
        decoder.DecodeVideo(key.data(), key.size() / 3, out.data(), out.size(), &size);
        EXPECT_EQ(1, decoder.DecodeVideo(key.data(), key.size(), out.data(), out.size(), &size));
    }
}

TEST_F(MediaDecoderTest, CloseAndReleaseAreSafeInAnyState) {
    MediaDecoder decoder;
    EXPECT_EQ(1, decoder.Close());
    EXPECT_EQ(1, decoder.Release());
    ASSERT_EQ(1, decoder.OpenAudio(32000, 8000, 1, kCodecIdG726));
    EXPECT_NE(nullptr, decoder.audio_output());
    EXPECT_EQ(1, decoder.Close());
    EXPECT_FALSE(decoder.IsOpen());
    EXPECT_NE(nullptr, decoder.audio_output());  // kept until Release
    EXPECT_EQ(1, decoder.Release());
    EXPECT_EQ(nullptr, decoder.audio_output());
    EXPECT_EQ(1, decoder.Close());
}

TEST_F(MediaDecoderTest, AacFromAdtsDecodesToInterleavedPcm) {
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        const std::vector<Bytes> packets = EncodeTone(AV_CODEC_ID_AAC, 16000, channels, 10, 500);
        ASSERT_GT(packets.size(), 10u);
        const int rate_figure = AacAdtsSampleRate(packets[0].data(), packets[0].size());
        EXPECT_EQ(16000, rate_figure);
        MediaDecoder decoder;
        ASSERT_EQ(1, decoder.OpenAudio(rate_figure, 16000, channels, kCodecIdAac));
        EXPECT_TRUE(std::all_of(decoder.audio_output(), decoder.audio_output() + kAudioOutputBytes,
                                [](uint8_t b) { return b == 0; }));
        std::vector<int16_t> pcm;
        for (const Bytes& p : packets) {
            size_t bytes = 0;
            ASSERT_EQ(1, decoder.DecodeAudio(p.data(), p.size(), &bytes));
            EXPECT_EQ(0u, bytes % (2 * channels));
            EXPECT_LE(bytes, 1024u * 2 * channels);
            const int16_t* s = reinterpret_cast<const int16_t*>(decoder.audio_output());
            pcm.insert(pcm.end(), s, s + bytes / 2);
        }
        EXPECT_EQ(16000, decoder.audio_sample_rate());
        EXPECT_EQ(channels, decoder.audio_channels());
        EXPECT_GT(pcm.size(), 14000u * channels);
        for (int ch = 0; ch < channels; ++ch) EXPECT_NEAR(500.0, ToneHz(pcm, channels, ch, 16000), 15.0);
        int peak = 0;
        for (int16_t v : pcm) peak = std::max(peak, std::abs(static_cast<int>(v)));
        EXPECT_NEAR(0.25 * 32767, peak, 0.05 * 32767);
    }
}

TEST_F(MediaDecoderTest, G726At32kbitDecodesTone) {
    const std::vector<Bytes> packets = EncodeTone(AV_CODEC_ID_ADPCM_G726, 8000, 1, 10, 400);
    ASSERT_FALSE(packets.empty());
    MediaDecoder decoder;
    ASSERT_EQ(1, decoder.OpenAudio(32000, 8000, 1, kCodecIdG726));
    std::vector<int16_t> pcm;
    for (const Bytes& p : packets) {
        size_t bytes = 0;
        ASSERT_EQ(1, decoder.DecodeAudio(p.data(), p.size(), &bytes));
        EXPECT_EQ(p.size() * 2 * 2, bytes);  // 4 bits per sample in, 16 out
        const int16_t* s = reinterpret_cast<const int16_t*>(decoder.audio_output());
        pcm.insert(pcm.end(), s, s + bytes / 2);
    }
    EXPECT_NEAR(400.0, ToneHz(pcm, 1, 0, 8000), 10.0);
}

// The sample recording's audio (what the recorder writes to its disk) decodes
// the way the audio path uses this decoder: G.726 nibbles swapped back first.
TEST_F(MediaDecoderTest, SampleRecordingAudioDecodes) {
    for (auto codec : {sample::SampleAudioCodec::Aac, sample::SampleAudioCodec::G726}) {
        std::string error;
        auto encoder = sample::SampleAudioEncoder::Create(codec, &error);
        ASSERT_TRUE(encoder) << error;
        const bool aac = codec == sample::SampleAudioCodec::Aac;
        MediaDecoder decoder;
        std::vector<int16_t> pcm;
        for (int i = 0; i < 40; ++i) {
            sample::EncodedPacket packet;
            int duration_ms = 0;
            ASSERT_TRUE(encoder->EncodeNext(&packet, &duration_ms));
            if (!decoder.IsOpen()) {
                const int figure = aac ? AacAdtsSampleRate(packet.data.data(), packet.data.size()) : 32000;
                ASSERT_EQ(1, decoder.OpenAudio(figure > 0 ? figure : 16000, encoder->sample_rate(),
                                               encoder->channels(), aac ? kCodecIdAac : kCodecIdG726));
            }
            if (!aac)
                for (uint8_t& b : packet.data) b = static_cast<uint8_t>(b << 4 | b >> 4);
            size_t bytes = 0;
            ASSERT_EQ(1, decoder.DecodeAudio(packet.data.data(), packet.data.size(), &bytes));
            const int16_t* s = reinterpret_cast<const int16_t*>(decoder.audio_output());
            pcm.insert(pcm.end(), s, s + bytes / 2);
        }
        ASSERT_GT(pcm.size(), 1000u);
        const int channels = encoder->channels();
        EXPECT_NEAR(sample::kSampleToneHz, ToneHz(pcm, channels, 0, encoder->sample_rate()), 20.0)
            << (aac ? "aac" : "g726");
    }
}

TEST_F(MediaDecoderTest, AudioNeverWritesBeyondTheGivenCapacity) {
    const std::vector<Bytes> packets = EncodeTone(AV_CODEC_ID_AAC, 16000, 2, 3, 500);
    ASSERT_FALSE(packets.empty());
    MediaDecoder decoder;
    ASSERT_EQ(1, decoder.OpenAudio(16000, 16000, 2, kCodecIdAac));
    for (size_t capacity : {1u, 3u, 100u, 4095u}) {
        for (const Bytes& p : packets) {
            Bytes out(capacity);  // exact size: the sanitizer sees any overrun
            size_t bytes = 99;
            EXPECT_EQ(1, decoder.DecodeAudio(p.data(), p.size(), out.data(), out.size(), &bytes));
            EXPECT_LE(bytes, capacity);
            EXPECT_EQ(0u, bytes % 4);
        }
    }
}

TEST_F(MediaDecoderTest, AudioFailuresAreZeroResults) {
    MediaDecoder decoder;
    size_t bytes = 7;
    const uint8_t some[4] = {1, 2, 3, 4};
    EXPECT_EQ(0, decoder.DecodeAudio(some, sizeof some, &bytes));  // never opened
    EXPECT_EQ(0u, bytes);
    EXPECT_EQ(0, decoder.OpenAudio(32000, 0, 1, kCodecIdG726));      // no rate: no bits per sample
    EXPECT_EQ(0, decoder.OpenAudio(32000, 8000, 1, kCodecIdH264));   // not an audio codec
    EXPECT_EQ(0, decoder.OpenAudio(32000, 8000, 1, 0x15000));        // unknown
    EXPECT_EQ(0, decoder.OpenAudio(32000, 8000, 2, kCodecIdG726));   // G.726 is mono only
    EXPECT_FALSE(decoder.IsOpen());
    // AAC without a rate still opens: the ADTS headers carry it.
    EXPECT_EQ(1, decoder.OpenAudio(16000, 0, 0, kCodecIdAac));

    std::mt19937 random(3);
    for (int codec : {kCodecIdAac, kCodecIdG726}) {
        ASSERT_EQ(1, decoder.OpenAudio(codec == kCodecIdAac ? 16000 : 32000, 8000, 1, codec));
        for (size_t length : {1u, 7u, 64u, 3000u}) {
            Bytes junk(length);
            for (uint8_t& b : junk) b = static_cast<uint8_t>(random());
            junk[0] = 0xFF;
            if (length > 1) junk[1] = 0xF1;
            decoder.DecodeAudio(junk.data(), junk.size(), &bytes);
            EXPECT_LE(bytes, kAudioOutputBytes);
        }
        EXPECT_EQ(0, decoder.DecodeAudio(nullptr, 10, &bytes));
    }
}

TEST(AacAdtsSampleRateTest, KnownIndexesOnly) {
    const int expected[16] = {96000, -1, 64000, 48000, -1, 32000, -1, -1, 16000, -1, -1, 8000, -1, -1, -1, -1};
    for (int index = 0; index < 16; ++index) {
        const uint8_t header[4] = {0xFF, 0xF1, static_cast<uint8_t>(0x40 | index << 2 | 0x01), 0x80};
        EXPECT_EQ(expected[index], AacAdtsSampleRate(header, sizeof header)) << index;
    }
    struct Case {
        uint8_t b0, b1;
        int result;
    } headers[] = {{0xFF, 0xF0, 16000}, {0xFF, 0xF9, 16000}, {0xFE, 0xF1, -1},
                   {0xFF, 0xE1, -1},    {0xFF, 0xF3, -1},    {0xFF, 0xF5, -1}};
    for (const Case& c : headers) {
        const uint8_t header[3] = {c.b0, c.b1, 8 << 2};
        EXPECT_EQ(c.result, AacAdtsSampleRate(header, sizeof header)) << std::hex << int(c.b1);
    }
    const uint8_t header[3] = {0xFF, 0xF1, 8 << 2};
    EXPECT_EQ(-1, AacAdtsSampleRate(header, 2));
    EXPECT_EQ(-1, AacAdtsSampleRate(nullptr, 3));
}

}  // namespace
