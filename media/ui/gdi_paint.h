#pragma once
// The few GDI drawing rules the viewers and the status panel rely on, kept in
// one place: COLORREF colours, fonts sized by cell height, etched edges.
#include <QColor>
#include <QFont>
#include <QRect>

#include <cstdint>
#include <string>

class QPainter;

// 0x00BBGGRR.
QColor ColorFromColorref(uint32_t colorref);

// A GDI face such as "Arial Bold" becomes family "Arial", bold; weight 700 or
// more is bold too. A positive height is the cell height, so the font is
// sized until QFontMetrics::height() matches; a negative one is the character
// height; 0 leaves the default size.
QFont GdiFont(const std::string& face, int height, int weight);

// DrawEdge(EDGE_ETCHED, BF_RECT | BF_FLAT): two one-pixel frames, the outer in
// the shadow colour and the inner in the face colour, inside rect.
void DrawEtchedFlatEdge(QPainter& painter, const QRect& rect);
inline const QColor kEdgeShadowColour(128, 128, 128);
inline const QColor kEdgeFaceColour(212, 208, 200);

// DrawEdge(EDGE_RAISED, BF_RECT) and DrawEdge(EDGE_ETCHED, BF_RECT): two
// one-pixel bevels inside rect, lit from the top left.
void DrawRaisedEdge(QPainter& painter, const QRect& rect);
void DrawEtchedEdge(QPainter& painter, const QRect& rect);
inline const QColor kEdgeHighlightColour(255, 255, 255);
inline const QColor kEdgeDarkShadowColour(64, 64, 64);
