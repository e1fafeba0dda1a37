#pragma once
// The main dialog's four viewers and their placement: one view, a 2 x 2
// split, the whole screen, or one chosen view alone. The grid never chooses a
// layout itself. Window thread only.
#include <QPointer>

#include <array>

#include "media/viewer_geometry.h"

class CMyViewer;
class QWidget;
class ViewerHost;

class ViewerGrid {
public:
    ViewerGrid();
    ~ViewerGrid();
    ViewerGrid(const ViewerGrid&) = delete;
    ViewerGrid& operator=(const ViewerGrid&) = delete;

    // Puts the viewers into parent and shows them; viewer 0 selected, layout 9
    // until the first ApplyLayout.
    void Create(int left, int top, int width, int height, QWidget* parent);
    // n views per row; 1 and 2 move the windows, other values are only recorded.
    void ApplyLayout(int n);
    // As ApplyLayout(1 or 2), remembering the layout it replaces.
    void ChangeLayout(int n);
    void LayoutFullScreen();
    void SelectViewer(int index);
    void ShowSingle(int place);
    // Every viewer empty and its window taken down until the next Create.
    void CloseVideo();

    void SetHost(ViewerHost* host);
    // Null for an index outside 0..3, or once the parent has destroyed the viewer.
    CMyViewer* Viewer(int index) const;
    // The first selected viewer, -1 when none is.
    int SelectedIndex() const;

    int layout() const { return layout_; }
    int previous_layout() const { return previous_layout_; }
    int left() const { return left_; }
    int top() const { return top_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    void Place(const ViewPlacement& placement);
    void SetEveryLayout(int n);
    void SelectFirstWhenNone();
    void PlaceLayout(int n);

    // QPointer: a parent that is destroyed before the grid takes its children with it.
    std::array<QPointer<CMyViewer>, kGridViews> viewers_;
    int left_ = 0;
    int top_ = 0;
    int width_ = 1280;
    int height_ = 1024;
    int layout_ = 1;
    int previous_layout_ = 1;
    static constexpr std::array<int, kGridViews> kSingleViewOrder{0, 1, 2, 3};
};
