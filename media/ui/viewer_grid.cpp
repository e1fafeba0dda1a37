#include "media/ui/viewer_grid.h"

#include "media/ui/my_viewer.h"
#include "media/ui/ui_services.h"
#include "media/view_slot_order.h"

ViewerGrid::ViewerGrid() {
    for (int i = 0; i < kGridViews; ++i) {
        viewers_[i] = new CMyViewer(nullptr);
        viewers_[i]->SetGrid(this);
    }
}

ViewerGrid::~ViewerGrid() {
    CloseVideo();
    for (auto& viewer : viewers_) delete viewer.data();
}

void ViewerGrid::Create(int left, int top, int width, int height, QWidget* parent) {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    CloseVideo();
    previous_layout_ = 4;
    for (int i = 0; i < kGridViews; ++i) {
        CMyViewer* viewer = viewers_[i];
        if (!viewer) continue;
        viewer->SetKeepAspect(false);
        viewer->SetConnecting(false);
        viewer->setParent(parent);
        viewer->setProperty("controlId", i);
        viewer->setGeometry(120 * i, 120 * i, 100, 100);
        viewer->SetViewIndex(i);
        viewer->show();
    }
    SelectViewer(0);
    layout_ = 9;
}

void ViewerGrid::SetEveryLayout(int n) {
    layout_ = n;
    for (CMyViewer* viewer : viewers_) {
        if (viewer) viewer->SetLayout(n);
    }
}

void ViewerGrid::Place(const ViewPlacement& placement) {
    for (int i = 0; i < kGridViews; ++i) {
        if (!placement[i] || !viewers_[i]) continue;
        const ViewRect& r = *placement[i];
        viewers_[i]->setGeometry(r.x, r.y, r.width, r.height);
        viewers_[i]->update();
    }
}

void ViewerGrid::SelectFirstWhenNone() {
    if (SelectedIndex() < 0) SelectViewer(0);
}

void ViewerGrid::PlaceLayout(int n) {
    Place(GridLayoutPlacement(left_, top_, width_, height_, n, ViewSlotOrder));
    SelectFirstWhenNone();
}

void ViewerGrid::ApplyLayout(int n) {
    SetEveryLayout(n);
    if (n <= 0 || n > 2) return;
    PlaceLayout(n);
}

void ViewerGrid::ChangeLayout(int n) {
    previous_layout_ = layout_;
    SetEveryLayout(n);
    // Callers pass 1 or 2; a value below that places nothing either, as the geometry refuses it.
    if (n > 2) return;
    PlaceLayout(n);
}

void ViewerGrid::LayoutFullScreen() {
    const QSize screen = ui::ScreenSize();
    Place(FullScreenPlacement(layout_, screen.width(), screen.height(), SelectedIndex(), ViewSlotOrder));
}

void ViewerGrid::SelectViewer(int index) {
    for (int i = 0; i < kGridViews; ++i) {
        CMyViewer* viewer = viewers_[i];
        if (!viewer) continue;
        viewer->SetSelected(i == index);
        if (i == index) viewer->setFocus(Qt::OtherFocusReason);
        viewer->update();
    }
}

void ViewerGrid::ShowSingle(int place) {
    if (place < 0 || place >= kGridViews) return;
    previous_layout_ = layout_;
    SetEveryLayout(1);
    Place(SingleViewPlacement(left_, top_, width_, height_, kSingleViewOrder[place]));
}

void ViewerGrid::CloseVideo() {
    for (CMyViewer* viewer : viewers_) {
        if (!viewer) continue;
        viewer->ClearVideo();
        viewer->hide();
    }
}

void ViewerGrid::SetHost(ViewerHost* host) {
    for (CMyViewer* viewer : viewers_) {
        if (viewer) viewer->SetHost(host);
    }
}

CMyViewer* ViewerGrid::Viewer(int index) const {
    if (index < 0 || index >= kGridViews) return nullptr;
    return viewers_[index];
}

int ViewerGrid::SelectedIndex() const {
    for (int i = 0; i < kGridViews; ++i) {
        if (viewers_[i] && viewers_[i]->IsSelected()) return i;
    }
    return -1;
}
