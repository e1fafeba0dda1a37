#include "export/avi_recompress_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>

namespace {

int RoundUpTo4(int v) { return (v + 3) & ~3; }

}  // namespace

AviRecompressWriter::~AviRecompressWriter() {
    Reset();
    sws_freeContext(scaler_);
}

bool AviRecompressWriter::OpenEncoder() {
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (frame_ == nullptr || packet_ == nullptr || !OpenCodec()) return false;
    frame_->format = AV_PIX_FMT_RGB555LE;
    frame_->width = coded_width_;
    frame_->height = coded_height_;
    if (av_frame_get_buffer(frame_, 0) < 0) return false;

    // A picture held for a gap changes no block: the frame that says so is
    // the same every time, so it is built once instead of coded again.
    const int64_t blocks = static_cast<int64_t>(coded_width_ / 4) * (coded_height_ / 4);
    skip_frame_.clear();
    for (int64_t left = blocks; left > 0;) {
        const int n = static_cast<int>(std::min<int64_t>(left, kMaxSkipRun));
        skip_frame_.push_back(static_cast<uint8_t>(n & 0xFF));
        skip_frame_.push_back(static_cast<uint8_t>(0x84 | (n >> 8)));
        left -= n;
    }
    return true;
}

// The coder makes a key frame of the first frame after it is opened and,
// with this interval, never again by itself; key frames are placed here.
bool AviRecompressWriter::OpenCodec() {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MSVIDEO1);
    if (codec == nullptr) return false;
    encoder_ = avcodec_alloc_context3(codec);
    if (encoder_ == nullptr) return false;
    encoder_->width = coded_width_;
    encoder_->height = coded_height_;
    encoder_->pix_fmt = AV_PIX_FMT_RGB555LE;
    encoder_->time_base = AVRational{1, frame_rate_};
    encoder_->keyint_min = 1 << 30;
    return avcodec_open2(encoder_, codec, nullptr) >= 0;
}

void AviRecompressWriter::CloseEncoder() {
    avcodec_free_context(&encoder_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
}

bool AviRecompressWriter::Open(const std::string& path, int quality, int frame_rate, int bits_per_sample,
                               int channels, int sample_rate, int mu_law, int width, int height) {
    if (open_ || file_.IsOpen()) Close();
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide || frame_rate <= 0)
        return false;
    width_ = width;
    height_ = height;
    coded_width_ = RoundUpTo4(width);
    coded_height_ = RoundUpTo4(height);
    quality_ = std::clamp(quality, 0, 100);
    frame_rate_ = frame_rate;
    first_stamp_ = 0;
    video_count_ = audio_count_ = 0;
    write_failed_ = false;

    AviStreamSpec audio;
    if (!MakeAudioStreamSpec(bits_per_sample, channels, sample_rate, mu_law, &audio)) return false;
    if (!OpenEncoder()) {
        CloseEncoder();
        return false;
    }
    const uint32_t picture_bytes = static_cast<uint32_t>(coded_width_) * static_cast<uint32_t>(coded_height_);
    AviStreamSpec video;
    std::memcpy(video.type, "vids", 4);
    std::memcpy(video.handler, "MSVC", 4);
    video.scale = 1;
    video.rate = static_cast<uint32_t>(frame_rate);
    video.suggested_buffer_size = picture_bytes * 3;
    video.quality = static_cast<uint32_t>(quality_) * 100;
    video.sample_size = 0;
    video.frame_right = static_cast<int16_t>(coded_width_);
    video.frame_bottom = static_cast<int16_t>(coded_height_);
    video.name = "Video Stream";
    video.format = MakeBitmapInfoHeader(coded_width_, coded_height_, 16, "MSVC", picture_bytes * 2);

    if (!file_.Create(path, coded_width_, coded_height_, static_cast<uint32_t>(1000000 / frame_rate), video,
                      audio)) {
        CloseEncoder();
        return false;
    }
    open_ = 1;
    return true;
}

// Fills the coder's top-row-first RGB 5-5-5 frame, repeating the last column
// and row into the padding.
bool AviRecompressWriter::FillFrame(const uint8_t* picture, bool top_first, int width, int height) {
    if (width != width_ || height != height_) {
        scaler_ = sws_getCachedContext(scaler_, width, height, AV_PIX_FMT_BGR24, width_, height_, AV_PIX_FMT_BGR24,
                                       SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (scaler_ == nullptr) return false;
        scaled_.resize(static_cast<size_t>(width_) * height_ * 3);
        const uint8_t* src[4] = {picture, nullptr, nullptr, nullptr};
        const int src_stride[4] = {width * 3, 0, 0, 0};
        uint8_t* dst[4] = {scaled_.data(), nullptr, nullptr, nullptr};
        const int dst_stride[4] = {width_ * 3, 0, 0, 0};
        if (sws_scale(scaler_, src, src_stride, 0, height, dst, dst_stride) != height_) return false;
        picture = scaled_.data();
    }
    if (av_frame_make_writable(frame_) < 0) return false;
    const size_t row_bytes = static_cast<size_t>(width_) * 3;
    for (int y = 0; y < coded_height_; ++y) {
        const int from_top = std::min(y, height_ - 1);
        const int row = top_first ? from_top : height_ - 1 - from_top;
        const uint8_t* src = picture + static_cast<size_t>(row) * row_bytes;
        uint8_t* dst = frame_->data[0] + static_cast<ptrdiff_t>(y) * frame_->linesize[0];
        for (int x = 0; x < coded_width_; ++x) {
            const uint8_t* p = src + static_cast<size_t>(std::min(x, width_ - 1)) * 3;
            const uint16_t v = static_cast<uint16_t>(((p[2] >> 3) << 10) | ((p[1] >> 3) << 5) | (p[0] >> 3));
            dst[2 * x] = static_cast<uint8_t>(v);
            dst[2 * x + 1] = static_cast<uint8_t>(v >> 8);
        }
    }
    return true;
}

bool AviRecompressWriter::EncodeAndWrite(bool repeat) {
    const bool key = video_count_ % kKeyFrameInterval == 0;
    if (repeat && !key) {
        if (!file_.WriteChunk(AviRiffFile::kVideoStream, skip_frame_.data(), skip_frame_.size())) return false;
        ++video_count_;
        return true;
    }
    if (key && video_count_ > 0) {
        avcodec_free_context(&encoder_);
        if (!OpenCodec()) return false;
    }
    frame_->pts = video_count_;
    if (avcodec_send_frame(encoder_, frame_) < 0) return false;
    int written = 0;
    while (avcodec_receive_packet(encoder_, packet_) >= 0) {
        const bool ok = written == 0 && file_.WriteChunk(AviRiffFile::kVideoStream, packet_->data,
                                                         static_cast<size_t>(packet_->size));
        av_packet_unref(packet_);
        if (!ok) return false;
        ++written;
    }
    if (written != 1) return false;
    ++video_count_;
    return true;
}

bool AviRecompressWriter::WriteVideoFrame(const uint8_t* picture, uint8_t flip, int32_t stamp, int width,
                                          int height) {
    if (!open_ || picture == nullptr || width <= 0 || height <= 0 || width > kMaxPictureSide ||
        height > kMaxPictureSide)
        return false;
    const int64_t n = video_count_;
    if (n <= 0) first_stamp_ = stamp;
    // A flipped picture is top row first; otherwise it already is in the
    // bottom-up row order of the file's input format.
    if (!FillFrame(picture, flip != 0, width, height) || !EncodeAndWrite(false)) {
        write_failed_ = true;
        return false;
    }
    const int64_t repeats = std::min(AviGridSlot(stamp, first_stamp_) - (n + 1) - 1, kMaxRepeats);
    for (int64_t i = 0; i < repeats; ++i) {
        if (!EncodeAndWrite(true)) {
            write_failed_ = true;
            return false;
        }
    }
    return true;
}

bool AviRecompressWriter::RedeclareAudio(int bits_per_sample, int channels, int sample_rate, int mu_law) {
    AviStreamSpec audio;
    if (!open_ || !MakeAudioStreamSpec(bits_per_sample, channels, sample_rate, mu_law, &audio)) return false;
    return file_.RedeclareAudio(audio);
}

void AviRecompressWriter::WriteAudio(const uint8_t* data, int length) {
    if (!open_ || data == nullptr || length < 0) return;
    // Decoded or as recorded, the stream takes whole samples: the broken tail
    // of a damaged entry would make players refuse the chunk.
    const uint32_t sample = file_.sample_size(AviRiffFile::kAudioStream);
    if (sample > 1 && static_cast<uint32_t>(length) % sample != 0) {
        length -= static_cast<int>(static_cast<uint32_t>(length) % sample);
        if (length == 0) return;
    }
    if (file_.WriteChunk(AviRiffFile::kAudioStream, data, static_cast<size_t>(length)))
        ++audio_count_;
    else
        write_failed_ = true;
}

bool AviRecompressWriter::Close() {
    const bool was_open = open_ != 0;
    open_ = 0;
    video_count_ = audio_count_ = 0;
    const bool finished = file_.IsOpen() ? file_.Finish() : !was_open;
    const bool ok = was_open && finished && !write_failed_;
    write_failed_ = false;
    CloseEncoder();
    return ok;
}

void AviRecompressWriter::Reset() { Close(); }
