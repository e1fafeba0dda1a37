// The single-instance check: a fake process table for the name rules, and a
// real second process under this program's name for the refusal.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "mainwindow/ui/playback_app.h"
#include "platform/message_box.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/support/temp_folder.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

void FakeProcess(const TempFolder& proc, const std::string& id, const std::string& exe) {
    fs::create_directories(proc.Sub(id));
    if (!exe.empty()) fs::create_symlink(exe, proc.Sub(id) + "/exe");
}

TEST(KestrelApp, CountsProcessesByTheExactBaseNameOfTheirExecutable) {
    TempFolder proc;
    FakeProcess(proc, "1", "/usr/bin/larkspur");
    FakeProcess(proc, "22", "/opt/elsewhere/larkspur");   // other folder: same program
    FakeProcess(proc, "23", "/usr/bin/Larkspur");         // case differs
    FakeProcess(proc, "24", "/usr/bin/larkspur.old");     // other name
    FakeProcess(proc, "25", "/usr/bin/larkspur (deleted)");
    FakeProcess(proc, "0", "/usr/bin/larkspur");          // not a process
    FakeProcess(proc, "self", "/usr/bin/larkspur");       // not an id
    FakeProcess(proc, "40", "");                          // unreadable executable
    const std::string long_name(60, 'x');
    FakeProcess(proc, "41", "/usr/bin/" + long_name);
    EXPECT_EQ(CountProcessesNamed("larkspur", proc.path()), 2);
    EXPECT_EQ(CountProcessesNamed("Larkspur", proc.path()), 1);
    // Long names are compared whole, so a long-named copy is still found.
    EXPECT_EQ(CountProcessesNamed(long_name, proc.path()), 1);
    EXPECT_EQ(CountProcessesNamed("larkspur", proc.Sub("missing")), 0);
}

TEST(KestrelApp, FindsItselfOnTheRealProcessTable) {
    const std::string own = OwnExecutableName();
    ASSERT_FALSE(own.empty());
    EXPECT_GE(CountProcessesNamed(own), 1);
}

TEST(KestrelApp, SecondCopyIsRefusedWithoutOpeningTheDialog) {
    control_test::EnsureApplication();
    std::vector<std::string> boxes;
    platform::SetMessageBoxHandler([&](const std::string& text, const std::string&, int) {
        boxes.push_back(text);
        return platform::kIdOk;
    });

    // Another program copied under this program's file name stands for the first copy.
    TempFolder folder;
    const std::string twin = folder.Sub(OwnExecutableName());
    fs::copy_file("/bin/sleep", twin);
    fs::permissions(twin, fs::perms::owner_all);
    char arg0[] = "twin";
    char arg1[] = "30";
    char* argv[] = {arg0, arg1, nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, twin.c_str(), nullptr, nullptr, argv, environ), 0);
    for (int i = 0; i < 200 && CountProcessesNamed(OwnExecutableName()) < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    ASSERT_GE(CountProcessesNamed(OwnExecutableName()), 2);
    CKestrelPlaybackApp app;
    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(app.refused());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Playback manager is running!");

    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    platform::SetMessageBoxHandler(nullptr);
}

}  // namespace
