#include "mainwindow/ui/my_static.h"

#include <QPainter>

#include "media/ui/gdi_paint.h"

CMyStatic::CMyStatic(QWidget* parent, int control_id) : QLabel(parent) {
    setProperty("controlId", control_id);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CMyStatic::SetBackgroundColour(uint32_t colorref) {
    background_ = colorref;
    update();
}

void CMyStatic::SetTextColour(uint32_t colorref) {
    text_ = colorref;
    update();
}

void CMyStatic::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ColorFromColorref(background_));
    painter.setPen(ColorFromColorref(text_));
    painter.setFont(font());
    painter.drawText(contentsRect(), static_cast<int>(alignment()) | Qt::TextSingleLine, text());
}
