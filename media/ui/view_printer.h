#pragma once
// Prints what a viewer shows on one page of a printer the user picks.
#include <QImage>

class QWidget;

class ViewPrinter {
public:
    enum class Result { kPrinted, kCancelled, kNoPrinter, kFailed };

    // capture: the viewer's client area as it was painted. It is stretched
    // smoothly to the full page width (portrait) or height (landscape), the
    // other side by the whole number of times the capture fits.
    Result Print(const QImage& capture, QWidget* owner);
};
