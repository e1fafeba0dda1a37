#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "mainwindow/ui/loading_page.h"
#include "media/ui/gdi_paint.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/support/held_time.h"

namespace {

using control_test::Rgb;

class LoadingPageTest : public ::testing::Test {
protected:
    control_test::ApplicationGuard application;
};

TEST_F(LoadingPageTest, ClosesWhenTheWorkerClearsTheFlag) {
    std::atomic<int> busy{1};
    CLoadingPage page;
    page.watched_flag = &busy;
    // Left to its tick limit the window would stay a minute: a close within a fraction of
    // it, with ticks to spare, can only be the flag's, however loaded the machine.
    page.tick_limit = 60000 / CLoadingPage::kTickMs;
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        busy = 0;
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(page.DoModal(), 1);
    const qint64 elapsed = clock.elapsed();
    worker.join();
    EXPECT_GE(elapsed, 180);
    EXPECT_LT(elapsed, 10000);
    EXPECT_LT(page.Ticks(), page.tick_limit);
}

TEST_F(LoadingPageTest, ClosesAtTheTickLimitWhenTheFlagNeverDrops) {
    std::atomic<int> busy{1};
    CLoadingPage page;
    page.watched_flag = &busy;
    page.tick_limit = 6;
    QElapsedTimer clock;
    clock.start();
    // Seven ticks of 50 ms: six counted, the seventh closes. The time the window thread
    // stood ready while other work held the processors is left out of the upper bound.
    const int64_t held = held_time::HeldMs([&] { EXPECT_EQ(page.DoModal(), 1); });
    EXPECT_EQ(page.Ticks(), 6);
    EXPECT_GE(clock.elapsed(), 6 * CLoadingPage::kTickMs);
    EXPECT_LT(held, 3000);
    EXPECT_EQ(busy.load(), 1);
}

TEST_F(LoadingPageTest, FlagAlreadyClearClosesAtTheFirstTickAndNoFlagAtTheLimit) {
    std::atomic<int> done{0};
    CLoadingPage page;
    page.watched_flag = &done;
    // The first tick, 50 ms in, closes it: not a tick counted, and far from the default
    // limit's 12.5 s even with the machine's load left out.
    const int64_t held = held_time::HeldMs([&] { page.DoModal(); });
    EXPECT_EQ(page.Ticks(), 0);
    EXPECT_LT(held, 1000);

    CLoadingPage unwatched;
    unwatched.tick_limit = 3;
    unwatched.DoModal();
    EXPECT_EQ(unwatched.Ticks(), 3);
}

TEST_F(LoadingPageTest, EscapeDoesNotEndTheWaitEarly) {
    std::atomic<int> busy{1};
    CLoadingPage page;
    page.watched_flag = &busy;
    page.tick_limit = 8;
    QTimer::singleShot(60, &page, [&] { page.reject(); });
    page.DoModal();
    EXPECT_EQ(page.Ticks(), 8);
}

TEST_F(LoadingPageTest, SingleFrameIndicatorShowsThatFrameOnEveryTick) {
    std::atomic<int> busy{1};
    CLoadingPage page;
    page.watched_flag = &busy;
    page.tick_limit = 4;
    page.indicator_frames = {control_test::Solid(20, 20, QColor(0, 200, 0))};
    std::vector<int> seen;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] { seen.push_back(page.FrameIndex()); });
    probe.start(20);
    page.DoModal();
    EXPECT_EQ(page.FrameCount(), 1);
    ASSERT_FALSE(seen.empty());
    for (int index : seen) EXPECT_EQ(index, 0);
    // (300 - 20) / 5, (110 - 20) / 2.
    EXPECT_EQ(page.IndicatorRect(), QRect(56, 45, 20, 20));
    EXPECT_EQ(Rgb(page.grab().toImage(), 60, 50), Rgb(QColor(0, 200, 0)));
}

TEST_F(LoadingPageTest, MissingIndicatorFileGivesOurOwnSpinner) {
    std::atomic<int> busy{1};
    CLoadingPage page;
    page.watched_flag = &busy;
    page.tick_limit = 2;
    page.indicator_path = "/nonexistent/Indicator.gif";
    EXPECT_EQ(page.DoModal(), 1);
    EXPECT_EQ(page.FrameCount(), CLoadingPage::kSpinnerFrames);
    const QImage image = page.grab().toImage();
    const QRect spinner = page.IndicatorRect();
    EXPECT_EQ(spinner.size(), QSize(CLoadingPage::kSpinnerSize, CLoadingPage::kSpinnerSize));
    const uint32_t background = Rgb(ColorFromColorref(CLoadingPage::kBackgroundColour));
    EXPECT_EQ(Rgb(image, 2, 2), background);
    int lit = 0;
    for (int y = spinner.top(); y <= spinner.bottom(); ++y) {
        for (int x = spinner.left(); x <= spinner.right(); ++x) lit += Rgb(image, x, y) != background;
    }
    EXPECT_GT(lit, 20);
    // Frames differ, so the spinner turns.
    const auto frames = CLoadingPage::SpinnerFrames();
    EXPECT_NE(frames[0], frames[1]);
}

}  // namespace
