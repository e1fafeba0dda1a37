#include "mainwindow/ui/bmp_button.h"

#include <QMouseEvent>
#include <QPainter>

#include "mainwindow/ui/skin_fallback.h"
#include "mainwindow/ui/skin_image.h"

CBmpButton::CBmpButton(int kind, QWidget* parent, int control_id, int group)
    : QAbstractButton(parent), kind_(kind == kCheckBox || kind == kRadioButton ? kind : kPushButton), group_(group) {
    setProperty("controlId", control_id);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CBmpButton::SetImages(const std::string& disabled, const std::string& normal, const std::string& pressed,
                           const std::string& hover) {
    SetImages(LoadSkinImage(disabled), LoadSkinImage(normal), LoadSkinImage(pressed), LoadSkinImage(hover));
}

void CBmpButton::SetImages(const QImage& disabled, const QImage& normal, const QImage& pressed,
                           const QImage& hover) {
    disabled_ = disabled;
    normal_ = normal;
    pressed_image_ = pressed;
    hover_image_ = hover;
    update();
}

void CBmpButton::SetCheck(int check) {
    checked_ = kind_ != kPushButton && check != 0;
    if (kind_ == kRadioButton && checked_ && parentWidget()) {
        for (CBmpButton* other : parentWidget()->findChildren<CBmpButton*>(Qt::FindDirectChildrenOnly)) {
            if (other != this && other->kind_ == kRadioButton && other->group_ == group_ && other->checked_) {
                other->checked_ = false;
                other->update();
            }
        }
    }
    update();
}

void CBmpButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QImage* image = nullptr;
    bool pressed_look = false;
    if (!isEnabled()) {
        image = &disabled_;
    } else if (isDown() || checked_) {
        image = &pressed_image_;
        pressed_look = true;
    } else {
        image = (hover_ && !hover_image_.isNull()) ? &hover_image_ : &normal_;
    }
    if (image->isNull()) {
        DrawFlatButtonFace(painter, rect(), pressed_look, !isEnabled(), hover_);
    } else {
        painter.drawImage(rect(), *image);
    }
}

void CBmpButton::mousePressEvent(QMouseEvent* event) {
    hover_ = false;
    QAbstractButton::mousePressEvent(event);
    if (event->button() == Qt::LeftButton) pressed_ = true;
}

void CBmpButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        if (pressed_ && kind_ != kPushButton && rect().contains(event->position().toPoint())) {
            SetCheck(kind_ == kCheckBox ? !checked_ : 1);
        }
        pressed_ = false;
    }
    QAbstractButton::mouseReleaseEvent(event);
}

void CBmpButton::mouseMoveEvent(QMouseEvent* event) {
    // While pressed the base class lets the pushed look follow the pointer.
    if (!pressed_ && !hover_) {
        hover_ = true;
        update();
    }
    QAbstractButton::mouseMoveEvent(event);
}

void CBmpButton::leaveEvent(QEvent* event) {
    hover_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}
