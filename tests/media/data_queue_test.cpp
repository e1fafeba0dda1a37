#include "media/data_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

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

TEST(DataQueue, OneProducerOneConsumerKeepOrder) {
    std::atomic<int> live{0};
    DataQueue<Counted> queue;
    constexpr int kCount = 20000;
    std::thread producer([&] {
        for (int i = 0; i < kCount; ++i) queue.Push(std::make_unique<Counted>(i, &live));
    });
    int expected = 0;
    while (expected < kCount) {
        if (auto record = queue.Pop()) {
            ASSERT_EQ(record->value, expected);
            ++expected;
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    EXPECT_EQ(queue.GetCount(), 0u);
    EXPECT_EQ(live.load(), 0);
}

}  // namespace
