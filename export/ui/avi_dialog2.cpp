#include "export/ui/avi_dialog2.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
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
#include "media/ui/text_fit.h"
#include "platform/message_box.h"

namespace {

QString Text(const std::string& key, const std::string& def) {
    return QString::fromStdString(TranslateText(key, def));
}

}  // namespace

CAviDialog2::CAviDialog2(QWidget* parent) : QDialog(parent) {
    // Dialog units of the font the window really has.
    const ui::DialogUnits du = ui::DialogUnitsOf(font());
    setWindowTitle("Avi Export");
    setFixedSize(du.X(251), du.Y(221));
    buttons_.Create(this, kOkId, kCancelId, kBrowseId);
    connect(buttons_.ok, &QPushButton::clicked, this, &CAviDialog2::OnExport);
}

CAviDialog2::~CAviDialog2() = default;

std::string CAviDialog2::ReadStorageLocation() { return ::ReadStorageLocation(kStorageLocationChars); }

std::string CAviDialog2::TimeText(int second_of_day) const {
    return record_source ? ExportSettingsPage::TimeText(record_source->year, record_source->month, record_source->day,
                                                        second_of_day)
                         : ExportSettingsPage::TimeText(0, 0, 0, second_of_day);
}

void CAviDialog2::OnInitDialog() {
    setWindowTitle(Text("TITLE_EXPORT_SETTING", "Export Setting"));
    buttons_.SetTexts();
    if (!page_.created()) {
        page_.Create(this, {"AVI (Original Format)", "Start Time ", "End Time "}, channel_flags_);
        // The trailer goes on as the box stands when each part closes.
        connect(page_.watermark_box, &QCheckBox::toggled, this, [this](bool on) { engine_.SetWatermark(on); });
    }
    page_.SetTimes(TimeText(cue_in_second), TimeText(cue_out_second));
    output_folder_ = ExportOutputFolder(chosen_folder);
    ui::FitTexts(this);
}

int CAviDialog2::DoModal() {
    OnInitDialog();
    const int result = exec();
    return result == QDialog::Rejected ? 2 : result;
}

void CAviDialog2::OnFormatChange(int index) { page_.OnFormatChange(index); }

void CAviDialog2::ReportFailedParts(const std::vector<ExportedPart>& parts) {
    const std::string text = FailedPartsText(parts);
    if (!text.empty()) platform::ShowMessageBox(text, TranslateText("MSG_ERROR", "Error"), platform::kMbOk);
}

void CAviDialog2::OnExport() {
    static const RecordSource kNoSource;
    engine_.Configure(record_source ? *record_source : kNoSource, cue_in_second, cue_out_second, output_folder_);
    engine_.SetWatermark(page_.watermark_box->isChecked());
    engine_.BeginExport();
    for (int c = 0; c < 4; ++c) {
        if (!page_.channel_boxes[static_cast<size_t>(c)]->isChecked()) continue;
        const int quality = page_.Quality();
        const int format = std::max(page_.format_list->currentIndex(), 0);
        const bool osd = page_.osd_box->isChecked();
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        CAviDumpDlg2 progress(this);
        progress_dialog_ = &progress;
        engine_.BeginChannel(c, format, quality, osd, local, &progress);
        const int result = progress.DoModal();
        engine_.EndChannel(result);
        progress_dialog_ = nullptr;
        if (result == 2 || !engine_.space_ok() || engine_.write_failed() || engine_.read_failed()) break;
    }
    ReportFailedParts(engine_.parts());
    std::string unreadable;
    for (const std::string& path : engine_.unreadable()) unreadable += "\n" + path;
    if (!unreadable.empty())
        platform::ShowMessageBox(
            TranslateText("MSG_EXPORT_UNREADABLE", "Some recordings could not be read from the data folder:") + unreadable,
            TranslateText("MSG_ERROR", "Error"), platform::kMbOk);
    if (!engine_.space_ok()) {
        // Posted through the parent, which outlives this dialog's deletion right after its run.
        QObject* sender = parent() ? parent() : QCoreApplication::instance();
        PostWindowMessage(sender, message_sink, WM_DISK_FULL, 0, 0);
    }
    done(1);
}
