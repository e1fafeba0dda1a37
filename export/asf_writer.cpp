#include "export/asf_writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/lazy_library.h"

namespace {

// Loaded when the first ASF part opens: the container library drags in the
// network and disc libraries of every protocol it knows.
platform::LazyLibrary g_avformat_library("libavformat.so." + std::to_string(LIBAVFORMAT_VERSION_MAJOR));
#define AVFORMAT_CALL(function) PLATFORM_LAZY(g_avformat_library, function)

constexpr AVRational kMs{1, 1000};
// The encoder's nominal frame time; the packets carry the pictures' own stamps.
constexpr AVRational kFrameTime{AsfWriter::kFrameTimeMs, 1000};
// Audio goes out in buffers of this many milliseconds.
constexpr int kAudioBufferMs = 250;

// The encoder works on even sizes only.
int RoundUpToEven(int v) { return (v + 1) & ~1; }

}  // namespace

AsfWriter::~AsfWriter() {
    Close();
    sws_freeContext(scaler_);
}

bool AsfWriter::OpenAudio() {
    audio_stream_ = AVFORMAT_CALL(avformat_new_stream)(format_, nullptr);
    if (audio_stream_ == nullptr) return false;
    AVCodecParameters* par = audio_stream_->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = bits_per_sample_ == 8 ? AV_CODEC_ID_PCM_U8 : AV_CODEC_ID_PCM_S16LE;
    par->sample_rate = sample_rate_;
    av_channel_layout_default(&par->ch_layout, channels_);
    par->bits_per_coded_sample = bits_per_sample_;
    par->block_align = block_align_;
    par->bit_rate = static_cast<int64_t>(sample_rate_) * block_align_ * 8;
    audio_stream_->time_base = kMs;
    return true;
}

bool AsfWriter::OpenVideo() {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMV2);
    if (codec == nullptr) return false;
    encoder_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (encoder_ == nullptr || frame_ == nullptr || packet_ == nullptr) return false;
    encoder_->width = RoundUpToEven(width_);
    encoder_->height = RoundUpToEven(height_);
    encoder_->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder_->time_base = kFrameTime;
    encoder_->framerate = AVRational{kFrameTime.den, kFrameTime.num};
    encoder_->bit_rate = kVideoBitRate;
    if (format_->oformat->flags & AVFMT_GLOBALHEADER) encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(encoder_, codec, nullptr) < 0) return false;
    frame_->format = encoder_->pix_fmt;
    frame_->width = encoder_->width;
    frame_->height = encoder_->height;
    if (av_frame_get_buffer(frame_, 0) < 0) return false;

    video_stream_ = AVFORMAT_CALL(avformat_new_stream)(format_, nullptr);
    if (video_stream_ == nullptr || avcodec_parameters_from_context(video_stream_->codecpar, encoder_) < 0)
        return false;
    video_stream_->time_base = kMs;
    video_stream_->avg_frame_rate = encoder_->framerate;
    return true;
}

int AsfWriter::Open(const std::string& path, int width, int height, int sample_rate, int channels,
                    int bits_per_sample) {
    if (IsOpen()) Close();
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide) return 0;
    if ((bits_per_sample != 8 && bits_per_sample != 16) || channels < 1 || channels > 8 || sample_rate <= 0 ||
        sample_rate > 192000)
        return 0;
    width_ = width;
    height_ = height;
    sample_rate_ = sample_rate;
    channels_ = channels;
    bits_per_sample_ = bits_per_sample;
    block_align_ = channels * bits_per_sample / 8;
    first_video_ = true;
    first_stamp_ = 0;
    last_video_ms_ = -1;
    video_count_ = 0;
    audio_bytes_ = 0;
    audio_sent_bytes_ = 0;
    audio_pending_.clear();
    write_failed_ = false;

    if (AVFORMAT_CALL(avformat_alloc_output_context2)(&format_, nullptr, "asf", path.c_str()) < 0 || format_ == nullptr) {
        Release();
        return 0;
    }
    // Audio first, so the video is the file's stream 2.
    if (!OpenAudio() || !OpenVideo() || AVFORMAT_CALL(avio_open)(&format_->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) {
        Release();
        return 0;
    }
    if (AVFORMAT_CALL(avformat_write_header)(format_, nullptr) < 0) {
        Release();
        std::remove(path.c_str());
        return 0;
    }
    return 1;
}

bool AsfWriter::DrainEncoder() {
    while (avcodec_receive_packet(encoder_, packet_) >= 0) {
        // One picture in, one packet out: the packet takes the stamp of its picture.
        packet_->pts = packet_->dts = pending_stamps_.empty() ? last_video_ms_ : pending_stamps_.front();
        if (!pending_stamps_.empty()) pending_stamps_.pop_front();
        packet_->duration = kFrameTimeMs;
        packet_->stream_index = video_stream_->index;
        av_packet_rescale_ts(packet_, kMs, video_stream_->time_base);
        if (AVFORMAT_CALL(av_interleaved_write_frame)(format_, packet_) < 0) write_failed_ = true;
        av_packet_unref(packet_);
    }
    return !write_failed_;
}

bool AsfWriter::WriteVideoFrame(const uint8_t* picture, int size, int width, int height, int32_t stamp,
                                uint8_t flip) {
    if (!IsOpen() || picture == nullptr || width <= 0 || height <= 0 || width > kMaxPictureSide ||
        height > kMaxPictureSide || static_cast<int64_t>(size) < static_cast<int64_t>(width) * height * 3)
        return false;
    if (first_video_) {
        first_video_ = false;
        first_stamp_ = stamp;
    }
    // Stamps must rise; a picture stamped at or before the last one follows it by a millisecond.
    int64_t ms = static_cast<int64_t>(stamp) - first_stamp_;
    if (ms <= last_video_ms_) ms = last_video_ms_ + 1;
    last_video_ms_ = ms;

    scaler_ = sws_getCachedContext(scaler_, width, height, AV_PIX_FMT_BGR24, encoder_->width, encoder_->height,
                                   AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (scaler_ == nullptr || av_frame_make_writable(frame_) < 0) {
        write_failed_ = true;
        return false;
    }
    const int row = width * 3;
    // Flip set: top row first; else the rows are walked from the last one up.
    const uint8_t* src[4] = {flip ? picture : picture + static_cast<ptrdiff_t>(height - 1) * row, nullptr, nullptr,
                             nullptr};
    const int src_stride[4] = {flip ? row : -row, 0, 0, 0};
    sws_scale(scaler_, src, src_stride, 0, height, frame_->data, frame_->linesize);
    frame_->pts = video_count_;
    pending_stamps_.push_back(ms);
    if (avcodec_send_frame(encoder_, frame_) < 0) {
        pending_stamps_.pop_back();
        write_failed_ = true;
        return false;
    }
    ++video_count_;
    return DrainEncoder();
}

void AsfWriter::WriteAudio(const uint8_t* data, int length) {
    if (!IsOpen() || data == nullptr || length <= 0) return;
    audio_pending_.insert(audio_pending_.end(), data, data + length);
    audio_bytes_ += length;
    const size_t buffer_bytes =
        std::max<size_t>(static_cast<size_t>(sample_rate_) * kAudioBufferMs / 1000, 1) * block_align_;
    while (audio_pending_.size() >= buffer_bytes) SendAudio(buffer_bytes);
}

void AsfWriter::SendAudio(size_t bytes) {
    bytes -= bytes % static_cast<size_t>(block_align_);
    if (bytes == 0) {
        audio_pending_.clear();
        return;
    }
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr || av_new_packet(packet, static_cast<int>(bytes)) < 0) {
        av_packet_free(&packet);
        write_failed_ = true;
        return;
    }
    std::copy(audio_pending_.begin(), audio_pending_.begin() + static_cast<ptrdiff_t>(bytes), packet->data);
    audio_pending_.erase(audio_pending_.begin(), audio_pending_.begin() + static_cast<ptrdiff_t>(bytes));
    // The time of a buffer is that of the samples before it.
    const int64_t samples_before = audio_sent_bytes_ / block_align_;
    const int64_t samples = static_cast<int64_t>(bytes) / block_align_;
    audio_sent_bytes_ += static_cast<int64_t>(bytes);
    packet->pts = packet->dts = av_rescale(samples_before, 1000, sample_rate_);
    packet->duration = av_rescale(samples, 1000, sample_rate_);
    packet->stream_index = audio_stream_->index;
    packet->flags |= AV_PKT_FLAG_KEY;
    av_packet_rescale_ts(packet, kMs, audio_stream_->time_base);
    if (AVFORMAT_CALL(av_interleaved_write_frame)(format_, packet) < 0) write_failed_ = true;
    av_packet_free(&packet);
}

bool AsfWriter::Close() {
    if (!IsOpen()) return false;
    if (!audio_pending_.empty()) SendAudio(audio_pending_.size());
    if (avcodec_send_frame(encoder_, nullptr) >= 0) DrainEncoder();
    bool ok = !write_failed_;
    if (AVFORMAT_CALL(av_write_trailer)(format_) < 0) ok = false;
    if (AVFORMAT_CALL(avio_closep)(&format_->pb) < 0) ok = false;
    Release();
    return ok;
}

void AsfWriter::Release() {
    // Without a context the container library need not be loaded at all.
    if (format_ != nullptr) {
        if (format_->pb != nullptr) AVFORMAT_CALL(avio_closep)(&format_->pb);
        AVFORMAT_CALL(avformat_free_context)(format_);
    }
    format_ = nullptr;
    video_stream_ = audio_stream_ = nullptr;
    avcodec_free_context(&encoder_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    pending_stamps_.clear();
    audio_pending_.clear();
}
