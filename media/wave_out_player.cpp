#include "media/wave_out_player.h"

#include <chrono>
#include <cstring>

WaveOutPlayer::WaveOutPlayer() = default;

WaveOutPlayer::~WaveOutPlayer() {
    if (saved_volume_ > 0) SetVolume(saved_volume_);
    Close();
}

int WaveOutPlayer::Open(int samples_per_sec, int format_kind, int bits_per_sample, int channels) {
    Close();
    ring_index_ = 0;
    queue_wait_.Update([this] { queued_ = 0; });
    staged_ = 0;
    block_size_ = 0;
    // The values come unchecked from a minute file or the recorder's stream:
    // refuse what the device cannot play before any arithmetic on them.
    const bool mulaw = format_kind == kFormatMuLaw;
    if (format_kind != kFormatPcm && !mulaw) return 0;
    if (bits_per_sample != 8 && (mulaw || bits_per_sample != 16)) return 0;
    if (samples_per_sec <= 0 || samples_per_sec > 384000 || channels <= 0 || channels > 8) return 0;
    format_.tag = mulaw ? platform::kWaveFormatMuLaw : platform::kWaveFormatPcm;
    format_.channels = channels;
    format_.samples_per_sec = samples_per_sec;
    format_.bits_per_sample = bits_per_sample;
    format_.block_align = bits_per_sample * channels / 8;
    format_.avg_bytes_per_sec = samples_per_sec * format_.block_align;
    // A quarter second per block, whole sample frames only.
    block_size_ = format_.avg_bytes_per_sec / 4;
    if (format_.block_align > 0) block_size_ -= block_size_ % format_.block_align;
    if (block_size_ <= 0) return 0;
    if (!device_.Open(format_, [this](int block) { OnDone(block); })) return 0;
    headers_.assign(kBlocks, std::vector<uint8_t>(static_cast<size_t>(block_size_)));
    staging_.assign(static_cast<size_t>(block_size_) * kBlocks, 0);
    return 1;
}

void WaveOutPlayer::Close() {
    staging_.clear();
    staged_ = 0;
    if (device_.IsOpen()) {
        device_.Close();
        headers_.clear();
    }
    queue_wait_.Update([this] { queued_ = 0; });
}

void WaveOutPlayer::OnDone(int) {
    queue_wait_.Update([this] {
        if (queued_ > 0) --queued_;
    });
}

bool WaveOutPlayer::WaitQueuedAtMost(int count, std::chrono::steady_clock::time_point deadline,
                                     const std::function<bool()>& stop) const {
    // The predicate's last run, under the lock, tells the count as the wait ends.
    bool at_most = false;
    queue_wait_.WaitUntil(deadline, [&] {
        at_most = queued_ <= count;
        return at_most || (stop && stop());
    });
    return at_most;
}

void WaveOutPlayer::WakeWaiters() const { queue_wait_.Notify(); }

int WaveOutPlayer::queued() const {
    return queue_wait_.Read([this] { return queued_; });
}

int WaveOutPlayer::Write(int count, const uint8_t* data) {
    if (staging_.empty() || !device_.IsOpen() || count < 0 || (count > 0 && !data)) return 0;
    if (staged_ + static_cast<size_t>(count) > staging_.size()) return 0;
    std::memcpy(staging_.data() + staged_, data, static_cast<size_t>(count));
    staged_ += static_cast<size_t>(count);
    const size_t block = static_cast<size_t>(block_size_);
    if (staged_ < block) return 1;
    const size_t n = staged_ / block;
    for (size_t i = 0; i < n; ++i) {
        // When the device lags a whole ring behind, the oldest block is still
        // playing: drop this one rather than overwrite what is being heard.
        if (queued() >= kBlocks) continue;
        std::vector<uint8_t>& header = headers_[static_cast<size_t>(ring_index_)];
        std::memcpy(header.data(), staging_.data() + i * block, block);
        queue_wait_.Update([this] { ++queued_; });
        if (device_.Write(ring_index_, header.data(), header.size())) {
            ring_index_ = (ring_index_ + 1) % kBlocks;
        } else {
            queue_wait_.Update([this] { --queued_; });
        }
    }
    std::memmove(staging_.data(), staging_.data() + n * block, staged_ - n * block);
    staged_ -= n * block;
    return 1;
}

int WaveOutPlayer::GetVolume() const {
    const uint32_t left = platform::WaveOutDevice::GetVolume() & 0xFFFF;
    return static_cast<int>(left * 100 / 65535);
}

void WaveOutPlayer::SetVolume(int volume) {
    if (volume < 0) volume = 0;
    if (volume > 100) volume = 100;
    const uint32_t v = static_cast<uint32_t>(volume) * 65535 / 100;
    platform::WaveOutDevice::SetVolume(v | (v << 16));
}

bool WaveOutPlayer::WaitDrained(int timeout_ms) const {
    return WaitQueuedAtMost(0, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms), nullptr);
}
