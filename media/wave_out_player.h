#pragma once
// Ring-buffered player of the selected channel's sound: packets are staged and
// sent to the device in quarter-second blocks.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/cancellable_wait.h"
#include "platform/wave_out.h"

class WaveOutPlayer {
public:
    static constexpr int kBlocks = 40;
    static constexpr int kFormatPcm = 0;
    static constexpr int kFormatMuLaw = 1;

    WaveOutPlayer();
    ~WaveOutPlayer();
    WaveOutPlayer(const WaveOutPlayer&) = delete;
    WaveOutPlayer& operator=(const WaveOutPlayer&) = delete;

    // 1 ok; 0 when the device does not open (or the format makes no sense).
    int Open(int samples_per_sec, int format_kind, int bits_per_sample, int channels);
    void Close();
    // 1 when staged; 0 when closed or the packet does not fit the staging buffer (dropped whole).
    int Write(int count, const uint8_t* data);
    int GetVolume() const;
    void SetVolume(int volume);

    bool IsOpen() const { return device_.IsOpen(); }
    int block_size() const { return block_size_; }
    int queued() const;
    int staged() const { return static_cast<int>(staged_); }
    // Close returns before the device is shut down; this waits for that.
    void FinishClosing() { device_.FinishClosing(); }
    // Blocks until at most count blocks are queued on the device, the deadline
    // passes or stop() holds (checked under the lock; WakeWaiters re-checks it).
    bool WaitQueuedAtMost(int count, std::chrono::steady_clock::time_point deadline,
                          const std::function<bool()>& stop) const;
    void WakeWaiters() const;
    // For tests: waits until every sent block has been played or timeout_ms passed.
    bool WaitDrained(int timeout_ms) const;

private:
    void OnDone(int block);

    int block_size_ = 0;
    platform::WaveFormat format_;
    platform::WaveOutDevice device_;
    std::vector<std::vector<uint8_t>> headers_;
    int ring_index_ = 0;
    int queued_ = 0;  // under queue_wait_'s lock (the device's callback thread changes it)
    std::vector<uint8_t> staging_;
    size_t staged_ = 0;
    int saved_volume_ = -1;
    // Never stopped: a waiter's own stop predicate ends its wait, WakeWaiters re-checks it.
    mutable platform::CancellableWait queue_wait_;
};
