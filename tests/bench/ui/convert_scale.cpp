// From a decoded 704x576 YUV 4:2:0 picture to a viewer's 32-bit pixels at the
// size it is shown, side by side: the decoder's full-size BGR24 conversion
// followed by our own stretch (as a viewer shows pictures when it keeps the
// full-size one), against libswscale converting and scaling in one pass.
// Process time of one picture.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include "media/picture_stretch.h"

namespace {

struct Shape {
    int out_width;
    int out_height;
};
// The picture rectangle of a 960x540 view (inside its 1-pixel edge), a
// quarter of 1280x1024, and the whole of 1920x1080 (the 1x1 layout).
constexpr Shape kShapes[] = {{959, 539}, {639, 511}, {1919, 1079}};
constexpr int kWidth = 704, kHeight = 576;

// Smooth planes, as decoded camera pictures are, with some noise.
struct Yuv {
    std::vector<uint8_t> y, u, v;
    const uint8_t* planes[4];
    int strides[4];
};

Yuv MakeYuv() {
    Yuv p;
    p.y.resize(static_cast<size_t>(kWidth) * kHeight);
    p.u.resize(static_cast<size_t>(kWidth / 2) * (kHeight / 2));
    p.v.resize(p.u.size());
    std::mt19937 random(1);
    for (int r = 0; r < kHeight; ++r)
        for (int c = 0; c < kWidth; ++c)
            p.y[static_cast<size_t>(r) * kWidth + c] = static_cast<uint8_t>(16 + (r + c) % 200 + random() % 16);
    for (size_t i = 0; i < p.u.size(); ++i) {
        p.u[i] = static_cast<uint8_t>(100 + random() % 56);
        p.v[i] = static_cast<uint8_t>(110 + random() % 40);
    }
    p.planes[0] = p.y.data();
    p.planes[1] = p.u.data();
    p.planes[2] = p.v.data();
    p.planes[3] = nullptr;
    p.strides[0] = kWidth;
    p.strides[1] = p.strides[2] = kWidth / 2;
    p.strides[3] = 0;
    return p;
}

void Label(benchmark::State& state, const Shape& s, const char* what) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetLabel(std::string(what) + " " + std::to_string(s.out_width) + "x" + std::to_string(s.out_height));
}

// What the viewer does now: the decoder writes the full-size picture
// bottom-up, the paint stretches it straight into the window's pixels.
void BM_ConvertThenStretch(benchmark::State& state) {
    const Shape s = kShapes[state.range(0)];
    const Yuv yuv = MakeYuv();
    std::vector<uint8_t> bgr(static_cast<size_t>(kWidth) * kHeight * 3);
    std::vector<uint32_t> out(static_cast<size_t>(s.out_width) * s.out_height);
    SwsContext* ctx = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, kWidth, kHeight, AV_PIX_FMT_BGR24,
                                     SWS_BICUBIC, nullptr, nullptr, nullptr);
    PictureStretcher stretcher;
    StretchMapping m;
    m.step_x = static_cast<double>(kWidth) / s.out_width;
    m.step_y = static_cast<double>(kHeight) / s.out_height;
    m.clip_right = kWidth;
    m.clip_bottom = kHeight;
    for (auto _ : state) {
        uint8_t* dst[4] = {bgr.data() + static_cast<size_t>(kWidth) * 3 * (kHeight - 1), nullptr, nullptr, nullptr};
        const int dst_stride[4] = {-kWidth * 3, 0, 0, 0};
        sws_scale(ctx, yuv.planes, yuv.strides, 0, kHeight, dst, dst_stride);
        stretcher.Stretch(StretchSource{bgr.data(), kWidth, kHeight}, m, out.data(), static_cast<size_t>(s.out_width),
                          s.out_width, s.out_height, 0, true);
        benchmark::ClobberMemory();
    }
    sws_freeContext(ctx);
    Label(state, s, "convert+stretch");
}

// One pass: YUV to BGRA at the size shown.
void BM_ConvertScaled(benchmark::State& state) {
    const Shape s = kShapes[state.range(0)];
    const int flags = static_cast<int>(state.range(1));
    const Yuv yuv = MakeYuv();
    std::vector<uint32_t> out(static_cast<size_t>(s.out_width) * s.out_height);
    SwsContext* ctx = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, s.out_width, s.out_height,
                                     AV_PIX_FMT_BGRA, flags, nullptr, nullptr, nullptr);
    if (!ctx) return state.SkipWithError("no scaler");
    for (auto _ : state) {
        uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(out.data()), nullptr, nullptr, nullptr};
        const int dst_stride[4] = {s.out_width * 4, 0, 0, 0};
        sws_scale(ctx, yuv.planes, yuv.strides, 0, kHeight, dst, dst_stride);
        benchmark::ClobberMemory();
    }
    sws_freeContext(ctx);
    Label(state, s, flags == SWS_FAST_BILINEAR ? "fast bilinear" : flags == SWS_BILINEAR ? "bilinear" : "other");
}

// Two passes: the planes scaled to the size shown (libswscale's vector
// scalers on planar output), then its unscaled vector YUV to BGRA conversion.
void BM_ScalePlanesThenConvert(benchmark::State& state) {
    const Shape s = kShapes[state.range(0)];
    const int flags = static_cast<int>(state.range(1));
    const Yuv yuv = MakeYuv();
    const int w = s.out_width, h = s.out_height;
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    // Rows 32-byte aligned, as the vector code prefers.
    const int ys = (w + 31) / 32 * 32, cs = (cw + 31) / 32 * 32;
    std::vector<uint8_t> y(static_cast<size_t>(ys) * h + 64), u(static_cast<size_t>(cs) * ch + 64),
        v(static_cast<size_t>(cs) * ch + 64);
    std::vector<uint32_t> out(static_cast<size_t>(w) * h);
    SwsContext* scale = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, w, h, AV_PIX_FMT_YUV420P, flags,
                                       nullptr, nullptr, nullptr);
    SwsContext* convert =
        sws_getContext(w, h, AV_PIX_FMT_YUV420P, w, h, AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!scale || !convert) return state.SkipWithError("no scaler");
    for (auto _ : state) {
        uint8_t* planes[4] = {y.data(), u.data(), v.data(), nullptr};
        const int strides[4] = {ys, cs, cs, 0};
        sws_scale(scale, yuv.planes, yuv.strides, 0, kHeight, planes, strides);
        const uint8_t* in[4] = {y.data(), u.data(), v.data(), nullptr};
        uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(out.data()), nullptr, nullptr, nullptr};
        const int dst_stride[4] = {w * 4, 0, 0, 0};
        sws_scale(convert, in, strides, 0, h, dst, dst_stride);
        benchmark::ClobberMemory();
    }
    sws_freeContext(scale);
    sws_freeContext(convert);
    Label(state, s, flags == SWS_FAST_BILINEAR ? "fast bilinear" : flags == SWS_BILINEAR ? "bilinear" : "other");
}

// The full-size 32-bit conversion alone, for scale: libswscale's unscaled path.
void BM_ConvertFull32(benchmark::State& state) {
    const Yuv yuv = MakeYuv();
    std::vector<uint32_t> out(static_cast<size_t>(kWidth) * kHeight);
    SwsContext* ctx = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, kWidth, kHeight, AV_PIX_FMT_BGRA,
                                     SWS_BICUBIC, nullptr, nullptr, nullptr);
    for (auto _ : state) {
        uint8_t* dst[4] = {reinterpret_cast<uint8_t*>(out.data()), nullptr, nullptr, nullptr};
        const int dst_stride[4] = {kWidth * 4, 0, 0, 0};
        sws_scale(ctx, yuv.planes, yuv.strides, 0, kHeight, dst, dst_stride);
        benchmark::ClobberMemory();
    }
    sws_freeContext(ctx);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

}  // namespace

BENCHMARK(BM_ConvertThenStretch)->Arg(0)->Arg(1)->Arg(2)->MeasureProcessCPUTime();
BENCHMARK(BM_ConvertScaled)
    ->Args({0, SWS_FAST_BILINEAR})
    ->Args({0, SWS_BILINEAR})
    ->Args({1, SWS_FAST_BILINEAR})
    ->Args({1, SWS_BILINEAR})
    ->Args({2, SWS_FAST_BILINEAR})
    ->Args({2, SWS_BILINEAR})
    ->MeasureProcessCPUTime();
BENCHMARK(BM_ScalePlanesThenConvert)
    ->Args({0, SWS_FAST_BILINEAR})
    ->Args({0, SWS_BILINEAR})
    ->Args({1, SWS_FAST_BILINEAR})
    ->Args({1, SWS_BILINEAR})
    ->Args({2, SWS_FAST_BILINEAR})
    ->Args({2, SWS_BILINEAR})
    ->MeasureProcessCPUTime();
BENCHMARK(BM_ConvertFull32)->MeasureProcessCPUTime();

BENCHMARK_MAIN();
