#pragma once
// Recorded AAC and G.726 sound turned into 16-bit PCM with a MediaDecoder:
// the one conversion playback and both exports use. What they do differently
// is said by SoundToPcmOptions.
#include <cstddef>
#include <cstdint>
#include <vector>

class MediaDecoder;

enum class PcmSource { kAac, kG726 };

struct SoundToPcmOptions {
    // AAC: the decoder opens with the rate figure the payload's ADTS header
    // gives, when it has one; otherwise, or when false, with the fallback.
    bool aac_rate_from_header = true;
    int aac_rate_fallback = 16000;
    // G.726 comes out four times louder, as the recorder's own players give it.
    bool amplify_g726 = true;
    // The decoder state after an open that failed (1 is open; any other
    // value is tried again at the next payload).
    int failed_open_state = 0;
};

constexpr int kG726BitRate = 32000;

// Converts one payload. *state is 1 while the decoder is open; otherwise
// the decoder opens first, with the recorded sample rate and channels, and
// *state takes the result. False when nothing came out; else *pcm and *bytes
// hold the PCM (in the decoder or in scratch) until the next call.
bool ConvertSoundToPcm(MediaDecoder* decoder, int* state, const SoundToPcmOptions& options, PcmSource source,
                       const uint8_t* data, size_t length, int sample_rate, int channels,
                       std::vector<uint8_t>* scratch, const uint8_t** pcm, size_t* bytes);
