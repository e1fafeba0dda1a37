#include "media/data_queue.h"
#include "platform/cancellable_wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <thread>
#include <vector>

namespace {

struct Counted {
    explicit Counted(int v, std::atomic<int>* live) : value(v), live(live) { ++*live; }
    ~Counted() { --*live; }
    int value;
    std::atomic<int>* live;
};

TEST(DataQueue, OrderOwnershipAndClear) {
    std::atomic<int> live{0};
    DataQueue<Counted> queue;
    EXPECT_EQ(queue.Pop(), nullptr);
    EXPECT_EQ(queue.Peek(), nullptr);
    for (int i = 0; i < 5; ++i) queue.Push(std::make_unique<Counted>(i, &live));
    queue.Push(nullptr);
    EXPECT_EQ(queue.GetCount(), 5u);
    EXPECT_EQ(queue.Peek()->value, 0);
    auto first = queue.Pop();
    EXPECT_EQ(first->value, 0);
    EXPECT_EQ(queue.Peek()->value, 1);
    queue.Clear();
    EXPECT_EQ(queue.GetCount(), 0u);
    EXPECT_EQ(live.load(), 1);  // only the popped record is left
    queue.Push(std::make_unique<Counted>(7, &live));
    EXPECT_EQ(queue.Pop()->value, 7);
}

TEST(DataQueue, DestructionFreesWhatIsQueued) {
    std::atomic<int> live{0};
    {
        DataQueue<Counted> queue;
        for (int i = 0; i < 3; ++i) queue.Push(std::make_unique<Counted>(i, &live));
    }
    EXPECT_EQ(live.load(), 0);
}

// A bounded producer and a consumer that both block on the queue: order kept,
// the bound held, nothing lost or leaked.
TEST(DataQueue, BlockingProducerAndConsumerKeepOrderAndBound) {
    std::atomic<int> live{0};
    DataQueue<Counted> queue;
    constexpr int kCount = 20000;
    constexpr size_t kLimit = 8;
    const auto far = DataQueue<Counted>::Clock::now() + std::chrono::seconds(30);
    std::atomic<size_t> most{0};
    std::thread producer([&] {
        for (int i = 0; i < kCount; ++i) {
            ASSERT_TRUE(queue.WaitForSpace(kLimit, far));
            queue.Push(std::make_unique<Counted>(i, &live));
            size_t count = queue.GetCount();
            if (count > most.load()) most.store(count);
        }
    });
    int expected = 0;
    while (expected < kCount) {
        ASSERT_TRUE(queue.WaitForRecord(far));
        auto record = queue.Pop();
        ASSERT_NE(record, nullptr);
        ASSERT_EQ(record->value, expected);
        ++expected;
    }
    producer.join();
    EXPECT_LE(most.load(), kLimit);
    EXPECT_EQ(queue.GetCount(), 0u);
    EXPECT_EQ(live.load(), 0);
}

// Batches in, everything out at once: order kept across batches and takes,
// the batch left empty, null entries dropped, nothing lost or leaked; each
// side's wait ends on the other's batch operation.
TEST(DataQueue, BatchesKeepOrderAndWakeTheOtherSide) {
    std::atomic<int> live{0};
    DataQueue<Counted> queue;
    constexpr int kCount = 20000;
    constexpr size_t kLimit = 16;
    const auto far = DataQueue<Counted>::Clock::now() + std::chrono::seconds(30);
    std::thread producer([&] {
        std::vector<std::unique_ptr<Counted>> batch;
        for (int i = 0; i < kCount;) {
            ASSERT_TRUE(queue.WaitForSpace(kLimit, far));
            // Batches of 1 to 7 records, with a null among them now and then.
            const int size = 1 + i % 7;
            for (int k = 0; k < size && i < kCount; ++k) batch.push_back(std::make_unique<Counted>(i++, &live));
            if (i % 5 == 0) batch.push_back(nullptr);
            queue.PushAll(batch);
            ASSERT_TRUE(batch.empty());
        }
    });
    std::deque<std::unique_ptr<Counted>> taken;
    int expected = 0;
    while (expected < kCount) {
        if (taken.empty()) {
            ASSERT_TRUE(queue.WaitForRecord(far));
            // Half the time into a deque that still holds records: they stay in front.
            if (expected % 2 == 0) queue.PopAll(&taken);
        }
        if (taken.size() < 2) queue.PopAll(&taken);
        ASSERT_FALSE(taken.empty());
        ASSERT_NE(taken.front(), nullptr);
        ASSERT_EQ(taken.front()->value, expected);
        taken.pop_front();
        ++expected;
    }
    producer.join();
    EXPECT_EQ(queue.GetCount(), 0u);
    EXPECT_TRUE(taken.empty());
    EXPECT_EQ(live.load(), 0);

    std::vector<std::unique_ptr<Counted>> empty;
    queue.PushAll(empty);
    queue.PopAll(&taken);
    EXPECT_TRUE(taken.empty());
}

TEST(DataQueue, WaitsEndOnDeadlineWakeAndStop) {
    using Clock = DataQueue<int>::Clock;
    DataQueue<int> queue;
    // Nothing comes: the deadline ends the wait.
    EXPECT_FALSE(queue.WaitForRecord(Clock::now() + std::chrono::milliseconds(20)));
    EXPECT_TRUE(queue.WaitForSpace(1, Clock::now()));

    // Wake ends a wait that has no deadline, once.
    std::atomic<int> entered{0};
    std::thread waiter([&] {
        entered.store(1);
        EXPECT_FALSE(queue.WaitForRecord(Clock::time_point::max()));
        entered.store(2);
    });
    while (entered.load() != 2) {
        queue.Wake();
        std::this_thread::yield();
    }
    waiter.join();

    // Stop is sticky until Resume, and leaves the records alone.
    queue.Push(std::make_unique<int>(1));
    queue.Stop();
    EXPECT_TRUE(queue.IsStopped());
    EXPECT_FALSE(queue.WaitForSpace(1, Clock::time_point::max()));
    EXPECT_FALSE(queue.WaitUntil(Clock::time_point::max(), [](size_t count) { return count > 5; }));
    EXPECT_EQ(queue.GetCount(), 1u);
    queue.Resume();
    EXPECT_FALSE(queue.IsStopped());
    EXPECT_FALSE(queue.WaitForSpace(1, Clock::now() + std::chrono::milliseconds(10)));
}

// A flag set before Wake is seen by a waiter that checks it in its condition,
// however the two threads interleave: the wait never runs to its far deadline.
TEST(DataQueue, FlagSetBeforeWakeIsNeverMissed) {
    using Clock = DataQueue<int>::Clock;
    for (int round = 0; round < 200; ++round) {
        DataQueue<int> queue;
        std::atomic<int> ended{0};
        std::thread waiter([&] {
            EXPECT_TRUE(queue.WaitUntil(Clock::now() + std::chrono::seconds(30),
                                        [&](size_t count) { return count > 0 || ended.load() != 0; }));
        });
        ended.store(1);
        queue.Wake();
        waiter.join();
    }
}

// Another thread's push ends a wait for a record, and a pop one for space.
TEST(DataQueue, PushAndPopWakeWaiters) {
    using Clock = DataQueue<int>::Clock;
    DataQueue<int> queue;
    std::thread consumer([&] { EXPECT_TRUE(queue.WaitForRecord(Clock::now() + std::chrono::seconds(30))); });
    queue.Push(std::make_unique<int>(1));
    consumer.join();
    std::thread producer([&] { EXPECT_TRUE(queue.WaitForSpace(1, Clock::now() + std::chrono::seconds(30))); });
    EXPECT_NE(queue.Pop(), nullptr);
    producer.join();
}

// The waiter's condition first runs under the queue's lock just before it
// sleeps: once the waiter has said so, a stop can only reach it asleep. A stop
// ends that wait at once; a Wake that came before the wait began does not end
// it, so it still returns true for the record pushed later.
TEST(DataQueue, StopEndsAWaitInProgressAndAnEarlierWakeDoesNot) {
    using Clock = DataQueue<int>::Clock;
    for (const bool stop : {true, false}) {
        SCOPED_TRACE(stop ? "stop" : "earlier wake");
        DataQueue<int> queue;
        platform::CancellableWait entered;
        bool in = false;  // under entered's lock
        if (!stop) queue.Wake();
        std::atomic<int> result{-1};
        const Clock::time_point start = Clock::now();
        std::thread waiter([&] {
            result = queue.WaitUntil(Clock::now() + std::chrono::minutes(1), [&](size_t count) {
                entered.Update([&] { in = true; });
                return count > 0;
            }) ? 1 : 0;
        });
        entered.Wait([&] { return in; });
        if (stop)
            queue.Stop();
        else
            queue.Push(std::make_unique<int>(1));
        waiter.join();
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
        EXPECT_EQ(result.load(), stop ? 0 : 1);
    }
}

}  // namespace
