#pragma once
// The face a skinned button shows when its picture file is missing: flat and
// plain, so a broken skin still leaves usable controls.
#include <QPainter>
#include <QRect>

void DrawFlatButtonFace(QPainter& painter, const QRect& rect, bool pressed, bool disabled, bool hover);
inline const QColor kFlatFaceColour(96, 104, 116);
inline const QColor kFlatPressedColour(60, 66, 76);
inline const QColor kFlatHoverColour(120, 130, 144);
inline const QColor kFlatDisabledColour(150, 150, 150);
