#include "checker/ui/checker_viewer.h"

#include <QMetaObject>
#include <QPainter>

#include <cstring>

CCheckerViewer::CCheckerViewer(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

bool CCheckerViewer::SetFrameSize(int width, int height) { return player_.SetFrameSize(width, height); }

void CCheckerViewer::ShowFrame(const uint8_t* picture, size_t length) {
    {
        auto lock = player_.LockPicture();
        if (!player_.CopyFrame(picture, length)) return;
        if (brightness_on_.load()) player_.AdjustBrightness(brightness_.load());
        if (contrast_on_.load()) player_.AdjustContrast(contrast_.load());
        if (grey_on_.load()) player_.Grey();
    }
    frames_shown_.fetch_add(1);
    QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

void CCheckerViewer::Blank() {
    {
        auto lock = player_.LockPicture();
        if (player_.has_buffer()) std::memset(player_.buffer(), 0, player_.buffer_size());
    }
    player_.CloseDrawHandle();
    QMetaObject::invokeMethod(this, qOverload<>(&QWidget::update), Qt::QueuedConnection);
}

void CCheckerViewer::SetEnhancement(int brightness_on, int contrast_on, int grey_on, int brightness,
                                    int contrast) {
    brightness_on_ = brightness_on;
    contrast_on_ = contrast_on;
    grey_on_ = grey_on;
    brightness_ = brightness;
    contrast_ = contrast;
}

void CCheckerViewer::Paint(QPainter& painter) {
    painter.fillRect(rect(), Qt::black);
    player_.Draw(&painter, 0, 0, width(), height(), 0, 0, 0, 0);
}

QImage CCheckerViewer::Render() {
    QImage out(qMax(1, width()), qMax(1, height()), QImage::Format_RGB32);
    QPainter painter(&out);
    Paint(painter);
    return out;
}

void CCheckerViewer::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Paint(painter);
}

CCheckerViewerGrid::CCheckerViewerGrid(QWidget* parent) : QWidget(parent) {
    for (int i = 0; i < kViews; ++i) {
        viewers_[i] = new CCheckerViewer(this);
        // One view: the first viewer fills the area, the others stay hidden.
        viewers_[i]->setVisible(i == 0);
    }
}

CCheckerViewer* CCheckerViewerGrid::Viewer(int index) const {
    return index >= 0 && index < kViews ? viewers_[index] : nullptr;
}

void CCheckerViewerGrid::resizeEvent(QResizeEvent*) { viewers_[0]->setGeometry(rect()); }
