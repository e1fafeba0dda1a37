#pragma once
// The playback engine of the main dialog. The window gives it commands (open, play,
// pause, speed, step, jump, stop) and learns of it by posted messages and a status
// snapshot; the state the reader, the receiver, the decode workers and the transport
// share stays inside. Its parts: the local source (LocalRecordReader), the recorder
// source (remote_playback.cpp), transport and clock (PlaybackClock, playback_transport.cpp)
// and the sound (PlaybackSound). The dialog owns one and forwards its handlers; tests
// drive it with recording sinks instead of windows.
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "media/data_folder.h"
#include "media/http_get.h"
#include "media/server_connection_record.h"
#include "media/status_reply.h"
#include "media/decode_process.h"
#include "media/media_records.h"
#include "media/local_record_reader.h"
#include "media/playback_channels.h"
#include "media/playback_clock.h"
#include "media/playback_sinks.h"
#include "media/playback_sound.h"

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

// A play range of the recorder: its day, its seconds and its channels (1 for each one shown).
struct RecorderRange {
    int year = 0, month = 0, day = 0;
    int start_second = 0, end_second = 0;
    std::array<int, 4> channels{};
};

class PlaybackEngine {
public:
    static constexpr int kPlaying = PlaybackClock::kPlaying;
    static constexpr int kPaused = PlaybackClock::kPaused;
    static constexpr int kStopped = PlaybackClock::kStopped;

    PlaybackEngine(PlaybackWindow* window, StatusPanel* panel, std::array<ViewerSink*, 4> viewers,
                   const RemoteStreamTiming& timing = {});
    ~PlaybackEngine();
    PlaybackEngine(const PlaybackEngine&) = delete;
    PlaybackEngine& operator=(const PlaybackEngine&) = delete;

    // What the window learns of the playback at one moment: a decode worker, and the whole.
    struct WorkerStatus {
        bool running = false;
        int speed = 1;            // the pace the worker plays at
        bool flush_pending = false;  // a flush asked for that the worker has not taken yet
    };
    struct Snapshot {
        int play_state = kStopped;
        int source_mode = 0;
        // The time slider as the engine last set it.
        int slider_position = 0;
        int slider_max = 0;
        // The play range (seconds of the day), its day and its channels.
        int range_start = 0, range_end = 0, range_length = 0;
        int range_year = 0, range_month = 0, range_day = 0;
        std::array<int, 4> channel_selected{};
        RecordSource record_source;  // the local source last set
        ServerConnectionRecord server;
        int session_id = -1;
        // The recorder's date and time, play state and position as last polled.
        std::array<int, 6> remote_time{};
        int remote_playop = 0;
        int remote_current = 0;
        std::string stream_request;  // what the receiver asks the recorder for
        bool sound_on = true;
        bool sound_device_open = false;
        std::array<WorkerStatus, 4> workers{};
    };
    // One call under the engine's lock.
    Snapshot Status() const;

    // Settings; the window thread sets them while nothing plays.
    void SetTiming(const RemoteStreamTiming& timing);
    // 0 the data folder, 1 the recorder, 2 a backup folder.
    void SetSourceMode(int mode);
    // The recorder and the session the record selection logged in with.
    void SetRecorder(const ServerConnectionRecord& server, int session_id);
    // The local source StartLocalPlayback (and Play from stopped) plays; its day and seconds
    // are the play range.
    void SetLocalSource(const RecordSource& source);
    // The range Play from stopped asks the recorder for; an open from the selection sets its own.
    void SetRecorderRange(const RecorderRange& range);
    // The control connection to the recorder, as an open from the selection makes it first;
    // 1 when connected.
    int ConnectRecorder();
    // Closes it (the program ends, the stream was lost).
    void CloseControlConnection();
    // Every channel decoded again whatever the layout (a new open).
    void EnableAllChannels();
    // The status poll's timer, stopped while a dialog of the window runs and resumed after it.
    void KillStatusTimer();
    void StartStatusTimer();
    void SetVolume(int volume);
    int Volume() const;
    // A stop closes the sound device without waiting for it to shut down; this waits.
    void WaitSoundClosed() { sound_.FinishClosing(); }

    // Local source (modes 0 and 2): plays the source last set.
    void StartLocalPlayback();
    bool ReaderRunning() const { return reader_.Running(); }

    // Recorder source (mode 1). Opening talks to the recorder on a worker, so the window
    // thread never waits on it: the worker posts WM_REMOTE_OPENED and HandleMessage applies
    // what the recorder answered (layout, workers, receiver, panel, the failure's message).
    // 0 when refused at once (no recorder address), else 1: the outcome follows by message;
    // Play from stopped shows the play status once it has come.
    int StartRemotePlayback(bool then_show_play_status = false);
    // The open from the record selection: the control connection to the recorder, its session
    // and position, then StartRemotePlayback's requests for the range up to the selection's end.
    void StartRecorderPlayback(const std::array<int, 13>& selection);
    // An open still talking to the recorder is cut short and its outcome forgotten.
    void CancelRemoteOpen();
    bool RemoteOpenRunning() const { return open_thread_.joinable(); }
    // After a layout change: the recorder's stream asked for again with the channels shown.
    void RestartRemoteStream();
    bool ReceiverRunning() const { return receiver_.joinable() && !receiver_done_; }
    // The status poll's tick (window thread, every 500 ms while remote playback runs); the
    // request itself runs on a worker.
    void OnTimer();
    // One poll on the calling thread: the reply's values stored, 1 when it answered.
    int PollRemoteStatus();
    // A poll still running is no longer applied, and its worker is waited for, its request cut short.
    void JoinStatusPoll();

    // A range of the day to play: it may start at midnight (second 0); an end
    // not after its start is no range.
    static bool IsPlayRange(int start_second, int end_second) {
        return start_second >= 0 && end_second > start_second;
    }

    // Transport (window thread). The On handlers are the buttons'; they set the buttons too.
    void OnPlay();
    // From stopped it does nothing: there is nothing to pause.
    void OnPause();
    void OnStop();
    void OnStepForward();
    void OnStepBackward();
    void OnSpeedUp();
    void OnSpeedDown();
    void Play();
    void Pause();
    // Returns once every thread of the playback has ended.
    void StopPlayback();
    // A minute on or back: the local reader jumps, the recorder is asked to.
    void StepForward();
    void StepBackward();
    void SpeedUp();
    void SpeedDown();
    // The time slider was moved to position.
    void OnHScroll(int position);
    void OnMute();
    // Window messages the engine posted to itself through the dialog.
    void HandleMessage(uint32_t message, intptr_t wparam, intptr_t lparam);

private:
    int CheckRemoteSession();
    // Applies the open numbered generation once its worker has ended; a completion of an open
    // cancelled or replaced since is ignored. 1 when the playback started.
    int FinishRemoteOpen(intptr_t generation);
    // rest_ms: the recorder's rest after the last stream, waited out before the first request.
    void RemoteStreamReceiver(int rest_ms = 0);
    // The request and its parse, any thread; nothing is stored. 1 a status, 0 a failed poll,
    // kStatusSkipped a status whose time is no time of day (neither shown nor a loss).
    static constexpr int kStatusSkipped = 2;
    int FetchRemoteStatus(RemoteStatus* status);
    // A poll still running is no longer applied (a stop, a new start).
    void EndStatusPoll();
    // Transport requests not yet sent are forgotten (the connection goes to a new recorder).
    void DropControlRequests();
    // Waits for the transport requests' worker, cutting its request short.
    void JoinControlRequests();
    void SyncSlider();
    void SendTimeSlider();
    // Called after changing any flag or the speed the local reader waits on,
    // so its waits (and the receiver's) re-check at once.
    void WakeReader() { clock_.Wake(); }
    // Slider units are 10 s when the range exceeds 10,000 s.
    int SliderScale() const;

    // The engine's state. Names are kept as the threads' code has them; the window reads
    // them through Status() and changes them through the commands above.
    RecordSource record_source;
    int source_mode = 0;
    // Transport and clock, shared with the local reader and the receiver.
    PlaybackClock clock_;
    DecodeWorkers decode;

    // Play range (seconds of the day) and the selection it came from.
    int range_start = 0;
    int range_end = 0;
    int range_length = 0;
    int range_year = 0, range_month = 0, range_day = 0;
    std::array<int, 4> channel_selected{};
    int selected_count = 0;

    // Recorder source: the recorder and its session, the connections, what its status said.
    ServerConnectionRecord server;
    int session_id = -1;
    HttpGet stream_connection;
    HttpGet control_connection;
    std::mutex control_lock;
    std::string stream_request;
    RemoteStreamTiming stream_timing;  // read by each receiver as it starts
    std::atomic<int> remote_current{0};
    std::array<int, 6> remote_time{};
    int remote_playop = 0;
    int remote_speed_code = 0;
    std::atomic<int> poll_busy{0};
    bool status_timer_running = false;
    int slider_max = 0;

    void FlushAll(int show_from_second = -1) { playback_channels::FlushWorkers(decode, show_from_second); }
    int SelectedChannel() const { return playback_channels::SelectedChannel(viewers_); }
    void ShowPlayStatus() { clock_.ShowPlaying(panel_); }
    using Clock = PlaybackClock::Clock;
    void ReaderWait(Clock::time_point deadline, const std::function<bool()>& done) { clock_.WaitUntil(deadline, done); }
    void SetWorkersSpeed(int speed) { playback_channels::SetWorkersSpeed(decode, speed); }
    // After a local speed change.
    void ApplySpeed();

    PlaybackWindow* window_;
    StatusPanel* panel_;
    std::array<ViewerSink*, 4> viewers_;
    // Taken by Status() and by the window thread's writes of what it copies, so a snapshot
    // taken on any thread is whole; workers write only atomics.
    mutable std::mutex status_lock_;
    PlaybackSound sound_;
    // The reader's and the receiver's sound.
    void DispatchAudio(std::unique_ptr<AudioRecord> record) { sound_.Dispatch(std::move(record)); }
    void StopReceiver();
    void ApplyRemoteStatus(int result, const RemoteStatus& status);
    void StoreRemoteStatus(const RemoteStatus& status);
    void StopStatusTimer();
    bool ConnectStream();
    // Decode workers, receiver, slider and panel of a recorder playback whose requests went out.
    void StartRemoteStream(int start_second);
    void StartReceiverThread(int rest_ms = 0);
    // Pacing wait of the receiver, ended at once by a stop; false when running dropped.
    bool ReceiverSleep(int32_t ms);
    // A transport request for the recorder; one worker sends them in order, so the window
    // thread never waits on the recorder (the replies are not read).
    void SendControl(std::string path);
    void ControlLoop();

    // One open of the recorder's playback: what its worker is given and what it brings back.
    struct RemoteOpen {
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
    int BeginRemoteOpen(std::unique_ptr<RemoteOpen> open);
    // On the worker: every request of the open; cancelled opens stop at the next step.
    void RunRemoteOpen(RemoteOpen& open);
    int ApplyRemoteOpen(const RemoteOpen& open);

    std::thread open_thread_;
    std::unique_ptr<RemoteOpen> open_;  // the worker's until it is joined
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
    // Last: it feeds the workers, the viewers and the sound above.
    LocalRecordReader reader_;
};
