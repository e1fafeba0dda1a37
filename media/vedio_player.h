#pragma once
// One channel's current picture as a 24-bit bottom-up bitmap, the enhancement
// filters that run on it in place, and its stretched drawing.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "media/picture_stretch.h"

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

class VedioPlayer;

// The producer's hold on the picture (see VedioPlayer::LockPicture).
class PictureUpdate {
public:
    explicit PictureUpdate(VedioPlayer* player);
    ~PictureUpdate();
    PictureUpdate(const PictureUpdate&) = delete;
    PictureUpdate& operator=(const PictureUpdate&) = delete;

private:
    VedioPlayer* player_;
};

// The picture is double-buffered: the producer (a decode worker) copies and
// filters into a picture nobody draws, and only the swap that shows it takes
// the lock a draw takes. A draw reads the shown picture with no lock held, and
// the producer never writes a picture that a draw is still reading.
class VedioPlayer {
public:
    explicit VedioPlayer(ContrastRounding rounding = ContrastRounding::kTowardZero);
    virtual ~VedioPlayer();
    VedioPlayer(const VedioPlayer&) = delete;
    VedioPlayer& operator=(const VedioPlayer&) = delete;

    // The only operation that (re)allocates; a black picture afterwards. False
    // for a negative size or a side above kMaxFrameSide (nothing changes), or
    // when the allocation fails (no buffer then).
    bool SetFrameSize(int width, int height);
    // Copies a top-down BGR24 picture in, turning it bottom-up. False for null
    // data or fewer than width x height x 3 bytes (the old picture stays).
    bool CopyFrame(const uint8_t* data, size_t length);
    // Has convert write the next picture into the buffer itself, in place of a
    // copy: convert(top_row, row_stride) is given where the top row goes and
    // the (negative) stride to the next. -1, convert not called, without a
    // buffer of width x height; else 1 when convert wrote the picture, 0 when
    // it did not (the old picture stays).
    int ConvertFrame(int width, int height, const std::function<bool(uint8_t* top_row, ptrdiff_t row_stride)>& convert);

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
    // 0 without a drawing handle, a buffer or an active painter. Built with the
    // window code. One drawing thread at a time.
    int Draw(QPainter* painter, int x_dst, int y_dst, int dx_dst, int dy_dst, int x_src, int y_src,
             int dx_src, int dy_src);

    // Drawing handle: opened by SetFrameSize, closed by the owner of the
    // windows when it destroys them, or at destruction.
    bool HasDrawHandle() const { return draw_handle_open_; }
    void CloseDrawHandle() { draw_handle_open_ = false; }

    // Hold this round CopyFrame and the filters of one picture: they then work
    // on an unshown picture, and it is shown, whole and filtered, when the hold
    // ends. Without it each of them is shown on its own (one more copy for a
    // filter). One producer thread at a time.
    PictureUpdate LockPicture() { return PictureUpdate(this); }
    // The shown picture turned back top-down into out (snapshot, print). False
    // without a buffer or when out is smaller than the picture.
    bool CopyTopDown(uint8_t* out, size_t out_capacity) const;
    // The same with the picture's size, read together with it.
    bool CopyTopDown(int* width, int* height, std::vector<uint8_t>* out) const;

    BitmapInfoHeader header() const;
    int width() const { return header().width; }
    int height() const { return header().height; }
    bool has_buffer() const;
    // Bottom row first, 16-byte aligned: within a hold, the picture being
    // made; otherwise the shown one (for tests and benchmarks).
    uint8_t* buffer();
    const uint8_t* buffer() const;
    size_t buffer_size() const;

private:
    friend class PictureUpdate;
    struct AlignedFree {
        void operator()(uint8_t* p) const;
    };
    struct Picture {
        std::unique_ptr<uint8_t[], AlignedFree> bytes;
        size_t size = 0;
        int width = 0;
        int height = 0;
        int readers = 0;  // draws and read-backs in progress, under picture_lock_
    };

    bool InHold() const { return update_owner_.load() == std::this_thread::get_id(); }
    // The picture being made, taken from the idle ones (with the shown one's
    // bytes when keep), or null without a buffer. Producer side only.
    Picture* Back(bool keep);
    // Shows the picture being made, if any.
    void Present();
    // Runs op on the picture being made, inside the caller's hold or a hold of its own.
    template <typename Op>
    bool Write(bool keep, Op op);
    const Picture* BeginRead(BitmapInfoHeader* header) const;
    void EndRead(const Picture* picture) const;

    ContrastRounding rounding_;
    std::atomic<bool> draw_handle_open_{false};
    // The producer's hold: its thread and the picture it is making.
    std::mutex update_lock_;
    std::atomic<std::thread::id> update_owner_{};
    Picture* back_ = nullptr;
    // The shown picture and every allocated one; held only for pointer work.
    mutable std::mutex picture_lock_;
    BitmapInfoHeader header_;
    Picture* front_ = nullptr;
    std::vector<std::unique_ptr<Picture>> pictures_;
    // The plain contrast's table for byte pairs, kept for the last value.
    std::vector<uint16_t> contrast_pairs_;
    int contrast_pairs_value_ = 0;
    // The drawing thread's stretch and the strip it makes at a time.
    PictureStretcher stretcher_;
    std::vector<uint32_t> strip_;
};

// The contrast factor of a value: 0..0.99 below the neutral 0, 1..8 above.
double ContrastFactor(int value);
