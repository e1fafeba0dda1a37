#pragma once
// Places given in the original's pixels or dialog units were measured with
// its fonts; ours are wider, and translations longer still. FitTexts keeps a
// window's arrangement and gives each text control the room its text needs.
#include <QRect>

class QFont;
class QTreeView;
class QWidget;

namespace ui {

// Dialog units of a font as the dialog manager measures them: a quarter of
// the average width of the Latin letters, an eighth of the line height.
struct DialogUnits {
    int base_x = 6;
    int base_y = 13;
    int X(int units) const { return units * base_x / 4; }
    int Y(int units) const { return units * base_y / 8; }
    QRect Rect(int x, int y, int width, int height) const { return QRect(X(x), Y(y), X(width), Y(height)); }
};
DialogUnits DialogUnitsOf(const QFont& font);

// Walks the children of window (and theirs): a label, button, check box,
// radio button, group box, combo box, date or time field or line edit whose
// text does not fit is widened to the right, and taller when its text is,
// about its middle; what stands to its right in the same band moves along,
// frames and group boxes round it grow with it, a list's columns widen to
// their contents, and finally window grows to hold everything with the right
// margin it had. A label reaching past its window is cut back to its text.
// Run it after the texts are set.
void FitTexts(QWidget* window);

// Widens a list's columns to their titles and rows (rows added later need this call).
void FitColumns(QTreeView* view);

}  // namespace ui
