#include "checker/ui/img_box.h"

#include <QPainter>

CImgBox::CImgBox(QWidget* parent) : QWidget(parent) {
    setProperty("controlId", kControlId);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

bool CImgBox::Load(const std::string& path) {
    QImage loaded(QString::fromStdString(path));
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
