#include "export/avi_writer.h"

#include <algorithm>
#include <cstring>

namespace {

const char* HandlerOf(int codec) {
    switch (codec) {
        case AviWriter::kCodecMjpeg: return "MJPG";
        case AviWriter::kCodecDivx: return "DIVX";
        case AviWriter::kCodecH264: return "H264";
    }
    return nullptr;
}

}  // namespace

bool AviWriter::Open(const std::string& path, int width, int height, int quality, int frame_rate,
                     int bits_per_sample, int channels, int sample_rate, int mu_law, int codec) {
    const char* handler = HandlerOf(codec);
    if (handler == nullptr) return false;
    if (open_) Close();
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide || frame_rate <= 0)
        return false;
    width_ = width;
    height_ = height;
    quality_ = std::clamp(quality, 0, 100);
    frame_rate_ = frame_rate;
    path_ = path;
    video_count_ = audio_count_ = 0;
    first_stamp_ = -1;
    write_failed_ = false;

    AviStreamSpec audio;
    if (!MakeAudioStreamSpec(bits_per_sample, channels, sample_rate, mu_law, &audio)) return false;
    const uint32_t picture_bytes = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 3u;
    AviStreamSpec video;
    std::memcpy(video.type, "vids", 4);
    std::memcpy(video.handler, handler, 4);
    video.scale = 1;
    video.rate = static_cast<uint32_t>(frame_rate);
    video.suggested_buffer_size = picture_bytes;
    video.quality = static_cast<uint32_t>(quality_) * 100;
    video.sample_size = 0;
    video.frame_right = static_cast<int16_t>(width);
    video.frame_bottom = static_cast<int16_t>(height);
    video.name = "Video Stream";
    video.format = MakeBitmapInfoHeader(width, height, 24, handler, picture_bytes);

    if (!file_.Create(path, width, height, static_cast<uint32_t>(1000000 / frame_rate), video, audio))
        return false;
    open_ = 1;
    return true;
}

bool AviWriter::WriteVideoFrame(const uint8_t* data, int length, int64_t stamp) {
    if (!open_ || data == nullptr || length < 0) return false;
    const int64_t n = video_count_;
    if (n == 0) first_stamp_ = stamp;
    if (n > 0) {
        const int64_t gap = AviGridSlot(stamp, first_stamp_) - n;
        const int64_t empties = std::min(gap - 1, kMaxGapSamples);
        for (int64_t i = 0; i < empties; ++i) {
            if (!file_.WriteChunk(AviRiffFile::kVideoStream, nullptr, 0)) {
                write_failed_ = true;
                return false;
            }
            ++video_count_;
        }
    }
    if (!file_.WriteChunk(AviRiffFile::kVideoStream, data, static_cast<size_t>(length))) {
        write_failed_ = true;
        return false;
    }
    ++video_count_;
    return true;
}

bool AviWriter::RedeclareAudio(int bits_per_sample, int channels, int sample_rate, int mu_law) {
    AviStreamSpec audio;
    if (!open_ || !MakeAudioStreamSpec(bits_per_sample, channels, sample_rate, mu_law, &audio)) return false;
    return file_.RedeclareAudio(audio);
}

void AviWriter::WriteAudio(const uint8_t* data, int length) {
    if (!open_ || data == nullptr || length < 0) return;
    if (file_.WriteChunk(AviRiffFile::kAudioStream, data, static_cast<size_t>(length)))
        ++audio_count_;
    else
        write_failed_ = true;
}

bool AviWriter::Close() {
    const bool was_open = open_ != 0;
    open_ = 0;
    const bool finished = file_.IsOpen() ? file_.Finish() : !was_open;
    const bool ok = was_open && finished && !write_failed_;
    video_count_ = audio_count_ = 0;
    first_stamp_ = -1;
    write_failed_ = false;
    return ok;
}
