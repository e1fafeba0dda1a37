#include "media/local_record_reader.h"

#include <cstdio>
#include <cstdlib>

#include "media/minute_file.h"
#include "platform/data_file.h"

namespace {

std::string DateText(int y, int m, int d) {
    char text[32];
    std::snprintf(text, sizeof text, "%d/%.2d/%.2d", y, m, d);
    return text;
}

std::string ClockText(int second_of_day) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d", second_of_day / 3600, second_of_day / 60 % 60,
                  second_of_day % 60);
    return text;
}

// How far back a jump looks for the key picture its target decodes from.
constexpr int kPrerollSeconds = 10;

// Video entry i of a block as the worker takes it; null when it is not one or
// its data does not come whole.
std::unique_ptr<FrameRecord> ReadVideoRecord(const MinuteFile& file, const ChannelSecondBlock& block,
                                             int64_t block_pos, int i, int fps, int speed, const RecordSource& src,
                                             int second_of_day) {
    const MinuteFrameEntry entry = block.Entry(i);
    if (entry.kind != diskformat::kKindVideo || entry.length == 0 || !file.EntryReadable(entry, block_pos))
        return nullptr;
    const int32_t codec = VideoCodecFromDisk(entry.codec);
    if (codec < 0) return nullptr;
    auto record = std::make_unique<FrameRecord>();
    if (!file.ReadFrameData(entry, block_pos, &record->payload)) return nullptr;
    record->has_text = 0;
    record->fps = fps;
    record->width = entry.width;
    record->height = entry.height;
    record->speed = speed;
    record->codec = codec;
    record->key = entry.key;
    record->time_stamp = entry.time_stamp;
    record->kind = FrameRecord::kKindPicture;
    record->year = src.year;
    record->month = src.month;
    record->day = src.day;
    record->hour = second_of_day / 3600;
    record->minute = second_of_day / 60 % 60;
    record->second = second_of_day % 60;
    return record;
}

int VideoCount(const ChannelSecondBlock& block) {
    int count = 0;
    for (int i = 0; i < block.UsedCount(); ++i) count += block.Entry(i).kind == diskformat::kKindVideo;
    return count;
}

int32_t SecondTarget(int speed, bool first_second) {
    if (speed == 1) return first_second ? 600 : 997;
    if (speed >= 2 && speed <= 4) return 1000 / speed;
    if (speed >= 8 && speed <= 32) return 333;
    return std::abs(speed) * 1000;
}

}  // namespace

LocalRecordReader::LocalRecordReader(const Outputs& outputs)
    : clock_(outputs.clock),
      decode_(*outputs.decode),
      viewers_(outputs.viewers),
      panel_(outputs.panel),
      window_(outputs.window),
      sound_(outputs.sound) {}

LocalRecordReader::~LocalRecordReader() {
    clock_->running = 0;
    Join();
}

void LocalRecordReader::Start(const RecordSource& source, int scale) {
    const int serial = ++serial_;
    done_ = false;
    share_calls_.Reset();
    thread_ = std::thread([this, source, scale, serial] {
        const platform::ScopedShareCallAbort bound(&share_calls_);
        Run(source, scale, serial);
        done_ = true;
        clock_->Wake();
    });
}

void LocalRecordReader::Join() {
    // Every wait of the reader re-checks running when woken, so the join is short.
    share_calls_.Abort();
    clock_->Wake();
    if (thread_.joinable()) thread_.join();
}

void LocalRecordReader::StopFromReader(int serial) {
    clock_->play_state = PlaybackClock::kStopped;
    clock_->running = 0;
    window_->PostMessage(WM_STOP_REQUESTED, serial, 0);
}

void LocalRecordReader::QueuePreroll(const RecordSource& src, int target, const MinuteFile& target_file) {
    const int speed = panel_->GetSpeed();
    MinuteFile earlier;
    int earlier_minute = -1;
    for (int c = 0; c < 4; ++c) {
        CDecodeProcess& worker = decode_[static_cast<size_t>(c)];
        if (!(src.channel_mask >> c & 1) || worker.run != 1 || worker.enabled != 1) continue;
        // Nothing to bring the decoder up to when the target's first picture is a key one.
        if (target_file.IsOpen() && target_file.Second(target % 60).ChannelPresent(c)) {
            ChannelSecondBlock block;
            int64_t pos = 0;
            if (!target_file.ReadBlock(target % 60, c, &block, &pos)) continue;
            bool first_is_key = false;
            for (int i = 0; i < block.UsedCount(); ++i) {
                const MinuteFrameEntry entry = block.Entry(i);
                if (entry.kind != diskformat::kKindVideo) continue;
                first_is_key = entry.key == 1;
                break;
            }
            if (first_is_key) continue;
        }
        // The latest key picture of the seconds before the target, then every picture after it.
        std::vector<std::unique_ptr<FrameRecord>> pictures;
        bool found = false;
        for (int t = target - 1; t >= target - kPrerollSeconds && t >= 0 && !found; --t) {
            const MinuteFile* file = &target_file;
            if (t / 60 != target / 60) {
                if (earlier_minute != t / 60) {
                    earlier.Close();
                    earlier.Open(src.path, src.year, src.month, src.day, t / 3600, t / 60 % 60);
                    earlier_minute = t / 60;
                }
                file = &earlier;
            }
            if (!file->IsOpen() || !file->Second(t % 60).ChannelPresent(c)) continue;
            ChannelSecondBlock block;
            int64_t pos = 0;
            if (!file->ReadBlock(t % 60, c, &block, &pos)) continue;
            const int fps = VideoCount(block);
            std::vector<std::unique_ptr<FrameRecord>> second;
            for (int i = block.UsedCount() - 1; i >= 0; --i) {
                auto record = ReadVideoRecord(*file, block, pos, i, fps, speed, src, t);
                if (!record) continue;
                const bool key = record->key == 1;
                second.push_back(std::move(record));
                if (key) {
                    found = true;
                    break;
                }
            }
            for (auto& record : second) pictures.push_back(std::move(record));
        }
        if (!found) continue;
        // Collected newest first.
        for (auto it = pictures.rbegin(); it != pictures.rend(); ++it) worker.PushFrame(std::move(*it));
    }
}

void LocalRecordReader::Run(const RecordSource& src, int scale, int serial) {
    int current = src.start_second;
    bool channel_on[4];
    for (int c = 0; c < 4; ++c) channel_on[c] = (src.channel_mask >> c & 1) != 0;
    sound_->ForgetFormat();
    int step_counter = 0;
    int32_t last_stamp[4] = {0, 0, 0, 0};
    Clock::time_point second_mark = Clock::now();
    MinuteFile file;
    // The start, a seek and a jump decode from the key picture at or before the new time.
    bool preroll = true;
    FlushAll(current);

    while (clock_->running) {
        if (clock_->play_state == PlaybackClock::kStopped) {
            clock_->running = 0;
            break;
        }
        if (clock_->slider_busy == 1) {
            ReaderWait(Clock::now() + std::chrono::milliseconds(30), [this] { return clock_->slider_busy != 1 || !clock_->running; });
            continue;
        }
        if (clock_->position_valid == 0) {
            clock_->position_valid = 1;
            panel_->SetSpeed(1);
            current = src.start_second + clock_->slider_position * scale;
            FlushAll(current);
            preroll = true;
        }
        bool first_second = true;
        bool file_open = false;
        if (channel_on[0] || channel_on[1] || channel_on[2] || channel_on[3]) {
            if (!platform::IsFolder(src.path)) {
                StopFromReader(serial);
                break;
            }
            file_open = file.Open(src.path, src.year, src.month, src.day, current / 3600, current / 60 % 60);
        }
        if (current > src.end_second || current < src.start_second) {
            panel_->SetDateText(DateText(src.year, src.month, src.day));
            panel_->SetTimeText(ClockText(src.start_second));
            StopFromReader(serial);
            break;
        }
        if (preroll) {
            preroll = false;
            // At 4x and above only key pictures are queued anyway.
            if (panel_->GetSpeed() < 4) QueuePreroll(src, current, file);
        }

        for (int s = current % 60; s < 60;) {
            const int speed = panel_->GetSpeed();
            SetWorkersSpeed(speed);

            const SecondIndexEntry second = file_open ? file.Second(s) : SecondIndexEntry{};
            bool takes_part[4] = {};
            bool any = false;
            for (int c = 0; c < 4; ++c) {
                takes_part[c] = channel_on[c] && file_open && second.ChannelPresent(c);
                any = any || takes_part[c];
            }
            if (!any) {
                ++current;
                if (current > src.end_second || current < src.start_second) break;
                FlushAll();
                ClearViewersShowingPicture();
                ++s;
                continue;
            }

            ChannelSecondBlock blocks[4];
            int64_t block_pos[4] = {};
            int video_count[4] = {};
            bool folder_gone = false;
            for (int c = 0; c < 4; ++c) {
                if (!takes_part[c]) continue;
                if (!file.ReadBlock(s, c, &blocks[c], &block_pos[c])) {
                    takes_part[c] = false;
                    if (!platform::IsFolder(src.path)) folder_gone = true;
                    continue;
                }
                if (clock_->play_state == PlaybackClock::kPlaying && viewers_[static_cast<size_t>(c)])
                    viewers_[static_cast<size_t>(c)]->SetCameraName(Utf16ToUtf8(blocks[c].Title(c)));
                const int used = blocks[c].UsedCount();
                for (int i = 0; i < used; ++i) video_count[c] += blocks[c].Entry(i).kind == diskformat::kKindVideo;
            }
            if (folder_gone) {
                StopFromReader(serial);
                break;
            }
            if (speed == 1) {
                for (int c = 0; c < 4; ++c) {
                    if (video_count[c] > 0) continue;
                    decode_[static_cast<size_t>(c)].RequestFlush();
                    ViewerSink* v = viewers_[static_cast<size_t>(c)];
                    if (v && v->HasVideo()) v->ClearVideo();
                }
            }
            panel_->SetDateText(DateText(src.year, src.month, src.day));
            panel_->SetTimeText(ClockText(current));

            const int audio_channel = SelectedChannel();
            for (int i = 0; i < diskformat::kFrameSlots; ++i) {
                bool took_video = false;
                for (int c = 0; c < 4 && !folder_gone; ++c) {
                    CDecodeProcess& worker = decode_[static_cast<size_t>(c)];
                    if (!takes_part[c] || worker.enabled != 1 || blocks[c].UsedCount() <= i) continue;
                    const MinuteFrameEntry entry = blocks[c].Entry(i);
                    if (entry.length == 0 || !file.EntryReadable(entry, block_pos[c])) continue;
                    if (entry.kind == diskformat::kKindVideo) {
                        if (speed >= 4) {
                            if (entry.key != 1) continue;
                            if (entry.codec == diskformat::kCodecMjpeg &&
                                std::llabs(static_cast<long long>(entry.time_stamp) - last_stamp[c]) <= 900)
                                continue;
                        }
                        if (VideoCodecFromDisk(entry.codec) < 0) continue;
                        if (!platform::IsFolder(src.path)) {
                            folder_gone = true;
                            break;
                        }
                        auto record = ReadVideoRecord(file, blocks[c], block_pos[c], i, video_count[c], speed, src,
                                                      current);
                        if (!record) continue;
                        last_stamp[c] = entry.time_stamp;
                        took_video = true;
                        if (worker.run) worker.PushFrame(std::move(record));
                    } else if (entry.kind == diskformat::kKindAudio) {
                        if (speed != 1 || c != audio_channel) continue;
                        const int32_t kind = AudioKindFromDisk(entry.codec);
                        if (kind < 0) continue;
                        if (!platform::IsFolder(src.path)) {
                            folder_gone = true;
                            break;
                        }
                        auto record = std::make_unique<AudioRecord>();
                        if (!file.ReadFrameData(entry, block_pos[c], &record->payload)) continue;
                        record->kind = kind;
                        record->sample_rate = entry.sample_rate;
                        record->bits = entry.bits;
                        record->channels = entry.channels;
                        sound_->Dispatch(std::move(record));
                    }
                }
                if (folder_gone) break;
                // The pass wait follows the speed as it is now, so a change
                // from a slow speed takes effect within the pass.
                if (took_video) {
                    const Clock::time_point pass_start = Clock::now();
                    for (int now_speed = panel_->GetSpeed(); now_speed <= 1 && ReaderMayWait();
                         now_speed = panel_->GetSpeed()) {
                        const Clock::time_point end = pass_start + std::chrono::milliseconds(6 * std::abs(now_speed));
                        if (Clock::now() >= end) break;
                        ReaderWait(end, [&] { return panel_->GetSpeed() != now_speed || !ReaderMayWait(); });
                    }
                }
                if (clock_->play_state == PlaybackClock::kPaused && clock_->running && clock_->step == 1 && !clock_->reposition_request) {
                    for (ViewerSink* v : viewers_)
                        if (v) v->RequestRepaint();
                    ReaderWait(Clock::time_point::max(), [this] {
                        return clock_->play_state != PlaybackClock::kPaused || !clock_->running || clock_->step != 1 || clock_->reposition_request;
                    });
                    if (clock_->play_state == PlaybackClock::kStopped) {
                        clock_->slider_position = 0;
                        window_->PostMessage(WM_POSITION_CHANGED, 0, 0);
                    }
                }
                if (clock_->step != 1 || clock_->play_state == PlaybackClock::kStopped || clock_->reposition_request || !clock_->running) break;
            }
            if (folder_gone) {
                StopFromReader(serial);
                break;
            }

            if (clock_->step == 1) {
                // Measured from the end of the last second's wait, at the speed
                // as it is now: a new speed re-times the second at once.
                for (int now_speed = panel_->GetSpeed(); ReaderMayWait(); now_speed = panel_->GetSpeed()) {
                    const Clock::time_point end =
                        second_mark + std::chrono::milliseconds(SecondTarget(now_speed, first_second));
                    if (Clock::now() >= end) break;
                    ReaderWait(end, [&] { return panel_->GetSpeed() != now_speed || !ReaderMayWait(); });
                }
                second_mark = Clock::now();
            }
            if (clock_->play_state == PlaybackClock::kStopped || clock_->reposition_request || !clock_->running) {
                clock_->reposition_request = 0;
                break;
            }
            const int jump = clock_->step;
            if (jump == 1) {
                if (speed >= 8 && speed <= 32 && step_counter == 0) {
                    current += speed;
                    s += speed;
                } else {
                    ++current;
                    ++s;
                }
                if (speed >= 8 && speed <= 32) step_counter = (step_counter + 1) % 3;
            } else {
                // The jump is taken here, where it is applied: one asked for while
                // this second was read is never dropped, and a newer one stays.
                int taken = jump;
                clock_->step.compare_exchange_strong(taken, 1);
                if (clock_->play_state == PlaybackClock::kPaused) {
                    clock_->ShowPlaying(panel_);
                    window_->PostMessage(WM_PLAY_REQUESTED, 0, 0);
                }
                current += jump > 1 ? jump : -std::abs(jump);
                FlushAll(current);
                preroll = true;
            }
            if (current > src.end_second) break;
            clock_->slider_position = (current - src.start_second) / scale;
            if (clock_->running) window_->PostMessage(WM_POSITION_CHANGED, 0, 0);
            if (jump != 1) break;
            first_second = false;
        }
        file.Close();
    }
    clock_->play_state = PlaybackClock::kStopped;
    panel_->SetStatusText("STOP");
    panel_->SetSpeed(1);
}
