#include "mainwindow/ui/calendar.h"

#include <QPainter>

#include <algorithm>
#include <chrono>
#include <ctime>

#include "media/ui/gdi_paint.h"

namespace {

constexpr int kCalendarFontHeight = 16;
const char* const kWeekdayCaptions[7] = {"  S", "  M", "  T", "  W", "  T", "  F", "  S"};

std::tm LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

QRect FromCorners(int left, int top, int right, int bottom) { return QRect(left, top, right - left, bottom - top); }

}  // namespace

CCalendar::CCalendar(QWidget* parent) : QWidget(parent) {
    setProperty("controlId", kControlId);
    hide();
}

void CCalendar::Create(const QRect& rect, QWidget* parent) {
    if (year_box_) return;
    if (parent) setParent(parent);
    setGeometry(rect);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, kEdgeFaceColour);
    setPalette(colours);
    setFont(GdiFont("Arial", kCalendarFontHeight, 400));

    const int w = rect.width();
    const int h = rect.height();
    const std::tm now = LocalNow();
    const int this_year = now.tm_year + 1900;
    const int this_month = now.tm_mon + 1;

    month_box_ = new QComboBox(this);
    month_box_->setProperty("controlId", kMonthBoxId);
    // As tall as the font needs, up to the weekday captions.
    const int box_top = 3;
    const int box_bottom = box_top + std::min(month_box_->sizeHint().height(), kCaptionTop - 3 - box_top);
    month_box_->setGeometry(FromCorners(5, box_top, w / 2 - 3, box_bottom));
    for (int month = 1; month <= 12; ++month) month_box_->addItem(QString::asprintf("%.2d", month));
    month_box_->setCurrentIndex(this_month - 1);

    year_box_ = new QComboBox(this);
    year_box_->setProperty("controlId", kYearBoxId);
    year_box_->setGeometry(FromCorners(w / 2 + 3, box_top, w - 5, box_bottom));
    // The list reaches at least the coming year, so current recordings can be picked.
    ListYearsUpTo(std::max(kLastListedYear, this_year + 1));
    year_box_->setCurrentIndex(this_year >= kFirstListedYear ? this_year - kFirstListedYear : -1);

    const int c = w / 7;
    for (int k = 0; k < 7; ++k) {
        auto* caption = new CStaticEx(CalendarGrid::kStateCaption, kFirstCaptionId + k, this);
        const int left = k == 0 ? 1 : c * k;
        const int right = k == 6 ? w : c * (k + 1);
        caption->setGeometry(FromCorners(left, kCaptionTop, right, kCaptionBottom));
        caption->SetText(QString::fromLatin1(kWeekdayCaptions[k]));
        captions_[static_cast<size_t>(k)] = caption;
    }
    const int t = (h - kCellTop) / 6;
    for (int r = 0; r < 6; ++r) {
        for (int k = 0; k < 7; ++k) {
            const int index = r * 7 + k;
            auto* cell = new CStaticEx(CalendarGrid::kStatePlain, index, this);
            cell->setGeometry(FromCorners(c * k, kCellTop + t * r, c * (k + 1), kCellTop + t * (r + 1)));
            cell->SetMessageSink([this](uint32_t message, intptr_t wparam, intptr_t) { OnCellMessage(message, wparam); });
            cells_[static_cast<size_t>(index)] = cell;
        }
    }

    connect(month_box_, &QComboBox::activated, this, [this] { OnBoxChanged(); });
    connect(year_box_, &QComboBox::activated, this, [this] { OnBoxChanged(); });

    FillMonth(this_year, this_month);
    show();
}

void CCalendar::ListYearsUpTo(int year) {
    for (int next = kFirstListedYear + year_box_->count(); next <= year; ++next) {
        year_box_->addItem(QString::number(next));
    }
}

CStaticEx* CCalendar::Cell(int index) const {
    return index >= 0 && index < CalendarGrid::kCellCount ? cells_[static_cast<size_t>(index)] : nullptr;
}

void CCalendar::FillMonth(int year, int month) {
    grid_.FillMonth(year, month);
    SyncCells();
}

void CCalendar::SetYear(int year) {
    if (!year_box_) return;
    if (year >= kFirstListedYear) {
        ListYearsUpTo(year);
        year_box_->setCurrentIndex(year - kFirstListedYear);
    } else {
        year_box_->setCurrentIndex(-1);
    }
    ShowBoxSelection();
    // A year the box cannot hold is still shown.
    if (year < kFirstListedYear) FillMonth(year, grid_.Month());
}

void CCalendar::SetMonth(int month) {
    if (!month_box_) return;
    if (month >= 1 && month <= 12) month_box_->setCurrentIndex(month - 1);
    ShowBoxSelection();
}

void CCalendar::ShowBoxSelection() {
    const int year_index = year_box_->currentIndex();
    const int month_index = month_box_->currentIndex();
    const int year = year_index >= 0 ? year_index + kFirstListedYear : grid_.Year();
    const int month = month_index >= 0 ? month_index + 1 : grid_.Month();
    FillMonth(year, month);
}

void CCalendar::OnBoxChanged() {
    ShowBoxSelection();
    PostWindowMessage(this, sink_, WM_CALENDAR_NOTIFY, 0, 0);
}

void CCalendar::OnCellMessage(uint32_t message, intptr_t wparam) {
    if (message != WM_CALENDAR_NOTIFY) return;
    SelectDay(static_cast<int>(wparam));
    PostWindowMessage(this, sink_, WM_CALENDAR_NOTIFY, 1, 0);
}

void CCalendar::MarkDay(int day) {
    grid_.MarkDay(day);
    SyncCells();
}

bool CCalendar::SelectDay(int day) {
    const bool picked = grid_.SelectDay(day);
    SyncCells();
    return picked;
}

void CCalendar::ClearMarks() {
    grid_.ClearMarks();
    SyncCells();
}

void CCalendar::SyncCells() {
    for (int i = 0; i < CalendarGrid::kCellCount; ++i) {
        CStaticEx* cell = cells_[static_cast<size_t>(i)];
        if (!cell) continue;
        const int day = grid_.DayInCell(i);
        cell->SetText(day > 0 ? QString::number(day) : QString());
        cell->SetState(grid_.StateOf(i));
    }
    update();
}

void CCalendar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DrawEtchedEdge(painter, rect());
}
