#pragma once
// Writes decoded 24-bit pictures as Windows Media Video 8 (WMV2) and PCM
// audio into one ASF file: the local export's third format. The profile is
// fixed: 1,788,000 bit/s, a 33 ms frame time, audio as it is handed over.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwsContext;

class AsfWriter {
public:
    static constexpr int64_t kVideoBitRate = 1788000;
    static constexpr int kFrameTimeMs = 33;
    static constexpr int kMaxPictureSide = 4096;

    AsfWriter() = default;
    ~AsfWriter();
    AsfWriter(const AsfWriter&) = delete;
    AsfWriter& operator=(const AsfWriter&) = delete;

    // 1 when the file was created and its header written; 0 otherwise. bits
    // per sample 8 (unsigned) or 16 (signed little-endian). An open file is
    // finished first.
    int Open(const std::string& path, int width, int height, int sample_rate, int channels, int bits_per_sample);
    // picture: width x height x 3 bytes, blue-green-red, size bytes in all.
    // flip set: top row first; clear: bottom row first. stamp in ms; the
    // first picture's stamp is the file's time 0. A picture of another size
    // than the file's is scaled to it. True when the picture went into the file.
    bool WriteVideoFrame(const uint8_t* picture, int size, int width, int height, int32_t stamp, uint8_t flip);
    // Whole sample frames are written; each buffer is stamped by the samples before it.
    void WriteAudio(const uint8_t* data, int length);
    // False when no file was open, a write failed, or the file could not be finished.
    bool Close();

    bool IsOpen() const { return format_ != nullptr; }
    // A write of the open file failed: the file will not be whole.
    bool WriteFailed() const { return write_failed_; }
    int64_t video_count() const { return video_count_; }
    int64_t audio_bytes() const { return audio_bytes_; }

private:
    bool OpenVideo();
    bool OpenAudio();
    bool DrainEncoder();
    void SendAudio(size_t bytes);
    void Release();

    AVFormatContext* format_ = nullptr;
    AVStream* video_stream_ = nullptr;
    AVStream* audio_stream_ = nullptr;
    AVCodecContext* encoder_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* scaler_ = nullptr;

    int width_ = 0;
    int height_ = 0;
    int sample_rate_ = 0;
    int channels_ = 0;
    int bits_per_sample_ = 0;
    int block_align_ = 0;

    bool first_video_ = true;
    int32_t first_stamp_ = 0;
    int64_t last_video_ms_ = -1;
    int64_t video_count_ = 0;
    int64_t audio_bytes_ = 0;
    int64_t audio_sent_bytes_ = 0;
    std::vector<uint8_t> audio_pending_;
    std::deque<int64_t> pending_stamps_;
    bool write_failed_ = false;
};
