#pragma once
// The smooth (bilinear) stretch a viewer draws with: part of a 24-bit
// bottom-up picture straight into 32-bit 0xFFRRGGBB pixels at the size they
// are shown, in one pass per row, so the window only copies the result.
#include <cstddef>
#include <cstdint>
#include <vector>

// The picture read: rows bottom-up, width x 3 bytes each, no padding.
struct StretchSource {
    const uint8_t* bottom_up = nullptr;
    int width = 0;
    int height = 0;
};

// Where the destination pixels sample the picture (top row 0). Destination
// pixel (i, j) has its centre at source point
//   (x + (i + 0.5) * step_x - 0.5, y + (j + 0.5) * step_y - 0.5),
// the centres of source pixels being at whole numbers; points outside the
// clip rectangle take its edge pixels.
struct StretchMapping {
    double x = 0;
    double y = 0;
    double step_x = 1;
    double step_y = 1;
    int clip_left = 0;
    int clip_top = 0;
    int clip_right = 0;   // exclusive
    int clip_bottom = 0;  // exclusive
    bool operator==(const StretchMapping&) const = default;
};

class PictureStretcher {
public:
    // The byte multiply-add kernel where the processor has it, or the widened
    // one everywhere (also what a processor without it runs).
    enum class Kernel { kBest, kWidened };
    explicit PictureStretcher(Kernel kernel = Kernel::kBest) : kernel_(kernel) {}

    // Fills out_width x out_height pixels, out_stride pixels apart from row to
    // row: destination rows first_row onwards, so a large destination can be
    // made a strip at a time. False (nothing written) for an empty or
    // out-of-picture clip, a non-positive step or an empty destination.
    // streamed: the destination is large and not read again soon, so its
    // pixels may bypass the cache.
    bool Stretch(const StretchSource& source, const StretchMapping& mapping, uint32_t* out, size_t out_stride,
                 int out_width, int out_height, int first_row = 0, bool streamed = false);

private:
    // What the column tables below were made for.
    struct Columns {
        double x = 0;
        double step_x = 0;
        int left = 0;
        int right = 0;
        int width = 0;
        bool operator==(const Columns&) const = default;
    };
    Columns columns_;
    void MakeColumns(const StretchMapping& mapping, int left, int right, int out_width);
    // Where the processor has a byte multiply-add (SSSE3), columns are
    // weighted in 128ths straight from a row of interleaved pixel pairs;
    // otherwise in 256ths from a row widened to 16 bits a channel.
    Kernel kernel_;
    bool pairs_ = false;
    // Each destination column is a source column shown as it is.
    bool straight_ = false;
    // Per destination column: the first source column of its pair (relative to
    // the clip; the second is the next one), and the pair's weights: out of 256
    // as four 16-bit copies of the first's and four of the second's, or out of
    // 128 as four byte pairs.
    std::vector<int32_t> first_;
    std::vector<uint16_t> weights_;
    std::vector<uint8_t> pair_weights_;
    std::vector<uint8_t> blended_;  // one source row, blended between two
    std::vector<uint8_t> pair_line_;  // the same as interleaved pairs
    std::vector<uint32_t> line32_;  // or as 32-bit pixels
    // and with 16 bits a channel, and the last pixel once more, so a pixel
    // and the next are always one 16-byte read.
    std::vector<uint16_t> line16_;
};

// Blue, green, red bytes to 0xFFRRGGBB words.
void BgrRowToRgb32(const uint8_t* in, uint32_t* out, int count);
