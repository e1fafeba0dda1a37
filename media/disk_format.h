#pragma once
// The recorder's disk-copy files: the day index "RecordList.db" and the
// per-minute files "RECmm.db". Little-endian fixed layouts, kept as raw bytes
// (the backup copies unread bytes unchanged) with accessors for the read fields.
#include <array>
#include <cstdint>
#include <string>

namespace diskformat {

constexpr int kChannels = 4;
constexpr int kSecondsPerMinute = 60;
constexpr int kFrameSlots = 60;
constexpr int kDayIndexHeaderSize = 56;
constexpr int kDayIndexEntrySize = 16;
constexpr int kMinuteIndexSize = 5780;
constexpr int kSecondEntryOffset = 12;
constexpr int kSecondEntrySize = 96;
constexpr int kBlockSize = 5608;
constexpr int kBlockHeadSize = 328;
constexpr int kFrameEntrySize = 88;
constexpr int kTitleChars = 16;
// No camera frame or audio packet comes near this; larger lengths are damage.
constexpr int32_t kMaxFrameLength = 2 * 1024 * 1024;

constexpr uint8_t kKindVideo = 0;
constexpr uint8_t kKindAudio = 1;
constexpr uint8_t kCodecMjpeg = 7, kCodecMpeg4 = 8, kCodecH264 = 9;
constexpr uint8_t kAudioAac = 1, kAudioG711A = 2, kAudioG711B = 3, kAudioG726 = 4, kAudioPcm = 5;

int32_t ReadI32(const uint8_t* p);
void WriteI32(uint8_t* p, int32_t v);

}  // namespace diskformat

struct DayIndexHeader {
    std::array<uint8_t, diskformat::kDayIndexHeaderSize> bytes{};
    int32_t count() const { return diskformat::ReadI32(&bytes[4]); }
    int32_t year() const { return diskformat::ReadI32(&bytes[8]); }
    int32_t month() const { return diskformat::ReadI32(&bytes[12]); }
    int32_t day() const { return diskformat::ReadI32(&bytes[16]); }
};

struct DayIndexEntry {
    std::array<uint8_t, diskformat::kDayIndexEntrySize> bytes{};
    // HHMMSS digits read without validation, as the recorder's own tools do.
    int32_t StartSecond() const;
    int32_t EndSecond() const;
    // Bit 0 channel 1 ... bit 3 channel 4; only '0'-'9' and lower-case 'a'-'f' count.
    int32_t ChannelMask() const;
    // 2 or 3 for '2'/'3', 1 for anything else.
    int32_t RecordType() const;
};
static_assert(sizeof(DayIndexEntry) == diskformat::kDayIndexEntrySize);

struct SecondIndexEntry {
    int32_t flag = 0;  // 1: the second holds data
    int32_t base_offset = 0;
    std::array<int32_t, diskformat::kChannels> channel_flag{};
    std::array<int32_t, diskformat::kChannels> channel_offset{};

    bool HasData() const { return flag == 1; }
    bool ChannelPresent(int c) const { return HasData() && channel_flag[c] != 0; }
    // base + channel offset in 64 bits; negative means damaged.
    int64_t BlockPosition(int c) const {
        return static_cast<int64_t>(base_offset) + static_cast<int64_t>(channel_offset[c]);
    }
};

struct MinuteFileIndex {
    std::array<uint8_t, diskformat::kMinuteIndexSize> bytes{};
    SecondIndexEntry Second(int s) const;
};

struct MinuteFrameEntry {
    uint8_t kind = 0;
    uint8_t codec = 0;
    uint8_t key = 0;
    int32_t time_stamp = 0;       // low 32 bits, as playback takes it
    int64_t time_stamp_full = 0;  // bytes 8-15, as the export takes it
    int32_t width = 0;
    int32_t height = 0;
    int32_t data_offset = 0;  // relative to the block position
    int32_t bits = 0;
    int32_t sample_rate = 0;
    int32_t channels = 0;
    int32_t length = 0;

    static MinuteFrameEntry Parse(const uint8_t* p);
};

struct ChannelSecondBlock {
    std::array<uint8_t, diskformat::kBlockSize> bytes{};
    int32_t RawUsedCount() const { return diskformat::ReadI32(&bytes[12]); }
    // The used count held to the 60 slots the block has.
    int32_t UsedCount() const;
    MinuteFrameEntry Entry(int i) const;
    // Title of channel k: code unit from bytes 2 (high) and 3 (low) of each word.
    std::u16string Title(int k) const;
    // The export's reading: code unit from bytes 0 and 1, little-endian.
    std::u16string TitleLow(int k) const;
};

// In-memory numbers: video 0 MJPEG, 1 MPEG-4, 2 H.264; audio kinds 3-7. -1 for unknown bytes.
int32_t VideoCodecFromDisk(uint8_t codec);
int32_t AudioKindFromDisk(uint8_t codec);

std::string DayIndexPath(const std::string& folder, int year, int month, int day);
std::string MinuteFilePath(const std::string& folder, int year, int month, int day, int hour, int minute);
std::string Utf16ToUtf8(const std::u16string& text);
