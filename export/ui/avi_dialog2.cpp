#include "export/ui/avi_dialog2.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "export/ui/avi_dump_dlg2.h"
#include "mainwindow/storage_location.h"
#include "media/playback_sinks.h"
#include "media/translate_text.h"
#include "media/ui/gdi_paint.h"
#include "media/ui/text_fit.h"

namespace {


QRect Box(int left, int top, int right, int bottom) { return QRect(left, top, right - left, bottom - top); }

QString Text(const std::string& key, const std::string& def) {
    return QString::fromStdString(TranslateText(key, def));
}

}  // namespace

CAviDialog2::CAviDialog2(QWidget* parent) : QDialog(parent) {
    // Dialog units of the font the window really has.
    const ui::DialogUnits du = ui::DialogUnitsOf(font());
    setWindowTitle("Avi Export");
    setFixedSize(du.X(251), du.Y(221));
    ok_ = new QPushButton("OK", this);
    ok_->setProperty("controlId", kOkId);
    ok_->setGeometry(du.X(136), du.Y(200), du.X(50), du.Y(14));
    ok_->setDefault(true);
    cancel_ = new QPushButton("Cancel", this);
    cancel_->setProperty("controlId", kCancelId);
    cancel_->setGeometry(du.X(194), du.Y(200), du.X(50), du.Y(14));
    // Its save-file question never reached the export; it stays out of reach.
    browse_ = new QPushButton("...", this);
    browse_->setProperty("controlId", kBrowseId);
    browse_->setGeometry(du.X(226), du.Y(7), du.X(18), du.Y(14));
    browse_->hide();
    browse_->setEnabled(false);
    connect(ok_, &QPushButton::clicked, this, &CAviDialog2::OnExport);
    connect(cancel_, &QPushButton::clicked, this, [this] { done(2); });
}

CAviDialog2::~CAviDialog2() = default;

std::string CAviDialog2::ReadStorageLocation() { return ::ReadStorageLocation(kStorageLocationChars); }

QLabel* CAviDialog2::AddLabel(int id, const std::string& text, int left, int top, int right, int bottom) {
    auto* label = new QLabel(QString::fromStdString(text), this);
    label->setProperty("controlId", id);
    label->setGeometry(Box(left, top, right, bottom));
    label->setFont(font_);
    label->show();
    return label;
}

QCheckBox* CAviDialog2::AddCheckBox(int id, const std::string& text, int left, int top, int right, int bottom) {
    auto* box = new QCheckBox(QString::fromStdString(text), this);
    box->setProperty("controlId", id);
    box->setGeometry(Box(left, top, right, bottom));
    box->setFont(font_);
    box->setChecked(false);
    box->show();
    return box;
}

QComboBox* CAviDialog2::AddList(int id, int left, int top, int right, int bottom) {
    auto* list = new QComboBox(this);
    list->setProperty("controlId", id);
    list->setGeometry(Box(left, top, right, bottom));
    list->setFont(font_);
    list->show();
    return list;
}

std::string CAviDialog2::TimeText(int second_of_day) const {
    char text[64];
    const int year = record_source ? record_source->year : 0;
    const int month = record_source ? record_source->month : 0;
    const int day = record_source ? record_source->day : 0;
    std::snprintf(text, sizeof text, "%d/%d/%d, %d:%.2d:%.2d", year, month, day, second_of_day / 3600,
                  (second_of_day % 3600) / 60, second_of_day % 60);
    return text;
}

void CAviDialog2::OnInitDialog() {
    setWindowTitle(Text("TITLE_EXPORT_SETTING", "Export Setting"));
    ok_->setText(Text("BTN_OK", "OK"));
    cancel_->setText(Text("BTN_CANCEL", "Cancel"));
    if (!controls_created_) {
        controls_created_ = true;
        font_ = GdiFont("Arial", 16, 400);
        AddLabel(kChannelLabelId, TranslateText("TXT_EXPORT_CHANNEL", "Export channel: "), 40, 10, 240, 30);
        for (int c = 0; c < 4; ++c) {
            char name[16];
            std::snprintf(name, sizeof name, "CH%.2d", c + 1);
            const int x = 90 + 70 * c;
            channel_boxes_[static_cast<size_t>(c)] = AddCheckBox(kFirstChannelId + c, name, x - 50, 30, x, 50);
            channel_boxes_[static_cast<size_t>(c)]->setEnabled(channel_flags_[static_cast<size_t>(c)] != 0);
        }
        AddLabel(kFormatLabelId, TranslateText("TXT_ORI_FORMAT", "Export AVI Format: "), 40, 62, 240, 83);
        format_list_ = AddList(kFormatListId, 40, 85, 220, 110);
        format_list_->addItem("AVI (Microsoft Video 1)");
        format_list_->addItem("AVI (Original Format)");
        format_list_->setCurrentIndex(0);
        watermark_box_ = AddCheckBox(kWatermarkId, TranslateText("CHK_ENABLE_AVIWM", "Enable Watermark"), 40, 125, 220, 145);
        osd_box_ = AddCheckBox(kOsdId, "Enable OSD", 40, 150, 220, 170);
        AddLabel(kStartLabelId, TranslateText("TXT_SATRT_TIME", "Start Time "), 40, 190, 160, 210);
        start_time_ = AddLabel(kStartTimeId, TimeText(cue_in_second), 160, 190, 450, 210);
        AddLabel(kEndLabelId, TranslateText("TXT_END_TIME", "End Time "), 40, 215, 160, 235);
        end_time_ = AddLabel(kEndTimeId, TimeText(cue_out_second), 160, 215, 450, 235);
        quality_label_ = AddLabel(kQualityLabelId, TranslateText("TXT_VIDEO_QUALITY", "Video Quality"), 40, 255, 160, 270);
        quality_list_ = AddList(kQualityListId, 40, 275, 220, 300);
        quality_list_->addItem(Text("TXT_EXCELLENT", "Excellent"));
        quality_list_->addItem(Text("TXT_GOOD", "Good"));
        quality_list_->addItem(Text("TXT_STANDARD", "Standard"));
        quality_list_->setCurrentIndex(1);
        connect(format_list_, &QComboBox::currentIndexChanged, this, &CAviDialog2::OnFormatChange);
        // The trailer goes on as the box stands when each part closes.
        connect(watermark_box_, &QCheckBox::toggled, this, [this](bool on) { engine_.SetWatermark(on); });
    } else {
        start_time_->setText(QString::fromStdString(TimeText(cue_in_second)));
        end_time_->setText(QString::fromStdString(TimeText(cue_out_second)));
    }
    output_folder_ = !chosen_folder.empty() ? chosen_folder : ReadStorageLocation();
    // Without a stored folder the exports land in the user's home folder.
    if (output_folder_.empty()) output_folder_ = QDir::homePath().toStdString();
    while (output_folder_.size() > 1 && (output_folder_.back() == '/' || output_folder_.back() == '\\'))
        output_folder_.pop_back();
    ui::FitTexts(this);
}

int CAviDialog2::DoModal() {
    OnInitDialog();
    const int result = exec();
    return result == QDialog::Rejected ? 2 : result;
}

void CAviDialog2::OnFormatChange(int index) {
    const bool reencode = index == 0;
    quality_list_->setEnabled(reencode);
    quality_label_->setEnabled(reencode);
    osd_box_->setEnabled(reencode);
}

void CAviDialog2::OnExport() {
    static const RecordSource kNoSource;
    engine_.Configure(record_source ? *record_source : kNoSource, cue_in_second, cue_out_second, output_folder_);
    engine_.SetWatermark(watermark_box_->isChecked());
    engine_.BeginExport();
    for (int c = 0; c < 4; ++c) {
        if (!channel_boxes_[static_cast<size_t>(c)]->isChecked()) continue;
        const int quality = kQualityValues[std::clamp(quality_list_->currentIndex(), 0, 2)];
        const int format = std::max(format_list_->currentIndex(), 0);
        const bool osd = osd_box_->isChecked();
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        CAviDumpDlg2 progress(this);
        progress_dialog_ = &progress;
        engine_.BeginChannel(c, format, quality, osd, local, &progress);
        const int result = progress.DoModal();
        engine_.EndChannel(result);
        progress_dialog_ = nullptr;
        if (result == 2 || !engine_.space_ok()) break;
    }
    if (engine_.timings().after_export_ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(engine_.timings().after_export_ms));
    if (!engine_.space_ok()) {
        // Posted through the parent, which outlives this dialog's deletion right after its run.
        QObject* sender = parent() ? parent() : QCoreApplication::instance();
        PostWindowMessage(sender, message_sink, WM_DISK_FULL, 0, 0);
    }
    done(1);
}
