#include "mainwindow/ui/static_ex.h"

#include <QMouseEvent>
#include <QPainter>

#include "mainwindow/calendar_grid.h"
#include "media/ui/gdi_paint.h"

CStaticEx::CStaticEx(int state, int control_id, QWidget* parent) : QWidget(parent), state_(-1) {
    setProperty("controlId", control_id);
    SetState(state);
}

void CStaticEx::SetState(int state) {
    if (state == state_) return;
    state_ = state;
    setCursor(state_ == CalendarGrid::kStateMarked ? Qt::PointingHandCursor : Qt::ArrowCursor);
    update();
}

void CStaticEx::SetText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    update();
}

void CStaticEx::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    if (state_ == CalendarGrid::kStateCaption) {
        const int w = width();
        painter.fillRect(QRect(0, 0, w, kBandHeight), ColorFromColorref(kCaptionBand1));
        painter.fillRect(QRect(0, kBandHeight, w, kBandHeight), ColorFromColorref(kCaptionBand2));
        painter.fillRect(QRect(0, 2 * kBandHeight, w, height() - 2 * kBandHeight), ColorFromColorref(kCaptionBand3));
        painter.setPen(Qt::white);
        // TextOut places the cell's top-left corner.
        painter.drawText(QRect(4, 1, w, height()), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text_);
        return;
    }
    uint32_t colour = 0;
    if (state_ == CalendarGrid::kStatePicked) colour = kPickedColour;
    if (state_ == CalendarGrid::kStateMarked) colour = kMarkedColour;
    painter.setPen(ColorFromColorref(colour));
    painter.drawText(rect(), Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, text_);
}

void CStaticEx::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && state_ == CalendarGrid::kStateMarked &&
        rect().contains(event->position().toPoint())) {
        PostWindowMessage(this, sink_, WM_CALENDAR_NOTIFY, text_.toInt(), 0);
    }
    QWidget::mouseReleaseEvent(event);
}
