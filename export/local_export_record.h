#pragma once
// One per-minute-file entry on its way from the local export's reader thread
// to its writer thread.
#include <array>
#include <cstdint>
#include <vector>

#include "media/disk_format.h"

struct LocalExportRecord {
    static constexpr int kTitleFieldBytes = 64;

    MinuteFrameEntry entry;
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
    // The exported channel's title field of the second's block head.
    std::array<uint8_t, kTitleFieldBytes> title{};
    // AAC and G.726: the sound's number in the channel's decoding ahead; else -1.
    int64_t sound_number = -1;
    std::vector<uint8_t> payload;
};
