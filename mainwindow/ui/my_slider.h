#pragma once
// Slider of the skin: a dark channel and a rounded thumb over the dialog's
// own background, jumping to a click. Letting go posts WM_SLIDER_RELEASED.
#include <QSlider>

#include <cstdint>

#include "mainwindow/slider_geometry.h"
#include "mainwindow/ui/window_message.h"

class CMySlider : public QSlider {
    Q_OBJECT
public:
    // Scroll codes of Scrolled, as the trackbar's notifications number them.
    static constexpr int kLineUp = 0;
    static constexpr int kLineDown = 1;
    static constexpr int kPageUp = 2;
    static constexpr int kPageDown = 3;
    static constexpr int kThumbTrack = 5;
    static constexpr int kTop = 6;
    static constexpr int kBottom = 7;
    static constexpr uint32_t kChannelColour = 0x323232;

    explicit CMySlider(Qt::Orientation orientation = Qt::Horizontal, QWidget* parent = nullptr, int control_id = 0);

    // COLORREF; 0 takes the system's button colours.
    void SetThumbColours(uint32_t normal, uint32_t pressed);
    // Where WM_SLIDER_RELEASED goes (the parent's handler).
    void SetMessageSink(WindowMessageSink sink) { sink_ = std::move(sink); }
    SliderGeometry Geometry() const { return SliderGeometry(width(), height(), orientation() == Qt::Vertical); }
    bool ThumbPressed() const { return thumb_pressed_; }

signals:
    // A position change made by the user, with its scroll code.
    void Scrolled(int code);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void MoveTo(const QPoint& point);

    uint32_t thumb_colour_ = 0;
    uint32_t thumb_pressed_colour_ = 0;
    bool thumb_pressed_ = false;
    WindowMessageSink sink_;
};
