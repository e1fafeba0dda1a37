#include "tools/common/avdata_dump.h"

#include <zlib.h>

#include <cstdio>
#include <vector>

#include "media/data_folder.h"
#include "media/minute_file.h"
#include "platform/data_file.h"

namespace sample {

std::string ResolveDataFolder(const std::string& folder) {
    std::string f = folder;
    while (f.size() > 1 && f.back() == '/') f.pop_back();
    if (platform::IsFolder(f + "/avdata")) return f + "/avdata";
    return f;
}

bool DumpDay(const std::string& folder, int year, int month, int day, std::ostream& out, std::string* error) {
    const std::string data = ResolveDataFolder(folder);
    DayIndexHeader header;
    if (!ReadRecordListHeader(data, year, month, day, &header)) {
        *error = "cannot open " + DayIndexPath(data, year, month, day);
        return false;
    }
    const int32_t count = header.count();
    if (count == 0) return true;
    // Bounded by what the file can hold, so a damaged count cannot size the buffer.
    platform::ReadOnlyFile file;
    file.Open(DayIndexPath(data, year, month, day));
    const int64_t room = (file.Size() - diskformat::kDayIndexHeaderSize) / diskformat::kDayIndexEntrySize;
    if (count < 0 || count > room) {
        *error = "day index count " + std::to_string(count) + " does not fit the file";
        return false;
    }
    std::vector<DayIndexEntry> entries(static_cast<size_t>(count));
    const int n = ReadRecordList(data, year, month, day, entries.data(), count);
    if (n != count) {
        *error = "day index does not read";
        return false;
    }
    for (const DayIndexEntry& e : entries) {
        out << e.StartSecond() << '\t' << e.EndSecond() << '\t' << e.ChannelMask() << '\t' << e.RecordType() << '\n';
    }
    return true;
}

bool DumpMinute(const std::string& folder, int year, int month, int day, int hour, int minute, std::ostream& out,
                std::string* error) {
    const std::string data = ResolveDataFolder(folder);
    MinuteFile file;
    if (!file.Open(data, year, month, day, hour, minute)) {
        *error = "cannot read " + MinuteFilePath(data, year, month, day, hour, minute);
        return false;
    }
    for (int s = 0; s < diskformat::kSecondsPerMinute; ++s) {
        const SecondIndexEntry second = file.Second(s);
        for (int c = 0; c < diskformat::kChannels; ++c) {
            if (!second.ChannelPresent(c)) continue;
            ChannelSecondBlock block;
            int64_t pos = 0;
            if (!file.ReadBlock(s, c, &block, &pos)) continue;
            const std::string title = Utf16ToUtf8(block.Title(c));
            for (const MinuteFrame& f : file.ReadFrames(block, pos)) {
                const bool video = f.entry.kind == diskformat::kKindVideo;
                const int32_t codec = video ? VideoCodecFromDisk(f.entry.codec) : AudioKindFromDisk(f.entry.codec);
                char crc[16];
                std::snprintf(crc, sizeof crc, "%08lx",
                              crc32(crc32(0, nullptr, 0), f.data.data(), static_cast<uInt>(f.data.size())));
                out << s << '\t' << (c + 1) << '\t' << (video ? "video" : "audio") << '\t' << codec << '\t'
                    << int(f.entry.key) << '\t' << f.entry.time_stamp_full << '\t' << f.entry.width << '\t'
                    << f.entry.height << '\t' << f.entry.length << '\t' << crc << '\t' << title << '\n';
            }
        }
    }
    return true;
}

}  // namespace sample
