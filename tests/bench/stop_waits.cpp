// How long a stop takes while local playback waits: paused, and at the slowest
// speed (a recorded second lasting 32 s), beside the reference of waking one
// thread from a condition variable and joining it. The tests only check that no
// deadline had to run out; this keeps the figure. Each iteration starts a
// playback outside the timing and times the stop alone.
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "media/playback_engine.h"
#include "tests/support/playback_fakes.h"
#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"

namespace {

using Clock = std::chrono::steady_clock;

void BM_ReferenceWakeAndJoin(benchmark::State& state) {
    for (auto _ : state) {
        std::mutex lock;
        std::condition_variable wake;
        bool stop = false;
        std::thread waiter([&] {
            std::unique_lock<std::mutex> guard(lock);
            wake.wait(guard, [&] { return stop; });
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // into its wait
        const auto begun = Clock::now();
        {
            std::lock_guard<std::mutex> guard(lock);
            stop = true;
        }
        wake.notify_all();
        waiter.join();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - begun).count());
    }
}

void StopPlayback(benchmark::State& state, int speed, bool pause) {
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    TempFolder tmp;
    SmallRecording recording;
    recording.seconds = 10;
    const std::string data = WriteSmallRecording(tmp.path(), recording);
    for (auto _ : state) {
        FakePlaybackWindow window;
        FakeStatusPanel panel;
        FakeViewer viewers[4];
        PlaybackEngine engine(&window, &panel,
                              std::array<ViewerSink*, 4>{&viewers[0], &viewers[1], &viewers[2], &viewers[3]});
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
        panel.SetSpeed(speed);
        if (pause) engine.OnPause();
        std::this_thread::sleep_for(std::chrono::milliseconds(800));  // into the wait
        const auto begun = Clock::now();
        engine.OnStop();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - begun).count());
    }
}

void BM_StopPaused(benchmark::State& state) { StopPlayback(state, 1, true); }
void BM_StopAtTheSlowestSpeed(benchmark::State& state) { StopPlayback(state, -32, false); }

}  // namespace

BENCHMARK(BM_ReferenceWakeAndJoin)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_StopPaused)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_StopAtTheSlowestSpeed)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
