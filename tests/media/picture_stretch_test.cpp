#include "media/picture_stretch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Picture {
    int width = 0;
    int height = 0;
    Bytes bottom_up;

    StretchSource source() const { return StretchSource{bottom_up.data(), width, height}; }
    // Channel c (0 blue, 1 green, 2 red) of the pixel in column x, row y (top row 0).
    int At(int x, int y, int c) const {
        return bottom_up[(static_cast<size_t>(height - 1 - y) * width + x) * 3 + c];
    }
};

Picture RandomPicture(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    Picture p{width, height, Bytes(static_cast<size_t>(width) * height * 3)};
    for (uint8_t& b : p.bottom_up) b = static_cast<uint8_t>(random());
    return p;
}

// Bilinear interpolation written out plainly in floating point: the
// destination pixel centre mapped to the source, clamped to the clip, and the
// four pixels around it weighted by distance.
double Reference(const Picture& p, const StretchMapping& m, int i, int j, int c) {
    const double u = std::clamp(m.x + (i + 0.5) * m.step_x - 0.5, double(m.clip_left), double(m.clip_right - 1));
    const double v = std::clamp(m.y + (j + 0.5) * m.step_y - 0.5, double(m.clip_top), double(m.clip_bottom - 1));
    const int x0 = static_cast<int>(std::floor(u)), y0 = static_cast<int>(std::floor(v));
    const int x1 = std::min(x0 + 1, m.clip_right - 1), y1 = std::min(y0 + 1, m.clip_bottom - 1);
    const double fx = u - x0, fy = v - y0;
    const double top = p.At(x0, y0, c) * (1 - fx) + p.At(x1, y0, c) * fx;
    const double bottom = p.At(x0, y1, c) * (1 - fx) + p.At(x1, y1, c) * fx;
    return top * (1 - fy) + bottom * fy;
}

StretchMapping Whole(const Picture& p, int out_width, int out_height) {
    StretchMapping m;
    m.step_x = double(p.width) / out_width;
    m.step_y = double(p.height) / out_height;
    m.clip_right = p.width;
    m.clip_bottom = p.height;
    return m;
}

TEST(PictureStretchTest, EveryPixelIsTheBilinearBlendOfItsSourcePoint) {
    const Picture picture = RandomPicture(37, 29, 3);
    // Narrower than a vector's worth of pixels, and a few past it.
    const Picture narrow = RandomPicture(5, 3, 4), seven = RandomPicture(7, 4, 5), ten = RandomPicture(10, 6, 6);
    // A quarter of a camera picture each way, to a quarter of the views it is shown in.
    const Picture camera = RandomPicture(176, 144, 7);
    struct Case {
        const char* what;
        StretchMapping mapping;
        int out_width, out_height;
        const Picture* source = nullptr;  // the 37 x 29 picture when null
        int offset = 0;  // pixels past a 64-byte boundary where the destination starts
    };
    StretchMapping window;  // a zoomed part, off-centre, enlarged unevenly
    window.x = 5.25;
    window.y = 3.5;
    window.step_x = 0.37;
    window.step_y = 0.61;
    window.clip_left = 5;
    window.clip_top = 3;
    window.clip_right = 30;
    window.clip_bottom = 20;
    StretchMapping part = window;  // a part at its own size
    part.x = 5;
    part.y = 3;
    part.step_x = part.step_y = 1;
    const Case cases[] = {
        {"one to one", Whole(picture, 37, 29), 37, 29},
        {"part one to one", part, 25, 17},
        {"enlarged", Whole(picture, 100, 77), 100, 77},
        {"reduced", Whole(picture, 13, 11), 13, 11},
        {"wider, lower", Whole(picture, 90, 17), 90, 17},
        {"one pixel", Whole(picture, 1, 1), 1, 1},
        {"window", window, 61, 27},
        {"narrow enlarged", Whole(narrow, 11, 7), 11, 7, &narrow},
        {"seven enlarged", Whole(seven, 15, 9), 15, 9, &seven},
        {"ten reduced", Whole(ten, 7, 5), 7, 5, &ten},
        {"ten one to one", Whole(ten, 10, 6), 10, 6, &ten},
        {"reduced past a third", Whole(picture, 9, 7), 9, 7},
        {"camera enlarged", Whole(camera, 240, 135), 240, 135, &camera},
        {"camera reduced", Whole(camera, 160, 128), 160, 128, &camera},
        {"camera enlarged, a pixel past a line", Whole(camera, 240, 135), 240, 135, &camera, 1},
        {"camera enlarged, two pixels past a line", Whole(camera, 239, 134), 239, 134, &camera, 2},
        {"camera reduced, three pixels past a line", Whole(camera, 161, 127), 161, 127, &camera, 3},
        {"window, five pixels past a line", window, 61, 27, nullptr, 5},
    };
    for (const auto kernel : {PictureStretcher::Kernel::kBest, PictureStretcher::Kernel::kWidened}) {
        for (const bool streamed : {false, true}) {
            SCOPED_TRACE(kernel == PictureStretcher::Kernel::kBest ? "best kernel" : "widened kernel");
            SCOPED_TRACE(streamed ? "streamed" : "cached");
            // One stretcher for all: what it keeps from one mapping must not leak into the next.
            PictureStretcher stretcher(kernel);
            for (const Case& c : cases) {
                SCOPED_TRACE(c.what);
                const Picture& source = c.source ? *c.source : picture;
                // A wider stride than the row: pixels past the row stay as they were.
                const int stride = c.out_width + 3;
                std::vector<uint32_t> buffer(static_cast<size_t>(stride) * c.out_height + 16 + c.offset, 0x12345678u);
                const size_t line_start = (64 - reinterpret_cast<uintptr_t>(buffer.data()) % 64) % 64 / 4;
                uint32_t* out = buffer.data() + line_start + c.offset;
                ASSERT_TRUE(stretcher.Stretch(source.source(), c.mapping, out, stride, c.out_width, c.out_height, 0,
                                              streamed));
                for (int j = 0; j < c.out_height; ++j) {
                    for (int i = 0; i < c.out_width; ++i) {
                        const uint32_t pixel = out[static_cast<size_t>(j) * stride + i];
                        ASSERT_EQ(0xFFu, pixel >> 24) << i << "," << j;
                        for (int ch = 0; ch < 3; ++ch) {
                            const double expected = Reference(source, c.mapping, i, j, ch);
                            // Rows weighted in 256ths, columns in 256ths or 128ths, each
                            // rounded: under half a level for each weight's step (a
                            // 128th of 255) and half a level for each rounding.
                            ASSERT_NEAR(expected, static_cast<int>(pixel >> (8 * ch) & 0xFF), 2.5)
                                << i << "," << j << " channel " << ch;
                        }
                    }
                    for (int i = c.out_width; i < stride; ++i)
                        ASSERT_EQ(0x12345678u, out[static_cast<size_t>(j) * stride + i]);
                }
                // Nor anything before the destination.
                for (const uint32_t* p = buffer.data(); p < out; ++p) ASSERT_EQ(0x12345678u, *p);
            }
        }
    }
}

// A destination made a strip of rows at a time is the one made whole.
TEST(PictureStretchTest, StripsMakeTheWholeDestination) {
    const Picture picture = RandomPicture(50, 40, 9);
    const StretchMapping m = Whole(picture, 83, 61);
    PictureStretcher whole_stretcher, strip_stretcher;
    std::vector<uint32_t> whole(83 * 61), strips(83 * 61);
    ASSERT_TRUE(whole_stretcher.Stretch(picture.source(), m, whole.data(), 83, 83, 61));
    for (int row = 0; row < 61; row += 7)
        ASSERT_TRUE(strip_stretcher.Stretch(picture.source(), m, strips.data() + row * 83, 83, 83,
                                            std::min(7, 61 - row), row));
    EXPECT_EQ(whole, strips);
}

// Around a zoomed part of the picture, only the part itself is sampled: a
// neighbour of another colour must not bleed into its edges.
TEST(PictureStretchTest, NothingOutsideTheClipIsSampled) {
    Picture picture{20, 20, Bytes(20 * 20 * 3, 0)};  // black around
    for (int y = 5; y < 15; ++y)
        for (int x = 5; x < 15; ++x) {
            uint8_t* px = &picture.bottom_up[(static_cast<size_t>(19 - y) * 20 + x) * 3];
            px[0] = 10, px[1] = 200, px[2] = 30;
        }
    StretchMapping m;
    m.x = 4;  // starts a pixel left of and above the clip
    m.y = 4;
    m.step_x = 12.0 / 50;
    m.step_y = 12.0 / 40;
    m.clip_left = m.clip_top = 5;
    m.clip_right = m.clip_bottom = 15;
    PictureStretcher stretcher;
    std::vector<uint32_t> out(50 * 40);
    ASSERT_TRUE(stretcher.Stretch(picture.source(), m, out.data(), 50, 50, 40));
    for (uint32_t pixel : out) ASSERT_EQ(0xFF1EC80Au, pixel);
}

TEST(PictureStretchTest, RefusesWhatCannotBeDrawn) {
    const Picture picture = RandomPicture(8, 8, 1);
    std::vector<uint32_t> out(64, 7);
    PictureStretcher stretcher;
    StretchMapping m = Whole(picture, 8, 8);
    EXPECT_FALSE(stretcher.Stretch(StretchSource{nullptr, 8, 8}, m, out.data(), 8, 8, 8));
    EXPECT_FALSE(stretcher.Stretch(picture.source(), m, nullptr, 8, 8, 8));
    EXPECT_FALSE(stretcher.Stretch(picture.source(), m, out.data(), 8, 0, 8));
    StretchMapping flat = m;
    flat.step_y = 0;
    EXPECT_FALSE(stretcher.Stretch(picture.source(), flat, out.data(), 8, 8, 8));
    StretchMapping outside = m;
    outside.clip_left = 8;
    outside.clip_right = 12;
    EXPECT_FALSE(stretcher.Stretch(picture.source(), outside, out.data(), 8, 8, 8));
    StretchMapping empty = m;
    empty.clip_top = empty.clip_bottom = 4;
    EXPECT_FALSE(stretcher.Stretch(picture.source(), empty, out.data(), 8, 8, 8));
    EXPECT_EQ(std::vector<uint32_t>(64, 7), out);
}

}  // namespace
