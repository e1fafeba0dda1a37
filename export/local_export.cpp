#include "export/local_export.h"

#include <algorithm>
#include <bitset>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>

#include "export/disk_free_bytes.h"
#include "export/export_osd.h"
#include "media/data_folder.h"
#include "media/minute_file.h"

namespace {

constexpr int kNoAudioCodec = diskformat::kAudioPcm;
constexpr int kNoAudioBits = 16;
constexpr int kNoAudioChannels = 1;
constexpr int kNoAudioRate = 8000;
// Original frames: the video header's quality is fixed, whatever the quality list says.
constexpr int kOriginalQuality = 100;
constexpr int kTitleOffset = 20;

int32_t HighWord(int64_t stamp) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(stamp) >> 32)); }

bool IsVideoCodec(int codec) {
    return codec == diskformat::kCodecMjpeg || codec == diskformat::kCodecMpeg4 || codec == diskformat::kCodecH264;
}

int64_t MillisecondOfDay(const LocalExportRecord& r) {
    return (static_cast<int64_t>(r.hour) * 3600 + r.minute * 60 + r.second) * 1000;
}

SoundCoding CodingOf(int codec) {
    switch (codec) {
        case diskformat::kAudioAac: return SoundCoding::kAac;
        case diskformat::kAudioG711A:
        case diskformat::kAudioG711B: return SoundCoding::kMuLaw;
        case diskformat::kAudioG726: return SoundCoding::kG726;
        case diskformat::kAudioPcm: return SoundCoding::kPcm;
        default: return SoundCoding::kNone;
    }
}

// The audio format a part declares for an entry: what is written, which for
// AAC and G.726 is the decoder's 16-bit PCM at the stream's own rate and
// channels (an ADTS header tells them for AAC).
PartSound WrittenAudioFormat(const MinuteFrameEntry& e, const std::vector<uint8_t>& payload) {
    return ExportOutput::WrittenSound(CodingOf(e.codec), e.bits, e.channels, e.sample_rate, payload.data(),
                                      payload.size(), true);
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

// The minutes of the source's day whose recording of the channel the day
// index lists. None when the index is missing or damaged.
std::bitset<LocalExport::kMinutesPerDay> MinutesListed(const RecordSource& source, int channel) {
    std::bitset<LocalExport::kMinutesPerDay> listed;
    DayIndexHeader header;
    if (!ReadRecordListHeader(source.path, source.year, source.month, source.day, &header)) return listed;
    const int32_t count = header.count();
    // A count the file cannot hold is damage, and sizes nothing.
    const int64_t size = platform::RegularFileSize(DayIndexPath(source.path, source.year, source.month, source.day));
    if (count <= 0 || diskformat::kDayIndexHeaderSize + int64_t{diskformat::kDayIndexEntrySize} * count > size)
        return listed;
    std::vector<DayIndexEntry> entries(static_cast<size_t>(count));
    const int n = ReadRecordList(source.path, source.year, source.month, source.day, entries.data(), count);
    constexpr int kLastSecond = 86399;
    for (int i = 0; i < n; ++i) {
        const DayIndexEntry& e = entries[static_cast<size_t>(i)];
        if ((e.ChannelMask() & (1 << channel)) == 0) continue;
        const int first = std::clamp(e.StartSecond(), 0, kLastSecond) / 60;
        const int last = std::clamp(e.EndSecond(), 0, kLastSecond) / 60;
        for (int m = first; m <= last; ++m) listed.set(static_cast<size_t>(m));
    }
    return listed;
}

}  // namespace

LocalExport::LocalExport() : free_bytes_(GetDiskFreeBytes) {
    ExportOutputOptions options;
    options.original_quality = kOriginalQuality;
    options.offers_asf = true;
    options.aac_format_from_adts = true;
    // G.726 comes out four times louder, as the recorder's own players give it.
    options.sound.amplify_g726 = true;
    options.original_aac_rate_fixed = true;
    options.part_opening = [this](const std::string& file_name) {
        if (sink_) sink_->SetCaption(file_name);
    };
    output_.SetOptions(std::move(options));
    output_.SetSoundDecodeAhead(&sound_ahead_);
}

LocalExport::~LocalExport() {
    StopThreads();
    queue_.Clear();
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

bool LocalExport::ReadFailure(const std::string& path, const MinuteFile& file, bool listed) {
    // A stop ends the share calls at once: what then fails is not lost.
    if (!reader_running_.load()) return false;
    bool lost = file.ReadFailed();
    if (!lost && !file.IsOpen()) {
        // A gap is only what the day index does not list, and a file that
        // is not there while the data folder is; a file that is there and
        // big enough to hold an index, yet does not open, is lost.
        lost = listed || (platform::PathExists(path)
                              ? platform::RegularFileSize(path) >= static_cast<int64_t>(diskformat::kMinuteIndexSize)
                              : !platform::IsFolder(source_.path));
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
    const ExportFormat output_format = format == kFormatOriginal ? ExportFormat::kOriginal
                                       : format == kFormatAsf   ? ExportFormat::kAsf
                                                                : ExportFormat::kMsVideo1;
    output_.BeginChannel(output_folder_, MakeBaseName(channel_, now), output_format, quality);
    format_ = format;
    osd_ = osd ? 1 : 0;
    sink_ = sink;
    progress_.store(0);
    video_seen_.store(0);
    audio_seen_.store(0);
    if (!reader_.joinable() && !writer_.joinable()) sound_ahead_.Start(output_.SoundOptions());
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
    StopThreads();
    queue_.Clear();
    spare_records_.clear();
    output_.EndChannel();
    if (output_.failed()) write_failed_.store(1);
    if (result != 1) DeleteLastPart();
    sink_ = nullptr;
}

void LocalExport::StopThreads() {
    writer_running_.store(0);
    reader_running_.store(0);
    reader_share_calls_.Abort();
    WakeThreads();
    sound_ahead_.RequestStop();
    if (reader_.joinable()) reader_.join();
    if (writer_.joinable()) writer_.join();
    sound_ahead_.Stop();
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
    // The batch's AAC and G.726 sound, for the decoding ahead: it gets them
    // before the writer can see their records.
    std::vector<SoundDecodeAhead::Sound> sounds;
    int64_t sound_number = 0;
    const auto send = [this, &batch, &sounds] {
        sound_ahead_.Add(sounds);
        queue_.PushAll(batch);
    };
    // The bound counts what waits in the queue and what is about to join it.
    // Only this thread adds to the queue, so the count seen at the start of
    // the second is an upper bound until the next push: no lock per entry.
    size_t queued = 0;
    const auto room_for = [this, &batch, &queued, &send](size_t limit) {
        if (queued + batch.size() < limit) return reader_running_.load() != 0;
        send();
        const bool on = WaitForQueueSpace(limit);
        queued = queue_.GetCount();
        return on;
    };
    bool failed = false;
    const std::bitset<kMinutesPerDay> listed = MinutesListed(source_, c);
    for (int m = start_minute; m <= last_minute && reader_running_.load() && !failed; m += 60) {
        const bool last = m == last_minute;
        const std::string path =
            MinuteFilePath(source_.path, source_.year, source_.month, source_.day, m / 3600, (m % 3600) / 60);
        if (!file.OpenPath(path)) {
            const bool listed_minute = m >= 0 && m / 60 < kMinutesPerDay && listed.test(static_cast<size_t>(m / 60));
            failed = ReadFailure(path, file, listed_minute);
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
                    const PartSound written = WrittenAudioFormat(entry, record->payload);
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
                if (entry.kind == diskformat::kKindAudio &&
                    (entry.codec == diskformat::kAudioAac || entry.codec == diskformat::kAudioG726)) {
                    record->sound_number = sound_number++;
                    SoundDecodeAhead::Sound& sound = sounds.emplace_back();
                    sound.source = entry.codec == diskformat::kAudioAac ? PcmSource::kAac : PcmSource::kG726;
                    sound.sample_rate = entry.sample_rate;
                    sound.channels = entry.channels;
                    sound.data = record->payload;
                } else {
                    record->sound_number = -1;
                }
                batch.push_back(std::move(record));
            }
            send();
            if (file.ReadFailed()) break;
        }
        // What was read of a file that then failed is written; the rest is lost, and told.
        failed = ReadFailure(path, file, false);
        file.Close();
        if (range_ended) break;
    }
    // A stop leaves the batch unsent; the writer takes the cleared flag as the end of the records.
    batch.clear();
    sounds.clear();
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
        (e.codec == output_.video_codec() && e.width == output_.width() && e.height == output_.height()))
        return false;
    static constexpr int kDecoderIds[] = {kCodecIdMjpeg, kCodecIdMpeg4, kCodecIdH264};
    MediaDecoder probe;
    if (!probe.OpenVideo(kDecoderIds[e.codec - diskformat::kCodecMjpeg], e.width, e.height)) return true;
    probe_picture_.resize(static_cast<size_t>(e.width) * static_cast<size_t>(e.height) * 3);
    size_t size = 0;
    return !probe.DecodeVideo(record.payload.data(), record.payload.size(), probe_picture_.data(),
                              probe_picture_.size(), &size);
}

void LocalExport::ExportWriterThread() {
    first_time_ = current_time_ = 0;
    bool first_record = true;
    int reported = -1;
    if (writer_running_.load() && WaitForFirstRecords()) {
        OpenFirstPart();
        // Everything queued is taken at once: one hand-over per batch of the reader.
        std::deque<std::unique_ptr<LocalExportRecord>> taken;
        std::vector<std::unique_ptr<LocalExportRecord>> done;
        std::string osd_first;
        std::string osd_second;
        while (writer_running_.load()) {
            if (output_.failed()) {
                // The part is cut; writing on would only cut more of them.
                StopOnWriteFailure();
                break;
            }
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
                    output_.EndOfRange();
                    if (output_.failed()) {
                        StopOnWriteFailure();
                        break;
                    }
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
            const MinuteFrameEntry& e = record->entry;
            ExportRecord out;
            out.data = record->payload.data();
            out.length = record->payload.size();
            out.codec = e.codec;
            if (e.kind == diskformat::kKindVideo) {
                current_time_ = MillisecondOfDay(*record);
                out.video = true;
                out.decoder = e.codec - diskformat::kCodecMjpeg;
                out.width = e.width;
                out.height = e.height;
                out.key = e.key == 1;
                out.stamp = e.time_stamp_full;
                out.stamp_high = HighWord(e.time_stamp_full);
                if (osd_ && format_ != kFormatOriginal) {
                    char when[64];
                    std::snprintf(when, sizeof when, "%d/%.2d/%.2d %.2d:%.2d:%.2d", source_.year, source_.month,
                                  source_.day, record->hour, record->minute, record->second);
                    osd_first = ExportChannelTitle(record->title.data(), channel_);
                    osd_second = when;
                    out.osd_first = &osd_first;
                    out.osd_second = &osd_second;
                }
            } else {
                out.coding = CodingOf(e.codec);
                out.bits = e.bits;
                out.rate = e.sample_rate;
                out.channels = e.channels;
                out.sound_number = record->sound_number;
            }
            output_.Feed(out);
            if (output_.failed()) {
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
            if (output_.SpaceCheckDue() && free_bytes_(output_folder_) < kMinFreeBytes) {
                space_ok_.store(0);
                reader_running_.store(0);
                writer_running_.store(0);
                WakeThreads();
                EndProgressDialog();
                break;
            }
        }
    }
}

void LocalExport::OpenFirstPart() {
    const int codec = video_codec_.load();
    PartSound sound;
    int audio_codec = kNoAudioCodec;
    if (audio_seen_.load()) {
        audio_codec = audio_codec_.load();
        sound.bits = audio_bits_.load();
        sound.channels = audio_channels_.load();
        sound.rate = audio_rate_.load();
    } else {
        sound.bits = kNoAudioBits;
        sound.channels = kNoAudioChannels;
        sound.rate = kNoAudioRate;
    }
    const SoundCoding coding = CodingOf(audio_codec);
    sound.mu_law = coding == SoundCoding::kMuLaw;
    output_.OpenFirstPart(codec, IsVideoCodec(codec) ? codec - diskformat::kCodecMjpeg : -1, video_width_.load(),
                          video_height_.load(), coding, sound);
}

void LocalExport::ReportProgress() {
    const int64_t span = static_cast<int64_t>(cue_out_) - cue_in_;
    int64_t percent = span > 0 ? ((current_time_ - first_time_) / 10) / span : 100;
    progress_.store(static_cast<int>(std::clamp<int64_t>(percent, 0, 100)));
}

void LocalExport::EndProgressDialog() {
    if (sink_) sink_->EndDialog();
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
