#pragma once
// One day of recordings of the four channels on a scrollable time scale; the
// user drags out a time range over channel rows, snapped to the recordings.
#include <QAbstractScrollArea>
#include <QImage>
#include <QRect>
#include <QTimer>

#include "mainwindow/time_line_model.h"
#include "mainwindow/ui/window_message.h"

class CTimeLineBar : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr uint32_t kHeaderColour = 0xDEEBEF;
    static constexpr uint32_t kGridColour = 0x9D9D9D;
    static constexpr uint32_t kHourColour = 0xDDDDDD;
    static constexpr uint32_t kSelectionColour = 0xCC8855;
    static constexpr uint32_t kTypeColours[4] = {0, 0x0000DD, 0xDD0000, 0x00DD00};
    static constexpr int kBarOffset = 12;
    static constexpr int kBarHeight = 6;
    static constexpr int kEdgeScrollMs = 100;
    static constexpr int kEdgeScrollStep = 5;

    explicit CTimeLineBar(QWidget* parent = nullptr);
    static CTimeLineBar* CreateObject() { return new CTimeLineBar; }

    CTimeLineBar* Create(QWidget* parent, const QRect& rect);
    void SetZoom(int level);
    void ClearSegments();
    void AppendSegment(const TimeLineSegment& segment);
    void SetSelection(int start, int end);
    // Where WM_POSITION_CHANGED goes (the parent's handler).
    void SetMessageSink(WindowMessageSink sink) { sink_ = std::move(sink); }

    int SelectionStart() const { return model_.SelectionStart(); }
    int SelectionEnd() const { return model_.SelectionEnd(); }
    // Channel 1-4.
    bool RowFlag(int channel) const { return model_.RowFlag(channel); }
    const TimeLineModel& Model() const { return model_; }
    // The whole scroll area as drawn (for checks of the picture).
    QImage RenderContent();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QPoint ContentPoint(const QPoint& viewport_point) const;
    void UpdateScrollRange();
    void OnEdgeScrollTimer();
    void Draw();

    TimeLineModel model_;
    int scroll_direction_ = 0;
    QTimer edge_timer_;
    QImage buffer_;
    WindowMessageSink sink_;
};
