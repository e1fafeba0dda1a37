// H.264 decoding to BGR24 through MediaDecoder beside bare libavcodec: decode
// only, and decode plus the same swscale conversion. One thread each.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include "media/media_decoder.h"
#include "tools/common/sample_media.h"

namespace {

struct Size {
    int width;
    int height;
};
constexpr Size kSizes[] = {{704, 576}, {1920, 1080}};
constexpr int kFrames = 100;

// The sample recording's moving picture, a key frame every 25 frames, encoded once per size.
const std::vector<std::vector<uint8_t>>& Packets(const Size& s) {
    static std::map<int, std::vector<std::vector<uint8_t>>> cache;
    auto& packets = cache[s.width];
    if (!packets.empty()) return packets;
    std::string error;
    auto encoder = sample::SampleVideoEncoder::Create(sample::SampleVideoCodec::H264, s.width, s.height, 25,
                                                      25, 1, &error);
    if (!encoder) {
        std::fprintf(stderr, "no H.264 encoder: %s\n", error.c_str());
        return packets;
    }
    for (int i = 0; i < kFrames; ++i) {
        sample::EncodedPacket packet;
        if (!encoder->Encode(i, "CH-1 2024-05-06 12:34:" + std::to_string(i % 60), &packet)) break;
        packets.push_back(std::move(packet.data));
    }
    return packets;
}

// Bare libavcodec, optionally with the conversion MediaDecoder makes.
class BareDecoder {
public:
    BareDecoder(const Size& s, bool convert) : size_(s), convert_(convert) {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        context_ = avcodec_alloc_context3(codec);
        context_->thread_count = 1;
        avcodec_open2(context_, codec, nullptr);
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        if (convert_)
            scaler_ = sws_getContext(s.width, s.height, AV_PIX_FMT_YUV420P, s.width, s.height, AV_PIX_FMT_BGR24,
                                     SWS_BICUBIC, nullptr, nullptr, nullptr);
        out_.resize(static_cast<size_t>(s.width) * s.height * 3);
        for (const auto& p : Packets(s)) {
            std::vector<uint8_t> padded(p.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
            std::copy(p.begin(), p.end(), padded.begin());
            padded_.push_back(std::move(padded));
        }
    }
    ~BareDecoder() {
        sws_freeContext(scaler_);
        av_packet_free(&packet_);
        av_frame_free(&frame_);
        avcodec_free_context(&context_);
    }
    size_t count() const { return padded_.size(); }
    bool Decode(size_t i) {
        packet_->data = padded_[i].data();
        packet_->size = static_cast<int>(padded_[i].size() - AV_INPUT_BUFFER_PADDING_SIZE);
        if (avcodec_send_packet(context_, packet_) < 0) return false;
        bool got = false;
        while (avcodec_receive_frame(context_, frame_) == 0) {
            if (convert_) {
                uint8_t* planes[4] = {out_.data(), nullptr, nullptr, nullptr};
                int strides[4] = {size_.width * 3, 0, 0, 0};
                sws_scale(scaler_, frame_->data, frame_->linesize, 0, frame_->height, planes, strides);
            }
            av_frame_unref(frame_);
            got = true;
        }
        return got;
    }

private:
    Size size_;
    bool convert_;
    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* scaler_ = nullptr;
    std::vector<uint8_t> out_;
    std::vector<std::vector<uint8_t>> padded_;
};

void RunBare(benchmark::State& state, bool convert) {
    const Size size = kSizes[state.range(0)];
    BareDecoder decoder(size, convert);
    if (decoder.count() == 0) {
        state.SkipWithError("no packets");
        return;
    }
    size_t i = 0;
    int64_t pictures = 0;
    for (auto _ : state) {
        pictures += decoder.Decode(i);
        i = (i + 1) % decoder.count();
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(pictures), benchmark::Counter::kIsRate);
    state.SetLabel(std::to_string(size.width) + "x" + std::to_string(size.height));
}

void BM_BareDecode(benchmark::State& state) { RunBare(state, false); }
void BM_BareDecodeAndConvert(benchmark::State& state) { RunBare(state, true); }

void BM_MediaDecoder(benchmark::State& state) {
    const Size size = kSizes[state.range(0)];
    const auto& packets = Packets(size);
    if (packets.empty()) {
        state.SkipWithError("no packets");
        return;
    }
    MediaDecoder decoder;
    decoder.OpenVideo(kCodecIdH264, size.width, size.height);
    std::vector<uint8_t> out(static_cast<size_t>(size.width) * size.height * 3 + 16);
    size_t i = 0;
    int64_t pictures = 0;
    for (auto _ : state) {
        size_t picture_size = 0;
        pictures += decoder.DecodeVideo(packets[i].data(), packets[i].size(), out.data(), out.size(), &picture_size);
        i = (i + 1) % packets.size();
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(pictures), benchmark::Counter::kIsRate);
    state.SetLabel(std::to_string(size.width) + "x" + std::to_string(size.height));
}

}  // namespace

BENCHMARK(BM_BareDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareDecodeAndConvert)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MediaDecoder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_ERROR);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
