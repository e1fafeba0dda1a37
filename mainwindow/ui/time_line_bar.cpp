#include "mainwindow/ui/time_line_bar.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "media/ui/gdi_paint.h"

namespace {

// Wide enough for the largest zoom: 96 slots of 145 pixels and the margins.
constexpr int kBufferWidth = 13926;
constexpr int kLabelFontHeight = 14;

QRect FromCorners(int left, int top, int right, int bottom) {
    return QRect(QPoint(std::min(left, right), std::min(top, bottom)),
                 QPoint(std::max(left, right) - 1, std::max(top, bottom) - 1));
}

}  // namespace

CTimeLineBar::CTimeLineBar(QWidget* parent) : QAbstractScrollArea(parent) {
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    edge_timer_.setInterval(kEdgeScrollMs);
    connect(&edge_timer_, &QTimer::timeout, this, [this] { OnEdgeScrollTimer(); });
    UpdateScrollRange();
}

CTimeLineBar* CTimeLineBar::Create(QWidget* parent, const QRect& rect) {
    if (parent) setParent(parent);
    setProperty("controlId", 0);
    setGeometry(rect);
    SetZoom(0);
    edge_timer_.start();
    buffer_ = QImage(kBufferWidth, TimeLineModel::kScrollHeight, QImage::Format_RGB32);
    show();
    return this;
}

void CTimeLineBar::SetZoom(int level) {
    model_.SetZoom(level);
    UpdateScrollRange();
    viewport()->update();
}

void CTimeLineBar::ClearSegments() {
    model_.ClearSegments();
    viewport()->update();
}

void CTimeLineBar::AppendSegment(const TimeLineSegment& segment) {
    model_.AppendSegment(segment);
    viewport()->update();
}

void CTimeLineBar::SetSelection(int start, int end) {
    model_.SetSelection(start, end);
    viewport()->update();
    PostWindowMessage(this, sink_, WM_POSITION_CHANGED, 0, 0);
}

void CTimeLineBar::UpdateScrollRange() {
    const QSize visible = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, model_.ScrollWidth() - visible.width()));
    horizontalScrollBar()->setPageStep(visible.width());
    verticalScrollBar()->setRange(0, std::max(0, TimeLineModel::kScrollHeight - visible.height()));
    verticalScrollBar()->setPageStep(visible.height());
}

void CTimeLineBar::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRange();
}

QPoint CTimeLineBar::ContentPoint(const QPoint& viewport_point) const {
    return viewport_point + QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void CTimeLineBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint at = ContentPoint(event->position().toPoint());
    model_.PressAt(at.x(), at.y());
    viewport()->update();
}

void CTimeLineBar::mouseMoveEvent(QMouseEvent* event) {
    const QPoint on_view = event->position().toPoint();
    if (on_view.x() < 0) scroll_direction_ = -1;
    if (on_view.x() >= viewport()->width()) scroll_direction_ = 1;
    if (!model_.Dragging()) return;
    const QPoint at = ContentPoint(on_view);
    if (model_.DragTo(at.x(), at.y())) {
        viewport()->setCursor(Qt::PointingHandCursor);
        viewport()->update();
    } else {
        viewport()->setCursor(Qt::ForbiddenCursor);
    }
}

void CTimeLineBar::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint at = ContentPoint(event->position().toPoint());
    viewport()->unsetCursor();
    if (!model_.ReleaseAt(at.x(), at.y())) return;
    viewport()->update();
    PostWindowMessage(this, sink_, WM_POSITION_CHANGED, 0, 0);
}

void CTimeLineBar::OnEdgeScrollTimer() {
    QScrollBar* bar = horizontalScrollBar();
    const int step = model_.Zoom() * kEdgeScrollStep;
    if (scroll_direction_ == 1) {
        scroll_direction_ = 0;
        if (bar->value() + step <= bar->maximum()) bar->setValue(bar->value() + step);
    } else if (scroll_direction_ == -1) {
        scroll_direction_ = 0;
        if (bar->value() - step >= 0) bar->setValue(bar->value() - step);
    }
}

void CTimeLineBar::Draw() {
    if (buffer_.isNull()) buffer_ = QImage(kBufferWidth, TimeLineModel::kScrollHeight, QImage::Format_RGB32);
    const int width = model_.ScrollWidth();
    const int slot = model_.SlotWidth();
    constexpr int kTop = TimeLineModel::kHeaderHeight;
    constexpr int kRowHeight = TimeLineModel::kRowHeight;
    constexpr int kRows = TimeLineModel::kRows;
    constexpr int kLeft = TimeLineModel::kLeftMargin;

    QPainter painter(&buffer_);
    painter.fillRect(QRect(0, 0, width, TimeLineModel::kScrollHeight), Qt::white);
    const QRect header(0, 0, width, kTop);
    painter.fillRect(header, ColorFromColorref(kHeaderColour));
    DrawRaisedEdge(painter, header);

    const QColor grid = ColorFromColorref(kGridColour);
    for (int i = 0; i < TimeLineModel::kSlots; ++i) {
        const int x = kLeft + i * slot;
        // LineTo stops short of its end point.
        painter.fillRect(QRect(x, 2, 1, i % 4 == 0 ? 7 : 4), grid);
    }

    painter.setFont(GdiFont("Arial", kLabelFontHeight, 400));
    painter.setPen(Qt::black);
    const int label_height = QFontMetrics(painter.font()).height();
    for (int hour = 0; hour < 24; ++hour) {
        const QPoint corner(kLeft + hour * 4 * slot - 2, kTop - 16);
        painter.drawText(QRect(corner, QSize(4 * slot, label_height)), Qt::AlignLeft | Qt::AlignTop,
                         QString::asprintf("%.2d", hour));
    }

    for (int row = 0; row < kRows; ++row) {
        for (int hour = 0; hour < 24; ++hour) {
            painter.fillRect(QRect(kLeft + hour * 4 * slot, kTop + kRowHeight * row, slot, kRowHeight),
                             ColorFromColorref(kHourColour));
        }
    }

    const QColor selection = ColorFromColorref(kSelectionColour);
    const int sel_left = model_.XOfSecond(model_.SelectionStart());
    const int sel_right = model_.XOfSecond(model_.SelectionEnd()) + 1;
    if (model_.Dragging()) {
        if (model_.LastRow() != 0) {
            // Rows past the fourth (the bottom border) have nothing to cover.
            const int low = std::clamp(std::min(model_.FirstRow(), model_.LastRow()), 1, kRows);
            const int high = std::clamp(std::max(model_.FirstRow(), model_.LastRow()), 1, kRows);
            painter.fillRect(FromCorners(sel_right, kTop + kRowHeight * (low - 1), sel_left, kTop + kRowHeight * high),
                             selection);
        }
    } else {
        for (int channel = 1; channel <= kRows; ++channel) {
            if (!model_.RowFlag(channel)) continue;
            painter.fillRect(
                FromCorners(sel_right, kTop + kRowHeight * (channel - 1), sel_left, kTop + kRowHeight * channel),
                selection);
        }
    }

    // Cell outlines share their borders: one grid line between neighbours.
    for (int i = 0; i <= TimeLineModel::kSlots; ++i) {
        painter.fillRect(QRect(kLeft + i * slot, kTop, 1, kRows * kRowHeight + 1), grid);
    }
    for (int row = 0; row <= kRows; ++row) {
        painter.fillRect(QRect(kLeft, kTop + row * kRowHeight, TimeLineModel::kSlots * slot + 1, 1), grid);
    }

    for (const TimeLineSegment& segment : model_.Segments()) {
        if (!TimeLineModel::IsShown(segment)) continue;
        const int left = model_.XOfSecond(segment.start);
        const int right = model_.XOfSecond(segment.end);
        if (right < left) continue;
        painter.fillRect(QRect(left, kTop + kRowHeight * (segment.channel - 1) + kBarOffset, right - left + 1, kBarHeight),
                         ColorFromColorref(kTypeColours[segment.type]));
    }
}

QImage CTimeLineBar::RenderContent() {
    Draw();
    return buffer_.copy(0, 0, model_.ScrollWidth(), TimeLineModel::kScrollHeight);
}

void CTimeLineBar::paintEvent(QPaintEvent*) {
    Draw();
    QPainter painter(viewport());
    const QSize visible = viewport()->size();
    painter.fillRect(QRect(QPoint(0, 0), visible), Qt::white);
    const QRect source(horizontalScrollBar()->value(), verticalScrollBar()->value(), visible.width(), visible.height());
    painter.drawImage(QPoint(0, 0), buffer_, source.intersected(QRect(0, 0, model_.ScrollWidth(), TimeLineModel::kScrollHeight)));
}
