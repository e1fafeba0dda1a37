#include "media/preview_stream_engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"

namespace {

class CountingTarget : public PreviewTarget {
public:
    void PostPreviewFrame(int width, int height) override {
        last_width = width;
        last_height = height;
        ++frames;
    }
    std::atomic<int> frames{0}, last_width{0}, last_height{0};
};

bool WaitFor(const std::function<bool()>& done, int timeout_ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST(PreviewStreamEngine, LocalReaderShowsTheChosenChannel) {
    TempFolder tmp;
    // Most of a minute: a stop within a fraction of it ended the reader, not the range's end,
    // however loaded the machine.
    SmallRecording recording;
    recording.seconds = 59;
    const std::string data = WriteSmallRecording(tmp.path(), recording);
    ASSERT_FALSE(data.empty());
    for (int channel : {0, 1}) {
        PreviewStreamEngine engine;
        CountingTarget target;
        engine.SetTarget(&target);
        engine.record_source.path = data;
        engine.record_source.start_second = recording.start_second;
        engine.record_source.end_second = recording.start_second + recording.seconds - 1;
        engine.record_source.year = recording.date.year;
        engine.record_source.month = recording.date.month;
        engine.record_source.day = recording.date.day;
        engine.preview_channel = channel;
        engine.StartLocal();
        ASSERT_TRUE(WaitFor([&] { return target.frames > 0; }, 30000)) << channel;
        EXPECT_EQ(target.last_width, 176);
        EXPECT_EQ(target.last_height, 144);
        std::vector<uint8_t> picture;
        EXPECT_TRUE(engine.CopyOutput(176, 144, &picture));
        EXPECT_FALSE(engine.CopyOutput(352, 288, &picture));
        const auto begun = std::chrono::steady_clock::now();
        engine.StopThreads();
        EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(10));
    }
}

TEST(PreviewStreamEngine, MissingFolderEndsTheReader) {
    PreviewStreamEngine engine;
    engine.record_source.path = "/nonexistent/avdata";
    engine.record_source.start_second = 10;
    engine.record_source.end_second = 20;
    engine.StartLocal();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    engine.StopThreads();
    std::vector<uint8_t> picture;
    EXPECT_FALSE(engine.CopyOutput(176, 144, &picture));
}

}  // namespace
