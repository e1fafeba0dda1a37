#include "checker/ui/watermark_app.h"

#include "checker/ui/watermark_dlg.h"
#include "media/translate_text.h"
#include "media/ui/ui_services.h"

bool CWatermarkApp::InitInstance() {
    // The checker always reads the English language file.
    LanguageIndex = 0;
    ui::InstallQtMessageBoxHandler();
    CWatermarkDlg dlg;
    dlg.exec();
    return false;
}
