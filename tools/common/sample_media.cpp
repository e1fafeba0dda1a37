#include "tools/common/sample_media.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

namespace sample {
namespace {

std::string AvErrorText(const char* what, int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return std::string(what) + ": " + buf;
}

void SetError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

// ---- Picture ----

// 5x7 glyphs, one row per byte, bit 4 the leftmost column.
using Glyph = std::array<uint8_t, 7>;

const Glyph kDigits[10] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
};

const Glyph kLetters[26] = {
    {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}, {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E},
    {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}, {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C},
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}, {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10},
    {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}, {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11},
    {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}, {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C},
    {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}, {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F},
    {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}, {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11},
    {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10},
    {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}, {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11},
    {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}, {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04},
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04},
    {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}, {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11},
    {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F},
};

const Glyph kColon = {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00};
const Glyph kDash = {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00};
const Glyph kBlank = {};

const Glyph& GlyphFor(char c) {
    if (c >= '0' && c <= '9') return kDigits[c - '0'];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') return kLetters[c - 'A'];
    if (c == ':') return kColon;
    if (c == '-') return kDash;
    return kBlank;
}

constexpr int kGlyphW = 5, kGlyphH = 7, kCellW = 6;

struct Yuv {
    uint8_t y, u, v;
};

constexpr Yuv kBars[8] = {
    {235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
    {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128},
};
constexpr Yuv kTextInk = {235, 128, 128};
constexpr Yuv kTextGround = {16, 128, 128};

class Canvas {
public:
    explicit Canvas(AVFrame* f) : f_(f) {}

    // Chroma follows the top-left pixel of each 2x2 block it covers.
    void FillRect(int x0, int y0, int w, int h, Yuv c) {
        const int x1 = std::min(f_->width, x0 + w), y1 = std::min(f_->height, y0 + h);
        x0 = std::max(0, x0);
        y0 = std::max(0, y0);
        if (x0 >= x1 || y0 >= y1) return;
        for (int y = y0; y < y1; ++y) {
            uint8_t* row = f_->data[0] + static_cast<ptrdiff_t>(y) * f_->linesize[0];
            std::fill(row + x0, row + x1, c.y);
        }
        for (int y = (y0 + 1) / 2; y < (y1 + 1) / 2; ++y) {
            uint8_t* u = f_->data[1] + static_cast<ptrdiff_t>(y) * f_->linesize[1];
            uint8_t* v = f_->data[2] + static_cast<ptrdiff_t>(y) * f_->linesize[2];
            std::fill(u + (x0 + 1) / 2, u + (x1 + 1) / 2, c.u);
            std::fill(v + (x0 + 1) / 2, v + (x1 + 1) / 2, c.v);
        }
    }

    void Text(int x, int y, int scale, const std::string& text) {
        if (text.empty()) return;
        const int w = (static_cast<int>(text.size()) * kCellW + 1) * scale;
        FillRect(x, y, w, (kGlyphH + 2) * scale, kTextGround);
        for (size_t i = 0; i < text.size(); ++i) {
            const Glyph& g = GlyphFor(text[i]);
            const int gx = x + (static_cast<int>(i) * kCellW + 1) * scale;
            if (gx >= f_->width) break;
            for (int r = 0; r < kGlyphH; ++r)
                for (int col = 0; col < kGlyphW; ++col)
                    if (g[r] & (0x10 >> col))
                        FillRect(gx + col * scale, y + (r + 1) * scale, scale, scale, kTextInk);
        }
    }

private:
    AVFrame* f_;
};

int TextScale(int width, int height, size_t chars) {
    const int cells = static_cast<int>(chars) * kCellW + 1;
    return std::max(1, std::min((width - 4) / std::max(cells, 1), height / 24));
}

// Bounces 0..range and back, one pixel per step.
int Bounce(int64_t step, int range) {
    if (range <= 0) return 0;
    const int64_t p = step % (2 * static_cast<int64_t>(range));
    return static_cast<int>(p < range ? p : 2 * range - p);
}

void DrawPicture(AVFrame* f, int frame_index, int channel, const std::string& text) {
    const int w = f->width, h = f->height;
    const int64_t travel = static_cast<int64_t>(frame_index) * std::max(2, w / 88);
    const int shift = static_cast<int>((travel % w + w) % w);
    Canvas canvas(f);
    for (int bar = 0; bar < 8; ++bar) {
        // Bars scroll left; each is drawn as the pieces that wrap around.
        const int x0 = bar * w / 8 - shift, x1 = (bar + 1) * w / 8 - shift;
        canvas.FillRect(x0, 0, x1 - x0, h, kBars[bar]);
        canvas.FillRect(x0 + w, 0, x1 - x0, h, kBars[bar]);
    }

    const int box = std::max(8, h / 6);
    const int speed = std::max(2, h / 48);
    const int64_t step = static_cast<int64_t>(std::max(frame_index, 0)) * speed;
    const Yuv box_colour = kBars[(1 + static_cast<unsigned>(channel) % 7) % 7];
    canvas.FillRect(Bounce(step, w - box), Bounce(step * 2 / 3, h - box), box, box, kTextGround);
    canvas.FillRect(Bounce(step, w - box) + 2, Bounce(step * 2 / 3, h - box) + 2, box - 4, box - 4,
                    box_colour);

    // More characters than could ever fit are not drawn.
    const std::string shown = text.substr(0, static_cast<size_t>(w / kCellW));
    canvas.Text(2, 2, TextScale(w, h, shown.size()), shown);

    const std::string label = "CH" + std::to_string(channel);
    const int label_scale = std::max(2, h / 72);
    const int label_w = (static_cast<int>(label.size()) * kCellW + 1) * label_scale;
    canvas.Text(w - label_w - 2, h - (kGlyphH + 2) * label_scale - 2, label_scale, label);
}

// ---- Audio ----

constexpr int kAacRate = 16000;
constexpr int kNarrowRate = 8000;
constexpr int kNarrowPacketSamples = 320;  // 40 ms at 8 kHz
constexpr int kG726Bits = 4;               // 32 kbit/s at 8 kHz

int AdtsRateIndex(int rate) {
    static constexpr int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                     22050, 16000, 12000, 11025, 8000,  7350};
    for (int i = 0; i < 13; ++i)
        if (kRates[i] == rate) return i;
    return -1;
}

}  // namespace

uint8_t LinearToMuLaw(int16_t sample) {
    constexpr int kBias = 0x84, kClip = 32635;
    int s = sample;
    const int sign = s < 0 ? 0x80 : 0;
    if (s < 0) s = -s;
    s = std::min(s, kClip) + kBias;
    int exponent = 7;
    for (int mask = 0x4000; (s & mask) == 0 && exponent > 0; mask >>= 1) --exponent;
    const int mantissa = (s >> (exponent + 3)) & 0x0F;
    return static_cast<uint8_t>(~(sign | (exponent << 4) | mantissa));
}

// ---- SampleVideoEncoder ----

struct SampleVideoEncoder::Impl {
    int width = 0, height = 0, key_interval = 1, channel = 0;
    AVCodecContext* ctx = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int64_t next_pts = 0;
    std::string error;

    ~Impl() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
    }
};

SampleVideoEncoder::SampleVideoEncoder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SampleVideoEncoder::~SampleVideoEncoder() = default;

int SampleVideoEncoder::width() const { return impl_->width; }
int SampleVideoEncoder::height() const { return impl_->height; }
const std::string& SampleVideoEncoder::last_error() const { return impl_->error; }

std::unique_ptr<SampleVideoEncoder> SampleVideoEncoder::Create(SampleVideoCodec codec, int width,
                                                               int height, int fps,
                                                               int key_interval, int channel,
                                                               std::string* error) {
    if (width < 16 || height < 16 || width > 4096 || height > 4096 || width % 2 || height % 2) {
        SetError(error, "picture size must be even and 16-4096 pixels");
        return nullptr;
    }
    if (fps < 1 || fps > 60 || key_interval < 1 || key_interval > 100000) {
        SetError(error, "frame rate must be 1-60 and the key interval at least 1");
        return nullptr;
    }

    const AVCodec* encoder = nullptr;
    switch (codec) {
        case SampleVideoCodec::Mjpeg: encoder = avcodec_find_encoder(AV_CODEC_ID_MJPEG); break;
        case SampleVideoCodec::Mpeg4: encoder = avcodec_find_encoder(AV_CODEC_ID_MPEG4); break;
        case SampleVideoCodec::H264: encoder = avcodec_find_encoder_by_name("libx264"); break;
    }
    if (!encoder) {
        SetError(error, codec == SampleVideoCodec::H264
                            ? "libavcodec has no libx264 encoder"
                            : "libavcodec has no encoder for the codec");
        return nullptr;
    }

    auto impl = std::make_unique<Impl>();
    impl->width = width;
    impl->height = height;
    impl->key_interval = key_interval;
    impl->channel = channel;
    impl->ctx = avcodec_alloc_context3(encoder);
    impl->frame = av_frame_alloc();
    impl->packet = av_packet_alloc();
    if (!impl->ctx || !impl->frame || !impl->packet) {
        SetError(error, "out of memory");
        return nullptr;
    }

    AVCodecContext* ctx = impl->ctx;
    ctx->width = width;
    ctx->height = height;
    ctx->time_base = AVRational{1, fps};
    ctx->framerate = AVRational{fps, 1};
    ctx->gop_size = key_interval;
    ctx->max_b_frames = 0;
    // Frame threads would hold packets back; every call must return its own.
    ctx->thread_count = 1;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    if (codec == SampleVideoCodec::H264) {
        av_opt_set(ctx->priv_data, "preset", "veryfast", 0);
        av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
        av_opt_set(ctx->priv_data, "forced-idr", "1", 0);
        av_opt_set(ctx->priv_data, "x264-params", "scenecut=0", 0);
    } else {
        // Fixed quantiser: the default bit rate blurs the burnt-in text.
        if (codec == SampleVideoCodec::Mjpeg) {
            ctx->pix_fmt = AV_PIX_FMT_YUVJ420P;
            ctx->color_range = AVCOL_RANGE_JPEG;
        }
        ctx->flags |= AV_CODEC_FLAG_QSCALE;
        ctx->global_quality = FF_QP2LAMBDA * 3;
    }
    int err = avcodec_open2(ctx, encoder, nullptr);
    if (err < 0) {
        SetError(error, AvErrorText("cannot open the video encoder", err));
        return nullptr;
    }

    AVFrame* f = impl->frame;
    f->format = ctx->pix_fmt;
    f->width = width;
    f->height = height;
    err = av_frame_get_buffer(f, 0);
    if (err < 0) {
        SetError(error, AvErrorText("cannot allocate the picture", err));
        return nullptr;
    }
    return std::unique_ptr<SampleVideoEncoder>(new SampleVideoEncoder(std::move(impl)));
}

bool SampleVideoEncoder::Encode(int frame_index, const std::string& text, EncodedPacket* out) {
    Impl& m = *impl_;
    if (!out) return false;
    out->data.clear();
    out->key = false;
    int err = av_frame_make_writable(m.frame);
    if (err < 0) {
        m.error = AvErrorText("cannot write the picture", err);
        return false;
    }
    DrawPicture(m.frame, frame_index, m.channel, text);

    const bool key = m.next_pts == 0 || frame_index % m.key_interval == 0;
    m.frame->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    m.frame->quality = m.ctx->global_quality;
    // Encoders want rising time stamps whatever order the caller numbers frames in.
    m.frame->pts = m.next_pts++;

    err = avcodec_send_frame(m.ctx, m.frame);
    if (err < 0) {
        m.error = AvErrorText("cannot encode the picture", err);
        return false;
    }
    err = avcodec_receive_packet(m.ctx, m.packet);
    if (err < 0) {
        m.error = err == AVERROR(EAGAIN) ? std::string("the encoder held the picture back")
                                         : AvErrorText("cannot encode the picture", err);
        return false;
    }
    out->data.assign(m.packet->data, m.packet->data + m.packet->size);
    out->key = (m.packet->flags & AV_PKT_FLAG_KEY) != 0;
    av_packet_unref(m.packet);
    return !out->data.empty();
}

// ---- SampleAudioEncoder ----

struct SampleAudioEncoder::Impl {
    SampleAudioCodec codec = SampleAudioCodec::Pcm16;
    int rate = kNarrowRate;
    int bits = 16;
    int peak = kSampleTonePeak;
    int phase = 0;  // sample number within the current second
    AVCodecContext* ctx = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    std::vector<uint8_t> pending;  // G.726 bytes not yet handed out
    int64_t samples_sent = 0;
    std::string error;

    ~Impl() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
    }

    int16_t NextSample() {
        // The tone divides the rate, so restarting the phase each second is seamless.
        const double t = static_cast<double>(phase) / rate;
        phase = (phase + 1) % rate;
        const double v = peak * std::sin(2 * std::numbers::pi * kSampleToneHz * t);
        return static_cast<int16_t>(std::lrint(v));
    }

    bool FillFrame() {
        int err = av_frame_make_writable(frame);
        if (err < 0) {
            error = AvErrorText("cannot write the audio frame", err);
            return false;
        }
        for (int i = 0; i < frame->nb_samples; ++i) {
            const int16_t s = NextSample();
            if (frame->format == AV_SAMPLE_FMT_S16)
                reinterpret_cast<int16_t*>(frame->data[0])[i] = s;
            else
                reinterpret_cast<float*>(frame->data[0])[i] = s / 32768.0f;
        }
        return true;
    }

    bool SendTone() {
        if (!FillFrame()) return false;
        frame->pts = samples_sent;
        samples_sent += frame->nb_samples;
        const int err = avcodec_send_frame(ctx, frame);
        if (err < 0) {
            error = AvErrorText("cannot encode audio", err);
            return false;
        }
        return true;
    }

    // Appends the next coded packet to *got, feeding tone until one comes out.
    bool ReceiveInto(std::vector<uint8_t>* got) {
        // The AAC encoder primes on its first frame before any packet comes out.
        for (int tries = 0; tries < 8; ++tries) {
            const int err = avcodec_receive_packet(ctx, packet);
            if (err == 0) {
                got->insert(got->end(), packet->data, packet->data + packet->size);
                av_packet_unref(packet);
                return true;
            }
            if (err != AVERROR(EAGAIN)) {
                error = AvErrorText("cannot encode audio", err);
                return false;
            }
            if (!SendTone()) return false;
        }
        error = "the audio encoder gave no packet";
        return false;
    }

    bool NextAac(EncodedPacket* out) {
        std::vector<uint8_t> raw;
        if (!ReceiveInto(&raw)) return false;
        const size_t length = raw.size() + 7;
        if (length > 0x1FFF) {
            error = "AAC frame too long for its ADTS header";
            return false;
        }
        const int profile = 1;  // AAC LC, object type 2
        const int rate_index = AdtsRateIndex(rate);
        const int channel_config = 1;
        out->data = {
            0xFF,
            0xF1,  // MPEG-4, layer 0, no CRC
            static_cast<uint8_t>(profile << 6 | rate_index << 2 | channel_config >> 2),
            static_cast<uint8_t>((channel_config & 3) << 6 | length >> 11),
            static_cast<uint8_t>(length >> 3 & 0xFF),
            static_cast<uint8_t>((length & 7) << 5 | 0x1F),  // buffer fullness 0x7FF: variable rate
            0xFC,
        };
        out->data.insert(out->data.end(), raw.begin(), raw.end());
        return true;
    }

    bool NextG726(EncodedPacket* out) {
        const size_t packet_bytes = kNarrowPacketSamples * kG726Bits / 8;
        while (pending.size() < packet_bytes)
            if (!ReceiveInto(&pending)) return false;
        out->data.assign(pending.begin(), pending.begin() + packet_bytes);
        pending.erase(pending.begin(), pending.begin() + packet_bytes);
        for (uint8_t& b : out->data) b = static_cast<uint8_t>(b << 4 | b >> 4);
        return true;
    }
};

SampleAudioEncoder::SampleAudioEncoder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SampleAudioEncoder::~SampleAudioEncoder() = default;

int SampleAudioEncoder::sample_rate() const { return impl_->rate; }
int SampleAudioEncoder::bits_per_sample() const { return impl_->bits; }
int SampleAudioEncoder::channels() const { return 1; }
const std::string& SampleAudioEncoder::last_error() const { return impl_->error; }

std::unique_ptr<SampleAudioEncoder> SampleAudioEncoder::Create(SampleAudioCodec codec,
                                                               std::string* error) {
    auto impl = std::make_unique<Impl>();
    impl->codec = codec;
    impl->bits = codec == SampleAudioCodec::MuLaw ? 8 : 16;
    impl->rate = codec == SampleAudioCodec::Aac ? kAacRate : kNarrowRate;
    if (codec == SampleAudioCodec::MuLaw || codec == SampleAudioCodec::Pcm16)
        return std::unique_ptr<SampleAudioEncoder>(new SampleAudioEncoder(std::move(impl)));

    const bool aac = codec == SampleAudioCodec::Aac;
    if (!aac) impl->peak = kSampleTonePeak / 4;
    const AVCodec* encoder = avcodec_find_encoder(aac ? AV_CODEC_ID_AAC : AV_CODEC_ID_ADPCM_G726);
    if (!encoder) {
        SetError(error, "libavcodec has no encoder for the audio codec");
        return nullptr;
    }
    impl->ctx = avcodec_alloc_context3(encoder);
    impl->frame = av_frame_alloc();
    impl->packet = av_packet_alloc();
    if (!impl->ctx || !impl->frame || !impl->packet) {
        SetError(error, "out of memory");
        return nullptr;
    }
    AVCodecContext* ctx = impl->ctx;
    ctx->sample_rate = impl->rate;
    ctx->time_base = AVRational{1, impl->rate};
    av_channel_layout_default(&ctx->ch_layout, 1);
    ctx->sample_fmt = aac ? AV_SAMPLE_FMT_FLTP : AV_SAMPLE_FMT_S16;
    ctx->bit_rate = aac ? 32000 : kNarrowRate * kG726Bits;
    int err = avcodec_open2(ctx, encoder, nullptr);
    if (err < 0) {
        SetError(error, AvErrorText("cannot open the audio encoder", err));
        return nullptr;
    }

    AVFrame* f = impl->frame;
    f->format = ctx->sample_fmt;
    f->sample_rate = ctx->sample_rate;
    f->nb_samples = ctx->frame_size > 0 ? ctx->frame_size : kNarrowPacketSamples;
    err = av_channel_layout_copy(&f->ch_layout, &ctx->ch_layout);
    if (err >= 0) err = av_frame_get_buffer(f, 0);
    if (err < 0) {
        SetError(error, AvErrorText("cannot allocate the audio frame", err));
        return nullptr;
    }
    return std::unique_ptr<SampleAudioEncoder>(new SampleAudioEncoder(std::move(impl)));
}

bool SampleAudioEncoder::EncodeNext(EncodedPacket* out, int* duration_ms) {
    Impl& m = *impl_;
    if (!out) return false;
    out->data.clear();
    out->key = false;
    int samples = kNarrowPacketSamples;
    bool ok = true;
    switch (m.codec) {
        case SampleAudioCodec::MuLaw:
            out->data.resize(samples);
            for (uint8_t& b : out->data) b = LinearToMuLaw(m.NextSample());
            break;
        case SampleAudioCodec::Pcm16:
            out->data.resize(samples * 2);
            for (int i = 0; i < samples; ++i) {
                const uint16_t s = static_cast<uint16_t>(m.NextSample());
                out->data[2 * i] = static_cast<uint8_t>(s & 0xFF);
                out->data[2 * i + 1] = static_cast<uint8_t>(s >> 8);
            }
            break;
        case SampleAudioCodec::G726:
            ok = m.NextG726(out);
            break;
        case SampleAudioCodec::Aac:
            samples = m.frame->nb_samples;
            ok = m.NextAac(out);
            break;
    }
    if (!ok) {
        out->data.clear();
        return false;
    }
    if (duration_ms) *duration_ms = samples * 1000 / m.rate;
    return true;
}

}  // namespace sample
