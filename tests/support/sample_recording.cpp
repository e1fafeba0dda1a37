#include "tests/support/sample_recording.h"

#include <map>

extern "C" {
#include <libavutil/log.h>
}

#include "media/disk_format.h"
#include "tools/common/avdata_writer.h"
#include "tools/common/sample_media.h"

std::vector<int16_t> SmallRecordingPcm(int i) {
    // A ramp that differs per second, so a test can tell which seconds were heard.
    std::vector<int16_t> pcm(4000);
    for (size_t k = 0; k < pcm.size(); ++k) pcm[k] = static_cast<int16_t>(1000 * (i + 1) + static_cast<int>(k % 500));
    return pcm;
}

std::string WriteSmallRecording(const std::string& folder, const SmallRecording& recording) {
    std::string error;
    av_log_set_level(AV_LOG_ERROR);
    auto mjpeg = sample::SampleVideoEncoder::Create(sample::SampleVideoCodec::Mjpeg, 176, 144, recording.fps, 1, 1, &error);
    auto h264 = sample::SampleVideoEncoder::Create(sample::SampleVideoCodec::H264, 176, 144, recording.fps,
                                                   recording.h264_key_interval, 2, &error);
    if (!mjpeg || !h264) return "";
    const std::string data = folder + "/avdata";
    const int64_t day_ms = DaysFromCivil(recording.date.year, recording.date.month, recording.date.day) * 86400000LL;
    std::map<int, sample::SampleMinute> minutes;
    int frame = 0;
    for (int i = 0; i < recording.seconds; ++i) {
        const int second_of_day = recording.start_second + i;
        if (recording.missing_seconds.count(i)) {
            frame += recording.fps;
            continue;
        }
        sample::SampleMinute& minute = minutes[second_of_day / 60];
        minute.titles = {u"Front", u"Back", u"", u""};
        sample::SampleChannelSecond ch1, ch2;
        for (int f = 0; f < recording.fps; ++f, ++frame) {
            for (int c = 0; c < 2; ++c) {
                sample::EncodedPacket packet;
                (c == 0 ? mjpeg : h264)->Encode(frame, "CH", &packet);
                sample::SampleFrame sf;
                sf.kind = diskformat::kKindVideo;
                sf.codec = c == 0 ? diskformat::kCodecMjpeg : diskformat::kCodecH264;
                sf.key = packet.key;
                sf.time_stamp_ms = day_ms + second_of_day * 1000LL + f * 1000 / recording.fps;
                sf.width = 176;
                sf.height = 144;
                sf.data = std::move(packet.data);
                (c == 0 ? ch1 : ch2).frames.push_back(std::move(sf));
            }
        }
        if (recording.pcm_audio) {
            sample::SampleFrame audio;
            audio.kind = diskformat::kKindAudio;
            audio.codec = diskformat::kAudioPcm;
            audio.bits = 16;
            audio.sample_rate = 8000;
            audio.channels = 1;
            for (int16_t v : SmallRecordingPcm(i)) {
                audio.data.push_back(static_cast<uint8_t>(v & 0xFF));
                audio.data.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
            }
            ch1.frames.insert(ch1.frames.begin(), std::move(audio));
        }
        minute.seconds[second_of_day % 60].channels[0] = std::move(ch1);
        minute.seconds[second_of_day % 60].channels[1] = std::move(ch2);
    }
    for (const auto& [minute_of_day, minute] : minutes) {
        if (!sample::WriteMinuteFile(data, recording.date.year, recording.date.month, recording.date.day, minute_of_day / 60,
                                     minute_of_day % 60, minute, &error))
            return "";
    }
    sample::SampleDay day{recording.date.year, recording.date.month, recording.date.day,
                          {{recording.start_second, recording.start_second + recording.seconds - 1, '3', '1'}}, {}, {}};
    if (!sample::WriteDayIndex(data, day, &error)) return "";
    return data;
}
