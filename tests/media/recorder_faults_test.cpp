// The recorder paths against a failing or hostile recorder: each keeps the
// recorder's pace (no request storm), reaches its end state within its
// deadline, keeps its memory bounded and stops at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "export/remote_export.h"
#include "media/playback_engine.h"
#include "media/preview_stream_engine.h"
#include "platform/message_box.h"
#include "sources/record_selection_engine.h"
#include "tests/support/playback_fakes.h"
#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"
#include "tests/support/held_time.h"
#include "tools/common/fake_recorder.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

long RssKb() {
    FILE* f = std::fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * 4;
}

bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The stream faults: an ended reply, refusals, an error page, a byte every 40 ms, silence,
// a connection that breaks and then refuses, a 200 whose body never comes.
const char* const kStreamFaults[] = {"end-after=0",          "unauthorized:/play/mav", "redirect:/play/mav",
                                     "error-page:/play/mav", "trickle=40:/play/mav",  "stall-after=0",
                                     "drop-after=0",         "partial:/play/mav"};

// The intervals shortened: 10 ms an empty read, so 160 ms of silence, and 100 ms
// between refused re-sends; nothing may come faster than one request per 100 ms.
constexpr int kEmptyReadMs = 10;
constexpr int kResendWaitMs = 100;
// A recording the recorder plays for longer than a test's ticks and requests last.
constexpr int kLongRecordingSeconds = 20;
constexpr int kMinRequestGapMs = 100;
// Where playback pictures must come, the silence is 400 ms, twice the widest gap between two
// packets of the sample stream (each second's audio and five pictures). A silence shorter than
// that gap re-sends inside every second, and the re-sent request starts the second again with
// its audio: its next picture would never come.
constexpr int kStreamingEmptyReadMs = 25;

// A stop is told from the waits it must end by making them last a minute: one that returns
// within a fraction of it ended them, however loaded the machine.
constexpr int kMinuteMs = 60000;
constexpr int kStopBoundMs = kMinuteMs / 6;

class RecorderFaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        recording_.seconds = 4;
        ASSERT_FALSE(WriteSmallRecording(tmp_.path(), recording_).empty());
        previous_ = platform::SetMessageBoxHandler([](const std::string&, const std::string&, int) {
            return platform::kIdOk;
        });
    }
    void TearDown() override { platform::SetMessageBoxHandler(previous_); }

    void StartRecorder(const std::string& fault) {
        recorder_ = std::make_unique<fake::FakeRecorder>();
        fake::FakeRecorderOptions options;
        options.data_folder = tmp_.path();
        if (!fault.empty()) {
            ASSERT_TRUE(fake::ParseFault(fault, &options.fault)) << fault;
        }
        std::string error;
        ASSERT_TRUE(recorder_->Start(options, &error)) << error;
        HttpGet control;
        ASSERT_EQ(control.Connect("127.0.0.1", "admin", "", 3000, 0, recorder_->port()), 1);
        // Long enough for a session id that trickles or whose reply never ends; a recorder
        // that never answers gives none (session 0).
        control.SetReceiveTimeout(600);
        char reply[128] = {};
        session_ = 0;
        if (control.Fetch("/play/getid", reply, sizeof reply) == 1 && std::strncmp(reply, "id=", 3) == 0)
            session_ = std::atoi(reply + 3);
        control.Fetch(Search(), reply, sizeof reply);
    }
    std::string Search() const {
        const int s = recording_.start_second;
        char path[200];
        std::snprintf(path, sizeof path,
                      "/play/searchdata?id=%d&recstarttime=%d,%d,%d,%d,%d,%d&recendtime=%d,%d,%d,%d,%d,%d&avdevids=1,0,0,0",
                      session_, recording_.date.year, recording_.date.month, recording_.date.day, s / 3600, s / 60 % 60,
                      s % 60, recording_.date.year, recording_.date.month, recording_.date.day, (s + 3) / 3600,
                      (s + 3) / 60 % 60, (s + 3) % 60);
        return path;
    }
    // No more stream requests than one per kMinRequestGapMs since the start, and the first.
    void ExpectPace(int64_t elapsed_ms) const {
        const int requests = recorder_->requests("/play/mav");
        EXPECT_LE(requests, elapsed_ms / kMinRequestGapMs + 2) << "in " << elapsed_ms << " ms";
    }

    // An engine on the recorder as the record selection leaves it: session, range (seconds
    // from the recording's start), channel 1; replies cut at reply_ms, the receiver paced by timing.
    std::unique_ptr<PlaybackEngine> OpenEngine(FakePlaybackWindow& window, FakeStatusPanel& panel, FakeViewer* viewers,
                                               int reply_ms, RemoteStreamTiming timing = {}, int seconds = 3) const {
        timing.receive_timeout_ms = reply_ms;
        timing.control_receive_timeout_ms = reply_ms;
        auto engine = std::make_unique<PlaybackEngine>(
            &window, &panel, std::array<ViewerSink*, 4>{&viewers[0], &viewers[1], &viewers[2], &viewers[3]}, timing);
        engine->SetSourceMode(1);
        ServerConnectionRecord server;
        server.SetIp("127.0.0.1");
        server.SetPort(std::to_string(recorder_->port()));
        server.SetUser("admin");
        engine->SetRecorder(server, session_);
        const CivilDate& d = recording_.date;
        engine->SetRecorderRange(
            {d.year, d.month, d.day, recording_.start_second, recording_.start_second + seconds, {1, 0, 0, 0}});
        EXPECT_EQ(engine->ConnectRecorder(), 1);
        return engine;
    }
    // The receiver's pace: an empty read and the wait after a refused re-send.
    static RemoteStreamTiming Paced(int empty_read_ms, int resend_wait_ms) {
        RemoteStreamTiming timing;
        timing.empty_read_ms = empty_read_ms;
        timing.resend_wait_ms = resend_wait_ms;
        return timing;
    }
    // A recorder playback under way: stopped, then Play, as the window does after an open.
    static void PlayFromStopped(PlaybackEngine& engine, FakePlaybackWindow& window) {
        engine.OnStop();
        engine.OnPlay();
        ASSERT_TRUE(DeliverRemoteOpen(engine, window));
        ASSERT_EQ(engine.Status().play_state, PlaybackEngine::kPlaying);
    }
    // The open from the record selection (its block: the range's day and end, channel 1), or
    // Play from stopped.
    void Open(PlaybackEngine& engine, bool from_selection) const {
        if (from_selection) {
            const CivilDate& d = recording_.date;
            const int end = recording_.start_second + 3;
            engine.StartRecorderPlayback({d.year, d.month, d.day, 0, 0, 0, end / 3600, end / 60 % 60, end % 60, 1, 0, 0, 0});
        } else {
            engine.OnPlay();
        }
    }
    // Playback of the recorder with every wait of its receiver a minute long, stopped once the
    // stream request has reached the recorder: the stop ends whichever wait it is in.
    void ExpectStopEndsTheReceiversWaits() {
        FakePlaybackWindow window;
        FakeStatusPanel panel;
        FakeViewer viewers[4];
        auto engine = OpenEngine(window, panel, viewers, kMinuteMs, Paced(kMinuteMs, kMinuteMs));
        const int asked = recorder_->requests("/play/mav");
        ASSERT_EQ(engine->StartRemotePlayback(), 1);
        ASSERT_TRUE(DeliverRemoteOpen(*engine, window, 30000));
        ASSERT_TRUE(WaitUntil([&] { return recorder_->requests("/play/mav") > asked; }, 30000));
        const auto stop = Clock::now();
        engine->OnStop();
        EXPECT_LT(MsSince(stop), kStopBoundMs);
        EXPECT_FALSE(engine->ReceiverRunning());
    }

    TempFolder tmp_;
    SmallRecording recording_;
    std::unique_ptr<fake::FakeRecorder> recorder_;
    int session_ = 0;
    platform::MessageBoxHandler previous_;
};

// Faults whose re-sends the recorder refuses or cannot take: the stream is lost.
const char* const kRefusedStreamFaults[] = {"unauthorized:/play/mav", "redirect:/play/mav", "error-page:/play/mav",
                                            "drop-after=0"};

TEST_F(RecorderFaultsTest, PlaybackKeepsThePaceAndReportsTheStreamLost) {
    for (const char* fault : kRefusedStreamFaults) {
        SCOPED_TRACE(fault);
        StartRecorder(fault);
        FakePlaybackWindow window;
        FakeStatusPanel panel;
        FakeViewer viewers[4];
        auto owned = OpenEngine(window, panel, viewers, 500, Paced(kEmptyReadMs, kResendWaitMs));
        PlaybackEngine& engine = *owned;
        const long rss = RssKb();
        const auto t0 = Clock::now();
        ASSERT_EQ(engine.StartRemotePlayback(), 1);
        ASSERT_TRUE(DeliverRemoteOpen(engine, window));
        ASSERT_TRUE(engine.ReceiverRunning());
        // The first request and five re-sends, none bringing a packet: lost.
        EXPECT_TRUE(window.WaitFor(WM_STREAM_LOST, 10000));
        ExpectPace(MsSince(t0));
        EXPECT_GE(recorder_->requests("/play/mav"), 6);
        EXPECT_LT(RssKb() - rss, 64 * 1024);
        engine.OnStop();
        EXPECT_FALSE(engine.ReceiverRunning());
        ExpectStopEndsTheReceiversWaits();
        recorder_->Stop();
    }
}

// A recorder that takes every re-send but sends nothing (paused, an ended reply, a stalled
// or trickling stream) is asked again at the pace for as long as playback runs, never
// reported lost; with the recorder paused, Play brings pictures again.
TEST_F(RecorderFaultsTest, PlaybackAsksAgainWhileTheRecorderTakesTheRequest) {
    // The pause: 13 silences, 20 s at the recorder's own 1.6 s.
    constexpr int kPausedResends = 13;
    struct Case {
        const char* fault;
        bool pause_then_play;
    } cases[] = {{"", true},
                 {"end-after=0", false},
                 {"stall-after=0", false},
                 {"trickle=40:/play/mav", false},
                 {"partial:/play/mav", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        StartRecorder(c.fault);
        FakePlaybackWindow window;
        FakeStatusPanel panel;
        FakeViewer viewers[4];
        auto owned = OpenEngine(window, panel, viewers, 500,
                                Paced(c.pause_then_play ? kStreamingEmptyReadMs : kEmptyReadMs, kResendWaitMs));
        PlaybackEngine& engine = *owned;
        const auto t0 = Clock::now();
        ASSERT_EQ(engine.StartRemotePlayback(), 1);
        ASSERT_TRUE(DeliverRemoteOpen(engine, window));
        if (c.pause_then_play) {
            ASSERT_TRUE(WaitUntil([&] { return viewers[0].frames() > 0; }, 10000));
            engine.OnPause();
            ASSERT_TRUE(WaitUntil([&] { return recorder_->requests("/play/oppause") == 1; }, 3000));
        }
        // Well past five re-sends without a packet: the count of re-sends the recorder took is
        // no count of failures.
        const int before = recorder_->requests("/play/mav");
        const int resends = c.pause_then_play ? kPausedResends : 8;
        ASSERT_TRUE(WaitUntil([&] { return recorder_->requests("/play/mav") >= before + resends; }, 20000));
        ExpectPace(MsSince(t0));
        EXPECT_EQ(window.Count(WM_STREAM_LOST), 0);
        EXPECT_TRUE(engine.ReceiverRunning());
        if (c.pause_then_play) {
            // The recorder goes on with the stream the last re-send opened: pictures come, and
            // go on past the second it was paused in rather than starting it again and again.
            const std::vector<int> before_play = viewers[0].shown_seconds();
            ASSERT_FALSE(before_play.empty());
            const int paused_second = before_play.back();
            ASSERT_LT(paused_second, recording_.start_second + 3);  // paused at the range's start
            engine.OnPlay();
            EXPECT_TRUE(WaitUntil(
                [&] {
                    const std::vector<int> shown = viewers[0].shown_seconds();
                    return shown.size() > before_play.size() && shown.back() > paused_second;
                },
                10000));
            EXPECT_EQ(window.Count(WM_STREAM_LOST), 0);
        }
        engine.OnStop();
        EXPECT_FALSE(engine.ReceiverRunning());
        recorder_->Stop();
    }
}

TEST_F(RecorderFaultsTest, PreviewAsksAgainAtThePaceAndStopsAtOnce) {
    for (const char* fault : kStreamFaults) {
        SCOPED_TRACE(fault);
        StartRecorder(fault);
        PreviewStreamEngine preview;
        preview.SetServer("127.0.0.1", "admin", "", recorder_->port(), 0);
        preview.SetSessionId(std::to_string(session_));
        preview.SetSearchRequest(Search());
        preview.SetStreamRequest("/play/mav/nvrprofilestream?id=" + std::to_string(session_) +
                                 "&avdevid=1,0,0,0,0,0,0,0,0&profile=1");
        PreviewTiming timing;
        timing.empty_read_ms = kEmptyReadMs;
        timing.resend_wait_ms = kResendWaitMs;
        timing.receive_timeout_ms = 500;
        preview.SetTiming(timing);
        const long rss = RssKb();
        const auto t0 = Clock::now();
        preview.StartRemote();
        // The request goes out again, at the pace, for as long as the preview runs.
        EXPECT_TRUE(WaitUntil([&] { return recorder_->requests("/play/mav") >= 4; }, 30000));
        ExpectPace(MsSince(t0));
        EXPECT_TRUE(preview.Running());
        EXPECT_LT(RssKb() - rss, 64 * 1024);
        preview.StopThreads();
        // Again with every wait of the preview a minute long: the stop ends whichever it is in.
        PreviewTiming minute;
        minute.empty_read_ms = kMinuteMs;
        minute.resend_wait_ms = kMinuteMs;
        minute.receive_timeout_ms = kMinuteMs;
        preview.SetTiming(minute);
        const int asked = recorder_->requests("/play/mav");
        preview.StartRemote();
        ASSERT_TRUE(WaitUntil([&] { return recorder_->requests("/play/mav") > asked; }, 30000));
        const auto stop = Clock::now();
        preview.StopThreads();
        EXPECT_LT(MsSince(stop), kStopBoundMs);
        recorder_->Stop();
    }
}

// The status poll's tick runs on the window thread: against a reply that trickles or never
// ends, no tick may hold it longer than 100 ms, and the poll still ends as its reply deserves.
TEST_F(RecorderFaultsTest, StatusPollNeverHoldsTheWindowThread) {
    // A status whose time is no time of day is skipped: no loss, and nothing shown from it.
    struct Case {
        const char* fault;
        bool connection_lost;
        bool applied;
    } cases[] = {{"trickle=100:/play/opstatus", true, false},
                 {"endless:/play/opstatus", false, true},
                 {"", false, true},
                 {"odd-status", false, false}};
    // Long enough that the recorder's clock stays inside the range while the ticks run.
    recording_.seconds = kLongRecordingSeconds;
    ASSERT_FALSE(WriteSmallRecording(tmp_.path(), recording_).empty());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        StartRecorder(c.fault);
        FakePlaybackWindow window;
        FakeStatusPanel panel;
        FakeViewer viewers[4];
        auto owned = OpenEngine(window, panel, viewers, 600, {}, kLongRecordingSeconds - 1);
        PlaybackEngine& engine = *owned;
        PlayFromStopped(engine, window);
        int64_t longest_tick = 0;
        int applied = 0;
        const auto until = Clock::now() + std::chrono::milliseconds(2000);
        while (Clock::now() < until && window.Count(WM_CONNECTION_LOST) == 0) {
            longest_tick = std::max(longest_tick, held_time::HeldMs([&] { engine.OnTimer(); }));
            if (engine.Status().remote_playop == 1) ++applied;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_LT(longest_tick, 100);
        EXPECT_EQ(window.Count(WM_CONNECTION_LOST), c.connection_lost ? 1 : 0);
        if (!c.connection_lost) {
            EXPECT_GE(recorder_->requests("/play/opstatus"), 2);
        }
        EXPECT_EQ(applied > 0, c.applied);
        EXPECT_EQ(engine.Status().play_state, c.connection_lost ? PlaybackEngine::kStopped : PlaybackEngine::kPlaying);
        if (!c.applied) {
            EXPECT_EQ(engine.Status().remote_time[3], 0);
        }
        engine.JoinStatusPoll();
        owned.reset();
        if (!c.connection_lost) {
            // Again with a minute's reply deadline: the stop ends the poll in flight, whatever the reply.
            auto minute = OpenEngine(window, panel, viewers, kMinuteMs, {}, kLongRecordingSeconds - 1);
            PlayFromStopped(*minute, window);
            const int polls = recorder_->requests("/play/opstatus");
            ASSERT_TRUE(WaitUntil(
                [&] {
                    minute->OnTimer();
                    return recorder_->requests("/play/opstatus") > polls;
                },
                30000));
            const auto stop = Clock::now();
            minute->JoinStatusPoll();
            EXPECT_LT(MsSince(stop), kStopBoundMs);
        }
        recorder_->Stop();
    }
}

// The transport buttons run on the window thread: against a recorder whose reply trickles
// or never ends, none holds it longer than 100 ms, the requests reach the recorder one after
// the other in the order pressed, the panel shows the state at once, no status poll overtakes
// them, and a stop with a request in flight returns at once.
TEST_F(RecorderFaultsTest, TransportRequestsNeverHoldTheWindowThread) {
    struct Case {
        const char* name;
        int state;  // before the press
        std::function<void(PlaybackEngine&)> press;
        std::vector<const char*> requests;  // in order; the first one stalls
        const char* status;        // at once
        const char* polled_status;  // once a poll shows the recorder's answer
        int polled_speed;
    };
    const Case cases[] = {
        {"pause", PlaybackEngine::kPlaying, [](PlaybackEngine& e) { e.OnPause(); }, {"/play/oppause"}, "PAUSE", "PAUSE", 1},
        {"play", PlaybackEngine::kPaused, [](PlaybackEngine& e) { e.OnPlay(); }, {"/play/opplay"}, "PLAY", "PLAY", 1},
        {"speed up from pause", PlaybackEngine::kPaused, [](PlaybackEngine& e) { e.OnSpeedUp(); },
         {"/play/opplay", "/play/speedup"}, "PLAY", "PLAY", 2},
        {"speed down", PlaybackEngine::kPlaying, [](PlaybackEngine& e) { e.OnSpeedDown(); }, {"/play/speeddown"},
         "PLAY", "PLAY", -2},
        {"time jump", PlaybackEngine::kPlaying, [](PlaybackEngine& e) { e.OnStepForward(); }, {"/play/timejump"},
         "PLAY", "STOP", 1},  // past the end of the range
        {"slider", PlaybackEngine::kPlaying, [](PlaybackEngine& e) { e.OnHScroll(2); },
         {"/play/timeslider", "/play/opplay"}, "PLAY", "PLAY", 1},
    };
    // Long enough that the recorder's clock stays inside the range while the requests trickle.
    recording_.seconds = kLongRecordingSeconds;
    ASSERT_FALSE(WriteSmallRecording(tmp_.path(), recording_).empty());
    for (const char* kind : {"trickle=150", "endless"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(kind) + " " + c.name);
            StartRecorder(std::string(kind) + ":" + c.requests[0]);
            FakePlaybackWindow window;
            FakeStatusPanel panel;
            FakeViewer viewers[4];
            // A reply that never ends is cut only after a minute, so the stop below ends it.
            const bool endless = std::string(kind) == "endless";
            auto engine = OpenEngine(window, panel, viewers, endless ? kMinuteMs : 600, {}, kLongRecordingSeconds - 1);
            // Muted: the sound device's shut-down as the engine goes is no part of the stops timed here.
            engine->OnMute();
            PlayFromStopped(*engine, window);
            if (c.state == PlaybackEngine::kPaused) {
                engine->OnPause();
                ASSERT_TRUE(WaitUntil([&] { return recorder_->requests("/play/oppause") == 1; }, 30000));
            }

            // How long each call held this thread, less the time it stood ready while other
            // work held the processors.
            EXPECT_LT(held_time::HeldMs([&] { c.press(*engine); }), 100);
            EXPECT_EQ(panel.status(), c.status);
            ASSERT_TRUE(WaitUntil([&] { return recorder_->requests(c.requests[0]) == 1; }, 30000));
            // The first reply is still coming: the next request waits for it, and so does the poll.
            EXPECT_LT(held_time::HeldMs([&] { engine->OnTimer(); }), 100);
            for (size_t i = 1; i < c.requests.size(); ++i) {
                if (std::string(c.requests[i]) != c.requests[0]) {
                    EXPECT_EQ(recorder_->requests(c.requests[i]), 0) << c.requests[i];
                }
            }
            EXPECT_EQ(recorder_->requests("/play/opstatus"), 0);
            if (endless) {
                // A stop while the first reply never ends.
                const auto stop = Clock::now();
                engine.reset();
                EXPECT_LT(MsSince(stop), kStopBoundMs);
            } else {
                const std::string last = c.requests.back();
                EXPECT_TRUE(WaitUntil([&] { return recorder_->requests(last) >= 1; }, 30000)) << last;
                // Every request sent: the ticks poll again and show what the recorder made of them.
                EXPECT_TRUE(WaitUntil(
                    [&] {
                        engine->OnTimer();
                        const auto t = engine->Status().remote_time;
                        return t[3] + t[4] + t[5] > 0;
                    },
                    30000));
                EXPECT_EQ(panel.status(), c.polled_status);
                EXPECT_EQ(panel.GetSpeed(), c.polled_speed);
                const auto stop = Clock::now();
                engine.reset();
                EXPECT_LT(MsSince(stop), kStopBoundMs);
            }
            recorder_->Stop();
        }
    }
}

// Opening the recorder's playback, from the record selection or by Play from stopped, against
// replies that stall: no call holds the window thread longer than 100 ms, the open ends as its
// recorder's answers deserve (playing, the message, or nothing; Play that starts nothing says so and
// stays stopped) by its completion message, and a
// Stop during the open returns at once, leaving nothing started for its late completion to undo.
TEST_F(RecorderFaultsTest, OpeningNeverHoldsTheWindowThread) {
    enum Path { kFromSelection, kPlayFromStopped };
    enum End { kPlays, kMessage, kNothing, kFailed };
    struct Case {
        const char* fault;
        Path path;
        End end;
    };
    // Replies are cut at 400 ms: a trickled "id=..." or a status text whose reply never ends
    // still gives what came; a trickled status is cut before its keys; a request that gets
    // no reply at all fails at its deadline.
    const Case cases[] = {
        {"endless:/play/getid", kFromSelection, kPlays},
        {"trickle=40:/play/getid", kFromSelection, kPlays},
        {"endless:/play/opstatus", kFromSelection, kPlays},
        {"trickle=100:/play/opstatus", kFromSelection, kNothing},
        {"silent:/play/opstatus", kFromSelection, kNothing},
        {"silent:/play/searchdata", kFromSelection, kMessage},
        {"silent:/play/mav", kFromSelection, kMessage},
        {"unavailable", kFromSelection, kNothing},
        {"trickle=100:/play/searchdata", kPlayFromStopped, kPlays},
        {"silent:/play/getid", kPlayFromStopped, kFailed},
        {"silent:/play/searchdata", kPlayFromStopped, kMessage},
        {"silent:/play/mav", kPlayFromStopped, kMessage},
        {"unavailable", kPlayFromStopped, kFailed},
        {"getid-busy", kPlayFromStopped, kFailed},
        {"gone", kPlayFromStopped, kFailed},  // the recorder stopped: every connection refused
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fault) + (c.path == kFromSelection ? " from the selection" : " by Play"));
        const bool gone = std::string(c.fault) == "gone";
        StartRecorder(gone ? "" : c.fault);
        if (gone) recorder_->Stop();
        std::vector<std::string> boxes;
        const auto before = platform::SetMessageBoxHandler([&boxes](const std::string& text, const std::string&, int) {
            boxes.push_back(text);
            return platform::kIdOk;
        });
        FakePlaybackWindow window;
        FakeStatusPanel panel;
        FakeViewer viewers[4];
        // The receiver's waits made long, so the stop below shows whether it ended them.
        constexpr int kLongWaitMs = 20000;
        auto engine = OpenEngine(window, panel, viewers, 400, Paced(kLongWaitMs, kLongWaitMs));
        int64_t longest = 0;
        const auto call = [&longest](const std::function<void()>& act) {
            longest = std::max(longest, held_time::HeldMs(act));
        };
        call([&] { Open(*engine, c.path == kFromSelection); });
        const intptr_t generation = window.Take(WM_REMOTE_OPENED, 30000);
        ASSERT_GE(generation, 0) << "no completion";
        call([&] { engine->HandleMessage(WM_REMOTE_OPENED, generation, 0); });
        EXPECT_LT(longest, 100);
        EXPECT_EQ(engine->ReceiverRunning(), c.end == kPlays);
        const bool plays = c.end == kPlays;
        EXPECT_EQ(engine->Status().play_state, plays ? PlaybackEngine::kPlaying : PlaybackEngine::kStopped);
        EXPECT_EQ(panel.status(), plays ? "PLAY" : "STOP");
        if (c.path == kPlayFromStopped) {
            EXPECT_EQ(window.buttons, plays ? PlaybackEngine::kPlaying : PlaybackEngine::kStopped);
        }
        const std::vector<std::string> expected_boxes =
            c.end == kMessage  ? std::vector<std::string>{"Failed to send http request to NVR"}
            : c.end == kFailed ? std::vector<std::string>{"Connection failed!"}
                               : std::vector<std::string>{};
        EXPECT_EQ(boxes, expected_boxes);
        const auto stop = Clock::now();
        engine->OnStop();
        // No wait of the receiver had to run out.
        EXPECT_LT(MsSince(stop), kLongWaitMs / 2);
        engine.reset();
        platform::SetMessageBoxHandler(before);
        recorder_->Stop();
    }
}

TEST_F(RecorderFaultsTest, StopDuringTheOpenReturnsAtOnceAndItsCompletionIsIgnored) {
    struct Case {
        const char* fault;
        const char* stalled;  // the request in flight when Stop comes
        bool from_selection;
    } cases[] = {
        {"silent:/play/getid", "/play/getid", true},
        {"trickle=200:/play/opstatus", "/play/opstatus", true},
        {"endless:/play/opstatus", "/play/opstatus", true},
        {"silent:/play/searchdata", "/play/searchdata", false},
        {"silent:/play/mav", "/play/mav", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        StartRecorder(c.fault);
        FakePlaybackWindow window;
        FakeStatusPanel panel;
        FakeViewer viewers[4];
        // A minute's reply deadline: only the Stop can end the wait in time.
        auto engine = OpenEngine(window, panel, viewers, kMinuteMs);
        Open(*engine, c.from_selection);
        ASSERT_TRUE(WaitUntil([&] { return recorder_->requests(c.stalled) >= 1; }, 30000));
        const auto stop = Clock::now();
        engine->OnStop();
        EXPECT_LT(MsSince(stop), kStopBoundMs);
        EXPECT_FALSE(engine->RemoteOpenRunning());
        // The cut-short open posted its completion as it ended; applied late, it changes nothing.
        const intptr_t stale = window.Take(WM_REMOTE_OPENED, 30000);
        ASSERT_GE(stale, 0);
        engine->HandleMessage(WM_REMOTE_OPENED, stale, 0);
        EXPECT_FALSE(engine->ReceiverRunning());
        EXPECT_EQ(engine->Status().play_state, PlaybackEngine::kStopped);
        EXPECT_EQ(panel.status(), "STOP");
        EXPECT_EQ(window.buttons, PlaybackEngine::kStopped);
        EXPECT_FALSE(window.timer_running);
        recorder_->Stop();
    }
}

// A new open while one still waits on the recorder replaces it: the first is cut short and
// its completion ignored, the second plays.
TEST_F(RecorderFaultsTest, ANewOpenReplacesOneStillWaiting) {
    StartRecorder("silent:/play/opstatus");
    FakePlaybackWindow window;
    FakeStatusPanel panel;
    FakeViewer viewers[4];
    // A minute's reply deadline: the second open does not wait for the first's.
    auto engine = OpenEngine(window, panel, viewers, kMinuteMs);
    Open(*engine, true);
    ASSERT_TRUE(WaitUntil([&] { return recorder_->requests("/play/opstatus") >= 1; }, 30000));
    const auto again = Clock::now();
    Open(*engine, false);
    EXPECT_LT(MsSince(again), kStopBoundMs);
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (intptr_t g; (g = window.Take(WM_REMOTE_OPENED, 0)) >= 0;) engine->HandleMessage(WM_REMOTE_OPENED, g, 0);
            return engine->ReceiverRunning();
        },
        30000));
    EXPECT_EQ(engine->Status().play_state, PlaybackEngine::kPlaying);
    EXPECT_EQ(engine->Status().range_start, recording_.start_second);  // the second open's range, not the first's
    EXPECT_EQ(recorder_->requests("/play/searchdata"), 2);      // the fixture's and the second open's
    engine.reset();
    recorder_->Stop();
}

class CountingSink : public RemoteExportProgressSink {
public:
    void ShowFileName(const std::string&) override {}
    void SetProgress(int, int) override {}
    void Finish() override { ++finishes; }
    void WriterEnded() override { ++writer_ends; }
    std::atomic<int> finishes{0};
    std::atomic<int> writer_ends{0};
};

TEST_F(RecorderFaultsTest, ExportDownloadGivesUpAtThePace) {
    for (const char* fault : kStreamFaults) {
        SCOPED_TRACE(fault);
        StartRecorder(fault);
        const std::string out = tmp_.Sub("out");
        std::filesystem::create_directories(out);
        RemoteExport exporter;
        RemoteExportTimings t;
        t.download_start_ms = 0;
        t.between_requests_ms = 0;
        t.retry_ms = kMinRequestGapMs;
        t.teardown_ms = 0;
        t.idle_read_ms = kEmptyReadMs;
        t.resend_step_ms = kResendWaitMs / 50;
        t.receive_timeout_ms = 500;
        exporter.SetTimings(t);
        RemoteExportSettings s;
        s.host = "127.0.0.1";
        s.user = "admin";
        s.port = recorder_->port();
        s.session_id = session_;
        s.year = recording_.date.year;
        s.month = recording_.date.month;
        s.day = recording_.date.day;
        s.cue_in = recording_.start_second;
        s.cue_out = recording_.start_second + 3;
        s.output_folder = out;
        s.original_format = true;
        exporter.Configure(s);
        exporter.BeginExport();
        CountingSink sink;
        const long rss = RssKb();
        const auto t0 = Clock::now();
        std::tm now{};
        exporter.BeginChannel(0, now, &sink);
        EXPECT_TRUE(WaitUntil([&] { return sink.writer_ends > 0; }, 10000));
        EXPECT_TRUE(exporter.download_gave_up());
        EXPECT_EQ(sink.finishes, 0);  // not a complete channel
        ExpectPace(MsSince(t0));
        EXPECT_LT(RssKb() - rss, 64 * 1024);
        exporter.EndChannel();
        {
            // Again with every wait of the download a minute long: the end of the channel
            // ends whichever wait it is in.
            RemoteExport minute;
            RemoteExportTimings m = t;
            m.retry_ms = kMinuteMs;
            m.idle_read_ms = kMinuteMs;
            m.resend_step_ms = kMinuteMs / m.resend_steps;
            m.receive_timeout_ms = kMinuteMs;
            minute.SetTimings(m);
            minute.Configure(s);
            minute.BeginExport();
            CountingSink minute_sink;
            const int asked = recorder_->requests("/play/mav");
            minute.BeginChannel(0, now, &minute_sink);
            ASSERT_TRUE(WaitUntil([&] { return recorder_->requests("/play/mav") > asked; }, 30000));
            const auto stop = Clock::now();
            minute.EndChannel();
            EXPECT_LT(MsSince(stop), kStopBoundMs);
        }
        recorder_->Stop();
        std::filesystem::remove_all(out);
    }
}

// A steady slow link whose first picture of each second takes two silence spans to arrive,
// and a recorder that sends on past the range without its end packet: each export ends by
// itself with every picture of the range in one whole part, and no more; the slow link is
// never cut and asked for again. A recorder that starts the range again at its end, its
// pictures never dated past it, ends by itself too, once the stream has brought more pictures
// than the range can hold; each time the range starts again a new part begins.
TEST_F(RecorderFaultsTest, ExportOfASlowLinkOrAnEndlessStreamHoldsTheRangeWhole) {
    struct Case {
        const char* fault;
        int min_frames, max_frames;  // of all parts
        bool one_part;
    } cases[] = {
        // Channel 1's pictures of the four seconds, five a second.
        {"", 20, 20, true},
        // 100 kB at 2560 kbit/s: about 310 ms, twice the 160 ms of silence.
        {"slow-link=2560", 20, 20, true},
        {"no-end-marker", 20, 20, true},
        // The four seconds and two of slack at 60 pictures a second.
        {"repeat-range", 20, 360, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        StartRecorder(c.fault);
        const std::string out = tmp_.Sub("out");
        std::filesystem::create_directories(out);
        RemoteExport exporter;
        RemoteExportTimings t;
        t.download_start_ms = 0;
        t.between_requests_ms = 0;
        t.retry_ms = kMinRequestGapMs;
        t.teardown_ms = 0;
        t.idle_read_ms = kEmptyReadMs;
        t.resend_step_ms = kResendWaitMs / 50;
        t.receive_timeout_ms = 500;
        exporter.SetTimings(t);
        RemoteExportSettings s;
        s.host = "127.0.0.1";
        s.user = "admin";
        s.port = recorder_->port();
        s.session_id = session_;
        s.year = recording_.date.year;
        s.month = recording_.date.month;
        s.day = recording_.date.day;
        s.cue_in = recording_.start_second;
        s.cue_out = recording_.start_second + 3;
        s.output_folder = out;
        s.original_format = true;
        exporter.Configure(s);
        exporter.BeginExport();
        CountingSink sink;
        std::tm now{};
        exporter.BeginChannel(0, now, &sink);
        EXPECT_TRUE(WaitUntil([&] { return sink.writer_ends > 0; }, 60000));
        EXPECT_EQ(sink.finishes, 1);
        EXPECT_FALSE(exporter.download_gave_up());
        exporter.EndChannel();
        EXPECT_EQ(recorder_->requests("/play/mav"), 1);
        const std::vector<ExportedPart> parts = exporter.parts();
        ASSERT_FALSE(parts.empty());
        if (c.one_part) {
            EXPECT_EQ(parts.size(), 1u);
        }
        int64_t frames = 0;
        for (const ExportedPart& part : parts) {
            EXPECT_TRUE(part.whole);
            frames += part.video_frames;
        }
        EXPECT_GE(frames, c.min_frames);
        EXPECT_LE(frames, c.max_frames);
        recorder_->Stop();
        std::filesystem::remove_all(out);
    }
}

// The recorder's rest after a channel is kept before the next channel's first request, but
// on the download thread: EndChannel returns with a rest far longer than the test still to
// run, and the next channel's backup request waits it out.
TEST_F(RecorderFaultsTest, ExportRestsBetweenChannelsOnTheDownloadThread) {
    StartRecorder("");
    const std::string out = tmp_.Sub("out");
    std::filesystem::create_directories(out);
    constexpr int kRestMs = 400;
    struct Case {
        int rest_ms;
        bool second_channel;
    } cases[] = {{600000, false}, {kRestMs, true}};
    for (const Case& c : cases) {
        RemoteExport exporter;
        RemoteExportTimings t;
        t.download_start_ms = 0;
        t.between_requests_ms = 0;
        t.teardown_ms = c.rest_ms;
        exporter.SetTimings(t);
        RemoteExportSettings s;
        s.host = "127.0.0.1";
        s.user = "admin";
        s.port = recorder_->port();
        s.session_id = session_;
        s.year = recording_.date.year;
        s.month = recording_.date.month;
        s.day = recording_.date.day;
        s.cue_in = recording_.start_second;
        s.cue_out = recording_.start_second + 1;
        s.output_folder = out;
        s.original_format = true;
        exporter.Configure(s);
        exporter.BeginExport();
        CountingSink sink;
        std::tm now{};
        const int backups = recorder_->requests("/play/backup");
        exporter.BeginChannel(0, now, &sink);
        ASSERT_TRUE(WaitUntil([&] { return sink.writer_ends > 0; }, 10000));
        exporter.EndChannel();
        if (!c.second_channel) continue;
        const auto ended = Clock::now();
        now.tm_sec = 1;  // another base name
        exporter.BeginChannel(1, now, &sink);
        ASSERT_TRUE(WaitUntil([&] { return recorder_->requests("/play/backup") >= backups + 2; }, 10000));
        EXPECT_GE(MsSince(ended), kRestMs);
        exporter.EndChannel();
    }
    recorder_->Stop();
    std::filesystem::remove_all(out);
}

// A steady slow link plays without being cut: the pictures come on the one stream request.
TEST_F(RecorderFaultsTest, PlaybackOfASlowSteadyLinkIsNotCut) {
    StartRecorder("slow-link=2560");
    FakePlaybackWindow window;
    FakeStatusPanel panel;
    FakeViewer viewers[4];
    // At the receiver's own pace: a shortened silence would be broken by any scheduling
    // pause of a loaded machine, not by the link.
    auto owned = OpenEngine(window, panel, viewers, 500);
    PlaybackEngine& engine = *owned;
    ASSERT_EQ(engine.StartRemotePlayback(), 1);
    ASSERT_TRUE(DeliverRemoteOpen(engine, window));
    // Three of the range's four seconds: the stream is still running, so no end of it can
    // have been taken for silence yet.
    EXPECT_TRUE(WaitUntil([&] { return viewers[0].frames() >= 3 * recording_.fps; }, 20000));
    EXPECT_EQ(recorder_->requests("/play/mav"), 1);
    EXPECT_EQ(window.Count(WM_STREAM_LOST), 0);
    engine.OnStop();
    recorder_->Stop();
}

// The login against replies that never end, come a byte at a time, or refuse: each
// ends within its deadline with the message the reply deserves.
TEST_F(RecorderFaultsTest, LoginEndsWithinItsDeadlineWithItsMessage) {
    struct Case {
        const char* fault;
        const char* message_end;
    } cases[] = {
        {"endless:/config/login", "Login success!"},
        {"trickle=300:/config/login", "Login failed!"},
        {"unauthorized:/config/login", "Login failed!"},
        {"redirect:/config/login", "Login failed!"},
        {"error-page:/config/login", "Login failed!"},
        {"stall-after=0", "Login success!"},  // stream faults leave the login alone
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        StartRecorder(c.fault);
        RecordSelectionEngine engine;
        RecordSelectionTiming timing;
        timing.receive_timeout_ms = 500;
        timing.first_keep_alive_ms = 60000;
        engine.SetTiming(timing);
        engine.SetPing([](const std::string&) { return true; });
        engine.server().SetServerName("Gate");
        engine.server().SetIp("127.0.0.1");
        engine.server().SetPort(std::to_string(recorder_->port()));
        engine.server().SetUser("admin");
        // The login reply, then the month and the channel names: each within its 500 ms, by
        // the time the login held this thread, the machine's load left out.
        LoginOutcome outcome;
        EXPECT_LT(held_time::HeldMs([&] { outcome = engine.LoginWorker(recording_.date.year, recording_.date.month); }),
                  2500);
        const std::string message = outcome.message;
        EXPECT_EQ(message, std::string("Gate(127.0.0.1) ") + c.message_end);
        engine.KillKeepAliveTimer();
        recorder_->Stop();
    }
}

}  // namespace
