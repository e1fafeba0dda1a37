#pragma once
// What the playback engine needs of the windows. The engine runs on worker
// threads and never touches a widget: window classes implement these, and
// anything that must paint or move a control is queued to the window thread.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Message numbers of the window messages the engine posts (WM_USER + n).
constexpr uint32_t kAppMessageBase = 0x400;
constexpr uint32_t WM_POSITION_CHANGED = kAppMessageBase + 101;  // 0x465
constexpr uint32_t WM_SLIDER_RELEASED = kAppMessageBase + 102;   // 0x466
constexpr uint32_t WM_STREAM_LOST = kAppMessageBase + 106;       // 0x46A
constexpr uint32_t WM_DISK_FULL = kAppMessageBase + 111;         // 0x46F
constexpr uint32_t WM_CONNECTION_LOST = kAppMessageBase + 112;   // 0x470
constexpr uint32_t WM_MOVE_VIEWER = kAppMessageBase + 115;       // 0x473
// A reader thread that reaches the end of its range asks the window thread to
// run the Stop handler, which waits for that very thread.
constexpr uint32_t WM_STOP_REQUESTED = kAppMessageBase + 200;
// A jump made while paused resumes play; the window thread sets the buttons.
constexpr uint32_t WM_PLAY_REQUESTED = kAppMessageBase + 201;
// The requests that open a recorder's playback have ended on the engine's worker (wParam:
// which open); the window thread applies what the recorder answered.
constexpr uint32_t WM_REMOTE_OPENED = kAppMessageBase + 202;

// One channel's viewer (CMyViewer). Called from that channel's decode worker.
class ViewerSink {
public:
    virtual ~ViewerSink() = default;
    virtual void SetFrameSize(int width, int height) = 0;
    // Copies and filters a top-down BGR24 picture; 0 when it was refused.
    virtual int ShowFrame(int length, const uint8_t* picture) = 0;
    // Where the sink keeps a picture of width x height, the decoder converts
    // straight into it, which saves copying every picture once more:
    // convert(top_row, row_stride) writes the top-down BGR24 picture with its
    // rows row_stride bytes apart (negative: stored bottom-up) and says whether
    // it did; the sink filters it as ShowFrame does and returns ShowFrame's
    // result. -1, with convert not called, where it keeps none: the caller
    // converts into a buffer of its own and calls ShowFrame.
    using PictureConvert = std::function<bool(uint8_t* top_row, ptrdiff_t row_stride)>;
    virtual int ShowConverted(int /*width*/, int /*height*/, const PictureConvert& /*convert*/) { return -1; }
    virtual void SetOsdDateTime(int year, int month, int day, int hour, int minute, int second) = 0;
    virtual void SetCameraName(const std::string& utf8) = 0;
    virtual bool HasVideo() const = 0;
    // Has-video 0 and the picture dropped; repainted on the window thread.
    virtual void ClearVideo() = 0;
    virtual void SetConnecting(bool connecting) = 0;
    virtual bool IsSelected() const = 0;
    // Queued repaint without erase.
    virtual void RequestRepaint() = 0;
};

// The status panel (CInfoBox). Setters store under the panel's lock and queue a repaint.
class StatusPanel {
public:
    virtual ~StatusPanel() = default;
    virtual void SetDateText(const std::string& text) = 0;
    virtual void SetTimeText(const std::string& text) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void SetSpeed(int speed) = 0;
    virtual int GetSpeed() const = 0;
    virtual void SetCueMarks(int in_second, int out_second) = 0;
    virtual void Reset() = 0;
};

// The main dialog as the engine sees it: posted messages and transport controls.
class PlaybackWindow {
public:
    virtual ~PlaybackWindow() = default;
    virtual void PostMessage(uint32_t message, intptr_t wparam, intptr_t lparam) = 0;
    // Called on the window thread only.
    virtual void SetTimeSlider(int range_max, int page_size, int position) = 0;
    // By play state: 0 playing (Play disabled, the rest enabled), 1 paused (Pause
    // disabled, the rest enabled), 2 stopped (Play enabled, slider and the rest disabled).
    virtual void SetTransportButtons(int play_state) = 0;
    // The 500 ms status poll timer of remote playback (calls PlaybackEngine::OnTimer).
    virtual void StartStatusTimer() = 0;
    virtual void StopStatusTimer() = 0;
    // The viewer grid.
    virtual void SelectViewer(int index) = 0;
    virtual void ShowQuadView() = 0;
    virtual void ShowSingleView() = 0;
    // Views per row of the current layout (1 for 1x1).
    virtual int GridLayout() const = 0;
};
