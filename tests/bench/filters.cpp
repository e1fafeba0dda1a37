// Picture filters' throughput beside memcpy of the same buffer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "media/vedio_player.h"

namespace {

struct Size {
    int width;
    int height;
};
constexpr Size kSizes[] = {{704, 576}, {1920, 1080}};

std::vector<uint8_t> Picture(const Size& s) {
    std::vector<uint8_t> p(static_cast<size_t>(s.width) * s.height * 3);
    std::mt19937 random(1);
    for (uint8_t& b : p) b = static_cast<uint8_t>(random());
    return p;
}

void Run(benchmark::State& state, const std::function<void(VedioPlayer&)>& filter,
         ContrastRounding rounding = ContrastRounding::kTowardZero) {
    const Size size = kSizes[state.range(0)];
    const std::vector<uint8_t> picture = Picture(size);
    VedioPlayer player(rounding);
    player.SetFrameSize(size.width, size.height);
    player.CopyFrame(picture.data(), picture.size());
    // Held as the viewer holds it, so the filters run in place on the unshown picture.
    auto hold = player.LockPicture();
    for (auto _ : state) {
        filter(player);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(picture.size()));
    state.SetLabel(std::to_string(size.width) + "x" + std::to_string(size.height));
}

void BM_Memcpy(benchmark::State& state) {
    const Size size = kSizes[state.range(0)];
    const std::vector<uint8_t> from = Picture(size);
    std::vector<uint8_t> to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(from.size()));
    state.SetLabel(std::to_string(size.width) + "x" + std::to_string(size.height));
}

void BM_CopyFrame(benchmark::State& state) {
    const Size size = kSizes[state.range(0)];
    const std::vector<uint8_t> picture = Picture(size);
    Run(state, [&](VedioPlayer& p) { p.CopyFrame(picture.data(), picture.size()); });
}
void BM_AdjustBrightnessUp(benchmark::State& state) {
    Run(state, [](VedioPlayer& p) { p.AdjustBrightness(20); });
}
void BM_AdjustBrightnessDown(benchmark::State& state) {
    Run(state, [](VedioPlayer& p) { p.AdjustBrightness(-20); });
}
void BM_AdjustContrast(benchmark::State& state) {
    Run(state, [](VedioPlayer& p) { p.AdjustContrast(30); });
}
void BM_AdjustContrastRoundDown(benchmark::State& state) {
    Run(state, [](VedioPlayer& p) { p.AdjustContrast(30); }, ContrastRounding::kDown);
}
void BM_AdjustContrastSse2(benchmark::State& state) {
    Run(state, [](VedioPlayer& p) { p.AdjustContrastSse2(30); });
}
void BM_Grey(benchmark::State& state) {
    Run(state, [](VedioPlayer& p) { p.Grey(); });
}

}  // namespace

BENCHMARK(BM_Memcpy)->Arg(0)->Arg(1);
BENCHMARK(BM_CopyFrame)->Arg(0)->Arg(1);
BENCHMARK(BM_AdjustBrightnessUp)->Arg(0)->Arg(1);
BENCHMARK(BM_AdjustBrightnessDown)->Arg(0)->Arg(1);
BENCHMARK(BM_AdjustContrast)->Arg(0)->Arg(1);
BENCHMARK(BM_AdjustContrastRoundDown)->Arg(0)->Arg(1);
BENCHMARK(BM_AdjustContrastSse2)->Arg(0)->Arg(1);
BENCHMARK(BM_Grey)->Arg(0)->Arg(1);

BENCHMARK_MAIN();
