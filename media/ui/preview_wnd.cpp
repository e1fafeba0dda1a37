#include "media/ui/preview_wnd.h"

#include <QPainter>
#include <QPointer>

#include "media/ui/queued_call.h"

CPreviewWnd::CPreviewWnd(QWidget* parent) : QWidget(parent) {
    resize(640, 360);
}

void CPreviewWnd::PostPreviewFrame(int width, int height) {
    QPointer<CPreviewWnd> self(this);
    ui::PostQueued(this, [self, width, height] {
        if (self) self->OnPreviewFrame(width, height);
    });
}

void CPreviewWnd::OnPreviewFrame(int width, int height) {
    if (!engine_ || width <= 0 || height <= 0) return;
    if (!engine_->CopyOutput(width, height, &copy_)) return;
    frame_width_ = width;
    frame_height_ = height;
    // The engine keeps rows bottom-up in blue-green-red order.
    picture_ = QImage(width, height, QImage::Format_RGB888);
    const size_t row = static_cast<size_t>(width) * 3;
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = copy_.data() + row * static_cast<size_t>(height - 1 - y);
        uint8_t* dst = picture_.scanLine(y);
        for (int x = 0; x < width; ++x) {
            dst[3 * x] = src[3 * x + 2];
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x];
        }
    }
    update();
}

void CPreviewWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (picture_.isNull()) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), picture_);
}
