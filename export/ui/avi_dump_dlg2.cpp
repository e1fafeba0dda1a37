#include "export/ui/avi_dump_dlg2.h"

#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

#include "media/translate_text.h"

namespace {

// Dialog units of the window's 8-point dialog font, in pixels.
int DluX(int x) { return x * 3 / 2; }
int DluY(int y) { return y * 13 / 8; }

}  // namespace

void SetExportCaption(QWidget* window, const std::string& text) {
    if (!window) return;
    window->setWindowTitle(QString::fromStdString(TranslateText("EXPORT", "Export") + " - " + text));
}

CAviDumpDlg2::CAviDumpDlg2(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Dialog");
    setFixedSize(DluX(228), DluY(36));
    ok_ = new QPushButton("OK", this);
    ok_->setProperty("controlId", kOkId);
    ok_->setGeometry(DluX(25), DluY(11), DluX(50), DluY(18));
    ok_->setDefault(true);
    ok_->hide();
    bar_ = new QProgressBar(this);
    bar_->setProperty("controlId", kProgressId);
    bar_->setGeometry(DluX(7), DluY(7), DluX(214), DluY(16));
    bar_->setTextVisible(false);
    abort_ = new QPushButton("Abort", this);
    abort_->setProperty("controlId", kAbortId);
    abort_->setGeometry(DluX(83), DluY(11), DluX(50), DluY(18));
    abort_->hide();
    connect(ok_, &QPushButton::clicked, this, [this] { done(1); });
    connect(abort_, &QPushButton::clicked, this, [this] { done(2); });
    end_timer_.setSingleShot(true);
    end_timer_.setInterval(kEndTimerMs);
    // A tick after the window has already ended changes nothing.
    connect(&end_timer_, &QTimer::timeout, this, [this] {
        if (isVisible()) done(1);
    });
}

void CAviDumpDlg2::OnInitDialog() {
    bar_->setRange(0, 100);
    bar_->setValue(0);
    setWindowTitle(QString::fromStdString(TranslateText("EXPORT", "Export")));
    abort_->setText(QString::fromStdString(TranslateText("BTN_ABORT", "Abort")));
}

int CAviDumpDlg2::DoModal() {
    OnInitDialog();
    const int result = exec();
    end_timer_.stop();
    return result == QDialog::Rejected ? 2 : result;
}

int CAviDumpDlg2::BarPosition() const { return bar_->value(); }

void CAviDumpDlg2::SetProgress(int percent) {
    QMetaObject::invokeMethod(
        this, [this, percent] { bar_->setValue(std::clamp(percent, bar_->minimum(), bar_->maximum())); },
        Qt::QueuedConnection);
}

void CAviDumpDlg2::SetCaption(const std::string& file_name) {
    QMetaObject::invokeMethod(this, [this, file_name] { SetExportCaption(this, file_name); }, Qt::QueuedConnection);
}

void CAviDumpDlg2::EndDialog() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            timer_id_ = kEndTimerId;
            end_timer_.start();
        },
        Qt::QueuedConnection);
}
