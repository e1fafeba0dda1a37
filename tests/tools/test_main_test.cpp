// The test programs' main: what ctest is told when a check skipped, failed or
// passed. This program runs itself with one of the cases below chosen.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/skip.h"
#include "tests/support/tool_run.h"

namespace {

// Unset in ctest's own run, where each case passes without doing anything.
bool Chosen(const std::string& name) {
    const char* chosen = std::getenv("LARKSPUR_TEST_MAIN_CASE");
    return chosen && ("," + std::string(chosen) + ",").find("," + name + ",") != std::string::npos;
}

TEST(TestMainCase, Skip) {
    if (Chosen("skip")) GTEST_SKIP() << "asked to";
}

TEST(TestMainCase, SkipForAMissingProgram) {
    if (Chosen("missing")) SKIP_WITHOUT_INSTALLED("no such program");
}

TEST(TestMainCase, Fail) {
    if (Chosen("fail")) ADD_FAILURE() << "asked to";
}

TEST(TestMain, ExitStatusSaysWhatWasChecked) {
    struct Case {
        const char* chosen;
        const char* filter;
        const char* ci;
        int status;
    };
    const Case cases[] = {
        {"none", "TestMainCase.*", "", 0},
        {"skip", "TestMainCase.*", "", 77},
        {"skip", "TestMainCase.*", "true", 77},  // a plain skip stays one under CI
        {"missing", "TestMainCase.*", "", 77},
        {"missing", "TestMainCase.*", "true", 1},
        {"missing", "TestMainCase.*", "1", 77},  // only CI=true is CI
        {"fail", "TestMainCase.*", "", 1},
        // A failure beside a skip is a failure, never hidden as a skip.
        {"skip,fail", "TestMainCase.*", "", 1},
    };
    for (const Case& c : cases) {
        const std::string command = std::string("LARKSPUR_TEST_MAIN_CASE=") + c.chosen + " CI=" + c.ci +
                                    " " + ShellQuote(std::filesystem::read_symlink("/proc/self/exe").string()) + " --gtest_filter='" + c.filter +
                                    "' >/dev/null 2>&1";
        SCOPED_TRACE(command);
        const ToolRun run = RunShell(command + "; echo $?");
        EXPECT_EQ(std::atoi(run.out.c_str()), c.status);
    }
}

}  // namespace
