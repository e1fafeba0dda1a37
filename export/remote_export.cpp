#include "export/remote_export.h"

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
constexpr int kEndOfStream = 2;
// How far the stream time may run past the range's length before a packet is taken as past its end.
constexpr int64_t kRangeSlackMs = 2000;

int32_t I32At(const uint8_t* p, int offset) {
    uint32_t v = 0;
    std::memcpy(&v, p + offset, 4);
    return static_cast<int32_t>(v);
}

int U16At(const uint8_t* p, int offset) { return p[offset] | (p[offset + 1] << 8); }

// Kind 4, the second G.711 kind, is no sound a part takes.
SoundCoding CodingOf(int kind) {
    switch (kind) {
        case kKindG711: return SoundCoding::kMuLaw;
        case kKindAac: return SoundCoding::kAac;
        case kKindG726: return SoundCoding::kG726;
        case kKindPcm: return SoundCoding::kPcm;
        case kKindG711Second:
        default: return SoundCoding::kNone;
    }
}

}  // namespace

RemoteExport::RemoteExport() : free_bytes_(GetDiskFreeBytes) {
    ExportOutputOptions options;
    // Original frames carry the quality setting; AAC and G.726 are declared as
    // 16-bit PCM of the rate and channels the packet headers give.
    options.original_quality = 0;
    options.offers_asf = false;
    options.aac_format_from_adts = false;
    // The recorder's G.726 is written at its decoded level.
    options.sound.amplify_g726 = false;
    options.sound.failed_open_state = 2;
    options.picture_bytes_per_pixel = 4;
    options.before_decoder_retry = [this] { Pause(writer_running_, timings_.decoder_retry_ms); };
    options.part_opening = [this](const std::string& file_name) {
        if (sink_) sink_->ShowFileName(file_name);
    };
    output_.SetOptions(std::move(options));
}

RemoteExport::~RemoteExport() {
    download_running_.store(0);
    writer_running_.store(0);
    http_.Abort();
    WakeThreads();
    if (download_.joinable()) download_.join();
    if (writer_.joinable()) writer_.join();
    http_.Close();
    output_.EndChannel();
    queue_.Clear();
}

void RemoteExport::BeginExport() {
    space_ok_.store(1);
    write_failed_.store(0);
    output_.BeginExport();
}

std::vector<ExportedPart> RemoteExport::parts() const { return output_.parts(); }

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
    output_.BeginChannel(settings_.output_folder, MakeBaseName(channel_, now),
                         settings_.original_format ? ExportFormat::kOriginal : ExportFormat::kMsVideo1, settings_.quality);
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
    output_.EndChannel();
    if (output_.failed()) write_failed_.store(1);
    // The recorder is given its rest before the next channel's requests; the next download
    // waits it out, not the window thread.
    quiet_until_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timings_.teardown_ms);
    queue_.Clear();
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
    pictures_ = 0;
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
            // The new reply may bring the range from its start again.
            pictures_ = 0;
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
    const RemoteExportSettings& s = settings_;
    const int64_t range_ms = (static_cast<int64_t>(s.cue_out) - s.cue_in + 1) * 1000 + kRangeSlackMs;
    if (++pictures_ > range_ms * kMaxPicturesPerSecond / 1000) return true;
    const int year = U16At(h, kOffDate), month = U16At(h, kOffDate + 2), day = U16At(h, kOffDate + 4);
    const int hour = U16At(h, kOffDate + 6), minute = U16At(h, kOffDate + 8), second = U16At(h, kOffDate + 10);
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
    return span > range_ms;
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

// A write failed: the channel ends as failed, its download with it.
void RemoteExport::EndOnWriteFailure() {
    write_failed_.store(1);
    writer_running_.store(0);
    download_running_.store(0);
    http_.Abort();
    WakeThreads();
    Finish();
}

void RemoteExport::WriterThread() {
    struct EndNotice {
        RemoteExportProgressSink* sink;
        ~EndNotice() {
            if (sink) sink->WriterEnded();
        }
    } end_notice{sink_};
    if (!writer_running_.load() || !WaitForFirstPackets()) return;

    const int video_kind = first_video_kind_.load();
    SoundCoding coding = SoundCoding::kPcm;
    PartSound sound{kNoAudioBits, kNoAudioChannels, kNoAudioRate, false};
    if (audio_seen_.load()) {
        coding = CodingOf(first_audio_kind_.load());
        sound = ExportOutput::WrittenSound(coding, first_audio_bits_.load(), first_audio_channels_.load(),
                                           first_audio_rate_.load(), nullptr, 0, false);
    }
    output_.OpenFirstPart(video_kind, video_kind, first_width_.load(), first_height_.load(), coding, sound);
    if (output_.failed()) {
        EndOnWriteFailure();
        return;
    }

    const int total = settings_.cue_out - settings_.cue_in;
    std::string osd_first;
    std::string osd_second;
    // The stream has ended: what waited for a part is written, then the dialog is told.
    auto end_of_range = [this] {
        output_.EndOfRange();
        if (output_.failed()) write_failed_.store(1);
        Finish();
    };
    while (writer_running_.load()) {
        std::unique_ptr<StreamFrameItem> item = queue_.Pop();
        if (!item) {
            if (!download_running_.load() && queue_.GetCount() == 0) {
                end_of_range();
                break;
            }
            queue_.WaitForRecord(DataQueue<StreamFrameItem>::Clock::now() + std::chrono::milliseconds(100));
            continue;
        }
        if (item->stream_state == kEndOfStream) {
            writer_running_.store(0);
            end_of_range();
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
        ExportRecord record;
        record.data = item->payload.data();
        record.length = item->payload.size();
        record.codec = item->kind;
        if (item->media_class == 1) {
            record.video = true;
            record.decoder = item->kind;
            record.width = U16At(header, kOffWidth);
            record.height = U16At(header, kOffHeight);
            record.key = IsKeyPicture(*item);
            record.stamp = PacketTimeMs(header);
            record.stamp_high = 0;
            if (settings_.osd && !settings_.original_format) {
                const uint8_t* h = header;
                char when[64];
                std::snprintf(when, sizeof when, "%d/%.2d/%.2d %.2d:%.2d:%.2d", U16At(h, kOffDate),
                              U16At(h, kOffDate + 2), U16At(h, kOffDate + 4), U16At(h, kOffDate + 6),
                              U16At(h, kOffDate + 8), U16At(h, kOffDate + 10));
                osd_first = OsdTitleText(h + kOffTitle, I32At(h, kOffCharWidth));
                osd_second = when;
                record.osd_first = &osd_first;
                record.osd_second = &osd_second;
            }
        } else {
            record.coding = CodingOf(item->kind);
            record.bits = I32At(header, kOffBitsPerSample);
            record.channels = U16At(header, kOffAudioChannels);
            record.rate = I32At(header, kOffSampleRate);
        }
        output_.Feed(record);
        if (output_.failed()) {
            // The part is cut; writing on would only cut more of them.
            EndOnWriteFailure();
            break;
        }
        if (item->media_class == 1 && sink_) sink_->SetProgress(static_cast<int>(output_.elapsed_seconds()), total);
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

// A download that gave up leaves the channel incomplete: the dialog is not told it finished.
void RemoteExport::Finish() {
    if (sink_ && !download_gave_up_.load()) sink_->Finish();
}
