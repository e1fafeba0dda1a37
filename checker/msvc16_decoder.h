#pragma once
// Microsoft Video 1 frames in 16-bit colour, decoded by the checker itself.
#include <cstddef>
#include <cstdint>

// How a frame's blocks were coded; skipped blocks are counted one by one.
struct Msvc16BlockCounts {
    uint64_t skipped = 0;
    uint64_t one_colour = 0;
    uint64_t two_colour = 0;
    uint64_t eight_colour = 0;
};

// Decodes one frame of length bytes into picture: width x height RGB 5-5-5
// pixels, top row first, kept between frames (skipped blocks show the previous
// frame). Only whole 4x4 blocks are decoded; remainder pixels are left alone.
// Decoding stops where the data run out, leaving the remaining blocks as they
// were; the result is true only when every block was coded or skipped.
bool DecodeMsvc16(uint16_t* picture, const uint8_t* data, size_t length, int width, int height,
                  Msvc16BlockCounts* counts = nullptr);

// width x height 16-bit pixels to 24-bit blue, green, red in the same row order.
void Rgb555ToBgr24(uint8_t* output, const uint16_t* picture, int width, int height);
