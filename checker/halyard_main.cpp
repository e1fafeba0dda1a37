#include <QApplication>

#include "checker/ui/watermark_app.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    CWatermarkApp watermark_app;
    watermark_app.InitInstance();
    return 0;
}
