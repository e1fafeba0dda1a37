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
#include "tests/bench/bare_decoder.h"
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

void RunBare(benchmark::State& state, bool convert) {
    const Size size = kSizes[state.range(0)];
    BareDecoder decoder(size.width, size.height, Packets(size), convert);
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
