#include "checker/msvc16_decoder.h"

#include <algorithm>

namespace {

class WordReader {
public:
    WordReader(const uint8_t* data, size_t length) : data_(data), length_(data ? length : 0) {}
    bool Next(uint16_t* word) {
        if (length_ - at_ < 2) return false;
        *word = static_cast<uint16_t>(data_[at_] | (data_[at_ + 1] << 8));
        at_ += 2;
        return true;
    }

private:
    const uint8_t* data_;
    size_t length_;
    size_t at_ = 0;
};

}  // namespace

bool DecodeMsvc16(uint16_t* picture, const uint8_t* data, size_t length, int width, int height,
                  Msvc16BlockCounts* counts) {
    if (!picture || width <= 0 || height <= 0) return false;
    Msvc16BlockCounts unused;
    Msvc16BlockCounts& count = counts ? *counts : unused;
    const size_t stride = static_cast<size_t>(width);
    const size_t blocks_wide = stride / 4;
    const size_t blocks_high = static_cast<size_t>(height) / 4;
    const size_t total = blocks_wide * blocks_high;
    WordReader in(data, length);

    // Blocks run from the bottom block row up, each row left to right.
    for (size_t block = 0; block < total;) {
        uint16_t code;
        if (!in.Next(&code)) return false;
        const unsigned high = code >> 8;
        if ((high & 0xFC) == 0x84) {
            const size_t left = total - block;
            const size_t skip = code == 0x8400 ? left : std::min<size_t>(code - 0x8400u, left);
            count.skipped += skip;
            block += skip;
            continue;
        }

        uint16_t colours[8];
        int kind;  // 1, 2 or 8 colours
        if (high >= 0x80) {
            colours[0] = code;
            kind = 1;
        } else {
            if (!in.Next(&colours[0]) || !in.Next(&colours[1])) return false;
            kind = 2;
            if (colours[0] & 0x8000) {
                for (int i = 2; i < 8; ++i)
                    if (!in.Next(&colours[i])) return false;
                kind = 8;
            }
        }

        const size_t block_row = blocks_high - 1 - block / blocks_wide;
        uint16_t* const bottom = picture + (block_row * 4 + 3) * stride + (block % blocks_wide) * 4;
        // Within a block rows run bottom up, so flag bit y * 4 + x is row y from the bottom.
        for (int y = 0; y < 4; ++y) {
            uint16_t* row = bottom - static_cast<size_t>(y) * stride;
            for (int x = 0; x < 4; ++x) {
                const int second = ((code >> (y * 4 + x)) & 1) ^ 1;
                if (kind == 1)
                    row[x] = colours[0];
                else if (kind == 2)
                    row[x] = colours[second];
                else
                    row[x] = colours[(y & 2) * 2 + (x & 2) + second];
            }
        }
        if (kind == 1)
            ++count.one_colour;
        else if (kind == 2)
            ++count.two_colour;
        else
            ++count.eight_colour;
        ++block;
    }
    return true;
}

void Rgb555ToBgr24(uint8_t* output, const uint16_t* picture, int width, int height) {
    if (!output || !picture || width <= 0 || height <= 0) return;
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (size_t i = 0; i < n; ++i) {
        const uint16_t p = picture[i];
        output[3 * i] = static_cast<uint8_t>((p & 0x1F) << 3);
        output[3 * i + 1] = static_cast<uint8_t>(((p >> 5) & 0x1F) << 3);
        output[3 * i + 2] = static_cast<uint8_t>(((p >> 10) & 0x1F) << 3);
    }
}
