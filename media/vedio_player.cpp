#include "media/vedio_player.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// A byte table widened to byte pairs and applied eight bytes at a time: the
// exact plain results for a formula no vector form reproduces bit for bit, at
// twice the speed of looking up single bytes.
void ApplyPairTable(uint8_t* p, size_t n, const uint16_t* pairs) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t x;
        std::memcpy(&x, p + i, 8);
        const uint64_t r = static_cast<uint64_t>(pairs[x & 0xFFFF]) |
                           static_cast<uint64_t>(pairs[(x >> 16) & 0xFFFF]) << 16 |
                           static_cast<uint64_t>(pairs[(x >> 32) & 0xFFFF]) << 32 |
                           static_cast<uint64_t>(pairs[x >> 48]) << 48;
        std::memcpy(p + i, &r, 8);
    }
    // The low byte of pair i is the table's value for byte i.
    for (; i < n; ++i) p[i] = static_cast<uint8_t>(pairs[p[i]] & 0xFF);
}

void GreyPixels(uint8_t* p, size_t n) {
    for (size_t i = 0; i + 3 <= n; i += 3) {
        const uint8_t y = static_cast<uint8_t>((p[i] + 2 * p[i + 1] + p[i + 2]) >> 2);
        p[i] = p[i + 1] = p[i + 2] = y;
    }
}

#if defined(__SSE2__)
// floor((a + b) / 2) per byte; pavgb rounds up.
inline __m128i FloorAverage(__m128i a, __m128i b) {
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

// (b + 2g + r) >> 2 equals floor((floor((b + r) / 2) + g) / 2), so the grey
// value is two byte averages. 48 bytes are 16 whole pixels; each vector gets
// the grey of the pixels starting in it, spread over their three bytes.
size_t GreyGroups(uint8_t* p, size_t n) {
    alignas(16) static const uint8_t kStarts[3][16] = {
        {255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255},
        {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0},
        {0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0}};
    const __m128i m0 = _mm_load_si128(reinterpret_cast<const __m128i*>(kStarts[0]));
    const __m128i m1 = _mm_load_si128(reinterpret_cast<const __m128i*>(kStarts[1]));
    const __m128i m2 = _mm_load_si128(reinterpret_cast<const __m128i*>(kStarts[2]));
    size_t i = 0;
    for (; i + 48 <= n; i += 48) {
        uint8_t* q = p + i;
        const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
        const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16));
        const __m128i a2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 32));
        const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 1));
        const __m128i c0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 2));
        const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 17));
        const __m128i c1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 18));
        // The last vector's pixels end inside it, so nothing past the group is read.
        const __m128i b2 = _mm_srli_si128(a2, 1);
        const __m128i c2 = _mm_srli_si128(a2, 2);
        const __m128i y0 = _mm_and_si128(FloorAverage(FloorAverage(a0, c0), b0), m0);
        const __m128i y1 = _mm_and_si128(FloorAverage(FloorAverage(a1, c1), b1), m1);
        const __m128i y2 = _mm_and_si128(FloorAverage(FloorAverage(a2, c2), b2), m2);
        const __m128i o0 = _mm_or_si128(y0, _mm_or_si128(_mm_slli_si128(y0, 1), _mm_slli_si128(y0, 2)));
        // Pixels 5 and 10 straddle the vector borders.
        const __m128i o1 = _mm_or_si128(
            _mm_or_si128(y1, _mm_or_si128(_mm_slli_si128(y1, 1), _mm_slli_si128(y1, 2))),
            _mm_or_si128(_mm_srli_si128(y0, 15), _mm_srli_si128(y0, 14)));
        const __m128i o2 = _mm_or_si128(
            _mm_or_si128(y2, _mm_or_si128(_mm_slli_si128(y2, 1), _mm_slli_si128(y2, 2))),
            _mm_srli_si128(y1, 14));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q), o0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q + 16), o1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q + 32), o2);
    }
    return i;
}
#endif

}  // namespace

void VedioPlayer::AlignedFree::operator()(uint8_t* p) const { std::free(p); }

PictureUpdate::PictureUpdate(VedioPlayer* player) : player_(player) {
    player_->update_lock_.lock();
    player_->update_owner_ = std::this_thread::get_id();
}

PictureUpdate::~PictureUpdate() {
    player_->Present();
    player_->update_owner_ = std::thread::id();
    player_->update_lock_.unlock();
}

VedioPlayer::VedioPlayer(ContrastRounding rounding) : rounding_(rounding) {}

VedioPlayer::~VedioPlayer() = default;

namespace {
// Rounded up to whole 16-byte blocks so the block filters never run past it.
size_t AllocationSize(size_t n) { return (std::max<size_t>(n, 1) + 15) / 16 * 16; }
}  // namespace

bool VedioPlayer::SetFrameSize(int width, int height) {
    if (width < 0 || height < 0 || width > kMaxFrameSide || height > kMaxFrameSide) return false;
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
    // Made and blacked before the lock is taken, so a draw waits only for the swap.
    auto fresh = std::make_unique<Picture>();
    const size_t allocated = AllocationSize(n);
    fresh->bytes.reset(static_cast<uint8_t*>(std::aligned_alloc(16, allocated)));
    if (fresh->bytes) std::memset(fresh->bytes.get(), 0, allocated);
    fresh->size = fresh->bytes ? n : 0;
    fresh->width = width;
    fresh->height = height;
    const bool in_hold = InHold();
    std::unique_lock<std::mutex> hold;
    if (!in_hold) hold = std::unique_lock<std::mutex>(update_lock_);
    back_ = nullptr;
    std::vector<std::unique_ptr<Picture>> dropped;
    {
        std::lock_guard<std::mutex> lock(picture_lock_);
        header_ = BitmapInfoHeader{};
        header_.width = width;
        header_.height = height;
        draw_handle_open_ = true;
        // Pictures of the old size go, except one a draw still reads.
        for (auto& picture : pictures_) {
            if (picture->readers == 0) dropped.push_back(std::move(picture));
        }
        std::erase(pictures_, nullptr);
        front_ = fresh->bytes ? fresh.get() : nullptr;
        if (fresh->bytes) pictures_.push_back(std::move(fresh));
    }
    return front_ != nullptr;
}

VedioPlayer::Picture* VedioPlayer::Back(bool keep) {
    if (back_) return back_;
    const Picture* shown = nullptr;
    {
        std::lock_guard<std::mutex> lock(picture_lock_);
        if (!front_) return nullptr;
        shown = front_;
        for (auto& picture : pictures_) {
            if (picture.get() != front_ && picture->readers == 0 && picture->width == front_->width &&
                picture->height == front_->height) {
                back_ = picture.get();
                break;
            }
        }
    }
    if (!back_) {
        // Only a picture that is drawn while the next two are made needs a third.
        auto fresh = std::make_unique<Picture>();
        fresh->bytes.reset(static_cast<uint8_t*>(std::aligned_alloc(16, AllocationSize(shown->size))));
        if (!fresh->bytes) return nullptr;
        fresh->size = shown->size;
        fresh->width = shown->width;
        fresh->height = shown->height;
        back_ = fresh.get();
        std::lock_guard<std::mutex> lock(picture_lock_);
        pictures_.push_back(std::move(fresh));
    }
    // Only this thread writes pictures, so the shown one can be read unlocked.
    if (keep) std::memcpy(back_->bytes.get(), shown->bytes.get(), shown->size);
    return back_;
}

void VedioPlayer::Present() {
    if (!back_) return;
    std::lock_guard<std::mutex> lock(picture_lock_);
    front_ = back_;
    back_ = nullptr;
}

template <typename Op>
bool VedioPlayer::Write(bool keep, Op op) {
    const bool in_hold = InHold();
    std::unique_lock<std::mutex> hold;
    if (!in_hold) hold = std::unique_lock<std::mutex>(update_lock_);
    const bool had_back = back_ != nullptr;
    Picture* picture = Back(keep);
    if (!picture) return false;
    const bool done = op(*picture);
    // A refused picture leaves the shown one alone.
    if (!done && !had_back) back_ = nullptr;
    if (!in_hold) Present();
    return done;
}

const VedioPlayer::Picture* VedioPlayer::BeginRead(BitmapInfoHeader* header) const {
    std::lock_guard<std::mutex> lock(picture_lock_);
    if (header) *header = header_;
    if (front_) ++front_->readers;
    return front_;
}

void VedioPlayer::EndRead(const Picture* picture) const {
    if (!picture) return;
    std::lock_guard<std::mutex> lock(picture_lock_);
    --const_cast<Picture*>(picture)->readers;
}

BitmapInfoHeader VedioPlayer::header() const {
    std::lock_guard<std::mutex> lock(picture_lock_);
    return header_;
}

bool VedioPlayer::has_buffer() const {
    std::lock_guard<std::mutex> lock(picture_lock_);
    return front_ != nullptr;
}

size_t VedioPlayer::buffer_size() const {
    std::lock_guard<std::mutex> lock(picture_lock_);
    return front_ ? front_->size : 0;
}

uint8_t* VedioPlayer::buffer() {
    if (InHold()) {
        Picture* picture = Back(true);
        return picture ? picture->bytes.get() : nullptr;
    }
    std::lock_guard<std::mutex> lock(picture_lock_);
    return front_ ? front_->bytes.get() : nullptr;
}

const uint8_t* VedioPlayer::buffer() const {
    std::lock_guard<std::mutex> lock(picture_lock_);
    return front_ ? front_->bytes.get() : nullptr;
}

bool VedioPlayer::CopyFrame(const uint8_t* data, size_t length) {
    if (!data) return false;
    return Write(false, [&](Picture& picture) {
        if (length < picture.size) return false;
        const size_t row = static_cast<size_t>(picture.width) * 3;
        const int rows = picture.height;
        for (int i = 0; i < rows; ++i)
            std::memcpy(picture.bytes.get() + static_cast<size_t>(i) * row,
                        data + static_cast<size_t>(rows - 1 - i) * row, row);
        return true;
    });
}

int VedioPlayer::ConvertFrame(int width, int height,
                              const std::function<bool(uint8_t* top_row, ptrdiff_t row_stride)>& convert) {
    if (width <= 0 || height <= 0) return -1;
    {
        // Only the producer changes the size, so it still holds in Write.
        std::lock_guard<std::mutex> lock(picture_lock_);
        if (!front_ || front_->width != width || front_->height != height) return -1;
    }
    return Write(false, [&](Picture& picture) {
        const ptrdiff_t row = static_cast<ptrdiff_t>(picture.width) * 3;
        return convert(picture.bytes.get() + (picture.height - 1) * row, -row);
    }) ? 1 : 0;
}

bool VedioPlayer::CopyTopDown(uint8_t* out, size_t out_capacity) const {
    if (!out) return false;
    const Picture* picture = BeginRead(nullptr);
    const bool fits = picture && out_capacity >= picture->size;
    if (fits) {
        const size_t row = static_cast<size_t>(picture->width) * 3;
        const int rows = picture->height;
        for (int i = 0; i < rows; ++i)
            std::memcpy(out + static_cast<size_t>(i) * row,
                        picture->bytes.get() + static_cast<size_t>(rows - 1 - i) * row, row);
    }
    EndRead(picture);
    return fits;
}

bool VedioPlayer::CopyTopDown(int* width, int* height, std::vector<uint8_t>* out) const {
    const Picture* picture = BeginRead(nullptr);
    if (picture) {
        *width = picture->width;
        *height = picture->height;
        out->resize(picture->size);
        const size_t row = static_cast<size_t>(picture->width) * 3;
        for (int i = 0; i < picture->height; ++i)
            std::memcpy(out->data() + static_cast<size_t>(i) * row,
                        picture->bytes.get() + static_cast<size_t>(picture->height - 1 - i) * row, row);
    }
    EndRead(picture);
    return picture != nullptr;
}

bool VedioPlayer::AdjustBrightness(int value) {
    // Beyond +-255 every byte saturates anyway.
    const int v = std::clamp(value, -255, 255);
    if (v == 0) return has_buffer();
    return Write(true, [v](Picture& picture) {
    uint8_t* p = picture.bytes.get();
    const size_t n = picture.size;
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i m = _mm_set1_epi8(static_cast<char>(static_cast<uint8_t>(v > 0 ? v : -v)));
    if (v > 0) {
        for (; i + 16 <= n; i += 16) {
            __m128i* q = reinterpret_cast<__m128i*>(p + i);
            _mm_store_si128(q, _mm_adds_epu8(_mm_load_si128(q), m));
        }
    } else {
        for (; i + 16 <= n; i += 16) {
            __m128i* q = reinterpret_cast<__m128i*>(p + i);
            _mm_store_si128(q, _mm_subs_epu8(_mm_load_si128(q), m));
        }
    }
#endif
    for (; i < n; ++i) p[i] = static_cast<uint8_t>(std::clamp(p[i] + v, 0, 255));
    return true;
    });
}

double ContrastFactor(int value) {
    const int a = std::clamp(value, -100, 100) + 100;
    double f = a * 0.01;
    if (a >= 100) f = f * f * f;
    return f;
}

bool VedioPlayer::AdjustContrast(int value) {
    if (!has_buffer()) return false;
    const int key = std::clamp(value, -100, 100);
    // Rebuilt only when the value changes, which is rare beside the pictures.
    if (contrast_pairs_.empty() || contrast_pairs_value_ != key) {
        const double f = ContrastFactor(key);
        uint8_t table[256];
        for (int p = 0; p < 256; ++p) {
            const double product = f * (p - 127);
            const double v =
                (rounding_ == ContrastRounding::kDown ? std::floor(product) : std::trunc(product)) + 127;
            table[p] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
        }
        contrast_pairs_.resize(65536);
        for (size_t i = 0; i < contrast_pairs_.size(); ++i)
            contrast_pairs_[i] = static_cast<uint16_t>(table[i & 0xFF] | table[i >> 8] << 8);
        contrast_pairs_value_ = key;
    }
    return Write(true, [this](Picture& picture) {
        ApplyPairTable(picture.bytes.get(), picture.size, contrast_pairs_.data());
        return true;
    });
}

bool VedioPlayer::AdjustContrastSse2(int value) {
    const double f = ContrastFactor(value);
    const int16_t m = static_cast<int16_t>(std::trunc(16 * f));
    const int16_t o = static_cast<int16_t>(std::trunc(((1 - f) * 127) * 16));
    return Write(true, [m, o](Picture& picture) {
    uint8_t* p = picture.bytes.get();
    const size_t blocks = picture.size / 16;
#if defined(__SSE2__)
    const __m128i vm = _mm_set1_epi16(m);
    const __m128i vo = _mm_set1_epi16(o);
    const __m128i zero = _mm_setzero_si128();
    for (size_t b = 0; b < blocks; ++b) {
        __m128i* q = reinterpret_cast<__m128i*>(p + 16 * b);
        const __m128i x = _mm_load_si128(q);
        const __m128i lo = _mm_srai_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(x, zero), vm), vo), 4);
        const __m128i hi = _mm_srai_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(x, zero), vm), vo), 4);
        _mm_store_si128(q, _mm_packus_epi16(lo, hi));
    }
#else
    for (size_t i = 0; i < blocks * 16; ++i) {
        const int v = (p[i] * m + o) >> 4;
        p[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
#endif
    return true;
    });
}

bool VedioPlayer::Grey() {
    return Write(true, [](Picture& picture) {
        size_t done = 0;
#if defined(__SSE2__)
        done = GreyGroups(picture.bytes.get(), picture.size);
#endif
        GreyPixels(picture.bytes.get() + done, picture.size - done);
        return true;
    });
}
