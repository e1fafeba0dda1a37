#pragma once
// One video or audio decoder over FFmpeg. Pictures come out as tightly packed
// BGR24, top row first; audio as interleaved signed 16-bit PCM.
#include <cstddef>
#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;
struct SwrContext;

// Codec ids as the recorder software numbers them (FFmpeg's numbering of its
// day); they are mapped to the linked FFmpeg's own ids inside.
constexpr int kCodecIdMjpeg = 8;
constexpr int kCodecIdMpeg4 = 13;
constexpr int kCodecIdH264 = 28;
constexpr int kCodecIdAac = 0x15002;
constexpr int kCodecIdG726 = 0x1100B;

// Largest picture side accepted; nothing a recorder sends comes near it, and it
// keeps a damaged size field from sizing a huge allocation.
constexpr int kMaxPictureSide = 4096;
constexpr size_t kAudioOutputBytes = 192000;

class MediaDecoder {
public:
    MediaDecoder();
    ~MediaDecoder();
    MediaDecoder(const MediaDecoder&) = delete;
    MediaDecoder& operator=(const MediaDecoder&) = delete;

    // 1 ok, 0 failure (unknown codec, size outside 1..kMaxPictureSide, FFmpeg refused).
    int OpenVideo(int codec_id, int width, int height);
    // Decodes one coded frame and converts the picture into out. 1 when a picture
    // of the opened size was written (picture_size set), 0 otherwise: no picture
    // yet, a damaged frame, out smaller than the picture, or a picture whose size
    // differs from the opened one (then refused_width/height tell the new size,
    // so the caller can reopen).
    int DecodeVideo(const uint8_t* data, size_t length, uint8_t* out, size_t out_capacity,
                    size_t* picture_size);
    // The same with the picture's rows row_stride bytes apart from top_row on
    // (a negative stride writes them bottom-up); the caller's buffer holds
    // height rows of width x 3 bytes that way.
    int DecodeVideo(const uint8_t* data, size_t length, uint8_t* top_row, ptrdiff_t row_stride,
                    size_t* picture_size);

    // 1 ok, 0 failure. bit_rate / sample_rate is the coded bits per sample (G.726).
    int OpenAudio(int bit_rate, int sample_rate, int channels, int codec_id);
    // Decodes one packet into out (whole sample frames, never more than
    // out_capacity; anything beyond is dropped). 1 when the packet was taken
    // (out_bytes may be 0), 0 on failure or when no audio decoder is open.
    int DecodeAudio(const uint8_t* data, size_t length, uint8_t* out, size_t out_capacity,
                    size_t* out_bytes);
    // The same into the 192,000-byte audio output buffer.
    int DecodeAudio(const uint8_t* data, size_t length, size_t* out_bytes);

    // Frees context, frames and converters; the audio output buffer stays. Always 1.
    int Close();
    // Close, then frees the audio output buffer. Always 1.
    int Release();

    bool IsOpen() const { return context_ != nullptr; }
    int width() const { return width_; }
    int height() const { return height_; }
    size_t picture_size() const { return picture_size_; }
    int refused_width() const { return refused_width_; }
    int refused_height() const { return refused_height_; }
    const uint8_t* audio_output() const { return audio_output_; }
    // Format of the last decoded audio (0 before any).
    int audio_sample_rate() const { return audio_rate_; }
    int audio_channels() const { return audio_channels_; }

private:
    bool SendPacket(const uint8_t* data, size_t length);
    bool ConvertPicture(const AVFrame* frame, uint8_t* top_row, ptrdiff_t row_stride);
    size_t ConvertAudio(const AVFrame* frame, uint8_t* out, size_t out_capacity);

    // What the picture converter was made for.
    struct ScalerKey {
        int format = -1;
        bool full_range = false;
        int width = 0;
        int height = 0;
        bool operator==(const ScalerKey&) const = default;
    };

    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* scaler_ = nullptr;
    ScalerKey scaler_key_;
    SwrContext* resampler_ = nullptr;
    // Format the resampler was made for.
    int resampler_format_ = -1;
    int resampler_rate_ = 0;
    int resampler_channels_ = 0;
    // Coded input with FFmpeg's zeroed padding behind it.
    std::vector<uint8_t> input_;
    int width_ = 0;
    int height_ = 0;
    size_t picture_size_ = 0;
    int refused_width_ = 0;
    int refused_height_ = 0;
    uint8_t* audio_output_ = nullptr;
    int audio_rate_ = 0;
    int audio_channels_ = 0;
};

// Sample rate from an ADTS header at p, or -1 for an unknown header or index.
int AacAdtsSampleRate(const uint8_t* p, size_t length);
