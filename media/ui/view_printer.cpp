#include "media/ui/view_printer.h"

#include <QPainter>
#include <QPrinter>

#include <algorithm>
#include <climits>

#include "media/translate_text.h"
#include "media/ui/ui_services.h"
#include "media/viewer_geometry.h"
#include "platform/message_box.h"

ViewPrinter::Result ViewPrinter::Print(const QImage& capture, QWidget* owner) {
    ui::PrinterChoice choice = ui::ChoosePrinter(owner);
    if (!choice.accepted) return Result::kCancelled;
    QPrinter* printer = choice.printer.get();
    if (!printer || !printer->isValid()) {
        platform::ShowMessageBox(TranslateText("MSG_NO_PRINTER", "No printer found!"));
        return Result::kNoPrinter;
    }
    printer->setDocName("Snapshot");
    printer->setFromTo(1, 1);

    QPainter painter;
    if (!painter.begin(printer)) return Result::kFailed;
    const PrintSize target = PrintTargetSize(printer->width(), printer->height(), capture.width(), capture.height());
    const int target_width = static_cast<int>(std::min<int64_t>(target.width, INT_MAX));
    const int target_height = static_cast<int>(std::min<int64_t>(target.height, INT_MAX));
    if (target_width > 0 && target_height > 0) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(0, 0, target_width, target_height), capture);
    }
    return painter.end() ? Result::kPrinted : Result::kFailed;
}
