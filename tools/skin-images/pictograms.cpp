#include "tools/skin-images/pictograms.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>

namespace skinart {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Face colours per look; each look differs in face, border and symbol so the
// states read apart even on the smallest buttons.
struct LookStyle {
    Rgb border, highlight, face, symbol, power_symbol;
    double border_width;
    int shift;  // the symbol moves down and right when pressed
};

const LookStyle kNormal{Hex(0x141A22), Hex(0x5A6C83), Hex(0x3C4A5C), Hex(0xE6EDF5), Hex(0xFF6B5B), 1.0, 0};
const LookStyle kHover{Hex(0x5FB4F0), Hex(0x7590B0), Hex(0x4C6480), Hex(0xFFFFFF), Hex(0xFF9488), 1.6, 0};
const LookStyle kPressed{Hex(0x0E1217), Hex(0x161C24), Hex(0x222B36), Hex(0x9FD0F5), Hex(0xD9483A), 1.0, 1};
const LookStyle kDisabled{Hex(0x1E242C), Hex(0x363E4A), Hex(0x2E3540), Hex(0x5C6672), Hex(0x5C6672), 1.0, 0};

const LookStyle* StyleFor(const std::string& look) {
    if (look == "-M") return &kDisabled;
    if (look == "-D") return &kNormal;
    if (look == "-N") return &kPressed;
    if (look == "-0") return &kHover;
    return nullptr;
}

// Symbol space: u and v run from -1 to 1 over a square centred on the face.
struct Pen {
    Canvas& canvas;
    double cx, cy, half;
    Rgb symbol, face;
    bool mirror = false;

    Point P(double u, double v) const { return {cx + (mirror ? -u : u) * half, cy + v * half}; }
    double L(double len) const { return len * half; }
    Shape R(double u0, double v0, double u1, double v1) const { return RR(u0, v0, u1, v1, 0); }
    Shape RR(double u0, double v0, double u1, double v1, double r) const {
        const Point a = P(u0, v0), b = P(u1, v1);
        return RoundRect(std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y), L(r));
    }
    Shape Poly(std::initializer_list<Point> uv) const {
        std::vector<Point> points;
        for (const Point& p : uv) points.push_back(P(p.x, p.y));
        return Polygon(std::move(points));
    }
    Shape Line(std::initializer_list<Point> uv, double width) const {
        std::vector<Point> points;
        for (const Point& p : uv) points.push_back(P(p.x, p.y));
        return Stroke(std::move(points), L(width));
    }
    Shape Dot(double u, double v, double r) const { return Circle(P(u, v).x, P(u, v).y, L(r)); }
    void Sym(const Shape& s) const { canvas.Fill(s, symbol); }
    void Knock(const Shape& s) const { canvas.Fill(s, face); }
};

void Play(Pen& p) { p.Sym(p.Poly({{-0.55, -0.8}, {0.85, 0}, {-0.55, 0.8}})); }
void StopSymbol(Pen& p) { p.Sym(p.RR(-0.7, -0.7, 0.7, 0.7, 0.12)); }
void PauseSymbol(Pen& p) {
    p.Sym(p.RR(-0.72, -0.8, -0.16, 0.8, 0.08));
    p.Sym(p.RR(0.16, -0.8, 0.72, 0.8, 0.08));
}
void Step(Pen& p) {
    p.Sym(p.Poly({{-0.85, -0.75}, {0.3, 0}, {-0.85, 0.75}}));
    p.Sym(p.R(0.42, -0.75, 0.8, 0.75));
}
void Chevrons(Pen& p) {
    p.Sym(p.Line({{-0.75, -0.7}, {-0.1, 0}, {-0.75, 0.7}}, 0.3));
    p.Sym(p.Line({{0.05, -0.7}, {0.7, 0}, {0.05, 0.7}}, 0.3));
}
void CueMark(Pen& p) {
    p.Sym(p.Line({{-0.25, -0.8}, {-0.7, -0.8}, {-0.7, 0.8}, {-0.25, 0.8}}, 0.24));
    p.Sym(p.Line({{-0.35, 0}, {0.45, 0}}, 0.22));
    p.Sym(p.Poly({{0.35, -0.42}, {0.92, 0}, {0.35, 0.42}}));
}
void Minimum(Pen& p) { p.Sym(p.RR(-0.8, 0.3, 0.8, 0.75, 0.1)); }
void Power(Pen& p) {
    const Point c = p.P(0, 0.08);
    p.Sym(Arc(c.x, c.y, p.L(0.68), p.L(0.22), -50, 230));
    p.Sym(p.Line({{0, -0.95}, {0, 0.02}}, 0.22));
}
void Grid(Pen& p, int n) {
    const double gap = n == 3 ? 0.14 : 0.18;
    const double cell = (1.6 - gap * (n - 1)) / n;
    for (int row = 0; row < n; ++row)
        for (int col = 0; col < n; ++col) {
            const double u = -0.8 + col * (cell + gap), v = -0.8 + row * (cell + gap);
            p.Sym(p.RR(u, v, u + cell, v + cell, 0.08));
        }
}
void ActualSize(Pen& p) {
    p.Sym(p.Line({{-0.85, -0.7}, {0.85, -0.7}, {0.85, 0.7}, {-0.85, 0.7}, {-0.85, -0.7}}, 0.12));
    for (double u : {-0.4, 0.45}) p.Sym(p.Line({{u - 0.18, -0.28}, {u, -0.42}, {u, 0.42}}, 0.16));
    p.Sym(p.Dot(0.02, -0.17, 0.09));
    p.Sym(p.Dot(0.02, 0.22, 0.09));
}
void FullScreen(Pen& p) {
    for (double sx : {-1.0, 1.0})
        for (double sy : {-1.0, 1.0})
            p.Sym(p.Line({{sx * 0.85, sy * 0.3}, {sx * 0.85, sy * 0.85}, {sx * 0.3, sy * 0.85}}, 0.2));
    p.Sym(p.RR(-0.35, -0.3, 0.35, 0.3, 0.06));
}
void Zoom(Pen& p, bool in) {
    const Point c = p.P(-0.18, -0.18);
    p.Sym(Ring(c.x, c.y, p.L(0.64), p.L(0.46)));
    p.Sym(p.Line({{0.28, 0.28}, {0.8, 0.8}}, 0.3));
    p.Sym(p.Line({{-0.44, -0.18}, {0.08, -0.18}}, 0.14));
    if (in) p.Sym(p.Line({{-0.18, -0.44}, {-0.18, 0.08}}, 0.14));
}
void Folder(Pen& p) {
    p.Sym(p.RR(-0.9, -0.78, -0.1, -0.3, 0.1));
    p.Sym(p.RR(-0.9, -0.5, 0.9, 0.78, 0.1));
    p.Knock(p.R(-0.9, -0.34, 0.9, -0.22));
}
void Film(Pen& p) {
    p.Sym(p.RR(-0.88, -0.64, 0.88, 0.64, 0.06));
    for (int k = 0; k < 5; ++k) {
        const double u = -0.68 + k * 0.34;
        p.Knock(p.R(u - 0.08, -0.54, u + 0.08, -0.38));
        p.Knock(p.R(u - 0.08, 0.38, u + 0.08, 0.54));
    }
    p.Knock(p.Poly({{-0.2, -0.24}, {0.3, 0}, {-0.2, 0.24}}));
}
void Gear(Pen& p) {
    const double cx = p.cx, cy = p.cy, outer = p.L(0.88), inner = p.L(0.64), hole = p.L(0.28);
    p.Sym({{cx - outer, cy - outer, cx + outer, cy + outer}, [=](double x, double y) {
               const double r = std::hypot(x - cx, y - cy);
               const double turn = (std::atan2(y - cy, x - cx) + kPi) / (2 * kPi) * 8;
               const double edge = turn - std::floor(turn) < 0.5 ? outer : inner;
               return r <= edge && r >= hole;
           }});
}
void Camera(Pen& p) {
    p.Sym(p.RR(-0.88, -0.45, 0.88, 0.72, 0.14));
    p.Sym(p.RR(-0.38, -0.72, 0.22, -0.3, 0.08));
    p.Knock(p.Dot(0, 0.13, 0.44));
    p.Sym(p.Dot(0, 0.13, 0.27));
    p.Knock(p.Dot(0.62, -0.2, 0.09));
}
void Printer(Pen& p) {
    p.Sym(p.R(-0.48, -0.88, 0.48, -0.3));
    p.Sym(p.RR(-0.9, -0.42, 0.9, 0.42, 0.12));
    p.Knock(p.Dot(0.62, -0.15, 0.09));
    p.Knock(p.R(-0.6, 0.1, 0.6, 0.98));
    p.Sym(p.R(-0.48, 0.2, 0.48, 0.9));
    p.Knock(p.R(-0.32, 0.42, 0.32, 0.52));
    p.Knock(p.R(-0.32, 0.64, 0.16, 0.74));
}
void Backup(Pen& p) {
    p.Sym(p.Line({{0, -0.88}, {0, 0.02}}, 0.26));
    p.Sym(p.Poly({{-0.48, -0.06}, {0.48, -0.06}, {0, 0.45}}));
    p.Sym(p.Line({{-0.82, 0.25}, {-0.82, 0.82}, {0.82, 0.82}, {0.82, 0.25}}, 0.2));
}
void Contrast(Pen& p) {
    const double cx = p.cx, cy = p.cy, r = p.L(0.64);
    p.Sym(Ring(cx, cy, p.L(0.84), p.L(0.68)));
    p.Sym({{cx, cy - r, cx + r, cy + r}, [=](double x, double y) { return x >= cx && std::hypot(x - cx, y - cy) <= r; }});
}
void Speaker(Pen& p) {
    p.Sym(p.Poly({{-0.85, -0.3}, {-0.42, -0.3}, {0.02, -0.75}, {0.02, 0.75}, {-0.42, 0.3}, {-0.85, 0.3}}));
}

void NewFile(Pen& p) {
    p.Sym(p.Poly({{-0.62, -0.88}, {0.2, -0.88}, {0.62, -0.46}, {0.62, 0.88}, {-0.62, 0.88}}));
    p.Knock(p.Poly({{0.12, -0.88}, {0.62, -0.38}, {0.12, -0.38}}));
    p.Knock(p.Line({{-0.3, 0.25}, {0.3, 0.25}}, 0.18));
    p.Knock(p.Line({{0, -0.05}, {0, 0.55}}, 0.18));
}
void Cross(Pen& p) {
    p.Sym(p.Line({{-0.62, -0.62}, {0.62, 0.62}}, 0.3));
    p.Sym(p.Line({{-0.62, 0.62}, {0.62, -0.62}}, 0.3));
}
void FolderSearch(Pen& p) {
    Folder(p);
    const Point c = p.P(0.3, 0.22);
    p.Knock(Circle(c.x, c.y, p.L(0.5)));
    p.Sym(Ring(c.x, c.y, p.L(0.36), p.L(0.22)));
    p.Sym(p.Line({{0.56, 0.48}, {0.86, 0.8}}, 0.18));
}
void SelectAll(Pen& p) {
    for (double v : {-0.6, 0.0, 0.6}) {
        p.Sym(p.Line({{-0.82, v}, {-0.62, v + 0.2}, {-0.3, v - 0.2}}, 0.14));
        p.Sym(p.Line({{-0.05, v}, {0.82, v}}, 0.16));
    }
}
void Verify(Pen& p) {
    p.Sym(p.Poly({{0, -0.92}, {0.76, -0.6}, {0.7, 0.2}, {0, 0.92}, {-0.7, 0.2}, {-0.76, -0.6}}));
    p.Knock(p.Line({{-0.36, 0.02}, {-0.08, 0.32}, {0.4, -0.28}}, 0.2));
}
void MinusSymbol(Pen& p) { p.Sym(p.Line({{-0.6, 0}, {0.6, 0}}, 0.26)); }
void PlusSymbol(Pen& p) {
    MinusSymbol(p);
    p.Sym(p.Line({{0, -0.6}, {0, 0.6}}, 0.26));
}

const std::map<std::string, std::function<void(Pen&)>>& Symbols() {
    static const std::map<std::string, std::function<void(Pen&)>> symbols = {
        {"minimum", Minimum},
        {"power", Power},
        {"div1", [](Pen& p) { Grid(p, 1); }},
        {"div4", [](Pen& p) { Grid(p, 2); }},
        {"div9", [](Pen& p) { Grid(p, 3); }},
        {"origisize", ActualSize},
        {"fullscreen", FullScreen},
        {"zoomin", [](Pen& p) { Zoom(p, true); }},
        {"zoomout", [](Pen& p) { Zoom(p, false); }},
        {"cuein", CueMark},
        {"cueout", [](Pen& p) { p.mirror = true; CueMark(p); }},
        {"play", Play},
        {"stop", StopSymbol},
        {"pause", PauseSymbol},
        {"fforward", Step},
        {"fbackward", [](Pen& p) { p.mirror = true; Step(p); }},
        {"speedup", Chevrons},
        {"speeddown", [](Pen& p) { p.mirror = true; Chevrons(p); }},
        {"saveavi", Film},
        {"setting", Gear},
        {"snapshot", Camera},
        {"print", Printer},
        {"backup", Backup},
        {"adjustimage", Contrast},
        {"new", NewFile},
        {"delete", Cross},
        {"search", FolderSearch},
        {"selectall", SelectAll},
        {"verification", Verify},
        {"minus", MinusSymbol},
        {"plus", PlusSymbol},
    };
    return symbols;
}

// 5 x 7 capitals, enough for the labels and the name.
const std::map<char, std::array<const char*, 7>>& Font() {
    static const std::map<char, std::array<const char*, 7>> font = {
        {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
        {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
        {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
        {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
        {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
        {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
        {'N', {"#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"}},
        {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
        {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
        {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
        {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
        {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    };
    return font;
}

// Bold widens every stroke by one pixel to the right.
int TextWidth(const std::string& text, int scale, bool bold) {
    const int advance = (bold ? 7 : 6) * scale;
    return static_cast<int>(text.size()) * advance - scale;
}

void DrawText(Canvas& canvas, const std::string& text, int x, int y, int scale, bool bold, Rgb colour) {
    const int advance = (bold ? 7 : 6) * scale;
    for (char ch : text) {
        const auto& glyph = Font().at(ch);
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (glyph[row][col] == '#')
                    canvas.Fill(Rect(x + col * scale, y + row * scale, x + (col + 1 + (bold ? 1 : 0)) * scale,
                                     y + (row + 1) * scale),
                                colour);
        x += advance;
    }
}

void DrawFace(Canvas& canvas, const LookStyle& style, bool round) {
    const double w = canvas.width(), h = canvas.height(), b = style.border_width;
    if (round) {
        const double cx = w / 2, cy = h / 2, r = std::min(w, h) / 2 - 0.5;
        canvas.Fill(Circle(cx, cy, r), style.border);
        canvas.Fill(Circle(cx, cy, r - b), style.highlight);
        canvas.Fill(Circle(cx, cy + 0.7, r - b - 0.7), style.face);
        return;
    }
    const double r = std::min(w, h) * 0.22;
    canvas.Fill(RoundRect(0, 0, w, h, r), style.border);
    canvas.Fill(RoundRect(b, b, w - b, h - b, r - b), style.highlight);
    canvas.Fill(RoundRect(b, b + 1, w - b, h - b, r - b), style.face);
}

void DrawLabel(Canvas& canvas, const std::string& text) {
    const bool bold = canvas.height() > 23;
    const int x = (canvas.width() - TextWidth(text, 1, bold)) / 2;
    const int y = (canvas.height() - 7) / 2;
    DrawText(canvas, text, x, y, 1, bold, Hex(0x9AAEC4));
}

void DrawMute(Canvas& canvas, bool off) {
    const double side = std::min(canvas.width(), canvas.height()) * 0.88;
    Pen pen{canvas, canvas.width() / 2.0, canvas.height() / 2.0, side / 2, Hex(0xD6DEE8), kPanel};
    Speaker(pen);
    if (off) {
        pen.symbol = Hex(0xFF5A4A);
        pen.Sym(pen.Line({{0.36, -0.38}, {0.9, 0.38}}, 0.18));
        pen.Sym(pen.Line({{0.36, 0.38}, {0.9, -0.38}}, 0.18));
    } else {
        const Point c = pen.P(0.06, 0);
        pen.Sym(Arc(c.x, c.y, pen.L(0.42), pen.L(0.15), -50, 50));
        pen.Sym(Arc(c.x, c.y, pen.L(0.78), pen.L(0.15), -50, 50));
    }
}

// Open: a folder and the word, side by side.
void DrawOpen(Canvas& canvas, const LookStyle& style) {
    const int h = canvas.height();
    const int scale = h >= 20 ? 2 : 1;
    const double icon = h * 0.6;
    const int text_width = TextWidth("OPEN", scale, false);
    const double total = icon + icon * 0.4 + text_width;
    const double left = (canvas.width() - total) / 2 + style.shift;
    Pen pen{canvas, left + icon / 2, h / 2.0 + style.shift, icon / 2, style.symbol, style.face};
    Folder(pen);
    DrawText(canvas, "OPEN", static_cast<int>(std::lround(left + icon * 1.4)), (h - 7 * scale) / 2 + style.shift,
             scale, false, style.symbol);
}

}  // namespace

bool DrawButton(const std::string& name, const std::string& look, Canvas& canvas) {
    if (name == "audio") {
        if (look != "-on" && look != "-off") return false;
        DrawMute(canvas, look == "-off");
        return true;
    }
    if (name == "cue" || name == "speed") {
        if (look != "-N") return false;
        DrawLabel(canvas, name == "cue" ? "CUE" : "SPEED");
        return true;
    }
    const LookStyle* style = StyleFor(look);
    if (!style) return false;
    if (name == "searchlist") {
        DrawFace(canvas, *style, false);
        DrawOpen(canvas, *style);
        return true;
    }
    const auto symbol = Symbols().find(name);
    if (symbol == Symbols().end()) return false;
    const bool round = name == "power";
    DrawFace(canvas, *style, round);
    const double side = std::min(canvas.width(), canvas.height()) * (round ? 0.5 : 0.58);
    Pen pen{canvas, canvas.width() / 2.0 + style->shift, canvas.height() / 2.0 + style->shift, side / 2,
            round ? style->power_symbol : style->symbol, style->face};
    symbol->second(pen);
    return true;
}

Canvas DrawBackground(int width, int height) {
    Canvas canvas(width, height, Hex(0x151A21));
    auto X = [width](double f) { return f * width; };
    auto Y = [height](double f) { return f * height; };
    const Rgb edge = Hex(0x2E3947);

    // The viewer grid covers this rectangle; its bezel frames the pictures.
    const double vx0 = X(0.0234), vy0 = Y(0.0234), vx1 = X(0.0234 + 0.787), vy1 = Y(0.0234 + 0.789);
    canvas.Fill(RoundRect(vx0 - 7, vy0 - 7, vx1 + 7, vy1 + 7, 9), edge);
    canvas.Fill(RoundRect(vx0 - 6, vy0 - 6, vx1 + 6, vy1 + 6, 8), Hex(0x0B0E12));
    canvas.Fill(Rect(vx0, vy0, vx1, vy1), Hex(0x000000));

    // Transport bar and tool column: flat, in the colour of the button corners.
    auto panel = [&](double x0, double y0, double x1, double y1) {
        canvas.Fill(RoundRect(x0, y0, x1, y1, 10), edge);
        canvas.Fill(RoundRect(x0, y0 + 2, x1, y1, 10), kPanel);
    };
    panel(vx0 - 7, Y(0.826), vx1 + 7, Y(0.977));
    panel(X(0.83), vy0 - 7, X(0.985), Y(0.977));

    // Between the button groups, clear of every control in both size classes.
    for (double f : {0.21, 0.44, 0.77}) canvas.Fill(Rect(X(0.85), Y(f) - 1, X(0.965), Y(f) + 1), Hex(0x334050));

    const int scale = std::max(1, height / 320);
    const std::string name = "LARKSPUR";
    DrawText(canvas, name, static_cast<int>(X(0.9075)) - TextWidth(name, scale, false) / 2,
             static_cast<int>(Y(0.045)), scale, false, Hex(0x6F8FB0));
    return canvas;
}

Canvas DrawProgramIcon(const std::string& program, int size) {
    const double s = size;
    if (program == "playback") {
        Canvas canvas(size, size, Hex(0x1F3D66));
        canvas.Fill(RoundRect(0.08 * s, 0.16 * s, 0.92 * s, 0.76 * s, 0.06 * s), Hex(0xE6EDF5));
        canvas.Fill(Rect(0.13 * s, 0.21 * s, 0.87 * s, 0.71 * s), Hex(0x0B0E12));
        canvas.Fill(Polygon({{0.40 * s, 0.28 * s}, {0.66 * s, 0.46 * s}, {0.40 * s, 0.64 * s}}), Hex(0x5FB4F0));
        canvas.Fill(Rect(0.40 * s, 0.76 * s, 0.60 * s, 0.84 * s), Hex(0xE6EDF5));
        canvas.Fill(RoundRect(0.26 * s, 0.84 * s, 0.74 * s, 0.90 * s, 0.02 * s), Hex(0xE6EDF5));
        return canvas;
    }
    if (program == "checker") {
        Canvas canvas(size, size, Hex(0x24553A));
        canvas.Fill(RoundRect(0.12 * s, 0.10 * s, 0.80 * s, 0.82 * s, 0.05 * s), Hex(0xF4F4F0));
        canvas.Fill(Polygon({{0.18 * s, 0.72 * s}, {0.38 * s, 0.42 * s}, {0.54 * s, 0.64 * s}, {0.62 * s, 0.54 * s},
                             {0.74 * s, 0.72 * s}}),
                    Hex(0x6F8FB0));
        canvas.Fill(Circle(0.62 * s, 0.28 * s, 0.07 * s), Hex(0xF0B43C));
        canvas.Fill(Circle(0.70 * s, 0.72 * s, 0.22 * s), Hex(0x2EA05A));
        canvas.Fill(Stroke({{0.59 * s, 0.72 * s}, {0.67 * s, 0.80 * s}, {0.82 * s, 0.63 * s}}, 0.07 * s), Hex(0xFFFFFF));
        return canvas;
    }
    return Canvas(0, 0, Hex(0));
}

std::vector<GifFrame> DrawIndicator(int size, int frame_count) {
    // Edges are blended towards a dark blue, the busy window's colour, since
    // GIF transparency is all or nothing.
    const Rgb matte = Hex(0x283C5A);
    const int dots = 8;
    const double c = size / 2.0, orbit = size * 0.34, r = size * 0.1;
    std::vector<GifFrame> frames;
    for (int f = 0; f < frame_count; ++f) {
        GifFrame frame{Canvas(size, size, matte), std::vector<bool>(static_cast<size_t>(size) * size, false)};
        const int head = f * dots / frame_count;
        for (int d = 0; d < dots; ++d) {
            const double a = 2 * kPi * d / dots - kPi / 2;
            const int behind = (head - d + dots) % dots;
            const Rgb colour = Blend(Hex(0x3C5A78), Hex(0xE8F4FF), 1.0 - behind * 0.12);
            const std::vector<uint8_t> coverage =
                frame.picture.Coverage(Circle(c + orbit * std::cos(a), c + orbit * std::sin(a), r));
            for (size_t i = 0; i < coverage.size(); ++i) {
                if (!coverage[i]) continue;
                frame.opaque[i] = true;
                // Coverage in quarters keeps the palette small.
                const int level = (coverage[i] + 3) / 4;
                frame.picture.Set(static_cast<int>(i) % size, static_cast<int>(i) / size, Blend(matte, colour, level / 4.0));
            }
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

}  // namespace skinart
