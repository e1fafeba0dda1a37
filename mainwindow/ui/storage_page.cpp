#include "mainwindow/ui/storage_page.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "mainwindow/storage_location.h"
#include "media/translate_text.h"
#include "media/ui/gdi_paint.h"
#include "media/ui/ui_services.h"
#include "platform/message_box.h"

CStoragePage::CStoragePage(QWidget* parent) : QWidget(parent) {
    label_ = new QLabel(this);
    label_->setProperty("controlId", kLabelId);
    edit_ = new QLineEdit(this);
    edit_->setProperty("controlId", kLocationId);
    browse_ = new QPushButton("...", this);
    browse_->setProperty("controlId", kBrowseId);
    // Enter in the page belongs to the dialog's OK, not to the browse button.
    browse_->setAutoDefault(false);
    connect(browse_, &QPushButton::clicked, this, &CStoragePage::OnBrowse);
}

CStoragePage::~CStoragePage() = default;

std::string CStoragePage::ReadStorageLocation() const {
    if (program_folder.empty()) return ::ReadStorageLocation(kStoragePageLocationChars);
    return ReadStorageLocationIn(program_folder, kStoragePageLocationChars);
}

void CStoragePage::OnInitDialog() {
    label_->setGeometry(40, 40, 200, 20);
    edit_->setGeometry(40, 65, 250, 22);
    browse_->setGeometry(290, 65, 25, 22);
    font_ = GdiFont("Arial", 16, 400);
    label_->setFont(font_);
    edit_->setFont(font_);
    label_->setText(QString::fromStdString(TranslateText("TXT_LOCATION", "Location")) + ":");
    edit_->setText(QString::fromStdString(ReadStorageLocation()));
}

void CStoragePage::OnBrowse() {
    const std::optional<std::string> chosen =
        ui::ChooseFolder(this, TranslateText("TIP_OPENFOLDER", "Please select a folder."));
    if (!chosen) return;
    if (chosen->empty()) {
        platform::ShowMessageBox(TranslateText("TXT_OPEN_ERROR", "It's not a data folder."),
                                 TranslateText("MSG_ERROR", "Error"), platform::kMbOk);
        return;
    }
    edit_->setText(QString::fromStdString(*chosen));
}
