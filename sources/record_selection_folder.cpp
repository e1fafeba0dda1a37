// The record selection's month marks, day list and channel captions from a data folder.
#include <vector>

#include "media/data_folder.h"
#include "media/disk_format.h"
#include "media/minute_file.h"
#include "sources/record_selection_engine.h"
#include "sources/recorder_replies.h"

namespace {

constexpr int kSecondsPerDay = 86400;

}  // namespace

std::vector<int> RecordSelectionEngine::MarkFolderRecordingDays(const std::string& folder, int year, int month) {
    std::vector<int> days;
    for (int day = 1; day <= 31; ++day) {
        DayIndexHeader header;
        if (ReadRecordListHeader(folder, year, month, day, &header)) days.push_back(day);
    }
    return days;
}

std::vector<TimeLineSegment> RecordSelectionEngine::FolderDayList(const std::string& folder, int year, int month,
                                                                  int day) {
    std::vector<DayIndexEntry> entries(kFolderEntryCapacity);
    const int n = ReadRecordList(folder, year, month, day, entries.data(), kFolderEntryCapacity);
    channel_names_ = {};
    std::vector<TimeLineSegment> segments;
    for (int i = 0; i < n; ++i) {
        const DayIndexEntry& e = entries[static_cast<size_t>(i)];
        const int start = e.StartSecond();
        const int mask = e.ChannelMask();
        for (int k = 1; k <= 4; ++k) {
            if (!(mask & (1 << (k - 1)))) continue;
            segments.push_back({k, start, e.EndSecond(), e.RecordType()});
            std::string& name = channel_names_[static_cast<size_t>(k - 1)];
            // Digits that are no time of day name no minute file.
            if (name.empty() && start >= 0 && start < kSecondsPerDay)
                name = ChannelNameFromRecordingFile(folder, year, month, day, k - 1, start / 3600, start / 60 % 60);
        }
    }
    return segments;
}

std::string RecordSelectionEngine::ChannelNameFromRecordingFile(const std::string& folder, int year, int month,
                                                                int day, int c, int hour, int minute) {
    if (c < 0 || c >= diskformat::kChannels) return "";
    MinuteFile file;
    if (!file.Open(folder, year, month, day, hour, minute)) return "";
    for (int s = 0; s < diskformat::kSecondsPerMinute; ++s) {
        if (!file.Second(s).ChannelPresent(c)) continue;
        ChannelSecondBlock block;
        int64_t position = 0;
        if (!file.ReadBlock(s, c, &block, &position)) return "";
        return FolderChannelCaption(c + 1, Utf16ToUtf8(block.Title(c)));
    }
    return "";
}
