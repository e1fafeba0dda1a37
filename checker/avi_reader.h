#pragma once
// Reader of the AVI files the checker previews: the header lists (as the
// playback program's exports write them, or as other tools do), then the movi
// list's chunks one by one. The files are untrusted: every size read from them
// is checked against its list and the file before it drives a read.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/data_file.h"

class AviReader {
public:
    static constexpr int kChunkVideo = 0;
    static constexpr int kChunkAudio = 1;
    // Anything else in the movi list: index or padding chunks, lists, further
    // streams, and the chunks of an audio stream that is neither PCM nor mu-law.
    static constexpr int kChunkOther = 2;

    static constexpr int kAudioPcm = 0;
    static constexpr int kAudioMuLaw = 1;

    static constexpr int kCodecUnknown = -1;
    static constexpr int kCodecMjpeg = 0;
    static constexpr int kCodecMpeg4 = 1;
    static constexpr int kCodecH264 = 2;
    static constexpr int kCodecMsvc = 3;

    // Pictures larger than this are refused before anyone sizes a buffer by them.
    static constexpr int kMaxPictureSide = 4096;
    // Rates outside this range (and a zero scale or rate) are taken as the
    // nearest bound, so pacing never divides by zero or waits for minutes.
    static constexpr double kMinFramesPerSecond = 1.0;
    static constexpr double kMaxFramesPerSecond = 1000.0;

    AviReader() = default;
    AviReader(const AviReader&) = delete;
    AviReader& operator=(const AviReader&) = delete;

    // 1 when the file opened and its headers, a "JUNK" chunk and the movi
    // list were found; 0 otherwise (also for pictures of no or absurd size).
    int Open(const std::string& path);
    // Reads the next movi chunk's data (without its padding byte) into buffer.
    // 0 at the end of the movi list, and when the chunk is larger than
    // capacity, runs past its list or the file, or cannot be read whole: the
    // reading then ends for good and failed() tells it from a clean end.
    int ReadChunk(uint8_t* buffer, size_t capacity, uint32_t* size);
    void Close();
    bool IsOpen() const { return file_.IsOpen(); }

    int last_chunk_kind() const { return last_chunk_kind_; }
    // The last chunk's four-character id.
    std::string last_chunk_id() const { return std::string(last_chunk_id_, 4); }
    bool failed() const { return failed_; }
    uint64_t movi_bytes_left() const { return movi_end_ - movi_pos_; }

    int audio_format() const { return audio_format_; }
    int audio_sample_rate() const { return audio_sample_rate_; }
    int audio_channels() const { return audio_channels_; }
    int audio_bits_per_sample() const { return audio_bits_per_sample_; }
    double frames_per_second() const { return frames_per_second_; }
    int total_frames() const { return total_frames_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int codec() const { return codec_; }

private:
    struct Chunk;
    void Reset();
    bool ReadHeader(uint64_t at, uint64_t end, Chunk* chunk) const;
    bool ReadListType(const Chunk& chunk, char type[4]) const;
    bool ParseHeaderList(uint64_t begin, uint64_t end);
    bool ParseStreamList(uint64_t begin, uint64_t end, int index);
    int KindOf(const char id[4]) const;
    int Fail(uint32_t* size);

    platform::ReadOnlyFile file_;
    uint64_t file_size_ = 0;
    uint64_t movi_pos_ = 0;
    uint64_t movi_end_ = 0;
    bool movi_cut_ = false;  // the movi list runs past the end of the file
    bool failed_ = false;
    int video_stream_ = -1;
    int audio_stream_ = -1;
    bool audio_playable_ = false;

    int last_chunk_kind_ = kChunkVideo;
    char last_chunk_id_[4] = {0, 0, 0, 0};
    int audio_format_ = kAudioPcm;
    int audio_sample_rate_ = 0;
    int audio_channels_ = 1;
    int audio_bits_per_sample_ = 0;
    double frames_per_second_ = 1.0;
    int total_frames_ = -1;
    int width_ = -1;
    int height_ = -1;
    int codec_ = kCodecMjpeg;
};
