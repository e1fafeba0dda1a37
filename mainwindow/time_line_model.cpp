#include "mainwindow/time_line_model.h"

#include <algorithm>
#include <limits>

int TimeLineModel::SlotWidthForZoom(int level) {
    level = std::clamp(level, 0, kMaxZoom);
    // The added width grows one step every four levels.
    return kBaseSlotWidth + (level / 4 + 1) * level;
}

bool TimeLineModel::IsShown(const TimeLineSegment& segment) {
    return segment.channel >= 1 && segment.channel <= kRows && segment.type >= 1 && segment.type <= 3;
}

void TimeLineModel::SetZoom(int level) {
    zoom_ = std::clamp(level, 0, kMaxZoom);
    slot_width_ = SlotWidthForZoom(zoom_);
}

// Integer products: the exact truncation of s / (86400 / W), free of the
// rounding that would put whole hours one pixel or one second off.
int TimeLineModel::XOfSecond(int second) const {
    const int64_t offset = int64_t{second} * DayWidth() / kSecondsPerDay;
    return kLeftMargin + static_cast<int>(offset);
}

int TimeLineModel::SecondAtX(int x) const {
    return static_cast<int>(int64_t{kSecondsPerDay} * (x - kLeftMargin) / DayWidth());
}

bool TimeLineModel::InActiveArea(int x, int y) const {
    return x >= kLeftMargin && x <= kLeftMargin + DayWidth() && y >= kHeaderHeight &&
           y <= kHeaderHeight + kRows * kRowHeight;
}

void TimeLineModel::PressAt(int x, int y) {
    if (!InActiveArea(x, y)) return;
    selection_start_ = SecondAtX(x);
    selection_end_ = 0;
    last_row_ = 0;
    first_row_ = RowAtY(y);
    row_flags_.fill(false);
    dragging_ = true;
}

bool TimeLineModel::DragTo(int x, int y) {
    if (!dragging_ || !InActiveArea(x, y)) return false;
    selection_end_ = SecondAtX(x);
    last_row_ = RowAtY(y);
    return true;
}

bool TimeLineModel::ReleaseAt(int x, int y) {
    if (!dragging_) return false;
    dragging_ = false;
    if (InActiveArea(x, y)) {
        selection_end_ = SecondAtX(x);
        last_row_ = RowAtY(y);
    }
    CompleteSelection();
    return true;
}

void TimeLineModel::SetSelection(int start, int end) {
    selection_start_ = start;
    selection_end_ = end;
    if (first_row_ == 0 && last_row_ == 0) {
        first_row_ = 1;
        last_row_ = kRows;
    }
    dragging_ = false;
    CompleteSelection();
}

void TimeLineModel::ClearSegments() {
    segments_.clear();
    selection_start_ = selection_end_ = 0;
    first_row_ = last_row_ = 0;
}

bool TimeLineModel::RowFlag(int channel) const {
    return channel >= 1 && channel <= kRows && row_flags_[static_cast<size_t>(channel - 1)];
}

void TimeLineModel::CompleteSelection() {
    int start = selection_start_;
    int end = selection_end_;
    if (start > end) std::swap(start, end);
    const int low_row = std::min(first_row_, last_row_);
    const int high_row = std::max(first_row_, last_row_);
    auto in_rows = [&](const TimeLineSegment& s) {
        return IsShown(s) && s.channel >= low_row && s.channel <= high_row;
    };

    bool start_inside = false;
    bool end_inside = false;
    int next_start = kSecondsPerDay;
    int previous_end = 0;
    for (const TimeLineSegment& s : segments_) {
        if (!in_rows(s)) continue;
        if (s.start <= start && start <= s.end) start_inside = true;
        if (s.start <= end && end <= s.end) end_inside = true;
        if (s.start > start) next_start = std::min(next_start, s.start);
        if (s.end < end) previous_end = std::max(previous_end, s.end);
    }
    int h = start_inside ? start : next_start;
    int m = end_inside ? end : previous_end;

    const bool begins_in_recording =
        std::any_of(segments_.begin(), segments_.end(), [&](const TimeLineSegment& s) { return in_rows(s) && s.start <= h; });
    if (begins_in_recording && h == m) {
        // A click inside a recording selects one minute, but not past the day.
        m = std::min(h + 60, kSecondsPerDay - 1);
    } else if (!(begins_in_recording && h < m)) {
        h = m = 0;
    }

    selection_start_ = h;
    selection_end_ = m;
    for (const TimeLineSegment& s : segments_) {
        if (in_rows(s) && s.start < m && h < s.end) row_flags_[static_cast<size_t>(s.channel - 1)] = true;
    }
}
