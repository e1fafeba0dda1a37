// The drawing step of VedioPlayer: a smooth stretch of a source rectangle of the
// bottom-up picture onto a Qt paint device.
#include <QImage>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QRect>
#include <QRectF>
#include <QRegion>
#include <QTransform>

#include <algorithm>
#include <cmath>

#include "media/vedio_player.h"

namespace {

// The 32-bit pixels of the rectangle (in device pixels, before the device
// transform's offset) on the image the painter draws into, and their stride,
// when the stretch may write them itself: the paint engine would only copy
// them there, and that copy of every pixel of every picture cost about as
// much as half the stretch. Null where anything the engine does on the way
// matters: a clip, a blend, a pixel format other than opaque 32-bit, an
// offset between device pixels, or part of the rectangle outside the image or
// the region being repainted.
uint32_t* DeviceTarget(QPainter* painter, const QRect& rect, double dpr, size_t* stride) {
    QPaintEngine* engine = painter->paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster || painter->hasClipping() || painter->opacity() != 1.0)
        return nullptr;
    const auto mode = painter->compositionMode();
    if (mode != QPainter::CompositionMode_SourceOver && mode != QPainter::CompositionMode_Source) return nullptr;
    QPaintDevice* device = engine->paintDevice();
    if (!device || device->devType() != QInternal::Image) return nullptr;
    const QImage* image = static_cast<const QImage*>(device);
    const auto format = image->format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
        format != QImage::Format_ARGB32_Premultiplied)
        return nullptr;
    // The device transform adds the widget's place in its window to the painter's own.
    const QTransform t = painter->deviceTransform();
    if (t.type() > QTransform::TxScale || t.m11() != dpr || t.m22() != dpr || t.dx() != std::floor(t.dx()) ||
        t.dy() != std::floor(t.dy()))
        return nullptr;
    const QRect on_device = rect.translated(static_cast<int>(t.dx()), static_cast<int>(t.dy()));
    if (!image->rect().contains(on_device)) return nullptr;
    // An empty system clip is the whole device.
    const QRegion repainted = engine->systemClip();
    if (!repainted.isEmpty() && !QRegion(on_device).subtracted(repainted).isEmpty()) return nullptr;
    *stride = static_cast<size_t>(image->bytesPerLine()) / 4;
    // The engine writes these same bytes; bits() could detach the image from them.
    return reinterpret_cast<uint32_t*>(const_cast<uchar*>(image->constBits())) +
           static_cast<size_t>(on_device.top()) * *stride + on_device.left();
}

}  // namespace

int VedioPlayer::Draw(QPainter* painter, int x_dst, int y_dst, int dx_dst, int dy_dst, int x_src,
                      int y_src, int dx_src, int dy_src) {
    if (!draw_handle_open_ || !painter || !painter->isActive()) return 0;
    // The shown picture is kept from being rewritten while it is read, so no
    // lock is held for the stretch.
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

    // Stretched here at the size it covers on the device (in device pixels on
    // a high-density screen) and only copied there: Qt's own smooth stretch
    // costs twice as much and first needs the picture converted to 32 bits.
    // A strip at a time, so what is copied is still in the processor's cache.
    // Under a painter that scales or turns, Qt maps the result once more,
    // whole, so no seams show between strips.
    // The painter's transform holds the device's pixel ratio as a scale.
    const QTransform transform = painter->combinedTransform();
    const double device_ratio = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
    const bool plain = transform.type() <= QTransform::TxScale && transform.m11() == device_ratio &&
                       transform.m22() == device_ratio;
    const double dpr = plain ? device_ratio : 1.0;
    const int left = static_cast<int>(std::lround(target.left() * dpr));
    const int top = static_cast<int>(std::lround(target.top() * dpr));
    const int out_width = std::max(1, static_cast<int>(std::lround(target.right() * dpr)) - left);
    const int out_height = std::max(1, static_cast<int>(std::lround(target.bottom() * dpr)) - top);
    StretchMapping m;
    m.step_x = dx_src / (dx_dst * dpr);
    m.step_y = dy_src / (dy_dst * dpr);
    m.x = inside.left() + (left - target.left() * dpr) * m.step_x;
    m.y = inside.top() + (top - target.top() * dpr) * m.step_y;
    m.clip_left = inside.left();
    m.clip_top = inside.top();
    m.clip_right = inside.left() + inside.width();
    m.clip_bottom = inside.top() + inside.height();
    const StretchSource stretch_source{picture->bytes.get(), width, height};
    size_t device_stride = 0;
    if (plain) {
        if (uint32_t* pixels = DeviceTarget(painter, QRect(left, top, out_width, out_height), dpr, &device_stride))
            return stretcher_.Stretch(stretch_source, m, pixels, device_stride, out_width, out_height, 0, true) ? 1 : 0;
    }
    constexpr int kStripPixels = 64 * 1024;
    const int strip_rows = plain ? std::clamp(kStripPixels / out_width, 1, out_height) : out_height;
    strip_.resize(static_cast<size_t>(out_width) * strip_rows);
    if (!plain) {
        painter->save();
        painter->setRenderHint(QPainter::SmoothPixmapTransform, true);
    }
    for (int row = 0; row < out_height; row += strip_rows) {
        const int rows = std::min(strip_rows, out_height - row);
        if (!stretcher_.Stretch(stretch_source, m, strip_.data(), static_cast<size_t>(out_width), out_width, rows,
                                row)) {
            if (!plain) painter->restore();
            return 0;
        }
        QImage image(reinterpret_cast<const uchar*>(strip_.data()), out_width, rows, out_width * 4,
                     QImage::Format_RGB32);
        if (plain) {
            image.setDevicePixelRatio(dpr);
            painter->drawImage(QPointF(left / dpr, (top + row) / dpr), image);
        } else {
            painter->drawImage(QRectF(left, top, out_width, out_height), image);
        }
    }
    if (!plain) painter->restore();
    return 1;
}
