#pragma once
// The reference of the decoding benchmarks: bare libavcodec on one thread,
// optionally with the BGR24 conversion MediaDecoder makes.
#include <algorithm>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

class BareDecoder {
public:
    BareDecoder(int width, int height, const std::vector<std::vector<uint8_t>>& packets, bool convert)
        : width_(width), convert_(convert) {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        context_ = avcodec_alloc_context3(codec);
        context_->thread_count = 1;
        avcodec_open2(context_, codec, nullptr);
        frame_ = av_frame_alloc();
        packet_ = av_packet_alloc();
        if (convert_)
            scaler_ = sws_getContext(width, height, AV_PIX_FMT_YUV420P, width, height, AV_PIX_FMT_BGR24,
                                     SWS_BICUBIC, nullptr, nullptr, nullptr);
        out_.resize(static_cast<size_t>(width) * height * 3);
        for (const auto& p : packets) {
            std::vector<uint8_t> padded(p.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
            std::copy(p.begin(), p.end(), padded.begin());
            padded_.push_back(std::move(padded));
        }
    }
    ~BareDecoder() {
        sws_freeContext(scaler_);
        av_packet_free(&packet_);
        av_frame_free(&frame_);
        avcodec_free_context(&context_);
    }
    size_t count() const { return padded_.size(); }
    bool Decode(size_t i) {
        packet_->data = padded_[i].data();
        packet_->size = static_cast<int>(padded_[i].size() - AV_INPUT_BUFFER_PADDING_SIZE);
        if (avcodec_send_packet(context_, packet_) < 0) return false;
        bool got = false;
        while (avcodec_receive_frame(context_, frame_) == 0) {
            if (convert_) {
                uint8_t* planes[4] = {out_.data(), nullptr, nullptr, nullptr};
                int strides[4] = {width_ * 3, 0, 0, 0};
                sws_scale(scaler_, frame_->data, frame_->linesize, 0, frame_->height, planes, strides);
            }
            av_frame_unref(frame_);
            got = true;
        }
        return got;
    }

private:
    int width_;
    bool convert_;
    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* scaler_ = nullptr;
    std::vector<uint8_t> out_;
    std::vector<std::vector<uint8_t>> padded_;
};

