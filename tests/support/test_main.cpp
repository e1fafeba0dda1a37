// The main of every test program. A run in which a test was skipped and none
// failed ends with kSkippedExitCode, so ctest reports the program as skipped,
// not as passed: a check that could not run here is never counted as done.
#include <gtest/gtest.h>

#include "tests/support/skip.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    if (result != 0) return result;
    return testing::UnitTest::GetInstance()->skipped_test_count() > 0 ? test_support::kSkippedExitCode : 0;
}
