#pragma once
// A small anti-aliased raster for flat pictograms: shapes are point tests in
// pixel coordinates, painted with 4 x 4 samples per pixel.
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace skinart {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

constexpr Rgb Hex(uint32_t rgb) {
    return {static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb)};
}

struct Box {
    double x0, y0, x1, y1;
};

// Inside test plus the box it cannot leave, so painting visits only that box.
struct Shape {
    Box box;
    std::function<bool(double, double)> inside;
};

struct Point {
    double x, y;
};

Shape Rect(double x0, double y0, double x1, double y1);
Shape RoundRect(double x0, double y0, double x1, double y1, double radius);
Shape Circle(double cx, double cy, double r);
Shape Ring(double cx, double cy, double r_outer, double r_inner);
// Angles in degrees, 0 pointing right, growing clockwise (y grows downward).
Shape Arc(double cx, double cy, double r, double width, double from_deg, double to_deg);
Shape Polygon(std::vector<Point> points);
// A stroke of the given width through the points, with round joins and ends.
Shape Stroke(std::vector<Point> points, double width);
Shape Union(Shape a, Shape b);
Shape Minus(Shape a, Shape b);

class Canvas {
public:
    Canvas(int width, int height, Rgb fill);

    int width() const { return width_; }
    int height() const { return height_; }
    Rgb At(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }
    const std::vector<Rgb>& pixels() const { return pixels_; }
    void Set(int x, int y, Rgb colour) { pixels_[static_cast<size_t>(y) * width_ + x] = colour; }

    void Fill(const Shape& shape, Rgb colour);
    // Coverage 0-16 of each pixel, for callers that blend themselves.
    std::vector<uint8_t> Coverage(const Shape& shape) const;

private:
    int width_, height_;
    std::vector<Rgb> pixels_;
};

Rgb Blend(Rgb under, Rgb over, double alpha);

}  // namespace skinart
