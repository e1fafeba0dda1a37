#pragma once
// Month calendar for picking a recording day: month and year boxes, weekday
// captions and 42 day cells. Days with recordings are marked and clickable.
#include <QComboBox>
#include <QRect>
#include <QWidget>

#include <array>

#include "mainwindow/calendar_grid.h"
#include "mainwindow/ui/static_ex.h"
#include "mainwindow/ui/window_message.h"

class CCalendar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kControlId = 400;
    static constexpr int kYearBoxId = 99;
    static constexpr int kMonthBoxId = 98;
    static constexpr int kFirstCaptionId = 91;
    static constexpr int kFirstListedYear = 2005;
    static constexpr int kLastListedYear = 2019;
    static constexpr int kCellTop = 55;
    static constexpr int kCaptionTop = 32;
    static constexpr int kCaptionBottom = 52;

    // Created empty; Create builds the boxes, captions and cells.
    explicit CCalendar(QWidget* parent = nullptr);

    void Create(const QRect& rect, QWidget* parent);
    void FillMonth(int year, int month);
    void SetYear(int year);
    void SetMonth(int month);
    void MarkDay(int day);
    bool SelectDay(int day);
    int GetSelectedDay() const { return grid_.GetSelectedDay(); }
    void ClearMarks();
    // Where WM_CALENDAR_NOTIFY goes (the parent's handler).
    void SetMessageSink(WindowMessageSink sink) { sink_ = std::move(sink); }

    // The month shown, also when its year is not in the year box.
    int Year() const { return grid_.Year(); }
    int Month() const { return grid_.Month(); }
    const CalendarGrid& Grid() const { return grid_; }
    QComboBox* YearBox() const { return year_box_; }
    QComboBox* MonthBox() const { return month_box_; }
    CStaticEx* Cell(int index) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Extends the year box up to year, so that index = year - 2005 holds.
    void ListYearsUpTo(int year);
    void ShowBoxSelection();
    void OnBoxChanged();
    void OnCellMessage(uint32_t message, intptr_t wparam);
    void SyncCells();

    CalendarGrid grid_;
    QComboBox* year_box_ = nullptr;
    QComboBox* month_box_ = nullptr;
    std::array<CStaticEx*, 7> captions_{};
    std::array<CStaticEx*, CalendarGrid::kCellCount> cells_{};
    WindowMessageSink sink_;
};
