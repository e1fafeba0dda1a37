#include "media/sound_to_pcm.h"

#include "media/g726_audio.h"
#include "media/media_decoder.h"

bool ConvertSoundToPcm(MediaDecoder* decoder, int* state, const SoundToPcmOptions& options, PcmSource source,
                       const uint8_t* data, size_t length, int sample_rate, int channels,
                       std::vector<uint8_t>* scratch, const uint8_t** pcm, size_t* bytes) {
    *pcm = nullptr;
    *bytes = 0;
    if (*state != 1) {
        bool opened = false;
        if (source == PcmSource::kAac) {
            int rate = options.aac_rate_fallback;
            if (options.aac_rate_from_header && length >= 4) {
                const int adts = AacAdtsSampleRate(data, length);
                if (adts > 0) rate = adts;
            }
            opened = decoder->OpenAudio(rate, sample_rate, channels, kCodecIdAac) != 0;
        } else {
            opened = decoder->OpenAudio(kG726BitRate, sample_rate, channels, kCodecIdG726) != 0;
        }
        *state = opened ? 1 : options.failed_open_state;
        if (!opened) return false;
    }
    const uint8_t* in = data;
    if (source == PcmSource::kG726) {
        scratch->assign(data, data + length);
        SwapG726Nibbles(scratch->data(), scratch->size());
        in = scratch->data();
    }
    size_t out = 0;
    if (!decoder->DecodeAudio(in, length, &out) || out == 0 || decoder->audio_output() == nullptr) return false;
    *pcm = decoder->audio_output();
    *bytes = out;
    if (source == PcmSource::kG726 && options.amplify_g726) {
        scratch->assign(*pcm, *pcm + out);
        AmplifyG726Pcm(scratch->data(), scratch->size());
        *pcm = scratch->data();
    }
    return true;
}
