// The sound conversion of playback and the exports (ConvertSoundToPcm) beside
// FFmpeg's own AAC and G.726 decoders on the same packets: a minute of the
// sample recording's tone, one thread each. The ratio of the two is what the
// exports' sound costs above the decoding it cannot avoid.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include "media/g726_audio.h"
#include "media/media_decoder.h"
#include "media/sound_to_pcm.h"
#include "tools/common/sample_media.h"

namespace {

constexpr int kSeconds = 60;

struct Sound {
    int sample_rate = 0;
    int channels = 0;
    std::vector<std::vector<uint8_t>> packets;  // as recorded (G.726 codewords swapped)
};

const Sound& SoundOf(sample::SampleAudioCodec codec) {
    static std::map<int, Sound> made;
    Sound& s = made[static_cast<int>(codec)];
    if (!s.packets.empty()) return s;
    av_log_set_level(AV_LOG_QUIET);
    std::string error;
    auto encoder = sample::SampleAudioEncoder::Create(codec, &error);
    if (!encoder) return s;
    s.sample_rate = encoder->sample_rate();
    s.channels = encoder->channels();
    for (int ms = 0; ms < kSeconds * 1000;) {
        sample::EncodedPacket packet;
        int duration = 0;
        if (!encoder->EncodeNext(&packet, &duration)) break;
        s.packets.push_back(packet.data);
        ms += std::max(duration, 1);
    }
    return s;
}

sample::SampleAudioCodec CodecOf(int64_t arg) {
    return arg == 0 ? sample::SampleAudioCodec::Aac : sample::SampleAudioCodec::G726;
}

void BM_ConvertSoundToPcm(benchmark::State& state) {
    const Sound& sound = SoundOf(CodecOf(state.range(0)));
    const PcmSource source = state.range(0) == 0 ? PcmSource::kAac : PcmSource::kG726;
    std::vector<uint8_t> scratch;
    size_t total = 0;
    for (auto _ : state) {
        MediaDecoder decoder;
        int decoder_state = 0;
        for (const auto& p : sound.packets) {
            const uint8_t* pcm = nullptr;
            size_t bytes = 0;
            if (ConvertSoundToPcm(&decoder, &decoder_state, SoundToPcmOptions{}, source, p.data(), p.size(),
                                  sound.sample_rate, sound.channels, &scratch, &pcm, &bytes))
                total += bytes;
        }
        decoder.Release();
    }
    benchmark::DoNotOptimize(total);
    state.SetLabel(state.range(0) == 0 ? "AAC" : "G.726");
}

// FFmpeg's decoder alone: the packets as it reads them, decoding only.
void BM_FfmpegDecoder(benchmark::State& state) {
    const Sound& sound = SoundOf(CodecOf(state.range(0)));
    const bool aac = state.range(0) == 0;
    std::vector<std::vector<uint8_t>> padded;
    for (const auto& p : sound.packets) {
        std::vector<uint8_t> q(p.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        std::copy(p.begin(), p.end(), q.begin());
        if (!aac) SwapG726Nibbles(q.data(), p.size());
        padded.push_back(std::move(q));
    }
    int64_t samples = 0;
    for (auto _ : state) {
        const AVCodec* codec = avcodec_find_decoder(aac ? AV_CODEC_ID_AAC : AV_CODEC_ID_ADPCM_G726);
        AVCodecContext* context = avcodec_alloc_context3(codec);
        context->sample_rate = sound.sample_rate;
        av_channel_layout_default(&context->ch_layout, sound.channels);
        if (!aac) context->bits_per_coded_sample = kG726BitRate / sound.sample_rate;
        context->thread_count = 1;
        avcodec_open2(context, codec, nullptr);
        AVFrame* frame = av_frame_alloc();
        AVPacket* packet = av_packet_alloc();
        for (size_t i = 0; i < padded.size(); ++i) {
            packet->data = padded[i].data();
            packet->size = static_cast<int>(sound.packets[i].size());
            if (avcodec_send_packet(context, packet) < 0) continue;
            while (avcodec_receive_frame(context, frame) == 0) {
                samples += frame->nb_samples;
                av_frame_unref(frame);
            }
        }
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
    benchmark::DoNotOptimize(samples);
    state.SetLabel(aac ? "AAC" : "G.726");
}

BENCHMARK(BM_ConvertSoundToPcm)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FfmpegDecoder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
