#include "export/ui/avi_dump_dlg.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <cstdio>

#include "media/translate_text.h"
#include "media/ui/queued_call.h"
#include "media/ui/text_fit.h"

CAVIDumpDlg::CAVIDumpDlg(QWidget* parent) : QDialog(parent) {
    // Dialog units of the font the window really has.
    const ui::DialogUnits du = ui::DialogUnitsOf(font());
    setWindowTitle("Export");
    setFixedSize(du.X(216), du.Y(34));
    bar_ = new QProgressBar(this);
    bar_->setProperty("controlId", kProgressId);
    bar_->setGeometry(du.X(7), du.Y(7), du.X(202), du.Y(17));
    bar_->setTextVisible(false);
    abort_ = new QPushButton("Abort", this);
    abort_->setProperty("controlId", kAbortId);
    abort_->setGeometry(du.X(162), du.Y(7), du.X(47), du.Y(17));
    abort_->hide();
    percent_ = new QLabel(this);
    percent_->setProperty("controlId", kPercentId);
    percent_->setGeometry(du.X(180), du.Y(11), du.X(29), du.Y(16));
    percent_->hide();
    connect(abort_, &QPushButton::clicked, this, &CAVIDumpDlg::OnAbort);
    end_timer_.setSingleShot(true);
    end_timer_.setInterval(kEndTimerMs);
    connect(&end_timer_, &QTimer::timeout, this, &CAVIDumpDlg::OnTimer);
}

CAVIDumpDlg::~CAVIDumpDlg() = default;

void CAVIDumpDlg::OnInitDialog() {
    setWindowTitle(QString::fromStdString(TranslateText("EXPORT", "Export")));
    abort_->setText(QString::fromStdString(TranslateText("BTN_ABORT", "Abort")));
    bar_->setRange(0, 100);
    bar_->setValue(0);
    percent_->clear();
    file_name_.clear();
    finished_ = timer_running_ = 0;
    timer_id_ = 0;
    ui::FitTexts(this);
}

int CAVIDumpDlg::DoModal() {
    OnInitDialog();
    const int result = exec();
    // Calls the writer still makes belong to no run.
    ++run_;
    return result == QDialog::Rejected ? kResultClosed : result;
}

void CAVIDumpDlg::hideEvent(QHideEvent* event) {
    if (timer_running_) {
        end_timer_.stop();
        timer_running_ = 0;
    }
    QDialog::hideEvent(event);
}

void CAVIDumpDlg::OnShowFileName(const std::string& name) {
    file_name_ = name;
    setWindowTitle(QString::fromStdString(TranslateText("EXPORT", "Export") + " - " + name));
}

void CAVIDumpDlg::OnSetProgress(int done, int total) {
    if (!isVisible() || total == 0) return;
    int p = static_cast<int>(static_cast<int64_t>(done) * 100 / total);
    if (p >= 100) p = 100;
    bar_->setValue(std::clamp(p > 0 ? p + 1 : p, bar_->minimum(), bar_->maximum()));
    char text[16];
    std::snprintf(text, sizeof text, "%d%%", p);
    percent_->setText(text);
}

void CAVIDumpDlg::OnFinish() {
    if (!isVisible()) return;
    finished_ = timer_running_ = 1;
    OnSetProgress(100, 100);
    timer_id_ = kEndTimerId;
    end_timer_.start();
}

void CAVIDumpDlg::OnTimer() {
    if (!timer_running_) return;
    end_timer_.stop();
    timer_running_ = 0;
    done(kResultComplete);
}

// The button is hidden; its flags change nothing while the export goes on.
void CAVIDumpDlg::OnAbort() { finished_ = timer_running_ = 1; }

void CAVIDumpDlg::OnWriterEnded() {
    // Without a finish the channel is not complete; the window does not wait for the user.
    if (isVisible() && !finished_) done(kResultFailed);
}

int CAVIDumpDlg::BarPosition() const { return bar_->value(); }
QString CAVIDumpDlg::PercentText() const { return percent_->text(); }

void CAVIDumpDlg::Post(std::function<void()> fn) {
    const int run = run_.load();
    ui::PostQueued(this, [this, run, fn = std::move(fn)] {
        if (run == run_.load()) fn();
    });
}

void CAVIDumpDlg::ShowFileName(const std::string& file_name) {
    Post([this, file_name] { OnShowFileName(file_name); });
}

void CAVIDumpDlg::SetProgress(int elapsed_seconds, int total_seconds) {
    Post([this, elapsed_seconds, total_seconds] { OnSetProgress(elapsed_seconds, total_seconds); });
}

void CAVIDumpDlg::Finish() {
    Post([this] { OnFinish(); });
}

void CAVIDumpDlg::WriterEnded() {
    Post([this] { OnWriterEnded(); });
}
