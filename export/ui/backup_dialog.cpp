#include "export/ui/backup_dialog.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>
#include <QTimer>

#include <cstdio>
#include <filesystem>

#include "export/ui/data_dump_dlg.h"
#include "media/translate_text.h"
#include "media/ui/gdi_paint.h"
#include "media/ui/ui_services.h"
#include "platform/message_box.h"
#include "media/ui/text_fit.h"

namespace {

using platform::kMbYesNo;
constexpr int kMbIconQuestion = 0x20;
using platform::kIdYes;

std::string Text(const char* key, const char* def) { return TranslateText(key, def); }

// A click on a picker's number selects that number, so digits typed next
// replace it; Qt's own editor would put a cursor there and refuse every
// digit inserted into a number that is already full.
class SelectSectionOnClick : public QObject {
public:
    explicit SelectSectionOnClick(QDateTimeEdit* edit) : QObject(edit), edit_(edit) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease && edit_->currentSection() != QDateTimeEdit::NoSection)
            edit_->setSelectedSection(edit_->currentSection());
        return QObject::eventFilter(watched, event);
    }

private:
    QDateTimeEdit* edit_;
};

void Message(const char* key, const char* def, const char* caption_key, const char* caption_def) {
    platform::ShowMessageBox(Text(key, def), Text(caption_key, caption_def), platform::kMbOk);
}

void Place(QWidget* widget, int id, int left, int top, int right, int bottom) {
    widget->setProperty("controlId", id);
    widget->setGeometry(left, top, right - left, bottom - top);
}

std::string WithoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

CBackupDialog::CBackupDialog(QWidget* parent) : QDialog(parent) {}

CBackupDialog::~CBackupDialog() { worker_.Stop(); }

int CBackupDialog::DoModal() {
    OnInitDialog();
    return exec();
}

void CBackupDialog::OnInitDialog() {
    if (start_) return;
    const QSize screen = ui::ScreenSize();
    setGeometry(screen.width() / 2 - 210, screen.height() / 2 - 215, kWidth, kHeight);
    setWindowTitle(QString::fromStdString(Text("TITLE_BACKUP_SETTING", "Backup Setting")));
    font_ = GdiFont("Arial", 16, 400);
    setFont(font_);

    auto* period = new QGroupBox(QString::fromStdString(Text("TXT_DATETIME_PERIOD", "Time Period")), this);
    Place(period, kPeriodGroupId, 10, 10, 400, 110);
    auto* start_label = new QLabel(QString::fromStdString(Text("TXT_SATRT_TIME", "Start Time") + ": "), this);
    Place(start_label, kStartLabelId, 30, 40, 160, 60);
    auto* end_label = new QLabel(QString::fromStdString(Text("TXT_END_TIME", "End Time: ")), this);
    Place(end_label, kEndLabelId, 30, 70, 160, 90);

    const QDate today = QDate::currentDate();
    auto picker = [](auto* edit, const char* format, int id, int left, int top, int right, int bottom) {
        edit->setDisplayFormat(format);
        Place(edit, id, left, top, right, bottom);
        if (QLineEdit* text = edit->template findChild<QLineEdit*>()) text->installEventFilter(new SelectSectionOnClick(edit));
        return edit;
    };
    start_date_ = picker(new QDateEdit(today, this), "yyyy/MM/dd", kStartDateId, 190, 38, 280, 62);
    start_time_ = picker(new QTimeEdit(QTime(0, 0), this), "HH:mm", kStartTimeId, 290, 38, 350, 62);
    end_date_ = picker(new QDateEdit(today, this), "yyyy/MM/dd", kEndDateId, 190, 68, 280, 92);
    end_time_ = picker(new QTimeEdit(QTime(23, 59), this), "HH:mm", kEndTimeId, 290, 68, 350, 92);

    auto* camera_label = new QLabel(QString::fromStdString(Text("TXT_SEL_CAM", "Select Camera(s)")), this);
    Place(camera_label, kCameraLabelId, 20, 120, 160, 140);
    Place(new QGroupBox(this), kCameraGroupId, 10, 145, 280, 185);
    for (int i = 0; i < 4; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "CH%.2d", i + 1);
        auto* box = new QCheckBox(QString::fromLatin1(name), this);
        const int x = 80 + 60 * i;
        Place(box, kChannelBoxId, x - 50, 160, x, 180);
        channel_boxes_[static_cast<size_t>(i)] = box;
    }

    Place(new QGroupBox(this), kDestinationGroupId, 10, 200, 400, 300);
    auto* destination_label = new QLabel(QString::fromStdString(Text("TXT_BACKUPHDD", "Backup on HardDisk")), this);
    Place(destination_label, kDestinationLabelId, 30, 225, 350, 245);
    destination_edit_ = new QLineEdit(this);
    destination_edit_->setMaxLength(kDestinationMaxChars);
    Place(destination_edit_, kDestinationEditId, 40, 260, 320, 280);

    browse_ = new QPushButton(QStringLiteral("..."), this);
    browse_->setProperty("controlId", kBrowseId);
    browse_->setGeometry(325, 260, 30, 22);
    start_ = new QPushButton(QString::fromStdString(Text("BTN_OK", "OK")), this);
    start_->setProperty("controlId", kStartId);
    start_->setGeometry(240, 350, 80, 30);
    cancel_ = new QPushButton(QString::fromStdString(Text("BTN_CANCEL", "Cancel")), this);
    cancel_->setProperty("controlId", kCancelId);
    cancel_->setGeometry(330, 350, 80, 30);
    // Enter is the dialog's own OK, not a click on the focused button.
    for (QPushButton* button : {browse_, start_, cancel_}) button->setAutoDefault(false);

    connect(browse_, &QPushButton::clicked, this, [this] { OnBrowse(); });
    connect(start_, &QPushButton::clicked, this, [this] { OnStartBackup(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { done(2); });
    for (QWidget* child : findChildren<QWidget*>()) child->setFont(font_);
    ui::FitTexts(this);
}

void CBackupDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        done(1);
        return;
    }
    QDialog::keyPressEvent(event);
}

void CBackupDialog::reject() { done(2); }

void CBackupDialog::OnBrowse() {
    const std::optional<std::string> chosen = ui::ChooseFolder(this, Text("TXT_OPEN_TIPMSG", "Please select a folder"));
    if (!chosen) return;
    if (chosen->empty()) {
        Message("MSG_ERR_NOFOLDER", "It's not a data folder.", "MSG", "Message");
        return;
    }
    destination_edit_->setText(QString::fromStdString(*chosen));
}

bool CBackupDialog::ReadRange() {
    const QDate start_date = start_date_->date();
    const QDate end_date = end_date_->date();
    const QTime start_time = start_time_->time();
    const QTime end_time = end_time_->time();
    range_.start_year = start_date.year();
    range_.start_month = start_date.month();
    range_.start_day = start_date.day();
    range_.start_hour = start_time.hour();
    range_.start_minute = start_time.minute();
    range_.start_second = 0;
    range_.end_year = end_date.year();
    range_.end_month = end_date.month();
    range_.end_day = end_date.day();
    range_.end_hour = end_time.hour();
    range_.end_minute = end_time.minute();
    range_.end_second = 59;
    return range_.Valid();
}

void CBackupDialog::OnStartBackup() {
    if (worker_.Running() || progress_dialog_) return;
    if (!ReadRange()) {
        Message("TIMERANGE_ERROR", "Please set correct start/end time.", "MSG_ERROR", "Error");
        return;
    }
    channel_mask_ = 0;
    for (int i = 0; i < 4; ++i) {
        channel_checked_[static_cast<size_t>(i)] = channel_boxes_[static_cast<size_t>(i)]->isChecked();
        if (channel_checked_[static_cast<size_t>(i)]) channel_mask_ |= 1 << i;
    }
    if (channel_mask_ == 0) {
        Message("MSG_ERR_CH", "No selected channel.", "MSG_ERROR", "Error");
        return;
    }
    if (source_folder.empty()) {
        Message("MSG_ERR_SRCPATH", "Please select a source path.", "MSG_ERROR", "Error");
        return;
    }
    const std::string destination = WithoutTrailingSeparators(destination_edit_->text().toStdString());
    const std::string avdata = destination + "/avdata";
    // Covering the very folder being backed up (or one around it) would delete the source.
    if (destination.empty() || BackupPathsOverlap(source_folder, avdata)) {
        Message("MSG_ERR_DESPATH", "Please select a destination path.", "MSG_ERROR", "Error");
        return;
    }
    // Its free space would read as none: the user is told what is really wrong.
    std::error_code ec;
    if (!std::filesystem::is_directory(destination, ec)) {
        Message("MSG_ERR_NODESFOLDER", "The destination folder does not exist.", "MSG_ERROR", "Error");
        return;
    }
    const bool cover = std::filesystem::symlink_status(avdata, ec).type() != std::filesystem::file_type::not_found &&
                       !ec;
    if (cover) {
        const std::string title = QGuiApplication::applicationDisplayName().toStdString();
        const int answer = platform::ShowMessageBox(
            Text("MSG_COVER", "There is some other document on this path, cover it?"), title, kMbYesNo | kMbIconQuestion);
        if (answer != kIdYes) return;
    }

    BackupJob job;
    job.source = source_folder;
    job.destination = avdata;
    job.range = range_;
    job.channel_mask = channel_mask_;
    required_bytes_ = RequiredSpace(job);
    // The old backup is removed only once the new one is known to fit, so a
    // refused backup never costs the user the one already there.
    free_bytes_ = GetBackupFreeBytes(destination) + (cover ? FolderTreeBytes(avdata) : 0);
    if (!(free_bytes_ > required_bytes_)) {
        char free_text[48], need_text[48];
        std::snprintf(free_text, sizeof free_text, ": %.2f ", BackupGigabytes(free_bytes_));
        std::snprintf(need_text, sizeof need_text, ": %.2f ", BackupGigabytes(required_bytes_));
        const std::string gb = Text("UNIT_GB", "GB");
        const std::string text = Text("MSG_FREE_SPACE", "Free Space") + free_text + gb + "\n" +
                                 Text("MSG_NEED_SPACE", "Required Space") + need_text + gb + "\n\n" +
                                 Text("MSG_BACKUP", "You need more free space to backup recording.");
        platform::ShowMessageBox(text, Text("MSG_NOENOUGHSPACE", "Not Enough Disk Space"), platform::kMbOk);
        return;
    }
    if (cover && !RemoveOldBackup(avdata)) {
        Message("MSG_BACKUP_FAILED", "Some recordings could not be written to the backup folder.", "MSG_ERROR", "Error");
        return;
    }

    destination_ = avdata;
    DataDumpDlg progress(this);
    progress_dialog_ = &progress;
    worker_.Start(job, &progress);
    progress.DoModal();
    // An abort leaves the progress below 100: stop the copy; a complete copy
    // is only finishing. Either way the thread has ended before the window goes.
    if (worker_.Progress() < 100) {
        worker_.Stop();
    } else {
        worker_.Wait();
    }
    worker_.DetachSink();
    progress_dialog_ = nullptr;
    ShowResult();
}

void CBackupDialog::ShowResult() {
    const std::vector<std::string> unreadable = worker_.Tally().unreadable;
    if (!unreadable.empty()) {
        // The first few are named; the rest are of the same cause.
        constexpr size_t kNamed = 5;
        std::string names;
        for (size_t i = 0; i < unreadable.size() && i < kNamed; ++i) names += "\n" + unreadable[i];
        if (unreadable.size() > kNamed) names += "\n...";
        platform::ShowMessageBox(
            Text("MSG_BACKUP_UNREADABLE", "Some recordings could not be read from the data folder:") + names,
            Text("MSG_ERROR", "Error"), platform::kMbOk);
        return;
    }
    // Failed writes come first: a backup whose every write failed copied nothing, but that is no lack of data.
    if (worker_.Tally().failures > 0) {
        Message("MSG_BACKUP_FAILED", "Some recordings could not be written to the backup folder.", "MSG_ERROR",
                "Error");
        return;
    }
    if (worker_.DataCopied() == 0) {
        Message("MSG_NODATA", "No backup data", "MSG", "Message");
        return;
    }
    if (worker_.Progress() < 100) return;
    start_->setEnabled(false);
    QTimer::singleShot(kFinishDelayMs, this, [this] {
        start_->setEnabled(true);
        done(1);
    });
}
