#pragma once
// Silence on a recorder's stream: time without a whole packet and without a steady
// flow of bytes. A large picture on a slow link takes longer than the silence limit
// but keeps coming, so bytes count as progress; a trickle too thin to carry a picture
// (under kLiveBytes in a silence span) does not, nor does an ended or refused reply
// (read empty at once). Each empty read takes its whole interval; silence for the
// given number of intervals asks for the request again.
#include <chrono>
#include <cstddef>

class StreamSilence {
public:
    using Clock = std::chrono::steady_clock;
    // Bytes that mark the link as live: 1 kB in 1.6 s is 5 kbit/s, a byte every 100 ms 16 bytes.
    static constexpr size_t kLiveBytes = 1024;

    StreamSilence(int empty_read_ms, int silent_reads)
        : empty_read_(empty_read_ms), limit_(std::chrono::milliseconds(empty_read_ms) * silent_reads) {}

    // A packet came, or the request went out again.
    void Progress() {
        last_progress_ = Clock::now();
        bytes_ = 0;
    }
    // Bytes came, not yet a whole packet.
    void Bytes(size_t count) {
        bytes_ += count;
        if (bytes_ >= kLiveBytes) Progress();
    }
    bool Over() const { return Clock::now() - last_progress_ >= limit_; }
    // Of an empty read that began at read_start, what is left of its interval (ms, 0 when none).
    int RestOfEmptyRead(Clock::time_point read_start) const {
        const auto left = empty_read_ - (Clock::now() - read_start);
        return left > Clock::duration::zero()
                   ? static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count()) + 1
                   : 0;
    }
    int empty_read_ms() const { return static_cast<int>(empty_read_.count()); }

private:
    std::chrono::milliseconds empty_read_;
    Clock::duration limit_;
    Clock::time_point last_progress_ = Clock::now();
    size_t bytes_ = 0;
};
