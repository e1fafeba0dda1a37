#include "checker/ui/img_box.h"

#include <QByteArray>
#include <QPainter>

#include "platform/data_file.h"

CImgBox::CImgBox(QWidget* parent) : QWidget(parent) {
    setProperty("controlId", kControlId);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

bool CImgBox::Load(const std::string& path) {
    // Read through the file layer, which refuses a FIFO or device at once:
    // the window thread must never wait for a writer that does not come.
    QImage loaded;
    platform::ReadOnlyFile file;
    const int64_t size = file.Open(path) ? file.Size() : -1;
    if (size > 0 && size <= kMaxFileBytes) {
        QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
        if (file.ReadAt(0, bytes.data(), static_cast<size_t>(size)) == static_cast<size_t>(size))
            loaded.loadFromData(bytes);
    }
    // Any depth is drawn as 24-bit colour, so palette and grey files show right too.
    image_ = loaded.isNull() ? QImage() : loaded.convertToFormat(QImage::Format_RGB888);
    update();
    return !image_.isNull();
}

void CImgBox::Clear() {
    image_ = QImage();
    update();
}

void CImgBox::Paint(QPainter& painter) const {
    const QRect area(0, 0, kDrawWidth, kDrawHeight);
    painter.fillRect(area, Qt::black);
    if (image_.isNull()) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(area, image_);
}

QImage CImgBox::Render() const {
    QImage out(qMax(width(), kDrawWidth), qMax(height(), kDrawHeight), QImage::Format_RGB32);
    out.fill(palette().window().color());
    QPainter painter(&out);
    Paint(painter);
    return out;
}

void CImgBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    Paint(painter);
}
