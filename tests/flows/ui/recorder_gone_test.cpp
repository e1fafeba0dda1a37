// A recorder that goes away while it plays, as a user meets it in the real main window: the
// build's fake recorder as its own process, stopped during playback; the lost connection is
// told, and a Play after it says that it could not start instead of showing "PLAY" over black
// views.
#include <gtest/gtest.h>

#include <QAbstractButton>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "mainwindow/ui/kestrel_playback_dlg.h"
#include "media/civil_date.h"
#include "media/http_get.h"
#include "media/ui/info_box.h"
#include "platform/message_box.h"
#include "tests/flows/ui/flow_support.h"
#include "tests/support/temp_folder.h"

using namespace kestrel_id;
using flow_test::Quoted;

namespace {

constexpr char kPassword[] = "s3cret";

class RecorderGoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        const flow_test::Run run =
            flow_test::RunCommand(install_.Tool("avdata-sample") + " " + Quoted(sample_.path()) + " --minutes 1 --seconds 30");
        ASSERT_EQ(run.status, 0) << run.out;
        recorder_ = std::make_unique<flow_test::FakeRecorderProcess>(install_.Tool("fake-recorder"), sample_.path(),
                                                                     "admin", kPassword);
        ASSERT_GT(recorder_->port(), 0);
        ui::InstallQtMessageBoxHandler();
    }
    void TearDown() override {
        dlg_.reset();
        platform::SetMessageBoxHandler(nullptr);
    }

    // What the record selection leaves after a login: a session and the recorder's first
    // recorded minute of today on channel 1.
    void OpenMainWindowOnTheRecorder() {
        const int port = recorder_->port();
        HttpGet login;
        ASSERT_EQ(login.Connect("127.0.0.1", "admin", kPassword, 3000, 0, port), 1);
        char reply[256] = {};
        ASSERT_EQ(login.Fetch("/play/getid", reply, sizeof reply), 1);
        ASSERT_EQ(std::strncmp(reply, "id=", 3), 0) << reply;
        const int session = std::atoi(reply + 3);
        const CivilDate today = TodayLocalDate();
        char path[160];
        std::snprintf(path, sizeof path, "/play/reclist?id=%d&start=0&recyear=%d&recmonth=%d&recday=%d", session,
                      today.year, today.month, today.day);
        std::memset(reply, 0, sizeof reply);
        ASSERT_EQ(login.Fetch(path, reply, sizeof reply), 1);
        // "total=N\nstart=0\nHHMMSSHHMMSS.." : the first record's start and end.
        const char* line = std::strstr(reply, "start=0\n");
        ASSERT_NE(line, nullptr) << reply;
        line += 8;
        const auto two = [line](int at) { return (line[at] - '0') * 10 + (line[at + 1] - '0'); };
        const int sh = two(0), sm = two(2), ss = two(4), eh = two(6), em = two(8), es = two(10);
        std::snprintf(path, sizeof path,
                      "/play/searchdata?id=%d&recstarttime=%d,%d,%d,%d,%d,%d&recendtime=%d,%d,%d,%d,%d,%d&avdevids=1,0,0,0",
                      session, today.year, today.month, today.day, sh, sm, ss, today.year, today.month, today.day, eh,
                      em, es);
        ASSERT_EQ(login.Fetch(path, reply, sizeof reply), 1);
        const SelectionBlock selection{today.year, today.month, today.day, sh, sm, ss, eh, em, es, 1, 0, 0, 0};
        dlg_ = flow_test::OpenMainWindow();
        dlg_->hooks.run_record_selection = [session, selection, port](const RecordSelectionRequest& request) {
            *request.session_id = session;
            request.server->SetIp("127.0.0.1");
            request.server->SetPort(std::to_string(port));
            request.server->SetUser("admin");
            request.server->SetPassword(kPassword);
            *request.selection = selection;
            RecordSelectionResult chosen;
            chosen.result = kDialogOk;
            chosen.source_mode = 1;
            return chosen;
        };
    }

    bool OpenEnded() {
        return flow_test::WaitFor([this] { return !dlg_->engine().RemoteOpenRunning(); }, 10000);
    }
    std::string State() const { return dlg_->info_box()->CurrentTexts().state; }

    control_test::ApplicationGuard app_;
    flow_test::FreshInstall install_;
    TempFolder sample_;
    std::unique_ptr<flow_test::FakeRecorderProcess> recorder_;
    flow_test::ModalDriver driver_;
    std::unique_ptr<CKestrelPlaybackDlg> dlg_;
};

TEST_F(RecorderGoneTest, PlayAfterTheRecorderWentAwaySaysItCouldNotStart) {
    OpenMainWindowOnTheRecorder();
    if (HasFatalFailure()) return;
    dlg_->OnOpen();
    ASSERT_TRUE(OpenEnded());
    PlaybackEngine& engine = dlg_->engine();
    ASSERT_EQ(engine.Status().play_state, PlaybackEngine::kPlaying);
    ASSERT_TRUE(flow_test::WaitFor([this] { return dlg_->grid().Viewer(0)->HasVideo(); }, 10000));
    EXPECT_EQ(State(), "PLAY");

    // The recorder's process ends: the next status poll fails and says so.
    recorder_.reset();
    ASSERT_TRUE(flow_test::WaitFor([&] { return driver_.BoxCount() >= 1; }, 10000));
    EXPECT_EQ(driver_.TakeBoxes(), std::vector<std::string>{"Communication with the NVR has been interrupted."});
    EXPECT_EQ(engine.Status().play_state, PlaybackEngine::kStopped);
    ASSERT_TRUE(dlg_->Control(kPlay)->isEnabled());

    // Play: the start cannot reach the recorder; the window says so and stays stopped.
    qobject_cast<QAbstractButton*>(dlg_->Control(kPlay))->click();
    ASSERT_TRUE(OpenEnded());
    ASSERT_TRUE(flow_test::WaitFor([&] { return driver_.BoxCount() >= 1; }, 5000));
    EXPECT_EQ(driver_.TakeBoxes(), std::vector<std::string>{"Connection failed!"});
    EXPECT_EQ(engine.Status().play_state, PlaybackEngine::kStopped);
    EXPECT_EQ(State(), "STOP");
    EXPECT_FALSE(engine.ReceiverRunning());
    EXPECT_TRUE(dlg_->Control(kPlay)->isEnabled());
    EXPECT_FALSE(dlg_->Control(kPause)->isEnabled());
    EXPECT_FALSE(dlg_->status_timer_active());
}

}  // namespace
