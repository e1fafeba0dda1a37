#pragma once
// Encoders for the media of the sample recording and the test fixtures: a
// moving test picture with burnt-in text, and a steady tone, in every codec
// the recorder writes to its disk.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sample {

struct EncodedPacket {
    std::vector<uint8_t> data;
    bool key = false;
};

enum class SampleVideoCodec { Mjpeg, Mpeg4, H264 };

class SampleVideoEncoder {
public:
    // fps 15-25 (1-60 accepted); key_interval in frames. Width and height must
    // be even. Returns nullptr and sets *error on failure.
    static std::unique_ptr<SampleVideoEncoder> Create(SampleVideoCodec codec, int width, int height,
                                                      int fps, int key_interval, int channel,
                                                      std::string* error);

    // Exactly one packet per call. The first call and every frame_index that is
    // a multiple of key_interval give a key frame. Characters outside digits,
    // A-Z, ':', '-' and ' ' are drawn as blanks; lower case is raised.
    bool Encode(int frame_index, const std::string& text, EncodedPacket* out);

    int width() const;
    int height() const;
    const std::string& last_error() const;

    ~SampleVideoEncoder();

private:
    struct Impl;
    explicit SampleVideoEncoder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

enum class SampleAudioCodec { MuLaw, Aac, G726, Pcm16 };

class SampleAudioEncoder {
public:
    static std::unique_ptr<SampleAudioEncoder> Create(SampleAudioCodec codec, std::string* error);

    int sample_rate() const;
    // The frame entry's figure: 8 for G.711; 16 for the others, since players
    // open their output with it and AAC and G.726 decode to 16-bit PCM.
    int bits_per_sample() const;
    int channels() const;

    // Next packet of a continuous tone, in order. G.726 packets are stored with
    // the two codewords of each byte swapped, and the tone is encoded a quarter
    // as loud, because players swap them back and amplify the decoded samples
    // four times without saturation.
    bool EncodeNext(EncodedPacket* out, int* duration_ms);

    const std::string& last_error() const;

    ~SampleAudioEncoder();

private:
    struct Impl;
    explicit SampleAudioEncoder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Frequency and peak level of the tone as players hand it to the device (for
// G.726 after their fourfold gain), for checks of decoded audio.
inline constexpr int kSampleToneHz = 400;
inline constexpr int kSampleTonePeak = 8000;

// G.711 mu-law of one 16-bit sample (standard G.711 table).
uint8_t LinearToMuLaw(int16_t sample);

}  // namespace sample
