// The etched flat edge against the pen outlines it stands for, on an image
// painted as a window is, at one and two device pixels a point.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QPen>

#include "media/ui/gdi_paint.h"
#include "tests/mainwindow/ui/control_test_support.h"

namespace {

QImage Canvas(double dpr) {
    QImage image(static_cast<int>(40 * dpr), static_cast<int>(30 * dpr), QImage::Format_RGB32);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::black);
    return image;
}

// The outline a one-pixel pen draws of (x, y, w-1, h-1), as the edge always was drawn.
void PenOutline(QPainter& painter, const QRect& rect, const QColor& colour) {
    QPen pen(colour, 1);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
}

TEST(GdiPaintTest, EtchedFlatEdgeCoversWhatTwoPenOutlinesCover) {
    control_test::EnsureApplication();
    const QRect rects[] = {{3, 4, 20, 12}, {0, 0, 40, 30}, {5, 5, 1, 1},  {5, 5, 1, 7},  {5, 5, 7, 1},
                           {5, 5, 2, 2},   {5, 5, 3, 3},   {5, 5, 2, 9},  {5, 5, 9, 2},  {30, 20, 15, 15},
                           {5, 5, 0, 4},   {5, 5, 4, -1}, {-3, 2, 10, 10}, {35, 25, 10, 10}};
    for (double dpr : {1.0, 2.0}) {
        for (const QRect& r : rects) {
            SCOPED_TRACE(std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
                         std::to_string(r.height()) + " at " + std::to_string(dpr));
            QImage drawn = Canvas(dpr);
            {
                QPainter painter(&drawn);
                DrawEtchedFlatEdge(painter, r);
            }
            // Outlined with a margin round the canvas: the pen drops a corner
            // pixel of an outline that starts outside the device.
            QImage outlined(static_cast<int>(60 * dpr), static_cast<int>(50 * dpr), QImage::Format_RGB32);
            outlined.setDevicePixelRatio(dpr);
            outlined.fill(Qt::black);
            if (r.width() > 0 && r.height() > 0) {
                QPainter painter(&outlined);
                const QRect moved = r.translated(10, 10);
                PenOutline(painter, moved, kEdgeShadowColour);
                if (r.width() > 2 && r.height() > 2) PenOutline(painter, moved.adjusted(1, 1, -1, -1), kEdgeFaceColour);
            }
            QImage expected = outlined.copy(static_cast<int>(10 * dpr), static_cast<int>(10 * dpr), drawn.width(),
                                            drawn.height());
            expected.setDevicePixelRatio(dpr);
            EXPECT_EQ(drawn, expected);
        }
    }
}

}  // namespace
