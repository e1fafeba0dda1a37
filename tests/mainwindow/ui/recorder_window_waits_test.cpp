// Every transport command of the real main window, and the export from the recorder with its
// end, against a recorder that takes the command's request and never answers it: no request,
// read or fetch runs on the window thread (each is counted where it is made), the window runs
// its events while the request is held, and the command's state shows at once.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "export/ui/avi_export_dlg.h"
#include "export/ui/avi_dump_dlg.h"
#include "mainwindow/ui/kestrel_playback_dlg.h"
#include "mainwindow/ui/my_slider.h"
#include "media/http_get.h"
#include "media/ui/info_box.h"
#include "media/ui/ui_services.h"
#include "platform/message_box.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/support/program_folder_copy.h"
#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"
#include "tools/common/fake_recorder.h"

namespace {

using namespace kestrel_id;

// True once the window thread has run an event posted now.
bool WindowRunsEvents() {
    bool ran = false;
    QTimer::singleShot(0, [&ran] { ran = true; });
    return control_test::RunUntil([&ran] { return ran; }, 5000);
}

class RecorderWindowWaitsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::SetScreenSizeSource([] { return QSize(1280, 1024); });
        platform::SetMessageBoxHandler([this](const std::string& text, const std::string&, int) {
            boxes_.push_back(text);
            return platform::kIdOk;
        });
        recording_.seconds = 30;
        ASSERT_FALSE(WriteSmallRecording(tmp_.path(), recording_).empty());
        HttpGet::WatchThread(std::this_thread::get_id());
    }
    void TearDown() override {
        dlg_.reset();
        export_.reset();
        if (recorder_) recorder_->Stop();
        HttpGet::WatchThread(std::thread::id());
        platform::SetMessageBoxHandler(nullptr);
        ui::SetScreenSizeSource(nullptr);
    }

    void StartRecorder(const std::string& fault) {
        recorder_ = std::make_unique<fake::FakeRecorder>();
        fake::FakeRecorderOptions options;
        options.data_folder = tmp_.path();
        if (!fault.empty()) {
            ASSERT_TRUE(fake::ParseFault(fault, &options.fault)) << fault;
        }
        std::string error;
        ASSERT_TRUE(recorder_->Start(options, &error)) << error;
        // The record selection's login and search, done by the test off the watch.
        std::thread login([this] {
            HttpGet http;
            http.SetReceiveTimeout(300);
            http.Connect("127.0.0.1", "admin", "", 3000, 0, recorder_->port());
            char reply[128] = {};
            if (http.Fetch("/play/getid", reply, sizeof reply) && std::strncmp(reply, "id=", 3) == 0)
                session_ = std::atoi(reply + 3);
            const CivilDate& d = recording_.date;
            const int s = recording_.start_second, e = s + recording_.seconds - 1;
            char search[256];
            std::snprintf(search, sizeof search,
                          "/play/searchdata?id=%d&recstarttime=%d,%d,%d,%d,%d,%d&recendtime=%d,%d,%d,%d,%d,%d&avdevids=1,0,0,0",
                          session_, d.year, d.month, d.day, s / 3600, s / 60 % 60, s % 60, d.year, d.month, d.day,
                          e / 3600, e / 60 % 60, e % 60);
            http.Fetch(search, reply, sizeof reply);
        });
        login.join();
    }

    // The main window playing channel 1 of the recording from the recorder; replies cut at reply_ms.
    void OpenMainWindow(int reply_ms = 1500) {
        const CivilDate& d = recording_.date;
        const int s = recording_.start_second, e = s + recording_.seconds - 1;
        const SelectionBlock selection{d.year, d.month, d.day, s / 3600, s / 60 % 60, s % 60, e / 3600, e / 60 % 60,
                                       e % 60, 1, 0, 0, 0};
        dlg_ = std::make_unique<CKestrelPlaybackDlg>();
        const int session = session_;
        const int port = recorder_->port();
        dlg_->hooks.run_record_selection = [session, selection, port](const RecordSelectionRequest& request) {
            *request.session_id = session;
            request.server->SetIp("127.0.0.1");
            request.server->SetPort(std::to_string(port));
            request.server->SetUser("admin");
            *request.selection = selection;
            RecordSelectionResult chosen;
            chosen.result = kDialogOk;
            chosen.source_mode = 1;
            return chosen;
        };
        dlg_->OnInitDialog();
        dlg_->show();
        RemoteStreamTiming timing;
        timing.receive_timeout_ms = reply_ms;
        timing.control_receive_timeout_ms = reply_ms;
        dlg_->engine().SetTiming(timing);
    }
    bool OpenEnded() {
        return control_test::RunUntil([this] { return !dlg_->engine().RemoteOpenRunning(); }, 10000);
    }
    std::string State() const { return dlg_->info_box()->CurrentTexts().state; }

    control_test::ApplicationGuard app_;
    ProgramFolderCopy program_;
    TempFolder tmp_;
    SmallRecording recording_;
    std::unique_ptr<fake::FakeRecorder> recorder_;
    int session_ = 0;
    std::unique_ptr<CKestrelPlaybackDlg> dlg_;
    std::unique_ptr<CAviExportDlg> export_;
    std::vector<std::string> boxes_;
};

TEST_F(RecorderWindowWaitsTest, TransportCommandsNeverWaitOnTheRecorder) {
    struct Case {
        const char* name;
        const char* stalled;  // the request the recorder takes and never answers
        std::function<void(CKestrelPlaybackDlg&)> command;
        const char* state;  // shown at once
    };
    const Case cases[] = {
        {"pause", "/play/oppause", [](CKestrelPlaybackDlg& d) { d.OnPause(); }, "PAUSE"},
        {"play from pause", "/play/opplay",
         [](CKestrelPlaybackDlg& d) {
             d.OnPause();
             d.OnPlay();
         },
         "PLAY"},
        {"speed up", "/play/speedup", [](CKestrelPlaybackDlg& d) { d.OnSpeedUp(); }, "PLAY"},
        {"speed down", "/play/speeddown", [](CKestrelPlaybackDlg& d) { d.OnSpeedDown(); }, "PLAY"},
        {"jump", "/play/timejump", [](CKestrelPlaybackDlg& d) { d.OnStepForward(); }, "PLAY"},
        {"slider", "/play/timeslider",
         [](CKestrelPlaybackDlg& d) {
             d.time_slider()->setValue(d.time_slider()->maximum() / 2);
             d.OnHScroll(0);
         },
         "PLAY"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StartRecorder(std::string("silent:") + c.stalled);
        OpenMainWindow();
        boxes_.clear();
        HttpGet::WatchThread(std::this_thread::get_id());
        dlg_->OnOpen();
        ASSERT_TRUE(OpenEnded());
        ASSERT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kPlaying);
        ASSERT_TRUE(control_test::RunUntil([this] { return dlg_->grid().Viewer(0)->HasVideo(); }, 5000));
        const int before = recorder_->requests(c.stalled);
        c.command(*dlg_);
        EXPECT_EQ(State(), c.state);
        // The request reached the recorder, which holds it, and the window goes on.
        EXPECT_TRUE(control_test::RunUntil([&] { return recorder_->requests(c.stalled) > before; }, 5000));
        EXPECT_TRUE(WindowRunsEvents());
        dlg_->OnStop();
        EXPECT_TRUE(WindowRunsEvents());
        EXPECT_EQ(HttpGet::CallsOnWatchedThread(), 0);
        EXPECT_EQ(boxes_, std::vector<std::string>{});
        dlg_.reset();
        recorder_->Stop();
    }
}

// Stop while the status poll's reply never ends, and a layout change, whose half second of
// rest for the recorder between two streams is kept on the receiver: here a rest far longer
// than the test, which the window never waits out and Stop cuts short.
TEST_F(RecorderWindowWaitsTest, StopAndLayoutChangeNeverWaitOnTheRecorder) {
    for (const bool layout : {false, true}) {
        SCOPED_TRACE(layout ? "layout change" : "stop during the poll");
        StartRecorder(layout ? "" : "endless:/play/opstatus");
        // Every status reply never ends: each poll holds its request for the whole deadline, and
        // the open's takes the text that came by then.
        OpenMainWindow(2000);
        RemoteStreamTiming timing;
        timing.receive_timeout_ms = 2000;
        timing.control_receive_timeout_ms = 2000;
        timing.layout_rest_ms = 600000;
        dlg_->engine().SetTiming(timing);
        HttpGet::WatchThread(std::this_thread::get_id());
        dlg_->OnOpen();
        ASSERT_TRUE(OpenEnded());
        ASSERT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kPlaying);
        ASSERT_TRUE(control_test::RunUntil([this] { return dlg_->grid().Viewer(0)->HasVideo(); }, 5000));
        if (layout) {
            const int streams = recorder_->requests("/play/mav");
            dlg_->OnView1x1();
            EXPECT_TRUE(WindowRunsEvents());
            EXPECT_EQ(recorder_->requests("/play/mav"), streams);  // still resting, on the receiver
            EXPECT_TRUE(dlg_->engine().ReceiverRunning());
        } else {
            // A poll in flight: its reply never ends.
            ASSERT_TRUE(control_test::RunUntil([this] { return recorder_->requests("/play/opstatus") >= 2; }, 10000));
            ASSERT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kPlaying);
        }
        dlg_->OnStop();
        EXPECT_EQ(State(), "STOP");
        EXPECT_FALSE(dlg_->engine().ReceiverRunning());
        EXPECT_TRUE(WindowRunsEvents());
        EXPECT_EQ(HttpGet::CallsOnWatchedThread(), 0);
        dlg_.reset();
        recorder_->Stop();
    }
}

// The export from the recorder, its stream request held unanswered: the progress window runs,
// closing it ends the channel (download cut short, file closed) without a request or a pause
// on the window thread.
TEST_F(RecorderWindowWaitsTest, ExportAndItsEndNeverWaitOnTheRecorder) {
    for (const char* fault : {"silent:/play/mav", "silent:/play/backup", "stall-after=0"}) {
        SCOPED_TRACE(fault);
        StartRecorder(fault);
        HttpGet::WatchThread(std::this_thread::get_id());
        export_ = std::make_unique<CAviExportDlg>();
        CAviExportDlg& d = *export_;
        d.cue_in_second = recording_.start_second;
        d.cue_out_second = recording_.start_second + 5;
        d.year = recording_.date.year;
        d.month = recording_.date.month;
        d.day = recording_.date.day;
        d.server.SetIp("127.0.0.1");
        d.server.SetUser("admin");
        d.server.SetPort(std::to_string(recorder_->port()));
        d.session_id = session_;
        d.duration = 5;
        d.channel_flags = {1, 0, 0, 0};
        RemoteExportTimings timings;  // the program's, but for a tear-down rest far longer than the test
        timings.download_start_ms = 0;
        timings.between_requests_ms = 0;
        timings.teardown_ms = 600000;
        d.engine().SetTimings(timings);
        const std::string out = tmp_.Sub("out");
        std::filesystem::create_directories(out);
        d.OnInitDialog();
        d.set_output_folder(out);
        d.show();
        d.ChannelBox(0)->setChecked(true);
        d.FormatList()->setCurrentIndex(1);
        const char* stalled = std::string(fault) == "silent:/play/backup" ? "/play/backup" : "/play/mav";
        bool closed = false;
        QTimer watch;
        watch.setInterval(10);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            CAVIDumpDlg& progress = d.progress_dialog();
            // Held by the recorder: the user gives up and closes the progress window.
            if (!closed && progress.isVisible() && recorder_->requests(stalled) >= 1) {
                closed = true;
                progress.reject();
            }
        });
        watch.start();
        d.ok_button()->click();  // returns once the export has ended
        watch.stop();
        EXPECT_TRUE(closed);
        EXPECT_TRUE(WindowRunsEvents());
        EXPECT_EQ(HttpGet::CallsOnWatchedThread(), 0);
        export_.reset();
        recorder_->Stop();
        std::filesystem::remove_all(out);
    }
}

}  // namespace
