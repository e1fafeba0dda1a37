#include "media/playback_engine.h"

#include <malloc.h>

PlaybackEngine::PlaybackEngine(PlaybackWindow* window, StatusPanel* panel, std::array<ViewerSink*, 4> viewers,
                               const RemoteStreamTiming& timing)
    : window_(window),
      panel_(panel),
      viewers_(viewers),
      remote_({{&clock_, &decode_, viewers, panel, window, &sound_}, &range_, &status_lock_, [this] { OnStop(); }},
              timing),
      reader_({&clock_, &decode_, viewers, panel, window, &sound_}) {
    // Pictures (1.2 MB at 704x576) are freed and made anew by every playback. Left to
    // itself the allocator raises its mapping threshold after the first such free and
    // then serves them from the heap, where what they leave behind stays with the
    // process: a program grew by about 0.4 MB per Open. A fixed threshold below a
    // picture keeps them mapped, so each goes back whole when it is freed.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
}

PlaybackEngine::~PlaybackEngine() {
    // An owner that never stopped playback still gets its threads joined here.
    remote_.CancelOpen();
    clock_.running = 0;
    reader_.Join();
    remote_.StopReceiver();
    remote_.JoinStatusPoll();
    remote_.JoinControlRequests();
    for (CDecodeProcess& worker : decode_) worker.Stop();
    // The sound device closes as sound_ goes.
}

PlaybackEngine::Snapshot PlaybackEngine::Status() const {
    std::lock_guard<std::mutex> guard(status_lock_);
    Snapshot s;
    s.play_state = clock_.play_state;
    s.source_mode = source_mode_;
    s.slider_position = clock_.slider_position;
    s.slider_max = range_.slider_max;
    s.range_start = range_.start;
    s.range_end = range_.end;
    s.range_length = range_.length;
    s.range_year = range_.year;
    s.range_month = range_.month;
    s.range_day = range_.day;
    s.channel_selected = range_.channel_selected;
    s.record_source = record_source_;
    RemoteRecordSource::Observed recorder = remote_.ObservedLocked();
    s.server = std::move(recorder.server);
    s.session_id = recorder.session_id;
    s.remote_time = recorder.time;
    s.remote_playop = recorder.playop;
    s.remote_current = recorder.current;
    s.stream_request = std::move(recorder.stream_request);
    s.sound_on = sound_.SoundOn();
    s.sound_device_open = sound_.DeviceOpen();
    for (size_t c = 0; c < decode_.size(); ++c) {
        s.workers[c].running = decode_[c].IsRunning();
        s.workers[c].speed = decode_[c].speed;
        s.workers[c].flush_pending = decode_[c].flush_request == 1;
    }
    return s;
}

void PlaybackEngine::SetTiming(const RemoteStreamTiming& timing) { remote_.SetTiming(timing); }

void PlaybackEngine::SetSourceMode(int mode) {
    std::lock_guard<std::mutex> guard(status_lock_);
    source_mode_ = mode;
}

void PlaybackEngine::SetRecorder(const ServerConnectionRecord& recorder, int session) {
    remote_.SetRecorder(recorder, session);
}

void PlaybackEngine::SetLocalSource(const RecordSource& source) {
    std::lock_guard<std::mutex> guard(status_lock_);
    record_source_ = source;
    range_.start = source.start_second;
    range_.end = source.end_second;
    range_.length = source.end_second - source.start_second;
    range_.year = source.year;
    range_.month = source.month;
    range_.day = source.day;
}

void PlaybackEngine::SetRecorderRange(const RecorderRange& range) {
    std::lock_guard<std::mutex> guard(status_lock_);
    range_.year = range.year;
    range_.month = range.month;
    range_.day = range.day;
    range_.start = range.start_second;
    range_.end = range.end_second;
    range_.length = range.end_second - range.start_second;
    range_.channel_selected = range.channels;
}

void PlaybackEngine::EnableAllChannels() {
    for (CDecodeProcess& worker : decode_) worker.enabled = 1;
}

void PlaybackEngine::SetVolume(int volume) { sound_.SetVolume(volume); }

int PlaybackEngine::Volume() const { return sound_.Volume(); }

void PlaybackEngine::StartLocalPlayback() {
    if (!IsPlayRange(record_source_.start_second, record_source_.end_second)) return;
    clock_.running = 0;
    reader_.Join();
    // The old reader reads the range through SliderScale until it has ended.
    {
        std::lock_guard<std::mutex> guard(status_lock_);
        range_.start = record_source_.start_second;
        range_.end = record_source_.end_second;
        range_.length = range_.end - range_.start;
    }
    clock_.running = 1;
    clock_.play_state = kPlaying;
    // Before the reader starts, so a jump asked for right after the start is kept.
    clock_.step = 1;
    panel_->SetStatusText("PLAY");
    panel_->SetSpeed(1);
    for (int i = 0; i < 4; ++i) {
        CDecodeProcess& worker = decode_[static_cast<size_t>(i)];
        worker.SetSpeed(1);
        // A worker still running from the last playback keeps its channel and viewer.
        if (worker.IsRunning()) continue;
        worker.channel = i;
        worker.viewer = viewers_[static_cast<size_t>(i)];
        if ((record_source_.channel_mask >> i & 1) && worker.viewer) {
            worker.has_picture = 0;
            worker.Start();
        }
    }
    // The reader opens the device with its first sound, so the old one goes first.
    sound_.CloseDevice();
    reader_.Start(record_source_, SliderScale());
    const int length = record_source_.end_second - record_source_.start_second;
    {
        std::lock_guard<std::mutex> guard(status_lock_);
        range_.slider_max = length > 10000 ? length / 10 : length;
    }
    window_->SetTimeSlider(range_.slider_max, range_.slider_max / 5, 0);
    window_->SetTransportButtons(kPlaying);
}
