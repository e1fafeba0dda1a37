#pragma once
// Frames seen in the last second by a decode worker; informative only.
#include <cstdint>

#include "media/data_queue.h"

class FrameRateCounter {
public:
    void Tick();
    // For tests and callers that keep their own clock (milliseconds, wrapping).
    void TickAt(uint32_t now_ms);
    int32_t rate() const { return rate_; }

private:
    uint32_t first_stamp_ = 0;
    int32_t rate_ = 0;
    DataQueue<uint32_t> stamps_;
};

// Milliseconds since an arbitrary start, wrapping at 32 bits like a tick count.
uint32_t TickCountMs();
