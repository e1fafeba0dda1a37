#include "mainwindow/ui/my_slider.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

#include "media/ui/gdi_paint.h"

namespace {

QRect ToQRect(const SliderRect& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }

}  // namespace

CMySlider::CMySlider(Qt::Orientation orientation, QWidget* parent, int control_id) : QSlider(orientation, parent) {
    setProperty("controlId", control_id);
    // Keyboard and wheel changes report like the trackbar's own notifications.
    connect(this, &QAbstractSlider::actionTriggered, this, [this](int action) {
        int code = -1;
        switch (action) {
            case SliderSingleStepAdd: code = kLineDown; break;
            case SliderSingleStepSub: code = kLineUp; break;
            case SliderPageStepAdd: code = kPageDown; break;
            case SliderPageStepSub: code = kPageUp; break;
            case SliderToMinimum: code = kTop; break;
            case SliderToMaximum: code = kBottom; break;
            default: break;
        }
        if (code < 0) return;
        // The action is reported before the value moves.
        QMetaObject::invokeMethod(this, [this, code] { emit Scrolled(code); }, Qt::QueuedConnection);
    });
}

void CMySlider::SetThumbColours(uint32_t normal, uint32_t pressed) {
    thumb_colour_ = normal;
    thumb_pressed_colour_ = pressed;
    update();
}

void CMySlider::paintEvent(QPaintEvent*) {
    // No background fill: the parent's pixels under the slider show through.
    QPainter painter(this);
    const SliderGeometry geometry = Geometry();
    QRect channel = ToQRect(geometry.ChannelRect());
    if (orientation() == Qt::Vertical) channel.adjust(-1, 2, 1, -2);
    painter.fillRect(channel, ColorFromColorref(kChannelColour));

    if (tickPosition() != NoTicks && maximum() > minimum()) {
        const int interval = tickInterval() > 0 ? tickInterval() : std::max(1, pageStep());
        painter.setPen(ColorFromColorref(0));
        for (int value = minimum(); value <= maximum(); value += interval) {
            const QRect at = ToQRect(geometry.ThumbRect(minimum(), maximum(), value));
            if (orientation() == Qt::Horizontal) {
                const int x = at.center().x();
                painter.drawLine(x, at.bottom() + 2, x, at.bottom() + 4);
            } else {
                const int y = at.center().y();
                painter.drawLine(at.right() + 2, y, at.right() + 4, y);
            }
            if (maximum() - value < interval) break;
        }
    }

    const QRect thumb = ToQRect(geometry.ThumbRect(minimum(), maximum(), value()));
    const uint32_t colour = thumb_pressed_ ? thumb_pressed_colour_ : thumb_colour_;
    QColor fill = ColorFromColorref(colour);
    if (colour == 0) fill = thumb_pressed_ ? kEdgeHighlightColour : kEdgeFaceColour;
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(ColorFromColorref(0));
    painter.setBrush(fill);
    // RoundRect with a 10 x 10 ellipse: radius 5.
    painter.drawRoundedRect(QRectF(thumb).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
}

void CMySlider::MoveTo(const QPoint& point) {
    const int position = Geometry().PositionAt(point.x(), point.y(), minimum(), maximum());
    if (position == value()) return;
    setValue(position);
    emit Scrolled(kThumbTrack);
}

void CMySlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    // The thumb jumps under the pointer and is dragged from there.
    thumb_pressed_ = true;
    setSliderDown(true);
    MoveTo(event->position().toPoint());
    update();
    event->accept();
}

void CMySlider::mouseMoveEvent(QMouseEvent* event) {
    if (thumb_pressed_) MoveTo(event->position().toPoint());
    event->accept();
}

void CMySlider::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    thumb_pressed_ = false;
    setSliderDown(false);
    update();
    PostWindowMessage(this, sink_, WM_SLIDER_RELEASED, 0, 0);
    event->accept();
}
