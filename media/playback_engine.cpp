#include "media/playback_engine.h"

#include <malloc.h>

PlaybackEngine::PlaybackEngine(PlaybackWindow* window, StatusPanel* panel, std::array<ViewerSink*, 4> viewers,
                               const RemoteStreamTiming& timing)
    : window_(window), panel_(panel), viewers_(viewers) {
    SetTiming(timing);
    // Pictures (1.2 MB at 704x576) are freed and made anew by every playback. Left to
    // itself the allocator raises its mapping threshold after the first such free and
    // then serves them from the heap, where what they leave behind stays with the
    // process: a program grew by about 0.4 MB per Open. A fixed threshold below a
    // picture keeps them mapped, so each goes back whole when it is freed.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
}

PlaybackEngine::~PlaybackEngine() {
    // An owner that never stopped playback still gets its threads joined here.
    CancelRemoteOpen();
    running = 0;
    reader_share_calls_.Abort();
    WakeReader();
    if (reader_.joinable()) reader_.join();
    StopReceiver();
    JoinStatusPoll();
    JoinControlRequests();
    for (CDecodeProcess& worker : decode) worker.Stop();
    // The sound device closes as sound_ goes.
}

PlaybackEngine::Snapshot PlaybackEngine::Status() const {
    std::lock_guard<std::mutex> guard(status_lock_);
    Snapshot s;
    s.play_state = play_state;
    s.source_mode = source_mode;
    s.slider_position = slider_position;
    s.slider_max = slider_max;
    s.range_start = range_start;
    s.range_end = range_end;
    s.range_length = range_length;
    s.range_year = range_year;
    s.range_month = range_month;
    s.range_day = range_day;
    s.channel_selected = channel_selected;
    s.record_source = record_source;
    s.server = server;
    s.session_id = session_id;
    s.remote_time = remote_time;
    s.remote_playop = remote_playop;
    s.remote_current = remote_current;
    s.stream_request = stream_request;
    s.sound_on = sound_.SoundOn();
    s.sound_device_open = sound_.DeviceOpen();
    for (size_t c = 0; c < decode.size(); ++c) {
        s.workers[c].running = decode[c].IsRunning();
        s.workers[c].speed = decode[c].speed;
        s.workers[c].flush_pending = decode[c].flush_request == 1;
    }
    return s;
}

void PlaybackEngine::SetTiming(const RemoteStreamTiming& timing) {
    stream_timing = timing;
    control_connection.SetReceiveTimeout(timing.control_receive_timeout_ms);
}

void PlaybackEngine::SetSourceMode(int mode) {
    std::lock_guard<std::mutex> guard(status_lock_);
    source_mode = mode;
}

void PlaybackEngine::SetRecorder(const ServerConnectionRecord& recorder, int session) {
    std::lock_guard<std::mutex> guard(status_lock_);
    server = recorder;
    session_id = session;
}

void PlaybackEngine::SetLocalSource(const RecordSource& source) {
    std::lock_guard<std::mutex> guard(status_lock_);
    record_source = source;
    range_start = source.start_second;
    range_end = source.end_second;
    range_length = source.end_second - source.start_second;
    range_year = source.year;
    range_month = source.month;
    range_day = source.day;
}

void PlaybackEngine::SetRecorderRange(const RecorderRange& range) {
    std::lock_guard<std::mutex> guard(status_lock_);
    range_year = range.year;
    range_month = range.month;
    range_day = range.day;
    range_start = range.start_second;
    range_end = range.end_second;
    range_length = range.end_second - range.start_second;
    channel_selected = range.channels;
}

void PlaybackEngine::CloseControlConnection() { control_connection.Close(); }

void PlaybackEngine::EnableAllChannels() {
    for (CDecodeProcess& worker : decode) worker.enabled = 1;
}

void PlaybackEngine::KillStatusTimer() {
    status_timer_running = false;
    window_->StopStatusTimer();
}

void PlaybackEngine::SetVolume(int volume) { sound_.SetVolume(volume); }

int PlaybackEngine::Volume() const { return sound_.Volume(); }
