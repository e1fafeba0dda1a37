#pragma once
// The Backup dialog: a time range and channels of the data folder being
// played are copied into a new "avdata" folder under a chosen destination,
// while the progress window runs modally.
#include <QDialog>
#include <QFont>

#include <array>
#include <cstdint>
#include <string>

#include "export/backup_worker.h"

class QCheckBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QTimeEdit;
class DataDumpDlg;

class CBackupDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kResourceId = 158;
    static constexpr int kBrowseId = 158;
    static constexpr int kStartId = 1057;
    static constexpr int kCancelId = 2;
    static constexpr int kPeriodGroupId = 1911;
    static constexpr int kStartLabelId = 1076;
    static constexpr int kEndLabelId = 1078;
    static constexpr int kStartDateId = 1010;
    static constexpr int kStartTimeId = 1011;
    static constexpr int kEndDateId = 1012;
    static constexpr int kEndTimeId = 1013;
    static constexpr int kCameraLabelId = 1912;
    static constexpr int kCameraGroupId = 1913;
    static constexpr int kChannelBoxId = 1914;
    static constexpr int kDestinationGroupId = 1915;
    static constexpr int kDestinationLabelId = 1916;
    static constexpr int kDestinationEditId = 1917;
    static constexpr int kWidth = 420;
    static constexpr int kHeight = 420;
    static constexpr int kDestinationMaxChars = 512;
    static constexpr int kFinishDelayMs = 1000;

    explicit CBackupDialog(QWidget* parent = nullptr);
    ~CBackupDialog() override;

    // Set by the caller before DoModal: the folder holding the year folders.
    std::string source_folder;

    // 1 after a complete backup (or Enter), 2 after Cancel.
    int DoModal();
    void OnInitDialog();
    void OnBrowse();
    void OnStartBackup();

    // The check boxes, CH1 first (they share one control id).
    QCheckBox* ChannelBox(int index) const { return channel_boxes_[static_cast<size_t>(index)]; }
    const BackupWorker& worker() const { return worker_; }
    BackupWorker& worker() { return worker_; }
    uint64_t required_bytes() const { return required_bytes_; }
    uint64_t free_bytes() const { return free_bytes_; }
    const std::string& destination() const { return destination_; }
    // The progress window while a copy runs, else null.
    DataDumpDlg* progress_dialog() const { return progress_dialog_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

private:
    bool ReadRange();
    void ShowResult();

    std::string destination_;
    BackupRange range_;
    int32_t channel_mask_ = 0;
    std::array<bool, 4> channel_checked_{};
    uint64_t required_bytes_ = 0;
    uint64_t free_bytes_ = 0;
    BackupWorker worker_;
    DataDumpDlg* progress_dialog_ = nullptr;

    QFont font_;
    QDateEdit* start_date_ = nullptr;
    QTimeEdit* start_time_ = nullptr;
    QDateEdit* end_date_ = nullptr;
    QTimeEdit* end_time_ = nullptr;
    std::array<QCheckBox*, 4> channel_boxes_{};
    QLineEdit* destination_edit_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* cancel_ = nullptr;
};
