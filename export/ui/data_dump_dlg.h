#pragma once
// The backup's modal progress window. The copy thread moves its bar and, when
// the copy is complete, starts its timer; the window closes at the first tick.
#include <QDialog>
#include <QTimer>

#include "export/backup_worker.h"

class QProgressBar;
class QPushButton;

class DataDumpDlg : public QDialog, public BackupProgressSink {
    Q_OBJECT
public:
    static constexpr int kProgressId = 1069;
    static constexpr int kAbortId = 1;
    static constexpr int kCloseTimerMs = 1000;

    explicit DataDumpDlg(QWidget* parent = nullptr);

    // 1 after Abort or the close timer, 2 after Escape or the close box.
    int DoModal();

    int BarPosition() const;
    bool CloseTimerActive() const { return close_timer_.isActive(); }

    // Copy thread: both are queued to the window thread.
    void SetBarPosition(int percent) override;
    void StartCloseTimer() override;

    void OnInitDialog();

private:
    QProgressBar* bar_ = nullptr;
    QPushButton* abort_ = nullptr;
    QTimer close_timer_;
};
