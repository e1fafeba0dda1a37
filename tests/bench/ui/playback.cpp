// The playback engine's figures, side by side in one run:
// - the decode workers without pacing against bare libavcodec decode plus the
//   same conversion, on the same packets and as many threads, 1 and 4
//   channels, idle and with the cores kept busy ("ratio": worker pictures per
//   second over bare ones);
// - 32x on four 704x576 H.264 channels: recorded seconds per second and
//   pictures per channel and second, with the key frames that were queued;
// - four 704x576 channels at 1x: share of one core, with the real viewers
//   painting offscreen and with a sink that only counts, and the window
//   thread's own share (it paints every viewer);
// - how long the Stop command takes at 1/32x, 1x and 32x while sound plays;
// - OK in Open to the first picture through the main window, with the selection
//   answered at once and through the real record selection dialog, how long the
//   window thread was held meanwhile and by the stop before the selection,
//   beside one picture interval;
// - a slider jump to the first picture of the new time, beside one picture interval;
// - the process's memory over 50 Open/OK cycles through the real record selection:
//   resident, and what the program holds from the allocator;
// - Power to the end of the process, and the window thread's hold of the click.
#include <benchmark/benchmark.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <malloc.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "mainwindow/ui/kestrel_playback_dlg.h"
#include "mainwindow/ui/playback_app.h"
#include "media/decode_process.h"
#include "media/disk_format.h"
#include "media/playback_engine.h"
#include "media/ui/my_viewer.h"
#include "media/ui/ui_services.h"
#include "tests/bench/bare_decoder.h"
#include "tests/support/held_time.h"
#include "sources/ui/select_dlg.h"
#include "tests/support/playback_fakes.h"
#include "tests/support/program_folder_copy.h"
#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"
#include "tools/common/avdata_writer.h"
#include "tools/common/sample_media.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWidth = 704;
constexpr int kHeight = 576;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU time of the calling thread: the window thread paints every viewer.
double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// 704x576 H.264 at fps with a key frame every key_interval frames, encoded once per shape.
const std::vector<sample::EncodedPacket>& Coded(int fps, int key_interval, int count) {
    static std::map<std::tuple<int, int, int>, std::vector<sample::EncodedPacket>> cache;
    auto& packets = cache[{fps, key_interval, count}];
    if (!packets.empty()) return packets;
    av_log_set_level(AV_LOG_ERROR);
    std::string error;
    auto encoder =
        sample::SampleVideoEncoder::Create(sample::SampleVideoCodec::H264, kWidth, kHeight, fps, key_interval, 1, &error);
    if (!encoder) {
        std::fprintf(stderr, "no H.264 encoder: %s\n", error.c_str());
        return packets;
    }
    for (int i = 0; i < count; ++i) {
        sample::EncodedPacket packet;
        if (!encoder->Encode(i, "CH-1 12:34:" + std::to_string(i % 60), &packet)) break;
        packets.push_back(std::move(packet));
    }
    return packets;
}

std::vector<std::vector<uint8_t>> Payloads(const std::vector<sample::EncodedPacket>& packets) {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& p : packets) out.push_back(p.data);
    return out;
}

constexpr int kStartSecond = 10 * 3600;

// Four H.264 channels of the same pictures for `seconds` seconds from 10:00:00; with sound,
// channel 1 carries a second of 8 kHz 16-bit PCM in each second too.
std::string WriteRecording(const std::string& folder, int fps, int key_interval, int seconds, bool sound = false) {
    const auto& packets = Coded(fps, key_interval, fps * seconds);
    if (static_cast<int>(packets.size()) < fps * seconds) return "";
    const std::string data = folder + "/avdata";
    std::map<int, sample::SampleMinute> minutes;
    for (int i = 0; i < seconds; ++i) {
        const int second_of_day = kStartSecond + i;
        sample::SampleMinute& minute = minutes[second_of_day / 60];
        for (int c = 0; c < 4; ++c) {
            sample::SampleChannelSecond channel;
            for (int f = 0; f < fps; ++f) {
                const sample::EncodedPacket& packet = packets[static_cast<size_t>(i * fps + f)];
                sample::SampleFrame frame;
                frame.kind = diskformat::kKindVideo;
                frame.codec = diskformat::kCodecH264;
                frame.key = packet.key;
                frame.time_stamp_ms = second_of_day * 1000LL + f * 1000 / fps;
                frame.width = kWidth;
                frame.height = kHeight;
                frame.data = packet.data;
                channel.frames.push_back(std::move(frame));
            }
            if (sound && c == 0) {
                sample::SampleFrame audio;
                audio.kind = diskformat::kKindAudio;
                audio.codec = diskformat::kAudioPcm;
                audio.bits = 16;
                audio.sample_rate = 8000;
                audio.channels = 1;
                audio.data.assign(16000, 0);
                channel.frames.insert(channel.frames.begin(), std::move(audio));
            }
            minute.seconds[second_of_day % 60].channels[static_cast<size_t>(c)] = std::move(channel);
        }
    }
    std::string error;
    for (const auto& [minute_of_day, minute] : minutes)
        if (!sample::WriteMinuteFile(data, 2012, 3, 5, minute_of_day / 60, minute_of_day % 60, minute, &error)) return "";
    sample::SampleDay day{2012, 3, 5, {{kStartSecond, kStartSecond + seconds - 1, 'f', '1'}}, {}, {}};
    return sample::WriteDayIndex(data, day, &error) ? data : "";
}

// A viewer that only counts the pictures it is handed. It wakes a waiter only
// once the count it waits for is reached: a wake-up per picture would charge
// the decode worker a futex wake of the harness's feeder for every picture
// (about 30 us on this kind of machine), which is no part of the engine.
class CountingViewer : public ViewerSink {
public:
    void SetFrameSize(int, int) override { has_video_ = true; }
    int ShowFrame(int, const uint8_t*) override {
        bool reached = false;
        {
            std::lock_guard<std::mutex> guard(lock_);
            reached = ++frames_ == awaited_;
        }
        if (reached) shown_.notify_all();
        return 1;
    }
    void SetOsdDateTime(int, int, int, int, int, int) override {}
    void SetCameraName(const std::string&) override {}
    bool HasVideo() const override { return has_video_; }
    void ClearVideo() override { has_video_ = false; }
    void SetConnecting(bool) override {}
    bool IsSelected() const override { return false; }
    void RequestRepaint() override {}

    int frames() const {
        std::lock_guard<std::mutex> guard(lock_);
        return frames_;
    }
    // One waiter at a time.
    void WaitFor(int count) {
        std::unique_lock<std::mutex> guard(lock_);
        awaited_ = count;
        shown_.wait_for(guard, std::chrono::seconds(20), [&] { return frames_ >= count; });
        awaited_ = -1;
    }

private:
    std::atomic<bool> has_video_{false};
    mutable std::mutex lock_;
    std::condition_variable shown_;
    int frames_ = 0;
    int awaited_ = -1;
};

// Threads that keep every core busy while they live.
class Load {
public:
    explicit Load(bool on) {
        if (!on) return;
        for (unsigned i = 0; i < std::thread::hardware_concurrency(); ++i)
            threads_.emplace_back([this] {
                volatile uint64_t x = 0;
                while (!stop_) x = x + 1;
            });
    }
    ~Load() {
        stop_ = true;
        for (auto& t : threads_) t.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// Bare libavcodec with the conversion, one thread per channel: seconds for all packets.
double BareRun(const std::vector<std::vector<uint8_t>>& payloads, int channels) {
    std::vector<std::unique_ptr<BareDecoder>> decoders;
    for (int c = 0; c < channels; ++c)
        decoders.push_back(std::make_unique<BareDecoder>(kWidth, kHeight, payloads, true));
    const auto begun = Clock::now();
    std::vector<std::thread> threads;
    for (auto& d : decoders)
        threads.emplace_back([&d] {
            for (size_t i = 0; i < d->count(); ++i) d->Decode(i);
        });
    for (auto& t : threads) t.join();
    return Seconds(Clock::now() - begun);
}

// The decode workers, fed as the recorder's stream feeds them: one thread for
// every channel, as the stream's reader is, keeping each queue a few pictures
// short of the bound beyond which a worker skips to the next key frame, and
// woken only when a queue is getting short: seconds for all packets.
double PipelineRun(const std::vector<std::vector<uint8_t>>& payloads, int channels) {
    std::vector<std::unique_ptr<CountingViewer>> viewers;
    std::vector<std::unique_ptr<CDecodeProcess>> workers;
    for (int c = 0; c < channels; ++c) {
        viewers.push_back(std::make_unique<CountingViewer>());
        workers.push_back(std::make_unique<CDecodeProcess>());
        workers.back()->viewer = viewers.back().get();
        workers.back()->Start();
    }
    constexpr int kFull = 30, kRefill = 22;
    const int count = static_cast<int>(payloads.size());
    const auto begun = Clock::now();
    std::thread feeder([&] {
        std::vector<int> pushed(static_cast<size_t>(channels), 0);
        for (;;) {
            int shortest = -1, shortest_queued = kFull;
            for (int c = 0; c < channels; ++c) {
                const size_t i = static_cast<size_t>(c);
                while (pushed[i] < count && pushed[i] - viewers[i]->frames() < kFull) {
                    auto record = std::make_unique<FrameRecord>();
                    record->has_text = 1;
                    record->width = kWidth;
                    record->height = kHeight;
                    record->codec = static_cast<int32_t>(VideoCodec::kH264);
                    record->kind = FrameRecord::kKindPicture;
                    record->payload = payloads[static_cast<size_t>(pushed[i]++)];
                    workers[i]->PushFrame(std::move(record));
                }
                const int queued = pushed[i] - viewers[i]->frames();
                if (pushed[i] < count && queued <= shortest_queued) {
                    shortest = c;
                    shortest_queued = queued;
                }
            }
            if (shortest < 0) break;
            const size_t i = static_cast<size_t>(shortest);
            viewers[i]->WaitFor(pushed[i] - kRefill);
        }
        for (auto& viewer : viewers) viewer->WaitFor(count);
    });
    feeder.join();
    const double seconds = Seconds(Clock::now() - begun);
    for (auto& w : workers) w->Stop();
    return seconds;
}

void BM_UnpacedPipelineVsBareDecode(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const auto payloads = Payloads(Coded(25, 25, 150));
    if (payloads.empty()) return state.SkipWithError("no packets");
    Load load(state.range(1) != 0);
    double bare = 0, pipeline = 0, bare_cpu = 0, pipeline_cpu = 0;
    bool bare_first = true;
    auto run_bare = [&] {
        const double cpu = CpuSeconds();
        bare += BareRun(payloads, channels);
        bare_cpu += CpuSeconds() - cpu;
    };
    for (auto _ : state) {
        // In turn first and second, so a machine whose speed drifts favours neither.
        if (bare_first) run_bare();
        const double cpu = CpuSeconds();
        pipeline += PipelineRun(payloads, channels);
        pipeline_cpu += CpuSeconds() - cpu;
        if (!bare_first) run_bare();
        bare_first = !bare_first;
    }
    // Processor time is what other work on the machine moves least; with the
    // cores kept busy by this process it also counts the load, so it is left out.
    if (state.range(1) == 0) state.counters["cpu_ratio"] = bare_cpu / pipeline_cpu;
    const double pictures = static_cast<double>(payloads.size()) * channels * static_cast<double>(state.iterations());
    state.counters["bare_fps"] = pictures / bare;
    state.counters["pipeline_fps"] = pictures / pipeline;
    state.counters["ratio"] = bare / pipeline;
    state.SetLabel(std::to_string(channels) + (state.range(1) ? " channels, cores busy" : " channels, idle"));
}
BENCHMARK(BM_UnpacedPipelineVsBareDecode)
    ->Args({1, 0})
    ->Args({4, 0})
    ->Args({1, 1})
    ->Args({4, 1})
    ->Iterations(6)
    ->Unit(benchmark::kMillisecond);

struct Playback {
    FakePlaybackWindow window;
    FakeStatusPanel panel;
    std::unique_ptr<PlaybackEngine> engine;

    Playback(const std::string& data, int seconds, std::array<ViewerSink*, 4> viewers) {
        engine = std::make_unique<PlaybackEngine>(&window, &panel, viewers);
        RecordSource source;
        source.path = data;
        source.channel_mask = 15;
        source.start_second = kStartSecond;
        source.end_second = kStartSecond + seconds - 1;
        source.year = 2012;
        source.month = 3;
        source.day = 5;
        engine->SetLocalSource(source);
    }
};

// 32x: the reader covers 34 recorded seconds in three steps of 333 ms, one
// key frame per channel and step; keeping pace shows every one of them.
void BM_Fast32FourChannels(benchmark::State& state) {
    TempFolder tmp;
    constexpr int kSeconds = 240;
    const std::string data = WriteRecording(tmp.path(), 2, 2, kSeconds);
    if (data.empty()) return state.SkipWithError("no recording");
    double recorded = 0, wall = 0, shown = 0;
    for (auto _ : state) {
        CountingViewer viewers[4];
        Playback playback(data, kSeconds, {&viewers[0], &viewers[1], &viewers[2], &viewers[3]});
        playback.engine->StartLocalPlayback();
        for (int i = 0; i < 5; ++i) playback.engine->OnSpeedUp();
        const int from = playback.engine->Status().slider_position;
        const int shown_from = viewers[0].frames() + viewers[1].frames() + viewers[2].frames() + viewers[3].frames();
        const auto begun = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(3));
        wall += Seconds(Clock::now() - begun);
        recorded += playback.engine->Status().slider_position - from;
        shown += viewers[0].frames() + viewers[1].frames() + viewers[2].frames() + viewers[3].frames() - shown_from;
        playback.engine->OnStop();
    }
    state.counters["recorded_s_per_s"] = recorded / wall;
    state.counters["pictures_per_channel_per_s"] = shown / 4 / wall;
    state.SetLabel("nominal: 34 recorded s and 3 pictures per channel per second");
}
BENCHMARK(BM_Fast32FourChannels)->Iterations(1)->Unit(benchmark::kMillisecond);

// Paint events of the widgets it watches.
class PaintCounter : public QObject {
public:
    long count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++count;
        return false;
    }
};

// Four channels at 1x for five seconds: process time over wall time. Arg 1:
// the real viewers, painted offscreen at a quarter of 1920x1080 each.
void BM_FourChannelsAt1xCoreShare(benchmark::State& state) {
    TempFolder tmp;
    constexpr int kSeconds = 8;
    const std::string data = WriteRecording(tmp.path(), 25, 25, kSeconds);
    if (data.empty()) return state.SkipWithError("no recording");
    const bool real = state.range(0) != 0;
    double cpu = 0, wall = 0, window_cpu = 0;
    long painted = 0;
    PaintCounter paints;
    for (auto _ : state) {
        std::vector<std::unique_ptr<CMyViewer>> windows;
        CountingViewer counters[4];
        std::array<ViewerSink*, 4> sinks{};
        for (int i = 0; i < 4; ++i) {
            if (real) {
                windows.push_back(std::make_unique<CMyViewer>());
                windows.back()->resize(960, 540);
                windows.back()->installEventFilter(&paints);
                windows.back()->show();
                sinks[static_cast<size_t>(i)] = windows.back().get();
            } else {
                sinks[static_cast<size_t>(i)] = &counters[i];
            }
        }
        QCoreApplication::processEvents();
        Playback playback(data, kSeconds, sinks);
        playback.engine->StartLocalPlayback();
        // Past the first picture's decoder start.
        QEventLoop settle;
        QTimer::singleShot(1000, &settle, &QEventLoop::quit);
        settle.exec();
        const double cpu_from = CpuSeconds();
        const double window_from = ThreadCpuSeconds();
        paints.count = 0;
        const auto begun = Clock::now();
        QEventLoop loop;
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        painted += paints.count;
        cpu += CpuSeconds() - cpu_from;
        window_cpu += ThreadCpuSeconds() - window_from;
        wall += Seconds(Clock::now() - begun);
        playback.engine->OnStop();
    }
    state.counters["core_share"] = cpu / wall;
    // Less noisy than the whole process for what painting costs.
    state.counters["window_thread_share"] = window_cpu / wall;
    // Four channels at 25 pictures a second: 100 paints a second is one per picture.
    if (real) state.counters["paints_per_s"] = static_cast<double>(painted) / wall;
    state.SetLabel(real ? "real viewers" : "decoding only");
}
BENCHMARK(BM_FourChannelsAt1xCoreShare)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// Stop while playing with sound, after the speed was set: the time OnStop takes.
void BM_StopLatency(benchmark::State& state) {
    TempFolder tmp;
    setenv("SDL_AUDIODRIVER", "disk", 0);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 0);
    SmallRecording recording;
    recording.seconds = 30;
    const std::string data = WriteSmallRecording(tmp.path(), recording);
    if (data.empty()) return state.SkipWithError("no recording");
    const int speed = static_cast<int>(state.range(0));
    double longest = 0;
    for (auto _ : state) {
        FakeViewer viewers[4];
        viewers[0].selected = true;
        FakePlaybackWindow window;
        FakeStatusPanel panel;
        PlaybackEngine engine(&window, &panel, {&viewers[0], &viewers[1], &viewers[2], &viewers[3]});
        RecordSource source;
        source.path = data;
        source.channel_mask = 3;
        source.start_second = recording.start_second;
        source.end_second = recording.start_second + recording.seconds - 1;
        source.year = recording.date.year;
        source.month = recording.date.month;
        source.day = recording.date.day;
        engine.SetLocalSource(source);
        engine.StartLocalPlayback();
        // At 1x the device opens with the first second's sound.
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        if (speed > 1)
            while (panel.GetSpeed() < speed) engine.OnSpeedUp();
        if (speed < 1)
            while (panel.GetSpeed() > speed) engine.OnSpeedDown();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto begun = Clock::now();
        engine.OnStop();
        const double took = Seconds(Clock::now() - begun);
        state.SetIterationTime(took);
        longest = std::max(longest, took);
        engine.WaitSoundClosed();
    }
    state.counters["longest_ms"] = longest * 1000;
    state.SetLabel(speed == 1 ? "1x" : speed > 1 ? std::to_string(speed) + "x" : "1/" + std::to_string(-speed) + "x");
}
BENCHMARK(BM_StopLatency)->Arg(-32)->Arg(1)->Arg(32)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// Resident memory of the process in KiB.
long ResidentKib() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Bytes the program holds from the allocator in KiB, its mapped blocks included: what it
// keeps, told apart from what the allocator keeps of what was freed.
long HeapInUseKib() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
}

void PumpFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Pumps the window thread until done() holds; false after timeout_ms.
bool PumpUntil(const std::function<bool()>& done, int timeout_ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout_ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

RecordSelectionResult Chosen(const std::string& data, int seconds) {
    RecordSelectionResult chosen;
    chosen.result = kDialogOk;
    chosen.source_mode = 0;
    chosen.source.path = data;
    chosen.source.channel_mask = 15;
    chosen.source.start_second = kStartSecond;
    chosen.source.end_second = kStartSecond + seconds - 1;
    chosen.source.year = 2012;
    chosen.source.month = 3;
    chosen.source.day = 5;
    return chosen;
}

// Open on a playing main window, OK in the record selection: the time to the first
// picture of the new playback on every viewer, and how long Open held the window thread.
void BM_OpenOkToFirstPicture(benchmark::State& state) {
    TempFolder tmp;
    constexpr int kSeconds = 6;
    // With sound, as recordings have it: the last playback's sound device is closing as the new one opens.
    setenv("SDL_AUDIODRIVER", "disk", 0);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 0);
    const std::string data = WriteRecording(tmp.path(), 25, 25, kSeconds, true);
    if (data.empty()) return state.SkipWithError("no recording");
    ProgramFolderCopy program;
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(program.path());
    const bool real_selection = state.range(0) != 0;
    CKestrelPlaybackDlg dlg;
    Clock::time_point open, ok;
    double to_selection = 0;
    // Open stops what plays before the selection shows.
    QTimer answer;
    if (real_selection) {
        dlg.hooks.run_record_selection = StandardDialogHooks().run_record_selection;
        // Answers the selection as the user's OK would leave it.
        answer.setInterval(1);
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* select = dynamic_cast<CSelectDlg*>(QApplication::activeModalWidget());
            if (!select || !select->isVisible()) return;
            select->source_mode = 0;
            select->record_source = Chosen(data, kSeconds).source;
            ok = Clock::now();
            to_selection += Seconds(ok - open);
            select->accept();
        });
        answer.start();
    } else {
        dlg.hooks.run_record_selection = [&](const RecordSelectionRequest&) {
            ok = Clock::now();
            to_selection += Seconds(ok - open);
            return Chosen(data, kSeconds);
        };
    }
    dlg.OnInitDialog();
    dlg.show();
    double to_picture = 0, held = 0, longest = 0;
    for (auto _ : state) {
        // Playing from an earlier Open: the next one replaces it.
        open = Clock::now();
        dlg.OnOpen();
        const double blocked = Seconds(Clock::now() - ok);
        ViewerGrid& grid = dlg.grid();
        // The stop cleared every viewer: the first picture sizes them again.
        const bool shown = PumpUntil(
            [&] {
                for (int i = 0; i < 4; ++i)
                    if (!grid.Viewer(i)->HasVideo()) return false;
                return true;
            },
            5000);
        const double took = Seconds(Clock::now() - ok);
        if (!shown) return state.SkipWithError("no picture");
        to_picture += took;
        held += blocked;
        longest = std::max(longest, took);
        PumpFor(300);
    }
    dlg.OnStop();
    std::filesystem::current_path(before);
    const double n = static_cast<double>(state.iterations());
    state.counters["ok_to_picture_ms"] = to_picture / n * 1000;
    state.counters["longest_ms"] = longest * 1000;
    state.counters["window_held_ms"] = held / n * 1000;
    state.counters["open_to_selection_ms"] = to_selection / n * 1000;
    state.counters["in_picture_intervals"] = to_picture / n / 0.040;
    state.SetLabel(std::string(real_selection ? "real record selection" : "selection answered at once") +
                   ", 4 channels 704x576 H.264 at 25 fps; aim 150 ms");
}
BENCHMARK(BM_OpenOkToFirstPicture)->Arg(0)->Arg(1)->Iterations(8)->Unit(benchmark::kMillisecond);

// Slider jumps at 1x onto seconds whose first picture is not a key one (a key every
// two seconds): the time to the first picture of the new second on channel 1.
void BM_JumpToFirstPicture(benchmark::State& state) {
    TempFolder tmp;
    constexpr int kSeconds = 40;
    const std::string data = WriteRecording(tmp.path(), 25, 50, kSeconds);
    if (data.empty()) return state.SkipWithError("no recording");
    FakeViewer viewers[4];
    Playback playback(data, kSeconds, {&viewers[0], &viewers[1], &viewers[2], &viewers[3]});
    playback.engine->StartLocalPlayback();
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    double total = 0, longest = 0;
    int target = 3;
    for (auto _ : state) {
        const size_t before = viewers[0].shown_seconds().size();
        const auto begun = Clock::now();
        playback.engine->OnHScroll(target);
        // The target second itself, or the next one where decoding can only start at its key picture.
        for (;;) {
            const auto seconds = viewers[0].shown_seconds();
            if (std::find_if(seconds.begin() + static_cast<long>(before), seconds.end(), [&](int second) {
                    return second >= kStartSecond + target && second <= kStartSecond + target + 1;
                }) != seconds.end())
                break;
            if (Clock::now() - begun > std::chrono::seconds(5)) return state.SkipWithError("no picture");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const double took = Seconds(Clock::now() - begun);
        total += took;
        longest = std::max(longest, took);
        target = (target + 8) % 36 | 1;  // odd seconds: mid-way between key pictures
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    playback.engine->OnStop();
    const double n = static_cast<double>(state.iterations());
    state.counters["jump_to_picture_ms"] = total / n * 1000;
    state.counters["longest_ms"] = longest * 1000;
    state.counters["in_picture_intervals"] = total / n / 0.040;
    state.SetLabel("4 channels 704x576 H.264, key every 2 s; aim 150 ms");
}
BENCHMARK(BM_JumpToFirstPicture)->Iterations(8)->Unit(benchmark::kMillisecond);

// 50 Open/OK cycles through the real record selection dialog (answered as it opens)
// and the main window: resident memory growth per cycle over 50 cycles after five, beside
// the same cycles without the selection dialog (Arg 0).
void BM_OpenOkCyclesMemory(benchmark::State& state) {
    TempFolder tmp;
    constexpr int kSeconds = 4;
    const std::string data = WriteRecording(tmp.path(), 25, 25, kSeconds);
    if (data.empty()) return state.SkipWithError("no recording");
    ProgramFolderCopy program;
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(program.path());
    const bool real_selection = state.range(0) != 0;
    long first = 0, warm = 0, last = 0, warm_in_use = 0, last_in_use = 0;
    for (auto _ : state) {
        CKestrelPlaybackDlg dlg;
        if (real_selection) {
            dlg.hooks.run_record_selection = StandardDialogHooks().run_record_selection;
        } else {
            dlg.hooks.run_record_selection = [&](const RecordSelectionRequest&) { return Chosen(data, kSeconds); };
        }
        dlg.OnInitDialog();
        dlg.show();
        // Answers the selection as the user's OK would leave it.
        QTimer answer;
        answer.setInterval(5);
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* select = dynamic_cast<CSelectDlg*>(QApplication::activeModalWidget());
            if (!select || !select->isVisible()) return;
            select->source_mode = 0;
            select->record_source = Chosen(data, kSeconds).source;
            select->accept();
        });
        answer.start();
        for (int cycle = 0; cycle < 56; ++cycle) {
            dlg.OnOpen();
            PumpUntil([&] { return dlg.grid().Viewer(0)->HasVideo(); }, 5000);
            PumpFor(100);
            if (cycle == 0) first = ResidentKib();
            // Both while playing, at the same point of the cycle: a stop frees the pictures.
            if (cycle == 5) {
                warm = ResidentKib();
                warm_in_use = HeapInUseKib();
            }
            if (cycle == 55) {
                last = ResidentKib();
                last_in_use = HeapInUseKib();
            }
        }
        dlg.OnStop();
        PumpFor(50);
    }
    std::filesystem::current_path(before);
    state.counters["rss_after_1_kib"] = static_cast<double>(first);
    state.counters["rss_after_6_kib"] = static_cast<double>(warm);
    state.counters["rss_after_56_kib"] = static_cast<double>(last);
    // Over the 50 cycles after the caches of the first few have filled.
    state.counters["growth_per_cycle_kib"] = static_cast<double>(last - warm) / 50;
    state.counters["in_use_growth_per_cycle_kib"] = static_cast<double>(last_in_use - warm_in_use) / 50;
    state.SetLabel(real_selection ? "real record selection" : "selection answered at once");
}
BENCHMARK(BM_OpenOkCyclesMemory)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// Power on a playing main window, in a process of its own run as larkspur's main runs the
// program (its application object, from the build's program folder as its working folder,
// offscreen, sound on the disk driver): how long the click held the window thread, and the
// time from the click to the end of the process.
constexpr char kPowerChild[] = "LARKSPUR_BENCH_POWER_CHILD";
constexpr int kPowerSeconds = 20;

int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

CKestrelPlaybackDlg* ShownMainDialog() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<CKestrelPlaybackDlg*>(w); dialog && dialog->isVisible()) return dialog;
    return nullptr;
}

// The child: Open answered with the recording, Power pressed once every viewer has shown
// pictures for a second. It says "power <steady ns> <held ms>" as the click returns.
int RunPowerChild(int argc, char** argv, const std::string& data) {
    QApplication application(argc, argv);
    ui::InstallQtMessageBoxHandler();
    CKestrelPlaybackApp app;
    app.hooks.run_record_selection = [data](const RecordSelectionRequest&) { return Chosen(data, kPowerSeconds); };
    QTimer driver;
    bool opened = false;
    Clock::time_point shown{};
    QObject::connect(&driver, &QTimer::timeout, [&] {
        CKestrelPlaybackDlg* dlg = ShownMainDialog();
        if (!dlg) return;
        if (!opened) {
            opened = true;
            // Its own slot: the Open runs a modal loop of its own.
            QTimer::singleShot(0, dlg, [dlg] { static_cast<QAbstractButton*>(dlg->Control(kestrel_id::kOpen))->click(); });
            return;
        }
        for (int i = 0; i < 4; ++i)
            if (!dlg->grid().Viewer(i)->HasVideo()) return;
        if (shown == Clock::time_point{}) shown = Clock::now();
        if (Clock::now() - shown < std::chrono::seconds(1)) return;
        driver.stop();
        const int64_t clicked = SteadyNs();
        const int64_t held =
            held_time::HeldMs([dlg] { static_cast<QAbstractButton*>(dlg->Control(kestrel_id::kPower))->click(); });
        std::printf("power %lld %lld\n", static_cast<long long>(clicked), static_cast<long long>(held));
        std::fflush(stdout);
    });
    driver.start(10);
    app.initial_data_folder = data;
    app.InitInstance();
    return app.ExitInstance();
}

void BM_PowerToExit(benchmark::State& state) {
    TempFolder tmp;
    const std::string data = WriteRecording(tmp.path(), 25, 25, kPowerSeconds, true);
    if (data.empty()) return state.SkipWithError("no recording");
    TempFolder runtime;
    std::filesystem::permissions(runtime.path(), std::filesystem::perms::owner_all);
    std::vector<std::string> env;
    const std::vector<std::string> set_here{"QT_QPA_PLATFORM=", "XDG_RUNTIME_DIR=", "SDL_AUDIODRIVER=",
                                            "SDL_DISKAUDIOFILE="};
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (std::none_of(set_here.begin(), set_here.end(),
                         [&](const std::string& name) { return entry.rfind(name, 0) == 0; }))
            env.push_back(entry);
    }
    env.push_back(std::string(kPowerChild) + "=" + data);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("XDG_RUNTIME_DIR=" + runtime.path());
    env.push_back("SDL_AUDIODRIVER=disk");
    env.push_back("SDL_DISKAUDIOFILE=/dev/null");
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string folder = std::filesystem::path(self).parent_path().string();
    std::vector<double> to_exit, held;
    for (auto _ : state) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return state.SkipWithError("no pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
        std::string arg0 = self;
        char* argv[] = {arg0.data(), nullptr};
        pid_t pid = -1;
        const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (spawned != 0) {
            close(out[0]);
            return state.SkipWithError("no child");
        }
        std::string said;
        char buf[256];
        ssize_t n;
        while ((n = read(out[0], buf, sizeof buf)) > 0) said.append(buf, static_cast<size_t>(n));
        close(out[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        const int64_t ended = SteadyNs();
        long long clicked = 0, held_ms = 0;
        const size_t at = said.find("power ");
        if (at == std::string::npos || std::sscanf(said.c_str() + at, "power %lld %lld", &clicked, &held_ms) != 2 ||
            !WIFEXITED(status))
            return state.SkipWithError(("the child did not reach Power: " + said).c_str());
        const double seconds = static_cast<double>(ended - clicked) / 1e9;
        state.SetIterationTime(seconds);
        to_exit.push_back(seconds * 1000);
        held.push_back(static_cast<double>(held_ms));
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    state.counters["power_to_exit_median_ms"] = median(to_exit);
    state.counters["power_to_exit_longest_ms"] = to_exit.empty() ? 0 : *std::max_element(to_exit.begin(), to_exit.end());
    state.counters["window_held_median_ms"] = median(held);
    state.SetLabel("4 channels 704x576 H.264 at 25 fps with sound; aim 500 ms");
}
BENCHMARK(BM_PowerToExit)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (const char* data = std::getenv(kPowerChild)) return RunPowerChild(argc, argv, data);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
