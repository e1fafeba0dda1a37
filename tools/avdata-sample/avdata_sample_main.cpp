// avdata-sample FOLDER [--date YYYY-MM-DD] [--start HH:MM] [--minutes N] [--seconds N] [--manifest FILE]
// Writes a disk copy (FOLDER/avdata) of N minutes on four channels with real
// coded video and audio, channel titles, a day index, and gaps. The manifest
// lists every frame written, "HH:MM" then the fields avdata-dump prints.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <zlib.h>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "media/civil_date.h"
#include "media/disk_format.h"
#include "tools/common/avdata_writer.h"
#include "tools/common/sample_media.h"

namespace {

struct ChannelPlan {
    sample::SampleVideoCodec video;
    uint8_t video_byte;
    int width, height, fps;
    sample::SampleAudioCodec audio;
    uint8_t audio_byte;
    const char16_t* title;
};

const ChannelPlan kPlans[4] = {
    {sample::SampleVideoCodec::H264, diskformat::kCodecH264, 704, 576, 20, sample::SampleAudioCodec::Aac,
     diskformat::kAudioAac, u"Entrance"},
    {sample::SampleVideoCodec::Mpeg4, diskformat::kCodecMpeg4, 352, 288, 15, sample::SampleAudioCodec::MuLaw,
     diskformat::kAudioG711A, u"Lobby"},
    {sample::SampleVideoCodec::Mjpeg, diskformat::kCodecMjpeg, 352, 288, 15, sample::SampleAudioCodec::G726,
     diskformat::kAudioG726, u"Car Park"},
    {sample::SampleVideoCodec::H264, diskformat::kCodecH264, 352, 288, 25, sample::SampleAudioCodec::Pcm16,
     diskformat::kAudioPcm, u"Store Room"},
};

// Seconds 40-44 of every minute hold nothing; channel 3 pauses in seconds 10-19.
bool SecondRecorded(int s) { return s < 40 || s > 44; }
bool ChannelRecorded(int c, int s) { return SecondRecorded(s) && !(c == 2 && s >= 10 && s < 20); }
// The second minute of the range is missing when the range is long enough to show it.
bool MinuteRecorded(int index, int minutes) { return !(minutes >= 3 && index == 1); }

struct Channel {
    std::unique_ptr<sample::SampleVideoEncoder> video;
    std::unique_ptr<sample::SampleAudioEncoder> audio;
    int frame_index = 0;
    int64_t audio_clock_ms = 0;  // play time of the audio encoded so far, from the range start
    sample::EncodedPacket pending_audio;
    int pending_duration = 0;
    bool has_pending = false;
};

int Usage() {
    std::fprintf(stderr,
                 "usage: avdata-sample FOLDER [--date YYYY-MM-DD] [--start HH:MM] [--minutes N] [--seconds N]"
                 " [--manifest FILE]\n");
    return 2;
}

std::string StampText(int channel, CivilDate d, int second_of_day) {
    char text[64];
    std::snprintf(text, sizeof text, "CH%d %04d-%02d-%02d %02d:%02d:%02d", channel, d.year, d.month, d.day,
                  second_of_day / 3600, second_of_day / 60 % 60, second_of_day % 60);
    return text;
}

void WriteManifest(std::ostream& out, int minute_of_day, const sample::SampleMinute& minute) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%02d:%02d", minute_of_day / 60, minute_of_day % 60);
    for (int s = 0; s < 60; ++s) {
        for (int c = 0; c < 4; ++c) {
            if (!minute.seconds[s].channels[c]) continue;
            for (const sample::SampleFrame& f : minute.seconds[s].channels[c]->frames) {
                const bool video = f.kind == diskformat::kKindVideo;
                char crc[16];
                std::snprintf(crc, sizeof crc, "%08lx",
                              crc32(crc32(0, nullptr, 0), f.data.data(), static_cast<uInt>(f.data.size())));
                out << prefix << '\t' << s << '\t' << (c + 1) << '\t' << (video ? "video" : "audio") << '\t'
                    << (video ? VideoCodecFromDisk(f.codec) : AudioKindFromDisk(f.codec)) << '\t' << int(f.key)
                    << '\t' << f.time_stamp_ms << '\t' << f.width << '\t' << f.height << '\t' << f.data.size()
                    << '\t' << crc << '\t' << Utf16ToUtf8(minute.titles[c]) << '\n';
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    av_log_set_level(AV_LOG_ERROR);
    std::string folder = argv[1];
    // An option where the folder belongs (--help among them) is no folder to write.
    if (folder.rfind("-", 0) == 0) return Usage();
    CivilDate date = TodayLocalDate();
    int start_hour = 10, start_minute = 0, minutes = 3;
    // Recorded seconds at the start of each minute: fewer make a quicker sample.
    int seconds = 60;
    std::string manifest_path;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return Usage();
        const char* value = argv[++i];
        if (arg == "--date") {
            if (std::sscanf(value, "%d-%d-%d", &date.year, &date.month, &date.day) != 3 || date.month < 1 ||
                date.month > 12 || date.day < 1 || date.day > 31 || date.year < 1970 || date.year > 9999)
                return Usage();
        } else if (arg == "--start") {
            if (std::sscanf(value, "%d:%d", &start_hour, &start_minute) != 2 || start_hour < 0 || start_hour > 23 ||
                start_minute < 0 || start_minute > 59)
                return Usage();
        } else if (arg == "--minutes") {
            minutes = std::atoi(value);
            if (minutes < 1 || minutes > 24 * 60) return Usage();
        } else if (arg == "--seconds") {
            seconds = std::atoi(value);
            if (seconds < 1 || seconds > 60) return Usage();
        } else if (arg == "--manifest") {
            manifest_path = value;
        } else {
            return Usage();
        }
    }
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const std::string data = folder + "/avdata";
    const int first_minute = start_hour * 60 + start_minute;
    if (first_minute + minutes > 24 * 60) minutes = 24 * 60 - first_minute;

    std::ofstream manifest;
    if (!manifest_path.empty()) {
        manifest.open(manifest_path, std::ios::trunc);
        if (!manifest) {
            std::fprintf(stderr, "avdata-sample: cannot write %s\n", manifest_path.c_str());
            return 1;
        }
    }
    std::string error;
    Channel channels[4];
    for (int c = 0; c < 4; ++c) {
        const ChannelPlan& p = kPlans[c];
        channels[c].video = sample::SampleVideoEncoder::Create(p.video, p.width, p.height, p.fps, p.fps * 2, c + 1, &error);
        channels[c].audio = sample::SampleAudioEncoder::Create(p.audio, &error);
        if (!channels[c].video || !channels[c].audio) {
            std::fprintf(stderr, "avdata-sample: %s\n", error.c_str());
            return 1;
        }
    }

    const int64_t day_ms = DaysFromCivil(date.year, date.month, date.day) * 86400000LL;
    sample::SampleDay day_index{date.year, date.month, date.day, {}, {}, {}};
    for (int m = 0; m < minutes; ++m) {
        if (!MinuteRecorded(m, minutes)) continue;
        const int minute_of_day = first_minute + m;
        sample::SampleMinute minute;
        for (int c = 0; c < 4; ++c) minute.titles[c] = kPlans[c].title;
        for (int s = 0; s < seconds; ++s) {
            const int second_of_day = minute_of_day * 60 + s;
            const int64_t second_ms = day_ms + second_of_day * 1000LL;
            for (int c = 0; c < 4; ++c) {
                if (!ChannelRecorded(c, s)) continue;
                const ChannelPlan& p = kPlans[c];
                Channel& ch = channels[c];
                sample::SampleChannelSecond block;
                for (int f = 0; f < p.fps; ++f) {
                    sample::EncodedPacket packet;
                    if (!ch.video->Encode(ch.frame_index++, StampText(c + 1, date, second_of_day), &packet)) {
                        std::fprintf(stderr, "avdata-sample: video encoding failed\n");
                        return 1;
                    }
                    sample::SampleFrame frame;
                    frame.kind = diskformat::kKindVideo;
                    frame.codec = p.video_byte;
                    frame.key = packet.key ? 1 : 0;
                    frame.time_stamp_ms = second_ms + f * 1000 / p.fps;
                    frame.width = p.width;
                    frame.height = p.height;
                    frame.data = std::move(packet.data);
                    block.frames.push_back(std::move(frame));
                }
                // Audio packets starting within this second, joined where they are raw
                // samples so a second never needs more than the block's 60 slots.
                const int64_t second_end = (second_of_day + 1 - first_minute * 60) * 1000LL;
                const bool raw = p.audio != sample::SampleAudioCodec::Aac;
                std::vector<sample::SampleFrame> audio;
                ch.audio_clock_ms = std::max<int64_t>(ch.audio_clock_ms, second_end - 1000);
                while (ch.audio_clock_ms < second_end) {
                    sample::EncodedPacket packet;
                    int duration = 0;
                    if (!ch.audio->EncodeNext(&packet, &duration) || duration <= 0) {
                        std::fprintf(stderr, "avdata-sample: audio encoding failed\n");
                        return 1;
                    }
                    const int64_t at = ch.audio_clock_ms;
                    ch.audio_clock_ms += duration;
                    if (raw && !audio.empty() && at - (audio.back().time_stamp_ms - day_ms - first_minute * 60000LL) < 100) {
                        audio.back().data.insert(audio.back().data.end(), packet.data.begin(), packet.data.end());
                        continue;
                    }
                    sample::SampleFrame frame;
                    frame.kind = diskformat::kKindAudio;
                    frame.codec = p.audio_byte;
                    frame.key = 1;
                    frame.time_stamp_ms = day_ms + first_minute * 60000LL + at;
                    frame.bits = ch.audio->bits_per_sample();
                    frame.sample_rate = ch.audio->sample_rate();
                    frame.channels = ch.audio->channels();
                    frame.data = std::move(packet.data);
                    audio.push_back(std::move(frame));
                }
                // Video and audio interleaved by time, as the recorder stores them.
                std::vector<sample::SampleFrame> merged;
                size_t vi = 0, ai = 0;
                while (vi < block.frames.size() || ai < audio.size()) {
                    const bool take_audio = ai < audio.size() &&
                                            (vi >= block.frames.size() ||
                                             audio[ai].time_stamp_ms < block.frames[vi].time_stamp_ms);
                    merged.push_back(std::move(take_audio ? audio[ai++] : block.frames[vi++]));
                }
                if (merged.size() > static_cast<size_t>(diskformat::kFrameSlots)) merged.resize(diskformat::kFrameSlots);
                block.frames = std::move(merged);
                minute.seconds[s].channels[c] = std::move(block);
            }
        }
        if (!sample::WriteMinuteFile(data, date.year, date.month, date.day, minute_of_day / 60, minute_of_day % 60,
                                     minute, &error)) {
            std::fprintf(stderr, "avdata-sample: %s\n", error.c_str());
            return 1;
        }
        if (manifest) WriteManifest(manifest, minute_of_day, minute);
        const int base = minute_of_day * 60;
        static const char kTypes[] = {'1', '2', '3'};
        day_index.entries.push_back({base, base + std::min(seconds, 40) - 1, sample::MaskChar(0xF), kTypes[m % 3]});
        if (seconds > 45) day_index.entries.push_back({base + 45, base + seconds - 1, sample::MaskChar(0xF), '1'});
    }
    if (!sample::WriteDayIndex(data, day_index, &error)) {
        std::fprintf(stderr, "avdata-sample: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", data.c_str());
    return 0;
}
