// Remote playback against the fake recorder serving a small disk copy.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

#include "media/playback_engine.h"
#include "platform/message_box.h"
#include "tests/support/playback_fakes.h"
#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"
#include "tools/common/fake_recorder.h"

namespace {

class RemotePlaybackTest : public ::testing::Test {
protected:
    void SetUp() override {
        recording_.seconds = 6;
        ASSERT_FALSE(WriteSmallRecording(tmp_.path(), recording_).empty());
        previous_ = platform::SetMessageBoxHandler([this](const std::string& text, const std::string&, int) {
            messages_.push_back(text);
            return platform::kIdOk;
        });
    }
    void TearDown() override { platform::SetMessageBoxHandler(previous_); }

    std::unique_ptr<PlaybackEngine> Engine(fake::FaultKind fault = fake::FaultKind::kNone,
                                           const RemoteStreamTiming& timing = {}) {
        fake::FakeRecorderOptions options;
        options.data_folder = tmp_.path();
        options.fault.kind = fault;
        options.fault.seconds = 1;
        std::string error;
        recorder_ = std::make_unique<fake::FakeRecorder>();
        EXPECT_TRUE(recorder_->Start(options, &error)) << error;
        auto engine = std::make_unique<PlaybackEngine>(&window_, &panel_,
                                                       std::array<ViewerSink*, 4>{&viewers_[0], &viewers_[1],
                                                                                  &viewers_[2], &viewers_[3]},
                                                       timing);
        engine->SetSourceMode(1);
        server_ = ServerConnectionRecord();
        server_.SetIp("127.0.0.1");
        server_.SetPort(std::to_string(recorder_->port()));
        server_.SetUser("admin");
        // The record selection's login, on a connection of its own.
        login_.Connect("127.0.0.1", "admin", "", 3000, 0, recorder_->port());
        char reply[128] = {};
        int session = -1;
        if (login_.Fetch("/play/getid", reply, sizeof reply) && reply[0] == 'i') session = std::atoi(reply + 3);
        engine->SetRecorder(server_, session);
        EXPECT_EQ(engine->ConnectRecorder(), 1);
        engine->SetRecorderRange(Range({1, 1, 0, 0}));
        return engine;
    }
    RecorderRange Range(std::array<int, 4> channels) const {
        const CivilDate& d = recording_.date;
        return {d.year, d.month, d.day, recording_.start_second, recording_.start_second + recording_.seconds - 1,
                channels};
    }

    TempFolder tmp_;
    SmallRecording recording_;
    std::unique_ptr<fake::FakeRecorder> recorder_;
    ServerConnectionRecord server_;
    HttpGet login_;
    FakePlaybackWindow window_;
    FakeStatusPanel panel_;
    FakeViewer viewers_[4];
    std::vector<std::string> messages_;
    platform::MessageBoxHandler previous_;
};

bool WaitFor(const std::function<bool()>& done, int timeout_ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

TEST_F(RemotePlaybackTest, PlaysTheSelectedChannelsAndFollowsTheRecorder) {
    auto engine = Engine();
    ASSERT_GE(engine->Status().session_id, 0);
    ASSERT_EQ(engine->StartRemotePlayback(), 1);
    ASSERT_TRUE(DeliverRemoteOpen(*engine, window_));
    ASSERT_TRUE(engine->ReceiverRunning());
    EXPECT_EQ(engine->Status().play_state, PlaybackEngine::kPlaying);
    EXPECT_EQ(window_.layout, 2);
    EXPECT_EQ(window_.selected_viewer, 0);
    EXPECT_TRUE(window_.timer_running);
    EXPECT_EQ(window_.buttons, PlaybackEngine::kPlaying);
    EXPECT_EQ(engine->Status().stream_request,
              "/play/mav/nvrprofilestream?id=" + std::to_string(engine->Status().session_id) + "&avdevid=1,1,0,0&profile=1");
    ASSERT_TRUE(WaitFor([&] { return viewers_[0].frames() > 2 && viewers_[1].frames() > 2; }, 5000));
    EXPECT_EQ(viewers_[2].frames(), 0);
    EXPECT_EQ(viewers_[0].camera_name(), "Front");
    // The status poll follows the recorder's clock.
    ASSERT_TRUE(WaitFor(
        [&] {
            engine->OnTimer();
            return engine->Status().remote_current > recording_.start_second;
        },
        4000));
    EXPECT_EQ(panel_.status(), "PLAY");
    EXPECT_GT(engine->Status().slider_position, 0);
    engine->OnStop();
    EXPECT_FALSE(engine->ReceiverRunning());
    EXPECT_EQ(window_.buttons, PlaybackEngine::kStopped);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(RemotePlaybackTest, OneChannelAsksForTheSmallProfile) {
    auto engine = Engine();
    engine->SetRecorderRange(Range({0, 1, 0, 0}));
    ASSERT_EQ(engine->StartRemotePlayback(), 1);
    ASSERT_TRUE(DeliverRemoteOpen(*engine, window_));
    EXPECT_EQ(window_.layout, 1);
    EXPECT_EQ(window_.selected_viewer, 1);
    EXPECT_NE(engine->Status().stream_request.find("avdevid=0,1,0,0&profile=0"), std::string::npos);
    EXPECT_FALSE(engine->Status().workers[0].running);
    EXPECT_TRUE(engine->Status().workers[1].running);
    engine->OnStop();
}

TEST_F(RemotePlaybackTest, RefusedStarts) {
    {
        auto engine = Engine(fake::FaultKind::kUnavailable);
        ASSERT_EQ(engine->StartRemotePlayback(), 1);
        ASSERT_TRUE(DeliverRemoteOpen(*engine, window_));
        EXPECT_FALSE(engine->ReceiverRunning());  // 503 on the stream: silently refused
        EXPECT_EQ(engine->Status().play_state, PlaybackEngine::kStopped);
        recorder_->Stop();
    }
    {
        auto engine = Engine();
        engine->SetRecorder(server_, -1);
        window_.timer_running = false;
        ASSERT_EQ(engine->StartRemotePlayback(), 1);
        ASSERT_TRUE(DeliverRemoteOpen(*engine, window_));
        EXPECT_FALSE(engine->ReceiverRunning());
        EXPECT_FALSE(window_.timer_running);  // refused before anything started
        ServerConnectionRecord nowhere = server_;
        nowhere.SetIp("");
        engine->SetRecorder(nowhere, -1);
        EXPECT_EQ(engine->StartRemotePlayback(), 0);
        EXPECT_FALSE(engine->RemoteOpenRunning());
        recorder_->Stop();
    }
    EXPECT_TRUE(messages_.empty());
}

// The open from the record selection: the recorder's position is where the range starts, the
// selection's end where it ends, and its rows are the channels.
TEST_F(RemotePlaybackTest, OpenFromTheSelectionStartsAtTheRecordersPosition) {
    auto engine = Engine();
    engine->SetRecorderRange({});
    const int end = recording_.start_second + recording_.seconds - 1;
    const CivilDate& d = recording_.date;
    const std::array<int, 13> selection{d.year, d.month, d.day, 0, 0, 0, end / 3600, end / 60 % 60, end % 60,
                                        0, 1, 0, 0};
    // The record selection's search leaves the recorder at the start of the recording.
    const int start = recording_.start_second;
    char search[256], reply[64];
    std::snprintf(search, sizeof search,
                  "/play/searchdata?id=%d&recstarttime=%d,%d,%d,%d,%d,%d&recendtime=%d,%d,%d,%d,%d,%d&avdevids=0,1,0,0",
                  engine->Status().session_id, d.year, d.month, d.day, start / 3600, start / 60 % 60, start % 60, d.year, d.month,
                  d.day, end / 3600, end / 60 % 60, end % 60);
    ASSERT_EQ(login_.Fetch(search, reply, sizeof reply), 1);
    engine->StartRecorderPlayback(selection);
    ASSERT_TRUE(DeliverRemoteOpen(*engine, window_));
    ASSERT_TRUE(engine->ReceiverRunning());
    EXPECT_EQ(engine->Status().range_start, start);
    EXPECT_EQ(engine->Status().range_end, end);
    EXPECT_EQ(engine->Status().range_length, end - start);
    EXPECT_EQ(engine->Status().remote_current, start);
    EXPECT_EQ(engine->Status().channel_selected, (std::array<int, 4>{0, 1, 0, 0}));
    EXPECT_EQ(window_.layout, 1);
    EXPECT_EQ(window_.selected_viewer, 1);
    EXPECT_EQ(engine->Status().stream_request,
              "/play/mav/nvrprofilestream?id=" + std::to_string(engine->Status().session_id) + "&avdevid=0,1,0,0&profile=0");
    EXPECT_EQ(panel_.times().back(), "14: 7: 0");
    ASSERT_TRUE(WaitFor([&] { return viewers_[1].frames() > 0; }, 5000));
    engine->OnStop();
    EXPECT_TRUE(messages_.empty());
}

TEST_F(RemotePlaybackTest, SilentStreamIsRequestedAgain) {
    // The waits after a re-send a minute each: a stop within a fraction of it ended them,
    // however loaded the machine.
    constexpr int kLongMs = 60000;
    RemoteStreamTiming timing;
    timing.resend_wait_ms = kLongMs;
    timing.receive_timeout_ms = kLongMs;
    auto engine = Engine(fake::FaultKind::kStallAfter, timing);
    ASSERT_EQ(engine->StartRemotePlayback(), 1);
    ASSERT_TRUE(DeliverRemoteOpen(*engine, window_));
    ASSERT_TRUE(engine->ReceiverRunning());
    const int started = recorder_->streams_started();
    // After about 1.6 s of silence the stored request goes out again.
    EXPECT_TRUE(WaitFor([&] { return recorder_->streams_started() > started; }, 30000));
    const auto begun = std::chrono::steady_clock::now();
    engine->OnStop();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::milliseconds(kLongMs / 6));
}

TEST_F(RemotePlaybackTest, StatusReplyParsing) {
    auto engine = Engine();
    ASSERT_EQ(engine->PollRemoteStatus(), 1);
    EXPECT_NE(engine->Status().remote_playop, 1);  // nothing plays yet
    ASSERT_EQ(engine->StartRemotePlayback(), 1);
    ASSERT_TRUE(DeliverRemoteOpen(*engine, window_));
    ASSERT_EQ(engine->Status().play_state, PlaybackEngine::kPlaying);
    engine->SetRecorder(server_, 999);  // the recorder answers 400 without the keys
    EXPECT_EQ(engine->PollRemoteStatus(), 0);
    // The poll runs on a worker: a later tick applies its failure.
    ASSERT_TRUE(WaitFor(
        [&] {
            engine->OnTimer();
            return window_.Count(WM_CONNECTION_LOST) > 0;
        },
        4000));
    EXPECT_EQ(window_.Count(WM_CONNECTION_LOST), 1);
    EXPECT_EQ(engine->Status().play_state, PlaybackEngine::kStopped);
}

}  // namespace
