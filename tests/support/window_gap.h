#pragma once
// How long the window thread went without running a 10 ms timer, less the time it stood
// ready to run while the machine's other work held the processors: a busy machine delays
// the timer, it does not make the window wait. Blocked or sleeping time, and the window
// thread's own work, count in full.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <functional>

#include "tests/support/held_time.h"

namespace window_gap {

using held_time::RunQueueWaitNs;

class WindowGap {
public:
    WindowGap() {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        since_.start();
        waited_at_tick_ = RunQueueWaitNs();
        timer_.start(10);
    }
    // The longest gap so far in milliseconds, the one still open included.
    int64_t longest() const { return std::max(longest_, GapNowMs()); }

private:
    int64_t GapNowMs() const {
        int64_t gap_ns = since_.nsecsElapsed();
        const int64_t waited = RunQueueWaitNs();
        if (waited >= 0 && waited_at_tick_ >= 0) gap_ns -= waited - waited_at_tick_;
        return std::max<int64_t>(gap_ns, 0) / 1000000;
    }
    void Tick() {
        longest_ = std::max(longest_, GapNowMs());
        since_.restart();
        waited_at_tick_ = RunQueueWaitNs();
    }

    QTimer timer_;
    QElapsedTimer since_;
    int64_t waited_at_tick_ = -1;
    int64_t longest_ = 0;
};

// The longest gap while act runs on the window thread.
inline int64_t LongestWindowGapMs(const std::function<void()>& act) {
    WindowGap gap;
    act();
    return gap.longest();
}

}  // namespace window_gap
