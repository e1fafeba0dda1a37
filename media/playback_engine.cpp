#include "media/playback_engine.h"

#include <algorithm>
#include <malloc.h>

#include "media/sound_to_pcm.h"
#include "media/media_decoder.h"

PlaybackEngine::PlaybackEngine(PlaybackWindow* window, StatusPanel* panel, std::array<ViewerSink*, 4> viewers)
    : window_(window), panel_(panel), viewers_(viewers), audio_decoder_(std::make_unique<MediaDecoder>()) {
    // Pictures (1.2 MB at 704x576) are freed and made anew by every playback. Left to
    // itself the allocator raises its mapping threshold after the first such free and
    // then serves them from the heap, where what they leave behind stays with the
    // process: a program grew by about 0.4 MB per Open. A fixed threshold below a
    // picture keeps them mapped, so each goes back whole when it is freed.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
}

PlaybackEngine::~PlaybackEngine() {
    // An owner that never stopped playback still gets its threads joined here.
    CancelRemoteOpen();
    running = 0;
    reader_share_calls_.Abort();
    WakeReader();
    if (reader_.joinable()) reader_.join();
    StopReceiver();
    JoinStatusPoll();
    JoinControlRequests();
    for (CDecodeProcess& worker : decode) worker.Stop();
    audio_player.Close();
    CloseAudioDecoder();
    audio_decoder_->Release();
}

void PlaybackEngine::CloseAudioDecoder() {
    if (audio_decoder_open) audio_decoder_->Close();
    audio_decoder_open = 0;
}

void PlaybackEngine::DispatchAudio(std::unique_ptr<AudioRecord> record) {
    if (!record) return;
    const std::array<int, 4> format{record->kind, record->sample_rate, record->bits, record->channels};
    if (format != last_audio_format && device_open) {
        audio_player.Close();
        device_open = 0;
        CloseAudioDecoder();
    }
    if (!sound_on) return;
    auto open_device = [&](int format_kind) {
        if (device_open) return;
        device_open = 1;
        // A device that does not open stays "open" with no device: writes are refused until the next change.
        audio_player.Open(record->sample_rate, format_kind, record->bits, record->channels);
    };
    const std::vector<uint8_t>& payload = record->payload;
    switch (record->kind) {
        case AudioRecord::kMuLawA:
        case AudioRecord::kMuLawB:
            open_device(WaveOutPlayer::kFormatMuLaw);
            audio_player.Write(record->length(), payload.data());
            break;
        case AudioRecord::kAac:
        case AudioRecord::kG726: {
            open_device(WaveOutPlayer::kFormatPcm);
            const uint8_t* pcm = nullptr;
            size_t bytes = 0;
            if (ConvertSoundToPcm(audio_decoder_.get(), &audio_decoder_open, SoundToPcmOptions{},
                                  record->kind == AudioRecord::kAac ? PcmSource::kAac : PcmSource::kG726,
                                  payload.data(), payload.size(), record->sample_rate, record->channels,
                                  &audio_scratch_, &pcm, &bytes))
                audio_player.Write(static_cast<int>(bytes), pcm);
            else if (audio_decoder_open != 1)
                return;
            break;
        }
        case AudioRecord::kPcm:
            open_device(WaveOutPlayer::kFormatPcm);
            if (payload.size() % 2 == 0) audio_player.Write(record->length(), payload.data());
            break;
        default:
            return;
    }
    last_audio_format = format;
}
