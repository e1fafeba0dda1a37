#pragma once
// The playback's sound: the selected channel's packets to the audio device, opened
// for their format, with the mute and volume of the main dialog. The reader or the
// receiver dispatches; the window thread mutes, sets the volume and closes, the
// latter only while no packet is being dispatched.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "media/data_queue.h"
#include "media/media_records.h"
#include "media/wave_out_player.h"

class MediaDecoder;

class PlaybackSound {
public:
    PlaybackSound();
    ~PlaybackSound();
    PlaybackSound(const PlaybackSound&) = delete;
    PlaybackSound& operator=(const PlaybackSound&) = delete;

    // Plays the record, opening the device for its format first; a new format closes the
    // device it had. Nothing while muted.
    void Dispatch(std::unique_ptr<AudioRecord> record);
    // The device closed when one is open: a new playback opens it with its first sound.
    void CloseDevice();
    // The next sound opens the device whatever it was before (a reader's start).
    void ForgetFormat() { last_format_ = {-1, -1, -1, -1}; }
    // The sound a stop leaves queued is dropped.
    void ClearQueue() { queue_.Clear(); }
    // Mute keeps the volume, to give it back when sound comes on again.
    void ToggleMute();
    void SetVolume(int volume) { player_.SetVolume(volume); }
    int Volume() const { return player_.GetVolume(); }
    bool SoundOn() const { return sound_on_ != 0; }
    // Open, or tried to open: a device that refused stays "open" until the next change.
    bool DeviceOpen() const { return device_open_ != 0; }
    const WaveOutPlayer& player() const { return player_; }
    // Closing returns before the device has shut down; this waits for that.
    void FinishClosing() { player_.FinishClosing(); }

private:
    void CloseDecoder();

    WaveOutPlayer player_;
    std::atomic<int> device_open_{0};
    std::atomic<int> sound_on_{1};
    int kept_volume_ = -1;
    std::unique_ptr<MediaDecoder> decoder_;
    int decoder_open_ = 0;
    std::array<int, 4> last_format_{-1, -1, -1, -1};
    DataQueue<AudioRecord> queue_;
    // G.726 swapped and amplified for the sound conversion, reused packet after packet.
    std::vector<uint8_t> scratch_;
};
