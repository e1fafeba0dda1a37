#include "media/performance_timer.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {
int64_t CounterNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

PerformanceTimer::PerformanceTimer() { Start(); }

void PerformanceTimer::Start() { start_ = CounterNow(); }

int32_t PerformanceTimer::ElapsedMs() {
    now_ = CounterNow();
    return static_cast<int32_t>((now_ - start_) * 1000 / frequency_);
}

int32_t PerformanceTimer::SleepMeasured(int32_t ms, int32_t subtract, platform::CancellableWait* stop) {
    const int64_t before = CounterNow();
    InterruptibleSleep(ms, stop);
    const int64_t after = CounterNow();
    return static_cast<int32_t>((after - before) * 1000 / frequency_) - subtract;
}

bool InterruptibleSleep(int32_t ms, platform::CancellableWait* stop) {
    if (stop) return stop->WaitFor(ms);
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return true;
}
