#pragma once
// Writes the recorder's coded frames unchanged (MJPEG, MPEG-4 or H.264) with
// PCM or mu-law audio into one AVI file, placing the frames on a 33.3 ms grid
// counted from the file's first frame and filling gaps with empty samples.
#include <cstdint>
#include <string>

#include "export/avi_riff_file.h"

class AviWriter {
public:
    static constexpr int kCodecMjpeg = 1;
    static constexpr int kCodecDivx = 2;
    static constexpr int kCodecH264 = 3;
    static constexpr int kMaxPictureSide = 16384;
    // At most this many empty samples stand for one gap; the rest is dropped.
    static constexpr int64_t kMaxGapSamples = 30;

    explicit AviWriter(int frame_rate = 30) : frame_rate_(frame_rate) {}
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // An open file is finished first. False for a codec outside 1-3 (no file
    // is made), for sizes, rates or audio parameters that give no valid
    // headers, and when the file cannot be created.
    bool Open(const std::string& path, int width, int height, int quality, int frame_rate, int bits_per_sample,
              int channels, int sample_rate, int mu_law, int codec);
    bool WriteVideoFrame(const uint8_t* data, int length, int64_t stamp);
    // Declares the audio format again while no audio is written yet (a part
    // opened before its first sound). False when it cannot.
    bool RedeclareAudio(int bits_per_sample, int channels, int sample_rate, int mu_law);
    // Failures only show in Close's result.
    void WriteAudio(const uint8_t* data, int length);
    // False when no file was open, a write of the file failed, or the file
    // could not be finished.
    bool Close();

    bool IsOpen() const { return open_ != 0; }
    // A write of the open file failed; the file can no longer be whole.
    bool WriteFailed() const { return write_failed_; }
    // Bytes the open file holds so far.
    uint64_t file_bytes() const { return file_.file_bytes(); }
    const std::string& path() const { return path_; }
    int64_t video_count() const { return video_count_; }
    int64_t audio_count() const { return audio_count_; }
    int frame_rate() const { return frame_rate_; }

private:
    int open_ = 0;
    int frame_rate_;
    std::string path_;
    int width_ = 0;
    int height_ = 0;
    int quality_ = 0;
    AviRiffFile file_;
    int64_t video_count_ = 0;
    int64_t audio_count_ = 0;
    int64_t first_stamp_ = -1;
    bool write_failed_ = false;
};
