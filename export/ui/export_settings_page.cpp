#include "export/ui/export_settings_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <cstdio>

#include "mainwindow/storage_location.h"
#include "media/translate_text.h"
#include "media/ui/gdi_paint.h"
#include "media/ui/text_fit.h"

namespace {

QRect Box(int left, int top, int right, int bottom) { return QRect(left, top, right - left, bottom - top); }

template <typename Control>
Control* Place(Control* control, int id, const QFont& font, int left, int top, int right, int bottom) {
    control->setProperty("controlId", id);
    control->setGeometry(Box(left, top, right, bottom));
    control->setFont(font);
    control->show();
    return control;
}

QString Tr(const char* key, const char* text) { return QString::fromStdString(TranslateText(key, text)); }

}  // namespace

void ExportSettingsPage::Create(QDialog* dialog, const ExportSettingsWording& wording,
                                const std::array<int, 4>& channel_flags) {
    if (created()) return;
    font_ = GdiFont("Arial", 16, 400);
    auto label = [&](int id, const QString& text, int left, int top, int right, int bottom) {
        return Place(new QLabel(text, dialog), id, font_, left, top, right, bottom);
    };
    auto check = [&](int id, const QString& text, int left, int top, int right, int bottom) {
        QCheckBox* box = Place(new QCheckBox(text, dialog), id, font_, left, top, right, bottom);
        box->setChecked(false);
        return box;
    };
    label(kChannelLabelId, Tr("TXT_EXPORT_CHANNEL", "Export channel: "), 40, 10, 240, 30);
    for (int c = 0; c < 4; ++c) {
        char name[16];
        std::snprintf(name, sizeof name, "CH%.2d", c + 1);
        const int x = 90 + 70 * c;
        QCheckBox* box = check(kFirstChannelId + c, name, x - 50, 30, x, 50);
        box->setEnabled(channel_flags[static_cast<size_t>(c)] != 0);
        channel_boxes[static_cast<size_t>(c)] = box;
    }
    label(kFormatLabelId, Tr("TXT_ORI_FORMAT", "Export AVI Format: "), 40, 62, 240, 83);
    format_list = Place(new QComboBox(dialog), kFormatListId, font_, 40, 85, 220, 110);
    format_list->addItem("AVI (Microsoft Video 1)");
    format_list->addItem(wording.original_format);
    format_list->setCurrentIndex(0);
    watermark_box = check(kWatermarkId, Tr("CHK_ENABLE_AVIWM", "Enable Watermark"), 40, 125, 220, 145);
    osd_box = check(kOsdId, "Enable OSD", 40, 150, 220, 170);
    label(kStartLabelId, Tr("TXT_SATRT_TIME", wording.start_label), 40, 190, 160, 210);
    start_time = label(kStartTimeId, QString(), 160, 190, 450, 210);
    label(kEndLabelId, Tr("TXT_END_TIME", wording.end_label), 40, 215, 160, 235);
    end_time = label(kEndTimeId, QString(), 160, 215, 450, 235);
    quality_label = label(kQualityLabelId, Tr("TXT_VIDEO_QUALITY", "Video Quality"), 40, 255, 160, 270);
    quality_list = Place(new QComboBox(dialog), kQualityListId, font_, 40, 275, 220, 300);
    quality_list->addItem(Tr("TXT_EXCELLENT", "Excellent"));
    quality_list->addItem(Tr("TXT_GOOD", "Good"));
    quality_list->addItem(Tr("TXT_STANDARD", "Standard"));
    quality_list->setCurrentIndex(1);
    QObject::connect(format_list, &QComboBox::currentIndexChanged, dialog, [this](int index) { OnFormatChange(index); });
}

void ExportSettingsPage::SetTimes(const std::string& start, const std::string& end) {
    start_time->setText(QString::fromStdString(start));
    end_time->setText(QString::fromStdString(end));
}

void ExportSettingsPage::OnFormatChange(int index) {
    const bool reencode = index == 0;
    quality_list->setEnabled(reencode);
    quality_label->setEnabled(reencode);
    osd_box->setEnabled(reencode);
}

bool ExportSettingsPage::AnyChannelChecked() const {
    return std::any_of(channel_boxes.begin(), channel_boxes.end(), [](QCheckBox* box) { return box->isChecked(); });
}

int ExportSettingsPage::Quality() const { return kQualityValues[std::clamp(quality_list->currentIndex(), 0, 2)]; }

std::string ExportSettingsPage::TimeText(int year, int month, int day, int second_of_day) {
    char text[64];
    std::snprintf(text, sizeof text, "%d/%d/%d, %d:%.2d:%.2d", year, month, day, second_of_day / 3600,
                  (second_of_day % 3600) / 60, second_of_day % 60);
    return text;
}

void ExportDialogButtons::Create(QDialog* dialog, int ok_id, int cancel_id, int browse_id) {
    // Dialog units of the font the window really has.
    const ui::DialogUnits du = ui::DialogUnitsOf(dialog->font());
    ok = new QPushButton("OK", dialog);
    ok->setProperty("controlId", ok_id);
    ok->setGeometry(du.X(136), du.Y(200), du.X(50), du.Y(14));
    ok->setDefault(true);
    cancel = new QPushButton("Cancel", dialog);
    cancel->setProperty("controlId", cancel_id);
    cancel->setGeometry(du.X(194), du.Y(200), du.X(50), du.Y(14));
    browse = new QPushButton("...", dialog);
    browse->setProperty("controlId", browse_id);
    browse->setGeometry(du.X(226), du.Y(7), du.X(18), du.Y(14));
    browse->hide();
    browse->setEnabled(false);
    QObject::connect(cancel, &QPushButton::clicked, dialog, [dialog] { dialog->done(2); });
}

void ExportDialogButtons::SetTexts() {
    ok->setText(Tr("BTN_OK", "OK"));
    cancel->setText(Tr("BTN_CANCEL", "Cancel"));
}

std::string ExportOutputFolder(const std::string& chosen_folder) {
    std::string folder = !chosen_folder.empty() ? chosen_folder : ReadStorageLocation(kStorageLocationChars);
    if (folder.empty()) folder = QDir::homePath().toStdString();
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    return folder;
}
