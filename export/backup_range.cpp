#include "export/backup_range.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;

int32_t ReadDigits(const uint8_t* p) {
    int32_t value = 0;
    for (int i = 0; i < 6; ++i) value = value * 10 + (p[i] - '0');
    return value;
}

void WriteDigits(uint8_t* p, int32_t hhmmss) {
    for (int i = 5; i >= 0; --i) {
        p[i] = static_cast<uint8_t>('0' + hhmmss % 10);
        hhmmss /= 10;
    }
}

int32_t ClockSeconds(int hour, int minute, int second) { return hour * 3600 + minute * 60 + second; }

}  // namespace

int64_t DateKey(CivilDate date) {
    return static_cast<int64_t>(date.year) * 10000 + static_cast<int64_t>(date.month) * 100 + date.day;
}

int64_t BackupRange::StartDateKey() const { return DateKey(StartDate()); }
int64_t BackupRange::EndDateKey() const { return DateKey(EndDate()); }
int32_t BackupRange::StartTime() const { return start_hour * 10000 + start_minute * 100 + start_second; }
int32_t BackupRange::EndTime() const { return end_hour * 10000 + end_minute * 100 + end_second; }

bool BackupRange::Valid() const {
    if (EndDateKey() != StartDateKey()) return EndDateKey() > StartDateKey();
    return end_hour * 100 + end_minute >= start_hour * 100 + start_minute;
}

int64_t BackupRange::SecondsFromStart(CivilDate date, int hour, int minute) const {
    // Calendar arithmetic, not local time_t: a daylight-saving change inside
    // the range must not bend the progress.
    const int64_t days = DaysFromCivil(date.year, date.month, date.day) -
                         DaysFromCivil(start_year, start_month, start_day);
    return days * kSecondsPerDay + ClockSeconds(hour, minute, 0) - ClockSeconds(start_hour, start_minute, start_second);
}

int64_t BackupRange::TotalSeconds() const {
    return SecondsFromStart(EndDate(), end_hour, end_minute) + end_second;
}

bool IsStartDate(const BackupRange& range, CivilDate date) { return DateKey(date) == range.StartDateKey(); }
bool IsEndDate(const BackupRange& range, CivilDate date) { return DateKey(date) == range.EndDateKey(); }

ClockSpan HourSpan(const BackupRange& range, CivilDate date) {
    return {IsStartDate(range, date) ? range.start_hour : 0, IsEndDate(range, date) ? range.end_hour : 23};
}

ClockSpan MinuteSpan(const BackupRange& range, CivilDate date, int hour) {
    const bool first = IsStartDate(range, date) && hour == range.start_hour;
    const bool last = IsEndDate(range, date) && hour == range.end_hour;
    return {first ? range.start_minute : 0, last ? range.end_minute : 59};
}

int32_t EntryStartTime(const DayIndexEntry& entry) { return ReadDigits(&entry.bytes[0]); }
int32_t EntryEndTime(const DayIndexEntry& entry) { return ReadDigits(&entry.bytes[6]); }

bool BackupEntryKept(const BackupRange& range, int32_t channel_mask, int64_t header_date, const DayIndexEntry& entry) {
    if ((entry.ChannelMask() & channel_mask) == 0) return false;
    if (header_date < range.StartDateKey() || header_date > range.EndDateKey()) return false;
    if (header_date == range.StartDateKey() && EntryEndTime(entry) < range.StartTime()) return false;
    if (header_date == range.EndDateKey() && EntryStartTime(entry) > range.EndTime()) return false;
    return true;
}

DayIndexEntry BackupEntryRewritten(const BackupRange& range, int32_t channel_mask, int64_t header_date,
                                   const DayIndexEntry& entry) {
    DayIndexEntry out = entry;
    const int mask = entry.ChannelMask() & channel_mask;
    out.bytes[12] = static_cast<uint8_t>(mask < 10 ? '0' + mask : 'a' + mask - 10);
    if (header_date == range.StartDateKey() && EntryStartTime(entry) < range.StartTime())
        WriteDigits(&out.bytes[0], range.StartTime());
    if (header_date == range.EndDateKey() && EntryEndTime(entry) > range.EndTime())
        WriteDigits(&out.bytes[6], range.EndTime());
    return out;
}
