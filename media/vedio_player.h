#pragma once
// One channel's current picture as a 24-bit bottom-up bitmap, the enhancement
// filters that run on it in place, and its stretched drawing.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class QPainter;

// The bitmap header kept ready for drawing (positive height: rows bottom-up).
struct BitmapInfoHeader {
    uint32_t size = 40;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 1;
    uint16_t bit_count = 24;
    uint32_t compression = 0;
    uint32_t size_image = 0;
    int32_t x_pels_per_meter = 0;
    int32_t y_pels_per_meter = 0;
    uint32_t clr_used = 0;
    uint32_t clr_important = 0;
};

// The playback program truncates contrast products toward zero; the checker's
// preview rounds them down.
enum class ContrastRounding { kTowardZero, kDown };

// Largest picture side a renderer accepts; keeps a damaged size from sizing a huge buffer.
constexpr int kMaxFrameSide = 4096;

class VedioPlayer {
public:
    explicit VedioPlayer(ContrastRounding rounding = ContrastRounding::kTowardZero);
    virtual ~VedioPlayer();
    VedioPlayer(const VedioPlayer&) = delete;
    VedioPlayer& operator=(const VedioPlayer&) = delete;

    // The only operation that (re)allocates; a black picture afterwards. False
    // for a negative size or a side above kMaxFrameSide (nothing changes), or
    // when the allocation fails (no buffer then). Takes the picture lock.
    bool SetFrameSize(int width, int height);
    // Copies a top-down BGR24 picture in, turning it bottom-up. False for null
    // data or fewer than width x height x 3 bytes (the old picture stays).
    bool CopyFrame(const uint8_t* data, size_t length);

    // Filters: false and nothing done when there is no buffer. They run in place
    // over the whole buffer on the x86 vector unit where it pays.
    bool AdjustBrightness(int value);
    bool AdjustContrast(int value);
    // Fixed point with 4 fractional bits on 16-byte blocks, the last n mod 16
    // bytes untouched; over three times the speed of AdjustContrast. The factor
    // is cut to sixteenths, so just below neutral (0.99 taken as 0.9375) bytes
    // can come out up to 13 steps darker than the plain contrast gives.
    bool AdjustContrastSse2(int value);
    bool Grey();

    // Stretches the source rectangle (top row 0; 0 x 0 means the whole picture)
    // smoothly into the destination rectangle of the painter's device. 1 drawn,
    // 0 without a drawing handle, a buffer or an active painter. Takes the
    // picture lock. Built with the window code.
    int Draw(QPainter* painter, int x_dst, int y_dst, int dx_dst, int dy_dst, int x_src, int y_src,
             int dx_src, int dy_src);

    // Drawing handle: opened by SetFrameSize, closed by the owner of the
    // windows when it destroys them, or at destruction.
    bool HasDrawHandle() const { return draw_handle_open_; }
    void CloseDrawHandle() { draw_handle_open_ = false; }

    // Hold this around CopyFrame and the filters so a draw on the window thread
    // never shows a half-copied or unfiltered picture.
    std::unique_lock<std::mutex> LockPicture() const { return std::unique_lock<std::mutex>(picture_lock_); }
    // The picture turned back top-down into out (snapshot, print). False without
    // a buffer or when out is smaller than the picture. Takes the picture lock.
    bool CopyTopDown(uint8_t* out, size_t out_capacity) const;

    const BitmapInfoHeader& header() const { return header_; }
    int width() const { return header_.width; }
    int height() const { return header_.height; }
    bool has_buffer() const { return buffer_ != nullptr; }
    // Bottom row first, 16-byte aligned.
    uint8_t* buffer() { return buffer_.get(); }
    const uint8_t* buffer() const { return buffer_.get(); }
    size_t buffer_size() const { return buffer_size_; }

private:
    struct AlignedFree {
        void operator()(uint8_t* p) const;
    };

    ContrastRounding rounding_;
    BitmapInfoHeader header_;
    std::atomic<bool> draw_handle_open_{false};
    std::unique_ptr<uint8_t[], AlignedFree> buffer_;
    size_t buffer_size_ = 0;
    mutable std::mutex picture_lock_;
    // The plain contrast's table for byte pairs, kept for the last value.
    std::vector<uint16_t> contrast_pairs_;
    int contrast_pairs_value_ = 0;
};

// The contrast factor of a value: 0..0.99 below the neutral 0, 1..8 above.
double ContrastFactor(int value);
