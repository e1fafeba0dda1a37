#include "media/media_decoder.h"

#include <climits>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace {

AVCodecID VideoCodec(int codec_id) {
    switch (codec_id) {
    case kCodecIdMjpeg: return AV_CODEC_ID_MJPEG;
    case kCodecIdMpeg4: return AV_CODEC_ID_MPEG4;
    case kCodecIdH264: return AV_CODEC_ID_H264;
    default: return AV_CODEC_ID_NONE;
    }
}

AVCodecID AudioCodec(int codec_id) {
    switch (codec_id) {
    case kCodecIdAac: return AV_CODEC_ID_AAC;
    // The recorder's nibble order is swapped by the audio path before decoding,
    // which leaves the first sample in the high nibble: FFmpeg's plain variant.
    case kCodecIdG726: return AV_CODEC_ID_ADPCM_G726;
    default: return AV_CODEC_ID_NONE;
    }
}

// The JPEG-range formats are deprecated in swscale: convert them as their
// plain twins with the full range set on the converter instead.
AVPixelFormat PlainFormat(AVPixelFormat format, bool* full_range) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: *full_range = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: *full_range = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: *full_range = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: *full_range = true; return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: *full_range = true; return AV_PIX_FMT_YUV411P;
    default: return format;
    }
}

}  // namespace

MediaDecoder::MediaDecoder() = default;

MediaDecoder::~MediaDecoder() { Release(); }

int MediaDecoder::Close() {
    avcodec_free_context(&context_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    scaler_key_ = {};
    swr_free(&resampler_);
    resampler_format_ = -1;
    resampler_rate_ = 0;
    resampler_channels_ = 0;
    width_ = 0;
    height_ = 0;
    picture_size_ = 0;
    refused_width_ = 0;
    refused_height_ = 0;
    audio_rate_ = 0;
    audio_channels_ = 0;
    return 1;
}

int MediaDecoder::Release() {
    Close();
    av_freep(&audio_output_);
    return 1;
}

int MediaDecoder::OpenVideo(int codec_id, int width, int height) {
    Close();
    const AVCodecID id = VideoCodec(codec_id);
    if (id == AV_CODEC_ID_NONE) return 0;
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide) return 0;
    if (av_image_check_size(static_cast<unsigned>(width), static_cast<unsigned>(height), 0, nullptr) < 0)
        return 0;
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec) return 0;
    context_ = avcodec_alloc_context3(codec);
    if (!context_) return 0;
    context_->pix_fmt = AV_PIX_FMT_YUV420P;
    context_->width = width;
    context_->height = height;
    // One packet in, its picture out: frame threads would hold pictures back.
    context_->thread_count = 1;
    // A damaged header inside the stream must not size a huge frame either.
    context_->max_pixels = static_cast<int64_t>(kMaxPictureSide) * kMaxPictureSide;
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!frame_ || !packet_ || avcodec_open2(context_, codec, nullptr) < 0) {
        Close();
        return 0;
    }
    const int size = av_image_get_buffer_size(AV_PIX_FMT_BGR24, width, height, 1);
    if (size <= 0) {
        Close();
        return 0;
    }
    width_ = width;
    height_ = height;
    picture_size_ = static_cast<size_t>(size);
    return 1;
}

bool MediaDecoder::SendPacket(const uint8_t* data, size_t length) {
    if (length > static_cast<size_t>(INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE)) return false;
    // Reused, so only a larger packet than any before reallocates.
    if (input_.size() < length + AV_INPUT_BUFFER_PADDING_SIZE)
        input_.resize(length + AV_INPUT_BUFFER_PADDING_SIZE);
    std::memcpy(input_.data(), data, length);
    std::memset(input_.data() + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    packet_->data = input_.data();
    packet_->size = static_cast<int>(length);
    int result = avcodec_send_packet(context_, packet_);
    if (result == AVERROR(EAGAIN)) {
        // Output is drained after every packet, so this is only a decoder that
        // held pictures back; they are stale by now.
        while (avcodec_receive_frame(context_, frame_) == 0) av_frame_unref(frame_);
        result = avcodec_send_packet(context_, packet_);
    }
    packet_->data = nullptr;
    packet_->size = 0;
    return result >= 0;
}

int MediaDecoder::DecodeVideo(const uint8_t* data, size_t length, uint8_t* out, size_t out_capacity,
                              size_t* picture_size) {
    if (!out) return 0;
    // Too small a buffer still has the packet decoded, only not converted.
    return DecodeVideo(data, length, out_capacity >= picture_size_ ? out : nullptr,
                       static_cast<ptrdiff_t>(width_) * 3, picture_size);
}

int MediaDecoder::DecodeVideo(const uint8_t* data, size_t length, uint8_t* top_row, ptrdiff_t row_stride,
                              size_t* picture_size) {
    if (!data || length == 0 || !context_ || width_ == 0) return 0;
    if (!SendPacket(data, length)) return 0;
    int produced = 0;
    while (avcodec_receive_frame(context_, frame_) == 0) {
        if (frame_->width != width_ || frame_->height != height_) {
            refused_width_ = frame_->width;
            refused_height_ = frame_->height;
            produced = 0;
        } else if (top_row && ConvertPicture(frame_, top_row, row_stride)) {
            produced = 1;
        } else {
            produced = 0;
        }
        av_frame_unref(frame_);
    }
    if (produced && picture_size) *picture_size = picture_size_;
    return produced;
}

bool MediaDecoder::ConvertPicture(const AVFrame* frame, uint8_t* top_row, ptrdiff_t row_stride) {
    bool full_range = frame->color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat format = PlainFormat(static_cast<AVPixelFormat>(frame->format), &full_range);
    const ScalerKey key{format, full_range, frame->width, frame->height};
    if (!scaler_ || !(key == scaler_key_)) {
        sws_freeContext(scaler_);
        scaler_ = sws_getContext(frame->width, frame->height, format, frame->width, frame->height,
                                 AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!scaler_) {
            scaler_key_ = {};
            return false;
        }
        if (full_range) {
            const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
            sws_setColorspaceDetails(scaler_, coefficients, 1, coefficients, 1, 0, 1 << 16, 1 << 16);
        }
        scaler_key_ = key;
    }
    uint8_t* planes[4] = {top_row, nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(row_stride), 0, 0, 0};
    return sws_scale(scaler_, frame->data, frame->linesize, 0, frame->height, planes, strides) ==
           frame->height;
}

int MediaDecoder::OpenAudio(int bit_rate, int sample_rate, int channels, int codec_id) {
    Release();
    const AVCodecID id = AudioCodec(codec_id);
    if (id == AV_CODEC_ID_NONE) return 0;
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec) return 0;
    context_ = avcodec_alloc_context3(codec);
    if (!context_) return 0;
    context_->sample_rate = sample_rate > 0 ? sample_rate : 0;
    context_->bit_rate = bit_rate > 0 ? bit_rate : 0;
    // A rate of 0 from a damaged record would divide by zero.
    context_->bits_per_coded_sample = sample_rate > 0 && bit_rate > 0 ? bit_rate / sample_rate : 0;
    if (channels > 0 && channels <= 8) av_channel_layout_default(&context_->ch_layout, channels);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!frame_ || !packet_ || avcodec_open2(context_, codec, nullptr) < 0) {
        Close();
        return 0;
    }
    audio_output_ = static_cast<uint8_t*>(av_mallocz(kAudioOutputBytes));
    if (!audio_output_) {
        Release();
        return 0;
    }
    return 1;
}

int MediaDecoder::DecodeAudio(const uint8_t* data, size_t length, size_t* out_bytes) {
    return DecodeAudio(data, length, audio_output_, audio_output_ ? kAudioOutputBytes : 0, out_bytes);
}

int MediaDecoder::DecodeAudio(const uint8_t* data, size_t length, uint8_t* out, size_t out_capacity,
                              size_t* out_bytes) {
    if (out_bytes) *out_bytes = 0;
    if (!data || length == 0 || !out || !context_ || context_->codec_type != AVMEDIA_TYPE_AUDIO) return 0;
    if (!SendPacket(data, length)) return 0;
    size_t written = 0;
    while (avcodec_receive_frame(context_, frame_) == 0) {
        written += ConvertAudio(frame_, out + written, out_capacity - written);
        av_frame_unref(frame_);
    }
    if (out_bytes) *out_bytes = written;
    return 1;
}

size_t MediaDecoder::ConvertAudio(const AVFrame* frame, uint8_t* out, size_t out_capacity) {
    const int channels = frame->ch_layout.nb_channels;
    if (channels <= 0 || frame->nb_samples <= 0 || frame->sample_rate <= 0) return 0;
    const size_t frame_bytes = 2 * static_cast<size_t>(channels);
    const size_t room = out_capacity / frame_bytes;
    // Only what fits is handed in, so nothing lingers in the resampler to
    // surface in front of the next packet.
    const int samples = room < static_cast<size_t>(frame->nb_samples) ? static_cast<int>(room)
                                                                      : frame->nb_samples;
    audio_rate_ = frame->sample_rate;
    audio_channels_ = channels;
    if (samples == 0) return 0;
    if (frame->format == AV_SAMPLE_FMT_S16) {
        std::memcpy(out, frame->data[0], static_cast<size_t>(samples) * frame_bytes);
        return static_cast<size_t>(samples) * frame_bytes;
    }
    if (!resampler_ || resampler_format_ != frame->format || resampler_rate_ != frame->sample_rate ||
        resampler_channels_ != channels) {
        swr_free(&resampler_);
        // FFmpeg 5.1 takes the layouts as non-const.
        AVChannelLayout layout{};
        const bool made = av_channel_layout_copy(&layout, &frame->ch_layout) == 0 &&
                          swr_alloc_set_opts2(&resampler_, &layout, AV_SAMPLE_FMT_S16, frame->sample_rate,
                                              &layout, static_cast<AVSampleFormat>(frame->format),
                                              frame->sample_rate, 0, nullptr) == 0 &&
                          swr_init(resampler_) == 0;
        av_channel_layout_uninit(&layout);
        if (!made) {
            swr_free(&resampler_);
            resampler_format_ = -1;
            return 0;
        }
        resampler_format_ = frame->format;
        resampler_rate_ = frame->sample_rate;
        resampler_channels_ = channels;
    }
    uint8_t* planes[1] = {out};
    const int converted = swr_convert(resampler_, planes, samples,
                                      const_cast<const uint8_t**>(frame->extended_data), samples);
    return converted > 0 ? static_cast<size_t>(converted) * frame_bytes : 0;
}

int AacAdtsSampleRate(const uint8_t* p, size_t length) {
    if (!p || length < 3) return -1;
    if (p[0] != 0xFF || p[1] < 0xF0 || (p[1] & 6) != 0) return -1;
    switch ((p[2] >> 2) & 15) {
    case 0: return 96000;
    case 2: return 64000;
    case 3: return 48000;
    case 5: return 32000;
    case 8: return 16000;
    case 11: return 8000;
    default: return -1;
    }
}
