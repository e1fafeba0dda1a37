// FFmpeg's own AAC and G.726 decoders on all the recorded AAC and G.726 sound
// of a range of a data folder, four channels, one thread: the decoding an
// export in original frames cannot avoid. The packets are read before the
// timing; only the decoding is timed. tests/bench/original_export_ratios.sh
// adds it to the time of `cp` of the range's minute files.
//   bench_range_sound_decode [benchmark flags] --data FOLDER --date YYYY-MM-DD --from HH:MM:SS --to HH:MM:SS
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include "media/disk_format.h"
#include "media/g726_audio.h"
#include "media/minute_file.h"
#include "media/sound_to_pcm.h"

namespace {

// One channel's sound of one codec and format, as FFmpeg reads it (padded,
// G.726 codewords in its order).
struct Stream {
    int codec = 0;
    int sample_rate = 0;
    int channels = 0;
    std::vector<std::vector<uint8_t>> packets;
    std::vector<int> sizes;
};

std::vector<Stream> g_streams;
size_t g_bytes = 0;

bool ParseClock(const char* text, int* second_of_day) {
    int h = 0, m = 0, s = 0;
    if (std::sscanf(text, "%d:%d:%d", &h, &m, &s) != 3 || h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59)
        return false;
    *second_of_day = h * 3600 + m * 60 + s;
    return true;
}

void LoadRange(const std::string& folder, int year, int month, int day, int from, int to) {
    // Per channel, a new stream whenever the codec or format changes, as a decoder would be opened again.
    std::vector<Stream> current(diskformat::kChannels);
    MinuteFile file;
    ChannelSecondBlock block;
    for (int m = from / 60 * 60; m <= to / 60 * 60; m += 60) {
        if (!file.Open(folder, year, month, day, m / 3600, m / 60 % 60)) continue;
        for (int s = 0; s < diskformat::kSecondsPerMinute; ++s) {
            if (m + s < from || m + s > to) continue;
            for (int c = 0; c < diskformat::kChannels; ++c) {
                if (!file.Second(s).ChannelPresent(c)) continue;
                int64_t position = 0;
                if (!file.ReadBlock(s, c, &block, &position)) continue;
                for (MinuteFrame& frame : file.ReadFrames(block, position)) {
                    const MinuteFrameEntry& e = frame.entry;
                    if (e.kind != diskformat::kKindAudio ||
                        (e.codec != diskformat::kAudioAac && e.codec != diskformat::kAudioG726))
                        continue;
                    Stream& st = current[static_cast<size_t>(c)];
                    if (st.codec != e.codec || st.sample_rate != e.sample_rate || st.channels != e.channels) {
                        if (!st.packets.empty()) g_streams.push_back(std::move(st));
                        st = Stream{e.codec, e.sample_rate, e.channels, {}, {}};
                    }
                    const size_t size = frame.data.size();
                    frame.data.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
                    if (e.codec == diskformat::kAudioG726) SwapG726Nibbles(frame.data.data(), size);
                    st.sizes.push_back(static_cast<int>(size));
                    st.packets.push_back(std::move(frame.data));
                    g_bytes += size;
                }
            }
        }
    }
    for (Stream& st : current)
        if (!st.packets.empty()) g_streams.push_back(std::move(st));
}

int64_t Decode(const Stream& st) {
    const bool aac = st.codec == diskformat::kAudioAac;
    const AVCodec* codec = avcodec_find_decoder(aac ? AV_CODEC_ID_AAC : AV_CODEC_ID_ADPCM_G726);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->sample_rate = st.sample_rate;
    av_channel_layout_default(&context->ch_layout, st.channels);
    if (!aac) context->bits_per_coded_sample = kG726BitRate / st.sample_rate;
    context->thread_count = 1;
    int64_t samples = 0;
    if (avcodec_open2(context, codec, nullptr) == 0) {
        AVFrame* frame = av_frame_alloc();
        AVPacket* packet = av_packet_alloc();
        for (size_t i = 0; i < st.packets.size(); ++i) {
            packet->data = const_cast<uint8_t*>(st.packets[i].data());
            packet->size = st.sizes[i];
            if (avcodec_send_packet(context, packet) < 0) continue;
            while (avcodec_receive_frame(context, frame) == 0) {
                samples += frame->nb_samples;
                av_frame_unref(frame);
            }
        }
        av_packet_free(&packet);
        av_frame_free(&frame);
    }
    avcodec_free_context(&context);
    return samples;
}

void BM_FfmpegDecodeRange(benchmark::State& state) {
    int64_t samples = 0;
    for (auto _ : state)
        for (const Stream& st : g_streams) samples += Decode(st);
    benchmark::DoNotOptimize(samples);
    state.counters["packet_bytes"] = static_cast<double>(g_bytes);
    state.counters["streams"] = static_cast<double>(g_streams.size());
}

BENCHMARK(BM_FfmpegDecodeRange)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::string folder;
    int year = 0, month = 0, day = 0, from = -1, to = -1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const char* value = argv[i + 1];
        if (flag == "--data") {
            folder = value;
        } else if (flag == "--date") {
            if (std::sscanf(value, "%d-%d-%d", &year, &month, &day) != 3) year = 0;
        } else if (flag == "--from") {
            if (!ParseClock(value, &from)) from = -1;
        } else if (flag == "--to") {
            if (!ParseClock(value, &to)) to = -1;
        }
    }
    if (folder.empty() || year == 0 || from < 0 || to < from) {
        std::fprintf(stderr,
                     "usage: bench_range_sound_decode [benchmark flags] --data FOLDER --date YYYY-MM-DD"
                     " --from HH:MM:SS --to HH:MM:SS\n");
        return 2;
    }
    av_log_set_level(AV_LOG_QUIET);
    LoadRange(folder, year, month, day, from, to);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
