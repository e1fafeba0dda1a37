#pragma once
// Recording stand-ins for the windows the playback engine talks to.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "media/playback_engine.h"
#include "media/playback_sinks.h"

class FakeViewer : public ViewerSink {
public:
    void SetFrameSize(int width, int height) override;
    int ShowFrame(int length, const uint8_t* picture) override;
    void SetOsdDateTime(int year, int month, int day, int hour, int minute, int second) override;
    void SetCameraName(const std::string& utf8) override;
    bool HasVideo() const override { return has_video; }
    void ClearVideo() override;
    void SetConnecting(bool connecting) override { this->connecting = connecting; }
    bool IsSelected() const override { return selected; }
    void RequestRepaint() override { ++repaints; }

    int frames() const;
    std::string camera_name() const;
    std::vector<int> shown_seconds() const;  // second of day of each shown picture
    std::vector<uint8_t> last_picture() const;

    std::atomic<bool> has_video{false};
    std::atomic<bool> connecting{false};
    std::atomic<bool> selected{false};
    std::atomic<int> repaints{0};
    std::atomic<int> clears{0};
    std::atomic<int> width{0}, height{0};

private:
    mutable std::mutex lock_;
    int frames_ = 0;
    int osd_second_ = -1;
    std::vector<int> shown_seconds_;
    std::string camera_name_;
    std::vector<uint8_t> last_picture_;
};

class FakeStatusPanel : public StatusPanel {
public:
    void SetDateText(const std::string& text) override;
    void SetTimeText(const std::string& text) override;
    void SetStatusText(const std::string& text) override;
    void SetSpeed(int speed) override;
    int GetSpeed() const override;
    void SetCueMarks(int in_second, int out_second) override;
    void Reset() override;

    std::vector<std::string> times() const;
    std::string date() const;
    std::string status() const;
    int in_mark() const;

private:
    mutable std::mutex lock_;
    std::vector<std::string> times_;
    std::string date_, status_ = "STOP";
    int speed_ = 1;
    int in_ = -1, out_ = -1;
};

class FakePlaybackWindow : public PlaybackWindow {
public:
    void PostMessage(uint32_t message, intptr_t wparam, intptr_t lparam) override;
    void SetTimeSlider(int range_max, int page_size, int position) override;
    void SetTransportButtons(int play_state) override { buttons = play_state; }
    void StartStatusTimer() override { timer_running = true; }
    void StopStatusTimer() override { timer_running = false; }
    void SelectViewer(int index) override { selected_viewer = index; }
    void ShowQuadView() override { layout = 2; }
    void ShowSingleView() override { layout = 1; }
    int GridLayout() const override { return layout; }

    // Waits until message was posted (true) or timeout_ms passed.
    bool WaitFor(uint32_t message, int timeout_ms);
    int Count(uint32_t message) const;
    // The wparam of the last such message, -1 when none came.
    intptr_t LastParam(uint32_t message) const;
    // Drops the messages posted so far.
    void Forget();
    // Waits until message was posted, drops it, and gives the wparam of its last posting;
    // -1 when it did not come within timeout_ms.
    intptr_t Take(uint32_t message, int timeout_ms);

    std::atomic<int> buttons{-1};
    std::atomic<int> slider_max{-1}, slider_page{-1};
    std::atomic<bool> timer_running{false};
    std::atomic<int> selected_viewer{-1};
    std::atomic<int> layout{2};

private:
    mutable std::mutex lock_;
    std::condition_variable posted_;
    std::vector<uint32_t> messages_;
    std::vector<intptr_t> params_;
};

// Hands the recorder open's completion to the engine as the window thread does; false when
// none was posted within timeout_ms.
inline bool DeliverRemoteOpen(PlaybackEngine& engine, FakePlaybackWindow& window, int timeout_ms = 10000) {
    const intptr_t generation = window.Take(WM_REMOTE_OPENED, timeout_ms);
    if (generation < 0) return false;
    engine.HandleMessage(WM_REMOTE_OPENED, generation, 0);
    return true;
}
