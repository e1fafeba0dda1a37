#pragma once
// Window-independent arithmetic of the viewers and their grid: placements,
// digital zoom, picture and overview rectangles, text scale, print size.
#include <array>
#include <cstdint>
#include <optional>

struct ViewRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const ViewRect&) const = default;
};

inline constexpr int kGridViews = 4;
// Views that are not shown are parked here rather than hidden, as the layout always did.
inline constexpr ViewRect kParkedViewRect{0, 0, 1, 1};

// Per view index: where to move it; empty = leave it where it is.
using ViewPlacement = std::array<std::optional<ViewRect>, kGridViews>;

// n views per row (1 or 2) over the area; place i shows view slot_order[i].
// The last row takes what the division leaves; the last column does not.
// Empty placement for any other n. A view that no place shows is parked.
ViewPlacement GridLayoutPlacement(int left, int top, int width, int height, int n, const int* slot_order);

// One view over the whole area, the others parked; empty when view is not 0..3.
ViewPlacement SingleViewPlacement(int left, int top, int width, int height, int view);

// Full screen: layout 1 moves only selected_view (0..3; anything else means view 0);
// layout 2 splits the screen by slot_order; other layouts move nothing.
ViewPlacement FullScreenPlacement(int layout, int screen_width, int screen_height, int selected_view,
                                  const int* slot_order);

// The checker's grid: sixteen views, no slot table. Layout n (1 to 4) puts view
// 4 x row + column at (column x c, row x d) from the area's corner, c and d the
// area divided by n; the last column and row take what the division leaves.
// Views outside the n x n square are parked. Empty for any other n.
inline constexpr int kCheckerGridViews = 16;
using CheckerViewPlacement = std::array<std::optional<ViewRect>, kCheckerGridViews>;
CheckerViewPlacement CheckerGridPlacement(int left, int top, int width, int height, int n);

inline constexpr int kMaxZoomLevel = 43;

// Source rectangle taken from the picture; level 0 is the whole picture.
struct ZoomWindow {
    int level = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const ZoomWindow&) const = default;
};

ZoomWindow WholePicture(int picture_width, int picture_height);
// Shrinks (steps > 0) or grows the window about its centre by 1/48 of the
// picture per level. Level 43 is a stop: the window stays as it was.
void ApplyZoomSteps(ZoomWindow& zoom, int steps, int picture_width, int picture_height);
// Drag from (last_x, last_y) to (x, y): one screen pixel moves one picture
// pixel, and an axis moves only while the window stays inside the picture.
void PanZoom(ZoomWindow& zoom, int last_x, int last_y, int x, int y, int picture_width, int picture_height);

// Where the picture goes in a client area of cw x ch: stretched inside the
// 1-pixel border, or letterboxed with keep_aspect.
ViewRect PictureDestination(int cw, int ch, int picture_width, int picture_height, bool keep_aspect);

// The zoom overview in the bottom-right corner: the picture's outline at an
// eighth of the client width and the zoom window inside it.
struct OverviewRects {
    ViewRect outer;
    ViewRect inner;
};
// Empty when the level is 1 or less, the origin is negative or a size is not positive.
std::optional<OverviewRects> OverviewRectangles(int cw, int ch, int picture_width, int picture_height,
                                                const ZoomWindow& zoom);

// Text cell height for the layout (views per row), larger while connecting.
int OsdFontHeight(int font_height, int layout, bool connecting);

// Size to stretch a w x h capture to on a page_width x page_height page: the
// full page width (portrait) or height (landscape), the other side the capture
// times the whole number of times it fits. Zero for an empty capture.
struct PrintSize {
    int64_t width = 0;
    int64_t height = 0;
    bool operator==(const PrintSize&) const = default;
};
PrintSize PrintTargetSize(int page_width, int page_height, int width, int height);
