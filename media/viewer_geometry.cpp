#include "media/viewer_geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

bool IsGridView(int view) { return view >= 0 && view < kGridViews; }

void ParkUnplaced(ViewPlacement& placement) {
    for (auto& rect : placement) {
        if (!rect) rect = kParkedViewRect;
    }
}

}  // namespace

ViewPlacement GridLayoutPlacement(int left, int top, int width, int height, int n, const int* slot_order) {
    ViewPlacement placement;
    if (n <= 0 || n > 2) return placement;
    const int cw = static_cast<int>(static_cast<double>(width) / n);
    const int ch = static_cast<int>(static_cast<double>(height) / n);
    for (int i = 0; i < kGridViews; ++i) {
        const int view = slot_order[i];
        // The table holds nine views; only four exist.
        if (!IsGridView(view)) continue;
        if (i < n * n) {
            const int row = i / n;
            const int h = row == n - 1 ? height - (n - 1) * ch : ch;
            placement[view] = ViewRect{left + cw * (i % n), top + ch * row, cw, h};
        } else {
            placement[view] = kParkedViewRect;
        }
    }
    ParkUnplaced(placement);
    return placement;
}

ViewPlacement SingleViewPlacement(int left, int top, int width, int height, int view) {
    ViewPlacement placement;
    if (!IsGridView(view)) return placement;
    placement[view] = ViewRect{left, top, width, height};
    ParkUnplaced(placement);
    return placement;
}

ViewPlacement FullScreenPlacement(int layout, int screen_width, int screen_height, int selected_view,
                                  const int* slot_order) {
    ViewPlacement placement;
    if (layout == 1) {
        const int view = IsGridView(selected_view) ? selected_view : 0;
        placement[view] = ViewRect{0, 0, screen_width - 2, screen_height - 2};
    } else if (layout == 2) {
        const int d = static_cast<int>(static_cast<double>(screen_width) / 2);
        const int e = static_cast<int>(static_cast<double>(screen_height) / 2);
        for (int i = 0; i < kGridViews; ++i) {
            const int view = slot_order[i];
            if (IsGridView(view)) placement[view] = ViewRect{d * (i % 2), e * (i / 2), d, e};
        }
        ParkUnplaced(placement);
    }
    return placement;
}

CheckerViewPlacement CheckerGridPlacement(int left, int top, int width, int height, int n) {
    CheckerViewPlacement placement;
    if (n <= 0 || n > 4) return placement;
    const int c = static_cast<int>(static_cast<double>(width) / n);
    const int d = static_cast<int>(static_cast<double>(height) / n);
    placement.fill(kParkedViewRect);
    for (int row = 0; row < n; ++row) {
        for (int column = 0; column < n; ++column) {
            const int w = column == n - 1 ? width - c * (n - 1) : c;
            const int h = row == n - 1 ? height - d * (n - 1) : d;
            placement[static_cast<size_t>(4 * row + column)] = ViewRect{left + column * c, top + row * d, w, h};
        }
    }
    return placement;
}

ZoomWindow WholePicture(int picture_width, int picture_height) {
    return ZoomWindow{0, 0, 0, picture_width, picture_height};
}

void ApplyZoomSteps(ZoomWindow& zoom, int steps, int picture_width, int picture_height) {
    const int64_t level = std::clamp<int64_t>(int64_t{zoom.level} + steps, 0, kMaxZoomLevel);
    zoom.level = static_cast<int>(level);
    if (level == 0) {
        zoom = WholePicture(picture_width, picture_height);
        return;
    }
    if (level == kMaxZoomLevel) return;
    // Past the clamps above |steps| < 43, so nothing below can overflow.
    const double sx = picture_width / 48.0;
    const double sy = picture_height / 48.0;
    zoom.width = picture_width - zoom.level * static_cast<int>(sx);
    zoom.height = picture_height - zoom.level * static_cast<int>(sy);
    const int half_x = static_cast<int>(sx * 0.5);
    const int half_y = static_cast<int>(sy * 0.5);
    if (steps > 0) {
        zoom.x += steps * half_x;
        zoom.y += steps * half_y;
        return;
    }
    const int back = std::abs(steps);
    zoom.x = std::max(0, zoom.x - back * half_x);
    zoom.y = std::max(0, zoom.y - back * half_y);
    if (zoom.width + zoom.x >= picture_width) zoom.x = picture_width - zoom.width;
    if (zoom.height + zoom.y >= picture_height) zoom.y = picture_height - zoom.height;
}

void PanZoom(ZoomWindow& zoom, int last_x, int last_y, int x, int y, int picture_width, int picture_height) {
    const int64_t nx = int64_t{zoom.x} + last_x - x;
    if (nx >= 0 && nx < int64_t{picture_width} - zoom.width) zoom.x = static_cast<int>(nx);
    const int64_t ny = int64_t{zoom.y} + last_y - y;
    if (ny >= 0 && ny < int64_t{picture_height} - zoom.height) zoom.y = static_cast<int>(ny);
}

ViewRect PictureDestination(int cw, int ch, int picture_width, int picture_height, bool keep_aspect) {
    const ViewRect stretched{1, 1, cw - 1, ch - 1};
    if (!keep_aspect || cw <= 0 || ch <= 0 || picture_width <= 0 || picture_height <= 0) return stretched;
    const float t = static_cast<float>(cw) / static_cast<float>(ch);
    const float v = static_cast<float>(picture_width) / static_cast<float>(picture_height);
    if (t > v) {
        const int w = static_cast<int>(static_cast<float>(ch) * v);
        return ViewRect{(cw - w) / 2, 1, w, ch - 1};
    }
    const int h = static_cast<int>(static_cast<float>(cw) / v);
    return ViewRect{1, (ch - h) / 2, cw - 1, h};
}

std::optional<OverviewRects> OverviewRectangles(int cw, int ch, int picture_width, int picture_height,
                                                const ZoomWindow& zoom) {
    if (zoom.level <= 1 || zoom.x < 0 || cw <= 0 || picture_width <= 0) return std::nullopt;
    const double k = static_cast<double>(picture_width) / cw * 8.0;
    auto scaled = [k](int v) { return static_cast<int>(v / k); };
    OverviewRects rects;
    rects.outer.width = scaled(picture_width);
    rects.outer.height = scaled(picture_height);
    rects.outer.x = cw - rects.outer.width - 10;
    rects.outer.y = ch - rects.outer.height - 10;
    rects.inner.x = rects.outer.x + scaled(zoom.x);
    rects.inner.y = rects.outer.y + scaled(zoom.y);
    rects.inner.width = scaled(zoom.width);
    rects.inner.height = scaled(zoom.height);
    return rects;
}

int OsdFontHeight(int font_height, int layout, bool connecting) {
    // Scale factors in hundredths, so 20 x 1.4 is 28 and not 27.999...
    int percent = 100;
    switch (layout) {
        case 1: percent = connecting ? 350 : 250; break;
        case 2: percent = connecting ? 225 : 140; break;
        case 3: percent = connecting ? 160 : 100; break;
        default: break;
    }
    return static_cast<int>(int64_t{font_height} * percent / 100);
}

PrintSize PrintTargetSize(int page_width, int page_height, int width, int height) {
    if (width <= 0 || height <= 0) return {};
    if (page_width < page_height) return {page_width, int64_t{page_width / width} * height};
    return {int64_t{page_height / height} * width, page_height};
}
