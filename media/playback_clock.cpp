#include "media/playback_clock.h"

#include "media/playback_sinks.h"

void PlaybackClock::Wake() {
    { std::lock_guard<std::mutex> guard(lock_); }
    cv_.notify_all();
}

void PlaybackClock::WaitUntil(Clock::time_point deadline, const std::function<bool()>& done) {
    std::unique_lock<std::mutex> guard(lock_);
    cv_.wait_until(guard, deadline, done);
}

void PlaybackClock::ShowPlaying(StatusPanel* panel) {
    play_state = kPlaying;
    panel->SetStatusText("PLAY");
    panel->SetSpeed(1);
}
