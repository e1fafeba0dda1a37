// The main dialog offscreen, on injected screen sizes, with test doubles for
// the dialogs it runs and a small real recording for the playback path.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QPrinter>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "mainwindow/ui/bmp_button.h"
#include "mainwindow/ui/kestrel_playback_dlg.h"
#include "mainwindow/ui/my_button.h"
#include "mainwindow/ui/my_slider.h"
#include "mainwindow/ui/my_static.h"
#include "media/http_get.h"
#include "media/ui/info_box.h"
#include "media/ui/ui_services.h"
#include "media/view_slot_order.h"
#include "platform/message_box.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/support/held_time.h"
#include "tests/support/program_folder_copy.h"
#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"
#include "tools/common/fake_recorder.h"

namespace {

using namespace kestrel_id;

struct Box {
    std::string text, caption;
};

// What "View Record Files" answers when a folder's channels and range were chosen and OK pressed.
RecordSelectionResult FolderChoice(const std::string& data, const SmallRecording& recording, int channel_mask,
                                   int start_second, int end_second) {
    RecordSelectionResult chosen;
    chosen.result = kDialogOk;
    chosen.source_mode = 0;
    chosen.source.path = data;
    chosen.source.channel_mask = channel_mask;
    chosen.source.start_second = start_second;
    chosen.source.end_second = end_second;
    chosen.source.year = recording.date.year;
    chosen.source.month = recording.date.month;
    chosen.source.day = recording.date.day;
    return chosen;
}

class KestrelDlgTest : public ::testing::Test {
protected:
    void SetUpScreen(int width, int height) {
        ui::SetScreenSizeSource([width, height] { return QSize(width, height); });
        dlg_ = std::make_unique<CKestrelPlaybackDlg>();
        dlg_->hooks.run_backup = nullptr;
        dlg_->OnInitDialog();
        initial_geometry_ = dlg_->geometry();
        dlg_->show();
    }
    void SetUp() override {
        platform::SetMessageBoxHandler([this](const std::string& text, const std::string& caption, int) {
            boxes_.push_back({text, caption});
            return platform::kIdOk;
        });
        ui::SetFolderChooser([this](QWidget* owner, const std::string&) -> std::optional<std::string> {
            chooser_owners_.push_back(owner);
            return folder_answer_;
        });
        ui::SetPrinterChooser([this](QWidget* owner) {
            printer_owners_.push_back(owner);
            return ui::PrinterChoice{};
        });
    }
    void TearDown() override {
        dlg_.reset();
        platform::SetMessageBoxHandler(nullptr);
        ui::SetFolderChooser(nullptr);
        ui::SetPrinterChooser(nullptr);
        ui::SetScreenSizeSource(nullptr);
    }
    QRect Rect(int id) const { return dlg_->Control(id)->geometry(); }
    bool Enabled(int id) const { return dlg_->Control(id)->isEnabled(); }

    control_test::ApplicationGuard app_;
    // Whatever a command stores lands in this copy, not beside the test program.
    ProgramFolderCopy program_;
    std::unique_ptr<CKestrelPlaybackDlg> dlg_;
    std::vector<Box> boxes_;
    std::vector<QWidget*> chooser_owners_;
    std::vector<QWidget*> printer_owners_;
    std::optional<std::string> folder_answer_;
    QRect initial_geometry_;
};

TEST_F(KestrelDlgTest, StartsStoppedInTwoByTwoWithTheSizeClassOfTheScreenHeight) {
    struct Case {
        int w, h;
        bool small;
        BackgroundRect background;
    };
    const Case cases[] = {
        {1280, 1024, false, {1280, 962, 0, 31}},
        {1920, 1080, false, {1436, 1080, 242, 0}},
        {1280, 720, true, {957, 720, 161, 0}},
        {1280, 721, false, {958, 721, 161, 0}},
        {1024, 720, true, {957, 720, 33, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        SetUpScreen(c.w, c.h);
        EXPECT_EQ(initial_geometry_, QRect(0, 0, c.w, c.h));
        EXPECT_EQ(dlg_->small_class(), c.small);
        EXPECT_EQ(dlg_->label_font_height(), c.small ? 14 : 18);
        const BackgroundRect& b = dlg_->background();
        EXPECT_EQ(b.width, c.background.width);
        EXPECT_EQ(b.height, c.background.height);
        EXPECT_EQ(b.left, c.background.left);
        EXPECT_EQ(b.top, c.background.top);
        EXPECT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kStopped);
        EXPECT_EQ(dlg_->engine().Status().source_mode, 0);
        EXPECT_EQ(dlg_->grid().layout(), 2);
        EXPECT_EQ(dlg_->info_box()->CurrentTexts().state, "STOP");
        EXPECT_FALSE(Enabled(kPlay));
        EXPECT_FALSE(Enabled(kBackup));
        EXPECT_FALSE(Enabled(kStop));
        EXPECT_FALSE(Enabled(kTimeSlider));
        EXPECT_FALSE(Enabled(kCueLabel));
        EXPECT_TRUE(Enabled(kOpen));
        for (int hidden : {kView3x3, kActualSize, kOsd, kHiddenA, kHiddenB, kHiddenC})
            EXPECT_FALSE(dlg_->Control(hidden)->isVisible()) << hidden;
        EXPECT_EQ(dlg_->version_label()->text(), "Larkspur 1.3.2");
        EXPECT_EQ(dlg_->Control(kZoomIn)->toolTip(), "Zoom In");
        for (const OsdStyleRecord& style : dlg_->osd_styles()) {
            EXPECT_EQ(style.font_face, "Arial Bold");
            EXPECT_EQ(style.font_height, 20);
            EXPECT_EQ(style.colour, 0xFFFF);
        }
    }
}

TEST_F(KestrelDlgTest, ControlsSitAtTheFractionsOfTheBackgroundInBothClasses) {
    SetUpScreen(1280, 1024);  // large: BW 1280, BH 962, origin (0, 31)
    EXPECT_EQ(Rect(kPower), QRect(43, 858, 67, 67));
    EXPECT_EQ(Rect(kOpen), QRect(1112, 143, 101, 30));
    EXPECT_EQ(Rect(kTimeSlider), QRect(181, 840, 480, 24));
    EXPECT_EQ(Rect(kPlay), QRect(259, 871, 33, 34));
    EXPECT_EQ(dlg_->grid().left(), 29);
    EXPECT_EQ(dlg_->grid().top(), 53);
    EXPECT_EQ(dlg_->grid().width(), 1007);
    EXPECT_EQ(dlg_->grid().height(), 759);

    SetUpScreen(1024, 720);  // small: BW 957, BH 720, origin (33, 0)
    EXPECT_EQ(Rect(kPower), QRect(63, 617, 54, 54));
    EXPECT_EQ(Rect(kPlay), QRect(225, 631, 25, 27));
    EXPECT_EQ(Rect(kInfoBox), QRect(540, 607, 247, 82));
    EXPECT_EQ(Rect(kVersionLabel), QRect(33 + 868 - 68, 682 - 12, 136, 18));
}

TEST_F(KestrelDlgTest, ViewModesSwitchTheGridAndTheButtons) {
    SetUpScreen(1280, 1024);
    ViewerGrid& grid = dlg_->grid();
    dlg_->SelectViewer(1);
    dlg_->OnView1x1();
    EXPECT_EQ(grid.layout(), 1);
    EXPECT_EQ(grid.Viewer(1)->geometry(), QRect(29, 53, 1007, 759));
    EXPECT_FALSE(Enabled(kView1x1));
    EXPECT_TRUE(Enabled(kView2x2));

    // Double-click back to 2x2 (previous layout 2); in layout 1 with another previous nothing changes.
    dlg_->OnViewerDoubleClick(1);
    EXPECT_EQ(grid.layout(), 2);
    EXPECT_FALSE(Enabled(kView2x2));
    dlg_->OnViewerDoubleClick(3);
    EXPECT_EQ(grid.layout(), 1);

    dlg_->OnView2x2();
    dlg_->OnFullScreen();
    EXPECT_EQ(dlg_->full_screen(), 1);
    EXPECT_FALSE(dlg_->Control(kPower)->isVisible());
    EXPECT_FALSE(dlg_->info_box()->isVisible());
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(grid.Viewer(i)->full_screen());
    dlg_->OnViewerDoubleClick(0);  // nothing in full screen
    EXPECT_EQ(grid.layout(), 2);

    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(dlg_.get(), &esc);
    EXPECT_EQ(dlg_->full_screen(), 0);
    EXPECT_TRUE(dlg_->Control(kPower)->isVisible());
    EXPECT_EQ(grid.layout(), 2);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(grid.Viewer(i)->full_screen());

    // A selected viewer in a place above 3 gives way to the viewer in place 0.
    SwapViewSlot(1, 5);
    dlg_->SelectViewer(1);
    dlg_->OnView2x2();
    EXPECT_EQ(grid.SelectedIndex(), 0);
    ResetViewSlotOrder();

    // Actual Size flips each viewer's own flag; the check box shows viewer 0.
    grid.Viewer(2)->SetKeepAspect(true);
    dlg_->OnActualSize();
    EXPECT_TRUE(grid.Viewer(0)->keep_aspect());
    EXPECT_FALSE(grid.Viewer(2)->keep_aspect());
    EXPECT_EQ(static_cast<CBmpButton*>(dlg_->Control(kActualSizeCheck))->GetCheck(), 1);
}

TEST_F(KestrelDlgTest, OnlyPowerEndsTheDialog) {
    SetUpScreen(1280, 1024);
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(dlg_.get(), &esc);
    dlg_->reject();
    dlg_->accept();
    EXPECT_FALSE(dlg_->close());
    EXPECT_TRUE(dlg_->isVisible());
    EXPECT_EQ(dlg_->full_screen(), 0);

    static_cast<CMyButton*>(dlg_->Control(kPower))->click();
    EXPECT_FALSE(dlg_->isVisible());
    EXPECT_EQ(dlg_->result(), QDialog::Accepted);
}

TEST_F(KestrelDlgTest, PositionMessageMovesTheSliderUnlessStopped) {
    SetUpScreen(1024, 720);
    PlaybackEngine& engine = dlg_->engine();
    // Stopped: the slider goes home whatever position the engine holds.
    dlg_->SetTimeSlider(100, 20, 7);
    engine.OnHScroll(42);
    ASSERT_EQ(engine.Status().slider_position, 42);
    dlg_->PostMessage(WM_POSITION_CHANGED, 0, 0);
    EXPECT_EQ(dlg_->time_slider()->value(), 7);  // posted, not yet delivered
    control_test::DeliverPosted();
    EXPECT_EQ(dlg_->time_slider()->value(), 0);

    // Paused on a recording, moved to its third second: the slider follows the engine.
    TempFolder tmp;
    SmallRecording recording;
    recording.seconds = 3;
    const std::string data = WriteSmallRecording(tmp.path(), recording);
    ASSERT_FALSE(data.empty());
    dlg_->hooks.run_record_selection = [&](const RecordSelectionRequest&) {
        return FolderChoice(data, recording, 1, recording.start_second, recording.start_second + 2);
    };
    dlg_->OnOpen();
    dlg_->OnPause();
    engine.OnHScroll(2);
    control_test::DeliverPosted();
    dlg_->time_slider()->setValue(0);
    dlg_->PostMessage(WM_POSITION_CHANGED, 0, 0);
    EXPECT_EQ(dlg_->time_slider()->value(), 0);
    control_test::DeliverPosted();
    EXPECT_EQ(dlg_->time_slider()->value(), 2);
    dlg_->OnStop();
}

TEST_F(KestrelDlgTest, CueMarksTakeTheSliderPositionInItsUnits) {
    SetUpScreen(1280, 1024);
    PlaybackEngine& engine = dlg_->engine();
    struct Case {
        int length, position, expected;
    };
    for (const Case& c : {Case{10000, 5000, 1000 + 5000}, Case{10001, 5000, 1000 + 50000}}) {
        RecordSource source = engine.Status().record_source;
        source.start_second = 1000;
        source.end_second = 1000 + c.length;
        engine.SetLocalSource(source);
        engine.OnHScroll(c.position);
        dlg_->OnCueIn();
        EXPECT_EQ(dlg_->status_panel().CueIn(), c.expected);
    }
    engine.OnHScroll(9000);
    dlg_->OnCueOut();
    EXPECT_EQ(dlg_->status_panel().CueOut(), 91000);
    EXPECT_FALSE(dlg_->info_box()->CurrentTexts().cue_in.empty());
    EXPECT_FALSE(dlg_->info_box()->CurrentTexts().cue_out.empty());
}

TEST_F(KestrelDlgTest, ExportChecksTheMarksAndClearsThemAfterTheExport) {
    SetUpScreen(1280, 1024);
    std::vector<FolderExportRequest> exports;
    dlg_->hooks.run_folder_export = [&](const FolderExportRequest& r) {
        exports.push_back(r);
        return kDialogOk;
    };
    CueTrackingPanel& panel = dlg_->status_panel();

    panel.SetCueIn(3600);
    dlg_->OnExportAvi();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "Please use CUE control to set up start/end time and then retry again.");
    EXPECT_EQ(boxes_[0].caption, "Message");

    panel.SetCueOut(3600);
    dlg_->OnExportAvi();
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].text, "Cuein Time must be early than Cueout Time.");
    EXPECT_TRUE(chooser_owners_.empty());

    // A cancelled folder choice keeps the marks.
    panel.SetCueOut(3700);
    dlg_->OnExportAvi();
    EXPECT_EQ(chooser_owners_.size(), 1u);
    EXPECT_TRUE(exports.empty());
    EXPECT_EQ(panel.CueIn(), 3600);

    // A choice without a path is refused with its message.
    folder_answer_ = "";
    dlg_->OnExportAvi();
    EXPECT_EQ(boxes_.back().text, "It's not a data folder.");
    EXPECT_TRUE(exports.empty());

    TempFolder out;
    folder_answer_ = out.path();
    dlg_->SelectViewer(2);
    dlg_->OnExportAvi();
    ASSERT_EQ(exports.size(), 1u);
    EXPECT_EQ(exports[0].channel_index, 2);
    EXPECT_EQ(exports[0].cue_in, 3600);
    EXPECT_EQ(exports[0].cue_out, 3700);
    EXPECT_EQ(exports[0].output_folder, out.path());
    EXPECT_EQ(panel.CueIn(), -1);
    EXPECT_EQ(panel.CueOut(), -1);
    EXPECT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kStopped);
}

TEST_F(KestrelDlgTest, TheExportGoesToTheFolderChosenOrStored) {
    SetUpScreen(1280, 1024);
    std::vector<std::string> folders;
    dlg_->hooks.run_folder_export = [&](const FolderExportRequest& r) {
        folders.push_back(r.output_folder);
        return kDialogOk;
    };
    auto export_range = [&] {
        dlg_->status_panel().SetCueIn(100);
        dlg_->status_panel().SetCueOut(200);
        dlg_->OnExportAvi();
    };
    TempFolder first, second;

    // The shipped setting is remembered: the next export asks no more.
    folder_answer_ = first.path();
    export_range();
    folder_answer_ = second.path();
    export_range();
    EXPECT_EQ(chooser_owners_.size(), 1u);
    EXPECT_EQ(folders, (std::vector<std::string>{first.path(), first.path()}));

    // Without the settings file the choice serves that one export, and the next one asks again.
    std::filesystem::remove(program_.Sub("lang/setting.ini"));
    folders.clear();
    export_range();
    folder_answer_ = first.path();
    export_range();
    EXPECT_EQ(chooser_owners_.size(), 3u);
    EXPECT_EQ(folders, (std::vector<std::string>{second.path(), first.path()}));
}

TEST_F(KestrelDlgTest, SettingsPushStylesIntoTheViewersAndRenewTooltips) {
    SetUpScreen(1280, 1024);
    dlg_->Control(kZoomIn)->setToolTip("kept");
    dlg_->Control(kPlay)->setToolTip("old");
    dlg_->grid().Viewer(1)->SetOsdSwitches(1, 0, 1, 1, 1);
    dlg_->hooks.run_settings = [](QWidget*, const std::array<OsdStyleRecord*, 4>&) {
        return 2;  // cancelled: nothing is applied
    };
    dlg_->OnSetting();
    EXPECT_EQ(dlg_->grid().Viewer(1)->CurrentOsd().show_date, 0);
    EXPECT_EQ(dlg_->Control(kPlay)->toolTip(), "old");

    dlg_->hooks.run_settings = [](QWidget*, const std::array<OsdStyleRecord*, 4>& styles) {
        styles[3]->show_date = 0;
        styles[3]->show_camera_number = 0;
        return kDialogOk;
    };
    dlg_->OnSetting();
    const OsdState osd = dlg_->grid().Viewer(3)->CurrentOsd();
    EXPECT_EQ(osd.show_date, 0);
    EXPECT_EQ(osd.show_channel, 0);
    EXPECT_EQ(osd.show_time, 1);
    EXPECT_EQ(dlg_->grid().Viewer(0)->CurrentOsd().show_date, 1);
    EXPECT_EQ(dlg_->Control(kPlay)->toolTip(), "Play");
    EXPECT_EQ(dlg_->Control(kZoomIn)->toolTip(), "kept");
}

TEST_F(KestrelDlgTest, OpenPlaysTheChosenFolderRangeIntoTheViewers) {
    SetUpScreen(1280, 1024);
    TempFolder tmp;
    SmallRecording recording;
    recording.seconds = 3;
    const std::string data = WriteSmallRecording(tmp.path(), recording);
    ASSERT_FALSE(data.empty());
    dlg_->initial_data_folder = data;

    std::vector<RecordSelectionRequest> requests;
    int mask = 3;
    int result = kDialogOk;
    dlg_->hooks.run_record_selection = [&](const RecordSelectionRequest& request) {
        requests.push_back(request);
        RecordSelectionResult chosen =
            FolderChoice(data, recording, mask, recording.start_second, recording.start_second + 2);
        chosen.result = result;
        return chosen;
    };

    static_cast<CMyButton*>(dlg_->Control(kOpen))->click();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].data_folder, data);
    EXPECT_EQ(requests[0].source_mode, 0);
    EXPECT_EQ(dlg_->grid().layout(), 2);
    EXPECT_EQ(dlg_->grid().SelectedIndex(), 0);
    EXPECT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kPlaying);
    EXPECT_FALSE(Enabled(kPlay));
    EXPECT_TRUE(Enabled(kStop));
    EXPECT_TRUE(Enabled(kBackup));

    ViewerGrid& grid = dlg_->grid();
    control_test::Pump(0);
    QElapsedTimer clock;
    clock.start();
    while (!(grid.Viewer(0)->HasVideo() && grid.Viewer(1)->HasVideo()) && clock.elapsed() < 8000)
        control_test::Pump(20);
    ASSERT_TRUE(grid.Viewer(0)->HasVideo());
    ASSERT_TRUE(grid.Viewer(1)->HasVideo());
    EXPECT_FALSE(grid.Viewer(2)->HasVideo());
    EXPECT_EQ(dlg_->info_box()->CurrentTexts().date, "2012/03/05");

    // Snapshot and print go to the selected viewer; a picture-less viewer says so.
    dlg_->SelectViewer(1);
    dlg_->OnSnapShot();
    ASSERT_EQ(chooser_owners_.size(), 1u);
    EXPECT_EQ(chooser_owners_[0], grid.Viewer(1));
    dlg_->SelectViewer(2);
    dlg_->OnSnapShot();
    EXPECT_EQ(chooser_owners_.size(), 1u);
    ASSERT_FALSE(boxes_.empty());
    EXPECT_EQ(boxes_.back().text, "No image data");
    dlg_->OnPrint();  // 2x2: viewer 0 prints the grid
    dlg_->OnView1x1();
    dlg_->OnPrint();
    ASSERT_EQ(printer_owners_.size(), 2u);
    EXPECT_EQ(printer_owners_[0], grid.Viewer(0));
    EXPECT_EQ(printer_owners_[1], grid.Viewer(2));

    // One channel: 1x1 on that channel's viewer. The next Open offers the folder played.
    mask = 4;
    dlg_->OnOpen();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].year, recording.date.year);
    EXPECT_EQ(grid.layout(), 1);
    EXPECT_EQ(grid.SelectedIndex(), 2);

    // Cancel stops what played and starts nothing.
    result = 2;
    dlg_->OnOpen();
    EXPECT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kStopped);
    EXPECT_FALSE(dlg_->engine().ReaderRunning());
}

// Back from the single view, every view shows its channel's current picture at once: the
// hidden channels went on being decoded, so their pictures and clocks kept up meanwhile.
TEST_F(KestrelDlgTest, BackFromTheSingleViewEveryViewShowsItsCurrentPicture) {
    SetUpScreen(1280, 1024);
    TempFolder tmp;
    SmallRecording recording;
    recording.seconds = 8;
    recording.h264_key_interval = 10;  // a key picture every other second on channel 2
    const std::string data = WriteSmallRecording(tmp.path(), recording);
    ASSERT_FALSE(data.empty());
    dlg_->hooks.run_record_selection = [&](const RecordSelectionRequest&) {
        return FolderChoice(data, recording, 3, recording.start_second, recording.start_second + recording.seconds - 1);
    };
    dlg_->OnOpen();
    ViewerGrid& grid = dlg_->grid();
    auto second_of = [&](int view) {
        const OsdState osd = grid.Viewer(view)->CurrentOsd();
        return osd.hour * 3600 + osd.minute * 60 + osd.second;
    };
    QElapsedTimer clock;
    clock.start();
    while (!(grid.Viewer(0)->HasVideo() && grid.Viewer(1)->HasVideo()) && clock.elapsed() < 8000)
        control_test::Pump(20);
    ASSERT_TRUE(grid.Viewer(1)->HasVideo());

    dlg_->SelectViewer(0);
    dlg_->OnView1x1();
    ASSERT_EQ(grid.layout(), 1);
    const int switched = second_of(0);
    // Two recorded seconds in the single view.
    clock.restart();
    while (second_of(0) < switched + 2 && clock.elapsed() < 8000) control_test::Pump(20);
    ASSERT_GE(second_of(0), switched + 2);
    dlg_->OnView2x2();
    ASSERT_EQ(grid.layout(), 2);
    EXPECT_GE(second_of(1), switched + 1) << "the hidden channel stopped at the switch";
    EXPECT_TRUE(grid.Viewer(1)->HasVideo());
    dlg_->OnStop();
}

// A day recorded from midnight: its range starts at second 0 and must play;
// a range whose end is not after its start is none.
TEST_F(KestrelDlgTest, ARangeFromMidnightPlaysAndAnEmptyRangeStartsNothing) {
    SetUpScreen(1280, 1024);
    TempFolder tmp;
    SmallRecording recording;
    recording.start_second = 0;
    const std::string data = WriteSmallRecording(tmp.path(), recording);
    ASSERT_FALSE(data.empty());
    int end = 2;
    dlg_->hooks.run_record_selection = [&](const RecordSelectionRequest&) {
        return FolderChoice(data, recording, 1, 0, end);
    };
    dlg_->OnOpen();
    EXPECT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kPlaying);
    EXPECT_TRUE(dlg_->engine().ReaderRunning());
    QElapsedTimer clock;
    clock.start();
    while (!dlg_->grid().Viewer(0)->HasVideo() && clock.elapsed() < 8000) control_test::Pump(20);
    EXPECT_TRUE(dlg_->grid().Viewer(0)->HasVideo());

    // Play after Stop starts the same range again.
    dlg_->OnStop();
    dlg_->OnPlay();
    EXPECT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kPlaying);
    EXPECT_TRUE(dlg_->engine().ReaderRunning());

    end = 0;
    dlg_->OnOpen();
    EXPECT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kStopped);
    EXPECT_FALSE(dlg_->engine().ReaderRunning());
}

// Backup pauses what plays; it and a cancelled export folder choice leave
// the play state true to what runs.
TEST_F(KestrelDlgTest, BackupAndACancelledExportKeepThePlayStateTrue) {
    SetUpScreen(1280, 1024);
    TempFolder tmp;
    SmallRecording recording;
    recording.seconds = 3;
    const std::string data = WriteSmallRecording(tmp.path(), recording);
    ASSERT_FALSE(data.empty());
    dlg_->hooks.run_record_selection = [&](const RecordSelectionRequest&) {
        return FolderChoice(data, recording, 1, recording.start_second, recording.start_second + 2);
    };
    int backups = 0;
    dlg_->hooks.run_backup = [&](QWidget*, const std::string&) { return ++backups, 2; };
    dlg_->hooks.run_folder_export = [](const FolderExportRequest&) -> int {
        ADD_FAILURE() << "the folder choice was cancelled";
        return 2;
    };
    auto state = [&] { return dlg_->engine().Status().play_state; };
    auto status = [&] { return dlg_->info_box()->CurrentTexts().state; };
    auto cancelled_export = [&] {
        dlg_->status_panel().SetCueIn(recording.start_second);
        dlg_->status_panel().SetCueOut(recording.start_second + 1);
        dlg_->OnExportAvi();  // the chooser answers "cancelled"
    };

    dlg_->OnOpen();
    dlg_->OnStop();
    // From stopped: both leave it stopped, and Play then really plays.
    dlg_->OnBackup();
    EXPECT_EQ(backups, 1);
    cancelled_export();
    EXPECT_EQ(state(), PlaybackEngine::kStopped);
    EXPECT_EQ(status(), "STOP");
    EXPECT_FALSE(Enabled(kPause));
    dlg_->OnPlay();
    EXPECT_EQ(state(), PlaybackEngine::kPlaying);
    EXPECT_TRUE(dlg_->engine().ReaderRunning());
    EXPECT_EQ(status(), "PLAY");

    // From playing: the cancelled export plays on, the backup leaves it paused.
    cancelled_export();
    EXPECT_EQ(state(), PlaybackEngine::kPlaying);
    dlg_->OnBackup();
    EXPECT_EQ(state(), PlaybackEngine::kPaused);
    EXPECT_EQ(status(), "PAUSE");
    // From paused: the cancelled export leaves it paused.
    cancelled_export();
    EXPECT_EQ(state(), PlaybackEngine::kPaused);
    EXPECT_TRUE(dlg_->engine().ReaderRunning());
}

// OK in Open and Power wait only for the old playback's threads to end, which a stop ends at
// once: neither holds the window thread for a fixed nap (Open's were 200 and 500 ms, Power's
// 3 s). The time held leaves out what the machine's other work took from the thread.
TEST_F(KestrelDlgTest, OpenAndPowerHoldTheWindowOnlyWhileThePlaybackEnds) {
    SetUpScreen(1280, 1024);
    TempFolder tmp;
    SmallRecording recording;
    recording.seconds = 10;
    const std::string data = WriteSmallRecording(tmp.path(), recording);
    ASSERT_FALSE(data.empty());
    dlg_->hooks.run_record_selection = [&](const RecordSelectionRequest&) {
        return FolderChoice(data, recording, 3, recording.start_second, recording.start_second + recording.seconds - 1);
    };
    ViewerGrid& grid = dlg_->grid();
    auto pictures = [&] {
        return control_test::RunUntil([&] { return grid.Viewer(0)->HasVideo() && grid.Viewer(1)->HasVideo(); }, 8000);
    };
    dlg_->OnOpen();
    ASSERT_TRUE(pictures());
    // A second Open replaces the playback that runs.
    const int64_t open = held_time::HeldMs([&] { dlg_->OnOpen(); });
    ASSERT_TRUE(pictures());
    const int64_t power = held_time::HeldMs([&] { static_cast<CMyButton*>(dlg_->Control(kPower))->click(); });
    EXPECT_FALSE(dlg_->isVisible());
    EXPECT_FALSE(dlg_->engine().ReaderRunning());
    EXPECT_LT(open, 350);
    EXPECT_LT(power, 350);
}

TEST_F(KestrelDlgTest, OpenOnARecorderStartsAtItsPositionOrNotAtAll) {
    SetUpScreen(1280, 1024);
    TempFolder tmp;
    SmallRecording recording;
    ASSERT_FALSE(WriteSmallRecording(tmp.path(), recording).empty());
    fake::FakeRecorderOptions options;
    options.data_folder = tmp.path();
    fake::FakeRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.Start(options, &error)) << error;

    const int start = recording.start_second, end = recording.start_second + 2;
    bool log_in = true;
    // Stands for the record selection: logs in, searches the range (as its preview does) and writes back.
    dlg_->hooks.run_record_selection = [&](const RecordSelectionRequest& request) {
        HttpGet login;
        login.Connect("127.0.0.1", "admin", "", 3000, 0, recorder.port());
        char reply[128] = {};
        *request.session_id = -1;
        if (log_in && login.Fetch("/play/getid", reply, sizeof reply) && reply[0] == 'i')
            *request.session_id = std::atoi(reply + 3);
        request.server->SetIp("127.0.0.1");
        request.server->SetPort(std::to_string(recorder.port()));
        request.server->SetUser("admin");
        const CivilDate& d = recording.date;
        *request.selection = {d.year, d.month, d.day, start / 3600, start / 60 % 60, start % 60,
                              end / 3600, end / 60 % 60, end % 60, 1, 1, 0, 0};
        char search[256];
        std::snprintf(search, sizeof search,
                      "/play/searchdata?id=%d&recstarttime=%d,%d,%d,%d,%d,%d&recendtime=%d,%d,%d,%d,%d,%d&avdevids=1,1,0,0",
                      *request.session_id, d.year, d.month, d.day, start / 3600, start / 60 % 60, start % 60, d.year,
                      d.month, d.day, end / 3600, end / 60 % 60, end % 60);
        if (log_in) login.Fetch(search, reply, sizeof reply);
        RecordSelectionResult chosen;
        chosen.result = kDialogOk;
        chosen.source_mode = 1;
        return chosen;
    };

    // Without a session nothing starts and nothing is said.
    log_in = false;
    dlg_->OnOpen();
    // The recorder's answers to the open arrive by message.
    EXPECT_TRUE(control_test::RunUntil([this] { return !dlg_->engine().RemoteOpenRunning(); }, 10000));
    EXPECT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kStopped);
    EXPECT_FALSE(Enabled(kBackup));
    EXPECT_TRUE(boxes_.empty());

    log_in = true;
    dlg_->OnOpen();
    ASSERT_TRUE(control_test::RunUntil([this] { return !dlg_->engine().RemoteOpenRunning(); }, 10000));
    PlaybackEngine& engine = dlg_->engine();
    EXPECT_EQ(engine.Status().play_state, PlaybackEngine::kPlaying);
    EXPECT_EQ(engine.Status().range_start, start);
    EXPECT_EQ(engine.Status().range_end, end);
    EXPECT_TRUE(dlg_->status_timer_active());
    EXPECT_EQ(dlg_->grid().layout(), 2);
    EXPECT_FALSE(Enabled(kBackup));
    ViewerGrid& grid = dlg_->grid();
    QElapsedTimer clock;
    clock.start();
    while (!(grid.Viewer(0)->HasVideo() && grid.Viewer(1)->HasVideo()) && clock.elapsed() < 8000)
        control_test::Pump(20);
    EXPECT_TRUE(grid.Viewer(0)->HasVideo());
    EXPECT_TRUE(grid.Viewer(1)->HasVideo());
    dlg_->OnStop();
    dlg_.reset();
    recorder.Stop();
}

}  // namespace
