#include "sources/ui/busy_worker.h"

#include <chrono>
#include <thread>

#include "mainwindow/ui/loading_page.h"
#include "platform/network_share.h"

void BusyWorker::Run(QWidget* owner, int tick_limit, const std::function<void()>& work,
                     const std::function<void()>& abort) {
    busy_ = 1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        page_closed_ = false;
    }
    const int pause = pause_ms;
    std::thread worker([this, &work, pause] {
        work();
        // Held so the busy window is seen, but not once it has closed at its tick limit.
        std::unique_lock<std::mutex> lock(mutex_);
        page_closed_cv_.wait_for(lock, std::chrono::milliseconds(pause), [this] { return page_closed_; });
        busy_ = 0;
    });
    CLoadingPage page(owner);
    page.tick_limit = tick_limit_cap > 0 && tick_limit_cap < tick_limit ? tick_limit_cap : tick_limit;
    page.watched_flag = &busy_;
    page.DoModal();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        page_closed_ = true;
    }
    page_closed_cv_.notify_all();
    // At the tick limit the worker may still be waiting on the recorder: its wait is cut short,
    // and its results are not read before it ends.
    if (busy_ && abort) abort();
    worker.join();
    busy_ = 0;
}
