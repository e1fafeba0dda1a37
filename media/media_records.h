#pragma once
// Coded media moved from the readers to the decode workers and the audio path.
#include <array>
#include <cstdint>
#include <vector>

enum class VideoCodec : int32_t { kMjpeg = 0, kMpeg4 = 1, kH264 = 2 };

struct FrameRecord {
    static constexpr int32_t kKindPicture = 0;
    static constexpr int32_t kKindClearView = 2;

    int32_t has_text = 0;     // 1: title holds the on-screen title text
    int32_t fps = 0;          // frames of this channel in the same recorded second; 0 from the recorder
    int32_t width = 0;
    int32_t height = 0;
    int32_t speed = 1;        // play speed when read; informative only
    int32_t codec = 0;        // VideoCodec
    int32_t key = 0;
    int32_t time_stamp = 0;   // milliseconds, low 32 bits
    int32_t char_width = 0;   // title character width: 1, 2, or 4 bytes (low two used)
    int32_t kind = kKindPicture;
    int32_t stream_field = 0; // copied from the stream header; not read
    int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::array<uint8_t, 64> title{};
    std::vector<uint8_t> payload;

    int32_t length() const { return static_cast<int32_t>(payload.size()); }
};

struct AudioRecord {
    static constexpr int32_t kMuLawA = 3;
    static constexpr int32_t kMuLawB = 4;
    static constexpr int32_t kAac = 5;
    static constexpr int32_t kG726 = 6;
    static constexpr int32_t kPcm = 7;

    int32_t kind = 0;
    int32_t sample_rate = 0;
    int32_t bits = 0;
    int32_t channels = 0;
    std::vector<uint8_t> payload;

    int32_t length() const { return static_cast<int32_t>(payload.size()); }
};
