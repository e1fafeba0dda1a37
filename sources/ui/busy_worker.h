#pragma once
// A dialog's slow work on a worker thread behind the busy window. Run returns
// only once the worker has ended, so whatever the work left behind may be
// applied to the widgets on the window thread; the work itself never touches a
// widget.
#include <atomic>
#include <functional>

#include "platform/cancellable_wait.h"

class QWidget;

class BusyWorker {
public:
    // The worker holds the busy window this long after its work, so it is seen.
    static constexpr int kPauseMs = 3000;

    int pause_ms = kPauseMs;
    // Above 0: the busy window's tick limit is at most this (tests reach the limit quickly).
    int tick_limit_cap = 0;

    // The busy window closes when the worker is done or at tick_limit; either
    // way the worker is joined before Run returns. At the tick limit abort cuts
    // the work short first, so the window thread never waits on the network.
    void Run(QWidget* owner, int tick_limit, const std::function<void()>& work,
             const std::function<void()>& abort = {});
    // 1 while a worker runs (watched by the busy window).
    int Busy() const { return busy_; }

private:
    std::atomic<int> busy_{0};
    // Stopped once the busy window has closed: the worker's hold ends then.
    platform::CancellableWait page_closed_;
};
