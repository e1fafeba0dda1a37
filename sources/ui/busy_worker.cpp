#include "sources/ui/busy_worker.h"

#include <chrono>
#include <thread>

#include "mainwindow/ui/loading_page.h"
#include "platform/network_share.h"

void BusyWorker::Run(QWidget* owner, int tick_limit, const std::function<void()>& work,
                     const std::function<void()>& abort) {
    busy_ = 1;
    page_closed_.Reset();
    const int pause = pause_ms;
    std::thread worker([this, &work, pause] {
        work();
        // Held so the busy window is seen, but not once it has closed at its tick limit.
        page_closed_.WaitFor(pause);
        busy_ = 0;
    });
    CLoadingPage page(owner);
    page.tick_limit = tick_limit_cap > 0 && tick_limit_cap < tick_limit ? tick_limit_cap : tick_limit;
    page.watched_flag = &busy_;
    page.DoModal();
    page_closed_.RequestStop();
    // At the tick limit the worker may still be waiting on the recorder: its wait is cut short,
    // and its results are not read before it ends.
    if (busy_ && abort) abort();
    worker.join();
    busy_ = 0;
}
