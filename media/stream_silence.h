#pragma once
// Silence on a recorder's stream: time without a whole packet, so that neither an
// ended or refused reply (read empty at once) nor a trickle of bytes counts as
// progress. Each empty read takes its whole interval; silence for the given
// number of intervals asks for the request again.
#include <chrono>

class StreamSilence {
public:
    using Clock = std::chrono::steady_clock;

    StreamSilence(int empty_read_ms, int silent_reads)
        : empty_read_(empty_read_ms), limit_(std::chrono::milliseconds(empty_read_ms) * silent_reads) {}

    // A packet came, or the request went out again.
    void Progress() { last_progress_ = Clock::now(); }
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
};
