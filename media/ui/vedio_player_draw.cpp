// The drawing step of VedioPlayer: a smooth stretch of a source rectangle of the
// bottom-up picture onto a Qt paint device.
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QRectF>

#include <cstring>

#include "media/vedio_player.h"

namespace {

// Blue, green, red bytes to 0xFFRRGGBB words. A little-endian word of three
// stored bytes is already the pixel, so four pixels are three loads and
// shifts, four stores.
void BgrRowToRgb32(const uint8_t* in, uint32_t* out, int count) {
    int x = 0;
    for (; x + 4 <= count; x += 4, in += 12, out += 4) {
        uint32_t a, b, c;
        std::memcpy(&a, in, 4);
        std::memcpy(&b, in + 4, 4);
        std::memcpy(&c, in + 8, 4);
        out[0] = 0xFF000000u | a;
        out[1] = 0xFF000000u | a >> 24 | b << 8;
        out[2] = 0xFF000000u | b >> 16 | c << 16;
        out[3] = 0xFF000000u | c >> 8;
    }
    for (; x < count; ++x, in += 3)
        *out++ = 0xFF000000u | static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[1]) << 8 | in[0];
}

}  // namespace

int VedioPlayer::Draw(QPainter* painter, int x_dst, int y_dst, int dx_dst, int dy_dst, int x_src,
                      int y_src, int dx_src, int dy_src) {
    if (!draw_handle_open_ || !painter || !painter->isActive()) return 0;
    // The shown picture is kept from being rewritten while it is read, so no
    // lock is held for the conversion and the stretch.
    BitmapInfoHeader header;
    const Picture* picture = BeginRead(&header);
    struct Release {
        const VedioPlayer* player;
        const Picture* picture;
        ~Release() { player->EndRead(picture); }
    } release{this, picture};
    if (!picture) return 0;
    const int width = picture->width;
    const int height = picture->height;
    if (dx_src == 0 && dy_src == 0) {
        dx_src = width;
        dy_src = height;
    }
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

    // The rows are stored bottom-up and as 24-bit pixels. One pass turns the
    // wanted rows top-down into a kept 32-bit picture, the format Qt stretches
    // without converting first; drawing through a flipping transform takes its
    // slower path, which also dims the picture slightly.
    thread_local QImage scratch;
    if (scratch.width() != inside.width() || scratch.height() != inside.height())
        scratch = QImage(inside.width(), inside.height(), QImage::Format_RGB32);
    if (scratch.isNull()) return 0;
    for (int r = 0; r < inside.height(); ++r) {
        const size_t stored_row = static_cast<size_t>(height - 1 - (inside.top() + r));
        const uint8_t* in =
            picture->bytes.get() + stored_row * static_cast<size_t>(width) * 3 + static_cast<size_t>(inside.left()) * 3;
        auto* out = reinterpret_cast<uint32_t*>(scratch.scanLine(r));
        BgrRowToRgb32(in, out, inside.width());
    }
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter->drawImage(target, scratch);
    painter->restore();
    return 1;
}
