// The ThreadSanitizer run still reports a race between two accesses of ours
// around a queued call: a worker that changes what it handed over after
// posting, read by the call on the window thread, in plain memory and in a Qt
// byte array whose copying Qt does with libc calls. Each case runs in a child
// process of this program under the run's own suppressions.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QObject>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "media/ui/queued_call.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/support/tool_run.h"

namespace {

constexpr char kCaseVariable[] = "LARKSPUR_QUEUED_CALL_RACE";
constexpr int kNoLoadReachesMs = 60000;

__attribute__((noinline)) void WriteAfterPosting(int* value) { *value = 2; }
__attribute__((noinline)) void AppendAfterPosting(QByteArray* bytes) { bytes->append(QByteArray(1 << 16, 'b')); }

// Posts a call that reads what read() reads, then changes it with write().
template <typename Read, typename Write>
void RaceAroundAQueuedCall(Read read, Write write) {
    control_test::EnsureApplication();
    QObject window;
    std::atomic<bool> called{false};
    std::thread worker([&] {
        ui::PostQueued(&window, [&] {
            read();
            called = true;
        });
        write();
    });
    control_test::RunUntil([&] { return called.load(); }, kNoLoadReachesMs);
    worker.join();
}

// Run only as the child of the test below (disabled in a plain run).
TEST(QueuedCallRaceChild, DISABLED_Races) {
    const char* which = std::getenv(kCaseVariable);
    ASSERT_NE(which, nullptr);
    if (std::string(which) == "plain") {
        auto value = std::make_unique<int>(1);
        int seen = 0;
        RaceAroundAQueuedCall([&] { seen = *value; }, [&] { WriteAfterPosting(value.get()); });
    } else {
        QByteArray bytes(16, 'a');
        QByteArray copy;
        RaceAroundAQueuedCall([&] { copy = QByteArray(bytes.constData(), 16); }, [&] { AppendAfterPosting(&bytes); });
    }
}

TEST(QueuedCallRaceTest, AWriteAfterPostingIsReported) {
#ifndef LARKSPUR_TSAN_ANNOTATIONS
    GTEST_SKIP() << "needs a ThreadSanitizer build";
#else
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const char* source = std::getenv("LARKSPUR_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    const std::string suppressions = std::string(source) + "/scripts/tsan.supp";
    struct Case {
        const char* name;
        const char* frame;  // a frame the report must name
    };
    // In the byte array the call's copy is Qt's memcpy, the side that is always the same: the
    // append's side is Qt's free of the old buffer or its malloc of the new one.
    const Case cases[] = {{"plain", "WriteAfterPosting"}, {"qt", "QByteArray::QByteArray(char const*, long long)"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun child =
            RunShell(std::string(kCaseVariable) + "=" + c.name + " TSAN_OPTIONS=" +
                     ShellQuote("halt_on_error=0 exitcode=66 suppressions=" + suppressions) + " " + ShellQuote(self) +
                     " --gtest_also_run_disabled_tests --gtest_filter=QueuedCallRaceChild.DISABLED_Races 2>&1");
        EXPECT_EQ(child.status, 66);
        EXPECT_NE(child.out.find("WARNING: ThreadSanitizer: data race"), std::string::npos) << child.out;
        EXPECT_NE(child.out.find(c.frame), std::string::npos) << child.out;
        EXPECT_NE(child.out.find("[  PASSED  ] 1 test"), std::string::npos) << child.out;
    }
#endif
}

}  // namespace
