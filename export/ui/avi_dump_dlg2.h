#pragma once
// The local export's modal progress window for one channel. The export's
// writer thread moves its bar, renames it after each part and, when the
// channel is done, starts its timer; the window ends at the first tick.
#include <QDialog>
#include <QTimer>

#include <string>

#include "export/local_export.h"

class QProgressBar;
class QPushButton;
class QWidget;

// Caption of window: the translated "Export", " - " and text.
void SetExportCaption(QWidget* window, const std::string& text);

class CAviDumpDlg2 : public QDialog, public LocalExportProgressSink {
    Q_OBJECT
public:
    static constexpr int kResourceId = 143;
    static constexpr int kOkId = 1;
    static constexpr int kProgressId = 1069;
    static constexpr int kAbortId = 1081;
    static constexpr int kEndTimerId = 1;
    static constexpr int kEndTimerMs = 800;

    explicit CAviDumpDlg2(QWidget* parent = nullptr);

    // 1 when the end timer ended it (or OK), 2 after Abort, Escape or the close box.
    int DoModal();
    void OnInitDialog();

    int BarPosition() const;
    bool EndTimerActive() const { return end_timer_.isActive(); }
    int timer_id() const { return timer_id_; }

    // Writer thread: each is queued to the window thread.
    void SetProgress(int percent) override;
    void SetCaption(const std::string& file_name) override;
    void EndDialog() override;

private:
    QProgressBar* bar_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* abort_ = nullptr;
    QTimer end_timer_;
    int timer_id_ = 0;
};
