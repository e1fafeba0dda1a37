#include "media/playback_sound.h"

#include "media/media_decoder.h"
#include "media/sound_to_pcm.h"

PlaybackSound::PlaybackSound() : decoder_(std::make_unique<MediaDecoder>()) {}

PlaybackSound::~PlaybackSound() {
    player_.Close();
    CloseDecoder();
    decoder_->Release();
}

void PlaybackSound::CloseDecoder() {
    if (decoder_open_) decoder_->Close();
    decoder_open_ = 0;
}

void PlaybackSound::CloseDevice() {
    if (!device_open_) return;
    player_.Close();
    device_open_ = 0;
    CloseDecoder();
}

void PlaybackSound::ToggleMute() {
    if (sound_on_) {
        kept_volume_ = player_.GetVolume();
        player_.SetVolume(0);
        sound_on_ = 0;
    } else {
        if (kept_volume_ > 0) player_.SetVolume(kept_volume_);
        kept_volume_ = -1;
        sound_on_ = 1;
    }
}

void PlaybackSound::Dispatch(std::unique_ptr<AudioRecord> record) {
    if (!record) return;
    const std::array<int, 4> format{record->kind, record->sample_rate, record->bits, record->channels};
    if (format != last_format_ && device_open_) {
        player_.Close();
        device_open_ = 0;
        CloseDecoder();
    }
    if (!sound_on_) return;
    auto open_device = [&](int format_kind) {
        if (device_open_) return;
        device_open_ = 1;
        // A device that does not open stays "open" with no device: writes are refused until the next change.
        player_.Open(record->sample_rate, format_kind, record->bits, record->channels);
    };
    const std::vector<uint8_t>& payload = record->payload;
    switch (record->kind) {
        case AudioRecord::kMuLawA:
        case AudioRecord::kMuLawB:
            open_device(WaveOutPlayer::kFormatMuLaw);
            player_.Write(record->length(), payload.data());
            break;
        case AudioRecord::kAac:
        case AudioRecord::kG726: {
            open_device(WaveOutPlayer::kFormatPcm);
            const uint8_t* pcm = nullptr;
            size_t bytes = 0;
            if (ConvertSoundToPcm(decoder_.get(), &decoder_open_, SoundToPcmOptions{},
                                  record->kind == AudioRecord::kAac ? PcmSource::kAac : PcmSource::kG726,
                                  payload.data(), payload.size(), record->sample_rate, record->channels, &scratch_,
                                  &pcm, &bytes))
                player_.Write(static_cast<int>(bytes), pcm);
            else if (decoder_open_ != 1)
                return;
            break;
        }
        case AudioRecord::kPcm:
            open_device(WaveOutPlayer::kFormatPcm);
            if (payload.size() % 2 == 0) player_.Write(record->length(), payload.data());
            break;
        default:
            return;
    }
    last_format_ = format;
}
