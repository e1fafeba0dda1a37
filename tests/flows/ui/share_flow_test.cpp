// A user's road to a disk copy on a network share, on a fresh install: a real
// smbd serving the build's sample as the recorder's backup folder, the share
// page storing and testing it in the shipped "shared.db", the record selection
// scanning it, playback in the real main window, the recent list, and export
// and backup of the share equal to those of the same copy on local disk.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "export/ui/avi_dialog2.h"
#include "export/ui/backup_dialog.h"
#include "mainwindow/storage_location.h"
#include "mainwindow/ui/kestrel_playback_dlg.h"
#include "mainwindow/ui/playback_app.h"
#include "media/civil_date.h"
#include "platform/message_box.h"
#include "platform/network_share.h"
#include "sources/nas_share_store.h"
#include "sources/recent_server_list.h"
#include "sources/ui/nas_dialog.h"
#include "sources/ui/remote_dlg.h"
#include "tests/flows/ui/flow_support.h"
#include "tests/support/samba_server.h"
#include "tests/support/skip.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;
using namespace kestrel_id;
using flow_test::Control;
using flow_test::Quoted;

namespace {

std::map<std::string, std::string> FilesBelow(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        files[fs::relative(e.path(), root).string()] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

// The exported files' contents, in name order (names carry the time of the export).
std::vector<std::string> Contents(const std::string& folder) {
    std::vector<std::string> contents;
    for (const auto& [name, bytes] : FilesBelow(folder)) contents.push_back(bytes);
    return contents;
}

class ShareFlowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        tree_ = new TempFolder;
        const std::string tool = platform::ProgramFolder() + "/avdata-sample";
        const flow_test::Run run =
            flow_test::RunCommand(tool + " " + Quoted(tree_->Sub("share")) + " --start 00:00 --minutes 1");
        ASSERT_EQ(run.status, 0) << run.out;
        // The recorder's backup on the share, a copy of the data folder that stays the local one.
        fs::copy(tree_->Sub("share/avdata"), tree_->Sub("share/backup"), fs::copy_options::recursive);
        server_ = new SambaServer(tree_->Sub("share"));
        if (server_->Running()) ::setenv(platform::kSharePortVariable, std::to_string(server_->port()).c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete server_;
        delete tree_;
        ::unsetenv(platform::kSharePortVariable);
    }

    void SetUp() override {
        if (!server_->Running()) SKIP_WITHOUT_INSTALLED("smbd cannot start here: " << server_->error());
        ui::InstallQtMessageBoxHandler();
        dlg_ = flow_test::OpenMainWindow();
    }
    void TearDown() override {
        dlg_.reset();
        platform::SetMessageBoxHandler(nullptr);
    }

    static std::string Local() { return tree_->Sub("share/avdata"); }
    static std::string ShareLine() { return "\\\\127.0.0.1\\data"; }

    void Press(QWidget* control) {
        auto* button = qobject_cast<QAbstractButton*>(control);
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isEnabled());
        button->click();
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

    // The first quarter hour of today on all four rows, then OK.
    static void PickAndAccept(CSelectDlg* select) {
        flow_test::PickDayAndRange(select, TodayLocalDate().day, 0, 900);
        EXPECT_GT(select->record_source.end_second, 0);
        Control<QPushButton>(select, CSelectDlg::kOk)->click();
    }

    void OpenLocal() {
        driver_.Expect<CSelectDlg>([this](CSelectDlg* select) {
            driver_.Expect<QFileDialog>([](QFileDialog* chooser) { flow_test::AnswerFolderDialog(chooser, Local()); });
            Control<QToolButton>(select, CSelectDlg::kFolderTool)->click();
            PickAndAccept(select);
        });
        Press(dlg_->Control(kOpen));
        EXPECT_TRUE(driver_.Idle());
    }

    // The same export of the current source: the cue marks set, two channels, original frames, watermark.
    void Export(const std::string& folder) {
        dlg_->status_panel().SetCueIn(5);
        dlg_->status_panel().SetCueOut(40);
        fs::create_directories(folder);
        ASSERT_TRUE(WriteStorageLocation(folder));
        driver_.Expect<CAviDialog2>([](CAviDialog2* dialog) {
            dialog->ChannelBox(0)->setChecked(true);
            dialog->ChannelBox(2)->setChecked(true);
            dialog->FormatList()->setCurrentIndex(1);
            dialog->WatermarkBox()->setChecked(true);
            Control<QPushButton>(dialog, CAviDialog2::kOkId)->click();
        });
        Press(dlg_->Control(kAviExport));
        EXPECT_TRUE(driver_.Idle());
    }

    void Backup(const std::string& folder) {
        fs::create_directories(folder);
        driver_.Expect<CBackupDialog>([this, folder](CBackupDialog* backup) {
            driver_.Expect<QFileDialog>([folder](QFileDialog* chooser) { flow_test::AnswerFolderDialog(chooser, folder); });
            Control<QPushButton>(backup, CBackupDialog::kBrowseId)->click();
            for (int c = 0; c < 4; ++c) backup->ChannelBox(c)->setChecked(true);
            Control<QPushButton>(backup, CBackupDialog::kStartId)->click();
        });
        Press(dlg_->Control(kBackup));
        EXPECT_TRUE(driver_.Idle());
    }

    static TempFolder* tree_;
    static SambaServer* server_;
    control_test::ApplicationGuard app_;
    flow_test::FreshInstall install_;
    flow_test::ModalDriver driver_;
    std::unique_ptr<CKestrelPlaybackDlg> dlg_;
};

TempFolder* ShareFlowTest::tree_ = nullptr;
SambaServer* ShareFlowTest::server_ = nullptr;

TEST_F(ShareFlowTest, AddTestAndOpenTheSharePlayItAndReachItAgainFromTheRecentList) {
    driver_.Expect<CSelectDlg>([this](CSelectDlg* select) {
        select->worker.pause_ms = 0;  // the busy window's hold, shortened for the test
        driver_.Expect<CRemoteDlg>([this](CRemoteDlg* manager) {
            manager->tab()->setCurrentIndex(1);
            CNasDialog& page = manager->nas_page();
            page.worker.pause_ms = 0;
            Control<QLineEdit>(&page, CNasDialog::kServerEdit)->setText("127.0.0.1");
            Control<QLineEdit>(&page, CNasDialog::kEntryEdit)->setText("data");
            Control<QLineEdit>(&page, CNasDialog::kUserEdit)->setText(QString::fromStdString(server_->user()));
            Control<QLineEdit>(&page, CNasDialog::kPasswordEdit)->setText(SambaServer::kPassword);
            Control<QCheckBox>(&page, CNasDialog::kSavePassword)->setChecked(true);
            Press(Control<QPushButton>(&page, CNasDialog::kAddButton));
            auto* list = Control<QListWidget>(&page, CNasDialog::kShareList);
            ASSERT_EQ(list->count(), 1);
            EXPECT_EQ(list->item(0)->text().toStdString(), "127.0.0.1");
            Press(Control<QPushButton>(&page, CNasDialog::kTestButton));
            // The page gives OK back with a posted message once its test is over.
            control_test::DeliverPosted();
            Press(Control<QPushButton>(manager, 1));
        });
        Press(Control<QToolButton>(select, CSelectDlg::kRemoteManagerTool));
        EXPECT_EQ(select->source_mode, CSelectDlg::kShareMode);
        EXPECT_EQ(select->record_source.path, "//127.0.0.1/data/backup");
        PickAndAccept(select);
    });
    Press(dlg_->Control(kOpen));
    EXPECT_TRUE(driver_.Idle());
    EXPECT_EQ(driver_.TakeBoxes(),
              (std::vector<std::string>{ShareLine() + "  Connection success!", ShareLine() + " Login success!"}));
    EXPECT_EQ(dlg_->engine().Status().source_mode, 2);
    EXPECT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kPlaying);
    ASSERT_TRUE(PicturesInAllViewers());

    // Kept in the program folder's files, as a restart finds them.
    const ServerConnectionRecord stored = NasShareStore("shared.db").SelectByIp("127.0.0.1");
    EXPECT_EQ(stored.GetServerName(), "data");
    EXPECT_EQ(stored.GetSaveEnable(), "1");
    RecentServerList recent(install_.program().Sub("history.ini"));
    recent.Read();
    const std::string entry = "data,127.0.0.1\\data,1," + server_->user() + "," + SambaServer::kPassword + ",1;";
    EXPECT_EQ(recent.Entry(0), entry);

    // Second Open: the share from the drop-down list of recent recorders.
    driver_.Expect<CSelectDlg>([this](CSelectDlg* select) {
        select->worker.pause_ms = 0;
        driver_.Expect<QMenu>([](QMenu* menu) {
            QAction* item = nullptr;
            for (QAction* action : menu->actions())
                if (action->text() == "data(127.0.0.1\\data)") item = action;
            if (!item) {
                ADD_FAILURE() << "no menu entry for the share";
                menu->close();
                return;
            }
            control_test::Click(menu, menu->actionGeometry(item).center());
        });
        Control<QToolButton>(select, CSelectDlg::kRemoteManagerTool)->showMenu();
        EXPECT_EQ(select->source_mode, CSelectDlg::kShareMode);
        PickAndAccept(select);
    });
    Press(dlg_->Control(kOpen));
    EXPECT_TRUE(driver_.Idle());
    EXPECT_EQ(driver_.TakeBoxes(), std::vector<std::string>{"127.0.0.1\\data Login success!"});
    EXPECT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kPlaying);
    EXPECT_TRUE(PicturesInAllViewers());
}

TEST_F(ShareFlowTest, ExportAndBackupOfTheShareEqualThoseOfTheLocalCopy) {
    // The share from the recent list, as an earlier run left it.
    {
        std::ofstream history(install_.program().Sub("history.ini"));
        history << "[playbackhistory]\nhistory1=data,127.0.0.1\\data,1," << server_->user() << ","
                << SambaServer::kPassword << ",1;\n";
    }
    driver_.Expect<CSelectDlg>([this](CSelectDlg* select) {
        select->worker.pause_ms = 0;
        driver_.Expect<QMenu>([](QMenu* menu) {
            ASSERT_FALSE(menu->actions().empty());
            control_test::Click(menu, menu->actionGeometry(menu->actions().front()).center());
        });
        Control<QToolButton>(select, CSelectDlg::kRemoteManagerTool)->showMenu();
        PickAndAccept(select);
    });
    Press(dlg_->Control(kOpen));
    EXPECT_TRUE(driver_.Idle());
    EXPECT_EQ(driver_.TakeBoxes(), std::vector<std::string>{"127.0.0.1\\data Login success!"});
    ASSERT_EQ(dlg_->engine().Status().record_source.path, "//127.0.0.1/data/backup");

    TempFolder out;
    Export(out.Sub("share-export"));
    Press(dlg_->Control(kPlay));
    ASSERT_TRUE(PicturesInAllViewers());
    Backup(out.Sub("share-backup"));
    EXPECT_EQ(driver_.TakeBoxes(), std::vector<std::string>{});

    OpenLocal();
    ASSERT_EQ(dlg_->engine().Status().record_source.path, Local());
    Export(out.Sub("disk-export"));
    Press(dlg_->Control(kPlay));
    ASSERT_TRUE(PicturesInAllViewers());
    Backup(out.Sub("disk-backup"));
    EXPECT_EQ(driver_.TakeBoxes(), std::vector<std::string>{});

    const std::vector<std::string> exported = Contents(out.Sub("share-export"));
    std::string names;
    for (const auto& [name, bytes] : FilesBelow(out.Sub("share-export"))) names += name + " ";
    // Channel 3 of the sample pauses in seconds 10-19: its export is two parts.
    ASSERT_EQ(exported.size(), 3u) << names;
    EXPECT_TRUE(exported == Contents(out.Sub("disk-export"))) << "the exports differ";
    for (const auto& entry : fs::directory_iterator(out.Sub("share-export"))) {
        const flow_test::Run decode =
            flow_test::RunCommand("ffmpeg -nostdin -v error -i " + Quoted(entry.path().string()) + " -f null -");
        EXPECT_EQ(decode.status, 0);
        EXPECT_EQ(decode.out, "");
        const flow_test::Run check =
            flow_test::RunCommand(install_.Tool("watermark-check") + " " + Quoted(entry.path().string()));
        EXPECT_EQ(check.out, entry.path().string() + "\tV\n");
    }
    const std::map<std::string, std::string> backed_up = FilesBelow(out.Sub("share-backup"));
    EXPECT_GE(backed_up.size(), 2u);
    EXPECT_TRUE(backed_up == FilesBelow(out.Sub("disk-backup"))) << "the backups differ";
}

}  // namespace
