#include "checker/ui/checker_viewer.h"

#include <QPainter>

#include <cstring>

#include "media/ui/queued_call.h"

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
    ui::PostQueued(this, [this] { update(); });
}

void CCheckerViewer::Blank() {
    {
        auto lock = player_.LockPicture();
        if (player_.has_buffer()) std::memset(player_.buffer(), 0, player_.buffer_size());
    }
    player_.CloseDrawHandle();
    ui::PostQueued(this, [this] { update(); });
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

CCheckerViewerGrid::CCheckerViewerGrid(QWidget* parent, QPoint corner)
    : QWidget(parent), area_(corner, QSize(kAreaWidth, kAreaHeight)) {
    for (auto& viewer : viewers_) viewer = new CCheckerViewer(this);
}

void CCheckerViewerGrid::Create(int, int, int, int) {
    setGeometry(area_);
    for (int i = 0; i < kViews; ++i) {
        viewers_[static_cast<size_t>(i)]->setGeometry(120 * i, 120 * i, 100, 100);
        viewers_[static_cast<size_t>(i)]->show();
    }
    SelectViewer(0);
    layout_ = 9;
}

void CCheckerViewerGrid::ApplyLayout(int n) {
    // The viewers sit in the grid's own window: its corner is the area's.
    const CheckerViewPlacement placement = CheckerGridPlacement(0, 0, area_.width(), area_.height(), n);
    if (!placement[0]) return;
    layout_ = n;
    bool selected_shown = false;
    for (int i = 0; i < kViews; ++i) {
        CCheckerViewer* viewer = viewers_[static_cast<size_t>(i)];
        const ViewRect& r = *placement[static_cast<size_t>(i)];
        viewer->setGeometry(r.x, r.y, r.width, r.height);
        const bool placed = r != kParkedViewRect;
        // A parked viewer's pixel stays under the placed ones.
        if (!placed) viewer->lower();
        if (placed && viewer->IsSelected()) selected_shown = true;
        viewer->update();
    }
    if (!selected_shown) SelectViewer(0);
}

void CCheckerViewerGrid::SelectViewer(int index) {
    for (int i = 0; i < kViews; ++i) {
        CCheckerViewer* viewer = viewers_[static_cast<size_t>(i)];
        viewer->SetSelected(i == index);
        if (i == index) viewer->setFocus();
        viewer->update();
    }
}

int CCheckerViewerGrid::SelectedIndex() const {
    for (int i = 0; i < kViews; ++i)
        if (viewers_[static_cast<size_t>(i)]->IsSelected()) return i;
    return -1;
}

CCheckerViewer* CCheckerViewerGrid::Viewer(int index) const {
    return index >= 0 && index < kViews ? viewers_[static_cast<size_t>(index)] : nullptr;
}
