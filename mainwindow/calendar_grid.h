#pragma once
// The month calendar's 42 day cells without a window: where each day of a
// month sits, and which cells are marked or picked.
#include <array>

class CalendarGrid {
public:
    static constexpr int kCellCount = 42;
    // Cell states; 0 is a weekday caption and never a day cell.
    static constexpr int kStateCaption = 0;
    static constexpr int kStatePicked = 1;
    static constexpr int kStateMarked = 2;
    static constexpr int kStatePlain = 3;

    // 1 = the 1st of the month is a Sunday ... 7 = Saturday (proleptic Gregorian).
    static int FirstWeekdayNumber(int year, int month);
    static int DaysInMonth(int year, int month);

    // Lays out the month; every cell becomes plain. Months outside 1-12 are clamped.
    void FillMonth(int year, int month);
    // Cell of a day of the shown month, -1 when the month has no such day.
    int CellOfDay(int day) const;
    // 0 for an empty cell.
    int DayInCell(int cell) const;
    int StateOf(int cell) const;

    // False when the day is not in the shown month.
    bool MarkDay(int day);
    // The previously picked day goes back to marked; only a marked day can be picked.
    bool SelectDay(int day);
    int GetSelectedDay() const;
    void ClearMarks();

    int Year() const { return year_; }
    int Month() const { return month_; }
    int FirstWeekday() const { return first_weekday_; }

private:
    int year_ = 0;
    int month_ = 0;
    int first_weekday_ = 1;
    int days_ = 0;
    std::array<int, kCellCount> states_{};
};
