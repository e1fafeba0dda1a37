#pragma once
// The playback engine of the main dialog. The window gives it commands (open, play,
// pause, speed, step, jump, stop) and learns of it by posted messages and a status
// snapshot; the state the reader, the receiver, the decode workers and the transport
// share stays inside. Its parts: the local source (LocalRecordReader), the recorder
// source (RemoteRecordSource), transport and clock (PlaybackClock, playback_transport.cpp)
// and the sound (PlaybackSound). The dialog owns one and forwards its handlers; tests
// drive it with recording sinks instead of windows.
#include <array>
#include <cstdint>
#include <mutex>

#include "media/data_folder.h"
#include "media/server_connection_record.h"
#include "media/decode_process.h"
#include "media/media_records.h"
#include "media/local_record_reader.h"
#include "media/playback_channels.h"
#include "media/playback_clock.h"
#include "media/playback_range.h"
#include "media/playback_sinks.h"
#include "media/playback_sound.h"
#include "media/remote_record_source.h"

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
    int ConnectRecorder() { return remote_.ConnectRecorder(); }
    // Closes it (the program ends, the stream was lost).
    void CloseControlConnection() { remote_.CloseControlConnection(); }
    // Every channel decoded again whatever the layout (a new open).
    void EnableAllChannels();
    // The status poll's timer, stopped while a dialog of the window runs and resumed after it.
    void KillStatusTimer() { remote_.KillStatusTimer(); }
    void StartStatusTimer() { remote_.StartStatusTimer(); }
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
    int StartRemotePlayback(bool then_show_play_status = false) { return remote_.StartPlayback(then_show_play_status); }
    // The open from the record selection: the control connection to the recorder, its session
    // and position, then StartRemotePlayback's requests for the range up to the selection's end.
    void StartRecorderPlayback(const std::array<int, 13>& selection) { remote_.StartFromSelection(selection); }
    // An open still talking to the recorder is cut short and its outcome forgotten.
    void CancelRemoteOpen() { remote_.CancelOpen(); }
    bool RemoteOpenRunning() const { return remote_.OpenRunning(); }
    // After a layout change: the recorder's stream asked for again with the channels shown.
    void RestartRemoteStream();
    bool ReceiverRunning() const { return remote_.ReceiverRunning(); }
    // The status poll's tick (window thread, every 500 ms while remote playback runs); the
    // request itself runs on a worker.
    void OnTimer() { remote_.OnTimer(); }
    // One poll on the calling thread: the reply's values stored, 1 when it answered.
    int PollRemoteStatus() { return remote_.PollStatus(); }
    // A poll still running is no longer applied, and its worker is waited for, its request cut short.
    void JoinStatusPoll() { remote_.JoinStatusPoll(); }

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
    // Called after changing any flag or the speed the local reader waits on,
    // so its waits (and the receiver's) re-check at once.
    void WakeReader() { clock_.Wake(); }
    int SliderScale() const { return range_.SliderScale(); }

    // The engine's state; the window reads it through Status() and changes it through the
    // commands above.
    RecordSource record_source_;
    int source_mode_ = 0;
    // Transport and clock, shared with the local reader and the receiver.
    PlaybackClock clock_;
    DecodeWorkers decode_;
    // Play range (seconds of the day) and the selection it came from.
    PlayRange range_;

    void FlushAll(int show_from_second = -1) { playback_channels::FlushWorkers(decode_, show_from_second); }
    void ShowPlayStatus() { clock_.ShowPlaying(panel_); }
    void SetWorkersSpeed(int speed) { playback_channels::SetWorkersSpeed(decode_, speed); }
    // After a local speed change.
    void ApplySpeed();

    PlaybackWindow* window_;
    StatusPanel* panel_;
    std::array<ViewerSink*, 4> viewers_;
    // Taken by Status() and by the window thread's writes of what it copies, so a snapshot
    // taken on any thread is whole; workers write only atomics.
    mutable std::mutex status_lock_;
    PlaybackSound sound_;
    // Its threads feed the workers, the viewers and the sound above.
    RemoteRecordSource remote_;
    // Last: it feeds the workers, the viewers and the sound above.
    LocalRecordReader reader_;
};
