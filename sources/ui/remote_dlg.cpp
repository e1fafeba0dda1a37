#include "sources/ui/remote_dlg.h"

#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

#include "media/translate_text.h"
#include "platform/message_box.h"
#include "sources/ui/control_ids.h"
#include "media/ui/text_fit.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

CRemoteDlg::CRemoteDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle("Remote Manager");
    setFixedSize(kWidth, kHeight);
    tab_ = SetControlId(new QTabWidget(this), kTabControlId);
    tab_->setGeometry(7, 7, kWidth - 14, kHeight - 50);
    ok_ = SetControlId(new QPushButton("OK", this), 1);
    ok_->setGeometry(kWidth - 180, kHeight - 36, 80, 25);
    ok_->setDefault(true);
    cancel_ = SetControlId(new QPushButton("Cancel", this), 2);
    cancel_->setGeometry(kWidth - 90, kHeight - 36, 80, 25);
    connect(ok_, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
    connect(tab_, &QTabWidget::currentChanged, this, [this] { OnTabSelChange(); });
}

CRemoteDlg::~CRemoteDlg() {
    // The member pages leave the tab control before the dialog's own destruction.
    disconnect(tab_, nullptr, this, nullptr);
    tab_->clear();
}

int CRemoteDlg::exec() {
    OnInitDialog();
    return QDialog::exec();
}

void CRemoteDlg::OnInitDialog() {
    if (initialised_) return;
    initialised_ = true;
    setWindowTitle(Q(TranslateText("TXT_REMOTE_MANAGER", "Remote Manager")));
    ok_->setText(Q(TranslateText("BTN_OK", "OK")));
    cancel_->setText(Q(TranslateText("BTN_CANCEL", "Cancel")));
    {
        const QSignalBlocker quiet(tab_);
        tab_->addTab(&server_page_, Q(TranslateText("TXT_SERVERNAME", "Server")));
        tab_->addTab(&nas_page_, Q(TranslateText("TXT_SAMBA_SERVER", "Samba Server")));
    }
    const WindowMessageSink sink = [this](uint32_t m, intptr_t w, intptr_t l) { OnWndMsg(m, w, l); };
    server_page_.notify = sink;
    nas_page_.notify = sink;
    server_page_.OnInitDialog();
    server_page_.show();
    pages_ = {&server_page_, &nas_page_};
    current_page_ = 0;
    ui::FitTexts(this);
}

void CRemoteDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    ok_->move(width() - 180, ok_->y());
    cancel_->move(width() - 90, cancel_->y());
}

void CRemoteDlg::OnTabSelChange() {
    const int next = tab_->currentIndex();
    if (current_page_ >= 0 && current_page_ < static_cast<int>(pages_.size()))
        pages_[static_cast<size_t>(current_page_)]->hide();
    current_page_ = next;
    // The share page fills its list (and reports a missing "shared.db") when it is first shown.
    if (next == 1 && !nas_initialised_) {
        nas_initialised_ = true;
        nas_page_.OnInitDialog();
    }
    if (next >= 0 && next < static_cast<int>(pages_.size())) pages_[static_cast<size_t>(next)]->show();
}

void CRemoteDlg::OnWndMsg(uint32_t message, intptr_t wparam, intptr_t) {
    if (message != WM_ENABLE_BUTTONS || (wparam != 0 && wparam != 1)) return;
    ok_->setEnabled(wparam == 1);
    cancel_->setEnabled(wparam == 1);
}

void CRemoteDlg::OnOK() {
    if (current_page_ == 1) {
        const ServerConnectionRecord share = nas_page_.GetRecord();
        if (share.GetIp().empty()) {
            platform::ShowMessageBox("The samba server field is empty!", "Error");
            return;
        }
        if (result_record) {
            // The record selection reaches "\\" + its address: the share's path, as the page tests it.
            const std::string& entry = share.GetServerName();
            result_record->SetIp(entry.empty() ? share.GetIp() : share.GetIp() + "\\" + entry);
            result_record->SetServerName(entry);
            result_record->SetUser(share.GetUser());
            result_record->SetPassword(share.GetPassword());
            result_record->SetPort("0");
            result_mode = 2;
        }
        done(QDialog::Accepted);
        return;
    }
    if (current_page_ != 0) {
        done(QDialog::Accepted);
        return;
    }
    server_page_.GetRecord(&working_);
    if (working_.GetIp().empty()) {
        platform::ShowMessageBox("The ip field is empty!", "Error");
        return;
    }
    if (working_.GetUser().empty()) {
        platform::ShowMessageBox("The user name field is empty!", "Error");
        return;
    }
    if (working_.GetPort().empty()) {
        platform::ShowMessageBox("The port number field is empty!", "Error");
        return;
    }
    if (result_record) {
        result_record->SetIp(working_.GetIp());
        result_record->SetPort(working_.GetPort());
        result_record->SetServerName(working_.GetServerName());
        result_record->SetUser(working_.GetUser());
        result_record->SetPassword(working_.GetPassword());
        result_mode = 1;
    }
    done(QDialog::Accepted);
}
