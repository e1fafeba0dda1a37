// Stretching a viewer's 704x576 picture to its view, side by side: our own
// bilinear stretch (as VedioPlayer::Draw runs it: straight into the device's
// pixels, and under a clip, where it makes strips the paint engine copies),
// libswscale's scalers, and the paint engine's smooth drawImage from 24-bit
// and from 32-bit pictures. Process time, so the paint engine's helper
// threads count too.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <random>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "media/vedio_player.h"

namespace {

struct Shape {
    int out_width;
    int out_height;
};
// A quarter of 1920x1080 and of 1280x1024 (the 2x2 grid).
constexpr Shape kShapes[] = {{960, 540}, {640, 510}};
constexpr int kWidth = 704, kHeight = 576;

std::vector<uint8_t> Picture() {
    std::vector<uint8_t> p(static_cast<size_t>(kWidth) * kHeight * 3);
    std::mt19937 random(1);
    for (uint8_t& b : p) b = static_cast<uint8_t>(random());
    return p;
}

void Label(benchmark::State& state, const Shape& s) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetLabel(std::to_string(s.out_width) + "x" + std::to_string(s.out_height));
}

void BM_OwnStretchDraw(benchmark::State& state) {
    const Shape s = kShapes[state.range(0)];
    const auto picture = Picture();
    VedioPlayer player;
    player.SetFrameSize(kWidth, kHeight);
    player.CopyFrame(picture.data(), picture.size());
    QImage target(s.out_width, s.out_height, QImage::Format_RGB32);
    QPainter painter(&target);
    const bool clipped = state.range(1) != 0;
    if (clipped) painter.setClipRect(0, 0, s.out_width, s.out_height);
    for (auto _ : state) {
        player.Draw(&painter, 0, 0, s.out_width, s.out_height, 0, 0, 0, 0);
        benchmark::ClobberMemory();
    }
    Label(state, s);
}

void BM_SwscaleDraw(benchmark::State& state) {
    const Shape s = kShapes[state.range(0)];
    const int flags = static_cast<int>(state.range(1));
    const bool from32 = state.range(2) != 0;
    auto picture = Picture();
    QImage target(s.out_width, s.out_height, QImage::Format_RGB32);
    QImage scaled(s.out_width, s.out_height, QImage::Format_RGB32);
    QPainter painter(&target);
    const int bytes = from32 ? 4 : 3;
    if (from32) {
        // The picture as the paint engine's 32-bit pixels, made once.
        const QImage source(picture.data(), kWidth, kHeight, kWidth * 3, QImage::Format_BGR888);
        const QImage source32 = source.convertToFormat(QImage::Format_RGB32);
        picture.assign(source32.constBits(), source32.constBits() + source32.sizeInBytes());
    }
    SwsContext* ctx = sws_getContext(kWidth, kHeight, from32 ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR24, s.out_width,
                                     s.out_height, AV_PIX_FMT_BGRA, flags, nullptr, nullptr, nullptr);
    // Bottom-up rows read top-down through a negative stride.
    const uint8_t* src[1] = {picture.data() + static_cast<size_t>(kWidth) * bytes * (kHeight - 1)};
    const int src_stride[1] = {-kWidth * bytes};
    for (auto _ : state) {
        uint8_t* dst[1] = {scaled.bits()};
        const int dst_stride[1] = {static_cast<int>(scaled.bytesPerLine())};
        sws_scale(ctx, src, src_stride, 0, kHeight, dst, dst_stride);
        painter.drawImage(0, 0, scaled);
        benchmark::ClobberMemory();
    }
    sws_freeContext(ctx);
    Label(state, s);
}

void BM_PaintEngineSmooth(benchmark::State& state) {
    const Shape s = kShapes[state.range(0)];
    const bool from32 = state.range(1) != 0;
    auto picture = Picture();
    QImage source(picture.data(), kWidth, kHeight, kWidth * 3, QImage::Format_BGR888);
    const QImage source32 = source.convertToFormat(QImage::Format_RGB32);
    QImage target(s.out_width, s.out_height, QImage::Format_RGB32);
    QPainter painter(&target);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    for (auto _ : state) {
        // The 24-bit picture is converted each time, as every new picture would be.
        painter.drawImage(QRectF(0, 0, s.out_width, s.out_height), from32 ? source32 : source);
        benchmark::ClobberMemory();
    }
    Label(state, s);
}

}  // namespace

BENCHMARK(BM_OwnStretchDraw)->Args({0, 0})->Args({0, 1})->Args({1, 0})->Args({1, 1})->MeasureProcessCPUTime();
BENCHMARK(BM_SwscaleDraw)
    ->Args({0, SWS_FAST_BILINEAR, 0})
    ->Args({0, SWS_BILINEAR, 0})
    ->Args({0, SWS_POINT, 0})
    ->Args({0, SWS_FAST_BILINEAR, 1})
    ->Args({0, SWS_POINT, 1})
    ->Args({1, SWS_FAST_BILINEAR, 0})
    ->Args({1, SWS_BILINEAR, 0})
    ->MeasureProcessCPUTime();
BENCHMARK(BM_PaintEngineSmooth)->Args({0, 0})->Args({0, 1})->Args({1, 0})->Args({1, 1})->MeasureProcessCPUTime();

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
