#include "media/frame_rate_counter.h"

#include <chrono>

uint32_t TickCountMs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void FrameRateCounter::Tick() { TickAt(TickCountMs()); }

void FrameRateCounter::TickAt(uint32_t now) {
    if (stamps_.GetCount() == 0) {
        first_stamp_ = now;
        stamps_.Push(std::make_unique<uint32_t>(now));
        ++rate_;
    } else if (now - first_stamp_ > 999) {
        rate_ = static_cast<int32_t>(stamps_.GetCount());
        stamps_.Pop();
        stamps_.Push(std::make_unique<uint32_t>(now));
        first_stamp_ = *stamps_.Peek();
    } else {
        stamps_.Push(std::make_unique<uint32_t>(now));
        ++rate_;
    }
}
