#include "media/ui/gdi_paint.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <mutex>
#include <tuple>

namespace {

constexpr int kLargestPixelSize = 2000;

int CellHeightOf(QFont font, int pixel_size) {
    font.setPixelSize(pixel_size);
    return QFontMetrics(font).height();
}

// The largest pixel size whose cell is no taller than height.
int PixelSizeForCell(const QFont& font, int height) {
    int size = std::clamp(height, 1, kLargestPixelSize);
    const int first = CellHeightOf(font, size);
    if (first > 0 && first != height) {
        size = std::clamp(static_cast<int>(int64_t{size} * height / first), 1, kLargestPixelSize);
    }
    while (size < kLargestPixelSize && CellHeightOf(font, size + 1) <= height) ++size;
    while (size > 1 && CellHeightOf(font, size) > height) --size;
    return size;
}

}  // namespace

QColor ColorFromColorref(uint32_t colorref) {
    return QColor(static_cast<int>(colorref & 0xFF), static_cast<int>((colorref >> 8) & 0xFF),
                  static_cast<int>((colorref >> 16) & 0xFF));
}

QFont GdiFont(const std::string& face, int height, int weight) {
    static std::mutex lock;
    // Never destroyed: a QFont released after the application object has gone is unsafe.
    static auto* cache = new std::map<std::tuple<std::string, int, int>, QFont>;
    const auto key = std::make_tuple(face, height, weight);
    std::lock_guard<std::mutex> guard(lock);
    if (auto it = cache->find(key); it != cache->end()) return it->second;

    std::string family = face;
    bool bold = weight >= 700;
    static const std::string kBoldSuffix = " Bold";
    if (family.size() > kBoldSuffix.size() &&
        family.compare(family.size() - kBoldSuffix.size(), kBoldSuffix.size(), kBoldSuffix) == 0) {
        family.resize(family.size() - kBoldSuffix.size());
        bold = true;
    }
    QFont font(QString::fromStdString(family));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(bold);
    if (height > 0) {
        font.setPixelSize(PixelSizeForCell(font, height));
    } else if (height < 0) {
        font.setPixelSize(std::clamp(-int64_t{height}, int64_t{1}, int64_t{kLargestPixelSize}));
    }
    cache->emplace(key, font);
    return font;
}

namespace {

// A one-pixel frame of rect as a pen outlines (x, y, w-1, h-1). Where one
// painter pixel is one device pixel and the frame has an inside, as four
// filled runs covering the same pixels: the paint engine fills them far
// faster than it strokes the outline. Otherwise (a scaled painter, whose pen
// lands between device pixels; a frame a pixel wide) stroked.
void DrawFrame(QPainter& painter, const QRect& rect, const QColor& colour) {
    if (rect.width() <= 0 || rect.height() <= 0) return;
    const QTransform t = painter.deviceTransform();
    if (rect.width() >= 2 && rect.height() >= 2 && t.type() <= QTransform::TxTranslate && t.dx() == std::floor(t.dx()) &&
        t.dy() == std::floor(t.dy())) {
        painter.fillRect(QRect(rect.left(), rect.top(), rect.width(), 1), colour);
        painter.fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), colour);
        if (rect.height() > 2) {
            painter.fillRect(QRect(rect.left(), rect.top() + 1, 1, rect.height() - 2), colour);
            painter.fillRect(QRect(rect.right(), rect.top() + 1, 1, rect.height() - 2), colour);
        }
        return;
    }
    painter.save();
    painter.setBrush(Qt::NoBrush);
    QPen pen(colour, 1);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
    painter.restore();
}

}  // namespace

void DrawEtchedFlatEdge(QPainter& painter, const QRect& rect) {
    if (rect.width() <= 0 || rect.height() <= 0) return;
    DrawFrame(painter, rect, kEdgeShadowColour);
    if (rect.width() > 2 && rect.height() > 2) DrawFrame(painter, rect.adjusted(1, 1, -1, -1), kEdgeFaceColour);
}

namespace {

// One bevel: top and left in one colour, bottom and right in the other.
void DrawBevel(QPainter& painter, const QRect& rect, const QColor& top_left, const QColor& bottom_right) {
    if (rect.width() <= 0 || rect.height() <= 0) return;
    painter.fillRect(QRect(rect.left(), rect.top(), rect.width() - 1, 1), top_left);
    painter.fillRect(QRect(rect.left(), rect.top(), 1, rect.height() - 1), top_left);
    painter.fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), bottom_right);
    painter.fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), bottom_right);
}

}  // namespace

void DrawRaisedEdge(QPainter& painter, const QRect& rect) {
    DrawBevel(painter, rect, kEdgeFaceColour, kEdgeDarkShadowColour);
    DrawBevel(painter, rect.adjusted(1, 1, -1, -1), kEdgeHighlightColour, kEdgeShadowColour);
}

void DrawEtchedEdge(QPainter& painter, const QRect& rect) {
    DrawBevel(painter, rect, kEdgeShadowColour, kEdgeHighlightColour);
    DrawBevel(painter, rect.adjusted(1, 1, -1, -1), kEdgeHighlightColour, kEdgeShadowColour);
}
