#include "sources/ui/server_dlg.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>

#include <vector>

#include "mainwindow/ui/loading_page.h"
#include "media/http_get.h"
#include "media/icmp_ping.h"
#include "media/recorder_api.h"
#include "media/translate_text.h"
#include "platform/message_box.h"
#include "sources/recorder_replies.h"
#include "sources/ui/control_ids.h"
#include "sources/ui/store_failure.h"
#include "media/ui/text_fit.h"

namespace {

constexpr int kConnectTimeoutMs = 3000;
constexpr size_t kDateTimeBufferSize = 512;

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

}  // namespace

CServerDlg::CServerDlg(QWidget* parent)
    : StoreListPage({kSavePassword, kTestButton, kAddButton, kDeleteButton, kEditButton, kServerList},
                    CServerManager::kFileName, parent) {
    struct Row {
        int label_id, edit_id;
        const char* label;
        QLineEdit** edit;
    };
    const Row rows[] = {{kServerLabel, kServerEdit, "Server", &server_edit_},
                        {kIpLabel, kIpEdit, "IP Address", &ip_edit_},
                        {kPortLabel, kPortEdit, "Port", &port_edit_},
                        {kUserLabel, kUserEdit, "User Name", &user_edit_},
                        {kPasswordLabel, kPasswordEdit, "Password", &password_edit_}};
    int y = 15;
    for (const Row& row : rows) {
        *row.edit = AddField(row.label_id, row.edit_id, row.label, y);
        y += 32;
    }
    password_edit_->setEchoMode(QLineEdit::Password);
    AddControls(y, 32);
}

void CServerDlg::OnInitDialog() {
    TranslateTexts({{kPasswordLabel, "TXT_PWD", "Password"},
                    {kUserLabel, "TXT_USER", "User"},
                    {kPortLabel, "TXT_PORT", "Port"},
                    {kServerLabel, "TXT_SERVER", "Server"},
                    {kIpLabel, "TXT_IPADDR", "IP Address"}});
    SetEntryLoaded(0);
    server_edit_->setText("Merlin");
    port_edit_->setText("80");
    FillServerList();
    // In the Remote Manager the page may first fill after the dialog was fitted.
    ui::FitTexts(window());
}

void CServerDlg::FillServerList() {
    FillList<CServerManager>("Message", [this](const SQLite::Table& table) {
        AddLine(StoredValue(table, "server"), StoredValue(table, "ip"));
    });
}

void CServerDlg::ReadFields() {
    server_ = S(server_edit_->text());
    ip_ = S(ip_edit_->text());
    port_ = S(port_edit_->text());
    user_ = S(user_edit_->text());
    password_ = S(password_edit_->text());
    save_password_ = save_password_box_->isChecked() ? 1 : 0;
}

void CServerDlg::WriteFields() {
    server_edit_->setText(Q(server_));
    ip_edit_->setText(Q(ip_));
    port_edit_->setText(Q(port_));
    user_edit_->setText(Q(user_));
    password_edit_->setText(Q(password_));
    save_password_box_->setChecked(save_password_ == 1);
}

void CServerDlg::ClearFields() {
    server_.clear();
    ip_.clear();
    port_.clear();
    user_.clear();
    password_.clear();
    save_password_ = 0;
    WriteFields();
}

void CServerDlg::GetRecord(ServerConnectionRecord* record) const {
    record->SetIp(S(ip_edit_->text()));
    record->SetPort(S(port_edit_->text()));
    record->SetUser(S(user_edit_->text()));
    record->SetPassword(S(password_edit_->text()));
    record->SetServerName(S(server_edit_->text()));
}

bool CServerDlg::ParseListEntry(const std::string& line, std::string* server, std::string* ip) {
    const size_t open = line.find('(');
    if (open == std::string::npos || open == 0) return false;
    *server = line.substr(0, open);
    std::string rest = line.substr(open);
    const auto paren = [](char c) { return c == '(' || c == ')'; };
    size_t first = 0;
    while (first < rest.size() && paren(rest[first])) ++first;
    size_t last = rest.size();
    while (last > first && paren(rest[last - 1])) --last;
    *ip = rest.substr(first, last - first);
    return true;
}

int CServerDlg::AddToStore() {
    ServerConnectionRecord record;
    record.SetServerName(server_);
    record.SetIp(ip_);
    record.SetPort(port_);
    record.SetUser(user_);
    record.SetSaveEnable(save_password_ ? "1" : "0");
    record.SetPassword(save_password_ ? password_ : "");
    CServerManager store(store_file);
    return store.Insert(record);
}

void CServerDlg::OnAdd() {
    ReadFields();
    if (ip_.empty() || !MayAdd<CServerManager>(ip_)) return;
    // A line the store does not hold would vanish on the next opening.
    if (AddToStore() != 0) {
        ShowStoreWriteFailure();
        return;
    }
    AddLine(server_, ip_);
}

// Each line keeps its name and address beside its text: a name holding "(" cannot be
// split back out of the text.
void CServerDlg::AddLine(const std::string& server, const std::string& ip) {
    auto* item = new QListWidgetItem(Q(ListLine(server, ip)));
    SetLineFields(item, server, ip);
    list_->addItem(item);
}

void CServerDlg::SetLineFields(QListWidgetItem* item, const std::string& server, const std::string& ip) {
    item->setText(Q(ListLine(server, ip)));
    item->setData(kLineServerRole, Q(server));
    item->setData(kLineIpRole, Q(ip));
}

bool CServerDlg::LineFields(const QListWidgetItem* item, std::string* server, std::string* ip) {
    if (!item) return false;
    if (item->data(kLineIpRole).isValid()) {
        *server = S(item->data(kLineServerRole).toString());
        *ip = S(item->data(kLineIpRole).toString());
        return true;
    }
    return ParseListEntry(S(item->text()), server, ip);
}

void CServerDlg::OnListSelChange() {
    QListWidgetItem* item = list_->currentItem();
    if (!item) return;
    std::string server, ip;
    if (!LineFields(item, &server, &ip)) return;
    CServerManager store(store_file);
    const ServerConnectionRecord record = store.SelectByIp(ip);
    if (record.GetIp() != ip) return;
    server_ = server;
    ip_ = ip;
    port_ = record.GetPort();
    password_ = record.GetPassword();
    user_ = record.GetUser();
    save_password_ = record.GetSaveEnable() == "1" ? 1 : 0;
    WriteFields();
    SetEntryLoaded(1);
}

void CServerDlg::OnEdit() {
    ReadFields();
    const int row = list_->currentRow();
    if (row < 0) return;
    std::string old_server, old_ip;
    if (!LineFields(list_->item(row), &old_server, &old_ip)) return;
    if (!old_ip.empty()) {
        ServerConnectionRecord record;
        record.SetIp(ip_);
        record.SetPort(port_);
        record.SetUser(user_);
        record.SetPassword(password_);
        record.SetServerName(server_);
        record.SetSaveEnable(save_password_ == 1 ? "1" : "0");
        CServerManager store(store_file);
        // One change, so a failed insert does not lose the old entry.
        if (store.Replace(old_ip, record) == 0) {
            const QSignalBlocker quiet(list_);
            SetLineFields(list_->item(row), server_, ip_);
        } else {
            ShowStoreWriteFailure();
        }
    }
    SetEntryLoaded(0);
}

void CServerDlg::OnDelete() {
    ReadFields();
    const int row = list_->currentRow();
    if (row >= 0) {
        // The line's own address: the IP edit may have been changed since the line was picked.
        std::string server, ip;
        const bool parsed = LineFields(list_->item(row), &server, &ip);
        int result = 0;
        if (parsed) {
            CServerManager store(store_file);
            result = store.DeleteByIp(ip);
        }
        if (result == 0) {
            const QSignalBlocker quiet(list_);
            delete list_->takeItem(row);
            list_->setCurrentRow(-1);
            ClearFields();
        } else {
            ShowStoreWriteFailure();
        }
    }
    SetEntryLoaded(0);
}

void CServerDlg::mousePressEvent(QMouseEvent* event) {
    SetEntryLoaded(0);
    QWidget::mousePressEvent(event);
}

void CServerDlg::OnTestConnection() {
    ReadFields();
    if (ip_.empty()) {
        platform::ShowMessageBox("The ip field is empty!", "Error");
        return;
    }
    if (user_.empty()) {
        platform::ShowMessageBox("The user name field is empty!", "Error");
        return;
    }
    if (port_.empty()) {
        platform::ShowMessageBox("The port number field is empty!", "Error");
        return;
    }
    EnableControls(0);
    PostWindowMessage(this, notify, WM_ENABLE_BUTTONS, 0, 0);
    test_result_ = 0;
    test_aborted_ = 0;
    test_ping_abort_.Reset();
    worker.Run(
        this, CLoadingPage::kDefaultTickLimit, [this] { test_result_ = TestConnection(); },
        [this] {
            test_aborted_ = 1;
            test_ping_abort_.Abort();
            test_http_.Abort();
        });
    platform::ShowMessageBox(test_result_text_, test_result_ == 1 ? "Message" : "Error");
    EnableControls(1);
    PostWindowMessage(this, notify, WM_ENABLE_BUTTONS, 1, 0);
}

int CServerDlg::TestConnection() {
    const std::string prefix = server_ + "(" + ip_ + ") ";
    const std::string failed = prefix + TranslateText("MSG_FAILED_CONNECT", "Connection failed!");
    bool answered = false;
    if (ping) {
        answered = ping(ip_);
    } else {
        IcmpPingResult reply;
        answered = IcmpPing(ip_, &reply, &test_ping_abort_) == 1;
    }
    if (!answered || test_aborted_) {
        test_result_text_ = failed;
        return 0;
    }
    ServerConnectionRecord tested;
    tested.SetIp(ip_);
    tested.SetUser(user_);
    tested.SetPassword(password_);
    tested.SetPort(port_);
    test_http_.SetReceiveTimeout(receive_timeout_ms);
    if (recorder_api::AnswersDateTime(test_http_, tested, kConnectTimeoutMs, kDateTimeBufferSize, test_aborted_)) {
        test_result_text_ = prefix + TranslateText("MSG_SUCCESS_CONNECT", "Connection success!");
        return 1;
    }
    test_result_text_ = failed;
    return 0;
}
