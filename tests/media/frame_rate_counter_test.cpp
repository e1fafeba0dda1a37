#include "media/frame_rate_counter.h"

#include <gtest/gtest.h>

#include "media/performance_timer.h"

#include <thread>

namespace {

TEST(FrameRateCounter, CountsTheLastSecond) {
    FrameRateCounter counter;
    // 25 frames 40 ms apart fill the first second; from then on the rate holds at the queue's length.
    for (uint32_t t = 0; t < 1000; t += 40) counter.TickAt(t);
    EXPECT_EQ(counter.rate(), 25);
    counter.TickAt(1000);
    EXPECT_EQ(counter.rate(), 25);
    for (uint32_t t = 1040; t < 3000; t += 40) counter.TickAt(t);
    EXPECT_EQ(counter.rate(), 25);
}

TEST(FrameRateCounter, TickCountWrapsWithoutHarm) {
    FrameRateCounter counter;
    uint32_t t = 0xFFFFFF00u;
    for (int i = 0; i < 30; ++i, t += 100) counter.TickAt(t);  // crosses the 32-bit wrap
    EXPECT_EQ(counter.rate(), 10);
}

// A minute's sleep ends once the stop comes (after 30 ms), long before the minute.
TEST(PerformanceTimer, SleepEndsWhenStopped) {
    platform::CancellableWait stop;
    PerformanceTimer timer;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        stop.RequestStop();
    });
    const int32_t slept = timer.SleepMeasured(60000, 0, &stop);
    stopper.join();
    EXPECT_LT(slept, 10000);
    EXPECT_GE(slept, 20);
    EXPECT_FALSE(InterruptibleSleep(60000, &stop));
    timer.Start();
    EXPECT_GE(timer.SleepMeasured(20, 5), 14);
}

}  // namespace
