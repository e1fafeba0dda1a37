#include "media/playback_engine.h"

#include <malloc.h>

PlaybackEngine::PlaybackEngine(PlaybackWindow* window, StatusPanel* panel, std::array<ViewerSink*, 4> viewers,
                               const RemoteStreamTiming& timing)
    : window_(window),
      panel_(panel),
      viewers_(viewers),
      reader_({&clock_, &decode, viewers, panel, window, &sound_}) {
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
    clock_.running = 0;
    reader_.Join();
    StopReceiver();
    JoinStatusPoll();
    JoinControlRequests();
    for (CDecodeProcess& worker : decode) worker.Stop();
    // The sound device closes as sound_ goes.
}

PlaybackEngine::Snapshot PlaybackEngine::Status() const {
    std::lock_guard<std::mutex> guard(status_lock_);
    Snapshot s;
    s.play_state = clock_.play_state;
    s.source_mode = source_mode;
    s.slider_position = clock_.slider_position;
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

void PlaybackEngine::StartLocalPlayback() {
    if (!IsPlayRange(record_source.start_second, record_source.end_second)) return;
    clock_.running = 0;
    reader_.Join();
    // The old reader reads the range through SliderScale until it has ended.
    {
        std::lock_guard<std::mutex> guard(status_lock_);
        range_start = record_source.start_second;
        range_end = record_source.end_second;
        range_length = range_end - range_start;
    }
    clock_.running = 1;
    clock_.play_state = kPlaying;
    // Before the reader starts, so a jump asked for right after the start is kept.
    clock_.step = 1;
    panel_->SetStatusText("PLAY");
    panel_->SetSpeed(1);
    for (int i = 0; i < 4; ++i) {
        CDecodeProcess& worker = decode[static_cast<size_t>(i)];
        worker.SetSpeed(1);
        // A worker still running from the last playback keeps its channel and viewer.
        if (worker.IsRunning()) continue;
        worker.channel = i;
        worker.viewer = viewers_[static_cast<size_t>(i)];
        if ((record_source.channel_mask >> i & 1) && worker.viewer) {
            worker.has_picture = 0;
            worker.Start();
        }
    }
    // The reader opens the device with its first sound, so the old one goes first.
    sound_.CloseDevice();
    reader_.Start(record_source, SliderScale());
    const int length = record_source.end_second - record_source.start_second;
    {
        std::lock_guard<std::mutex> guard(status_lock_);
        slider_max = length > 10000 ? length / 10 : length;
    }
    window_->SetTimeSlider(slider_max, slider_max / 5, 0);
    window_->SetTransportButtons(kPlaying);
}
