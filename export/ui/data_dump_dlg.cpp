#include "export/ui/data_dump_dlg.h"

#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>

#include "media/translate_text.h"

namespace {

// Dialog units of the window's 8-point dialog font, in pixels.
int DluX(int x) { return x * 3 / 2; }
int DluY(int y) { return y * 13 / 8; }

}  // namespace

DataDumpDlg::DataDumpDlg(QWidget* parent) : QDialog(parent) {
    setFixedSize(DluX(236), DluY(45));
    bar_ = new QProgressBar(this);
    bar_->setProperty("controlId", kProgressId);
    bar_->setGeometry(DluX(5), DluY(7), DluX(223), DluY(17));
    abort_ = new QPushButton(this);
    abort_->setProperty("controlId", kAbortId);
    abort_->setGeometry(DluX(87), DluY(26), DluX(55), DluY(16));
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
}

int DataDumpDlg::DoModal() {
    OnInitDialog();
    const int result = exec();
    close_timer_.stop();
    return result == QDialog::Rejected ? 2 : result;
}

int DataDumpDlg::BarPosition() const { return bar_->value(); }

void DataDumpDlg::SetBarPosition(int percent) {
    QMetaObject::invokeMethod(this, [this, percent] { bar_->setValue(percent); }, Qt::QueuedConnection);
}

void DataDumpDlg::StartCloseTimer() {
    QMetaObject::invokeMethod(this, [this] { close_timer_.start(); }, Qt::QueuedConnection);
}
