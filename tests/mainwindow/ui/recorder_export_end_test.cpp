// The end of an export from the recorder in the real main window: the stream
// request that follows it goes out on a worker. Against a recorder that holds
// that request unanswered, the export command returns and the window keeps
// running its events while the recorder still holds it; the window's close
// cuts it short; a recorder that answers gets exactly that request.
#include <gtest/gtest.h>

#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mainwindow/ui/kestrel_playback_dlg.h"
#include "media/http_get.h"
#include "media/ui/ui_services.h"
#include "platform/message_box.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/support/program_folder_copy.h"
#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"
#include "tools/common/fake_recorder.h"

namespace {

// A fresh recorder's first session is 1; rows 1 and 2 are chosen, and the closing request names them.
constexpr char kClosingRequest[] = "/play/mav/nvrprofilestream?id=1&avdevid=1,1,0,0&profile=0";

// Ten 10 ms timer events delivered on the window thread.
bool WindowTicks() {
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    return control_test::RunUntil([&] { return ticks >= 10; }, 10000);
}

class RecorderExportEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::SetScreenSizeSource([] { return QSize(1280, 1024); });
        platform::SetMessageBoxHandler([this](const std::string& text, const std::string&, int) {
            boxes_.push_back(text);
            return platform::kIdOk;
        });
        ui::SetFolderChooser([this](QWidget*, const std::string&) -> std::optional<std::string> { return out_.path(); });
        ASSERT_FALSE(WriteSmallRecording(tmp_.path(), recording_).empty());
    }
    void TearDown() override {
        dlg_.reset();
        if (recorder_) recorder_->Stop();
        ui::SetFolderChooser(nullptr);
        platform::SetMessageBoxHandler(nullptr);
        ui::SetScreenSizeSource(nullptr);
    }

    // Plays rows 1 and 2 of the recording from the recorder with its fault, then runs the
    // export command over its first two seconds; the export itself is only recorded.
    void PlayAndExport(const char* fault, std::chrono::milliseconds rest = std::chrono::milliseconds(0)) {
        recorder_ = std::make_unique<fake::FakeRecorder>();
        fake::FakeRecorderOptions options;
        options.data_folder = tmp_.path();
        if (*fault) {
            ASSERT_TRUE(fake::ParseFault(fault, &options.fault)) << fault;
        }
        std::string error;
        ASSERT_TRUE(recorder_->Start(options, &error)) << error;
        HttpGet login;
        login.Connect("127.0.0.1", "admin", "", 3000, 0, recorder_->port());
        char reply[128] = {};
        ASSERT_TRUE(login.Fetch("/play/getid", reply, sizeof reply));
        ASSERT_EQ(std::string(reply), "id=1\nlease=60\n");
        const CivilDate& d = recording_.date;
        const int s = recording_.start_second, e = recording_.start_second + 2;
        char search[256];
        std::snprintf(search, sizeof search,
                      "/play/searchdata?id=1&recstarttime=%d,%d,%d,%d,%d,%d&recendtime=%d,%d,%d,%d,%d,%d&avdevids=1,1,0,0",
                      d.year, d.month, d.day, s / 3600, s / 60 % 60, s % 60, d.year, d.month, d.day, e / 3600,
                      e / 60 % 60, e % 60);
        login.Fetch(search, reply, sizeof reply);
        const SelectionBlock selection{d.year, d.month, d.day, s / 3600, s / 60 % 60, s % 60,
                                       e / 3600, e / 60 % 60, e % 60, 1, 1, 0, 0};
        dlg_ = std::make_unique<CKestrelPlaybackDlg>();
        dlg_->hooks.run_record_selection = [this, selection](const RecordSelectionRequest& request) {
            *request.session_id = 1;
            request.server->SetIp("127.0.0.1");
            request.server->SetPort(std::to_string(recorder_->port()));
            request.server->SetUser("admin");
            *request.selection = selection;
            RecordSelectionResult chosen;
            chosen.result = kDialogOk;
            chosen.source_mode = 1;
            return chosen;
        };
        dlg_->hooks.run_recorder_export = [this](const RecorderExportRequest& request) {
            exported_ = request.start_text + " - " + request.end_text;
            return 1;
        };
        dlg_->export_end_rest = rest;
        dlg_->OnInitDialog();
        dlg_->show();
        dlg_->OnOpen();
        ASSERT_TRUE(control_test::RunUntil([this] { return !dlg_->engine().RemoteOpenRunning(); }, 10000));
        ASSERT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kPlaying);
        dlg_->status_panel().SetCueIn(s);
        dlg_->status_panel().SetCueOut(e);
        dlg_->OnExportAvi();
        char range[96];
        std::snprintf(range, sizeof range, "%d,%d,%d,%.2d,%.2d,%.2d - %d,%d,%d,%.2d,%.2d,%.2d", d.year, d.month, d.day,
                      s / 3600, s / 60 % 60, s % 60, d.year, d.month, d.day, e / 3600, e / 60 % 60, e % 60);
        EXPECT_EQ(exported_, range);
    }

    control_test::ApplicationGuard app_;
    ProgramFolderCopy program_;
    TempFolder tmp_;
    TempFolder out_;
    SmallRecording recording_;
    std::unique_ptr<fake::FakeRecorder> recorder_;
    std::unique_ptr<CKestrelPlaybackDlg> dlg_;
    std::vector<std::string> boxes_;
    std::string exported_;
};

TEST_F(RecorderExportEndTest, TheWindowRunsWhileTheRecorderHoldsTheClosingRequest) {
    PlayAndExport((std::string("silent:") + kClosingRequest).c_str());
    ASSERT_TRUE(recorder_->WaitForHeld(1, 10000));
    EXPECT_EQ(recorder_->requests(kClosingRequest), 1);
    EXPECT_TRUE(WindowTicks());
    EXPECT_EQ(recorder_->requests_held(), 1);
    EXPECT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kStopped);
    // The close cuts the request short: its client goes.
    dlg_.reset();
    EXPECT_TRUE(control_test::RunUntil([this] { return recorder_->requests_held() == 0; }, 10000));
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(RecorderExportEndTest, AnsweringRecorderGetsTheClosingRequestOnce) {
    PlayAndExport("");
    ASSERT_TRUE(recorder_->WaitForRequests(kClosingRequest, 1, 10000));
    EXPECT_TRUE(WindowTicks());
    EXPECT_EQ(recorder_->requests(kClosingRequest), 1);
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(RecorderExportEndTest, TheClosingRequestWaitsOutTheRecordersRestAndTheCloseEndsIt) {
    // A rest no test could wait out: the window runs meanwhile, nothing is sent, and the close
    // returns at once (were the rest not cut short, the close would hold this test for ten minutes).
    PlayAndExport("", std::chrono::minutes(10));
    EXPECT_TRUE(WindowTicks());
    EXPECT_EQ(recorder_->requests(kClosingRequest), 0);
    dlg_.reset();
    EXPECT_EQ(recorder_->requests(kClosingRequest), 0);
    EXPECT_TRUE(boxes_.empty());
}

}  // namespace
