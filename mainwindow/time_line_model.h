#pragma once
// What the time line computes without a window: its scale, the hit testing of
// the pointer, the drag and the snapping of a selection to the recordings.
#include <array>
#include <cstdint>
#include <vector>

struct TimeLineSegment {
    int channel = 0;  // 1-4
    int start = 0;    // seconds of the day
    int end = 0;
    int type = 0;     // 1-3 are drawn
};

class TimeLineModel {
public:
    static constexpr int kLeftMargin = 5;
    static constexpr int kHeaderHeight = 25;
    static constexpr int kRowHeight = 30;
    static constexpr int kRows = 4;
    static constexpr int kBaseSlotWidth = 7;
    static constexpr int kSlots = 96;
    static constexpr int kMaxZoom = 23;
    static constexpr int kSecondsPerDay = 86400;
    static constexpr int kScrollHeight = kHeaderHeight + kRows * kRowHeight + 1;

    static int SlotWidthForZoom(int level);
    // Takes part in hit testing and drawing.
    static bool IsShown(const TimeLineSegment& segment);

    void SetZoom(int level);
    int Zoom() const { return zoom_; }
    int SlotWidth() const { return slot_width_; }
    int DayWidth() const { return kSlots * slot_width_; }
    int ScrollWidth() const { return DayWidth() + kLeftMargin + 1; }

    int XOfSecond(int second) const;
    // Content coordinates; valid inside the active area only.
    int SecondAtX(int x) const;
    static int RowAtY(int y) { return (y - kHeaderHeight) / kRowHeight + 1; }
    bool InActiveArea(int x, int y) const;

    // Content coordinates. PressAt starts a drag only inside the active area.
    void PressAt(int x, int y);
    // True when the selection moved (the pointer is inside the active area).
    bool DragTo(int x, int y);
    // Ends a drag; false when none was running.
    bool ReleaseAt(int x, int y);
    // Rows 1-4 when none were chosen; row flags are added to.
    void SetSelection(int start, int end);

    void AppendSegment(const TimeLineSegment& segment) { segments_.push_back(segment); }
    // The row flags stay.
    void ClearSegments();
    const std::vector<TimeLineSegment>& Segments() const { return segments_; }

    int SelectionStart() const { return selection_start_; }
    int SelectionEnd() const { return selection_end_; }
    int FirstRow() const { return first_row_; }
    int LastRow() const { return last_row_; }
    // Channel 1-4.
    bool RowFlag(int channel) const;
    bool Dragging() const { return dragging_; }

private:
    void CompleteSelection();

    int zoom_ = 0;
    int slot_width_ = kBaseSlotWidth;
    int selection_start_ = 0;
    int selection_end_ = 0;
    int first_row_ = 0;
    int last_row_ = 0;
    std::array<bool, kRows> row_flags_{};
    bool dragging_ = false;
    std::vector<TimeLineSegment> segments_;
};
