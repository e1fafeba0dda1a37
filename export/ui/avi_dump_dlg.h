#pragma once
// The recorder export's modal progress window, run once per channel. The
// export's writer thread names the file, moves the bar and, when the channel
// is complete, finishes it: the window then ends itself a second later with
// result 1. Closing it is an abort (result 2). A writer that ends without
// finishing (the recorder stopped answering) ends it with kResultFailed.
#include <QDialog>
#include <QTimer>

#include <atomic>
#include <functional>
#include <string>

#include "export/remote_export.h"

class QLabel;
class QProgressBar;
class QPushButton;

class CAVIDumpDlg : public QDialog, public RemoteExportProgressSink {
    Q_OBJECT
public:
    static constexpr int kResourceId = 137;
    static constexpr int kProgressId = 1069;
    static constexpr int kAbortId = 1057;
    static constexpr int kPercentId = 1071;
    static constexpr int kEndTimerId = 1;
    static constexpr int kEndTimerMs = 1000;
    static constexpr int kResultComplete = 1;
    static constexpr int kResultClosed = 2;
    static constexpr int kResultFailed = 3;

    explicit CAVIDumpDlg(QWidget* parent = nullptr);
    ~CAVIDumpDlg() override;

    // Before the writer of a run starts: what was queued for an earlier run,
    // or after it, is dropped from here on.
    void BeginRun() { ++run_; }
    // kResultComplete, kResultClosed (close box, Esc) or kResultFailed.
    int DoModal();
    void OnInitDialog();

    // Window thread.
    void OnShowFileName(const std::string& name);
    void OnSetProgress(int done, int total);
    void OnFinish();
    void OnTimer();
    void OnAbort();
    void OnWriterEnded();

    // Writer thread: each is queued to the window thread, and dropped when
    // the run it was meant for has ended.
    void ShowFileName(const std::string& file_name) override;
    void SetProgress(int elapsed_seconds, int total_seconds) override;
    void Finish() override;
    void WriterEnded() override;

    const std::string& file_name() const { return file_name_; }
    int BarPosition() const;
    QString PercentText() const;
    QPushButton* abort_button() const { return abort_; }
    bool finished() const { return finished_ != 0; }
    bool timer_running() const { return timer_running_ != 0; }
    int timer_id() const { return timer_id_; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    // Runs fn on the window thread while the current run lasts.
    void Post(std::function<void()> fn);

    QProgressBar* bar_ = nullptr;
    QPushButton* abort_ = nullptr;
    QLabel* percent_ = nullptr;
    QTimer end_timer_;
    std::string file_name_;
    int timer_id_ = 0;
    uint8_t timer_running_ = 0;
    uint8_t finished_ = 0;
    std::atomic<int> run_{0};
};
