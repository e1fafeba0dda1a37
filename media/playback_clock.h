#pragma once
// Transport and clock of a playback: the play state and the flags the local reader,
// the receiver and the transport share, and the one wait they all pace by. The
// transport changes a flag and wakes; a waiting reader or receiver re-checks at once.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

class StatusPanel;

class PlaybackClock {
public:
    static constexpr int kPlaying = 0;
    static constexpr int kPaused = 1;
    static constexpr int kStopped = 2;
    using Clock = std::chrono::steady_clock;

    std::atomic<int> running{0};
    std::atomic<int> play_state{kStopped};
    // 0 after a slider move: the reader takes its position from slider_position.
    std::atomic<int> position_valid{1};
    std::atomic<int> slider_busy{0};
    std::atomic<int> reposition_request{0};
    // 1 plays on; another value is a jump by that many seconds (backwards when negative).
    std::atomic<int> step{1};
    std::atomic<int> slider_position{0};

    // Called after changing any flag (or the speed the reader waits on).
    void Wake();
    // Blocks until the deadline or until done() holds; Wake re-checks it.
    void WaitUntil(Clock::time_point deadline, const std::function<bool()>& done);
    // Nothing asks the reader to leave its pacing wait: it plays on at its pace.
    bool ReaderMayWait() const {
        return running && play_state != kStopped && !reposition_request && position_valid && step == 1;
    }
    // Playing, and the panel says so at speed 1.
    void ShowPlaying(StatusPanel* panel);

private:
    std::mutex lock_;
    std::condition_variable cv_;
};
