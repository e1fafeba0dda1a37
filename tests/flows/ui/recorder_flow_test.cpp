// A new user's road to a recorder, on a fresh install: the build's fake
// recorder as its own process, the Remote Manager storing it in the shipped
// "server.db", a login from the recent list, playback in the real main window,
// an export to the folder the user chooses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "export/ui/avi_export_dlg.h"
#include "mainwindow/ui/kestrel_playback_dlg.h"
#include "mainwindow/ui/playback_app.h"
#include "media/civil_date.h"
#include "platform/message_box.h"
#include "sources/recent_server_list.h"
#include "sources/server_manager.h"
#include "sources/ui/remote_dlg.h"
#include "sources/ui/server_dlg.h"
#include "tests/flows/ui/flow_support.h"
#include "tests/support/temp_folder.h"

using namespace kestrel_id;
using flow_test::Control;
using flow_test::Quoted;

namespace {

constexpr char kPassword[] = "s3cret";

class RecorderFlowTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string tool = install_.Tool("avdata-sample");
        const flow_test::Run run = flow_test::RunCommand(tool + " " + Quoted(sample_.path()) + " --minutes 1 --seconds 12");
        ASSERT_EQ(run.status, 0) << run.out;
        recorder_ = std::make_unique<flow_test::FakeRecorderProcess>(install_.Tool("fake-recorder"), sample_.path(),
                                                                     "admin", kPassword);
        ASSERT_GT(recorder_->port(), 0);
        ui::InstallQtMessageBoxHandler();
        dlg_ = flow_test::OpenMainWindow();
    }
    void TearDown() override {
        dlg_.reset();
        platform::SetMessageBoxHandler(nullptr);
    }

    void Press(QWidget* control) {
        auto* button = qobject_cast<QAbstractButton*>(control);
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isEnabled());
        button->click();
    }

    std::string Port() const { return std::to_string(recorder_->port()); }
    std::string Line() const { return "Yard(127.0.0.1)"; }

    // Until the open's completion has been handled: playing, the receiver running.
    bool Opened() {
        control_test::RunUntil([this] { return !dlg_->engine().RemoteOpenRunning(); }, 10000);
        const PlaybackEngine& engine = dlg_->engine();
        return engine.Status().play_state == PlaybackEngine::kPlaying && engine.ReceiverRunning();
    }

    bool PicturesInAllViewers() {
        return flow_test::WaitFor(
            [this] {
                for (int i = 0; i < 4; ++i) {
                    if (!dlg_->grid().Viewer(i)->HasVideo()) return false;
                }
                return true;
            },
            15000);
    }

    // After a login: the day and range, then OK.
    void PickAndAccept(CSelectDlg* select) {
        // The session id follows the login from the keep-alive; the day list needs it.
        ASSERT_TRUE(flow_test::WaitFor([select] { return select->engine().SessionId() >= 0; }, 5000));
        // The whole day; the time line snaps the range to the recorded minute.
        flow_test::PickDayAndRange(select, TodayLocalDate().day, 0, 86399);
        EXPECT_GT(select->record_source.end_second, select->record_source.start_second);
        Control<QPushButton>(select, CSelectDlg::kOk)->click();
    }

    control_test::ApplicationGuard app_;
    flow_test::FreshInstall install_;
    TempFolder sample_;
    std::unique_ptr<flow_test::FakeRecorderProcess> recorder_;
    flow_test::ModalDriver driver_;
    std::unique_ptr<CKestrelPlaybackDlg> dlg_;
};

TEST_F(RecorderFlowTest, AddInTheRemoteManagerLogInFromTheRecentListPlayAndExport) {
    // First Open: the Remote Manager opens on the shipped store, Add keeps the recorder for next time.
    driver_.Expect<CSelectDlg>([this](CSelectDlg* select) {
        select->worker.pause_ms = 0;  // the busy window's hold, shortened for the test
        auto* manager_tool = Control<QToolButton>(select, CSelectDlg::kRemoteManagerTool);
        driver_.Expect<CRemoteDlg>([this](CRemoteDlg* manager) {
            CServerDlg& page = manager->server_page();
            Control<QLineEdit>(&page, CServerDlg::kServerEdit)->setText("Yard");
            Control<QLineEdit>(&page, CServerDlg::kIpEdit)->setText("127.0.0.1");
            Control<QLineEdit>(&page, CServerDlg::kPortEdit)->setText(QString::fromStdString(Port()));
            Control<QLineEdit>(&page, CServerDlg::kUserEdit)->setText("admin");
            Control<QLineEdit>(&page, CServerDlg::kPasswordEdit)->setText(kPassword);
            Control<QCheckBox>(&page, CServerDlg::kSavePassword)->setChecked(true);
            Press(Control<QPushButton>(&page, CServerDlg::kAddButton));
            auto* list = Control<QListWidget>(&page, CServerDlg::kServerList);
            ASSERT_EQ(list->count(), 1);
            EXPECT_EQ(list->item(0)->text().toStdString(), Line());
            manager->reject();
        });
        Press(manager_tool);
        // Opened again, it lists what the store kept; picking the line fills the fields.
        driver_.Expect<CRemoteDlg>([this](CRemoteDlg* manager) {
            CServerDlg& page = manager->server_page();
            auto* list = Control<QListWidget>(&page, CServerDlg::kServerList);
            ASSERT_EQ(list->count(), 1);
            EXPECT_EQ(list->item(0)->text().toStdString(), Line());
            list->setCurrentRow(0);
            EXPECT_EQ(Control<QLineEdit>(&page, CServerDlg::kPortEdit)->text().toStdString(), Port());
            EXPECT_EQ(Control<QLineEdit>(&page, CServerDlg::kPasswordEdit)->text().toStdString(), kPassword);
            Press(Control<QPushButton>(manager, 1));
        });
        Press(manager_tool);
        EXPECT_EQ(select->source_mode, CSelectDlg::kRecorderMode);
        PickAndAccept(select);
    });
    Press(dlg_->Control(kOpen));
    EXPECT_TRUE(driver_.Idle());
    EXPECT_EQ(driver_.TakeBoxes(), std::vector<std::string>{Line() + " Login success!"});
    EXPECT_EQ(dlg_->engine().Status().source_mode, 1);
    // The recorder's answers to the open arrive by message.
    ASSERT_TRUE(Opened());
    ASSERT_TRUE(PicturesInAllViewers());
    EXPECT_FALSE(dlg_->Control(kBackup)->isEnabled());

    // Kept in the program folder's files, as a restart finds them.
    EXPECT_EQ(CServerManager("server.db").SelectByIp("127.0.0.1").GetServerName(), "Yard");
    RecentServerList recent(install_.program().Sub("history.ini"));
    recent.Read();
    EXPECT_EQ(recent.Entry(0), "Yard,127.0.0.1," + Port() + ",admin," + kPassword + ",0;");
    // Both keep the password in plain text: their owner's alone after the Add and the login's rewrite.
    for (const char* name : {"server.db", "history.ini"}) {
        struct stat st;
        ASSERT_EQ(::stat(install_.program().Sub(name).c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
    }

    // Second Open: the recorder from the drop-down list of recent recorders.
    driver_.Expect<CSelectDlg>([this](CSelectDlg* select) {
        select->worker.pause_ms = 0;
        auto* manager_tool = Control<QToolButton>(select, CSelectDlg::kRemoteManagerTool);
        driver_.Expect<QMenu>([this](QMenu* menu) {
            QAction* entry = nullptr;
            QStringList texts;
            for (QAction* action : menu->actions()) {
                texts << action->text();
                if (action->text().toStdString() == Line()) entry = action;
            }
            if (!entry) {
                ADD_FAILURE() << "no menu entry " << Line() << " among " << texts.join("|").toStdString();
                menu->close();
                return;
            }
            control_test::Click(menu, menu->actionGeometry(entry).center());
        });
        manager_tool->showMenu();
        EXPECT_EQ(select->source_mode, CSelectDlg::kRecorderMode);
        PickAndAccept(select);
    });
    Press(dlg_->Control(kOpen));
    EXPECT_TRUE(driver_.Idle());
    EXPECT_EQ(driver_.TakeBoxes(), std::vector<std::string>{Line() + " Login success!"});
    ASSERT_TRUE(Opened());
    ASSERT_TRUE(PicturesInAllViewers());

    // Cue marks on the recorder's position (faster, so the test is short), then the export: the
    // shipped setting holds no folder, so the chooser asks, and the files land there.
    Press(dlg_->Control(kSpeedUp));
    Press(dlg_->Control(kSpeedUp));
    const int start = dlg_->engine().Status().range_start;
    auto position = [this] {
        const auto t = dlg_->engine().Status().remote_time;
        return t[3] * 3600 + t[4] * 60 + t[5];
    };
    ASSERT_TRUE(flow_test::WaitFor([&] { return position() >= start + 2; }, 15000));
    Press(dlg_->Control(kCueIn));
    ASSERT_TRUE(flow_test::WaitFor([&] { return position() >= start + 5; }, 15000));
    Press(dlg_->Control(kCueOut));
    TempFolder exports;
    driver_.Expect<QFileDialog>([&](QFileDialog* chooser) { flow_test::AnswerFolderDialog(chooser, exports.path()); });
    driver_.Expect<CAviExportDlg>([&](CAviExportDlg* dialog) {
        EXPECT_EQ(dialog->output_folder(), exports.path());
        RemoteExportTimings fast;
        fast.download_start_ms = fast.between_requests_ms = fast.teardown_ms = 0;
        dialog->engine().SetTimings(fast);
        dialog->ChannelBox(0)->setChecked(true);
        dialog->FormatList()->setCurrentIndex(1);  // the original frames
        dialog->WatermarkBox()->setChecked(true);
        Press(dialog->ok_button());
    });
    Press(dlg_->Control(kAviExport));
    EXPECT_TRUE(driver_.Idle());
    EXPECT_EQ(driver_.TakeBoxes(), std::vector<std::string>{});
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(exports.path())) files.push_back(entry.path().string());
    ASSERT_EQ(files.size(), 1u);
    const std::string& file = files[0];
    EXPECT_EQ(std::filesystem::path(file).filename().string().substr(0, 5), "CH01_");
    const flow_test::Run probe = flow_test::RunCommand(
        "ffprobe -v error -select_streams v:0 -show_entries stream=codec_name -of csv=p=0 " + Quoted(file));
    EXPECT_EQ(probe.out, "h264\n");
    const flow_test::Run decode = flow_test::RunCommand("ffmpeg -nostdin -v error -i " + Quoted(file) + " -f null -");
    EXPECT_EQ(decode.status, 0);
    EXPECT_EQ(decode.out, "");
    EXPECT_EQ(flow_test::RunCommand(install_.Tool("watermark-check") + " " + Quoted(file)).out, file + "\tV\n");
}

}  // namespace
