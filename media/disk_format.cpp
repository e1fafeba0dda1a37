#include "media/disk_format.h"

#include <cstdio>
#include <cstring>

namespace diskformat {

int32_t ReadI32(const uint8_t* p) {
    const uint32_t v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                       (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    return static_cast<int32_t>(v);
}

void WriteI32(uint8_t* p, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    p[0] = static_cast<uint8_t>(u);
    p[1] = static_cast<uint8_t>(u >> 8);
    p[2] = static_cast<uint8_t>(u >> 16);
    p[3] = static_cast<uint8_t>(u >> 24);
}

}  // namespace diskformat

namespace {

int32_t ReadHhmmss(const uint8_t* p) {
    auto digit = [](uint8_t c) { return static_cast<int32_t>(c) - '0'; };
    const int32_t h = digit(p[0]) * 10 + digit(p[1]);
    const int32_t m = digit(p[2]) * 10 + digit(p[3]);
    const int32_t s = digit(p[4]) * 10 + digit(p[5]);
    return h * 3600 + m * 60 + s;
}

std::u16string ReadTitle(const uint8_t* words, bool high_half) {
    std::u16string title;
    for (int i = 0; i < diskformat::kTitleChars; ++i) {
        const uint8_t* w = words + 4 * i;
        const char16_t unit = high_half ? static_cast<char16_t>((w[2] << 8) | w[3])
                                        : static_cast<char16_t>(w[0] | (w[1] << 8));
        if (unit == 0) break;
        title.push_back(unit);
    }
    return title;
}

}  // namespace

int32_t DayIndexEntry::StartSecond() const { return ReadHhmmss(&bytes[0]); }
int32_t DayIndexEntry::EndSecond() const { return ReadHhmmss(&bytes[6]); }

int32_t DayIndexEntry::ChannelMask() const {
    const uint8_t c = bytes[12];
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

int32_t DayIndexEntry::RecordType() const {
    if (bytes[13] == '2') return 2;
    if (bytes[13] == '3') return 3;
    return 1;
}

SecondIndexEntry MinuteFileIndex::Second(int s) const {
    using namespace diskformat;
    const uint8_t* e = &bytes[kSecondEntryOffset + kSecondEntrySize * s];
    SecondIndexEntry out;
    out.flag = ReadI32(e);
    out.base_offset = ReadI32(e + 4);
    for (int c = 0; c < kChannels; ++c) {
        out.channel_flag[c] = ReadI32(e + 52 + 4 * c);
        out.channel_offset[c] = ReadI32(e + 68 + 4 * c);
    }
    return out;
}

MinuteFrameEntry MinuteFrameEntry::Parse(const uint8_t* p) {
    using diskformat::ReadI32;
    MinuteFrameEntry e;
    e.kind = p[0];
    e.codec = p[1];
    e.key = p[3];
    e.time_stamp = ReadI32(p + 8);
    e.time_stamp_full = static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(ReadI32(p + 8))) |
                                             (static_cast<uint64_t>(static_cast<uint32_t>(ReadI32(p + 12))) << 32));
    e.width = ReadI32(p + 16);
    e.height = ReadI32(p + 20);
    e.data_offset = ReadI32(p + 24);
    e.bits = ReadI32(p + 32);
    e.sample_rate = ReadI32(p + 36);
    e.channels = ReadI32(p + 40);
    e.length = ReadI32(p + 52);
    return e;
}

int32_t ChannelSecondBlock::UsedCount() const {
    const int32_t n = RawUsedCount();
    if (n < 0) return 0;
    return n > diskformat::kFrameSlots ? diskformat::kFrameSlots : n;
}

MinuteFrameEntry ChannelSecondBlock::Entry(int i) const {
    return MinuteFrameEntry::Parse(&bytes[diskformat::kBlockHeadSize + diskformat::kFrameEntrySize * i]);
}

std::u16string ChannelSecondBlock::Title(int k) const { return ReadTitle(&bytes[20 + 64 * k], true); }
std::u16string ChannelSecondBlock::TitleLow(int k) const { return ReadTitle(&bytes[20 + 64 * k], false); }

int32_t VideoCodecFromDisk(uint8_t codec) {
    switch (codec) {
        case diskformat::kCodecMjpeg: return 0;
        case diskformat::kCodecMpeg4: return 1;
        case diskformat::kCodecH264: return 2;
        default: return -1;
    }
}

int32_t AudioKindFromDisk(uint8_t codec) {
    switch (codec) {
        case diskformat::kAudioAac: return 5;
        case diskformat::kAudioG711A: return 3;
        case diskformat::kAudioG711B: return 4;
        case diskformat::kAudioG726: return 6;
        case diskformat::kAudioPcm: return 7;
        default: return -1;
    }
}

std::string DayIndexPath(const std::string& folder, int year, int month, int day) {
    char tail[64];
    std::snprintf(tail, sizeof tail, "/%d/%.2d/%.2d/RecordList.db", year, month, day);
    return folder + tail;
}

std::string MinuteFilePath(const std::string& folder, int year, int month, int day, int hour, int minute) {
    char tail[80];
    std::snprintf(tail, sizeof tail, "/%d/%.2d/%.2d/%.2d/REC%.2d.db", year, month, day, hour, minute);
    return folder + tail;
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}
