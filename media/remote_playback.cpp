// The recorder source: session check, search and stream requests, the stream
// receiver with its recovery, and the status poll that follows the recorder.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "media/playback_engine.h"
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

int PlaybackEngine::CheckRemoteSession() {
    if (session_id < 0) return 0;
    char reply[128] = {};
    std::lock_guard<std::mutex> guard(control_lock);
    if (!control_connection.Fetch(recorder_api::SessionPath(session_id), reply, sizeof reply)) return 0;
    return recorder_api::IsSessionReply(reply);
}

void PlaybackEngine::StartStatusTimer() {
    if (status_timer_running) return;
    status_timer_running = true;
    window_->StartStatusTimer();
}

void PlaybackEngine::StopStatusTimer() {
    if (!status_timer_running) return;
    status_timer_running = false;
    window_->StopStatusTimer();
}

bool PlaybackEngine::ConnectStream() {
    return recorder_api::Connect(stream_connection, server, kStreamConnectTimeoutMs) != 0;
}

void PlaybackEngine::StopReceiver() {
    clock_.running = 0;
    // Ends the receiver's pacing waits.
    WakeReader();
    if (receiver_.joinable()) {
        // A read blocked on a silent recorder is cut short.
        stream_connection.Abort();
        std::unique_lock<std::mutex> guard(receiver_lock_);
        receiver_cv_.wait_for(guard, std::chrono::milliseconds(3000), [this] { return receiver_done_.load(); });
        guard.unlock();
        receiver_.join();
    }
    stream_connection.Close();
}

int PlaybackEngine::StartRemotePlayback(bool then_show_play_status) {
    auto open = std::make_unique<RemoteOpen>();
    open->then_show_play_status = then_show_play_status;
    open->year = range_year;
    open->month = range_month;
    open->day = range_day;
    open->start = range_start;
    open->end = range_end;
    open->channels = channel_selected;
    return BeginRemoteOpen(std::move(open));
}

void PlaybackEngine::StartRecorderPlayback(const std::array<int, 13>& selection) {
    CancelRemoteOpen();
    stream_connection.Close();
    DropControlRequests();
    control_connection.Close();
    auto open = std::make_unique<RemoteOpen>();
    open->from_selection = true;
    open->selection = selection;
    BeginRemoteOpen(std::move(open));
}

int PlaybackEngine::BeginRemoteOpen(std::unique_ptr<RemoteOpen> open) {
    if (server.GetIp().empty()) return 0;
    // A newer open replaces one still running; the stopped receiver frees the stream connection.
    CancelRemoteOpen();
    EndStatusPoll();
    StopStatusTimer();
    StopReceiver();
    open_cancel_ = false;
    open_ = std::move(open);
    const intptr_t generation = ++open_generation_;
    open_thread_ = std::thread([this, generation] {
        RunRemoteOpen(*open_);
        window_->PostMessage(WM_REMOTE_OPENED, generation, 0);
    });
    return 1;
}

void PlaybackEngine::CancelRemoteOpen() {
    if (!open_thread_.joinable()) return;
    ++open_generation_;
    open_cancel_ = true;
    control_connection.Abort();
    stream_connection.Abort();
    open_thread_.join();
    // The requests cut short have ended: the connections serve the next requests again.
    control_connection.ClearAbort();
    stream_connection.ClearAbort();
    open_.reset();
}

void PlaybackEngine::RunRemoteOpen(RemoteOpen& open) {
    // Checked after each step and after each Connect, which clears an abort that came before it.
    const auto cancelled = [this] { return open_cancel_.load(); };
    if (open.from_selection) {
        if (!recorder_api::Connect(control_connection, server, kStreamConnectTimeoutMs)) return;
        if (cancelled() || !CheckRemoteSession()) return;
        // The open needs the recorder's position: a status without one is no start.
        if (cancelled() || FetchRemoteStatus(&open.status) != 1) return;
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
    if (cancelled() || !CheckRemoteSession()) return;
    int count = 0;
    for (int flag : open.channels) count += flag == 1;
    stream_connection.SetReceiveTimeout(stream_timing.receive_timeout_ms);
    ConnectStream();
    if (cancelled()) return;
    // Each request waits for the recorder's reply headers, so the next goes out only once
    // the recorder has taken the last; the status code is in with them.
    const std::string channels = recorder_api::ChannelFlags(open.channels);
    const std::string search = recorder_api::SearchPath(
        session_id,
        recorder_api::TimeText(open.year, open.month, open.day, open.start / 3600, open.start / 60 % 60,
                               open.start % 60),
        recorder_api::TimeText(open.year, open.month, open.day, open.end / 3600, open.end / 60 % 60, open.end % 60),
        channels);
    open.stage = RemoteOpen::kSendFailed;
    if (!stream_connection.SendRequest(search)) {
        stream_connection.Close();
        return;
    }
    open.stream_request = recorder_api::StreamPath(session_id, channels, count == 1 ? 0 : 1);
    if (cancelled() || !stream_connection.SendRequest(open.stream_request)) {
        stream_connection.Close();
        return;
    }
    if (stream_connection.QueryStatusCode() == 503) {
        open.stage = RemoteOpen::kBusy;
        stream_connection.Close();
        return;
    }
    open.stage = RemoteOpen::kStreaming;
}

int PlaybackEngine::FinishRemoteOpen(intptr_t generation) {
    if (generation != open_generation_ || !open_thread_.joinable()) return 0;
    open_thread_.join();  // it has posted its last act
    const std::unique_ptr<RemoteOpen> open = std::move(open_);
    return ApplyRemoteOpen(*open);
}

int PlaybackEngine::ApplyRemoteOpen(const RemoteOpen& open) {
    if (open.polled) {
        StoreRemoteStatus(open.status);
        std::lock_guard<std::mutex> guard(status_lock_);
        range_start = open.start;
        range_end = open.end;
        range_length = open.end - open.start;
        remote_current = open.start;
        range_year = open.year;
        range_month = open.month;
        range_day = open.day;
        channel_selected = open.channels;
    }
    int started = 0;
    if (open.stage != RemoteOpen::kRefused) {
        selected_count = 0;
        int first = -1;
        for (int c = 0; c < 4; ++c) {
            if (open.channels[static_cast<size_t>(c)] == 1) {
                ++selected_count;
                if (first < 0) first = c;
            }
        }
        if (first >= 0) window_->SelectViewer(first);
        if (selected_count > 1) {
            window_->ShowQuadView();
        } else {
            window_->ShowSingleView();
        }
        StartStatusTimer();
        if (!open.stream_request.empty()) {
            std::lock_guard<std::mutex> guard(status_lock_);
            stream_request = open.stream_request;
        }
        if (open.stage == RemoteOpen::kSendFailed) {
            platform::ShowMessageBox("Failed to send http request to NVR", "Error", platform::kMbIconError);
        } else if (open.stage == RemoteOpen::kStreaming) {
            StartRemoteStream(open.start);
            started = 1;
        }
    }
    if (open.then_show_play_status) {
        if (started) {
            ShowPlayStatus();
            WakeReader();
        } else {
            // Play on a recorder that is gone, refused the session or is busy: "PLAY" over black
            // views would look like a stream on its way. The send failure has told its own.
            if (open.stage != RemoteOpen::kSendFailed)
                platform::ShowMessageBox(TranslateText("MSG_FAILED_CONNECT", "Connection failed!"), "Error",
                                         platform::kMbIconError);
            StopStatusTimer();
            clock_.play_state = kStopped;
            panel_->SetStatusText("STOP");
            panel_->SetSpeed(1);
            window_->SetTransportButtons(kStopped);
        }
    }
    return started;
}

void PlaybackEngine::StartRemoteStream(int start_second) {
    sound_.CloseDevice();
    for (int i = 0; i < 4; ++i) {
        CDecodeProcess& worker = decode[static_cast<size_t>(i)];
        // A worker still running from the last playback keeps its channel and viewer.
        if (worker.IsRunning()) continue;
        worker.channel = i;
        worker.viewer = viewers_[static_cast<size_t>(i)];
        if (channel_selected[static_cast<size_t>(i)] == 1 && worker.viewer) {
            worker.has_picture = 0;
            worker.Start();
        }
    }
    clock_.running = 1;
    if (!receiver_.joinable()) StartReceiverThread();
    {
        std::lock_guard<std::mutex> guard(status_lock_);
        range_length = range_end - range_start;
        slider_max = range_length > 10000 ? range_length / 10 : range_length;
    }
    window_->SetTimeSlider(slider_max, slider_max / 5, 0);
    panel_->SetSpeed(1);
    panel_->SetStatusText("PLAY");
    panel_->SetTimeText(Format("%2d:%2d:%2d", start_second / 3600, start_second / 60 % 60, start_second % 60));
    window_->SetTransportButtons(kPlaying);
    ShowPlayStatus();
}

void PlaybackEngine::RestartRemoteStream() {
    if (clock_.running == 0) return;
    const int layout = window_->GridLayout();
    const int selected_view = SelectedChannel();
    if (source_mode != 1) {
        for (int c = 0; c < 4; ++c) decode[static_cast<size_t>(c)].enabled = layout > 1 || c == selected_view ? 1 : 0;
        return;
    }
    std::array<int, 4> shown{};
    for (int c = 0; c < 4; ++c)
        shown[static_cast<size_t>(c)] = channel_selected[static_cast<size_t>(c)] == 1 && (layout > 1 || c == selected_view);
    for (int c = 0; c < 4; ++c) {
        if (channel_selected[static_cast<size_t>(c)] != 1) continue;
        decode[static_cast<size_t>(c)].flush_request = 1;
        if (viewers_[static_cast<size_t>(c)]) viewers_[static_cast<size_t>(c)]->SetConnecting(true);
    }
    StopReceiver();
    ConnectStream();
    {
        std::lock_guard<std::mutex> guard(status_lock_);
        stream_request = recorder_api::StreamPath(session_id, recorder_api::ChannelFlags(shown), layout > 1 ? 1 : 0);
    }
    clock_.running = 1;
    // The recorder gets its half second between the old stream and the new one on the
    // receiver, which a stop cuts short; the window thread goes on at once.
    StartReceiverThread(stream_timing.layout_rest_ms);
}

void PlaybackEngine::StartReceiverThread(int rest_ms) {
    receiver_done_ = false;
    receiver_ = std::thread([this, rest_ms] {
        RemoteStreamReceiver(rest_ms);
        {
            std::lock_guard<std::mutex> guard(receiver_lock_);
            receiver_done_ = true;
        }
        receiver_cv_.notify_all();
    });
}

bool PlaybackEngine::ReceiverSleep(int32_t ms) {
    ReaderWait(Clock::now() + std::chrono::milliseconds(ms), [this] { return clock_.running == 0; });
    return clock_.running != 0;
}

void PlaybackEngine::RemoteStreamReceiver(int rest_ms) {
    const RemoteStreamTiming timing = stream_timing;
    if (rest_ms > 0 && !ReceiverSleep(rest_ms)) {
        stream_connection.Close();
        return;
    }
    StreamPacketParser parser;
    std::vector<uint8_t> buffer(HttpGet::kScratchSize);
    int resends = 0;  // failed in a row
    StreamSilence silence(timing.empty_read_ms, timing.silent_reads);
    stream_connection.SetReceiveTimeout(timing.receive_timeout_ms);
    // Re-sends the stored request until the recorder answers it with a stream. A paused
    // recorder sends nothing yet takes every re-send, so only re-sends it did not take
    // count; once five have failed, every further attempt reports the stream lost.
    auto recover = [&] {
        while (clock_.running) {
            if (resends >= timing.lost_after_resends) window_->PostMessage(WM_STREAM_LOST, 0, 0);
            if (stream_connection.SendRequest(stream_request) && stream_connection.QueryStatusCode() == 200) {
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
                decode[static_cast<size_t>(channel)].PushFrame(std::move(record));
            } else if (kind >= 3 && kind <= 7) {
                if (header.Channel() != SelectedChannel()) continue;
                auto record = std::make_unique<AudioRecord>();
                record->kind = kind;
                record->sample_rate = header.I32(streamformat::kOffSampleRate);
                record->bits = header.I32(streamformat::kOffBitsPerSample);
                record->channels = header.U16(streamformat::kOffAudioChannels);
                record->payload.assign(payload, payload + parser.payload_size());
                DispatchAudio(std::move(record));
            }
            continue;
        }
        if (!stream_connection.HasOpenRequest()) {
            recover();
            continue;
        }
        size_t got = 0;
        const auto read_start = StreamSilence::Clock::now();
        if (!stream_connection.ReadAvailable(buffer.data(), buffer.size(), &got, timing.empty_read_ms)) {
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
    stream_connection.Close();
}

// The poll runs on a worker, so the window thread never waits on the recorder: each tick
// applies the poll that has ended since the last one and starts the next; a poll still
// running makes the tick do nothing.
void PlaybackEngine::OnTimer() {
    // A poll waits for the transport requests before it, so it sees what they changed.
    if (poll_busy || control_pending_) return;
    if (poll_thread_.joinable()) poll_thread_.join();  // it has ended: poll_busy fell last
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
    if (ready) ApplyRemoteStatus(result, status);
    if (ready && !result) return;  // stopped; the lost connection ends the timer
    poll_busy = 1;
    const int generation = poll_generation_;
    poll_thread_ = std::thread([this, generation] {
        RemoteStatus fetched;
        const int ok = FetchRemoteStatus(&fetched);
        {
            std::lock_guard<std::mutex> guard(poll_lock_);
            poll_ready_ = true;
            poll_result_ = ok;
            polled_ = fetched;
            polled_generation_ = generation;
        }
        poll_busy = 0;
    });
}

void PlaybackEngine::ApplyRemoteStatus(int result, const RemoteStatus& status) {
    if (!result) {
        OnStop();
        window_->PostMessage(WM_CONNECTION_LOST, 0, 0);
        return;
    }
    // The recorder answered: an odd time is skipped, the next poll may bring a good one.
    if (result == kStatusSkipped) return;
    StoreRemoteStatus(status);
    if (remote_playop != 1 || clock_.play_state == kStopped) return;
    const int hour = remote_time[3], minute = remote_time[4], second = remote_time[5];
    remote_current = hour * 3600 + minute * 60 + second;
    panel_->SetStatusText("PLAY");
    static const int kCodes[][2] = {{1, 1},     {102, 2},   {104, 4},   {108, 8},   {116, 16},  {132, 32},
                                    {502, -2}, {504, -4}, {508, -8}, {516, -16}, {532, -32}};
    for (const auto& code : kCodes) {
        if (code[0] == remote_speed_code) panel_->SetSpeed(code[1]);
    }
    if (hour || minute || second) {
        panel_->SetTimeText(Format("%.2d:%.2d:%.2d", hour, minute, second));
        if (!clock_.slider_busy) SyncSlider();
        if (remote_current >= range_end) OnStop();
    }
}

void PlaybackEngine::StoreRemoteStatus(const RemoteStatus& status) {
    std::lock_guard<std::mutex> guard(status_lock_);
    remote_time = status.time;
    remote_playop = status.playop;
    remote_speed_code = status.speed_code;
}

int PlaybackEngine::FetchRemoteStatus(RemoteStatus* status) {
    char reply[513] = {};
    {
        std::lock_guard<std::mutex> guard(control_lock);
        if (!control_connection.Fetch(recorder_api::StatusPath(session_id), reply, 512)) return 0;
    }
    switch (ReadStatusReply(reply, status)) {
        case StatusReplyKind::kStatus: return 1;
        case StatusReplyKind::kNoTimeOfDay: return kStatusSkipped;
        case StatusReplyKind::kNotStatus: break;
    }
    return 0;
}

int PlaybackEngine::PollRemoteStatus() {
    RemoteStatus status;
    const int result = FetchRemoteStatus(&status);
    if (!result) return 0;
    if (result == 1) StoreRemoteStatus(status);
    return 1;
}

void PlaybackEngine::EndStatusPoll() {
    {
        std::lock_guard<std::mutex> guard(poll_lock_);
        ++poll_generation_;
        poll_ready_ = false;
    }
}

void PlaybackEngine::JoinStatusPoll() {
    EndStatusPoll();
    if (poll_thread_.joinable()) {
        control_connection.Abort();
        poll_thread_.join();
        poll_busy = 0;
    }
}

void PlaybackEngine::SendControl(std::string path) {
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

void PlaybackEngine::ControlLoop() {
    std::unique_lock<std::mutex> queue(control_queue_lock_);
    for (;;) {
        control_cv_.wait(queue, [this] { return control_stop_ || !control_queue_.empty(); });
        if (control_stop_) return;
        const std::string path = std::move(control_queue_.front());
        control_queue_.pop_front();
        queue.unlock();
        {
            char reply[64];
            std::lock_guard<std::mutex> guard(control_lock);
            control_connection.Fetch(path, reply, sizeof reply);
        }
        queue.lock();
        --control_pending_;
    }
}

void PlaybackEngine::DropControlRequests() {
    std::lock_guard<std::mutex> guard(control_queue_lock_);
    control_pending_ -= static_cast<int>(control_queue_.size());
    control_queue_.clear();
}

void PlaybackEngine::JoinControlRequests() {
    {
        std::lock_guard<std::mutex> guard(control_queue_lock_);
        control_stop_ = true;
        control_pending_ -= static_cast<int>(control_queue_.size());
        control_queue_.clear();
        control_cv_.notify_one();
    }
    if (!control_thread_.joinable()) return;
    control_connection.Abort();
    control_thread_.join();
    control_pending_ = 0;
}

void PlaybackEngine::SyncSlider() {
    const int elapsed = std::max(0, remote_current - range_start);
    const int position = range_length <= 0 || elapsed <= 0 ? 0 : static_cast<int>(static_cast<int64_t>(elapsed) * slider_max / range_length);
    clock_.slider_position = position;
    if (position >= slider_max) {
        OnStop();
    } else {
        window_->PostMessage(WM_POSITION_CHANGED, 0, 0);
    }
}

void PlaybackEngine::SendTimeSlider() {
    const int target = range_start + clock_.slider_position * SliderScale();
    if (target - range_start <= 0) return;
    remote_current = target;
    SendControl(recorder_api::TimeSliderPath(session_id, target - range_start));
    SendControl(recorder_api::PlayPath(session_id));
}

int PlaybackEngine::ConnectRecorder() {
    return recorder_api::Connect(control_connection, server, kStreamConnectTimeoutMs);
}
