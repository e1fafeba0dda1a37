#pragma once
// Elapsed-time measurement of a decode worker's pacing.
#include <atomic>
#include <cstdint>

class PerformanceTimer {
public:
    PerformanceTimer();
    void Start();
    int32_t ElapsedMs();
    // Sleeps ms and returns the measured sleep minus subtract. When stop is given
    // the sleep ends early once it becomes 0, so a stopping worker never waits out a long pace.
    int32_t SleepMeasured(int32_t ms, int32_t subtract = 0, const std::atomic<int>* run = nullptr);

private:
    int64_t start_ = 0;
    int64_t now_ = 0;
    int64_t frequency_ = 1000000000;  // counter units per second (nanoseconds)
};

// Sleeps up to ms, waking every few milliseconds to check run; returns false when run became 0.
bool InterruptibleSleep(int32_t ms, const std::atomic<int>* run);
