#include "export/ui/avi_export_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "export/ui/avi_dialog2.h"
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
    ok_ = new QPushButton("OK", this);
    ok_->setProperty("controlId", kOkId);
    ok_->setGeometry(du.X(136), du.Y(200), du.X(50), du.Y(14));
    // Enter starts the export, as in the disk-copy export, rather than closing the dialog unasked.
    ok_->setDefault(true);
    cancel_ = new QPushButton("Cancel", this);
    cancel_->setProperty("controlId", kCancelId);
    cancel_->setGeometry(du.X(194), du.Y(200), du.X(50), du.Y(14));
    browse_ = new QPushButton("...", this);
    browse_->setProperty("controlId", kBrowseId);
    browse_->setGeometry(du.X(226), du.Y(7), du.X(18), du.Y(14));
    browse_->hide();
    browse_->setEnabled(false);
    connect(ok_, &QPushButton::clicked, this, &CAviExportDlg::OnExport);
    connect(cancel_, &QPushButton::clicked, this, [this] { done(2); });
}

CAviExportDlg::~CAviExportDlg() = default;

void CAviExportDlg::OnInitDialog() {
    setWindowTitle(Text("TITLE_EXPORT_SETTING", "Export Setting"));
    ok_->setText(Text("BTN_OK", "OK"));
    cancel_->setText(Text("BTN_CANCEL", "Cancel"));
    if (!page_.created()) {
        page_.Create(this, {"Original Format", "Start Time: ", "End Time: "}, channel_flags);
        // The trailer goes on as the box stands when each part closes.
        connect(page_.watermark_box, &QCheckBox::toggled, this, [this](bool on) { engine_.SetWatermark(on); });
    }
    page_.SetTimes(ExportSettingsPage::TimeText(year, month, day, cue_in_second),
                   ExportSettingsPage::TimeText(year, month, day, cue_out_second));
    output_folder_ = !chosen_folder.empty() ? chosen_folder : CAviDialog2::ReadStorageLocation();
    // Without a stored folder the exports land in the user's home folder.
    if (output_folder_.empty()) output_folder_ = QDir::homePath().toStdString();
    while (output_folder_.size() > 1 && (output_folder_.back() == '/' || output_folder_.back() == '\\'))
        output_folder_.pop_back();
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
