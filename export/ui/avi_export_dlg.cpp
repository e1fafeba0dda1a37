#include "export/ui/avi_export_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "media/translate_text.h"
#include "media/ui/text_fit.h"
#include "platform/message_box.h"

namespace {

QString Text(const char* key, const char* def) { return QString::fromStdString(TranslateText(key, def)); }

}  // namespace

CAviExportDlg::CAviExportDlg(QWidget* parent) : QDialog(parent), progress_(this) {
    // Dialog units of the font the window really has.
    const ui::DialogUnits du = ui::DialogUnitsOf(font());
    setWindowTitle("AVI Export");
    setFixedSize(du.X(249), du.Y(222));
    buttons_.Create(this, kOkId, kCancelId, kBrowseId);
    connect(buttons_.ok, &QPushButton::clicked, this, &CAviExportDlg::OnExport);
}

CAviExportDlg::~CAviExportDlg() = default;

void CAviExportDlg::OnInitDialog() {
    setWindowTitle(Text("TITLE_EXPORT_SETTING", "Export Setting"));
    buttons_.SetTexts();
    if (!page_.created()) {
        page_.Create(this, {"Original Format", "Start Time: ", "End Time: "}, channel_flags);
        // The trailer goes on as the box stands when each part closes.
        connect(page_.watermark_box, &QCheckBox::toggled, this, [this](bool on) { engine_.SetWatermark(on); });
    }
    page_.SetTimes(ExportSettingsPage::TimeText(year, month, day, cue_in_second),
                   ExportSettingsPage::TimeText(year, month, day, cue_out_second));
    output_folder_ = ExportOutputFolder(chosen_folder);
    ui::FitTexts(this);
}

int CAviExportDlg::DoModal() {
    OnInitDialog();
    const int result = exec();
    return result == QDialog::Rejected ? 2 : result;
}

void CAviExportDlg::OnExport() {
    if (!page_.AnyChannelChecked()) {
        platform::ShowMessageBox("No channel selected!", "Warning");
        return;
    }
    RemoteExportSettings settings;
    settings.host = server.GetIp();
    settings.user = server.GetUser();
    settings.password = server.GetPassword();
    settings.port = std::atoi(server.GetPort().c_str());
    settings.session_id = session_id;
    settings.year = year;
    settings.month = month;
    settings.day = day;
    settings.cue_in = cue_in_second;
    settings.cue_out = cue_out_second;
    settings.output_folder = output_folder_;
    settings.original_format = page_.format_list->currentIndex() == 1;
    settings.quality = page_.Quality();
    settings.osd = page_.osd_box->isChecked();
    engine_.Configure(settings);
    engine_.SetWatermark(page_.watermark_box->isChecked());
    engine_.BeginExport();
    failed_.clear();
    for (int c = 0; c < 4; ++c) {
        if (!page_.channel_boxes[static_cast<size_t>(c)]->isChecked()) continue;
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        progress_.BeginRun();
        engine_.BeginChannel(c, local, &progress_);
        const int result = progress_.DoModal();
        engine_.EndChannel();
        const bool failed =
            result == CAVIDumpDlg::kResultFailed || engine_.download_gave_up() || engine_.write_failed();
        if (failed) failed_.push_back(c);
        if (result != CAVIDumpDlg::kResultComplete || !engine_.space_ok() || engine_.write_failed()) break;
    }
    if (!engine_.space_ok()) {
        // Posted through the parent, which outlives this dialog's deletion right after its run.
        QObject* sender = parent() ? parent() : QCoreApplication::instance();
        PostWindowMessage(sender, message_sink, WM_DISK_FULL, 0, 0);
    }
    if (!failed_.empty()) {
        std::string names;
        for (int c : failed_) {
            char name[16];
            std::snprintf(name, sizeof name, "CH%.2d", c + 1);
            names += (names.empty() ? "" : ", ") + std::string(name);
        }
        platform::ShowMessageBox(TranslateText("MSG_EXPORT_FAILED", "These channels could not be exported whole: {0}", names),
                                 TranslateText("MSG_ERROR", "Error"));
    }
    done(2);
}
