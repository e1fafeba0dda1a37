// The drawing step of VedioPlayer: a smooth stretch of a source rectangle of the
// bottom-up picture onto a Qt paint device.
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QRectF>

#include <cstring>

#include "media/vedio_player.h"

int VedioPlayer::Draw(QPainter* painter, int x_dst, int y_dst, int dx_dst, int dy_dst, int x_src,
                      int y_src, int dx_src, int dy_src) {
    std::lock_guard<std::mutex> lock(picture_lock_);
    const int width = header_.width;
    const int height = header_.height;
    if (dx_src == 0 && dy_src == 0) {
        dx_src = width;
        dy_src = height;
    }
    if (!draw_handle_open_ || !buffer_) return 0;
    if (!painter || !painter->isActive()) return 0;
    if (width <= 0 || height <= 0 || dx_dst <= 0 || dy_dst <= 0 || dx_src <= 0 || dy_src <= 0) return 0;

    // Only the part of the source inside the picture is drawn, onto the matching
    // part of the destination.
    const QRect source(x_src, y_src, dx_src, dy_src);
    const QRect inside = source.intersected(QRect(0, 0, width, height));
    if (inside.isEmpty()) return 0;
    const double sx = static_cast<double>(dx_dst) / dx_src;
    const double sy = static_cast<double>(dy_dst) / dy_src;
    const QRectF target(x_dst + (inside.left() - x_src) * sx, y_dst + (inside.top() - y_src) * sy,
                        inside.width() * sx, inside.height() * sy);

    // The rows are stored bottom-up. Turning the wanted rows top-down into a
    // kept scratch picture costs one copy and leaves Qt its plain smooth scale;
    // drawing through a flipping transform takes its slower path, which also
    // dims the picture slightly.
    thread_local QImage scratch;
    if (scratch.width() != inside.width() || scratch.height() != inside.height())
        scratch = QImage(inside.width(), inside.height(), QImage::Format_BGR888);
    if (scratch.isNull()) return 0;
    const size_t row_bytes = static_cast<size_t>(inside.width()) * 3;
    for (int r = 0; r < inside.height(); ++r) {
        const size_t stored_row = static_cast<size_t>(height - 1 - (inside.top() + r));
        std::memcpy(scratch.scanLine(r),
                    buffer_.get() + stored_row * width * 3 + static_cast<size_t>(inside.left()) * 3, row_bytes);
    }
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter->drawImage(target, scratch);
    painter->restore();
    return 1;
}
