#include "export/ui/avi_dump_dlg2.h"

#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

#include "media/translate_text.h"
#include "media/ui/queued_call.h"
#include "media/ui/text_fit.h"

void SetExportCaption(QWidget* window, const std::string& text) {
    if (!window) return;
    window->setWindowTitle(QString::fromStdString(TranslateText("EXPORT", "Export") + " - " + text));
}

CAviDumpDlg2::CAviDumpDlg2(QWidget* parent) : QDialog(parent) {
    // Dialog units of the font the window really has.
    const ui::DialogUnits du = ui::DialogUnitsOf(font());
    setWindowTitle("Dialog");
    setFixedSize(du.X(228), du.Y(36));
    ok_ = new QPushButton("OK", this);
    ok_->setProperty("controlId", kOkId);
    ok_->setGeometry(du.X(25), du.Y(11), du.X(50), du.Y(18));
    ok_->setDefault(true);
    ok_->hide();
    bar_ = new QProgressBar(this);
    bar_->setProperty("controlId", kProgressId);
    bar_->setGeometry(du.X(7), du.Y(7), du.X(214), du.Y(16));
    bar_->setTextVisible(false);
    abort_ = new QPushButton("Abort", this);
    abort_->setProperty("controlId", kAbortId);
    abort_->setGeometry(du.X(83), du.Y(11), du.X(50), du.Y(18));
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
    ui::FitTexts(this);
}

int CAviDumpDlg2::DoModal() {
    OnInitDialog();
    const int result = exec();
    end_timer_.stop();
    return result == QDialog::Rejected ? 2 : result;
}

int CAviDumpDlg2::BarPosition() const { return bar_->value(); }

void CAviDumpDlg2::SetProgress(int percent) {
    ui::PostQueued(this, [this, percent] { bar_->setValue(std::clamp(percent, bar_->minimum(), bar_->maximum())); });
}

void CAviDumpDlg2::SetCaption(const std::string& file_name) {
    ui::PostQueued(this, [this, file_name] { SetExportCaption(this, file_name); });
}

void CAviDumpDlg2::EndDialog() {
    ui::PostQueued(this, [this] {
        timer_id_ = kEndTimerId;
        end_timer_.start();
    });
}
