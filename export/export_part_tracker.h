#pragma once
// Watches the records of one export writer thread and raises a flag when the
// running part file must end: a time jump, a new video or audio format, or
// the part's span of recording time reached. Flags stay set until Reset.
#include <cstdint>

struct ExportPartTracker {
    int64_t current_stamp = 0;
    int64_t start_stamp = 0;
    int64_t part_span = 120000;
    int32_t jump_threshold = 2000;
    int32_t time_jump = 0;
    int32_t video_change = 0;
    int32_t audio_change = 0;
    int32_t span_end = 0;
    int32_t video_codec = -1;
    int32_t video_width = -1;
    int32_t video_height = -1;
    int32_t audio_codec = -1;
    int32_t audio_bits = -1;
    int32_t audio_rate = -1;
    int32_t audio_channels = -1;
    int32_t first_call = 1;

    void Reset();
    // Only the low words are compared, with wrap-around differences, so
    // stamps that cross a 32-bit boundary still compare correctly.
    void CheckTime(int32_t low, int32_t high);
    // Raises audio_change when the format differs from the stored one (G.711 bytes 2 and 3 are one format).
    void CheckAudioFormat(int32_t codec, int32_t bits_per_sample, int32_t sample_rate, int32_t channels);
    // Raises video_change when any of the three values differs.
    void CheckVideoFormat(int32_t codec, int32_t width, int32_t height);
    bool AnyFlag() const { return time_jump || video_change || audio_change || span_end; }
};
