// The single-instance check with real processes: two copies of this program
// started at the same moment, with a third process of the same name running.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "mainwindow/ui/kestrel_playback_dlg.h"
#include "mainwindow/ui/playback_app.h"
#include "media/ui/ui_services.h"
#include "platform/message_box.h"
#include "sources/ui/select_dlg.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/support/temp_folder.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr char kChildVariable[] = "LARKSPUR_INSTANCE_CHILD";

CKestrelPlaybackDlg* ShownMainDialog() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<CKestrelPlaybackDlg*>(w); dialog && dialog->isVisible()) return dialog;
    return nullptr;
}

void Say(const std::string& line) {
    const std::string out = "@@" + line + "\n";
    if (::write(STDOUT_FILENO, out.data(), out.size()) < 0) std::perror("write");
}

// One start of the program, run in a child process by the test below: it
// waits for the go byte on its input, starts, says "opened" once the main
// dialog runs or "refused: <text>" for the box, and closes its main dialog
// when its input ends.
// Disabled in a plain run, which would otherwise report it as a skip: the two-process
// tests run it in their children by name.
TEST(DISABLED_KestrelAppChild, StartsOnce) {
    if (!std::getenv(kChildVariable)) GTEST_SKIP() << "only run by the two-process test";
    control_test::EnsureApplication();
    platform::SetMessageBoxHandler([](const std::string& text, const std::string&, int) {
        Say("refused: " + text);
        return platform::kIdOk;
    });
    char go = 0;
    ASSERT_EQ(::read(STDIN_FILENO, &go, 1), 1);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    input.setEnabled(false);
    QObject::connect(&input, &QSocketNotifier::activated, [&input] {
        char byte = 0;
        if (::read(STDIN_FILENO, &byte, 1) > 0) return;
        input.setEnabled(false);
        // The main dialog ignores Esc and the close box; only its own end closes it.
        if (CKestrelPlaybackDlg* dialog = ShownMainDialog()) dialog->QDialog::done(QDialog::Accepted);
    });
    QTimer opened;
    QObject::connect(&opened, &QTimer::timeout, [&] {
        if (!ShownMainDialog()) return;
        opened.stop();
        Say("opened");
        input.setEnabled(true);
    });
    opened.start(10);
    CKestrelPlaybackApp app;
    EXPECT_FALSE(app.InitInstance());
    Say(app.refused() ? "ended refused" : "ended");
}

struct Child {
    pid_t pid = -1;
    int input = -1;   // the child's standard input
    int output = -1;  // its standard output
    std::string said;
};

bool Spawn(Child* child, const std::string& exe, char** argv, const std::vector<std::string>& env) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<char*> envp;
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const int rc = posix_spawn(&child->pid, exe.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    child->input = in[1];
    child->output = out[0];
    return rc == 0;
}

// Reads what the children say until pred holds or a generous bound passes
// (the bound only keeps a broken start from hanging the suite).
template <typename Pred>
bool ReadUntil(std::vector<Child*> children, Pred pred) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!pred()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        std::vector<pollfd> fds;
        for (Child* c : children) fds.push_back({c->output, POLLIN, 0});  // poll skips an ended one (-1)
        if (::poll(fds.data(), fds.size(), static_cast<int>(left.count())) <= 0) continue;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) children[i]->said.append(buf, static_cast<size_t>(n));
            if (n == 0) {
                ::close(children[i]->output);
                children[i]->output = -1;
            }
        }
    }
    return true;
}

bool Said(const Child& c, const std::string& line) { return c.said.find("@@" + line + "\n") != std::string::npos; }

TEST(KestrelApp, ExactlyOneOfTwoSimultaneousStartsRuns) {
    const std::string exe = fs::read_symlink("/proc/self/exe").string();
    TempFolder runtime;
    fs::permissions(runtime.path(), fs::perms::owner_all);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0) env.emplace_back(*e);
    env.push_back("XDG_RUNTIME_DIR=" + runtime.path());
    env.push_back(std::string(kChildVariable) + "=1");

    // Another program under this program's file name (and this test itself)
    // must not count as a running copy.
    TempFolder other;
    const std::string twin = other.Sub(OwnExecutableName());
    fs::copy_file("/bin/sleep", twin);
    fs::permissions(twin, fs::perms::owner_all);
    char twin0[] = "twin";
    char twin1[] = "60";
    char* twin_argv[] = {twin0, twin1, nullptr};
    pid_t twin_pid = 0;
    ASSERT_EQ(posix_spawn(&twin_pid, twin.c_str(), nullptr, nullptr, twin_argv, environ), 0);

    char arg0[] = "larkspur-start";
    char arg1[] = "--gtest_filter=DISABLED_KestrelAppChild.StartsOnce";
    char arg2[] = "--gtest_also_run_disabled_tests";
    char* argv[] = {arg0, arg1, arg2, nullptr};
    Child a, b;
    ASSERT_TRUE(Spawn(&a, exe, argv, env));
    ASSERT_TRUE(Spawn(&b, exe, argv, env));
    const char go = 'g';
    EXPECT_EQ(::write(a.input, &go, 1), 1);
    EXPECT_EQ(::write(b.input, &go, 1), 1);

    const auto decided = [&] {
        return (Said(a, "opened") || Said(a, "ended refused")) && (Said(b, "opened") || Said(b, "ended refused"));
    };
    EXPECT_TRUE(ReadUntil({&a, &b}, decided)) << a.said << "\n----\n" << b.said;
    const int opened = Said(a, "opened") + Said(b, "opened");
    EXPECT_EQ(opened, 1) << a.said << "\n----\n" << b.said;
    Child& loser = Said(a, "opened") ? b : a;
    EXPECT_TRUE(Said(loser, "refused: Playback manager is running!")) << loser.said;
    EXPECT_FALSE(Said(loser, "ended")) << loser.said;

    // The running copy ends when told to and takes its lock with it.
    ::close(a.input);
    ::close(b.input);
    EXPECT_TRUE(ReadUntil({&a, &b}, [&] { return a.output < 0 && b.output < 0; }));
    for (Child* c : {&a, &b}) {
        int status = 0;
        ASSERT_EQ(waitpid(c->pid, &status, 0), c->pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c->said;
        if (c->output >= 0) ::close(c->output);
    }
    const Child& winner = &loser == &a ? b : a;
    EXPECT_TRUE(Said(winner, "ended")) << winner.said;
    EXPECT_TRUE(fs::is_empty(runtime.path()));

    kill(twin_pid, SIGKILL);
    waitpid(twin_pid, nullptr, 0);
}

TEST(KestrelApp, LockOfACopyThatDiedDoesNotBlockTheNextStart) {
    const std::string exe = fs::read_symlink("/proc/self/exe").string();
    TempFolder runtime;
    fs::permissions(runtime.path(), fs::perms::owner_all);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) != 0) env.emplace_back(*e);
    env.push_back("XDG_RUNTIME_DIR=" + runtime.path());
    env.push_back(std::string(kChildVariable) + "=1");
    char arg0[] = "larkspur-start";
    char arg1[] = "--gtest_filter=DISABLED_KestrelAppChild.StartsOnce";
    char arg2[] = "--gtest_also_run_disabled_tests";
    char* argv[] = {arg0, arg1, arg2, nullptr};
    const char go = 'g';

    Child crashed;
    ASSERT_TRUE(Spawn(&crashed, exe, argv, env));
    EXPECT_EQ(::write(crashed.input, &go, 1), 1);
    ASSERT_TRUE(ReadUntil({&crashed}, [&] { return Said(crashed, "opened"); })) << crashed.said;
    kill(crashed.pid, SIGKILL);
    waitpid(crashed.pid, nullptr, 0);
    ::close(crashed.input);
    if (crashed.output >= 0) ::close(crashed.output);
    ASSERT_FALSE(fs::is_empty(runtime.path()));  // its lock stays behind

    Child next;
    ASSERT_TRUE(Spawn(&next, exe, argv, env));
    EXPECT_EQ(::write(next.input, &go, 1), 1);
    EXPECT_TRUE(ReadUntil({&next}, [&] { return Said(next, "opened") || Said(next, "ended refused"); }));
    EXPECT_TRUE(Said(next, "opened")) << next.said;
    ::close(next.input);
    EXPECT_TRUE(ReadUntil({&next}, [&] { return next.output < 0; }));
    int status = 0;
    ASSERT_EQ(waitpid(next.pid, &status, 0), next.pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << next.said;
    EXPECT_TRUE(fs::is_empty(runtime.path()));
}

TEST(KestrelApp, RecordSelectionWithoutASessionLeavesTheCallersOwn) {
    control_test::ApplicationGuard app;
    ui::SetScreenSizeSource([] { return QSize(1280, 1024); });
    // Session 0 is a real session that the Open command does not offer the dialog.
    int session = 0;
    ServerConnectionRecord server;
    server.SetIp("192.0.2.7");
    SelectionBlock selection{};
    selection[0] = 2024;
    selection[9] = 1;
    const SelectionBlock before = selection;
    RecordSelectionRequest request;
    request.source_mode = 0;
    request.last_session_id = -1;
    request.session_id = &session;
    request.server = &server;
    request.selection = &selection;

    bool answered = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<CSelectDlg*>(w);
            if (!dialog || !dialog->isVisible()) continue;
            answer.stop();
            answered = true;
            dialog->OnOK();
            return;
        }
    });
    answer.start(10);
    const RecordSelectionResult chosen = StandardDialogHooks().run_record_selection(request);
    ui::SetScreenSizeSource(nullptr);
    ASSERT_TRUE(answered);
    EXPECT_EQ(chosen.result, kDialogOk);
    EXPECT_EQ(session, 0);
    EXPECT_EQ(server.GetIp(), "192.0.2.7");
    EXPECT_EQ(selection, before);
}

}  // namespace
