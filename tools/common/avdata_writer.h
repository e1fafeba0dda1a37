#pragma once
// Writes disk copies in the recorder's layout: the sample recording and the
// test fixtures, with switches that damage files the way real disks do.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sample {

struct SampleFrame {
    uint8_t kind = 0;   // 0 video, 1 audio; other values are written as given
    uint8_t codec = 0;  // disk codec byte
    uint8_t key = 0;
    int64_t time_stamp_ms = 0;
    int32_t width = 0, height = 0;
    int32_t bits = 0, sample_rate = 0, channels = 0;
    std::vector<uint8_t> data;
    // Damage: written in place of the true length / data offset.
    std::optional<int32_t> length_override;
    std::optional<int32_t> offset_override;
};

struct SampleChannelSecond {
    std::vector<SampleFrame> frames;  // at most 60 slots are written
    int32_t channel_flag = 1;
    std::optional<int32_t> used_count_override;
    std::optional<int32_t> block_offset_override;  // channel offset in the index
};

struct SampleSecond {
    int32_t flag = 1;  // written only when a channel has data or flag_forced is set
    bool flag_forced = false;
    std::array<std::optional<SampleChannelSecond>, 4> channels;
};

struct SampleMinute {
    std::array<SampleSecond, 60> seconds;
    // Titles of the four channels, written in every block (both halves of each word).
    std::array<std::u16string, 4> titles;
    // Damage: cut the file to this many bytes.
    std::optional<uint64_t> truncate_at;
};

struct SampleDayEntry {
    int32_t start_second = 0;
    int32_t end_second = 0;
    char mask_char = 'f';
    char type_char = '1';
};

struct SampleDay {
    int32_t year = 0, month = 0, day = 0;
    std::vector<SampleDayEntry> entries;
    std::optional<int32_t> count_override;
    std::optional<uint64_t> truncate_at;
};

// Hex digit of a channel mask as the recorder writes it (lower case).
char MaskChar(int mask);

std::vector<uint8_t> BuildMinuteFile(const SampleMinute& minute);
std::vector<uint8_t> BuildDayIndex(const SampleDay& day);

// Paths are under data_folder (the folder named "avdata"); folders are created.
bool WriteMinuteFile(const std::string& data_folder, int year, int month, int day, int hour, int minute,
                     const SampleMinute& content, std::string* error);
bool WriteDayIndex(const std::string& data_folder, const SampleDay& day, std::string* error);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);

}  // namespace sample
