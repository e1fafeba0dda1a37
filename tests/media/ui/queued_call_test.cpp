// Calls a worker queues to a window's thread: they run there, in the order
// queued, and see what the worker wrote before posting; a call whose window
// goes first is dropped uncalled and what it holds is freed there. In the
// ThreadSanitizer run a hand-over it was not told of is reported as a race:
// here the worker tells the window thread that it posted through a wake that
// ThreadSanitizer cannot see, as it cannot see Qt's own, and the window thread
// takes the calls without its event loop (whose wake-up it would see).
#include <gtest/gtest.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QObject>

#include <atomic>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "media/ui/queued_call.h"
#include "tests/mainwindow/ui/control_test_support.h"

namespace {

// A one-shot signal between two threads that orders nothing between them.
class UnseenSignal {
public:
    void Raise() {
        word_.store(1, std::memory_order_relaxed);
        syscall(SYS_futex, reinterpret_cast<int*>(&word_), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
    }
    // False when it was not raised within the deadline.
    bool Wait(int seconds) {
        const timespec deadline{seconds, 0};
        if (word_.load(std::memory_order_relaxed) == 0)
            syscall(SYS_futex, reinterpret_cast<int*>(&word_), FUTEX_WAIT_PRIVATE, 0, &deadline, nullptr, 0);
        return word_.load(std::memory_order_relaxed) != 0;
    }

private:
    std::atomic<int> word_{0};
};
static_assert(sizeof(std::atomic<int>) == sizeof(int));

// Long enough that no load reaches it; the worker posts at once.
constexpr int kNoLoadReachesSeconds = 60;

TEST(QueuedCallTest, RunsOnTheWindowThreadInOrderSeeingWhatTheWorkerWroteBefore) {
    control_test::EnsureApplication();
    QObject window;
    // Plain, unguarded: only the hand-over orders the worker's writes before the calls.
    std::vector<std::string> written(3);
    std::vector<std::string> seen;
    std::vector<std::thread::id> threads;
    UnseenSignal posted;
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) {
            written[i] = "frame " + std::to_string(i + 1);
            ui::PostQueued(&window, [&, i] {
                seen.push_back(written[i]);
                threads.push_back(std::this_thread::get_id());
            });
        }
        posted.Raise();
    });
    const bool raised = posted.Wait(kNoLoadReachesSeconds);
    if (raised) QCoreApplication::sendPostedEvents(&window);
    worker.join();
    ASSERT_TRUE(raised);
    EXPECT_EQ(seen, (std::vector<std::string>{"frame 1", "frame 2", "frame 3"}));
    for (const std::thread::id id : threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(QueuedCallTest, DroppedUncalledWithItsWindowAndWhatItHoldsIsFreedThere) {
    control_test::EnsureApplication();
    auto window = std::make_unique<QObject>();
    QObject* target = window.get();
    std::atomic<bool> called{false};
    auto text = std::make_shared<std::string>();
    const std::weak_ptr<std::string> held = text;
    UnseenSignal posted;
    std::thread worker([&, target, text = std::move(text)]() mutable {
        // Written on the worker, freed on the window thread.
        text->assign(1000, 'x');
        ui::PostQueued(target, [&called, text = std::move(text)] { called = true; });
        posted.Raise();
    });
    const bool raised = posted.Wait(kNoLoadReachesSeconds);
    if (raised) window.reset();
    const bool freed = held.expired();
    worker.join();
    ASSERT_TRUE(raised);
    EXPECT_TRUE(freed);
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(called.load());
}

}  // namespace
