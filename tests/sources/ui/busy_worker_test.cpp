// The busy window's worker: results are only read once the worker has ended,
// also when the window gave up at its tick limit first.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <thread>

#include "sources/ui/busy_worker.h"
#include "tests/mainwindow/ui/control_test_support.h"

namespace {

TEST(BusyWorkerTest, ReturnsOnlyAfterTheWorkEvenPastTheTickLimit) {
    control_test::ApplicationGuard app;
    struct Case {
        int tick_limit;
        int work_ms;
        int pause_ms;
    } cases[] = {{1, 400, 0}, {250, 50, 100}, {2, 0, 300}};
    for (const Case& c : cases) {
        BusyWorker worker;
        worker.pause_ms = c.pause_ms;
        std::atomic<int> done{0};
        QElapsedTimer clock;
        clock.start();
        worker.Run(nullptr, c.tick_limit, [&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(c.work_ms));
            done = 1;
        });
        EXPECT_EQ(done, 1) << c.tick_limit;
        EXPECT_EQ(worker.Busy(), 0);
        // The pause keeps the window up after the work; nothing waits much longer.
        EXPECT_GE(clock.elapsed(), c.work_ms + c.pause_ms);
        EXPECT_LT(clock.elapsed(), c.work_ms + c.pause_ms + 2000);
    }
}

}  // namespace
