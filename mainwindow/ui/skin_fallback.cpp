#include "mainwindow/ui/skin_fallback.h"

#include "media/ui/gdi_paint.h"

void DrawFlatButtonFace(QPainter& painter, const QRect& rect, bool pressed, bool disabled, bool hover) {
    QColor face = kFlatFaceColour;
    if (disabled) {
        face = kFlatDisabledColour;
    } else if (pressed) {
        face = kFlatPressedColour;
    } else if (hover) {
        face = kFlatHoverColour;
    }
    painter.fillRect(rect, face);
    if (rect.width() > 2 && rect.height() > 2) {
        painter.save();
        painter.setPen(kEdgeShadowColour);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect.adjusted(0, 0, -1, -1));
        painter.restore();
    }
}
