#pragma once
// Elapsed-time measurement of a decode worker's pacing.
#include <cstdint>

#include "platform/cancellable_wait.h"

class PerformanceTimer {
public:
    PerformanceTimer();
    void Start();
    int32_t ElapsedMs();
    // Sleeps ms and returns the measured sleep minus subtract. When stop is given
    // the sleep ends at once when a stop is requested, so a stopping worker never waits out a long pace.
    int32_t SleepMeasured(int32_t ms, int32_t subtract = 0, platform::CancellableWait* stop = nullptr);

private:
    int64_t start_ = 0;
    int64_t now_ = 0;
    int64_t frequency_ = 1000000000;  // counter units per second (nanoseconds)
};

// Sleeps up to ms, or until a stop is requested of stop when given; false when stopped.
bool InterruptibleSleep(int32_t ms, platform::CancellableWait* stop);
