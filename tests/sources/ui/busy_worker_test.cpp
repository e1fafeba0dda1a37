// The busy window's worker: results are only read once the worker has ended,
// also when the window gave up at its tick limit first.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <thread>

#include "mainwindow/ui/loading_page.h"
#include "sources/ui/busy_worker.h"
#include "tests/mainwindow/ui/control_test_support.h"

namespace {

TEST(BusyWorkerTest, ReturnsOnlyAfterTheWorkEvenPastTheTickLimit) {
    control_test::ApplicationGuard app;
    // What Run would otherwise wait for (the window's tick limit, the pause) lasts a minute,
    // so an end within a fraction of it shows the wait was not needed, however loaded the machine.
    constexpr int kMinuteTicks = 60000 / CLoadingPage::kTickMs;
    struct Case {
        int tick_limit;
        int work_ms;
        int pause_ms;
        int least_ms;  // how long Run takes at least
    } cases[] = {
        {1, 400, 0, 400},               // the work outlasts the window: Run waits for it
        {kMinuteTicks, 50, 100, 150},   // the pause keeps the window up after the work, no longer
        {2, 0, 60000, 100},             // the window closed at its limit (2 ticks): the pause ends with it
    };
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
        EXPECT_GE(clock.elapsed(), c.least_ms) << c.tick_limit;
        EXPECT_LT(clock.elapsed(), 10000) << c.tick_limit;
    }
}

// At the tick limit the owner's abort cuts a long wait short before the join.
TEST(BusyWorkerTest, TheTickLimitAbortsTheWork) {
    control_test::ApplicationGuard app;
    BusyWorker worker;
    worker.pause_ms = 0;
    std::atomic<int> aborted{0};
    QElapsedTimer clock;
    clock.start();
    // Left alone the work would last a minute: an end within a fraction of it is the abort's.
    worker.Run(
        nullptr, 2,
        [&] {
            for (int i = 0; i < 6000 && !aborted; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        },
        [&] { aborted = 1; });
    EXPECT_EQ(aborted, 1);
    EXPECT_LT(clock.elapsed(), 10000);
}

}  // namespace
