#pragma once
// Writes decoded 24-bit pictures re-encoded to Microsoft Video 1 (16-bit
// colour) with PCM or mu-law audio into one AVI file. Each picture is held on
// the 33.3 ms grid until the next one by repeating it, at most 30 times.
#include <cstdint>
#include <string>
#include <vector>

#include "export/avi_riff_file.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

class AviRecompressWriter {
public:
    static constexpr int kMaxPictureSide = 16384;
    static constexpr int64_t kMaxRepeats = 30;
    static constexpr int kKeyFrameInterval = 30;

    explicit AviRecompressWriter(int frame_rate = 15) : frame_rate_(frame_rate) {}
    ~AviRecompressWriter();
    AviRecompressWriter(const AviRecompressWriter&) = delete;
    AviRecompressWriter& operator=(const AviRecompressWriter&) = delete;

    // The coder works on whole 4x4 blocks, so the file's picture size is
    // width and height rounded up to multiples of 4 (edge pixels repeated).
    // An open file is finished first.
    bool Open(const std::string& path, int quality, int frame_rate, int bits_per_sample, int channels,
              int sample_rate, int mu_law, int width, int height);
    // picture: width x height x 3 bytes, blue-green-red. flip set: the picture
    // is top row first; clear: bottom row first. A picture of another size
    // than the file's is scaled to it.
    bool WriteVideoFrame(const uint8_t* picture, uint8_t flip, int32_t stamp, int width, int height);
    // Declares the audio format again while no audio is written yet (a part
    // opened before its first sound). False when it cannot.
    bool RedeclareAudio(int bits_per_sample, int channels, int sample_rate, int mu_law);
    void WriteAudio(const uint8_t* data, int length);
    // False when no file was open, a write of the file failed, or the file
    // could not be finished.
    bool Close();
    void Reset();

    bool IsOpen() const { return open_ != 0; }
    // A write of the open file failed; the file can no longer be whole.
    bool WriteFailed() const { return write_failed_; }
    // Bytes the open file holds so far.
    uint64_t file_bytes() const { return file_.file_bytes(); }
    int64_t video_count() const { return video_count_; }
    int64_t audio_count() const { return audio_count_; }
    int coded_width() const { return coded_width_; }
    int coded_height() const { return coded_height_; }

private:
    static constexpr int kMaxSkipRun = 1023;
    bool OpenEncoder();
    bool OpenCodec();
    void CloseEncoder();
    bool FillFrame(const uint8_t* picture, bool top_first, int width, int height);
    bool EncodeAndWrite(bool repeat);

    int open_ = 0;
    int frame_rate_;
    int width_ = 0;
    int height_ = 0;
    int quality_ = 0;
    int coded_width_ = 0;
    int coded_height_ = 0;
    AviRiffFile file_;
    int64_t video_count_ = 0;
    int64_t audio_count_ = 0;
    int64_t first_stamp_ = 0;
    bool write_failed_ = false;

    AVCodecContext* encoder_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* scaler_ = nullptr;
    std::vector<uint8_t> scaled_;
    std::vector<uint8_t> skip_frame_;
};
