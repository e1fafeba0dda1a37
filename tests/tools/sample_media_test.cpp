#include "tools/common/sample_media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

namespace {

using sample::EncodedPacket;
using sample::SampleAudioCodec;
using sample::SampleAudioEncoder;
using sample::SampleVideoCodec;
using sample::SampleVideoEncoder;

struct CodecContext {
    AVCodecContext* ctx = nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    ~CodecContext() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
    }
};

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> luma;

    double MeanDiff(const Picture& o, int x0, int y0, int x1, int y1) const {
        double sum = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                sum += std::abs(luma[y * width + x] - o.luma[y * width + x]);
        return sum / ((x1 - x0) * (y1 - y0));
    }
};

AVCodecID VideoId(SampleVideoCodec c) {
    switch (c) {
        case SampleVideoCodec::Mjpeg: return AV_CODEC_ID_MJPEG;
        case SampleVideoCodec::Mpeg4: return AV_CODEC_ID_MPEG4;
        case SampleVideoCodec::H264: return AV_CODEC_ID_H264;
    }
    return AV_CODEC_ID_NONE;
}

// Opened the way the player opens it: codec id and size, no extra data, and
// one picture expected back for every packet.
std::vector<Picture> DecodeVideo(SampleVideoCodec codec, int width, int height,
                                 const std::vector<EncodedPacket>& packets) {
    std::vector<Picture> out;
    CodecContext d;
    const AVCodec* dec = avcodec_find_decoder(VideoId(codec));
    d.ctx = avcodec_alloc_context3(dec);
    d.ctx->width = width;
    d.ctx->height = height;
    d.ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    if (avcodec_open2(d.ctx, dec, nullptr) < 0) {
        ADD_FAILURE() << "decoder did not open";
        return out;
    }
    for (size_t i = 0; i < packets.size(); ++i) {
        d.packet->data = const_cast<uint8_t*>(packets[i].data.data());
        d.packet->size = static_cast<int>(packets[i].data.size());
        EXPECT_EQ(avcodec_send_packet(d.ctx, d.packet), 0) << "packet " << i;
        if (avcodec_receive_frame(d.ctx, d.frame) != 0) {
            ADD_FAILURE() << "no picture for packet " << i;
            continue;
        }
        Picture p;
        p.width = d.frame->width;
        p.height = d.frame->height;
        p.luma.resize(static_cast<size_t>(p.width) * p.height);
        for (int y = 0; y < p.height; ++y)
            std::copy_n(d.frame->data[0] + y * d.frame->linesize[0], p.width, &p.luma[y * p.width]);
        out.push_back(std::move(p));
        av_frame_unref(d.frame);
    }
    return out;
}

std::vector<EncodedPacket> EncodeVideo(SampleVideoEncoder& enc, int frames, const std::string& text,
                                       int first = 0) {
    std::vector<EncodedPacket> packets;
    for (int i = first; i < first + frames; ++i) {
        EncodedPacket p;
        EXPECT_TRUE(enc.Encode(i, text, &p)) << enc.last_error();
        EXPECT_FALSE(p.data.empty());
        packets.push_back(std::move(p));
    }
    return packets;
}

const char* Name(SampleVideoCodec c) {
    switch (c) {
        case SampleVideoCodec::Mjpeg: return "mjpeg";
        case SampleVideoCodec::Mpeg4: return "mpeg4";
        case SampleVideoCodec::H264: return "h264";
    }
    return "?";
}

constexpr SampleVideoCodec kVideoCodecs[] = {SampleVideoCodec::Mjpeg, SampleVideoCodec::Mpeg4,
                                             SampleVideoCodec::H264};

TEST(SampleVideoEncoder, Libx264IsAvailable) {
    EXPECT_NE(avcodec_find_encoder_by_name("libx264"), nullptr);
}

TEST(SampleVideoEncoder, PacketsDecodeOneToOneWithKeysAtTheInterval) {
    for (SampleVideoCodec codec : kVideoCodecs) {
        SCOPED_TRACE(Name(codec));
        std::string error;
        auto enc = SampleVideoEncoder::Create(codec, 176, 144, 25, 5, 1, &error);
        ASSERT_NE(enc, nullptr) << error;
        const auto packets = EncodeVideo(*enc, 12, "CH1 2026-12-10 14:07:31");
        for (int i = 0; i < 12; ++i) {
            const bool want_key = codec == SampleVideoCodec::Mjpeg || i % 5 == 0;
            EXPECT_EQ(packets[i].key, want_key) << "frame " << i;
        }
        const auto pictures = DecodeVideo(codec, 176, 144, packets);
        ASSERT_EQ(pictures.size(), packets.size());
        for (const Picture& p : pictures) {
            EXPECT_EQ(p.width, 176);
            EXPECT_EQ(p.height, 144);
        }
        // Moving bars and box: a quarter second later the picture has changed.
        EXPECT_GT(pictures[0].MeanDiff(pictures[6], 0, 0, 176, 144), 10.0);

        // A decoder that joins at a later key frame needs no earlier packet.
        const std::vector<EncodedPacket> from_key(packets.begin() + 5, packets.end());
        EXPECT_EQ(DecodeVideo(codec, 176, 144, from_key).size(), from_key.size());
    }
}

TEST(SampleVideoEncoder, FullSizePictureDecodesToItsSize) {
    for (SampleVideoCodec codec : kVideoCodecs) {
        SCOPED_TRACE(Name(codec));
        std::string error;
        auto enc = SampleVideoEncoder::Create(codec, 704, 576, 15, 15, 4, &error);
        ASSERT_NE(enc, nullptr) << error;
        const auto packets = EncodeVideo(*enc, 2, "CH4 2026-12-10 14:07:31");
        const auto pictures = DecodeVideo(codec, 704, 576, packets);
        ASSERT_EQ(pictures.size(), 2u);
        EXPECT_EQ(pictures[1].width, 704);
        EXPECT_EQ(pictures[1].height, 576);
    }
}

TEST(SampleVideoEncoder, FirstPacketIsKeyWhateverTheFrameNumber) {
    std::string error;
    auto enc = SampleVideoEncoder::Create(SampleVideoCodec::H264, 176, 144, 25, 10, 1, &error);
    ASSERT_NE(enc, nullptr) << error;
    const auto packets = EncodeVideo(*enc, 9, "", 3);  // frames 3..11
    for (size_t i = 0; i < packets.size(); ++i)
        EXPECT_EQ(packets[i].key, i == 0 || i == 7) << "packet " << i;
    EXPECT_EQ(DecodeVideo(SampleVideoCodec::H264, 176, 144, packets).size(), packets.size());
}

TEST(SampleVideoEncoder, TextAndChannelAreBurntIn) {
    std::string error;
    auto ch1 = SampleVideoEncoder::Create(SampleVideoCodec::Mjpeg, 352, 288, 25, 1, 1, &error);
    auto ch2 = SampleVideoEncoder::Create(SampleVideoCodec::Mjpeg, 352, 288, 25, 1, 2, &error);
    ASSERT_TRUE(ch1 && ch2) << error;
    std::vector<EncodedPacket> packets;
    for (const char* text : {"CH1 2026-12-10 14:07:31", "CH1 2026-12-10 14:07:38"}) {
        packets.emplace_back();
        ASSERT_TRUE(ch1->Encode(7, text, &packets.back()));
    }
    packets.emplace_back();
    ASSERT_TRUE(ch2->Encode(7, "CH1 2026-12-10 14:07:31", &packets.back()));
    const auto p = DecodeVideo(SampleVideoCodec::Mjpeg, 352, 288, packets);
    ASSERT_EQ(p.size(), 3u);

    // Only the last character differs: the text band at the top changes, the
    // middle of the picture does not.
    EXPECT_GT(p[0].MeanDiff(p[1], 0, 0, 352, 24), 1.0);
    EXPECT_LT(p[0].MeanDiff(p[1], 0, 60, 352, 200), 0.5);
    // The channel label sits in the bottom right corner.
    EXPECT_GT(p[0].MeanDiff(p[2], 240, 250, 352, 288), 1.0);
}

TEST(SampleVideoEncoder, RejectsBadParameters) {
    struct Case {
        int width, height, fps, key_interval;
    } cases[] = {
        {0, 144, 25, 5}, {176, -2, 25, 5}, {175, 144, 25, 5}, {176, 143, 25, 5},
        {8192, 144, 25, 5}, {176, 144, 0, 5}, {176, 144, 25, 0}, {176, 144, 61, 5},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(SampleVideoEncoder::Create(SampleVideoCodec::Mpeg4, c.width, c.height, c.fps,
                                             c.key_interval, 1, &error),
                  nullptr)
            << c.width << "x" << c.height << " " << c.fps << " " << c.key_interval;
        EXPECT_FALSE(error.empty());
    }
}

// ---- Audio ----

struct DecodedAudio {
    std::vector<int> samples;
    std::vector<int> per_packet;
};

// Decodes as the player does: G.726 has its nibbles swapped back and its
// samples multiplied by four in 16 bits.
DecodedAudio DecodeAudio(SampleAudioCodec codec, int rate,
                         const std::vector<EncodedPacket>& packets) {
    DecodedAudio out;
    AVCodecID id = AV_CODEC_ID_PCM_S16LE;
    if (codec == SampleAudioCodec::MuLaw) id = AV_CODEC_ID_PCM_MULAW;
    if (codec == SampleAudioCodec::Aac) id = AV_CODEC_ID_AAC;
    if (codec == SampleAudioCodec::G726) id = AV_CODEC_ID_ADPCM_G726;
    CodecContext d;
    const AVCodec* dec = avcodec_find_decoder(id);
    d.ctx = avcodec_alloc_context3(dec);
    d.ctx->sample_rate = rate;
    av_channel_layout_default(&d.ctx->ch_layout, 1);
    d.ctx->bit_rate = 32000;
    d.ctx->bits_per_coded_sample = 32000 / rate;
    if (avcodec_open2(d.ctx, dec, nullptr) < 0) {
        ADD_FAILURE() << "decoder did not open";
        return out;
    }
    for (const EncodedPacket& p : packets) {
        std::vector<uint8_t> data = p.data;
        if (codec == SampleAudioCodec::G726)
            for (uint8_t& b : data) b = static_cast<uint8_t>(b << 4 | b >> 4);
        d.packet->data = data.data();
        d.packet->size = static_cast<int>(data.size());
        EXPECT_EQ(avcodec_send_packet(d.ctx, d.packet), 0);
        int got = 0;
        while (avcodec_receive_frame(d.ctx, d.frame) == 0) {
            const int n = d.frame->nb_samples;
            for (int i = 0; i < n; ++i) {
                int s = 0;
                if (d.frame->format == AV_SAMPLE_FMT_S16)
                    s = reinterpret_cast<const int16_t*>(d.frame->data[0])[i];
                else if (d.frame->format == AV_SAMPLE_FMT_FLTP ||
                         d.frame->format == AV_SAMPLE_FMT_FLT)
                    s = static_cast<int>(
                        std::lrint(reinterpret_cast<const float*>(d.frame->data[0])[i] * 32768));
                else
                    ADD_FAILURE() << "sample format " << d.frame->format;
                if (codec == SampleAudioCodec::G726) s = static_cast<int16_t>(s * 4);
                out.samples.push_back(s);
            }
            got += n;
            av_frame_unref(d.frame);
        }
        out.per_packet.push_back(got);
    }
    return out;
}

// Signal to noise ratio against the ideal tone, at the best delay within one
// period (the AAC encoder adds its own).
double ToneSnrDb(const std::vector<int>& s, size_t from, size_t n, int rate) {
    const int period = rate / sample::kSampleToneHz;
    double best = -1000;
    for (int lag = 0; lag < period; ++lag) {
        double signal = 0, noise = 0;
        for (size_t i = from; i < from + n; ++i) {
            const double t = static_cast<double>(static_cast<int>(i % rate) - lag) / rate;
            const double ideal = sample::kSampleTonePeak *
                                 std::sin(2 * std::numbers::pi * sample::kSampleToneHz * t);
            signal += ideal * ideal;
            noise += (s[i] - ideal) * (s[i] - ideal);
        }
        best = std::max(best, 10 * std::log10(signal / std::max(noise, 1.0)));
    }
    return best;
}

TEST(SampleAudioEncoder, TonesDecodeAtTheirFormat) {
    struct Case {
        SampleAudioCodec codec;
        const char* name;
        int rate, bits;
    } cases[] = {
        {SampleAudioCodec::MuLaw, "mu-law", 8000, 8},
        {SampleAudioCodec::Pcm16, "pcm16", 8000, 16},
        {SampleAudioCodec::G726, "g726", 8000, 16},
        {SampleAudioCodec::Aac, "aac", 16000, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        auto enc = SampleAudioEncoder::Create(c.codec, &error);
        ASSERT_NE(enc, nullptr) << error;
        EXPECT_EQ(enc->sample_rate(), c.rate);
        EXPECT_EQ(enc->bits_per_sample(), c.bits);
        EXPECT_EQ(enc->channels(), 1);

        std::vector<EncodedPacket> packets;
        std::vector<int> durations;
        for (int total = 0; total < 1500;) {
            EncodedPacket p;
            int ms = 0;
            ASSERT_TRUE(enc->EncodeNext(&p, &ms)) << enc->last_error();
            EXPECT_GE(ms, 20);
            EXPECT_LE(ms, 128);
            EXPECT_FALSE(p.data.empty());
            total += ms;
            durations.push_back(ms);
            packets.push_back(std::move(p));
        }

        const DecodedAudio audio = DecodeAudio(c.codec, c.rate, packets);
        ASSERT_EQ(audio.per_packet.size(), packets.size());
        for (size_t i = 0; i < packets.size(); ++i)
            EXPECT_EQ(audio.per_packet[i], durations[i] * c.rate / 1000) << "packet " << i;

        // Skip the codec's start-up, then measure a steady second.
        const size_t skip = c.rate / 5;
        ASSERT_GE(audio.samples.size(), skip + c.rate);
        int crossings = 0, peak = 0;
        for (size_t i = skip; i < skip + c.rate; ++i) {
            if ((audio.samples[i] < 0) != (audio.samples[i + 1] < 0)) ++crossings;
            peak = std::max(peak, std::abs(audio.samples[i]));
        }
        EXPECT_NEAR(crossings / 2.0, sample::kSampleToneHz, sample::kSampleToneHz * 0.05);
        EXPECT_GT(peak, sample::kSampleTonePeak * 0.7);
        EXPECT_LT(peak, sample::kSampleTonePeak * 1.3);
        // Catches what frequency and level cannot, such as G.726 codewords in the wrong order.
        EXPECT_GT(ToneSnrDb(audio.samples, skip, c.rate, c.rate), 20.0);
    }
}

TEST(SampleAudioEncoder, AacPacketsCarryTheirOwnAdtsHeader) {
    std::string error;
    auto enc = SampleAudioEncoder::Create(SampleAudioCodec::Aac, &error);
    ASSERT_NE(enc, nullptr) << error;
    for (int i = 0; i < 5; ++i) {
        EncodedPacket p;
        int ms = 0;
        ASSERT_TRUE(enc->EncodeNext(&p, &ms));
        ASSERT_GT(p.data.size(), 7u);
        const uint8_t* h = p.data.data();
        EXPECT_EQ(h[0], 0xFF);
        EXPECT_EQ(h[1], 0xF1);                  // MPEG-4, no CRC
        EXPECT_EQ(h[2] >> 6, 1);                // AAC LC
        EXPECT_EQ((h[2] >> 2) & 15, 8);         // 16000 Hz
        EXPECT_EQ((h[2] & 1) << 2 | h[3] >> 6, 1);  // mono
        const size_t length = (h[3] & 3) << 11 | h[4] << 3 | h[5] >> 5;
        EXPECT_EQ(length, p.data.size());
        EXPECT_EQ(h[6] & 3, 0);                 // one raw frame
    }
}

TEST(LinearToMuLaw, MatchesTheG711Table) {
    struct Case {
        int16_t in;
        uint8_t out;
    } cases[] = {
        {0, 0xFF},     {-1, 0x7F},    {32767, 0x80},  {-32768, 0x00},
        {32635, 0x80}, {1000, 0xCE},  {-1000, 0x4E},
    };
    for (const Case& c : cases) EXPECT_EQ(sample::LinearToMuLaw(c.in), c.out) << c.in;

    // Over every input, libavcodec's G.711 expansion of the code lands in the
    // middle of the code's cell: within half a step of the input, and rising.
    std::vector<EncodedPacket> packet(1);
    for (int x = -32768; x < 32768; ++x)
        packet[0].data.push_back(sample::LinearToMuLaw(static_cast<int16_t>(x)));
    const DecodedAudio expanded = DecodeAudio(SampleAudioCodec::MuLaw, 8000, packet);
    ASSERT_EQ(expanded.samples.size(), 65536u);
    int failures = 0;
    for (int i = 0; i < 65536 && failures < 5; ++i) {
        const int x = i - 32768;
        const int exponent = (~packet[0].data[i] >> 4) & 7;
        const int half_step = 4 << exponent;
        const int y = expanded.samples[i];
        if (std::abs(x) <= 32635 && std::abs(y - x) > half_step) {
            ADD_FAILURE() << x << " expands to " << y;
            ++failures;
        }
        if (i > 0 && y < expanded.samples[i - 1]) {
            ADD_FAILURE() << x << " expands below its neighbour";
            ++failures;
        }
    }
}

}  // namespace
