#pragma once
// The time range and channels a backup copies, the walk over its days, hours
// and minutes, and the keep/clip rule for day index entries.
#include <cstdint>

#include "media/civil_date.h"
#include "media/disk_format.h"

struct BackupRange {
    int32_t start_year = 0, start_month = 0, start_day = 0;
    int32_t start_hour = 0, start_minute = 0, start_second = 0;
    int32_t end_year = 0, end_month = 0, end_day = 0;
    int32_t end_hour = 23, end_minute = 59, end_second = 59;

    CivilDate StartDate() const { return {start_year, start_month, start_day}; }
    CivilDate EndDate() const { return {end_year, end_month, end_day}; }
    // year * 10000 + month * 100 + day
    int64_t StartDateKey() const;
    int64_t EndDateKey() const;
    // hour * 10000 + minute * 100 + second, as the HHMMSS fields read
    int32_t StartTime() const;
    int32_t EndTime() const;
    // End not before start (dates, then hour and minute).
    bool Valid() const;
    // Seconds from the range start to the range end (at its second 59).
    int64_t TotalSeconds() const;
    // Seconds from the range start to date, hour, minute at second 0.
    int64_t SecondsFromStart(CivilDate date, int hour, int minute) const;
};

int64_t DateKey(CivilDate date);
bool IsStartDate(const BackupRange& range, CivilDate date);
bool IsEndDate(const BackupRange& range, CivilDate date);

// Every month has 31 day slots; slots of dates the calendar lacks find no files.
template <typename Visit>
void ForEachDaySlot(const BackupRange& range, Visit&& visit) {
    if (!range.Valid()) return;
    for (int32_t y = range.start_year; y <= range.end_year; ++y) {
        const int32_t first_month = y == range.start_year ? range.start_month : 1;
        const int32_t last_month = y == range.end_year ? range.end_month : 12;
        for (int32_t m = first_month; m <= last_month; ++m) {
            const bool first = y == range.start_year && m == range.start_month;
            const bool last = y == range.end_year && m == range.end_month;
            for (int32_t d = first ? range.start_day : 1; d <= (last ? range.end_day : 31); ++d) {
                if (!visit(CivilDate{y, m, d})) return;
            }
        }
    }
}

struct ClockSpan {
    int first = 0;
    int last = -1;  // inclusive; empty when last < first
};

// The start hour and minute bound only the range's start date and start hour,
// the end ones only its end date and end hour.
ClockSpan HourSpan(const BackupRange& range, CivilDate date);
ClockSpan MinuteSpan(const BackupRange& range, CivilDate date, int hour);

// HHMMSS digits read as a number without validation.
int32_t EntryStartTime(const DayIndexEntry& entry);
int32_t EntryEndTime(const DayIndexEntry& entry);

// Whether an entry of a day index dated header_date belongs to the backup.
bool BackupEntryKept(const BackupRange& range, int32_t channel_mask, int64_t header_date, const DayIndexEntry& entry);
// A kept entry as the backup writes it: channels narrowed to the mask, times
// clipped to the range on its first and last date; other bytes unchanged.
DayIndexEntry BackupEntryRewritten(const BackupRange& range, int32_t channel_mask, int64_t header_date,
                                   const DayIndexEntry& entry);
