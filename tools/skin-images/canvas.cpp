#include "tools/skin-images/canvas.h"

#include <algorithm>
#include <cmath>

namespace skinart {

namespace {

constexpr int kSamples = 4;
constexpr double kPi = 3.14159265358979323846;

double SegmentDistance(Point p, Point a, Point b) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

Box Around(const std::vector<Point>& points, double pad) {
    Box box{1e9, 1e9, -1e9, -1e9};
    for (const Point& p : points) {
        box.x0 = std::min(box.x0, p.x - pad);
        box.y0 = std::min(box.y0, p.y - pad);
        box.x1 = std::max(box.x1, p.x + pad);
        box.y1 = std::max(box.y1, p.y + pad);
    }
    return box;
}

}  // namespace

Shape Rect(double x0, double y0, double x1, double y1) {
    return {{x0, y0, x1, y1}, [=](double x, double y) { return x >= x0 && x < x1 && y >= y0 && y < y1; }};
}

Shape RoundRect(double x0, double y0, double x1, double y1, double radius) {
    const double r = std::max(0.0, std::min(radius, std::min(x1 - x0, y1 - y0) / 2));
    return {{x0, y0, x1, y1}, [=](double x, double y) {
                if (x < x0 || x >= x1 || y < y0 || y >= y1) return false;
                const double cx = std::clamp(x, x0 + r, x1 - r);
                const double cy = std::clamp(y, y0 + r, y1 - r);
                return std::hypot(x - cx, y - cy) <= r;
            }};
}

Shape Circle(double cx, double cy, double r) {
    return {{cx - r, cy - r, cx + r, cy + r}, [=](double x, double y) { return std::hypot(x - cx, y - cy) <= r; }};
}

Shape Ring(double cx, double cy, double r_outer, double r_inner) {
    return {{cx - r_outer, cy - r_outer, cx + r_outer, cy + r_outer}, [=](double x, double y) {
                const double d = std::hypot(x - cx, y - cy);
                return d <= r_outer && d >= r_inner;
            }};
}

Shape Arc(double cx, double cy, double r, double width, double from_deg, double to_deg) {
    const double outer = r + width / 2, inner = r - width / 2;
    return {{cx - outer, cy - outer, cx + outer, cy + outer}, [=](double x, double y) {
                const double d = std::hypot(x - cx, y - cy);
                if (d > outer || d < inner) return false;
                double a = std::atan2(y - cy, x - cx) * 180 / kPi;
                while (a < from_deg) a += 360;
                return a <= to_deg;
            }};
}

Shape Polygon(std::vector<Point> points) {
    const Box box = Around(points, 0);
    return {box, [points = std::move(points)](double x, double y) {
                bool in = false;
                for (size_t i = 0, j = points.size() - 1; i < points.size(); j = i++) {
                    const Point& a = points[i];
                    const Point& b = points[j];
                    if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) in = !in;
                }
                return in;
            }};
}

Shape Stroke(std::vector<Point> points, double width) {
    const double half = width / 2;
    const Box box = Around(points, half);
    return {box, [points = std::move(points), half](double x, double y) {
                if (points.size() == 1) return std::hypot(x - points[0].x, y - points[0].y) <= half;
                for (size_t i = 1; i < points.size(); ++i)
                    if (SegmentDistance({x, y}, points[i - 1], points[i]) <= half) return true;
                return false;
            }};
}

Shape Union(Shape a, Shape b) {
    const Box box{std::min(a.box.x0, b.box.x0), std::min(a.box.y0, b.box.y0), std::max(a.box.x1, b.box.x1),
                  std::max(a.box.y1, b.box.y1)};
    return {box, [a = std::move(a.inside), b = std::move(b.inside)](double x, double y) { return a(x, y) || b(x, y); }};
}

Shape Minus(Shape a, Shape b) {
    return {a.box, [a = std::move(a.inside), b = std::move(b.inside)](double x, double y) { return a(x, y) && !b(x, y); }};
}

Canvas::Canvas(int width, int height, Rgb fill)
    : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, fill) {}

std::vector<uint8_t> Canvas::Coverage(const Shape& shape) const {
    std::vector<uint8_t> coverage(pixels_.size(), 0);
    const int x0 = std::max(0, static_cast<int>(std::floor(shape.box.x0)));
    const int y0 = std::max(0, static_cast<int>(std::floor(shape.box.y0)));
    const int x1 = std::min(width_, static_cast<int>(std::ceil(shape.box.x1)) + 1);
    const int y1 = std::min(height_, static_cast<int>(std::ceil(shape.box.y1)) + 1);
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            int hits = 0;
            for (int sy = 0; sy < kSamples; ++sy)
                for (int sx = 0; sx < kSamples; ++sx)
                    if (shape.inside(x + (sx + 0.5) / kSamples, y + (sy + 0.5) / kSamples)) ++hits;
            coverage[static_cast<size_t>(y) * width_ + x] = static_cast<uint8_t>(hits);
        }
    }
    return coverage;
}

void Canvas::Fill(const Shape& shape, Rgb colour) {
    const std::vector<uint8_t> coverage = Coverage(shape);
    for (size_t i = 0; i < pixels_.size(); ++i)
        if (coverage[i]) pixels_[i] = Blend(pixels_[i], colour, coverage[i] / double(kSamples * kSamples));
}

Rgb Blend(Rgb under, Rgb over, double alpha) {
    auto mix = [alpha](uint8_t a, uint8_t b) {
        return static_cast<uint8_t>(std::lround(a + (b - a) * std::clamp(alpha, 0.0, 1.0)));
    };
    return {mix(under.r, over.r), mix(under.g, over.g), mix(under.b, over.b)};
}

}  // namespace skinart
