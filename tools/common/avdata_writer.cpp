#include "tools/common/avdata_writer.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "media/disk_format.h"

namespace sample {
namespace {

using diskformat::WriteI32;

void WriteTitles(uint8_t* block, const std::array<std::u16string, 4>& titles) {
    for (int k = 0; k < 4; ++k) {
        for (size_t i = 0; i < titles[k].size() && i < diskformat::kTitleChars; ++i) {
            uint8_t* w = block + 20 + 64 * k + 4 * i;
            const char16_t u = titles[k][i];
            w[0] = static_cast<uint8_t>(u & 0xFF);
            w[1] = static_cast<uint8_t>(u >> 8);
            w[2] = static_cast<uint8_t>(u >> 8);
            w[3] = static_cast<uint8_t>(u & 0xFF);
        }
    }
}

void WriteTwoDigits(uint8_t* p, int v) {
    p[0] = static_cast<uint8_t>('0' + (v / 10) % 10);
    p[1] = static_cast<uint8_t>('0' + v % 10);
}

void WriteHhmmss(uint8_t* p, int32_t seconds) {
    WriteTwoDigits(p, seconds / 3600);
    WriteTwoDigits(p + 2, seconds / 60 % 60);
    WriteTwoDigits(p + 4, seconds % 60);
}

}  // namespace

char MaskChar(int mask) { return "0123456789abcdef"[mask & 15]; }

std::vector<uint8_t> BuildMinuteFile(const SampleMinute& minute) {
    std::vector<uint8_t> out(diskformat::kMinuteIndexSize, 0);
    for (int s = 0; s < diskformat::kSecondsPerMinute; ++s) {
        const SampleSecond& second = minute.seconds[s];
        bool any = second.flag_forced;
        for (const auto& ch : second.channels) any = any || ch.has_value();
        if (!any) continue;
        uint8_t* entry = &out[diskformat::kSecondEntryOffset + diskformat::kSecondEntrySize * s];
        const size_t base = out.size();
        WriteI32(entry, second.flag);
        WriteI32(entry + 4, static_cast<int32_t>(base));
        for (int c = 0; c < diskformat::kChannels; ++c) {
            if (!second.channels[c]) continue;
            const SampleChannelSecond& ch = *second.channels[c];
            const size_t block_pos = out.size();
            entry = &out[diskformat::kSecondEntryOffset + diskformat::kSecondEntrySize * s];
            WriteI32(entry + 52 + 4 * c, ch.channel_flag);
            WriteI32(entry + 68 + 4 * c, ch.block_offset_override.value_or(static_cast<int32_t>(block_pos - base)));
            out.resize(block_pos + diskformat::kBlockSize, 0);
            const size_t slots = std::min<size_t>(ch.frames.size(), diskformat::kFrameSlots);
            WriteI32(&out[block_pos + 12], ch.used_count_override.value_or(static_cast<int32_t>(slots)));
            WriteTitles(&out[block_pos], minute.titles);
            for (size_t i = 0; i < slots; ++i) {
                const SampleFrame& f = ch.frames[i];
                const size_t data_pos = out.size();
                out.insert(out.end(), f.data.begin(), f.data.end());
                uint8_t* e = &out[block_pos + diskformat::kBlockHeadSize + diskformat::kFrameEntrySize * i];
                e[0] = f.kind;
                e[1] = f.codec;
                e[3] = f.key;
                const auto stamp = static_cast<uint64_t>(f.time_stamp_ms);
                WriteI32(e + 8, static_cast<int32_t>(static_cast<uint32_t>(stamp)));
                WriteI32(e + 12, static_cast<int32_t>(static_cast<uint32_t>(stamp >> 32)));
                WriteI32(e + 16, f.width);
                WriteI32(e + 20, f.height);
                WriteI32(e + 24, f.offset_override.value_or(static_cast<int32_t>(data_pos - block_pos)));
                WriteI32(e + 32, f.bits);
                WriteI32(e + 36, f.sample_rate);
                WriteI32(e + 40, f.channels);
                WriteI32(e + 52, f.length_override.value_or(static_cast<int32_t>(f.data.size())));
            }
        }
    }
    if (minute.truncate_at && *minute.truncate_at < out.size()) out.resize(*minute.truncate_at);
    return out;
}

std::vector<uint8_t> BuildDayIndex(const SampleDay& day) {
    std::vector<uint8_t> out(diskformat::kDayIndexHeaderSize, 0);
    WriteI32(&out[4], day.count_override.value_or(static_cast<int32_t>(day.entries.size())));
    WriteI32(&out[8], day.year);
    WriteI32(&out[12], day.month);
    WriteI32(&out[16], day.day);
    for (const SampleDayEntry& e : day.entries) {
        uint8_t bytes[diskformat::kDayIndexEntrySize] = {};
        WriteHhmmss(bytes, e.start_second);
        WriteHhmmss(bytes + 6, e.end_second);
        bytes[12] = static_cast<uint8_t>(e.mask_char);
        bytes[13] = static_cast<uint8_t>(e.type_char);
        out.insert(out.end(), bytes, bytes + sizeof bytes);
    }
    if (day.truncate_at && *day.truncate_at < out.size()) out.resize(*day.truncate_at);
    return out;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    return true;
}

bool WriteMinuteFile(const std::string& data_folder, int year, int month, int day, int hour, int minute,
                     const SampleMinute& content, std::string* error) {
    return WriteFileBytes(MinuteFilePath(data_folder, year, month, day, hour, minute), BuildMinuteFile(content), error);
}

bool WriteDayIndex(const std::string& data_folder, const SampleDay& day, std::string* error) {
    return WriteFileBytes(DayIndexPath(data_folder, day.year, day.month, day.day), BuildDayIndex(day), error);
}

}  // namespace sample
