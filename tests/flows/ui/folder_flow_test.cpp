// A new user's road through a disk copy, on a fresh install: the real main
// window and its real dialogs, the folder chooser answered as a user does,
// the results checked from outside with the build's tools and FFmpeg.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QTabBar>
#include <QPrinterInfo>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "checker/ui/watermark_app.h"
#include "checker/ui/watermark_dlg.h"
#include "export/ui/avi_dialog2.h"
#include "export/ui/backup_dialog.h"
#include "mainwindow/storage_location.h"
#include "mainwindow/ui/my_button.h"
#include "mainwindow/ui/my_slider.h"
#include "mainwindow/ui/kestrel_playback_dlg.h"
#include "mainwindow/ui/playback_app.h"
#include "mainwindow/ui/setting_dlg.h"
#include "mainwindow/ui/storage_page.h"
#include "media/civil_date.h"
#include "media/ui/info_box.h"
#include "platform/message_box.h"
#include "tests/flows/ui/flow_support.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;
using namespace kestrel_id;
using flow_test::Control;
using flow_test::Quoted;

namespace {

class FolderFlowTest : public ::testing::Test {
protected:
    // One sample for the whole program.
    // Its day is taken once: a run that passes midnight still finds the sample where it was made.
    static void SetUpTestSuite() {
        sample_ = new TempFolder;
        day_ = TodayLocalDate();
        char date[16];
        std::snprintf(date, sizeof date, "%04d-%02d-%02d", day_.year, day_.month, day_.day);
        const std::string tool = platform::ProgramFolder() + "/avdata-sample";
        const flow_test::Run run = flow_test::RunCommand(tool + " " + Quoted(sample_->path()) + " --date " + date +
                                                         " --start 00:00 --minutes 1 --seconds 12");
        ASSERT_EQ(run.status, 0) << run.out;
    }
    static void TearDownTestSuite() {
        delete sample_;
        sample_ = nullptr;
    }

    void SetUp() override {
        ui::InstallQtMessageBoxHandler();
        dlg_ = flow_test::OpenMainWindow();
    }
    void TearDown() override {
        dlg_.reset();
        platform::SetMessageBoxHandler(nullptr);
    }

    static std::string Sample() { return sample_->path() + "/avdata"; }

    static void Press(QAbstractButton* button) {
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isEnabled());
        button->click();
    }
    void Press(int id) {
        auto* button = qobject_cast<QAbstractButton*>(dlg_->Control(id));
        ASSERT_NE(button, nullptr) << id;
        ASSERT_TRUE(button->isEnabled()) << id;
        button->click();
    }

    // Open, the data folder from the chooser, today's recording from midnight on all four rows, OK.
    void OpenFolder(const std::string& avdata) {
        driver_.Expect<CSelectDlg>([this, avdata](CSelectDlg* select) {
            driver_.Expect<QFileDialog>([avdata](QFileDialog* chooser) { flow_test::AnswerFolderDialog(chooser, avdata); });
            Control<QToolButton>(select, CSelectDlg::kFolderTool)->click();
            EXPECT_EQ(select->record_source.path, avdata);
            flow_test::PickDayAndRange(select, day_.day, 0, 900);
            Control<QPushButton>(select, CSelectDlg::kOk)->click();
        });
        Press(kOpen);
        EXPECT_TRUE(driver_.Idle());
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

    void WaitForSecond(int second) {
        ASSERT_TRUE(flow_test::WaitFor([&] { return dlg_->engine().Status().slider_position >= second; }, 15000))
            << "playback never reached second " << second;
    }

    static std::vector<std::string> FilesIn(const std::string& folder, const std::string& extension) {
        std::vector<std::string> files;
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().extension() == extension) files.push_back(entry.path().string());
        std::sort(files.begin(), files.end());
        return files;
    }

    // Decodes whole, and the checker finds the watermark.
    void CheckFromOutside(const std::string& file, const std::string& codec) {
        SCOPED_TRACE(file);
        const flow_test::Run probe = flow_test::RunCommand(
            "ffprobe -v error -select_streams v:0 -show_entries stream=codec_name -of csv=p=0 " + Quoted(file));
        EXPECT_EQ(probe.status, 0) << probe.out;
        EXPECT_EQ(probe.out, codec + "\n");
        const flow_test::Run decode = flow_test::RunCommand("ffmpeg -nostdin -v error -i " + Quoted(file) + " -f null -");
        EXPECT_EQ(decode.status, 0);
        EXPECT_EQ(decode.out, "");
        const flow_test::Run check = flow_test::RunCommand(install_.Tool("watermark-check") + " " + Quoted(file));
        EXPECT_EQ(check.status, 0) << check.out;
        EXPECT_EQ(check.out, file + "\tV\n");
    }

    static TempFolder* sample_;
    static CivilDate day_;
    control_test::ApplicationGuard app_;
    flow_test::FreshInstall install_;
    flow_test::ModalDriver driver_;
    std::unique_ptr<CKestrelPlaybackDlg> dlg_;
};

TempFolder* FolderFlowTest::sample_ = nullptr;
CivilDate FolderFlowTest::day_;

TEST_F(FolderFlowTest, OpenPlayCueAndExportToTheChosenFolder) {
    OpenFolder(Sample());
    // The day was recorded from midnight: the range starts at second 0 and plays.
    EXPECT_EQ(dlg_->engine().Status().range_start, 0);
    EXPECT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kPlaying);
    EXPECT_EQ(dlg_->info_box()->CurrentTexts().state, "PLAY");
    ASSERT_TRUE(PicturesInAllViewers());

    // Faster, then the cue marks.
    Press(kSpeedUp);
    Press(kSpeedUp);
    WaitForSecond(2);
    Press(kCueIn);
    WaitForSecond(8);
    Press(kCueOut);
    const int cue_in = dlg_->status_panel().CueIn();
    const int cue_out = dlg_->status_panel().CueOut();
    EXPECT_GE(cue_in, 2);
    EXPECT_GT(cue_out, cue_in);

    // The shipped setting holds no folder yet: the export asks, and goes there.
    TempFolder exports;
    driver_.Expect<QFileDialog>([&](QFileDialog* chooser) { flow_test::AnswerFolderDialog(chooser, exports.path()); });
    driver_.Expect<CAviDialog2>([](CAviDialog2* dialog) {
        dialog->ChannelBox(0)->setChecked(true);
        dialog->ChannelBox(2)->setChecked(true);
        dialog->FormatList()->setCurrentIndex(1);  // the original frames
        dialog->WatermarkBox()->setChecked(true);
        Control<QPushButton>(dialog, CAviDialog2::kOkId)->click();
    });
    Press(kAviExport);
    EXPECT_TRUE(driver_.Idle());
    EXPECT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kStopped);
    EXPECT_EQ(ReadStorageLocation(), exports.path());

    const std::vector<std::string> avi = FilesIn(exports.path(), ".avi");
    ASSERT_EQ(avi.size(), 2u);
    EXPECT_EQ(fs::path(avi[0]).filename().string().substr(0, 5), "CH01_");
    EXPECT_EQ(fs::path(avi[1]).filename().string().substr(0, 5), "CH03_");
    CheckFromOutside(avi[0], "h264");
    CheckFromOutside(avi[1], "mjpeg");

    // Play again; a snapshot goes to the storage folder now remembered, without a question.
    Press(kPlay);
    ASSERT_TRUE(PicturesInAllViewers());
    Press(kSnapShot);
    const std::vector<std::string> jpg = FilesIn(exports.path(), ".jpg");
    ASSERT_EQ(jpg.size(), 1u);
    EXPECT_EQ(fs::path(jpg[0]).filename().string().substr(0, 5), "CH01_");
    const flow_test::Run check = flow_test::RunCommand(install_.Tool("watermark-check") + " " + Quoted(jpg[0]));
    EXPECT_EQ(check.out, jpg[0] + "\tV\n");
    EXPECT_EQ(driver_.TakeBoxes(), std::vector<std::string>{});

    // Halyard, as its application object runs it: the folder of exports and snapshot added,
    // all selected, verified; every file marked "V".
    driver_.Expect<CWatermarkDlg>([&](CWatermarkDlg* checker) {
        driver_.Expect<QFileDialog>([&](QFileDialog* chooser) { flow_test::AnswerFolderDialog(chooser, exports.path()); });
        Press(Control<QAbstractButton>(checker, CWatermarkDlg::kIdAddFolder));
        ASSERT_EQ(checker->list()->topLevelItemCount(), 3);
        Press(checker->select_all_button());
        Press(checker->verify_button());
        std::vector<std::string> marks;
        for (int i = 0; i < checker->list()->topLevelItemCount(); ++i)
            marks.push_back(checker->list()->topLevelItem(i)->text(CWatermarkDlg::kColumnResult).toStdString());
        EXPECT_EQ(marks, (std::vector<std::string>{"V", "V", "V"}));
        EXPECT_EQ(checker->CheckedText().toStdString(), "3");
        EXPECT_EQ(checker->PassedText().toStdString(), "3");
        checker->reject();
    });
    CWatermarkApp().InitInstance();
    EXPECT_TRUE(driver_.Idle());
    EXPECT_EQ(driver_.TakeBoxes(), std::vector<std::string>{"The verification process is completed."});

    // Print where no printer is installed says so.
    if (QPrinterInfo::availablePrinterNames().isEmpty()) {
        Press(kPrint);
        ASSERT_TRUE(flow_test::WaitFor([&] { return driver_.BoxCount() > 0; }, 5000));
        EXPECT_EQ(driver_.TakeBoxes(), std::vector<std::string>{"No printer found!"});
    }
}

TEST_F(FolderFlowTest, BackupToAChosenFolderAndPlayTheBackup) {
    OpenFolder(Sample());
    ASSERT_TRUE(PicturesInAllViewers());

    TempFolder destination;
    driver_.Expect<CBackupDialog>([&](CBackupDialog* backup) {
        driver_.Expect<QFileDialog>([&](QFileDialog* chooser) { flow_test::AnswerFolderDialog(chooser, destination.path()); });
        Control<QPushButton>(backup, CBackupDialog::kBrowseId)->click();
        for (int c = 0; c < 4; ++c) backup->ChannelBox(c)->setChecked(true);
        // The pickers open on today; the range is the sample's day, whenever the run reaches here.
        const QDate sample_day(day_.year, day_.month, day_.day);
        Control<QDateEdit>(backup, CBackupDialog::kStartDateId)->setDate(sample_day);
        Control<QDateEdit>(backup, CBackupDialog::kEndDateId)->setDate(sample_day);
        Control<QPushButton>(backup, CBackupDialog::kStartId)->click();
    });
    Press(kBackup);
    EXPECT_TRUE(driver_.Idle());
    EXPECT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kPaused);
    EXPECT_EQ(driver_.TakeBoxes(), std::vector<std::string>{});

    const std::string copy = destination.Sub("avdata");
    const flow_test::Run dump = flow_test::RunCommand(install_.Tool("avdata-dump") + " day " + Quoted(copy) + " " +
                                                      std::to_string(day_.year) + " " + std::to_string(day_.month) +
                                                      " " + std::to_string(day_.day));
    EXPECT_EQ(dump.status, 0) << dump.out;

    OpenFolder(copy);
    EXPECT_EQ(dlg_->engine().Status().record_source.path, copy);
    EXPECT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kPlaying);
    EXPECT_TRUE(PicturesInAllViewers());
    EXPECT_EQ(driver_.TakeBoxes(), std::vector<std::string>{});
}

// The transport as a user drives it on a disk copy of two minutes, each recorded for its
// first 30 seconds (channel 3 not from second 10 to 19): a slider click while paused shows
// that second on every view, Step Forward
// plays on from a minute later without the seconds between, back from the single view every
// view shows its channel's current second at once, and Power ends the window with every
// thread of the playback ended.
TEST_F(FolderFlowTest, SliderStepSingleViewAndPower) {
    TempFolder sample;
    char date[16];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", day_.year, day_.month, day_.day);
    const flow_test::Run made = flow_test::RunCommand(install_.Tool("avdata-sample") + " " + Quoted(sample.path()) +
                                                      " --date " + date + " --start 00:00 --minutes 2 --seconds 30");
    ASSERT_EQ(made.status, 0) << made.out;
    OpenFolder(sample.Sub("avdata"));
    ASSERT_TRUE(PicturesInAllViewers());
    ViewerGrid& grid = dlg_->grid();
    // The range starts at midnight: a picture's time of day is its second in the range.
    auto second_of = [&](int view) {
        const OsdState osd = grid.Viewer(view)->CurrentOsd();
        return osd.hour * 3600 + osd.minute * 60 + osd.second;
    };
    auto all_show = [&](int from, int to) {
        for (int i = 0; i < 4; ++i)
            if (!grid.Viewer(i)->HasVideo() || second_of(i) < from || second_of(i) > to) return false;
        return true;
    };

    // Paused, a click on the slider a few seconds on: every view shows that second and stays.
    Press(kPause);
    auto* slider = Control<CMySlider>(dlg_.get(), kTimeSlider);
    ASSERT_NE(slider, nullptr);
    const SliderGeometry geometry = slider->Geometry();
    int x = 0;
    while (x < slider->width() &&
           geometry.PositionAt(x, slider->height() / 2, slider->minimum(), slider->maximum()) < 21)
        ++x;
    control_test::Click(slider, QPoint(x, slider->height() / 2));
    const int target = slider->value();
    ASSERT_GE(target, 21);
    ASSERT_LE(target, 27);
    ASSERT_TRUE(flow_test::WaitFor([&] { return all_show(target, target); }, 15000))
        << "views at " << second_of(0) << " " << second_of(1) << " " << second_of(2) << " " << second_of(3)
        << ", the slider at " << target;
    EXPECT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kPaused);

    // Step Forward plays on from a minute later: the first other second shown is that one.
    Press(kStepForward);
    int next = target;
    ASSERT_TRUE(flow_test::WaitFor(
        [&] {
            next = second_of(0);
            return next != target;
        },
        15000));
    EXPECT_GE(next, target + 60);
    EXPECT_LE(next, target + 61);
    EXPECT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kPlaying);

    // Two seconds in the single view, then back: every view at once at the current second.
    dlg_->SelectViewer(0);
    Press(kView1x1);
    ASSERT_EQ(grid.layout(), 1);
    const int switched = second_of(0);
    ASSERT_TRUE(flow_test::WaitFor([&] { return second_of(0) >= switched + 2; }, 15000));
    Press(kView2x2);
    ASSERT_EQ(grid.layout(), 2);
    const int now = second_of(0);
    for (int i = 1; i < 4; ++i) {
        EXPECT_TRUE(grid.Viewer(i)->HasVideo()) << i;
        EXPECT_GE(second_of(i), now - 1) << i << " kept the picture of the switch";
    }

    // Power: the window ends, and nothing of the playback runs on.
    Press(kPower);
    EXPECT_FALSE(dlg_->isVisible());
    EXPECT_EQ(dlg_->result(), QDialog::Accepted);
    const PlaybackEngine::Snapshot after = dlg_->engine().Status();
    EXPECT_EQ(after.play_state, PlaybackEngine::kStopped);
    EXPECT_FALSE(dlg_->engine().ReaderRunning());
    for (int c = 0; c < 4; ++c) EXPECT_FALSE(after.workers[static_cast<size_t>(c)].running) << c;
    EXPECT_FALSE(after.sound_device_open);
    EXPECT_EQ(driver_.TakeBoxes(), std::vector<std::string>{});
}

// Setting, its Storage page: what was typed is stored and shown the next time.
TEST_F(FolderFlowTest, SettingStorageKeepsWhatWasTyped) {
    TempFolder storage;
    driver_.Expect<CSettingDlg>([&](CSettingDlg* setting) {
        setting->Tabs()->setCurrentIndex(2);
        Control<QLineEdit>(setting->Page(2), CStoragePage::kLocationId)->setText(QString::fromStdString(storage.path()));
        Control<QPushButton>(setting, CSettingDlg::kOkId)->click();
    });
    Press(kSetting);
    EXPECT_TRUE(driver_.Idle());
    EXPECT_EQ(ReadStorageLocation(), storage.path());
    driver_.Expect<CSettingDlg>([&](CSettingDlg* setting) {
        EXPECT_EQ(Control<QLineEdit>(setting->Page(2), CStoragePage::kLocationId)->text().toStdString(), storage.path());
        Control<QPushButton>(setting, CSettingDlg::kCancelId)->click();
    });
    Press(kSetting);
    EXPECT_TRUE(driver_.Idle());
    EXPECT_EQ(driver_.TakeBoxes(), std::vector<std::string>{});
}

}  // namespace
