#include "media/picture_stretch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define LARKSPUR_HAVE_SSSE3_PATH 1
#endif

void BgrRowToRgb32(const uint8_t* in, uint32_t* out, int count) {
    // A little-endian word of three stored bytes is already the pixel, so four
    // pixels are three loads and shifts, four stores.
    int x = 0;
    for (; x + 4 <= count; x += 4, in += 12, out += 4) {
        uint32_t a, b, c;
        std::memcpy(&a, in, 4);
        std::memcpy(&b, in + 4, 4);
        std::memcpy(&c, in + 8, 4);
        out[0] = 0xFF000000u | a;
        out[1] = 0xFF000000u | a >> 24 | b << 8;
        out[2] = 0xFF000000u | b >> 16 | c << 16;
        out[3] = 0xFF000000u | c >> 8;
    }
    for (; x < count; ++x, in += 3)
        *out++ = 0xFF000000u | static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[1]) << 8 | in[0];
}

namespace {

// (a * (256 - w) + b * w) / 256 rounded, for each of n bytes; w in 1..255.
// Rounded, not truncated: a truncated row is up to a level darker, which the
// column step can add to beyond what bilinear sampling allows.
void BlendRows(const uint8_t* a, const uint8_t* b, uint32_t w, uint8_t* out, size_t n) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i wa = _mm_set1_epi16(static_cast<int16_t>(256 - w));
    const __m128i wb = _mm_set1_epi16(static_cast<int16_t>(w));
    const __m128i half = _mm_set1_epi16(128);
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        // At most 255 * 256 + 128, so the unsigned 16-bit sums never overflow.
        const __m128i lo = _mm_srli_epi16(
            _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(x, zero), wa),
                                        _mm_mullo_epi16(_mm_unpacklo_epi8(y, zero), wb)),
                          half),
            8);
        const __m128i hi = _mm_srli_epi16(
            _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(x, zero), wa),
                                        _mm_mullo_epi16(_mm_unpackhi_epi8(y, zero), wb)),
                          half),
            8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; i < n; ++i) out[i] = static_cast<uint8_t>((a[i] * (256 - w) + b[i] * w + 128) >> 8);
}

// 32-bit pixels to four 16-bit channels each.
void WidenPixels(const uint32_t* in, uint16_t* out, int count) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 4 <= count; i += 4) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm_unpacklo_epi8(x, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i + 8), _mm_unpackhi_epi8(x, zero));
    }
#endif
    for (; i < count; ++i)
        for (int c = 0; c < 4; ++c) out[4 * i + c] = static_cast<uint16_t>(in[i] >> (8 * c) & 0xFF);
}

// Blue, green, red bytes straight to four 16-bit channels a pixel (alpha 255).
void BgrRowToWide(const uint8_t* in, uint16_t* out, int count) {
    for (int x = 0; x < count; ++x, in += 3, out += 4) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
        out[3] = 0xFF;
    }
}

#if defined(LARKSPUR_HAVE_SSSE3_PATH)
// The same with one byte shuffle per four pixels, in place of a 32-bit row
// written and read back: the row pass costs about as much as the stretch itself.
__attribute__((target("ssse3"))) void BgrRowToWideSsse3(const uint8_t* in, uint16_t* out, int count) {
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i zero = _mm_setzero_si128();
    int x = 0;
    // A load takes 16 bytes for 12, so the last pixels are left to the plain loop.
    for (; x + 6 <= count; x += 4, in += 12, out += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i pixels = _mm_or_si128(_mm_shuffle_epi8(bytes, spread), alpha);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(pixels, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(pixels, zero));
    }
    BgrRowToWide(in, out, count - x);
}

bool HasSsse3() {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}

// The pair row the byte multiply-add reads: for each pixel its blue, green and
// red bytes interleaved with the next pixel's (the last pixel's with its own),
// less 128 so that they can be the signed operand, and alpha as 127 twice
// (255 once stretched).
void BgrRowToPairs(const uint8_t* in, uint8_t* out, int count) {
    for (int x = 0; x < count; ++x, in += 3, out += 8) {
        const uint8_t* next = x + 1 < count ? in + 3 : in;
        for (int c = 0; c < 3; ++c) {
            out[2 * c] = static_cast<uint8_t>(in[c] ^ 0x80);
            out[2 * c + 1] = static_cast<uint8_t>(next[c] ^ 0x80);
        }
        out[6] = out[7] = 0x7F;
    }
}

__attribute__((target("ssse3"))) void BgrRowToPairsSsse3(const uint8_t* in, uint8_t* out, int count) {
    const __m128i pairs01 = _mm_setr_epi8(0, 3, 1, 4, 2, 5, -1, -1, 3, 6, 4, 7, 5, 8, -1, -1);
    const __m128i pairs23 = _mm_setr_epi8(6, 9, 7, 10, 8, 11, -1, -1, 9, 12, 10, 13, 11, 14, -1, -1);
    const __m128i flip = _mm_setr_epi8(-128, -128, -128, -128, -128, -128, 0x7F, 0x7F, -128, -128, -128, -128, -128,
                                       -128, 0x7F, 0x7F);
    int x = 0;
    // Four pairs read five pixels out of a 16-byte load; the last ones are left to the plain loop.
    for (; x + 6 <= count; x += 4, in += 12, out += 32) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_xor_si128(_mm_shuffle_epi8(bytes, pairs01), flip));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                         _mm_xor_si128(_mm_shuffle_epi8(bytes, pairs23), flip));
    }
    BgrRowToPairs(in, out, count - x);
}

// One destination row from a pair row: each channel (w0 * a + w1 * b + 64) / 128
// with w0 + w1 = 128, as (w0 * (a - 128) + w1 * (b - 128)) + 128 * 128 + 64, which
// stays within 16 bits.
constexpr int kPairBias = 128 * 128 + 64;

void StretchPairRow(const uint8_t* pairs, const int32_t* first, const uint8_t* weights, uint32_t* out, int count) {
    for (int i = 0; i < count; ++i) {
        const int8_t* p = reinterpret_cast<const int8_t*>(pairs + 8 * first[i]);
        const uint8_t* w = weights + 8 * i;
        uint32_t pixel = 0;
        for (int c = 0; c < 4; ++c)
            pixel |= static_cast<uint32_t>((w[0] * p[2 * c] + w[1] * p[2 * c + 1] + kPairBias) >> 7) << (8 * c);
        out[i] = pixel;
    }
}

template <bool kStreamed>
__attribute__((target("ssse3"))) void StretchPairRunSsse3(const uint8_t* pairs, const int32_t* first,
                                                          const uint8_t* weights, uint32_t* out, int count) {
    const __m128i bias = _mm_set1_epi16(kPairBias);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i p01 = _mm_castps_si128(
            _mm_loadh_pi(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pairs + 8 * first[i]))),
                         reinterpret_cast<const __m64*>(pairs + 8 * first[i + 1])));
        const __m128i p23 = _mm_castps_si128(_mm_loadh_pi(
            _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pairs + 8 * first[i + 2]))),
            reinterpret_cast<const __m64*>(pairs + 8 * first[i + 3])));
        const __m128i w01 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + 8 * i));
        const __m128i w23 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + 8 * i + 16));
        const __m128i s01 = _mm_srli_epi16(_mm_add_epi16(_mm_maddubs_epi16(w01, p01), bias), 7);
        const __m128i s23 = _mm_srli_epi16(_mm_add_epi16(_mm_maddubs_epi16(w23, p23), bias), 7);
        if (kStreamed) {
            _mm_stream_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(s01, s23));
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(s01, s23));
        }
    }
    StretchPairRow(pairs, first + i, weights + 8 * i, out + i, count - i);
}

// Streamed, the rows go out past the cache (a window's pixels are megabytes,
// read next by whatever shows them), which saves reading each line in before
// it is overwritten; that takes whole aligned lines. The first and last line
// of a row are stored as usual: the frame and fills painted next beside the
// picture land in them, and would otherwise read each one back from memory.
// A strip that is read again at once is better kept whole.
template <bool kStreamed>
__attribute__((target("ssse3"))) void StretchPairRowSsse3(const uint8_t* pairs, const int32_t* first,
                                                          const uint8_t* weights, uint32_t* out, int count) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(out);
    if (count <= 0) return;
    if (!kStreamed || at % 4 != 0) return StretchPairRunSsse3<false>(pairs, first, weights, out, count);
    constexpr uintptr_t kLine = 64;
    const int head = std::min(count, static_cast<int>((kLine - at % kLine) % kLine / 4));
    // The line that holds the last pixel.
    const uintptr_t last_line = (at + static_cast<uintptr_t>(count) * 4 - 1) & ~(kLine - 1);
    const int tail = std::max(head, static_cast<int>(last_line > at ? (last_line - at) / 4 : 0));
    StretchPairRunSsse3<false>(pairs, first, weights, out, head);
    StretchPairRunSsse3<true>(pairs, first + head, weights + 8 * head, out + head, tail - head);
    StretchPairRunSsse3<false>(pairs, first + tail, weights + 8 * tail, out + tail, count - tail);
}
#endif

void WidenRow(const uint8_t* in, uint16_t* out, uint32_t* line32, int count) {
#if defined(LARKSPUR_HAVE_SSSE3_PATH)
    if (HasSsse3()) return BgrRowToWideSsse3(in, out, count);
#endif
    BgrRowToRgb32(in, line32, count);
    WidenPixels(line32, out, count);
}

// One destination row from a widened source line: each pixel the weighted sum
// of a source pixel and the next.
void StretchRow(const uint16_t* line, const int32_t* first, const uint16_t* weights, uint32_t* out, int count) {
    int i = 0;
#if defined(__SSE2__)
    auto pair = [&](int k) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + 4 * first[k]));
        return _mm_mullo_epi16(pixels, _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + 8 * k)));
    };
    const __m128i half = _mm_set1_epi16(128);
    for (; i + 4 <= count; i += 4) {
        const __m128i p0 = pair(i), p1 = pair(i + 1), p2 = pair(i + 2), p3 = pair(i + 3);
        // Each product holds a pixel's share in its low half and the next's in
        // its high half; at most 255 * 256 together, and the half for rounding.
        const __m128i s01 = _mm_srli_epi16(
            _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi64(p0, p1), _mm_unpackhi_epi64(p0, p1)), half), 8);
        const __m128i s23 = _mm_srli_epi16(
            _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi64(p2, p3), _mm_unpackhi_epi64(p2, p3)), half), 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(s01, s23));
    }
#endif
    for (; i < count; ++i) {
        const uint16_t* a = line + 4 * first[i];
        const uint16_t* w = weights + 8 * i;
        uint32_t pixel = 0;
        for (int c = 0; c < 4; ++c)
            pixel |= static_cast<uint32_t>((a[c] * w[0] + a[c + 4] * w[4] + 128) >> 8) << (8 * c);
        out[i] = pixel;
    }
}

// Source pixel and weight of the next one (out of scale) for a sampling point
// clamped to [low, high). A weight that rounds to the whole scale is the next
// pixel on its own: held at scale - 1 it would be up to two levels off.
void Sample(double at, int low, int high, int32_t* first, uint32_t* weight, uint32_t scale = 256) {
    const double clamped = std::clamp(at, static_cast<double>(low), static_cast<double>(high - 1));
    int whole = std::min(static_cast<int>(std::floor(clamped)), high - 1);
    uint32_t w = whole + 1 < high ? static_cast<uint32_t>((clamped - whole) * scale + 0.5) : 0;
    if (w >= scale) {
        ++whole;
        w = 0;
    }
    *first = whole;
    *weight = w;
}

bool HasPairKernel() {
#if defined(LARKSPUR_HAVE_SSSE3_PATH)
    return HasSsse3();
#else
    return false;
#endif
}

}  // namespace

void PictureStretcher::MakeColumns(const StretchMapping& m, int left, int right, int out_width) {
    pairs_ = kernel_ == Kernel::kBest && HasPairKernel();
    first_.resize(static_cast<size_t>(out_width));
    weights_.resize(pairs_ ? 0 : static_cast<size_t>(out_width) * 8);
    pair_weights_.resize(pairs_ ? static_cast<size_t>(out_width) * 8 : 0);
    straight_ = true;
    for (int i = 0; i < out_width; ++i) {
        int32_t first;
        uint32_t w;
        Sample(m.x + (i + 0.5) * m.step_x - 0.5, left, right, &first, &w, pairs_ ? 128 : 256);
        first_[static_cast<size_t>(i)] = first - left;
        straight_ = straight_ && w == 0 && first - left == first_[0] + i;
        if (pairs_) {
            for (int c = 0; c < 4; ++c) {
                pair_weights_[static_cast<size_t>(8 * i + 2 * c)] = static_cast<uint8_t>(128 - w);
                pair_weights_[static_cast<size_t>(8 * i + 2 * c + 1)] = static_cast<uint8_t>(w);
            }
        } else {
            std::fill_n(weights_.begin() + 8 * i, 4, static_cast<uint16_t>(256 - w));
            std::fill_n(weights_.begin() + 8 * i + 4, 4, static_cast<uint16_t>(w));
        }
    }
}

bool PictureStretcher::Stretch(const StretchSource& source, const StretchMapping& m, uint32_t* out,
                               size_t out_stride, int out_width, int out_height, int first_row, bool streamed) {
    if (!source.bottom_up || !out || out_width <= 0 || out_height <= 0 || first_row < 0 || !(m.step_x > 0) ||
        !(m.step_y > 0))
        return false;
    const int left = std::max(m.clip_left, 0);
    const int top = std::max(m.clip_top, 0);
    const int right = std::min(m.clip_right, source.width);
    const int bottom = std::min(m.clip_bottom, source.height);
    if (left >= right || top >= bottom) return false;
    const int columns = right - left;
    const size_t row_bytes = static_cast<size_t>(source.width) * 3;

    // The strips of one destination share their columns.
    const Columns wanted{m.x, m.step_x, left, right, out_width};
    if (!(wanted == columns_)) {
        columns_ = wanted;
        MakeColumns(m, left, right, out_width);
    }
    blended_.resize(static_cast<size_t>(columns) * 3);
    if (pairs_) {
        pair_line_.resize(static_cast<size_t>(columns) * 8);
    } else {
        line32_.resize(static_cast<size_t>(columns));
        line16_.resize(static_cast<size_t>(columns + 1) * 4);
    }

    auto stored_row = [&](int row) {
        return source.bottom_up + static_cast<size_t>(source.height - 1 - row) * row_bytes +
               static_cast<size_t>(left) * 3;
    };
    int made_row = -1;
    uint32_t made_weight = 0;
    for (int j = 0; j < out_height; ++j) {
        int32_t y0;
        uint32_t wy;
        Sample(m.y + (first_row + j + 0.5) * m.step_y - 0.5, top, bottom, &y0, &wy);
        // The picture was last written on the decoding thread's processor, so
        // its rows come from afar: ask for the ones after this pair early.
        // (Stored bottom-up, they run backwards, where the processor's own
        // look-ahead finds them late.)
        if (y0 != made_row && y0 + 3 < bottom) {
            const uint8_t* ahead = stored_row(y0 + 3);
            for (size_t b = 0; b < static_cast<size_t>(columns) * 3; b += 64) __builtin_prefetch(ahead + b);
        }
        uint32_t* out_row = out + static_cast<size_t>(j) * out_stride;
        // A source row shown at its own size is only turned into 32-bit pixels.
        if (straight_ && wy == 0) {
            BgrRowToRgb32(stored_row(y0) + static_cast<size_t>(first_[0]) * 3, out_row, out_width);
            continue;
        }
        // Rows that sample the same source line (an enlargement) share it.
        if (y0 != made_row || wy != made_weight) {
            const uint8_t* line = stored_row(y0);
            if (wy != 0) {
                BlendRows(line, stored_row(y0 + 1), wy, blended_.data(), blended_.size());
                line = blended_.data();
            }
#if defined(LARKSPUR_HAVE_SSSE3_PATH)
            if (pairs_) {
                BgrRowToPairsSsse3(line, pair_line_.data(), columns);
            } else
#endif
            {
                WidenRow(line, line16_.data(), line32_.data(), columns);
                std::copy_n(line16_.end() - 8, 4, line16_.end() - 4);
            }
            made_row = y0;
            made_weight = wy;
        }
#if defined(LARKSPUR_HAVE_SSSE3_PATH)
        if (pairs_) {
            if (streamed) {
                StretchPairRowSsse3<true>(pair_line_.data(), first_.data(), pair_weights_.data(), out_row, out_width);
            } else {
                StretchPairRowSsse3<false>(pair_line_.data(), first_.data(), pair_weights_.data(), out_row,
                                           out_width);
            }
            continue;
        }
#endif
        StretchRow(line16_.data(), first_.data(), weights_.data(), out_row, out_width);
    }
#if defined(LARKSPUR_HAVE_SSSE3_PATH)
    // Streamed stores are seen by other processors only after a fence.
    if (pairs_ && streamed) _mm_sfence();
#endif
    return true;
}
