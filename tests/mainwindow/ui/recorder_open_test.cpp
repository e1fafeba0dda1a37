// Open on a recorder in the real main window, against a recorder whose replies stall: the
// window thread keeps running its events (no gap over 100 ms, measured by a 10 ms timer on
// it), the open ends as the recorder's answers deserve, and Stop during the open returns at once.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
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
#include "tests/support/window_gap.h"
#include "tools/common/fake_recorder.h"

namespace {

using namespace kestrel_id;

using window_gap::WindowGap;

class RecorderOpenTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::SetScreenSizeSource([] { return QSize(1280, 1024); });
        platform::SetMessageBoxHandler([this](const std::string& text, const std::string&, int) {
            boxes_.push_back(text);
            return platform::kIdOk;
        });
        ASSERT_FALSE(WriteSmallRecording(tmp_.path(), recording_).empty());
    }
    void TearDown() override {
        dlg_.reset();
        if (recorder_) recorder_->Stop();
        platform::SetMessageBoxHandler(nullptr);
        ui::SetScreenSizeSource(nullptr);
    }

    // The recorder with its fault, and the main window whose record selection logs in, searches
    // the recording and writes back channel 1 up to its end; replies are cut at reply_ms.
    void Start(const char* fault, int reply_ms) {
        recorder_ = std::make_unique<fake::FakeRecorder>();
        fake::FakeRecorderOptions options;
        options.data_folder = tmp_.path();
        if (*fault) {
            ASSERT_TRUE(fake::ParseFault(fault, &options.fault)) << fault;
        }
        std::string error;
        ASSERT_TRUE(recorder_->Start(options, &error)) << error;
        // What the record selection leaves: a session, the recorder at the start of the
        // recording, channel 1 chosen up to its end. Done before the open; a fault, if any, is
        // the open's to meet.
        HttpGet login;
        login.SetReceiveTimeout(300);
        login.Connect("127.0.0.1", "admin", "", 3000, 0, recorder_->port());
        char reply[128] = {};
        int session = -1;
        if (login.Fetch("/play/getid", reply, sizeof reply) && std::strncmp(reply, "id=", 3) == 0)
            session = std::atoi(reply + 3);
        const CivilDate& d = recording_.date;
        const int s = recording_.start_second, e = recording_.start_second + recording_.seconds - 1;
        char search[256];
        std::snprintf(search, sizeof search,
                      "/play/searchdata?id=%d&recstarttime=%d,%d,%d,%d,%d,%d&recendtime=%d,%d,%d,%d,%d,%d&avdevids=1,0,0,0",
                      session, d.year, d.month, d.day, s / 3600, s / 60 % 60, s % 60, d.year, d.month, d.day, e / 3600,
                      e / 60 % 60, e % 60);
        login.Fetch(search, reply, sizeof reply);
        const SelectionBlock selection{d.year, d.month, d.day, s / 3600, s / 60 % 60, s % 60, e / 3600, e / 60 % 60,
                                       e % 60, 1, 0, 0, 0};
        dlg_ = std::make_unique<CKestrelPlaybackDlg>();
        dlg_->hooks.run_record_selection = [this, session, selection](const RecordSelectionRequest& request) {
            *request.session_id = session;
            request.server->SetIp("127.0.0.1");
            request.server->SetPort(std::to_string(recorder_->port()));
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
        return control_test::RunUntil([this] { return !dlg_->engine().RemoteOpenRunning(); }, 30000);
    }

    control_test::ApplicationGuard app_;
    ProgramFolderCopy program_;
    TempFolder tmp_;
    SmallRecording recording_;
    std::unique_ptr<fake::FakeRecorder> recorder_;
    std::unique_ptr<CKestrelPlaybackDlg> dlg_;
    std::vector<std::string> boxes_;
};

TEST_F(RecorderOpenTest, TheWindowKeepsRunningWhileTheRecorderStalls) {
    enum End { kPlays, kMessage, kNothing };
    struct Case {
        const char* fault;
        End end;
    } cases[] = {
        {"endless:/play/getid", kPlays},           // the session's text came; the deadline ends the reply
        {"trickle=100:/play/opstatus", kNothing},  // cut before the status keys
        {"silent:/play/searchdata", kMessage},     // the search got no reply
        {"", kPlays},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        Start(c.fault, 400);
        boxes_.clear();
        int64_t gap = 0;
        {
            WindowGap window;
            dlg_->OnOpen();
            ASSERT_TRUE(OpenEnded());
            gap = window.longest();
        }
        EXPECT_LT(gap, 100);
        PlaybackEngine& engine = dlg_->engine();
        EXPECT_EQ(engine.Status().play_state, c.end == kPlays ? PlaybackEngine::kPlaying : PlaybackEngine::kStopped);
        EXPECT_EQ(engine.ReceiverRunning(), c.end == kPlays);
        EXPECT_EQ(dlg_->Control(kPlay)->isEnabled(), c.end != kPlays);
        EXPECT_EQ(dlg_->Control(kPause)->isEnabled(), c.end == kPlays);
        EXPECT_EQ(boxes_, c.end == kMessage ? std::vector<std::string>{"Failed to send http request to NVR"}
                                            : std::vector<std::string>{});
        if (c.end == kPlays) {
            EXPECT_TRUE(control_test::RunUntil([this] { return dlg_->grid().Viewer(0)->HasVideo(); }, 30000));
        }
        dlg_.reset();
        recorder_->Stop();
    }
}

// Stop while the open waits on a recorder that does not answer: it returns at once, and the
// open's late completion starts nothing. The reply deadline is a minute, so a stop within a
// fraction of it ended the wait itself, however loaded the machine.
TEST_F(RecorderOpenTest, StopDuringTheOpenReturnsAtOnce) {
    constexpr int kReplyMs = 60000;
    Start("silent:/play/opstatus", kReplyMs);
    dlg_->OnOpen();
    ASSERT_TRUE(control_test::RunUntil([this] { return recorder_->requests("/play/opstatus") >= 1; }, 30000));
    QElapsedTimer stop;
    stop.start();
    dlg_->OnStop();
    EXPECT_LT(stop.elapsed(), kReplyMs / 6);
    EXPECT_FALSE(dlg_->engine().RemoteOpenRunning());
    control_test::DeliverPosted();
    EXPECT_EQ(dlg_->engine().Status().play_state, PlaybackEngine::kStopped);
    EXPECT_FALSE(dlg_->engine().ReceiverRunning());
    EXPECT_TRUE(dlg_->Control(kPlay)->isEnabled());
    EXPECT_FALSE(dlg_->status_timer_active());
    EXPECT_TRUE(boxes_.empty());
}

}  // namespace
