#pragma once
// Skips that ctest reports as skipped, and skips a CI run does not allow.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace test_support {

// What a test program returns when a test was skipped and none failed (ctest's SKIP_RETURN_CODE).
constexpr int kSkippedExitCode = 77;

// CI sets CI=true; its set-up (scripts/deps.sh) installs every program the tests use.
inline bool UnderCi() {
    const char* ci = std::getenv("CI");
    return ci && std::strcmp(ci, "true") == 0;
}

}  // namespace test_support

// For a check that needs a program scripts/deps.sh installs (smbd, ffmpeg, ffprobe): a skip
// where it is missing, a failure under CI, where its absence means the set-up is broken.
// Rights the machine may legitimately withhold (mounts, ICMP sockets) use GTEST_SKIP itself.
#define SKIP_WITHOUT_INSTALLED(why)                                                                  \
    do {                                                                                             \
        if (::test_support::UnderCi()) FAIL() << why << " (installed by scripts/deps.sh, under CI)"; \
        GTEST_SKIP() << why;                                                                         \
    } while (0)
