#include "mainwindow/calendar_grid.h"

#include <algorithm>
#include <chrono>

int CalendarGrid::FirstWeekdayNumber(int year, int month) {
    using namespace std::chrono;
    const sys_days first{std::chrono::year{year} / std::chrono::month{static_cast<unsigned>(month)} / 1};
    return static_cast<int>(weekday{first}.c_encoding()) + 1;
}

int CalendarGrid::DaysInMonth(int year, int month) {
    switch (month) {
        case 4: case 6: case 9: case 11: return 30;
        case 2: return std::chrono::year{year}.is_leap() ? 29 : 28;
        default: return 31;
    }
}

void CalendarGrid::FillMonth(int year, int month) {
    year_ = year;
    month_ = std::clamp(month, 1, 12);
    first_weekday_ = FirstWeekdayNumber(year_, month_);
    days_ = DaysInMonth(year_, month_);
    states_.fill(kStatePlain);
}

int CalendarGrid::CellOfDay(int day) const {
    if (day < 1 || day > days_) return -1;
    return day + first_weekday_ - 2;
}

int CalendarGrid::DayInCell(int cell) const {
    const int day = cell - first_weekday_ + 2;
    return (cell >= 0 && cell < kCellCount && day >= 1 && day <= days_) ? day : 0;
}

int CalendarGrid::StateOf(int cell) const {
    return (cell >= 0 && cell < kCellCount) ? states_[static_cast<size_t>(cell)] : kStatePlain;
}

bool CalendarGrid::MarkDay(int day) {
    const int cell = CellOfDay(day);
    if (cell < 0) return false;
    states_[static_cast<size_t>(cell)] = kStateMarked;
    return true;
}

bool CalendarGrid::SelectDay(int day) {
    for (int& state : states_) {
        if (state == kStatePicked) state = kStateMarked;
    }
    const int cell = CellOfDay(day);
    if (cell < 0 || states_[static_cast<size_t>(cell)] != kStateMarked) return false;
    states_[static_cast<size_t>(cell)] = kStatePicked;
    return true;
}

int CalendarGrid::GetSelectedDay() const {
    for (int cell = 0; cell < kCellCount; ++cell) {
        if (states_[static_cast<size_t>(cell)] == kStatePicked) return DayInCell(cell);
    }
    return 0;
}

void CalendarGrid::ClearMarks() { states_.fill(kStatePlain); }
