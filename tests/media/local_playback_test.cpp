#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <thread>

#include "media/decode_process.h"
#include "media/disk_format.h"
#include "media/playback_engine.h"
#include "tests/support/held_time.h"
#include "tests/support/playback_fakes.h"
#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"
#include "tools/common/sample_media.h"

namespace {

using Clock = std::chrono::steady_clock;

class LocalPlaybackTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_DISKAUDIOFILE", tmp_.Sub("played.raw").c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "1", 1);
    }

    std::unique_ptr<PlaybackEngine> Start(const SmallRecording& recording, int channel_mask = 3, int speed = 1) {
        const std::string data = WriteSmallRecording(tmp_.path(), recording);
        EXPECT_FALSE(data.empty());
        auto engine = std::make_unique<PlaybackEngine>(&window_, &panel_,
                                                       std::array<ViewerSink*, 4>{&viewers_[0], &viewers_[1],
                                                                                  &viewers_[2], &viewers_[3]});
        RecordSource source;
        source.path = data;
        source.channel_mask = channel_mask;
        source.start_second = recording.start_second;
        source.end_second = recording.start_second + recording.seconds - 1;
        source.year = recording.date.year;
        source.month = recording.date.month;
        source.day = recording.date.day;
        engine->SetLocalSource(source);
        engine->StartLocalPlayback();
        panel_.SetSpeed(speed);
        return engine;
    }

    // Plays until the reader asks for the stop, then runs it as the window thread would.
    void RunToEnd(PlaybackEngine& engine, int timeout_ms) {
        ASSERT_TRUE(window_.WaitFor(WM_STOP_REQUESTED, timeout_ms));
        engine.HandleMessage(WM_STOP_REQUESTED, window_.LastParam(WM_STOP_REQUESTED), 0);
    }

    TempFolder tmp_;
    FakePlaybackWindow window_;
    FakeStatusPanel panel_;
    FakeViewer viewers_[4];
};

TEST_F(LocalPlaybackTest, PlaysTheRangeAndStopsAtItsEnd) {
    SmallRecording recording;
    const auto begun = Clock::now();
    auto engine = Start(recording);
    EXPECT_EQ(window_.buttons, PlaybackEngine::kPlaying);
    EXPECT_EQ(window_.slider_max, 2);
    RunToEnd(*engine, 30000);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun).count();
    // First second 600 ms, then 997 ms each.
    EXPECT_GE(ms, 2400);
    EXPECT_EQ(window_.buttons, PlaybackEngine::kStopped);
    EXPECT_EQ(panel_.status(), "STOP");
    EXPECT_EQ(panel_.times(), (std::vector<std::string>{"14:07:00", "14:07:01", "14:07:02", "14:07:00"}));
    EXPECT_EQ(panel_.date(), "2012/03/05");
    EXPECT_FALSE(engine->ReaderRunning());
    for (int c = 0; c < 2; ++c) {
        // The seconds before the last are shown whole; the stop at the range's end drops what is
        // still queued of the last one, which on a slow or loaded machine may be several pictures.
        EXPECT_GE(viewers_[c].frames(), (recording.seconds - 1) * recording.fps) << c;
        EXPECT_EQ(viewers_[c].width, 176);
        const auto seconds = viewers_[c].shown_seconds();
        ASSERT_FALSE(seconds.empty());
        EXPECT_EQ(seconds.front(), recording.start_second);
    }
    EXPECT_EQ(viewers_[0].camera_name(), "Front");
    EXPECT_EQ(viewers_[1].camera_name(), "Back");
    EXPECT_EQ(viewers_[2].frames(), 0);
}

TEST_F(LocalPlaybackTest, GapSecondsAreSkippedAtOnce) {
    // Two recorded seconds around a 28 s gap: played as time, the gap would last half a
    // minute, so an end within a fraction of it shows the gap cost nothing, however loaded
    // the machine.
    SmallRecording recording;
    recording.seconds = 30;
    for (int s = 1; s <= 28; ++s) recording.missing_seconds.insert(s);
    const auto begun = Clock::now();
    auto engine = Start(recording);
    RunToEnd(*engine, 60000);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun).count();
    EXPECT_LT(ms, 10000);
    EXPECT_EQ(panel_.times(), (std::vector<std::string>{"14:07:00", "14:07:29", "14:07:00"}));
    EXPECT_GE(viewers_[0].clears, 1);
}

TEST_F(LocalPlaybackTest, FastSpeedsQueueKeyFramesOnly) {
    SmallRecording recording;
    recording.seconds = 6;
    auto engine = Start(recording, 3, 4);
    RunToEnd(*engine, 30000);
    // H.264: one key frame per second of 5 frames; MJPEG: every frame is key, but at most one per 900 ms.
    // The speed is set just after the start, so the first second may still be read at 1x.
    for (int c = 0; c < 2; ++c) {
        std::map<int, int> per_second;
        for (int second : viewers_[c].shown_seconds()) ++per_second[second];
        EXPECT_GE(per_second.size(), 3u) << c;
        for (const auto& [second, pictures] : per_second) {
            if (second == recording.start_second) continue;
            EXPECT_LE(pictures, 1) << c << " " << second;
        }
    }
}

TEST_F(LocalPlaybackTest, NoRangeNoPlayback) {
    SmallRecording recording;
    auto engine = Start(recording);
    // No range: nothing chosen (both 0), or an end not after the start. A start of 0 is midnight, a range.
    const int start = recording.start_second;
    const std::pair<int, int> none[] = {{0, 0}, {start, start}, {start, start - 1}};
    for (const auto& [from, to] : none) {
        SCOPED_TRACE(std::to_string(from) + "-" + std::to_string(to));
        engine->OnStop();
        RecordSource source = engine->Status().record_source;
        source.start_second = from;
        source.end_second = to;
        engine->SetLocalSource(source);
        window_.buttons = -1;
        engine->StartLocalPlayback();
        EXPECT_FALSE(engine->ReaderRunning());
        EXPECT_EQ(window_.buttons, -1);
    }
}

// The recording lasts most of a minute, so a stop within a fraction of it is the vanished
// folder's, not the recording's end, however loaded the machine.
TEST_F(LocalPlaybackTest, VanishedDataFolderStops) {
    SmallRecording recording;
    recording.seconds = 59;
    auto engine = Start(recording);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::filesystem::rename(tmp_.Sub("avdata"), tmp_.Sub("gone"));
    ASSERT_TRUE(window_.WaitFor(WM_STOP_REQUESTED, 20000));
    engine->HandleMessage(WM_STOP_REQUESTED, window_.LastParam(WM_STOP_REQUESTED), 0);
    EXPECT_EQ(engine->Status().play_state, PlaybackEngine::kStopped);
}

// As above, a stop within a fraction of the recording's 59 s is the step's.
TEST_F(LocalPlaybackTest, StepBackBeforeTheStartStops) {
    SmallRecording recording;
    recording.seconds = 59;
    auto engine = Start(recording);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    engine->StepBackward();
    ASSERT_TRUE(window_.WaitFor(WM_STOP_REQUESTED, 20000));
    engine->HandleMessage(WM_STOP_REQUESTED, window_.LastParam(WM_STOP_REQUESTED), 0);
    EXPECT_EQ(window_.buttons, PlaybackEngine::kStopped);
}

TEST_F(LocalPlaybackTest, PauseHoldsTheClockAndStopEndsQuickly) {
    SmallRecording recording;
    recording.seconds = 10;
    auto engine = Start(recording);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    engine->OnPause();
    EXPECT_EQ(window_.buttons, PlaybackEngine::kPaused);
    // The reader finishes the pacing of the current second and holds in the next one's first pass.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    const auto before = panel_.times();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(panel_.times(), before);
    EXPECT_EQ(panel_.status(), "PAUSE");
    // The paused reader waits without a deadline: only the stop's wake can end it.
    engine->OnStop();
    EXPECT_FALSE(engine->ReaderRunning());
}

TEST_F(LocalPlaybackTest, SelectedChannelIsHeard) {
    SmallRecording recording;
    recording.seconds = 3;  // the last second's sound may still be queued when playback stops
    viewers_[0].selected = true;
    auto engine = Start(recording, 1, 1);
    RunToEnd(*engine, 30000);
    engine->WaitSoundClosed();
    std::ifstream in(tmp_.Sub("played.raw"), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<int16_t> played(bytes.size() / 2);
    std::memcpy(played.data(), bytes.data(), played.size() * 2);
    // The first two seconds' first quarter-second blocks reached the device, in order.
    const auto first = SmallRecordingPcm(0);
    const auto second = SmallRecordingPcm(1);
    auto at = std::search(played.begin(), played.end(), first.begin(), first.begin() + 2000);
    ASSERT_NE(at, played.end());
    EXPECT_NE(std::search(at, played.end(), second.begin(), second.begin() + 2000), played.end());
}

// Waits until done() holds; false after timeout_ms.
bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int FramesShown(const FakeViewer* viewers) { return viewers[0].frames() + viewers[1].frames(); }

// At the slowest speed a recorded second lasts 32 s and a picture 6.4 s: a stop that returns
// before the picture's deadline ended those waits itself, and no deadline had to run out.
TEST_F(LocalPlaybackTest, StopAtTheSlowestSpeedEndsItsWaits) {
    SmallRecording recording;
    recording.seconds = 10;
    auto engine = Start(recording, 3, -32);
    ASSERT_TRUE(WaitUntil([&] { return FramesShown(viewers_) > 0; }, 30000));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // into the slow pace
    // The waits are the program's (5.7 s of the picture's still to run): the stop is bounded
    // well short of them by the time it held this thread, the machine's load left out.
    EXPECT_LT(held_time::HeldMs([&] { engine->OnStop(); }), 3000);
    EXPECT_FALSE(engine->ReaderRunning());
    EXPECT_EQ(panel_.status(), "STOP");
}

// Back from the slowest speed, pictures and clock follow at once instead of
// finishing the slow second first.
TEST_F(LocalPlaybackTest, SpeedChangeFromTheSlowestTakesEffectAtOnce) {
    SmallRecording recording;
    recording.seconds = 20;
    auto engine = Start(recording);
    ASSERT_TRUE(WaitUntil([&] { return FramesShown(viewers_) > 0; }, 30000));
    for (int i = 0; i < 5; ++i) engine->OnSpeedDown();
    ASSERT_EQ(panel_.GetSpeed(), -32);
    // Into the slow pace: a picture every 6.4 s, a recorded second every 32 s.
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const int frames = FramesShown(viewers_);
    const size_t seconds = panel_.times().size();
    for (int i = 0; i < 5; ++i) engine->OnSpeedUp();
    ASSERT_EQ(panel_.GetSpeed(), 1);
    // A stuck engine would show the next picture when the slow one's 6.4 s ran out (5.7 s
    // from here) and the next second after 32 s: bounds of well under each are no speed claim.
    EXPECT_TRUE(WaitUntil([&] { return FramesShown(viewers_) > frames; }, 3000));
    EXPECT_TRUE(WaitUntil([&] { return panel_.times().size() > seconds; }, 10000));
    engine->OnStop();
}

// A reader that reached its end posts a stop; a playback started before the
// window thread saw it must not be stopped by it.
TEST_F(LocalPlaybackTest, StaleStopRequestLeavesANewerPlaybackPlaying) {
    SmallRecording recording;
    recording.seconds = 2;
    auto engine = Start(recording);
    ASSERT_TRUE(window_.WaitFor(WM_STOP_REQUESTED, 30000));
    const intptr_t stale = window_.LastParam(WM_STOP_REQUESTED);
    window_.Forget();
    engine->StartLocalPlayback();
    engine->HandleMessage(WM_STOP_REQUESTED, stale, 0);
    EXPECT_EQ(engine->Status().play_state, PlaybackEngine::kPlaying);
    EXPECT_TRUE(engine->ReaderRunning());
    EXPECT_EQ(window_.buttons, PlaybackEngine::kPlaying);
    RunToEnd(*engine, 30000);
    EXPECT_EQ(engine->Status().play_state, PlaybackEngine::kStopped);
}

// Restarting while sound plays: the audio device is closed by one thread only.
TEST_F(LocalPlaybackTest, RestartWhileSoundPlaysAndOwnerThatNeverStops) {
    SmallRecording recording;
    recording.seconds = 10;
    viewers_[0].selected = true;
    auto engine = Start(recording, 1, 1);
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(WaitUntil([&] { return engine->Status().sound_device_open; }, 30000)) << round;
        engine->StartLocalPlayback();
        EXPECT_TRUE(engine->ReaderRunning());
    }
    ASSERT_TRUE(WaitUntil([&] { return viewers_[0].frames() > 0; }, 30000));
    // Destroyed while playing: the destructor ends the threads itself.
    engine.reset();
    EXPECT_EQ(viewers_[0].has_video, false);
}

TEST(Transport, SpeedSteps) {
    FakePlaybackWindow window;
    FakeStatusPanel panel;
    PlaybackEngine engine(&window, &panel, {nullptr, nullptr, nullptr, nullptr});
    const struct {
        int from, up, down;
    } cases[] = {{1, 2, -2}, {2, 4, 1}, {16, 32, 8}, {32, 32, 16}, {-2, 1, -4}, {-4, -2, -8}, {-32, -16, -32}};
    for (const auto& c : cases) {
        panel.SetSpeed(c.from);
        engine.SpeedUp();
        EXPECT_EQ(panel.GetSpeed(), c.up) << c.from;
        panel.SetSpeed(c.from);
        engine.SpeedDown();
        EXPECT_EQ(panel.GetSpeed(), c.down) << c.from;
    }
    // Speed changes flush the workers except on the slow side; with no worker running, a
    // flush asked for stays pending.
    PlaybackEngine fresh(&window, &panel, {nullptr, nullptr, nullptr, nullptr});
    panel.SetSpeed(1);
    fresh.SpeedDown();
    EXPECT_FALSE(fresh.Status().workers[0].flush_pending);
    fresh.SpeedUp();
    EXPECT_TRUE(fresh.Status().workers[0].flush_pending);
    // Pause shows speed 1 but leaves the workers' pace: pictures held at 1/32 play out at 1/32.
    panel.SetSpeed(-16);
    engine.SpeedDown();
    ASSERT_EQ(engine.Status().workers[0].speed, -32);
    engine.Pause();
    EXPECT_EQ(panel.GetSpeed(), 1);
    EXPECT_EQ(engine.Status().workers[0].speed, -32);
}

TEST(DecodeProcess, PacingAndKeyFrames) {
    EXPECT_EQ(PacingInterval(25, 2, 33), 20);
    EXPECT_EQ(PacingInterval(25, -2, 33), 79);
    EXPECT_EQ(PacingInterval(25, 1, 33), 40);
    EXPECT_EQ(PacingInterval(0, 1, 33), 33);
    EXPECT_EQ(PacingInterval(15, -32, 33), 2126);
    const struct {
        int codec;
        std::vector<uint8_t> payload;
        bool key;
    } cases[] = {
        {0, {0xFF, 0xD8, 0xFF}, true},  {0, {0xFF, 0xD9}, false},          {0, {0xFF}, false},
        {1, {0, 0, 1, 0xB0, 1}, true},  {1, {0, 0, 1, 0xB6, 0x40}, false}, {2, {0, 0, 0, 1, 0x67}, true},
        {2, {0, 0, 0, 1, 0x41}, false}, {2, {0, 0, 0, 1}, false},          {3, {0xFF, 0xD8}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsKeyFrame(c.codec, c.payload), c.key) << c.codec;
}

// Records that declare another size than the stream codes: the worker reopens
// at the coded size and the channel shows pictures instead of staying black.
TEST(DecodeProcess, ReopensAtTheCodedSizeWhenTheDeclaredOneIsRefused) {
    std::string error;
    auto encoder = sample::SampleVideoEncoder::Create(sample::SampleVideoCodec::H264, 176, 144, 25, 25, 1, &error);
    ASSERT_TRUE(encoder) << error;
    FakeViewer viewer;
    CDecodeProcess worker;
    worker.viewer = &viewer;
    worker.Start();
    for (int f = 0; f < 10; ++f) {
        sample::EncodedPacket packet;
        ASSERT_TRUE(encoder->Encode(f, "CH", &packet));
        auto record = std::make_unique<FrameRecord>();
        record->has_text = 1;  // shown as it comes, like the recorder's stream
        record->width = 352;
        record->height = 288;
        record->codec = static_cast<int32_t>(VideoCodec::kH264);
        record->kind = FrameRecord::kKindPicture;
        record->year = 2012;
        record->month = 3;
        record->day = 5;
        record->payload = packet.data;
        worker.PushFrame(std::move(record));
    }
    EXPECT_TRUE(WaitUntil([&] { return viewer.frames() >= 10; }, 30000));
    EXPECT_EQ(viewer.width, 176);
    EXPECT_EQ(viewer.height, 144);
    EXPECT_EQ(viewer.last_picture().size(), 176u * 144 * 3);
    worker.Stop();
}

// A picture whose header claims a side beyond what the decoder opens (damaged data) must
// neither size a buffer for it nor close the decoder: the channel goes on with the next
// sound picture, without being emptied.
TEST(DecodeProcess, CodedSizeBeyondTheLimitKeepsTheChannelShowing) {
    std::string error;
    auto encoder = sample::SampleVideoEncoder::Create(sample::SampleVideoCodec::Mjpeg, 64, 48, 25, 25, 1, &error);
    ASSERT_TRUE(encoder) << error;
    FakeViewer viewer;
    CDecodeProcess worker;
    worker.viewer = &viewer;
    worker.Start();
    auto push = [&](std::vector<uint8_t> payload) {
        auto record = std::make_unique<FrameRecord>();
        record->has_text = 1;
        record->width = 64;
        record->height = 48;
        record->codec = static_cast<int32_t>(VideoCodec::kMjpeg);
        record->kind = FrameRecord::kKindPicture;
        record->year = 2012;
        record->month = 3;
        record->day = 5;
        record->payload = std::move(payload);
        worker.PushFrame(std::move(record));
    };
    sample::EncodedPacket packet;
    ASSERT_TRUE(encoder->Encode(0, "CH", &packet));
    push(packet.data);
    ASSERT_TRUE(WaitUntil([&] { return viewer.frames() >= 1; }, 30000));
    // 5000 x 48 stays within the decoder's pixel count, so only the side check refuses it.
    std::vector<uint8_t> huge = packet.data;
    size_t sof = 0;
    for (size_t i = 0; i + 9 < huge.size(); ++i)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) sof = i;
    ASSERT_NE(sof, 0u);
    huge[sof + 7] = 5000 >> 8;
    huge[sof + 8] = 5000 & 0xFF;
    push(huge);
    ASSERT_TRUE(encoder->Encode(1, "CH", &packet));
    push(packet.data);
    EXPECT_TRUE(WaitUntil([&] { return viewer.frames() >= 2; }, 30000));
    EXPECT_EQ(viewer.clears, 0);
    EXPECT_EQ(viewer.width, 64);
    EXPECT_EQ(viewer.last_picture().size(), 64u * 48 * 3);
    worker.Stop();
}

// Slider moves to seconds whose first H.264 picture is not a key one (a key every
// two seconds): the channel shows the target second itself, decoded from the key
// picture before it, and never the seconds it was decoded from.
TEST_F(LocalPlaybackTest, SeekShowsTheTargetSecondDecodedFromTheKeyBeforeIt) {
    SmallRecording recording;
    recording.seconds = 12;
    recording.h264_key_interval = 10;  // 5 fps: keys at offsets 0, 2, 4, ...
    const int start = recording.start_second;
    const int targets[] = {3, 7, 5};
    auto engine = Start(recording);
    for (int target : targets) {
        SCOPED_TRACE(target);
        const size_t before = viewers_[1].shown_seconds().size();
        engine->OnHScroll(target);
        ASSERT_TRUE(WaitUntil(
            [&] {
                const auto seconds = viewers_[1].shown_seconds();
                return std::find(seconds.begin() + static_cast<long>(before), seconds.end(), start + target) !=
                       seconds.end();
            },
            5000));
        const auto seconds = viewers_[1].shown_seconds();
        // At most one picture of the old position was already on its way to the viewer.
        int from_old = 0;
        for (size_t i = before; i < seconds.size() && seconds[i] != start + target; ++i) ++from_old;
        EXPECT_LE(from_old, 1);
        for (size_t i = before + static_cast<size_t>(from_old); i < seconds.size(); ++i)
            EXPECT_GE(seconds[i], start + target) << "a picture decoded only to reach the target was shown";
    }
    engine->OnStop();
}

// A flush ends the wait of a picture held for its time at the slowest speed: the
// next position's picture comes at once, not when the old interval (32 s) ends.
TEST(DecodeProcess, FlushEndsThePacingWait) {
    std::string error;
    auto encoder = sample::SampleVideoEncoder::Create(sample::SampleVideoCodec::Mjpeg, 64, 48, 25, 25, 1, &error);
    ASSERT_TRUE(encoder) << error;
    FakeViewer viewer;
    CDecodeProcess worker;
    worker.viewer = &viewer;
    worker.SetSpeed(-32);
    worker.Start();
    auto push = [&](int index) {
        sample::EncodedPacket packet;
        ASSERT_TRUE(encoder->Encode(index, "CH", &packet));
        auto record = std::make_unique<FrameRecord>();
        record->fps = 1;  // 32 x 997 ms per picture at -32
        record->width = 64;
        record->height = 48;
        record->codec = static_cast<int32_t>(VideoCodec::kMjpeg);
        record->kind = FrameRecord::kKindPicture;
        record->year = 2012;
        record->month = 3;
        record->day = 5;
        record->payload = packet.data;
        worker.PushFrame(std::move(record));
    };
    push(0);
    ASSERT_TRUE(WaitUntil([&] { return viewer.frames() >= 1; }, 30000));
    push(1);  // waits behind the first picture's interval; the flush drops it
    worker.RequestFlush();
    push(2);
    EXPECT_TRUE(WaitUntil([&] { return viewer.frames() >= 2; }, 10000));
    EXPECT_EQ(viewer.frames(), 2);
    worker.Stop();
}

// At the slowest speed a picture waits 6.4 s for its turn and a recorded second lasts 32 s.
// A step either way, a slider move and Play each end that wait: the picture of the new
// position comes at once. A worker that noticed only when its old interval ended would show
// it 5.7 s or more after the command, well past the bound, however loaded the machine.
TEST_F(LocalPlaybackTest, EveryTransportCommandEndsTheSlowestPacingWait) {
    SmallRecording recording;
    recording.seconds = 140;
    const int start = recording.start_second;
    auto engine = Start(recording);
    FakeViewer& h264 = viewers_[1];
    // A picture of a second from `from` to `to` (offsets) shown after the first `before`.
    auto shown = [&](size_t before, int from, int to, int timeout_ms) {
        return WaitUntil(
            [&] {
                const auto seconds = h264.shown_seconds();
                return std::any_of(seconds.begin() + static_cast<long>(before), seconds.end(),
                                   [&](int second) { return second >= start + from && second <= start + to; });
            },
            timeout_ms);
    };
    auto slowest = [&] {
        while (panel_.GetSpeed() > -32) engine->OnSpeedDown();
        // Into the slow pace: the picture waiting now is due 6.4 s after the last one.
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
    };
    engine->OnHScroll(70);
    ASSERT_TRUE(shown(0, 70, 70, 10000));
    slowest();

    const struct {
        const char* command;
        std::function<void()> act;
        int from, to;
    } cases[] = {
        {"step forward", [&] { engine->OnStepForward(); }, 130, 131},
        {"step backward", [&] { engine->OnStepBackward(); }, 70, 71},
        {"slider", [&] { engine->OnHScroll(100); }, 100, 100},
        {"play", [&] { engine->OnPlay(); }, 100, 102},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        // The slider and Play leave the slowest speed; what follows them starts from it again.
        if (panel_.GetSpeed() != -32) slowest();
        const size_t before = h264.shown_seconds().size();
        c.act();
        EXPECT_TRUE(shown(before, c.from, c.to, 3000));
    }
    engine->OnStop();
}

// A step asked for while the reader skips gap seconds is applied at the next recorded
// second, not dropped there: the user's jump is never lost.
TEST_F(LocalPlaybackTest, StepDuringGapSecondsIsAppliedAtTheNextRecordedSecond) {
    SmallRecording recording;
    recording.seconds = 70;
    recording.missing_seconds = {0, 1, 2, 3, 4};
    auto engine = Start(recording, 1);
    engine->StepForward();
    // 14:07:05 is the first recorded second; the jump takes it 60 s on.
    EXPECT_TRUE(WaitUntil(
        [&] {
            const auto times = panel_.times();
            return std::find(times.begin(), times.end(), "14:08:05") != times.end();
        },
        10000));
    const auto times = panel_.times();
    EXPECT_EQ(std::count(times.begin(), times.end(), "14:07:06"), 0) << "played on past the jump";
    engine->OnStop();
}

}  // namespace
