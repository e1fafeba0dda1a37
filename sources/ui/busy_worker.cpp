#include "sources/ui/busy_worker.h"

#include <chrono>
#include <thread>

#include "mainwindow/ui/loading_page.h"
#include "platform/network_share.h"

void BusyWorker::Run(QWidget* owner, int tick_limit, const std::function<void()>& work) {
    busy_ = 1;
    const int pause = pause_ms;
    platform::ShareCallAbort share_calls;
    std::thread worker([this, &work, pause, &share_calls] {
        const platform::ScopedShareCallAbort bound(&share_calls);
        work();
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        busy_ = 0;
    });
    CLoadingPage page(owner);
    page.tick_limit = tick_limit;
    page.watched_flag = &busy_;
    page.DoModal();
    // At the tick limit the worker may still be connecting; its results are not read before it ends,
    // and a share call it still waits for is given up so that this is soon.
    share_calls.Abort();
    worker.join();
    busy_ = 0;
}
