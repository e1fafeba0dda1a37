// A new user's road to a recorder, on a fresh install: the build's fake
// recorder as its own process, the Remote Manager storing it in the shipped
// "server.db", a login from the recent list, playback in the real main window.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

#include <memory>
#include <string>
#include <vector>

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
        dlg_ = std::make_unique<CKestrelPlaybackDlg>();
        const KestrelDialogHooks standard = StandardDialogHooks();
        dlg_->hooks.run_record_selection = standard.run_record_selection;
        dlg_->hooks.run_folder_export = standard.run_folder_export;
        dlg_->hooks.run_recorder_export = standard.run_recorder_export;
        dlg_->hooks.run_settings = standard.run_settings;
        dlg_->hooks.run_adjust_image = standard.run_adjust_image;
        if (standard.run_backup) dlg_->hooks.run_backup = standard.run_backup;
        dlg_->OnInitDialog();
        dlg_->show();
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

TEST_F(RecorderFlowTest, AddInTheRemoteManagerLogInFromTheRecentListAndPlay) {
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
    EXPECT_EQ(dlg_->engine().source_mode, 1);
    EXPECT_EQ(dlg_->engine().play_state, PlaybackEngine::kPlaying);
    ASSERT_TRUE(PicturesInAllViewers());
    EXPECT_FALSE(dlg_->Control(kBackup)->isEnabled());

    // Kept in the program folder's files, as a restart finds them.
    EXPECT_EQ(CServerManager("server.db").SelectByIp("127.0.0.1").GetServerName(), "Yard");
    RecentServerList recent(install_.program().Sub("history.ini"));
    recent.Read();
    EXPECT_EQ(recent.Entry(0), "Yard,127.0.0.1," + Port() + ",admin," + kPassword + ",0;");

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
    EXPECT_EQ(dlg_->engine().play_state, PlaybackEngine::kPlaying);
    EXPECT_TRUE(PicturesInAllViewers());
}

}  // namespace
