#include "mainwindow/ui/language_page.h"

#include <QComboBox>
#include <QLabel>

#include "media/translate_text.h"
#include "media/ui/gdi_paint.h"

CLanguagePage::CLanguagePage(QWidget* parent) : QWidget(parent) {
    label_ = new QLabel(this);
    label_->setProperty("controlId", kLabelId);
    list_ = new QComboBox(this);
    list_->setProperty("controlId", kLanguageListId);
}

CLanguagePage::~CLanguagePage() = default;

void CLanguagePage::OnInitDialog() {
    label_->setGeometry(40, 62, 60, 30);
    list_->setGeometry(110, 60, 120, 30);
    if (list_->count() == 0) {
        // Each language in its own script, whatever the current one.
        list_->addItem(QString::fromUtf8("English"));
        list_->addItem(QString::fromUtf8("简体中文"));
        list_->addItem(QString::fromUtf8("繁體中文"));
    }
    font_ = GdiFont("Arial", 16, 400);
    label_->setFont(font_);
    list_->setFont(font_);
    const int index = LanguageIndex.load();
    list_->setCurrentIndex(index >= 0 && index < list_->count() ? index : -1);
    label_->setText(QString::fromStdString(TranslateText("TXT_LANGUAGE", "Language")) + ":");
}
