#include "mainwindow/ui/my_button.h"

#include <QMouseEvent>
#include <QPainter>

#include "mainwindow/ui/skin_image.h"
#include "mainwindow/ui/skin_fallback.h"

CMyButton::CMyButton(QWidget* parent, int control_id) : QAbstractButton(parent) {
    setProperty("controlId", control_id);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CMyButton::SetImages(const std::string& first, const std::string& normal, const std::string& pressed,
                          const std::string& hover) {
    SetImages(LoadSkinImage(first), LoadSkinImage(normal), LoadSkinImage(pressed), LoadSkinImage(hover));
}

void CMyButton::SetImages(const QImage& first, const QImage& normal, const QImage& pressed, const QImage& hover) {
    first_ = first;
    normal_ = normal;
    pressed_ = pressed;
    hover_image_ = hover;
    update();
}

void CMyButton::SetLatched(int latched) {
    latched_ = latched;
    update();
}

void CMyButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const bool disabled = !isEnabled();
    const bool selected = isDown();
    if (normal_.isNull()) {
        DrawFlatButtonFace(painter, rect(), selected || latched_ != 0, disabled, hover_ != 0);
    } else {
        painter.drawImage(rect(), normal_);
    }
    if (hover_ != 0 && !hover_image_.isNull()) painter.drawImage(QPoint(0, 0), hover_image_);
    if (latched_ != 0 && !first_.isNull()) painter.drawImage(QPoint(0, 0), first_);
    if (disabled && !first_.isNull()) painter.drawImage(QPoint(0, 0), first_);
    if (selected && !pressed_.isNull()) painter.drawImage(QPoint(0, 0), pressed_);
}

void CMyButton::mouseMoveEvent(QMouseEvent* event) {
    if (hover_ == 0) {
        hover_ = 1;
        update();
    }
    QAbstractButton::mouseMoveEvent(event);
}

void CMyButton::leaveEvent(QEvent* event) {
    hover_ = 0;
    update();
    QAbstractButton::leaveEvent(event);
}
