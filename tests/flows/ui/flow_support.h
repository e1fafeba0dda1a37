#pragma once
// What the user-flow tests share: a fresh program folder to run in, the
// sample disk copy made by the build's own tool, the build's programs run as
// a user runs them, and a driver that answers the real modal windows (the
// program's own dialogs, its message boxes, the folder chooser) as they open.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <typeinfo>
#include <unistd.h>
#include <vector>

#include "mainwindow/time_line_model.h"
#include "mainwindow/ui/kestrel_playback_dlg.h"
#include "mainwindow/ui/playback_app.h"
#include "mainwindow/ui/calendar.h"
#include "mainwindow/ui/static_ex.h"
#include "mainwindow/ui/time_line_bar.h"
#include "media/ui/ui_services.h"
#include "platform/program_folder.h"
#include "sources/ui/control_ids.h"
#include "sources/ui/select_dlg.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/support/program_folder_copy.h"

extern char** environ;

namespace flow_test {

// The main window as the application object starts it: the real dialogs behind every command.
inline std::unique_ptr<CKestrelPlaybackDlg> OpenMainWindow() {
    auto dlg = std::make_unique<CKestrelPlaybackDlg>();
    const KestrelDialogHooks standard = StandardDialogHooks();
    dlg->hooks.run_record_selection = standard.run_record_selection;
    dlg->hooks.run_folder_export = standard.run_folder_export;
    dlg->hooks.run_recorder_export = standard.run_recorder_export;
    dlg->hooks.run_settings = standard.run_settings;
    dlg->hooks.run_adjust_image = standard.run_adjust_image;
    if (standard.run_backup) dlg->hooks.run_backup = standard.run_backup;
    dlg->OnInitDialog();
    dlg->show();
    return dlg;
}

struct Run {
    int status = -1;
    std::string out;
};

// A command line as a shell runs it; stderr joins stdout.
inline Run RunCommand(const std::string& command) {
    Run run;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return run;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) run.out.append(buf, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

inline std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// The program folder of a fresh install, also the working folder (the
// stores are opened by relative names there), for the life of the test.
class FreshInstall {
public:
    FreshInstall() : before_(std::filesystem::current_path()) { std::filesystem::current_path(program_.path()); }
    ~FreshInstall() { std::filesystem::current_path(before_); }
    const ProgramFolderCopy& program() const { return program_; }
    // A tool of the build, by name.
    std::string Tool(const std::string& name) const { return program_.build_folder() + "/" + name; }

private:
    ProgramFolderCopy program_;
    std::filesystem::path before_;
};

// Answers the modal windows in the order they are expected. Message boxes are
// answered with OK whenever they come and kept in `boxes`. A modal window
// nobody expected is closed after a while, so a wrong turn fails instead of
// hanging.
class ModalDriver {
public:
    ModalDriver() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start();
    }
    ~ModalDriver() { EXPECT_TRUE(pending_.empty()) << pending_.size() << " expected windows never came"; }

    template <class T>
    void Expect(std::function<void(T*)> action) {
        pending_.push_back({typeid(T).name(), [](QWidget* w) { return dynamic_cast<T*>(w) != nullptr; },
                            [action](QWidget* w) { action(dynamic_cast<T*>(w)); }});
    }
    bool Idle() const { return pending_.empty(); }
    std::vector<std::string> TakeBoxes() { return std::exchange(boxes_, {}); }
    size_t BoxCount() const { return boxes_.size(); }

private:
    struct Pending {
        std::string type;
        std::function<bool(QWidget*)> matches;
        std::function<void(QWidget*)> act;
    };

    void Tick() {
        QWidget* popup = QApplication::activePopupWidget();
        QWidget* modal = popup ? popup : QApplication::activeModalWidget();
        if (!modal) return;
        if (handled_.contains(modal)) return;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            handled_.push_back(box);
            boxes_.push_back(box->text().toStdString());
            QTimer::singleShot(0, box, [box] { box->accept(); });
            return;
        }
        if (!pending_.empty() && pending_.front().matches(modal)) {
            Pending next = pending_.front();
            pending_.pop_front();
            handled_.push_back(modal);
            // Each action on its own timer: it may open further modal windows, which this timer answers.
            QPointer<QWidget> target(modal);
            QTimer::singleShot(0, [target, next] {
                if (target) next.act(target);
            });
            return;
        }
        // A window that closes by itself (the busy window) is only waited for.
        if (unexpected_ != modal) {
            unexpected_ = modal;
            waited_.start();
        }
        if (waited_.elapsed() > 15000) {
            ADD_FAILURE() << "an unexpected modal window: " << modal->metaObject()->className() << " \""
                          << modal->windowTitle().toStdString() << "\"";
            handled_.push_back(modal);
            modal->close();
        }
    }

    QTimer timer_;
    std::deque<Pending> pending_;
    QList<QPointer<QWidget>> handled_;
    std::vector<std::string> boxes_;
    QPointer<QWidget> unexpected_;
    QElapsedTimer waited_;
};

// The folder chooser as a user answers it: the path typed into its file name
// field, then its accepting button.
inline void AnswerFolderDialog(QFileDialog* dialog, const std::string& path) {
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr) << "not the widget-based folder chooser";
    name->setText(QString::fromStdString(path));
    auto* buttons = dialog->findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    QPushButton* accept = buttons->button(QDialogButtonBox::Open);
    if (!accept) accept = buttons->button(QDialogButtonBox::Save);
    ASSERT_NE(accept, nullptr);
    accept->click();
}

template <class T>
T* Control(const QWidget* root, int id) {
    T* control = FindControl<T>(root, id);
    EXPECT_NE(control, nullptr) << "no control " << id;
    return control;
}

inline bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// In "View Record Files": a click on the day, then a drag over the time line
// from second `from` on row 1 to second `to` on row 4 (all four channels).
inline void PickDayAndRange(CSelectDlg* dialog, int day, int from, int to) {
    // A share's month comes from its worker.
    ASSERT_TRUE(control_test::RunUntil([dialog] { return !dialog->ShareAnswerPending(); }, 10000));
    CCalendar* calendar = dialog->calendar();
    const int cell = calendar->Grid().CellOfDay(day);
    ASSERT_GE(cell, 0);
    QWidget* day_cell = calendar->Cell(cell);
    control_test::Click(day_cell, day_cell->rect().center());
    control_test::DeliverPosted();
    // A recorder's records come from the engine's worker.
    ASSERT_TRUE(control_test::RunUntil([dialog] { return !dialog->RecorderAnswerPending(); }, 10000));
    CTimeLineBar* bar = dialog->time_line();
    bar->horizontalScrollBar()->setValue(0);
    const TimeLineModel& model = bar->Model();
    const int row1 = TimeLineModel::kHeaderHeight + 10;
    const int row4 = TimeLineModel::kHeaderHeight + 3 * TimeLineModel::kRowHeight + 10;
    QWidget* view = bar->viewport();
    control_test::SendMouse(view, QEvent::MouseButtonPress, QPoint(model.XOfSecond(from), row1));
    control_test::SendMouse(view, QEvent::MouseMove, QPoint(model.XOfSecond(to), row4));
    control_test::SendMouse(view, QEvent::MouseButtonRelease, QPoint(model.XOfSecond(to), row4));
    control_test::DeliverPosted();
}

// The build's fake recorder, run as its own process on a free port.
class FakeRecorderProcess {
public:
    FakeRecorderProcess(const std::string& program, const std::string& data, const std::string& user,
                        const std::string& password) {
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> args{program, "--port", "0", "--data", data, "--user", user, "--password", password};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        // "listening on N" once it accepts connections.
        FILE* from = fdopen(out[0], "r");
        char line[128] = {};
        if (from && pid_ > 0 && fgets(line, sizeof line, from)) std::sscanf(line, "listening on %d", &port_);
        if (from) fclose(from);
    }
    ~FakeRecorderProcess() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    int port() const { return port_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace flow_test
