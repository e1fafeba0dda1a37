#pragma once
// The recorder source: the control connection with its session check, transport requests
// and status poll, the open worker's search and stream requests, and the stream receiver
// with its recovery. It feeds the decode workers and the sound, paces by the playback's
// clock, and plays the range the engine holds; the one call back is the engine's stop.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "media/http_get.h"
#include "media/playback_channels.h"
#include "media/playback_clock.h"
#include "media/playback_range.h"
#include "media/playback_sound.h"
#include "media/server_connection_record.h"
#include "media/status_reply.h"

// Paces of the recorder's connections; the program keeps these, tests shorten them.
struct RemoteStreamTiming {
    int empty_read_ms = 100;   // one empty read
    int silent_reads = 16;     // empty reads' worth of time without a packet: the request goes out again
    int resend_wait_ms = 5000; // after a re-send the recorder did not answer with a stream
    int lost_after_resends = 5;
    int layout_rest_ms = 500;  // between the stream a layout change ends and the one it asks for
    int receive_timeout_ms = HttpGet::kReceiveTimeoutMs;
    // Replies on the control connection (session, status, transport requests).
    int control_receive_timeout_ms = HttpGet::kReceiveTimeoutMs;
};

class RemoteRecordSource {
public:
    // What the source feeds, reads and reports to; all outlive it. The range and the
    // status lock are the engine's: the source writes the range under that lock, as it
    // does its own values a snapshot reads.
    struct Outputs : PlaybackOutputs {
        PlayRange* range = nullptr;
        std::mutex* status_lock = nullptr;
        // The playback stopped from the window thread (the poll lost the recorder, the range ended).
        std::function<void()> stop;
    };
    RemoteRecordSource(const Outputs& outputs, const RemoteStreamTiming& timing);
    ~RemoteRecordSource();
    RemoteRecordSource(const RemoteRecordSource&) = delete;
    RemoteRecordSource& operator=(const RemoteRecordSource&) = delete;

    // What a snapshot shows of the recorder; read under the status lock.
    struct Observed {
        ServerConnectionRecord server;
        int session_id = -1;
        std::array<int, 6> time{};
        int playop = 0;
        int current = 0;
        std::string stream_request;
    };
    Observed ObservedLocked() const;

    // Settings; the window thread sets them while nothing plays.
    void SetTiming(const RemoteStreamTiming& timing);
    void SetRecorder(const ServerConnectionRecord& server, int session_id);
    // The control connection, as an open from the selection makes it first; 1 when connected.
    int ConnectRecorder();
    void CloseControlConnection();
    // The status poll's timer: Kill stops it whatever the source thought, Stop only one it started.
    void KillStatusTimer();
    void StartStatusTimer();
    void StopStatusTimer();

    // Opening talks to the recorder on a worker that posts WM_REMOTE_OPENED; FinishOpen
    // applies it. 0 when refused at once (no recorder address), else 1.
    int StartPlayback(bool then_show_play_status);
    void StartFromSelection(const std::array<int, 13>& selection);
    void CancelOpen();
    bool OpenRunning() const { return open_thread_.joinable(); }
    // Applies the open numbered generation once its worker has ended; a completion of an open
    // cancelled or replaced since is ignored. 1 when the playback started.
    int FinishOpen(intptr_t generation);
    // After a layout change: the stream asked for again with the channels shown.
    void RestartStream();
    bool ReceiverRunning() const { return receiver_.joinable() && !receiver_done_; }
    // Stops the clock, cuts a blocked read short and joins the receiver.
    void StopReceiver();

    // The status poll's tick (window thread); the request runs on a worker.
    void OnTimer();
    // One poll on the calling thread: the reply's values stored, 1 when it answered.
    int PollStatus();
    // A poll still running is no longer applied (a stop, a new start).
    void EndStatusPoll();
    // ... and its worker is waited for, its request cut short.
    void JoinStatusPoll();
    // Waits for the transport requests' worker, cutting its request short.
    void JoinControlRequests();

    // Transport requests, sent in order by one worker (the replies are not read).
    void Play();
    void Pause();
    // A jump by seconds from the position last polled; none to before the range.
    void Step(int seconds);
    void SpeedUp();
    void SpeedDown();
    // The time slider was moved to the clock's slider position.
    void Seek();
    // A stop: the position goes back to the range's start.
    void ResetPosition() { remote_current_ = range_.start; }

private:
    int CheckSession();
    // rest_ms: the recorder's rest after the last stream, waited out before the first request.
    void Receive(int rest_ms);
    // The request and its parse, any thread; nothing is stored. 1 a status, 0 a failed poll,
    // kStatusSkipped a status whose time is no time of day (neither shown nor a loss).
    static constexpr int kStatusSkipped = 2;
    int FetchStatus(RemoteStatus* status);
    void ApplyStatus(int result, const RemoteStatus& status);
    void StoreStatus(const RemoteStatus& status);
    // Transport requests not yet sent are forgotten (the connection goes to a new recorder).
    void DropControlRequests();
    void SendControl(std::string path);
    void ControlLoop();
    void SyncSlider();
    bool ConnectStream();
    // Decode workers, receiver, slider and panel of a playback whose requests went out.
    void StartStream(int start_second);
    void StartReceiverThread(int rest_ms = 0);
    // Pacing wait of the receiver, ended at once by a stop; false when running dropped.
    bool ReceiverSleep(int32_t ms);
    int SelectedChannel() const { return playback_channels::SelectedChannel(viewers_); }

    // One open of the recorder's playback: what its worker is given and what it brings back.
    struct Open {
        enum Stage { kRefused, kSendFailed, kBusy, kStreaming };
        bool from_selection = false;  // connect, check the session and take the position first
        bool then_show_play_status = false;  // Play from stopped ends so, whatever came
        std::array<int, 13> selection{};
        int year = 0, month = 0, day = 0, start = 0, end = 0;
        std::array<int, 4> channels{};
        bool polled = false;  // the position came: the range is the recorder's
        RemoteStatus status;
        Stage stage = kRefused;  // how far past the session check it got
        std::string stream_request;
    };
    int BeginOpen(std::unique_ptr<Open> open);
    // On the worker: every request of the open; cancelled opens stop at the next step.
    void RunOpen(Open& open);
    int ApplyOpen(const Open& open);

    PlaybackClock& clock_;
    DecodeWorkers& decode_;
    ChannelViewers viewers_;
    StatusPanel* panel_;
    PlaybackWindow* window_;
    PlaybackSound& sound_;
    PlayRange& range_;
    std::mutex& status_lock_;
    std::function<void()> stop_;

    // The recorder and its session, the connections, what its status said.
    ServerConnectionRecord server_;
    int session_id_ = -1;
    HttpGet stream_connection_;
    HttpGet control_connection_;
    std::mutex control_lock_;
    std::string stream_request_;
    RemoteStreamTiming timing_;  // read by each receiver as it starts
    std::atomic<int> remote_current_{0};
    std::array<int, 6> remote_time_{};
    int remote_playop_ = 0;
    int remote_speed_code_ = 0;
    std::atomic<int> poll_busy_{0};
    bool status_timer_running_ = false;

    std::thread open_thread_;
    std::unique_ptr<Open> open_;  // the worker's until it is joined
    std::atomic<bool> open_cancel_{false};
    intptr_t open_generation_ = 0;  // window thread only

    std::thread poll_thread_;
    std::mutex poll_lock_;
    bool poll_ready_ = false;  // a finished poll waits for the next tick
    int poll_result_ = 0;
    RemoteStatus polled_;
    int poll_generation_ = 0;   // window thread writes, under poll_lock_
    int polled_generation_ = -1;

    std::thread control_thread_;
    std::mutex control_queue_lock_;
    std::condition_variable control_cv_;
    std::deque<std::string> control_queue_;
    bool control_stop_ = false;
    std::atomic<int> control_pending_{0};  // queued or being sent

    std::thread receiver_;
    std::atomic<bool> receiver_done_{true};
    std::mutex receiver_lock_;
    std::condition_variable receiver_cv_;
};
