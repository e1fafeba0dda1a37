// The recorder source: session check, search and stream requests, the stream
// receiver with its recovery, the status poll that follows the recorder and the
// transport requests that steer it.
#include "media/remote_record_source.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "media/recorder_api.h"
#include "media/status_reply.h"
#include "media/stream_silence.h"
#include "media/stream_packet_parser.h"
#include "media/translate_text.h"
#include "platform/message_box.h"

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

constexpr int kStreamConnectTimeoutMs = 3000;

}  // namespace

RemoteRecordSource::RemoteRecordSource(const Outputs& outputs, const RemoteStreamTiming& timing)
    : clock_(*outputs.clock),
      decode_(*outputs.decode),
      viewers_(outputs.viewers),
      panel_(outputs.panel),
      window_(outputs.window),
      sound_(*outputs.sound),
      range_(*outputs.range),
      status_lock_(*outputs.status_lock),
      stop_(outputs.stop) {
    SetTiming(timing);
}

RemoteRecordSource::~RemoteRecordSource() {
    // The engine has joined them before its workers stopped; an owner that did not still
    // gets them joined.
    CancelOpen();
    StopReceiver();
    JoinStatusPoll();
    JoinControlRequests();
}

RemoteRecordSource::Observed RemoteRecordSource::ObservedLocked() const {
    Observed o;
    o.server = server_;
    o.session_id = session_id_;
    o.time = remote_time_;
    o.playop = remote_playop_;
    o.current = remote_current_;
    o.stream_request = stream_request_;
    return o;
}

void RemoteRecordSource::SetTiming(const RemoteStreamTiming& timing) {
    timing_ = timing;
    control_connection_.SetReceiveTimeout(timing.control_receive_timeout_ms);
}

void RemoteRecordSource::SetRecorder(const ServerConnectionRecord& recorder, int session) {
    std::lock_guard<std::mutex> guard(status_lock_);
    server_ = recorder;
    session_id_ = session;
}

void RemoteRecordSource::CloseControlConnection() { control_connection_.Close(); }

void RemoteRecordSource::KillStatusTimer() {
    status_timer_running_ = false;
    window_->StopStatusTimer();
}

int RemoteRecordSource::CheckSession() {
    if (session_id_ < 0) return 0;
    char reply[128] = {};
    std::lock_guard<std::mutex> guard(control_lock_);
    if (!control_connection_.Fetch(recorder_api::SessionPath(session_id_), reply, sizeof reply)) return 0;
    return recorder_api::IsSessionReply(reply);
}

void RemoteRecordSource::StartStatusTimer() {
    if (status_timer_running_) return;
    status_timer_running_ = true;
    window_->StartStatusTimer();
}

void RemoteRecordSource::StopStatusTimer() {
    if (!status_timer_running_) return;
    status_timer_running_ = false;
    window_->StopStatusTimer();
}

bool RemoteRecordSource::ConnectStream() {
    return recorder_api::Connect(stream_connection_, server_, kStreamConnectTimeoutMs) != 0;
}

void RemoteRecordSource::StopReceiver() {
    clock_.running = 0;
    // Ends the receiver's pacing waits.
    clock_.Wake();
    if (receiver_.joinable()) {
        // A read blocked on a silent recorder is cut short.
        stream_connection_.Abort();
        std::unique_lock<std::mutex> guard(receiver_lock_);
        receiver_cv_.wait_for(guard, std::chrono::milliseconds(3000), [this] { return receiver_done_.load(); });
        guard.unlock();
        receiver_.join();
    }
    stream_connection_.Close();
}

int RemoteRecordSource::StartPlayback(bool then_show_play_status) {
    auto open = std::make_unique<Open>();
    open->then_show_play_status = then_show_play_status;
    open->year = range_.year;
    open->month = range_.month;
    open->day = range_.day;
    open->start = range_.start;
    open->end = range_.end;
    open->channels = range_.channel_selected;
    return BeginOpen(std::move(open));
}

void RemoteRecordSource::StartFromSelection(const std::array<int, 13>& selection) {
    CancelOpen();
    stream_connection_.Close();
    DropControlRequests();
    control_connection_.Close();
    auto open = std::make_unique<Open>();
    open->from_selection = true;
    open->selection = selection;
    BeginOpen(std::move(open));
}

int RemoteRecordSource::BeginOpen(std::unique_ptr<Open> open) {
    if (server_.GetIp().empty()) return 0;
    // A newer open replaces one still running; the stopped receiver frees the stream connection.
    CancelOpen();
    EndStatusPoll();
    StopStatusTimer();
    StopReceiver();
    open_cancel_ = false;
    open_ = std::move(open);
    const intptr_t generation = ++open_generation_;
    open_thread_ = std::thread([this, generation] {
        RunOpen(*open_);
        window_->PostMessage(WM_REMOTE_OPENED, generation, 0);
    });
    return 1;
}

void RemoteRecordSource::CancelOpen() {
    if (!open_thread_.joinable()) return;
    ++open_generation_;
    open_cancel_ = true;
    control_connection_.Abort();
    stream_connection_.Abort();
    open_thread_.join();
    // The requests cut short have ended: the connections serve the next requests again.
    control_connection_.ClearAbort();
    stream_connection_.ClearAbort();
    open_.reset();
}

void RemoteRecordSource::RunOpen(Open& open) {
    // Checked after each step and after each Connect, which clears an abort that came before it.
    const auto cancelled = [this] { return open_cancel_.load(); };
    if (open.from_selection) {
        if (!recorder_api::Connect(control_connection_, server_, kStreamConnectTimeoutMs)) return;
        if (cancelled() || !CheckSession()) return;
        // The open needs the recorder's position: a status without one is no start.
        if (cancelled() || FetchStatus(&open.status) != 1) return;
        open.polled = true;
        const std::array<int, 13>& s = open.selection;
        open.start = open.status.time[3] * 3600 + open.status.time[4] * 60 + open.status.time[5];
        open.end = s[6] * 3600 + s[7] * 60 + s[8];
        open.year = s[0];
        open.month = s[1];
        open.day = s[2];
        for (size_t c = 0; c < 4; ++c) open.channels[c] = s[9 + c];
        if (open.end - open.start <= 0) return;
    }
    if (cancelled() || !CheckSession()) return;
    int count = 0;
    for (int flag : open.channels) count += flag == 1;
    stream_connection_.SetReceiveTimeout(timing_.receive_timeout_ms);
    ConnectStream();
    if (cancelled()) return;
    // Each request waits for the recorder's reply headers, so the next goes out only once
    // the recorder has taken the last; the status code is in with them.
    const std::string channels = recorder_api::ChannelFlags(open.channels);
    const std::string search = recorder_api::SearchPath(
        session_id_,
        recorder_api::TimeText(open.year, open.month, open.day, open.start / 3600, open.start / 60 % 60,
                               open.start % 60),
        recorder_api::TimeText(open.year, open.month, open.day, open.end / 3600, open.end / 60 % 60, open.end % 60),
        channels);
    open.stage = Open::kSendFailed;
    if (!stream_connection_.SendRequest(search)) {
        stream_connection_.Close();
        return;
    }
    open.stream_request = recorder_api::StreamPath(session_id_, channels, count == 1 ? 0 : 1);
    if (cancelled() || !stream_connection_.SendRequest(open.stream_request)) {
        stream_connection_.Close();
        return;
    }
    if (stream_connection_.QueryStatusCode() == 503) {
        open.stage = Open::kBusy;
        stream_connection_.Close();
        return;
    }
    open.stage = Open::kStreaming;
}

int RemoteRecordSource::FinishOpen(intptr_t generation) {
    if (generation != open_generation_ || !open_thread_.joinable()) return 0;
    open_thread_.join();  // it has posted its last act
    const std::unique_ptr<Open> open = std::move(open_);
    return ApplyOpen(*open);
}

int RemoteRecordSource::ApplyOpen(const Open& open) {
    if (open.polled) {
        StoreStatus(open.status);
        std::lock_guard<std::mutex> guard(status_lock_);
        range_.start = open.start;
        range_.end = open.end;
        range_.length = open.end - open.start;
        remote_current_ = open.start;
        range_.year = open.year;
        range_.month = open.month;
        range_.day = open.day;
        range_.channel_selected = open.channels;
    }
    int started = 0;
    if (open.stage != Open::kRefused) {
        range_.selected_count = 0;
        int first = -1;
        for (int c = 0; c < 4; ++c) {
            if (open.channels[static_cast<size_t>(c)] == 1) {
                ++range_.selected_count;
                if (first < 0) first = c;
            }
        }
        if (first >= 0) window_->SelectViewer(first);
        if (range_.selected_count > 1) {
            window_->ShowQuadView();
        } else {
            window_->ShowSingleView();
        }
        StartStatusTimer();
        if (!open.stream_request.empty()) {
            std::lock_guard<std::mutex> guard(status_lock_);
            stream_request_ = open.stream_request;
        }
        if (open.stage == Open::kSendFailed) {
            platform::ShowMessageBox("Failed to send http request to NVR", "Error", platform::kMbIconError);
        } else if (open.stage == Open::kStreaming) {
            StartStream(open.start);
            started = 1;
        }
    }
    if (open.then_show_play_status) {
        if (started) {
            clock_.ShowPlaying(panel_);
            clock_.Wake();
        } else {
            // Play on a recorder that is gone, refused the session or is busy: "PLAY" over black
            // views would look like a stream on its way. The send failure has told its own.
            if (open.stage != Open::kSendFailed)
                platform::ShowMessageBox(TranslateText("MSG_FAILED_CONNECT", "Connection failed!"), "Error",
                                         platform::kMbIconError);
            StopStatusTimer();
            clock_.play_state = PlaybackClock::kStopped;
            panel_->SetStatusText("STOP");
            panel_->SetSpeed(1);
            window_->SetTransportButtons(PlaybackClock::kStopped);
        }
    }
    return started;
}

void RemoteRecordSource::StartStream(int start_second) {
    sound_.CloseDevice();
    for (int i = 0; i < 4; ++i) {
        CDecodeProcess& worker = decode_[static_cast<size_t>(i)];
        // A worker still running from the last playback keeps its channel and viewer.
        if (worker.IsRunning()) continue;
        worker.channel = i;
        worker.viewer = viewers_[static_cast<size_t>(i)];
        if (range_.channel_selected[static_cast<size_t>(i)] == 1 && worker.viewer) {
            worker.has_picture = 0;
            worker.Start();
        }
    }
    clock_.running = 1;
    if (!receiver_.joinable()) StartReceiverThread();
    {
        std::lock_guard<std::mutex> guard(status_lock_);
        range_.length = range_.end - range_.start;
        range_.slider_max = range_.length > 10000 ? range_.length / 10 : range_.length;
    }
    window_->SetTimeSlider(range_.slider_max, range_.slider_max / 5, 0);
    panel_->SetSpeed(1);
    panel_->SetStatusText("PLAY");
    panel_->SetTimeText(Format("%2d:%2d:%2d", start_second / 3600, start_second / 60 % 60, start_second % 60));
    window_->SetTransportButtons(PlaybackClock::kPlaying);
    clock_.ShowPlaying(panel_);
}

void RemoteRecordSource::RestartStream() {
    const int layout = window_->GridLayout();
    const int selected_view = SelectedChannel();
    std::array<int, 4> shown{};
    for (int c = 0; c < 4; ++c)
        shown[static_cast<size_t>(c)] = range_.channel_selected[static_cast<size_t>(c)] == 1 && (layout > 1 || c == selected_view);
    for (int c = 0; c < 4; ++c) {
        if (range_.channel_selected[static_cast<size_t>(c)] != 1) continue;
        decode_[static_cast<size_t>(c)].flush_request = 1;
        if (viewers_[static_cast<size_t>(c)]) viewers_[static_cast<size_t>(c)]->SetConnecting(true);
    }
    StopReceiver();
    ConnectStream();
    {
        std::lock_guard<std::mutex> guard(status_lock_);
        stream_request_ = recorder_api::StreamPath(session_id_, recorder_api::ChannelFlags(shown), layout > 1 ? 1 : 0);
    }
    clock_.running = 1;
    // The recorder gets its half second between the old stream and the new one on the
    // receiver, which a stop cuts short; the window thread goes on at once.
    StartReceiverThread(timing_.layout_rest_ms);
}

void RemoteRecordSource::StartReceiverThread(int rest_ms) {
    receiver_done_ = false;
    receiver_ = std::thread([this, rest_ms] {
        Receive(rest_ms);
        {
            std::lock_guard<std::mutex> guard(receiver_lock_);
            receiver_done_ = true;
        }
        receiver_cv_.notify_all();
    });
}

bool RemoteRecordSource::ReceiverSleep(int32_t ms) {
    clock_.WaitUntil(PlaybackClock::Clock::now() + std::chrono::milliseconds(ms), [this] { return clock_.running == 0; });
    return clock_.running != 0;
}

void RemoteRecordSource::Receive(int rest_ms) {
    const RemoteStreamTiming timing = timing_;
    if (rest_ms > 0 && !ReceiverSleep(rest_ms)) {
        stream_connection_.Close();
        return;
    }
    StreamPacketParser parser;
    std::vector<uint8_t> buffer(HttpGet::kScratchSize);
    int resends = 0;  // failed in a row
    StreamSilence silence(timing.empty_read_ms, timing.silent_reads);
    stream_connection_.SetReceiveTimeout(timing.receive_timeout_ms);
    // Re-sends the stored request until the recorder answers it with a stream. A paused
    // recorder sends nothing yet takes every re-send, so only re-sends it did not take
    // count; once five have failed, every further attempt reports the stream lost.
    auto recover = [&] {
        while (clock_.running) {
            if (resends >= timing.lost_after_resends) window_->PostMessage(WM_STREAM_LOST, 0, 0);
            if (stream_connection_.SendRequest(stream_request_) && stream_connection_.QueryStatusCode() == 200) {
                resends = 0;
                break;
            }
            ++resends;
            ReceiverSleep(timing.resend_wait_ms);
        }
        parser.Reset();
        silence.Progress();
    };
    // Packets are parsed as fast as they come; the wait is the read's.
    while (clock_.running) {
        const uint8_t* payload = parser.NextPacket();
        if (payload) {
            silence.Progress();
            const int kind = parser.kind();
            const uint8_t* head = parser.GetHeader();
            if (!head) continue;
            const StreamPacketHeader header = StreamPacketHeader::FromBytes(
                head, kind <= 2 ? streamformat::kVideoHeaderSize : streamformat::kAudioHeaderSize);
            if (kind >= 0 && kind <= 2) {
                const int channel = header.Channel();
                if (channel < 0) continue;
                auto record = std::make_unique<FrameRecord>();
                record->has_text = 1;
                record->fps = 0;
                record->width = header.U16(streamformat::kOffWidth);
                record->height = header.U16(streamformat::kOffHeight);
                record->speed = 1;
                record->codec = kind;
                record->key = 0;
                record->time_stamp = 0;
                record->char_width = header.I32(streamformat::kOffCharWidth);
                record->kind = header.I32(streamformat::kOffMarker);
                record->stream_field = header.U16(streamformat::kOffVideoExtra);
                record->year = header.U16(streamformat::kOffDate);
                record->month = header.U16(streamformat::kOffDate + 2);
                record->day = header.U16(streamformat::kOffDate + 4);
                record->hour = header.U16(streamformat::kOffDate + 6);
                record->minute = header.U16(streamformat::kOffDate + 8);
                record->second = header.U16(streamformat::kOffDate + 10);
                std::memcpy(record->title.data(), header.bytes.data() + streamformat::kOffTitle, record->title.size());
                record->payload.assign(payload, payload + parser.payload_size());
                decode_[static_cast<size_t>(channel)].PushFrame(std::move(record));
            } else if (kind >= 3 && kind <= 7) {
                if (header.Channel() != SelectedChannel()) continue;
                auto record = std::make_unique<AudioRecord>();
                record->kind = kind;
                record->sample_rate = header.I32(streamformat::kOffSampleRate);
                record->bits = header.I32(streamformat::kOffBitsPerSample);
                record->channels = header.U16(streamformat::kOffAudioChannels);
                record->payload.assign(payload, payload + parser.payload_size());
                sound_.Dispatch(std::move(record));
            }
            continue;
        }
        if (!stream_connection_.HasOpenRequest()) {
            recover();
            continue;
        }
        size_t got = 0;
        const auto read_start = StreamSilence::Clock::now();
        if (!stream_connection_.ReadAvailable(buffer.data(), buffer.size(), &got, timing.empty_read_ms)) {
            if (!clock_.running) break;
            // A reply the recorder broke off (its status said 200) is asked for again at the
            // pace of an ended one, or a recorder that always hangs up would get a storm.
            ReceiverSleep(silence.RestOfEmptyRead(read_start));
        } else if (got > 0) {
            silence.Bytes(got);
            if (!parser.Feed(buffer.data(), got)) parser.Reset();
        } else {
            ReceiverSleep(silence.RestOfEmptyRead(read_start));
        }
        if (silence.Over()) recover();
    }
    stream_connection_.Close();
}

// The poll runs on a worker, so the window thread never waits on the recorder: each tick
// applies the poll that has ended since the last one and starts the next; a poll still
// running makes the tick do nothing.
void RemoteRecordSource::OnTimer() {
    // A poll waits for the transport requests before it, so it sees what they changed.
    if (poll_busy_ || control_pending_) return;
    if (poll_thread_.joinable()) poll_thread_.join();  // it has ended: poll_busy_ fell last
    bool ready = false;
    int result = 0;
    RemoteStatus status;
    {
        std::lock_guard<std::mutex> guard(poll_lock_);
        ready = poll_ready_ && poll_generation_ == polled_generation_;
        poll_ready_ = false;
        result = poll_result_;
        status = polled_;
    }
    if (ready) ApplyStatus(result, status);
    if (ready && !result) return;  // stopped; the lost connection ends the timer
    poll_busy_ = 1;
    const int generation = poll_generation_;
    poll_thread_ = std::thread([this, generation] {
        RemoteStatus fetched;
        const int ok = FetchStatus(&fetched);
        {
            std::lock_guard<std::mutex> guard(poll_lock_);
            poll_ready_ = true;
            poll_result_ = ok;
            polled_ = fetched;
            polled_generation_ = generation;
        }
        poll_busy_ = 0;
    });
}

void RemoteRecordSource::ApplyStatus(int result, const RemoteStatus& status) {
    if (!result) {
        stop_();
        window_->PostMessage(WM_CONNECTION_LOST, 0, 0);
        return;
    }
    // The recorder answered: an odd time is skipped, the next poll may bring a good one.
    if (result == kStatusSkipped) return;
    StoreStatus(status);
    if (remote_playop_ != 1 || clock_.play_state == PlaybackClock::kStopped) return;
    const int hour = remote_time_[3], minute = remote_time_[4], second = remote_time_[5];
    remote_current_ = hour * 3600 + minute * 60 + second;
    panel_->SetStatusText("PLAY");
    static const int kCodes[][2] = {{1, 1},     {102, 2},   {104, 4},   {108, 8},   {116, 16},  {132, 32},
                                    {502, -2}, {504, -4}, {508, -8}, {516, -16}, {532, -32}};
    for (const auto& code : kCodes) {
        if (code[0] == remote_speed_code_) panel_->SetSpeed(code[1]);
    }
    if (hour || minute || second) {
        panel_->SetTimeText(Format("%.2d:%.2d:%.2d", hour, minute, second));
        if (!clock_.slider_busy) SyncSlider();
        if (remote_current_ >= range_.end) stop_();
    }
}

void RemoteRecordSource::StoreStatus(const RemoteStatus& status) {
    std::lock_guard<std::mutex> guard(status_lock_);
    remote_time_ = status.time;
    remote_playop_ = status.playop;
    remote_speed_code_ = status.speed_code;
}

int RemoteRecordSource::FetchStatus(RemoteStatus* status) {
    char reply[513] = {};
    {
        std::lock_guard<std::mutex> guard(control_lock_);
        if (!control_connection_.Fetch(recorder_api::StatusPath(session_id_), reply, 512)) return 0;
    }
    switch (ReadStatusReply(reply, status)) {
        case StatusReplyKind::kStatus: return 1;
        case StatusReplyKind::kNoTimeOfDay: return kStatusSkipped;
        case StatusReplyKind::kNotStatus: break;
    }
    return 0;
}

int RemoteRecordSource::PollStatus() {
    RemoteStatus status;
    const int result = FetchStatus(&status);
    if (!result) return 0;
    if (result == 1) StoreStatus(status);
    return 1;
}

void RemoteRecordSource::EndStatusPoll() {
    {
        std::lock_guard<std::mutex> guard(poll_lock_);
        ++poll_generation_;
        poll_ready_ = false;
    }
}

void RemoteRecordSource::JoinStatusPoll() {
    EndStatusPoll();
    if (poll_thread_.joinable()) {
        control_connection_.Abort();
        poll_thread_.join();
        poll_busy_ = 0;
    }
}

void RemoteRecordSource::SendControl(std::string path) {
    // A poll begun before the request would show the state it changes.
    EndStatusPoll();
    std::lock_guard<std::mutex> guard(control_queue_lock_);
    if (!control_thread_.joinable()) {
        control_stop_ = false;
        control_thread_ = std::thread([this] { ControlLoop(); });
    }
    control_queue_.push_back(std::move(path));
    ++control_pending_;
    control_cv_.notify_one();
}

void RemoteRecordSource::ControlLoop() {
    std::unique_lock<std::mutex> queue(control_queue_lock_);
    for (;;) {
        control_cv_.wait(queue, [this] { return control_stop_ || !control_queue_.empty(); });
        if (control_stop_) return;
        const std::string path = std::move(control_queue_.front());
        control_queue_.pop_front();
        queue.unlock();
        {
            char reply[64];
            std::lock_guard<std::mutex> guard(control_lock_);
            control_connection_.Fetch(path, reply, sizeof reply);
        }
        queue.lock();
        --control_pending_;
    }
}

void RemoteRecordSource::DropControlRequests() {
    std::lock_guard<std::mutex> guard(control_queue_lock_);
    control_pending_ -= static_cast<int>(control_queue_.size());
    control_queue_.clear();
}

void RemoteRecordSource::JoinControlRequests() {
    {
        std::lock_guard<std::mutex> guard(control_queue_lock_);
        control_stop_ = true;
        control_pending_ -= static_cast<int>(control_queue_.size());
        control_queue_.clear();
        control_cv_.notify_one();
    }
    if (!control_thread_.joinable()) return;
    control_connection_.Abort();
    control_thread_.join();
    control_pending_ = 0;
}

void RemoteRecordSource::SyncSlider() {
    const int elapsed = std::max(0, remote_current_ - range_.start);
    const int position = range_.length <= 0 || elapsed <= 0 ? 0 : static_cast<int>(static_cast<int64_t>(elapsed) * range_.slider_max / range_.length);
    clock_.slider_position = position;
    if (position >= range_.slider_max) {
        stop_();
    } else {
        window_->PostMessage(WM_POSITION_CHANGED, 0, 0);
    }
}

void RemoteRecordSource::Seek() {
    const int target = range_.start + clock_.slider_position * range_.SliderScale();
    if (target - range_.start <= 0) return;
    remote_current_ = target;
    SendControl(recorder_api::TimeSliderPath(session_id_, target - range_.start));
    SendControl(recorder_api::PlayPath(session_id_));
}

int RemoteRecordSource::ConnectRecorder() {
    return recorder_api::Connect(control_connection_, server_, kStreamConnectTimeoutMs);
}

void RemoteRecordSource::Play() { SendControl(recorder_api::PlayPath(session_id_)); }

void RemoteRecordSource::Pause() { SendControl(recorder_api::PausePath(session_id_)); }

void RemoteRecordSource::Step(int seconds) {
    const int jump = remote_current_ - range_.start + seconds;
    if (jump <= 0) return;
    SendControl(recorder_api::TimeJumpPath(session_id_, jump));
}

void RemoteRecordSource::SpeedUp() { SendControl(recorder_api::SpeedUpPath(session_id_)); }

void RemoteRecordSource::SpeedDown() { SendControl(recorder_api::SpeedDownPath(session_id_)); }
