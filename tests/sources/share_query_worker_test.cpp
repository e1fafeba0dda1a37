// The share worker's hand-over: answers are current once, and a later start or an
// abort makes earlier ones stale (its share calls are met in the share waits test).
#include "sources/share_query_worker.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

namespace {

// Counts the done calls and lets the test wait for them.
class Done {
public:
    std::function<void(uint64_t)> Callback() {
        return [this](uint64_t generation) {
            std::lock_guard<std::mutex> lock(mutex_);
            last_ = generation;
            ++calls_;
            cv_.notify_all();
        };
    }
    uint64_t WaitFor(int calls) {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [&] { return calls_ >= calls; });
        return last_;
    }
    int calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int calls_ = 0;
    uint64_t last_ = 0;
};

TEST(ShareQueryWorkerTest, AnAnswerIsCurrentOnceAndALaterStartMakesItStale) {
    ShareQueryWorker worker;
    Done done;
    int answer = 0;
    const uint64_t first = worker.Start([&] { answer = 1; }, done.Callback());
    EXPECT_EQ(done.WaitFor(1), first);
    EXPECT_TRUE(worker.Finish(first));
    EXPECT_EQ(answer, 1);
    EXPECT_FALSE(worker.Finish(first));
    EXPECT_FALSE(worker.Running());

    const uint64_t second = worker.Start([&] { answer = 2; }, done.Callback());
    EXPECT_EQ(done.WaitFor(2), second);
    const uint64_t third = worker.Start([&] { answer = 3; }, done.Callback());
    EXPECT_NE(second, third);
    EXPECT_EQ(done.WaitFor(3), third);
    // The second's message may still arrive: it is no longer current.
    EXPECT_FALSE(worker.Finish(second));
    EXPECT_TRUE(worker.Finish(third));
    EXPECT_EQ(answer, 3);
}

TEST(ShareQueryWorkerTest, AnAbortedWorkGivesNoAnswer) {
    ShareQueryWorker worker;
    Done done;
    const uint64_t generation = worker.Start([] {}, done.Callback());
    done.WaitFor(1);
    worker.Abort();
    EXPECT_FALSE(worker.Finish(generation));
    EXPECT_FALSE(worker.Running());
}

}  // namespace
