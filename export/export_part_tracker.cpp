#include "export/export_part_tracker.h"

namespace {

uint32_t Low(int64_t v) { return static_cast<uint32_t>(static_cast<uint64_t>(v)); }

int32_t LowDifference(int64_t a, int64_t b) { return static_cast<int32_t>(Low(a) - Low(b)); }

}  // namespace

void ExportPartTracker::Reset() { *this = ExportPartTracker{}; }

void ExportPartTracker::CheckTime(int32_t low, int32_t high) {
    const int64_t s = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) |
                                           static_cast<uint32_t>(low));
    if (first_call == 1) {
        start_stamp = current_stamp = s;
        first_call = 0;
    }
    const int32_t d = LowDifference(s, current_stamp);
    if (d > jump_threshold || d < 0)
        time_jump = 1;
    else
        current_stamp = s;
    if (static_cast<int64_t>(LowDifference(current_stamp, start_stamp)) >= part_span) span_end = 1;
}

void ExportPartTracker::CheckAudioFormat(int32_t codec, int32_t bits_per_sample, int32_t sample_rate,
                                         int32_t channels) {
    const bool all_set = audio_codec != -1 && audio_bits != -1 && audio_rate != -1 && audio_channels != -1;
    // A part's audio stream has one format: any change starts a new part, or the
    // later packets would be played in the earlier format. Codec bytes 2 and 3 are both G.711.
    auto same_codec = [](int32_t a, int32_t b) { return a == b || ((a == 2 || a == 3) && (b == 2 || b == 3)); };
    if (all_set && (!same_codec(codec, audio_codec) || bits_per_sample != audio_bits || sample_rate != audio_rate ||
                    channels != audio_channels))
        audio_change = 1;
    audio_codec = codec;
    audio_bits = bits_per_sample;
    audio_rate = sample_rate;
    audio_channels = channels;
}

void ExportPartTracker::CheckVideoFormat(int32_t codec, int32_t width, int32_t height) {
    const bool all_set = video_codec != -1 && video_width != -1 && video_height != -1;
    if (all_set && (codec != video_codec || width != video_width || height != video_height)) video_change = 1;
    video_codec = codec;
    video_width = width;
    video_height = height;
}
