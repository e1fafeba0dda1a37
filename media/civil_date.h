#pragma once
// Calendar dates as year/month/day, so day arithmetic never goes through local
// time_t (which shifts across daylight-saving changes).
#include <cstdint>

struct CivilDate {
    int32_t year = 0;
    int32_t month = 0;
    int32_t day = 0;
    bool operator==(const CivilDate&) const = default;
};

// Days since 1970-01-01 of a proleptic Gregorian date (valid for any int32 year).
int64_t DaysFromCivil(int32_t year, int32_t month, int32_t day);
CivilDate CivilFromDays(int64_t days);

// Today's date as the local clock shows it.
CivilDate TodayLocalDate();

// The newest-day search's own step: day 1 goes to day 31 of the month before,
// so nonexistent dates such as the 31st of April are tried and simply not found.
CivilDate StepBackOneDayForSearch(CivilDate date);
