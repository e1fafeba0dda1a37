#include "media/vedio_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes RandomBytes(size_t n, unsigned seed) {
    std::mt19937 random(seed);
    Bytes b(n);
    for (uint8_t& v : b) v = static_cast<uint8_t>(random());
    return b;
}

// A player holding the given top-down picture.
void Load(VedioPlayer& player, int width, int height, const Bytes& top_down) {
    ASSERT_TRUE(player.SetFrameSize(width, height));
    ASSERT_TRUE(player.CopyFrame(top_down.data(), top_down.size()));
}

Bytes Contents(const VedioPlayer& player) {
    return Bytes(player.buffer(), player.buffer() + player.buffer_size());
}

// Sizes whose byte counts leave every kind of tail: none, under 8, under 16,
// and a whole picture smaller than one block.
const std::pair<int, int> kSizes[] = {{2, 2}, {1, 1}, {7, 5}, {16, 16}, {33, 3}, {64, 9}};

TEST(VedioPlayerTest, SetFrameSizeMakesAlignedBlackPictureAndRefusesBadSizes) {
    VedioPlayer player;
    EXPECT_FALSE(player.has_buffer());
    EXPECT_FALSE(player.HasDrawHandle());
    ASSERT_TRUE(player.SetFrameSize(7, 5));
    EXPECT_TRUE(player.HasDrawHandle());
    EXPECT_EQ(105u, player.buffer_size());
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(player.buffer()) % 16);
    EXPECT_EQ(Bytes(105, 0), Contents(player));
    const BitmapInfoHeader& h = player.header();
    EXPECT_EQ(40u, h.size);
    EXPECT_EQ(7, h.width);
    EXPECT_EQ(5, h.height);
    EXPECT_EQ(1, h.planes);
    EXPECT_EQ(24, h.bit_count);
    EXPECT_EQ(0u, h.compression);

    // Refused sizes leave the picture and header as they were.
    Load(player, 7, 5, RandomBytes(105, 1));
    const Bytes before = Contents(player);
    for (auto [w, h2] : {std::pair{-1, 5}, std::pair{7, -1}, std::pair{kMaxFrameSide + 1, 2},
                         std::pair{2, kMaxFrameSide + 1}, std::pair{INT_MAX, INT_MAX}}) {
        EXPECT_FALSE(player.SetFrameSize(w, h2)) << w << "x" << h2;
        EXPECT_EQ(7, player.width());
        EXPECT_EQ(before, Contents(player));
    }

    // Zero sides give an empty picture that accepts any input.
    ASSERT_TRUE(player.SetFrameSize(0, 5));
    EXPECT_TRUE(player.has_buffer());
    EXPECT_EQ(0u, player.buffer_size());
    const uint8_t one = 9;
    EXPECT_TRUE(player.CopyFrame(&one, 0));
    EXPECT_TRUE(player.Grey());
}

TEST(VedioPlayerTest, CopyFrameTurnsPictureBottomUpAndRefusesShortInput) {
    VedioPlayer player;
    EXPECT_FALSE(player.CopyFrame(RandomBytes(12, 0).data(), 12));  // no buffer yet
    ASSERT_TRUE(player.SetFrameSize(2, 3));
    // Rows top to bottom: 0x1n, 0x2n, 0x3n.
    const Bytes top_down = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x20, 0x21, 0x22,
                            0x23, 0x24, 0x25, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35};
    ASSERT_TRUE(player.CopyFrame(top_down.data(), top_down.size() + 5));  // extra bytes are ignored
    const Bytes bottom_up = {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x20, 0x21, 0x22,
                             0x23, 0x24, 0x25, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15};
    EXPECT_EQ(bottom_up, Contents(player));

    EXPECT_FALSE(player.CopyFrame(nullptr, 18));
    const Bytes other(18, 0xEE);
    EXPECT_FALSE(player.CopyFrame(other.data(), 17));
    EXPECT_EQ(bottom_up, Contents(player));

    Bytes back(18);
    EXPECT_FALSE(player.CopyTopDown(back.data(), 17));
    ASSERT_TRUE(player.CopyTopDown(back.data(), back.size()));
    EXPECT_EQ(top_down, back);
}

// A converter that writes rows top to bottom through the given stride, as the decoder does.
std::function<bool(uint8_t*, ptrdiff_t)> WriteRows(const Bytes& top_down, int width, int height, bool ok,
                                                   int* calls) {
    return [&top_down, width, height, ok, calls](uint8_t* top_row, ptrdiff_t stride) {
        ++*calls;
        const size_t row = static_cast<size_t>(width) * 3;
        for (int y = 0; y < height; ++y) std::copy_n(top_down.data() + y * row, row, top_row + y * stride);
        return ok;
    };
}

TEST(VedioPlayerTest, ConvertFrameWritesStraightIntoThePictureOfItsSizeOnly) {
    VedioPlayer player;
    const Bytes top_down = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x20, 0x21, 0x22,
                            0x23, 0x24, 0x25, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35};
    int calls = 0;
    EXPECT_EQ(-1, player.ConvertFrame(2, 3, WriteRows(top_down, 2, 3, true, &calls)));  // no buffer yet
    ASSERT_TRUE(player.SetFrameSize(2, 3));
    for (auto [w, h] : {std::pair{3, 2}, std::pair{2, 2}, std::pair{0, 3}, std::pair{2, 0}})
        EXPECT_EQ(-1, player.ConvertFrame(w, h, WriteRows(top_down, 2, 3, true, &calls))) << w << "x" << h;
    EXPECT_EQ(0, calls);
    EXPECT_EQ(Bytes(18, 0), Contents(player));

    EXPECT_EQ(1, player.ConvertFrame(2, 3, WriteRows(top_down, 2, 3, true, &calls)));
    EXPECT_EQ(1, calls);
    const Bytes bottom_up = {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x20, 0x21, 0x22,
                             0x23, 0x24, 0x25, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15};
    EXPECT_EQ(bottom_up, Contents(player));
    Bytes back(18);
    ASSERT_TRUE(player.CopyTopDown(back.data(), back.size()));
    EXPECT_EQ(top_down, back);

    // A conversion that fails part-way leaves the shown picture as it was.
    const Bytes other(18, 0xEE);
    EXPECT_EQ(0, player.ConvertFrame(2, 3, WriteRows(other, 2, 3, false, &calls)));
    EXPECT_EQ(bottom_up, Contents(player));
}

TEST(VedioPlayerTest, FiltersWithoutBufferDoNothingAndFail) {
    VedioPlayer player;
    EXPECT_FALSE(player.AdjustBrightness(10));
    EXPECT_FALSE(player.AdjustContrast(10));
    EXPECT_FALSE(player.AdjustContrastSse2(10));
    EXPECT_FALSE(player.Grey());
    uint8_t out[3];
    EXPECT_FALSE(player.CopyTopDown(out, sizeof out));
}

TEST(VedioPlayerTest, BrightnessAddsAndClampsEveryByte) {
    const int values[] = {300, 255, 254, 37, 1, 0, -1, -37, -254, -255, -256, -300, INT_MAX, INT_MIN};
    for (auto [w, h] : kSizes) {
        const Bytes picture = RandomBytes(static_cast<size_t>(w) * h * 3, w * 31 + h);
        for (int value : values) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " value " << value);
            VedioPlayer player;
            Load(player, w, h, picture);
            const Bytes before = Contents(player);
            ASSERT_TRUE(player.AdjustBrightness(value));
            const Bytes after = Contents(player);
            for (size_t i = 0; i < before.size(); ++i) {
                const int64_t v = static_cast<int64_t>(before[i]) + value;
                ASSERT_EQ(v >= 255 ? 255 : v < 0 ? 0 : v, after[i]) << "byte " << i;
            }
        }
    }
}

struct ContrastCase {
    int value;
    uint8_t in;
    uint8_t plain;        // truncated toward zero
    uint8_t fixed_point;  // 4 fractional bits, shifted down
    uint8_t rounded_down; // the checker's preview
};

// Expected bytes worked out by hand from the factor and the formulas.
const ContrastCase kContrastCases[] = {
    {-100, 0, 127, 127, 127},    {-100, 255, 127, 127, 127},  {-250, 3, 127, 127, 127},
    {0, 0, 0, 0, 0},             {0, 200, 200, 200, 200},     {0, 255, 255, 255, 255},
    {50, 100, 36, 35, 35},       {50, 150, 204, 204, 204},    {50, 127, 127, 127, 127},
    {50, 90, 3, 2, 2},           {50, 80, 0, 0, 0},           {50, 170, 255, 255, 255},
    {100, 130, 151, 151, 151},   {100, 126, 119, 119, 119},   {1000, 126, 119, 119, 119},
    {-50, 0, 64, 63, 63},        {-50, 255, 191, 191, 191},   {-50, 126, 127, 126, 126},
    // Just below neutral the 4 fractional bits take 0.99 as 0.9375.
    {-1, 0, 2, 1, 1},            {-1, 128, 127, 121, 127},    {-1, 255, 253, 240, 253},
};

TEST(VedioPlayerTest, ContrastVariantsGiveTheirOwnRounding) {
    // The same players throughout, so a table kept from the previous value
    // would show.
    VedioPlayer plain, fixed, checker(ContrastRounding::kDown);
    for (const ContrastCase& c : kContrastCases) {
        SCOPED_TRACE(testing::Message() << "value " << c.value << " byte " << int(c.in));
        // 16 x 1 pixels: 48 bytes, whole blocks for the fixed-point variant.
        const Bytes picture(48, c.in);
        Load(plain, 16, 1, picture);
        ASSERT_TRUE(plain.AdjustContrast(c.value));
        EXPECT_EQ(Bytes(48, c.plain), Contents(plain));
        Load(fixed, 16, 1, picture);
        ASSERT_TRUE(fixed.AdjustContrastSse2(c.value));
        EXPECT_EQ(Bytes(48, c.fixed_point), Contents(fixed));
        Load(checker, 16, 1, picture);
        ASSERT_TRUE(checker.AdjustContrast(c.value));
        EXPECT_EQ(Bytes(48, c.rounded_down), Contents(checker));
    }
}

// Every value and byte against the formulas in double precision, over
// pictures whose sizes leave tails after the 8- and 16-byte steps.
TEST(VedioPlayerTest, ContrastMatchesFormulaForAllValuesAndBytes) {
    for (auto [w, h] : kSizes) {
        const Bytes picture = RandomBytes(static_cast<size_t>(w) * h * 3, w + h);
        for (int value = -101; value <= 101; ++value) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " value " << value);
            const int a = std::clamp(value + 100, 0, 200);
            const double f = a >= 100 ? (a * 0.01) * (a * 0.01) * (a * 0.01) : a * 0.01;
            VedioPlayer plain, fixed, checker(ContrastRounding::kDown);
            Load(plain, w, h, picture);
            Load(fixed, w, h, picture);
            Load(checker, w, h, picture);
            const Bytes before = Contents(plain);
            plain.AdjustContrast(value);
            fixed.AdjustContrastSse2(value);
            checker.AdjustContrast(value);
            const int m = static_cast<int>(std::trunc(16 * f));
            const int o = static_cast<int>(std::trunc((1 - f) * 127 * 16));
            const size_t blocks_end = before.size() / 16 * 16;
            for (size_t i = 0; i < before.size(); ++i) {
                const int p = before[i];
                const double t = std::trunc(f * (p - 127)) + 127;
                const double d = std::floor(f * (p - 127)) + 127;
                ASSERT_EQ(std::clamp(t, 0.0, 255.0), plain.buffer()[i]) << "byte " << i;
                ASSERT_EQ(std::clamp(d, 0.0, 255.0), checker.buffer()[i]) << "byte " << i;
                const int sum = p * m + o;
                ASSERT_TRUE(sum >= -14224 && sum <= 18416);
                const int expected = i < blocks_end ? std::clamp(sum >> 4, 0, 255) : p;
                ASSERT_EQ(expected, fixed.buffer()[i]) << "byte " << i;
            }
        }
    }
}

TEST(VedioPlayerTest, GreyOfEveryPixelIsQuarterWeightedSum) {
    {
        VedioPlayer player;
        Load(player, 1, 1, Bytes{255, 0, 0});  // pure blue
        ASSERT_TRUE(player.Grey());
        EXPECT_EQ((Bytes{63, 63, 63}), Contents(player));
    }
    for (auto [w, h] : {std::pair{1, 1}, std::pair{2, 2}, std::pair{5, 1}, std::pair{16, 1}, std::pair{17, 3},
                        std::pair{31, 7}, std::pair{704, 576}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        const Bytes picture = RandomBytes(static_cast<size_t>(w) * h * 3, w * h);
        VedioPlayer player;
        Load(player, w, h, picture);
        const Bytes before = Contents(player);
        ASSERT_TRUE(player.Grey());
        for (size_t i = 0; i < before.size(); i += 3) {
            const int y = (before[i] + 2 * before[i + 1] + before[i + 2]) >> 2;
            ASSERT_TRUE(player.buffer()[i] == y && player.buffer()[i + 1] == y && player.buffer()[i + 2] == y)
                << "pixel " << i / 3;
        }
    }
}

}  // namespace
