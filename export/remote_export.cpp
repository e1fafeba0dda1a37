#include "export/remote_export.h"
#include "media/sound_to_pcm.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "export/disk_free_bytes.h"
#include "export/export_osd.h"
#include "media/disk_format.h"
#include "media/recorder_api.h"
#include "media/stream_silence.h"

namespace {

using namespace streamformat;

constexpr int kKindG711 = 3;
constexpr int kKindG711Second = 4;
constexpr int kKindAac = 5;
constexpr int kKindG726 = 6;
constexpr int kKindPcm = 7;
constexpr int kNoAudioBits = 16;
constexpr int kNoAudioChannels = 1;
constexpr int kNoAudioRate = 8000;
constexpr int kAviFrameRate = 30;
constexpr int kEndOfStream = 2;
// How far the stream time may run past the range's length before a packet is taken as past its end.
constexpr int64_t kRangeSlackMs = 2000;

int32_t I32At(const uint8_t* p, int offset) {
    uint32_t v = 0;
    std::memcpy(&v, p + offset, 4);
    return static_cast<int32_t>(v);
}

int U16At(const uint8_t* p, int offset) { return p[offset] | (p[offset + 1] << 8); }

bool IsAcceptedAudioKind(int kind) { return kind == kKindG711 || kind == kKindAac || kind == kKindG726 || kind == kKindPcm; }

}  // namespace

RemoteExport::RemoteExport() : free_bytes_(GetDiskFreeBytes) { tracker_.Reset(); }

RemoteExport::~RemoteExport() {
    download_running_.store(0);
    writer_running_.store(0);
    http_.Abort();
    WakeThreads();
    if (download_.joinable()) download_.join();
    if (writer_.joinable()) writer_.join();
    http_.Close();
    CloseOutput();
    queue_.Clear();
}

void RemoteExport::BeginExport() {
    space_ok_.store(1);
    write_failed_.store(0);
    output_.BeginExport();
}

std::vector<ExportedPart> RemoteExport::parts() const { return output_.parts(); }

bool RemoteExport::OutputWriteFailed() const {
    if (!writer_open_) return false;
    return settings_.original_format ? avi_writer_.WriteFailed() : recompress_writer_.WriteFailed();
}

void RemoteExport::Configure(const RemoteExportSettings& settings) {
    settings_ = settings;
    std::string& folder = settings_.output_folder;
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
}

std::string RemoteExport::MakeBaseName(int channel, const std::tm& now) {
    char name[80];
    std::snprintf(name, sizeof name, "CH%.2d_%d%.2d%.2d-%d%.2d%.2d", channel + 1, now.tm_year + 1900, now.tm_mon + 1,
                  now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec);
    return name;
}

std::string RemoteExport::RequestTimeText(int year, int month, int day, int second) {
    return recorder_api::PaddedTimeText(year, month, day, second);
}

std::string RemoteExport::BackupRequest(int session_id, int channel, const std::string& start_text,
                                        const std::string& end_text) {
    return recorder_api::BackupPath(session_id, channel, start_text, end_text);
}

std::string RemoteExport::StreamRequest(int session_id, int channel) {
    return recorder_api::ExportStreamPath(session_id, channel);
}

std::string RemoteExport::OsdTitleText(const uint8_t* field, int width_code) {
    const int step = width_code == 1 ? 1 : width_code == 2 ? 2 : 4;
    std::u16string title;
    for (int i = 0; i + step <= kTitleSize; i += step) {
        const auto unit = static_cast<char16_t>(step == 1 ? field[i] : field[i] | (field[i + 1] << 8));
        if (unit == 0) break;
        title.push_back(unit);
    }
    return Utf16ToUtf8(title);
}

int32_t RemoteExport::PacketTimeMs(const uint8_t* header) {
    return static_cast<int32_t>(StreamTimeMs(static_cast<uint32_t>(I32At(header, kOffSeconds)),
                                             static_cast<uint32_t>(I32At(header, kOffMicroseconds))));
}

void RemoteExport::BeginChannel(int channel, const std::tm& now, RemoteExportProgressSink* sink) {
    channel_ = std::clamp(channel, 0, 3);
    output_.BeginChannel(settings_.output_folder, MakeBaseName(channel_, now));
    const RemoteExportSettings& s = settings_;
    backup_request_ = BackupRequest(s.session_id, channel_, RequestTimeText(s.year, s.month, s.day, s.cue_in),
                                    RequestTimeText(s.year, s.month, s.day, s.cue_out));
    stream_request_ = StreamRequest(s.session_id, channel_);
    sink_ = sink;
    download_gave_up_.store(0);
    download_running_.store(1);
    writer_running_.store(1);
    stream_state_.store(0);
    if (!download_.joinable()) download_ = std::thread(&RemoteExport::DownloadThread, this);
    if (!writer_.joinable()) writer_ = std::thread(&RemoteExport::WriterThread, this);
}

void RemoteExport::EndChannel() {
    download_running_.store(0);
    http_.Abort();
    WakeThreads();
    if (download_.joinable()) download_.join();
    stream_state_.store(kEndOfStream);
    http_.Close();
    writer_running_.store(0);
    WakeThreads();
    if (writer_.joinable()) writer_.join();
    CloseOutput();
    // The recorder is given its rest before the next channel's requests; the next download
    // waits it out, not the window thread.
    quiet_until_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timings_.teardown_ms);
    queue_.Clear();
    picture_.clear();
    picture_.shrink_to_fit();
    audio_buffer_.clear();
    audio_buffer_.shrink_to_fit();
    video_decoder_.Close();
    audio_decoder_.Release();
    audio_state_ = 0;
    sink_ = nullptr;
}

bool RemoteExport::Pause(const std::atomic<int>& flag, int ms) {
    if (ms > 0) wake_.WaitFor(ms, [&flag] { return flag.load() == 0; });
    return flag.load() != 0;
}

void RemoteExport::WakeThreads() {
    wake_.Notify();
    queue_.Wake();
}

// Marked before the flags fall, so a writer that sees the download gone never takes it for the end of the stream.
void RemoteExport::GiveUp() {
    download_gave_up_.store(1);
    download_running_.store(0);
    writer_running_.store(0);
    WakeThreads();
}

// A refusal (any status but 200) counts as a failed request: the recorder's
// error text would otherwise be taken for the start of the stream.
bool RemoteExport::ConnectAndRequest() {
    http_.Connect(settings_.host, settings_.user, settings_.password, timings_.connect_timeout_ms, 0, settings_.port);
    // Connect clears an abort that came before it: a stop since then is seen here, a later one
    // aborts the request.
    if (!download_running_.load()) return false;
    http_.SetReceiveTimeout(timings_.receive_timeout_ms);
    char reply[kReplySize] = {};
    if (!http_.Fetch(backup_request_, reply, sizeof reply) || http_.QueryStatusCode() != 200) return false;
    if (!Pause(download_running_, timings_.between_requests_ms)) return false;
    // The stream's first bytes often hold the first key frame: they go to the parser, not to a reply buffer.
    if (!http_.SendRequest(stream_request_) || http_.QueryStatusCode() != 200) return false;
    return Pause(download_running_, timings_.between_requests_ms);
}

// Counts every re-send since the last packet, so a recorder that answers the request but
// sends nothing (an ended reply, a refusal, a trickle) gives up as one that has gone away.
bool RemoteExport::Rerequest() {
    while (download_running_.load()) {
        // A recorder that has gone away would otherwise keep the progress window up for ever.
        if (resends_ >= kMaxResends) {
            GiveUp();
            return false;
        }
        ++resends_;
        if (http_.SendRequest(stream_request_) && http_.QueryStatusCode() == 200) return true;
        Pause(download_running_, timings_.resend_step_ms * timings_.resend_steps);
    }
    return true;
}

void RemoteExport::DownloadThread() {
    StreamPacketParser parser;
    bool connected = false;
    const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(quiet_until_ - std::chrono::steady_clock::now());
    const int start_ms = std::max(timings_.download_start_ms, static_cast<int>(std::max<int64_t>(0, rest.count())));
    if (Pause(download_running_, start_ms)) {
        for (int attempt = 0; download_running_.load() && attempt < kMaxAttempts; ++attempt) {
            if (ConnectAndRequest()) {
                connected = true;
                break;
            }
            http_.Close();
            Pause(download_running_, timings_.retry_ms);
        }
    }
    if (!connected) {
        // Given up: the writer ends without a file and without finishing the progress dialog.
        if (download_running_.load()) GiveUp();
        http_.Close();
        return;
    }
    video_seen_.store(0);
    audio_seen_.store(0);
    resends_ = 0;
    stream_time_known_ = false;
    std::vector<uint8_t> buffer(kReadSize);
    StreamSilence silence(timings_.idle_read_ms, kMaxIdleReads + 1);
    while (download_running_.load()) {
        Pause(download_running_, timings_.download_loop_ms);
        if (const uint8_t* payload = parser.NextPacket()) {
            resends_ = 0;
            silence.Progress();
            QueuePacket(parser, payload);
            continue;
        }
        size_t n = 0;
        const auto read_start = StreamSilence::Clock::now();
        if (!http_.ReadAvailable(buffer.data(), buffer.size(), &n, timings_.idle_read_ms)) {
            if (!download_running_.load()) break;
            // A reply the recorder broke off is asked for again at the pace of an ended one.
            Pause(download_running_, silence.RestOfEmptyRead(read_start));
        } else if (n > 0) {
            silence.Bytes(n);
            parser.Feed(buffer.data(), n);
        } else {
            Pause(download_running_, silence.RestOfEmptyRead(read_start));
        }
        if (silence.Over()) {
            if (!Rerequest()) break;
            parser.Reset();
            silence.Progress();
        }
    }
    WakeThreads();
    http_.Close();
}

void RemoteExport::QueuePacket(StreamPacketParser& parser, const uint8_t* payload) {
    const int kind = parser.kind();
    const uint8_t* header = parser.GetHeader();
    if (kind < 0 || kind > kKindPcm || !header) return;
    // A recorder that sends on without the end packet would fill the disk: the range is all
    // that was asked for.
    if (IsVideoPacketKind(kind) && PastRangeEnd(header)) {
        download_running_.store(0);
        WakeThreads();
        return;
    }
    // Re-encoding is slower than the recorder sends: the queue holds at most kQueueLimit packets.
    while (download_running_.load() &&
           !queue_.WaitForSpace(kQueueLimit, DataQueue<StreamFrameItem>::Clock::now() + std::chrono::milliseconds(100))) {
    }
    if (!download_running_.load()) return;
    auto item = std::make_unique<StreamFrameItem>();
    item->kind = kind;
    item->payload.assign(payload, payload + parser.payload_size());
    item->stream_state = I32At(header, kOffMarker);
    if (IsVideoPacketKind(kind)) {
        item->media_class = 1;
        item->video_header = std::make_unique<std::array<uint8_t, kVideoHeaderSize>>();
        std::memcpy(item->video_header->data(), header, kVideoHeaderSize);
        const int width = U16At(header, kOffWidth);
        const int height = U16At(header, kOffHeight);
        if (!video_seen_.load()) {
            first_video_kind_.store(kind);
            first_width_.store(width);
            first_height_.store(height);
            video_seen_.store(1);
        }
        stream_state_.store(item->stream_state);
        if (width != 0 && height != 0) queue_.Push(std::move(item));
    } else {
        item->media_class = 0;
        item->audio_header = std::make_unique<std::array<uint8_t, kAudioHeaderSize>>();
        std::memcpy(item->audio_header->data(), header, kAudioHeaderSize);
        if (!audio_seen_.load()) {
            first_audio_kind_.store(kind);
            first_audio_bits_.store(I32At(header, kOffBitsPerSample));
            first_audio_channels_.store(U16At(header, kOffAudioChannels));
            first_audio_rate_.store(I32At(header, kOffSampleRate));
            audio_seen_.store(1);
        }
        stream_state_.store(item->stream_state);
        queue_.Push(std::move(item));
    }
    // Past the throttle level the download gives the writer up to queue_full_ms to catch up.
    if (queue_.GetCount() > kQueueThrottle)
        queue_.WaitForSpace(kQueueThrottle + 1, DataQueue<StreamFrameItem>::Clock::now() +
                                                    std::chrono::milliseconds(timings_.queue_full_ms));
    if (stream_state_.load() == kEndOfStream) {
        download_running_.store(0);
        WakeThreads();
    }
}

bool RemoteExport::PastRangeEnd(const uint8_t* h) {
    const int year = U16At(h, kOffDate), month = U16At(h, kOffDate + 2), day = U16At(h, kOffDate + 4);
    const int hour = U16At(h, kOffDate + 6), minute = U16At(h, kOffDate + 8), second = U16At(h, kOffDate + 10);
    const RemoteExportSettings& s = settings_;
    if (year > 0 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour < 24 && minute < 60 && second < 60) {
        const int64_t at = ((year * 100LL + month) * 100 + day) * 86400 + hour * 3600 + minute * 60 + second;
        const int64_t end = ((s.year * 100LL + s.month) * 100 + s.day) * 86400 + s.cue_out;
        return at > end;
    }
    const int32_t now = PacketTimeMs(h);
    if (!stream_time_known_) {
        stream_time_known_ = true;
        first_stream_ms_ = now;
        return false;
    }
    // The time value wraps at 32 bits.
    const auto span = static_cast<int32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(first_stream_ms_));
    return span > (static_cast<int64_t>(s.cue_out) - s.cue_in + 1) * 1000 + kRangeSlackMs;
}

// The waits block on the queue: every packet queued, and every clearing of a
// flag (WakeThreads), ends them early.
bool RemoteExport::WaitForFirstPackets() {
    using Clock = DataQueue<StreamFrameItem>::Clock;
    auto until = [](int ms) { return Clock::now() + std::chrono::milliseconds(std::max(ms, 1)); };
    while (queue_.GetCount() == 0) {
        if (!writer_running_.load()) return false;
        // The download queues before it clears its flag: look once more.
        if ((stream_state_.load() != 0 || !download_running_.load()) && queue_.GetCount() == 0) {
            writer_running_.store(0);
            Finish();
            return false;
        }
        queue_.WaitForRecord(until(timings_.writer_empty_ms));
    }
    auto filling = [this] {
        return writer_running_.load() && !(video_seen_.load() && audio_seen_.load()) && stream_state_.load() == 0 &&
               download_running_.load();
    };
    while (queue_.GetCount() < kStartPackets && filling())
        queue_.WaitUntil(until(timings_.writer_fill_ms), [](size_t n) { return n >= kStartPackets; });
    // The file needs the picture size: wait for the first video packet while the stream lasts.
    const size_t seen = queue_.GetCount();
    while (!video_seen_.load() && writer_running_.load() && download_running_.load())
        queue_.WaitUntil(until(timings_.writer_fill_ms), [seen](size_t n) { return n != seen; });
    if (!writer_running_.load()) return false;
    if (!video_seen_.load()) {
        writer_running_.store(0);
        Finish();
        return false;
    }
    // A stream that ended while the writer waited still has its packets written.
    return true;
}

void RemoteExport::WriterThread() {
    struct EndNotice {
        RemoteExportProgressSink* sink;
        ~EndNotice() {
            if (sink) sink->WriterEnded();
        }
    } end_notice{sink_};
    tracker_.Reset();
    awaiting_key_ = false;
    accumulated_seconds_ = 0;
    video_kind_ = width_ = height_ = -1;
    if (!writer_running_.load() || !WaitForFirstPackets()) return;

    video_kind_ = first_video_kind_.load();
    width_ = first_width_.load();
    height_ = first_height_.load();
    if (audio_seen_.load()) {
        audio_kind_ = first_audio_kind_.load();
        audio_bits_ = first_audio_bits_.load();
        audio_channels_ = first_audio_channels_.load();
        audio_rate_ = first_audio_rate_.load();
    } else {
        audio_kind_ = kKindPcm;
        audio_bits_ = kNoAudioBits;
        audio_channels_ = kNoAudioChannels;
        audio_rate_ = kNoAudioRate;
    }
    if (!OpenPart()) {
        writer_running_.store(0);
        download_running_.store(0);
        http_.Abort();
        WakeThreads();
        Finish();
        return;
    }

    const int total = settings_.cue_out - settings_.cue_in;
    while (writer_running_.load()) {
        std::unique_ptr<StreamFrameItem> item = queue_.Pop();
        if (!item) {
            if (!download_running_.load() && queue_.GetCount() == 0) {
                Finish();
                break;
            }
            queue_.WaitForRecord(DataQueue<StreamFrameItem>::Clock::now() + std::chrono::milliseconds(100));
            continue;
        }
        if (item->stream_state == kEndOfStream) {
            writer_running_.store(0);
            Finish();
            break;
        }
        if (free_bytes_(settings_.output_folder) < kMinFreeBytes) {
            space_ok_.store(0);
            writer_running_.store(0);
            Finish();
            break;
        }
        const uint8_t* header =
            item->media_class == 1 ? item->video_header->data() : item->audio_header ? item->audio_header->data() : nullptr;
        if (!header) continue;
        const int32_t time_ms = PacketTimeMs(header);
        // Nothing before the stream's first key frame could be decoded.
        if (settings_.original_format && output_.part_counter() == 1 && part_frames_ == 0 && !IsKeyPicture(*item)) continue;
        if (awaiting_key_) {
            // An original-frames part begins with a key frame: what comes
            // before it could not be decoded by any player.
            if (!IsKeyPicture(*item)) continue;
            awaiting_key_ = false;
            tracker_.Reset();
            TrackItem(*item, time_ms);
            OpenPart();
        } else {
            TrackItem(*item, time_ms);
            // When the span alone ends the part, original frames go on up to the next key frame.
            const bool span_only = tracker_.span_end && !tracker_.time_jump && !tracker_.video_change &&
                                   !tracker_.audio_change;
            if (tracker_.AnyFlag() && !(settings_.original_format && span_only && !IsKeyPicture(*item)))
                RollOver(*item, time_ms);
            if (awaiting_key_) continue;
        }
        if (item->media_class == 1) {
            WriteVideo(*item);
            if (write_failed_.load() || OutputWriteFailed()) {
                // The part is cut; writing on would only cut more of them.
                write_failed_.store(1);
                writer_running_.store(0);
                download_running_.store(0);
                http_.Abort();
                WakeThreads();
                Finish();
                break;
            }
            const int64_t elapsed = (tracker_.current_stamp - tracker_.start_stamp) / 1000 + accumulated_seconds_;
            if (sink_) sink_->SetProgress(static_cast<int>(elapsed), total);
        } else {
            WriteAudio(*item);
        }
    }
}

void RemoteExport::TrackItem(const StreamFrameItem& item, int32_t time_ms) {
    if (item.media_class == 1) {
        const uint8_t* h = item.video_header->data();
        const int width = U16At(h, kOffWidth);
        const int height = U16At(h, kOffHeight);
        if (video_kind_ >= 0 && width_ >= 0 && height_ >= 0 &&
            (item.kind != video_kind_ || width != width_ || height != height_))
            tracker_.video_change = 1;
        video_kind_ = item.kind;
        width_ = width;
        height_ = height;
        tracker_.CheckTime(time_ms, 0);
    } else {
        const uint8_t* h = item.audio_header->data();
        audio_kind_ = item.kind;
        audio_bits_ = I32At(h, kOffBitsPerSample);
        audio_channels_ = U16At(h, kOffAudioChannels);
        audio_rate_ = I32At(h, kOffSampleRate);
        tracker_.CheckAudioFormat(audio_kind_, audio_bits_, audio_rate_, audio_channels_);
    }
}

bool RemoteExport::IsKeyPicture(const StreamFrameItem& item) {
    if (item.media_class != 1 || !item.video_header) return false;
    const int32_t type = I32At(item.video_header->data(), kOffFrameType);
    switch (item.kind) {
        case 0: return true;
        case 1: return type == kFrameMpeg4Key;
        case 2: return type == kFrameH264Key;
        default: return false;
    }
}

void RemoteExport::RollOver(const StreamFrameItem& item, int32_t time_ms) {
    const bool video_change = tracker_.video_change != 0;
    const bool audio_change = tracker_.audio_change != 0;
    CloseOutput();
    if (video_change) video_decoder_.Close();
    if (audio_change) {
        audio_decoder_.Release();
        audio_state_ = 0;
    }
    accumulated_seconds_ += (tracker_.current_stamp - tracker_.start_stamp) / 1000;
    tracker_.Reset();
    if (settings_.original_format && !IsKeyPicture(item)) {
        awaiting_key_ = true;
        return;
    }
    tracker_.CheckTime(time_ms, 0);
    OpenPart();
}

bool RemoteExport::OpenPart() {
    const std::string path = output_.NextPartPath("avi");
    const bool ok = OpenOutput(path);
    if (!ok) {
        // The part's packets would be lost without a word.
        output_.AddPart(path, 0, false);
        write_failed_.store(1);
    }
    if (ok && !settings_.original_format) {
        picture_.clear();
        if (width_ > 0 && height_ > 0 && width_ <= kMaxPictureSide && height_ <= kMaxPictureSide)
            picture_.assign(static_cast<size_t>(width_) * static_cast<size_t>(height_) * 4, 0);
    }
    if (ok && audio_buffer_.empty()) audio_buffer_.assign(kAudioBufferSize, 0);
    return ok;
}

bool RemoteExport::OpenOutput(const std::string& path) {
    if (writer_open_) return false;
    if (sink_) sink_->ShowFileName(output_.current_file_name());
    watermark_state_ = WatermarkWriter{};
    if (!IsAcceptedAudioKind(audio_kind_)) return false;
    const int mu_law = audio_kind_ == kKindG711 ? 1 : 0;
    bool ok = false;
    // AAC and G.726 are written as the decoder's 16-bit PCM: declare that.
    const int bits = audio_kind_ == kKindAac || audio_kind_ == kKindG726 ? 16 : audio_bits_;
    declared_rate_ = audio_rate_;
    declared_channels_ = audio_channels_;
    if (settings_.original_format)
        ok = avi_writer_.Open(path, width_, height_, settings_.quality, kAviFrameRate, bits, audio_channels_,
                              audio_rate_, mu_law, video_kind_ + 1);
    else
        ok = recompress_writer_.Open(path, settings_.quality, kAviFrameRate, bits, audio_channels_, audio_rate_,
                                     mu_law, width_, height_);
    writer_open_ = ok ? 1 : 0;
    part_frames_ = 0;
    return ok;
}

void RemoteExport::CloseOutput() {
    if (!writer_open_) return;
    bool whole = settings_.original_format ? avi_writer_.Close() : recompress_writer_.Close();
    if (!output_.FinishPart(output_.current_path(), whole, watermark_.load() != 0, part_frames_))
        write_failed_.store(1);
    writer_open_ = 0;
}

void RemoteExport::WriteVideo(const StreamFrameItem& item) {
    const uint8_t* h = item.video_header->data();
    const int32_t time_ms = PacketTimeMs(h);
    if (settings_.original_format) {
        if (avi_writer_.IsOpen() &&
            avi_writer_.WriteVideoFrame(item.payload.data(), static_cast<int>(item.payload.size()), time_ms))
            ++part_frames_;
        return;
    }
    if (picture_.empty()) return;
    static constexpr int kDecoderIds[] = {kCodecIdMjpeg, kCodecIdMpeg4, kCodecIdH264};
    if (!video_decoder_.IsOpen()) {
        const int width = U16At(h, kOffWidth);
        const int height = U16At(h, kOffHeight);
        if (!video_decoder_.OpenVideo(kDecoderIds[item.kind], width, height)) {
            Pause(writer_running_, timings_.decoder_retry_ms);
            if (!video_decoder_.OpenVideo(kDecoderIds[item.kind], width, height)) return;
        }
    }
    size_t picture_size = 0;
    if (!video_decoder_.DecodeVideo(item.payload.data(), item.payload.size(), picture_.data(), picture_.size(),
                                    &picture_size))
        return;
    if (!recompress_writer_.IsOpen() || !writer_open_ || !writer_running_.load()) return;
    const int width = video_decoder_.width();
    const int height = video_decoder_.height();
    uint8_t flip = 1;
    if (settings_.osd) {
        char when[64];
        std::snprintf(when, sizeof when, "%d/%.2d/%.2d %.2d:%.2d:%.2d", U16At(h, kOffDate), U16At(h, kOffDate + 2),
                      U16At(h, kOffDate + 4), U16At(h, kOffDate + 6), U16At(h, kOffDate + 8), U16At(h, kOffDate + 10));
        DrawExportOsd(picture_.data(), width, height, OsdTitleText(h + kOffTitle, I32At(h, kOffCharWidth)), when);
        // DrawExportOsd leaves the rows bottom first.
        flip = 0;
    }
    if (recompress_writer_.WriteVideoFrame(picture_.data(), flip, time_ms, width, height)) ++part_frames_;
}

void RemoteExport::WriteAudioBytes(const uint8_t* data, size_t length) {
    if (!writer_open_ || !writer_running_.load()) return;
    if (settings_.original_format)
        avi_writer_.WriteAudio(data, static_cast<int>(length));
    else
        recompress_writer_.WriteAudio(data, static_cast<int>(length));
}

void RemoteExport::WriteAudio(const StreamFrameItem& item) {
    const uint8_t* data = item.payload.data();
    const size_t length = item.payload.size();
    switch (item.kind) {
        case kKindG711:
        case kKindPcm:
            WriteAudioBytes(data, length);
            break;
        case kKindAac:
        case kKindG726: {
            if (item.kind == kKindG726 && !writer_running_.load()) break;
            // The recorder's G.726 is written at its decoded level.
            SoundToPcmOptions options;
            options.amplify_g726 = false;
            options.failed_open_state = 2;
            const uint8_t* pcm = nullptr;
            size_t bytes = 0;
            // Decoded audio goes in only as the part declared it.
            if (ConvertSoundToPcm(&audio_decoder_, &audio_state_, options,
                                  item.kind == kKindAac ? PcmSource::kAac : PcmSource::kG726, data, length,
                                  audio_rate_, audio_channels_, &swapped_, &pcm, &bytes) &&
                audio_decoder_.audio_sample_rate() == declared_rate_ &&
                audio_decoder_.audio_channels() == declared_channels_)
                WriteAudioBytes(pcm, bytes);
            break;
        }
        case kKindG711Second:
        default:
            break;
    }
}

// A download that gave up leaves the channel incomplete: the dialog is not told it finished.
void RemoteExport::Finish() {
    if (sink_ && !download_gave_up_.load()) sink_->Finish();
}
