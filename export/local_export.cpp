#include "export/local_export.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>

#include "export/disk_free_bytes.h"
#include "export/export_osd.h"
#include "media/minute_file.h"
#include "media/mu_law_audio.h"
#include "media/sound_to_pcm.h"

namespace {

constexpr int kNoAudioCodec = diskformat::kAudioPcm;
constexpr int kNoAudioBits = 16;
constexpr int kNoAudioChannels = 1;
constexpr int kNoAudioRate = 8000;
constexpr int kAviFrameRate = 30;
constexpr int kOriginalQuality = 100;
constexpr int kTitleOffset = 20;

int32_t LowWord(int64_t stamp) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(stamp))); }
int32_t HighWord(int64_t stamp) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(stamp) >> 32)); }

bool IsMuLaw(int codec) { return codec == diskformat::kAudioG711A || codec == diskformat::kAudioG711B; }

bool IsVideoCodec(int codec) {
    return codec == diskformat::kCodecMjpeg || codec == diskformat::kCodecMpeg4 || codec == diskformat::kCodecH264;
}

int64_t MillisecondOfDay(const LocalExportRecord& r) {
    return (static_cast<int64_t>(r.hour) * 3600 + r.minute * 60 + r.second) * 1000;
}

// The audio format a part declares for an entry: what is written, which for
// AAC and G.726 is the decoder's 16-bit PCM at the stream's own rate and
// channels (an ADTS header tells them for AAC).
struct WrittenAudio {
    int bits, channels, rate;
};
WrittenAudio WrittenAudioFormat(const MinuteFrameEntry& e, const std::vector<uint8_t>& payload) {
    WrittenAudio w{e.bits, e.channels, e.sample_rate};
    if (e.codec == diskformat::kAudioG726) w.bits = 16;
    if (e.codec != diskformat::kAudioAac) return w;
    w.bits = 16;
    static constexpr int kAdtsRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                         22050, 16000, 12000, 11025, 8000,  7350};
    const uint8_t* p = payload.data();
    if (payload.size() >= 4 && p[0] == 0xFF && (p[1] & 0xF6) == 0xF0) {
        const int index = (p[2] >> 2) & 15;
        if (index < 13) w.rate = kAdtsRates[index];
        const int config = ((p[2] & 1) << 2) | (p[3] >> 6);
        if (config >= 1 && config <= 6) w.channels = config;
        if (config == 7) w.channels = 8;
    }
    return w;
}

// An entry the writers can take: a picture size a codec can have, a known
// codec, audio parameters that give a valid stream. A damaged entry would
// otherwise open a part of its own.
bool PlausibleEntry(const MinuteFrameEntry& e) {
    if (e.kind == diskformat::kKindVideo)
        return IsVideoCodec(e.codec) && e.width > 0 && e.height > 0 && e.width <= kMaxPictureSide &&
               e.height <= kMaxPictureSide;
    if (e.kind != diskformat::kKindAudio || e.codec < diskformat::kAudioAac || e.codec > diskformat::kAudioPcm)
        return false;
    constexpr int kMaxRate = 192000;
    constexpr int kMaxChannels = 8;
    if (e.channels < 1 || e.channels > kMaxChannels || e.sample_rate < 1 || e.sample_rate > kMaxRate) return false;
    // Written as recorded: the block must hold whole bytes.
    if (e.codec != diskformat::kAudioAac && e.codec != diskformat::kAudioG726)
        return e.bits >= 8 && e.bits <= 32 && e.bits % 8 == 0;
    return true;
}

constexpr auto kNoDeadline = std::chrono::steady_clock::time_point::max();

}  // namespace

LocalExport::LocalExport() : free_bytes_(GetDiskFreeBytes) { tracker_.Reset(); }

LocalExport::~LocalExport() {
    writer_running_.store(0);
    reader_running_.store(0);
    reader_share_calls_.Abort();
    WakeThreads();
    if (reader_.joinable()) reader_.join();
    if (writer_.joinable()) writer_.join();
    queue_.Clear();
    avi_writer_.Close();
    recompress_writer_.Reset();
    asf_writer_.Close();
}

void LocalExport::BeginExport() {
    space_ok_.store(1);
    write_failed_.store(0);
    read_failed_.store(0);
    output_.BeginExport();
    std::lock_guard<std::mutex> lock(unreadable_mutex_);
    unreadable_.clear();
}

std::vector<std::string> LocalExport::unreadable() const {
    std::lock_guard<std::mutex> lock(unreadable_mutex_);
    return unreadable_;
}

bool LocalExport::ReadFailure(const std::string& path, const MinuteFile& file) {
    // A stop ends the share calls at once: what then fails is not lost.
    if (!reader_running_.load()) return false;
    bool lost = file.ReadFailed();
    if (!lost && !file.IsOpen()) {
        // Not there is a gap while the data folder is; a file that is there
        // and big enough to hold an index, yet does not open, is lost.
        lost = platform::PathExists(path)
                   ? platform::RegularFileSize(path) >= static_cast<int64_t>(diskformat::kMinuteIndexSize)
                   : !platform::IsFolder(source_.path);
    }
    if (!lost || !reader_running_.load()) return false;
    {
        std::lock_guard<std::mutex> lock(unreadable_mutex_);
        unreadable_.push_back(path);
    }
    read_failed_.store(1);
    return true;
}

std::vector<ExportedPart> LocalExport::parts() const { return output_.parts(); }

void LocalExport::StopOnWriteFailure() {
    write_failed_.store(1);
    reader_running_.store(0);
    writer_running_.store(0);
    WakeThreads();
    EndProgressDialog();
}

// The drive is asked after the first record and then whenever another
// kSpaceCheckBytes have gone into the part, not after every record: a stop
// comes at most that much later, and the query no longer costs more than the write.
bool LocalExport::SpaceCheckDue() {
    uint64_t written = 0;
    if (format_ == kFormatOriginal)
        written = avi_writer_.file_bytes();
    else if (format_ == kFormatMsVideo1)
        written = recompress_writer_.file_bytes();
    else
        return true;
    if (written >= last_space_check_ && written - last_space_check_ < kSpaceCheckBytes && space_checked_) return false;
    space_checked_ = true;
    last_space_check_ = written;
    return true;
}

bool LocalExport::OutputWriteFailed() const {
    if (!output_open_) return false;
    if (format_ == kFormatOriginal) return avi_writer_.WriteFailed();
    if (format_ == kFormatMsVideo1) return recompress_writer_.WriteFailed();
    return asf_writer_.WriteFailed();
}

void LocalExport::Configure(const RecordSource& source, int cue_in, int cue_out, const std::string& output_folder) {
    source_ = source;
    cue_in_ = cue_in;
    cue_out_ = cue_out;
    output_folder_ = output_folder;
    while (output_folder_.size() > 1 && (output_folder_.back() == '/' || output_folder_.back() == '\\'))
        output_folder_.pop_back();
}

std::string LocalExport::MakeBaseName(int channel, const std::tm& now) {
    char name[64];
    std::snprintf(name, sizeof name, "CH%.2d_%d%.2d%.2d-%d%.2d%.2d", channel + 1, now.tm_year + 1900, now.tm_mon + 1,
                  now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec);
    return name;
}

std::string LocalExport::ExportChannelTitle(const uint8_t* title_field, int channel) {
    std::u16string title;
    for (int i = 0; i < diskformat::kTitleChars; ++i) {
        const uint8_t* word = title_field + 4 * i;
        const auto unit = static_cast<char16_t>(word[0] | (word[1] << 8));
        if (unit == 0) break;
        title.push_back(unit);
    }
    return "CH" + std::to_string(channel + 1) + "-" + Utf16ToUtf8(title);
}

void LocalExport::BeginChannel(int channel, int format, int quality, bool osd, const std::tm& now,
                               LocalExportProgressSink* sink) {
    channel_ = std::clamp(channel, 0, diskformat::kChannels - 1);
    // A name left from the previous channel must not be taken for this one's last part.
    output_.BeginChannel(output_folder_, MakeBaseName(channel_, now));
    quality_ = quality;
    format_ = format;
    osd_ = osd ? 1 : 0;
    output_open_ = 0;
    sink_ = sink;
    progress_.store(0);
    video_seen_.store(0);
    audio_seen_.store(0);
    if (!reader_.joinable()) {
        reader_running_.store(1);
        reader_share_calls_.Reset();
        reader_ = std::thread([this] {
            const platform::ScopedShareCallAbort bound(&reader_share_calls_);
            ExportReaderThread();
        });
    }
    if (!writer_.joinable()) {
        writer_running_.store(1);
        writer_ = std::thread(&LocalExport::ExportWriterThread, this);
    }
}

void LocalExport::EndChannel(int result) {
    writer_running_.store(0);
    reader_running_.store(0);
    reader_share_calls_.Abort();
    WakeThreads();
    if (reader_.joinable()) reader_.join();
    if (writer_.joinable()) writer_.join();
    video_decoder_.Close();
    audio_decoder_.Release();
    audio_state_ = 0;
    queue_.Clear();
    spare_records_.clear();
    CloseOutput();
    if (result != 1) DeleteLastPart();
    sink_ = nullptr;
}

// Every wait of the threads is on the queue, whose predicates read the run
// flags under its lock: a flag cleared before this call is never missed.
void LocalExport::WakeThreads() { queue_.Wake(); }

bool LocalExport::WaitForQueueSpace(size_t limit) {
    if (queue_.GetCount() < limit) return reader_running_.load() != 0;
    // A writer waiting to open its first part learns that no more records come for now.
    reader_blocked_.store(1);
    queue_.Wake();
    // On again once the writer has taken half: one wake-up per batch, not per record.
    queue_.WaitUntil(kNoDeadline, [this, limit](size_t count) { return count < limit / 2 || !reader_running_.load(); });
    reader_blocked_.store(0);
    return reader_running_.load() != 0;
}

void LocalExport::ExportReaderThread() {
    const int c = channel_;
    const int start_minute = cue_in_ / 60 * 60;
    const int last_minute = cue_out_ / 60 * 60;
    bool waiting_for_key = true;
    MinuteFile file;
    ChannelSecondBlock block;
    // The records of one channel-second go to the writer together, and their
    // data comes in with one read: per record, the hand-over and the read
    // cost more than the copying.
    std::vector<std::unique_ptr<LocalExportRecord>> batch;
    std::vector<int> kept;
    std::vector<uint8_t> span;
    std::vector<std::unique_ptr<LocalExportRecord>> spares;
    // The bound counts what waits in the queue and what is about to join it.
    // Only this thread adds to the queue, so the count seen at the start of
    // the second is an upper bound until the next push: no lock per entry.
    size_t queued = 0;
    const auto room_for = [this, &batch, &queued](size_t limit) {
        if (queued + batch.size() < limit) return reader_running_.load() != 0;
        queue_.PushAll(batch);
        const bool on = WaitForQueueSpace(limit);
        queued = queue_.GetCount();
        return on;
    };
    bool failed = false;
    for (int m = start_minute; m <= last_minute && reader_running_.load() && !failed; m += 60) {
        const bool last = m == last_minute;
        const std::string path =
            MinuteFilePath(source_.path, source_.year, source_.month, source_.day, m / 3600, (m % 3600) / 60);
        if (!file.OpenPath(path)) {
            failed = ReadFailure(path, file);
            continue;
        }
        // Only the cue-in minute starts late: a missing first file must not cut the next minute short.
        const int first_second = m == start_minute ? cue_in_ % 60 : 0;
        bool range_ended = false;
        for (int s = first_second; s < diskformat::kSecondsPerMinute && reader_running_.load(); ++s) {
            if (!WaitForQueueSpace(kQueuePerSecond)) break;
            queued = queue_.GetCount();
            if (last && s > cue_out_ % 60) {
                range_ended = true;
                break;
            }
            // Presence as playback judges it: a block at offset 0 from the base is a valid block.
            if (!file.index().Second(s).ChannelPresent(c)) continue;
            int64_t position = 0;
            if (!file.ReadBlock(s, c, &block, &position)) continue;
            const int used = block.UsedCount();
            // Which entries go out is decided first, so their data can be read in one go.
            kept.clear();
            int64_t span_start = 0;
            int64_t span_end = 0;
            int64_t data_bytes = 0;
            for (int i = 0; i < used; ++i) {
                const MinuteFrameEntry entry = block.Entry(i);
                if (!PlausibleEntry(entry)) continue;
                if (entry.kind == diskformat::kKindVideo) {
                    if (waiting_for_key && entry.key != 1) continue;
                    waiting_for_key = false;
                } else if (entry.kind == diskformat::kKindAudio) {
                    if (waiting_for_key) continue;
                } else {
                    continue;
                }
                kept.push_back(i);
                if (!file.EntryReadable(entry, position)) continue;
                const int64_t begin = position + entry.data_offset;
                span_start = data_bytes == 0 ? begin : std::min(span_start, begin);
                span_end = data_bytes == 0 ? begin + entry.length : std::max(span_end, begin + entry.length);
                data_bytes += entry.length;
            }
            // Scattered entries (a damaged block) are read one by one instead of with their gaps.
            const bool one_read = data_bytes > 0 && span_end - span_start <= kSpanReadLimit &&
                                  span_end - span_start <= 2 * data_bytes + kSpanReadSlack &&
                                  file.ReadSpan(span_start, span_end - span_start, &span);
            for (const int i : kept) {
                if (!reader_running_.load() || !room_for(kQueuePerEntry)) break;
                const MinuteFrameEntry entry = block.Entry(i);
                // A damaged length or position, or a short read, drops the entry.
                if (!file.EntryReadable(entry, position)) continue;
                if (spares.empty()) {
                    std::lock_guard<std::mutex> lock(spare_mutex_);
                    spares.swap(spare_records_);
                }
                std::unique_ptr<LocalExportRecord> record;
                if (spares.empty()) {
                    record = std::make_unique<LocalExportRecord>();
                } else {
                    record = std::move(spares.back());
                    spares.pop_back();
                }
                record->entry = entry;
                record->hour = m / 3600;
                record->minute = (m % 3600) / 60;
                record->second = s;
                std::memcpy(record->title.data(), &block.bytes[kTitleOffset + 64 * c], record->title.size());
                if (one_read) {
                    const uint8_t* data = span.data() + (position + entry.data_offset - span_start);
                    record->payload.assign(data, data + entry.length);
                } else if (!file.ReadFrameData(entry, position, &record->payload)) {
                    continue;
                }
                if (!reader_running_.load()) break;
                if (entry.kind == diskformat::kKindAudio && !audio_seen_.load()) {
                    const WrittenAudio written = WrittenAudioFormat(entry, record->payload);
                    audio_codec_.store(entry.codec);
                    audio_bits_.store(written.bits);
                    audio_channels_.store(written.channels);
                    audio_rate_.store(written.rate);
                    audio_seen_.store(1);
                } else if (entry.kind == diskformat::kKindVideo && !video_seen_.load()) {
                    video_codec_.store(entry.codec);
                    video_width_.store(entry.width);
                    video_height_.store(entry.height);
                    video_seen_.store(1);
                }
                batch.push_back(std::move(record));
            }
            queue_.PushAll(batch);
            if (file.ReadFailed()) break;
        }
        // What was read of a file that then failed is written; the rest is lost, and told.
        failed = ReadFailure(path, file);
        file.Close();
        if (range_ended) break;
    }
    // A stop leaves the batch unsent; the writer takes the cleared flag as the end of the records.
    batch.clear();
    reader_running_.store(0);
    WakeThreads();
}

// The first part takes its audio format from the first audio record, so the
// writer waits until both kinds were seen, the reader has stopped at the
// queue's bound, or it has finished: the same point however fast either runs.
bool LocalExport::WaitForFirstRecords() {
    queue_.WaitUntil(kNoDeadline, [this](size_t count) {
        return !writer_running_.load() || !reader_running_.load() ||
               (count > 0 && ((video_seen_.load() && audio_seen_.load()) || reader_blocked_.load()));
    });
    if (!writer_running_.load()) return false;
    if (queue_.GetCount() == 0) {
        // The reader pushes before it clears its flag, so an empty queue now is the end.
        EndProgressDialog();
        return false;
    }
    // A reader that has already finished leaves its records to be written, so
    // a short range still gives a file.
    return true;
}

// A picture whose codec or size differs from the part's would start a new
// part; it does only when it decodes to the size it claims, so a damaged
// entry is dropped instead of opening a part of its own.
bool LocalExport::IsUnconfirmedChange(const LocalExportRecord& record) {
    const MinuteFrameEntry& e = record.entry;
    if (e.kind != diskformat::kKindVideo ||
        (e.codec == part_video_codec_ && e.width == part_width_ && e.height == part_height_))
        return false;
    static constexpr int kDecoderIds[] = {kCodecIdMjpeg, kCodecIdMpeg4, kCodecIdH264};
    MediaDecoder probe;
    if (!probe.OpenVideo(kDecoderIds[e.codec - diskformat::kCodecMjpeg], e.width, e.height)) return true;
    probe_picture_.resize(static_cast<size_t>(e.width) * static_cast<size_t>(e.height) * 3);
    size_t size = 0;
    return !probe.DecodeVideo(record.payload.data(), record.payload.size(), probe_picture_.data(),
                              probe_picture_.size(), &size);
}

bool LocalExport::IsKeyPicture(const LocalExportRecord& record) {
    return record.entry.kind == diskformat::kKindVideo && record.entry.key == 1;
}

// The span is the only reason to end the part: original frames go on into it
// up to the next key frame, so the next part can be decoded from its start.
bool LocalExport::DeferPartChange(const LocalExportRecord& record) const {
    return format_ == kFormatOriginal && tracker_.span_end && !tracker_.time_jump && !tracker_.video_change &&
           !tracker_.audio_change && !IsKeyPicture(record);
}

void LocalExport::ExportWriterThread() {
    awaiting_key_ = false;
    change_video_ = change_audio_ = false;
    held_sound_.clear();
    held_sound_bytes_ = 0;
    space_checked_ = false;
    tracker_.Reset();
    first_time_ = current_time_ = 0;
    bool first_record = true;
    int reported = -1;
    if (writer_running_.load() && WaitForFirstRecords()) {
        OpenFirstPart();
        // Everything queued is taken at once: one hand-over per batch of the reader.
        std::deque<std::unique_ptr<LocalExportRecord>> taken;
        std::vector<std::unique_ptr<LocalExportRecord>> done;
        while (writer_running_.load()) {
            if (taken.empty()) {
                if (!done.empty()) {
                    std::lock_guard<std::mutex> lock(spare_mutex_);
                    for (auto& r : done)
                        if (spare_records_.size() < 2 * kQueuePerEntry) spare_records_.push_back(std::move(r));
                }
                done.clear();
                queue_.PopAll(&taken);
            }
            std::unique_ptr<LocalExportRecord> record;
            if (!taken.empty()) {
                record = std::move(taken.front());
                taken.pop_front();
            }
            if (!record) {
                if (!reader_running_.load() && queue_.GetCount() == 0) {
                    progress_.store(100);
                    if (sink_) sink_->SetProgress(100);
                    EndProgressDialog();
                    break;
                }
                queue_.WaitUntil(kNoDeadline, [this](size_t count) {
                    return count > 0 || !reader_running_.load() || !writer_running_.load();
                });
                continue;
            }
            if (IsUnconfirmedChange(*record)) continue;
            if (first_record) {
                first_time_ = current_time_ = MillisecondOfDay(*record);
                first_record = false;
            }
            if (awaiting_key_) {
                // An original-frames part begins with a key frame: pictures
                // before it could not be decoded by any player. Sound is kept.
                if (!IsKeyPicture(*record)) {
                    if (record->entry.kind == diskformat::kKindAudio) KeepSoundUntilKey(std::move(record));
                } else {
                    FinishPartChange(*record);
                }
            } else {
                TrackRecord(*record);
                if (tracker_.AnyFlag() && !DeferPartChange(*record)) ChangePart(*record);
                if (awaiting_key_ && record->entry.kind == diskformat::kKindAudio) KeepSoundUntilKey(std::move(record));
            }
            if (record && !awaiting_key_ && !write_failed_.load()) WriteRecord(*record);
            if (write_failed_.load() || OutputWriteFailed()) {
                // The part is cut; writing on would only cut more of them.
                StopOnWriteFailure();
                break;
            }
            ReportProgress();
            if (sink_ && progress_.load() != reported) {
                reported = progress_.load();
                sink_->SetProgress(reported);
            }
            if (record && record->payload.capacity() <= kSparePayloadBytes) done.push_back(std::move(record));
            record.reset();
            if (SpaceCheckDue() && free_bytes_(output_folder_) < kMinFreeBytes) {
                space_ok_.store(0);
                reader_running_.store(0);
                writer_running_.store(0);
                WakeThreads();
                EndProgressDialog();
                break;
            }
        }
    }
    mu_law_scratch_.clear();
    mu_law_scratch_.shrink_to_fit();
}

void LocalExport::OpenFirstPart() {
    part_video_codec_ = video_codec_.load();
    part_width_ = video_width_.load();
    part_height_ = video_height_.load();
    if (audio_seen_.load()) {
        part_audio_codec_ = audio_codec_.load();
        part_audio_bits_ = audio_bits_.load();
        part_audio_channels_ = audio_channels_.load();
        part_audio_rate_ = audio_rate_.load();
    } else {
        part_audio_codec_ = kNoAudioCodec;
        part_audio_bits_ = kNoAudioBits;
        part_audio_channels_ = kNoAudioChannels;
        part_audio_rate_ = kNoAudioRate;
    }
    OpenPart();
}

void LocalExport::OpenPart() {
    if (IsVideoCodec(part_video_codec_)) {
        const std::string path = MakeOutputPath();
        if (!OpenOutput(path, part_video_codec_ - diskformat::kCodecMjpeg + 1, part_width_, part_height_,
                        part_audio_codec_, part_audio_bits_, part_audio_channels_, part_audio_rate_)) {
            // The part's records would be lost without a word.
            output_.AddPart(path, 0, false);
            write_failed_.store(1);
        }
    }
    AllocatePicture(part_width_, part_height_);
    if (sink_) sink_->SetCaption(output_.current_file_name());
}

void LocalExport::AllocatePicture(int width, int height) {
    picture_.clear();
    picture_width_ = picture_height_ = 0;
    // Only the decoding formats draw into it; a size from a damaged entry sizes nothing.
    if (format_ == kFormatOriginal || width <= 0 || height <= 0 || width > kMaxPictureSide ||
        height > kMaxPictureSide)
        return;
    picture_.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 3, 0);
    picture_width_ = width;
    picture_height_ = height;
}

void LocalExport::TrackRecord(const LocalExportRecord& record) {
    const MinuteFrameEntry& e = record.entry;
    if (e.kind == diskformat::kKindVideo) {
        tracker_.CheckVideoFormat(e.codec, e.width, e.height);
        part_video_codec_ = e.codec;
        part_width_ = e.width;
        part_height_ = e.height;
        current_time_ = MillisecondOfDay(record);
        tracker_.CheckTime(LowWord(e.time_stamp_full), HighWord(e.time_stamp_full));
    } else {
        tracker_.CheckAudioFormat(e.codec, e.bits, e.sample_rate, e.channels);
        const WrittenAudio written = WrittenAudioFormat(e, record.payload);
        part_audio_codec_ = e.codec;
        part_audio_bits_ = written.bits;
        part_audio_channels_ = written.channels;
        part_audio_rate_ = written.rate;
    }
}

void LocalExport::ChangePart(const LocalExportRecord& record) {
    change_video_ = tracker_.video_change != 0;
    change_audio_ = tracker_.audio_change != 0;
    if (format_ == kFormatOriginal && !IsKeyPicture(record)) {
        // The running part stays open for the sound of its own format until
        // the next key picture starts the new part.
        awaiting_key_ = true;
        held_sound_.clear();
        held_sound_bytes_ = 0;
        return;
    }
    FinishPartChange(record);
}

void LocalExport::KeepSoundUntilKey(std::unique_ptr<LocalExportRecord> record) {
    if (!change_audio_ && SoundFitsPart(*record)) {
        WriteAudio(*record);
        return;
    }
    // Sound of another format waits for the part that declares it; from the
    // first such record on all of it waits, so its order is kept.
    change_audio_ = true;
    if (held_sound_bytes_ + record->payload.size() > kMaxHeldSoundBytes) return;
    held_sound_bytes_ += record->payload.size();
    held_sound_.push_back(std::move(record));
}

bool LocalExport::SoundFitsPart(const LocalExportRecord& record) const {
    if (!output_open_) return false;
    const MinuteFrameEntry& e = record.entry;
    const WrittenAudio w = WrittenAudioFormat(e, record.payload);
    return w.bits == declared_bits_ && w.channels == declared_channels_ && w.rate == declared_rate_ &&
           IsMuLaw(e.codec) == declared_mu_law_;
}

void LocalExport::FinishPartChange(const LocalExportRecord& record) {
    awaiting_key_ = false;
    CloseOutput();
    watermark_state_ = WatermarkWriter{};
    if (change_video_) video_decoder_.Close();
    if (change_audio_) {
        audio_decoder_.Release();
        audio_state_ = 0;
    }
    change_video_ = change_audio_ = false;
    picture_.clear();
    tracker_.Reset();
    // A part that did not close whole ends the channel: nothing more is
    // written, and no later part is listed as if the export went on.
    if (write_failed_.load()) {
        held_sound_.clear();
        held_sound_bytes_ = 0;
        return;
    }
    if (format_ == kFormatOriginal) {
        // The key picture opens the part; the sound that waited for it comes first.
        TrackRecord(record);
    } else if (record.entry.kind == diskformat::kKindVideo) {
        // Only video stamps run the part's clock; an audio record's stamp would
        // make the next picture look like a jump.
        tracker_.CheckTime(LowWord(record.entry.time_stamp_full), HighWord(record.entry.time_stamp_full));
    }
    for (const auto& held : held_sound_) {
        if (held->entry.kind != diskformat::kKindAudio) continue;
        const WrittenAudio w = WrittenAudioFormat(held->entry, held->payload);
        part_audio_codec_ = held->entry.codec;
        part_audio_bits_ = w.bits;
        part_audio_channels_ = w.channels;
        part_audio_rate_ = w.rate;
        break;
    }
    OpenPart();
    for (const auto& held : held_sound_) {
        tracker_.CheckAudioFormat(held->entry.codec, held->entry.bits, held->entry.sample_rate, held->entry.channels);
        WriteAudio(*held);
    }
    held_sound_.clear();
    held_sound_bytes_ = 0;
}

void LocalExport::WriteRecord(const LocalExportRecord& record) {
    if (record.entry.kind == diskformat::kKindVideo)
        WriteVideo(record);
    else
        WriteAudio(record);
}

void LocalExport::WriteVideo(const LocalExportRecord& record) {
    const MinuteFrameEntry& e = record.entry;
    const uint8_t* data = record.payload.data();
    const size_t length = record.payload.size();
    if (format_ == kFormatOriginal) {
        if (avi_writer_.IsOpen() &&
            avi_writer_.WriteVideoFrame(data, static_cast<int>(length), e.time_stamp_full))
            ++part_frames_;
        return;
    }
    static constexpr int kDecoderIds[] = {kCodecIdMjpeg, kCodecIdMpeg4, kCodecIdH264};
    if (IsVideoCodec(e.codec)) decoder_index_ = e.codec - diskformat::kCodecMjpeg;
    if (!video_decoder_.IsOpen() && !video_decoder_.OpenVideo(kDecoderIds[decoder_index_], e.width, e.height)) return;
    if (picture_.empty()) return;
    size_t picture_size = 0;
    if (!video_decoder_.DecodeVideo(data, length, picture_.data(), picture_.size(), &picture_size)) return;
    const int width = video_decoder_.width();
    const int height = video_decoder_.height();
    uint8_t flip = 1;
    if (osd_) {
        char when[64];
        std::snprintf(when, sizeof when, "%d/%.2d/%.2d %.2d:%.2d:%.2d", source_.year, source_.month, source_.day,
                      record.hour, record.minute, record.second);
        DrawExportOsd(picture_.data(), width, height, ExportChannelTitle(record.title.data(), channel_), when);
        flip = 0;
    }
    if (format_ == kFormatMsVideo1) {
        if (recompress_writer_.IsOpen() &&
            recompress_writer_.WriteVideoFrame(picture_.data(), flip, LowWord(e.time_stamp_full), width, height))
            ++part_frames_;
    } else if (asf_writer_.WriteVideoFrame(picture_.data(), static_cast<int>(picture_size), width, height,
                                           LowWord(e.time_stamp_full), flip)) {
        ++part_frames_;
    }
}

void LocalExport::WriteAudio(const LocalExportRecord& record) {
    const MinuteFrameEntry& e = record.entry;
    const uint8_t* data = record.payload.data();
    const size_t length = record.payload.size();
    if (!part_sound_written_ && output_open_) {
        // A part opened before its first sound declared a guess: the header
        // is made to declare what is written, while no sound is in it yet.
        part_sound_written_ = true;
        if (!SoundFitsPart(record) && format_ != kFormatAsf) {
            const WrittenAudio w = WrittenAudioFormat(e, record.payload);
            const int mu_law = IsMuLaw(e.codec) ? 1 : 0;
            const bool redeclared = format_ == kFormatOriginal
                                        ? avi_writer_.RedeclareAudio(w.bits, w.channels, w.rate, mu_law)
                                        : recompress_writer_.RedeclareAudio(w.bits, w.channels, w.rate, mu_law);
            if (redeclared) {
                declared_bits_ = w.bits;
                declared_channels_ = w.channels;
                declared_rate_ = w.rate;
                declared_mu_law_ = mu_law != 0;
            }
        }
    }
    switch (e.codec) {
        case diskformat::kAudioAac:
        case diskformat::kAudioG726: {
            // Original frames open the AAC decoder with the fixed rate figure.
            SoundToPcmOptions options;
            options.aac_rate_from_header = format_ != kFormatOriginal;
            const uint8_t* pcm = nullptr;
            size_t bytes = 0;
            // Decoded audio goes in only as the part declared it.
            if (ConvertSoundToPcm(&audio_decoder_, &audio_state_, options,
                                  e.codec == diskformat::kAudioAac ? PcmSource::kAac : PcmSource::kG726, data, length,
                                  e.sample_rate, e.channels, &audio_scratch_, &pcm, &bytes) &&
                DecodedAsDeclared())
                WriteAudioSample(pcm, bytes);
            break;
        }
        case diskformat::kAudioG711A:
        case diskformat::kAudioG711B:
            if (format_ == kFormatAsf) {
                // The scratch buffer holds what one packet of 16 ms pieces ever needs; more is cut.
                mu_law_scratch_.resize(kMuLawScratchBytes);
                const int count = static_cast<int>(std::min(length, kMuLawScratchBytes / 2));
                int out_count = 0;
                if (MuLawToPcm16(mu_law_scratch_.data(), count, data, &out_count))
                    WriteAudioSample(mu_law_scratch_.data(), static_cast<size_t>(out_count));
            } else {
                WriteAudioSample(data, length);
            }
            break;
        case diskformat::kAudioPcm:
            WriteAudioSample(data, length);
            break;
        default:
            break;
    }
}

bool LocalExport::DecodedAsDeclared() const {
    return audio_decoder_.audio_sample_rate() == declared_rate_ && audio_decoder_.audio_channels() == declared_channels_;
}

void LocalExport::WriteAudioSample(const uint8_t* data, size_t length) {
    const int n = static_cast<int>(length);
    if (format_ == kFormatOriginal) {
        avi_writer_.WriteAudio(data, n);
    } else if (format_ == kFormatMsVideo1) {
        if (recompress_writer_.IsOpen()) recompress_writer_.WriteAudio(data, n);
    } else {
        asf_writer_.WriteAudio(data, n);
    }
}

void LocalExport::ReportProgress() {
    const int64_t span = static_cast<int64_t>(cue_out_) - cue_in_;
    int64_t percent = span > 0 ? ((current_time_ - first_time_) / 10) / span : 100;
    progress_.store(static_cast<int>(std::clamp<int64_t>(percent, 0, 100)));
}

void LocalExport::EndProgressDialog() {
    if (sink_) sink_->EndDialog();
}

std::string LocalExport::MakeOutputPath() { return output_.NextPartPath(format_ == kFormatAsf ? "asf" : "avi"); }

bool LocalExport::OpenOutput(const std::string& path, int video_code, int width, int height, int audio_codec,
                             int bits_per_sample, int channels, int sample_rate) {
    if (output_open_) return false;
    if (audio_codec < diskformat::kAudioAac || audio_codec > diskformat::kAudioPcm) return false;
    const int mu_law = IsMuLaw(audio_codec) ? 1 : 0;
    declared_rate_ = sample_rate;
    declared_channels_ = channels;
    declared_bits_ = bits_per_sample;
    declared_mu_law_ = mu_law != 0;
    part_sound_written_ = false;
    bool ok = false;
    if (format_ == kFormatOriginal)
        ok = avi_writer_.Open(path, width, height, kOriginalQuality, kAviFrameRate, bits_per_sample, channels,
                              sample_rate, mu_law, video_code);
    else if (format_ == kFormatMsVideo1)
        ok = recompress_writer_.Open(path, quality_, kAviFrameRate, bits_per_sample, channels, sample_rate, mu_law,
                                     width, height);
    else
        // G.711 reaches the ASF writer expanded to 16-bit PCM: twice its bits.
        ok = asf_writer_.Open(path, width, height, sample_rate, channels, mu_law ? 2 * bits_per_sample : bits_per_sample) != 0;
    output_open_ = ok ? 1 : 0;
    part_frames_ = 0;
    last_space_check_ = 0;
    return ok;
}

void LocalExport::CloseOutput() {
    if (output_open_ != 1) return;
    bool whole = true;
    if (format_ == kFormatOriginal) {
        whole = avi_writer_.Close();
    } else if (format_ == kFormatMsVideo1) {
        whole = recompress_writer_.Close();
    } else {
        whole = asf_writer_.Close();
    }
    if (!output_.FinishPart(output_.current_path(), whole, watermark_.load() != 0, part_frames_))
        write_failed_.store(1);
    output_open_ = 0;
}

void LocalExport::DeleteLastPart() {
    namespace fs = std::filesystem;
    const std::string& name = output_.current_file_name();
    if (name.empty() || name.find('/') != std::string::npos) return;
    std::error_code ec;
    const fs::path folder(output_folder_);
    const fs::path file = folder / name;
    // Only our own regular file: never a link's target, never anything outside the folder.
    if (!fs::is_regular_file(fs::symlink_status(file, ec))) return;
    const fs::path real_folder = fs::weakly_canonical(folder, ec);
    if (ec || fs::weakly_canonical(file.parent_path(), ec) != real_folder || ec) return;
    if (!fs::remove(file, ec)) return;
    output_.ForgetPart(output_.current_path());
}
