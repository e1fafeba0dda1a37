#include "export/ui/data_dump_dlg.h"

#include <QProgressBar>
#include <QPushButton>

#include "media/translate_text.h"
#include "media/ui/queued_call.h"
#include "media/ui/text_fit.h"

DataDumpDlg::DataDumpDlg(QWidget* parent) : QDialog(parent) {
    // Dialog units of the font the window really has.
    const ui::DialogUnits du = ui::DialogUnitsOf(font());
    setFixedSize(du.X(236), du.Y(45));
    bar_ = new QProgressBar(this);
    bar_->setProperty("controlId", kProgressId);
    bar_->setGeometry(du.X(5), du.Y(7), du.X(223), du.Y(17));
    abort_ = new QPushButton(this);
    abort_->setProperty("controlId", kAbortId);
    abort_->setGeometry(du.X(87), du.Y(26), du.X(55), du.Y(16));
    abort_->setDefault(true);
    connect(abort_, &QPushButton::clicked, this, [this] { done(1); });
    close_timer_.setSingleShot(false);
    close_timer_.setInterval(kCloseTimerMs);
    // A tick after the window has already ended changes nothing.
    connect(&close_timer_, &QTimer::timeout, this, [this] {
        if (isVisible()) done(1);
    });
}

void DataDumpDlg::OnInitDialog() {
    setWindowTitle(QString::fromStdString(TranslateText("TITLE_BACKUP", "Backup")));
    abort_->setText(QString::fromStdString(TranslateText("BTN_ABORT", "Abort")));
    bar_->setRange(0, 100);
    bar_->setValue(0);
    ui::FitTexts(this);
}

int DataDumpDlg::DoModal() {
    OnInitDialog();
    const int result = exec();
    close_timer_.stop();
    return result == QDialog::Rejected ? 2 : result;
}

int DataDumpDlg::BarPosition() const { return bar_->value(); }

void DataDumpDlg::SetBarPosition(int percent) {
    ui::PostQueued(this, [this, percent] { bar_->setValue(percent); });
}

void DataDumpDlg::StartCloseTimer() {
    ui::PostQueued(this, [this] { close_timer_.start(); });
}
