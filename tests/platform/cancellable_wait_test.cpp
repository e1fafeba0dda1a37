#include "platform/cancellable_wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using platform::CancellableWait;
using Clock = std::chrono::steady_clock;

// Longer than any test may take: a wait that runs it out shows up as a timeout
// of the test, and one that ends early is told from it by a bound far below.
constexpr auto kMinute = std::chrono::minutes(1);
constexpr auto kFarBelowAMinute = std::chrono::seconds(10);

// Records that a waiter is inside its wait: the waiter's predicate first runs
// under the wait's lock just before it sleeps, so once Entered has returned, a
// stop or an update can only reach it while it sleeps.
class Entry {
public:
    // For the waiter's predicate.
    void Mark() {
        entered_.Update([this] { in_ = true; });
    }
    void Entered() {
        entered_.Wait([this] { return in_; });
    }

private:
    CancellableWait entered_;
    bool in_ = false;
};

struct WaitKind {
    const char* name;
    // Runs a minute-long wait of this kind; returns what the wait returned.
    std::function<bool(CancellableWait&, Entry&)> wait;
    // Whether a waiter of this kind tells the entry it is waiting.
    bool marks_entry;
};

const std::vector<WaitKind>& WaitKinds() {
    static const std::vector<WaitKind> kinds = {
        {"WaitFor(ms)", [](CancellableWait& w, Entry&) { return w.WaitFor(60000); }, false},
        {"WaitFor(duration)",
         [](CancellableWait& w, Entry&) { return w.WaitFor(std::chrono::duration_cast<std::chrono::milliseconds>(kMinute)); },
         false},
        {"WaitUntil(deadline)", [](CancellableWait& w, Entry&) { return w.WaitUntil(Clock::now() + kMinute); }, false},
        {"WaitFor(ms, ready)",
         [](CancellableWait& w, Entry& e) {
             return w.WaitFor(60000, [&e] {
                 e.Mark();
                 return false;
             });
         },
         true},
        {"WaitUntil(deadline, ready)",
         [](CancellableWait& w, Entry& e) {
             return w.WaitUntil(Clock::now() + kMinute, [&e] {
                 e.Mark();
                 return false;
             });
         },
         true},
        {"Wait(ready)",
         [](CancellableWait& w, Entry& e) {
             return w.Wait([&e] {
                 e.Mark();
                 return false;
             });
         },
         true},
    };
    return kinds;
}

// A stop ends a minute-long wait of every kind at once, whether it comes while
// the waiter sleeps (predicate kinds are known to be asleep) or just before.
TEST(CancellableWait, StopEndsEveryKindOfWaitAtOnce) {
    for (const WaitKind& kind : WaitKinds()) {
        SCOPED_TRACE(kind.name);
        CancellableWait wait;
        Entry entry;
        std::atomic<int> result{-1};
        const Clock::time_point start = Clock::now();
        std::thread waiter([&] { result = kind.wait(wait, entry) ? 1 : 0; });
        if (kind.marks_entry) entry.Entered();
        wait.RequestStop();
        waiter.join();
        EXPECT_LT(Clock::now() - start, kFarBelowAMinute);
        EXPECT_EQ(result.load(), 0);
        EXPECT_TRUE(wait.StopRequested());
    }
}

// Once stopped, every wait returns at once until Reset; after Reset a wait
// runs its time out again and reports that it did.
TEST(CancellableWait, StopHoldsUntilReset) {
    for (const WaitKind& kind : WaitKinds()) {
        SCOPED_TRACE(kind.name);
        CancellableWait wait;
        Entry entry;
        wait.RequestStop();
        const Clock::time_point start = Clock::now();
        EXPECT_FALSE(kind.wait(wait, entry));
        EXPECT_FALSE(kind.wait(wait, entry));
        EXPECT_LT(Clock::now() - start, kFarBelowAMinute);
    }
    CancellableWait wait;
    wait.RequestStop();
    wait.Reset();
    EXPECT_FALSE(wait.StopRequested());
    EXPECT_TRUE(wait.WaitFor(1));
    EXPECT_TRUE(wait.WaitUntil(Clock::now()));
    EXPECT_FALSE(wait.WaitFor(1, [] { return false; }));
    EXPECT_TRUE(wait.WaitFor(1, [] { return true; }));
}

// A short wait with nobody to stop it runs out and says so; a predicate wait
// that runs out returns its predicate, false.
TEST(CancellableWait, TimeRunsOutWithoutStop) {
    CancellableWait wait;
    EXPECT_TRUE(wait.WaitFor(20));
    EXPECT_TRUE(wait.WaitFor(0));
    EXPECT_TRUE(wait.WaitFor(-5));
    EXPECT_FALSE(wait.WaitFor(20, [] { return false; }));
    EXPECT_FALSE(wait.StopRequested());
}

// State changed through Update ends a predicate wait at once, and the wait
// returns true without a stop; state changed outside the lock does the same
// once Notify follows.
TEST(CancellableWait, PredicateWaitEndsOnUpdateAndOnNotify) {
    for (const bool through_update : {true, false}) {
        SCOPED_TRACE(through_update ? "Update" : "Notify");
        CancellableWait wait;
        Entry entry;
        bool ready = false;              // under the wait's lock
        std::atomic<bool> outside{false};  // changed outside it
        std::atomic<int> result{-1};
        const Clock::time_point start = Clock::now();
        std::thread waiter([&] {
            result = wait.WaitFor(60000, [&] {
                entry.Mark();
                return ready || outside.load();
            }) ? 1 : 0;
        });
        entry.Entered();
        if (through_update) {
            wait.Update([&] { ready = true; });
        } else {
            outside = true;
            wait.Notify();
        }
        waiter.join();
        EXPECT_LT(Clock::now() - start, kFarBelowAMinute);
        EXPECT_EQ(result.load(), 1);
        EXPECT_FALSE(wait.StopRequested());
    }
}

// A predicate that already holds returns at once, even when stopped: the
// return is the predicate, not the stop.
TEST(CancellableWait, PredicateDecidesTheReturnEvenWhenStopped) {
    CancellableWait wait;
    EXPECT_TRUE(wait.WaitFor(60000, [] { return true; }));
    wait.RequestStop();
    EXPECT_TRUE(wait.Wait([] { return true; }));
    EXPECT_FALSE(wait.Wait([] { return false; }));
}

// Update and Read run under the lock and hand back what their function returns;
// a waiter's predicate sees every change in order.
TEST(CancellableWait, UpdateAndReadRunUnderTheLock) {
    CancellableWait wait;
    int count = 0;  // under the wait's lock
    constexpr int kSteps = 1000;
    std::atomic<bool> saw_all{false};
    std::thread waiter([&] { saw_all = wait.Wait([&] { return count == kSteps; }); });
    for (int i = 0; i < kSteps; ++i) EXPECT_EQ(wait.Update([&] { return ++count; }), i + 1);
    waiter.join();
    EXPECT_TRUE(saw_all.load());
    EXPECT_EQ(wait.Read([&] { return count; }), kSteps);
}

// StopThread ends a thread sleeping out a minute on its wait and then on
// another (a network call, say) that only the extra wake ends; the thread has
// ended when it returns.
TEST(CancellableWait, StopThreadWakesAndJoins) {
    CancellableWait wait;
    CancellableWait other;
    std::atomic<int> rounds{0};
    std::atomic<bool> ended{false};
    std::thread worker([&] {
        while (wait.WaitFor(60000)) ++rounds;
        other.WaitFor(60000);
        ended = true;
    });
    const Clock::time_point start = Clock::now();
    platform::StopThread(wait, worker, [&] { other.RequestStop(); });
    EXPECT_LT(Clock::now() - start, kFarBelowAMinute);
    EXPECT_FALSE(worker.joinable());
    EXPECT_TRUE(ended.load());
    EXPECT_EQ(rounds.load(), 0);
    // A thread already joined, or never started, is left as it is.
    platform::StopThread(wait, worker);
    std::thread never;
    platform::StopThread(wait, never);
    EXPECT_FALSE(never.joinable());
}

}  // namespace
