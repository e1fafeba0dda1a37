#include "sources/ui/nas_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>

#include <vector>

#include "media/translate_text.h"
#include "platform/message_box.h"
#include "sources/ui/control_ids.h"
#include "sources/ui/store_failure.h"
#include "sources/ui/share_connection.h"
#include "media/ui/text_fit.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

}  // namespace

CNasDialog::CNasDialog(QWidget* parent)
    : StoreListPage({kSavePassword, kTestButton, kAddButton, kDeleteButton, kEditButton, kShareList},
                    NasShareStore::kFileName, parent) {
    struct Row {
        int label_id, edit_id;
        const char* label;
        const char* hint;
        QLineEdit** edit;
    };
    const Row rows[] = {{kServerLabel, kServerEdit, "Samba Server", "(ex: 192.168.0.240)", &server_edit_},
                        {kEntryLabel, kEntryEdit, "Samba Entry", "(ex: folder1\\folder2\\folder3)", &entry_edit_},
                        {kUserLabel, kUserEdit, "User Name", nullptr, &user_edit_},
                        {kPasswordLabel, kPasswordEdit, "Password", nullptr, &password_edit_}};
    int y = 15;
    for (const Row& row : rows) {
        *row.edit = AddField(row.label_id, row.edit_id, row.label, y);
        y += 24;
        if (row.hint) {
            (new QLabel(row.hint, this))->setGeometry(270, y, 245, 20);
            y += 22;
        }
        y += 6;
    }
    password_edit_->setEchoMode(QLineEdit::Password);
    AddControls(y, 30);
}

void CNasDialog::OnInitDialog() {
    TranslateTexts({{kPasswordLabel, "TXT_PWD", "Password"},
                    {kUserLabel, "TXT_USER", "User"},
                    {kEntryLabel, "TXT_SAMBA_ENTRY", "Samba Entry"},
                    {kServerLabel, "TXT_SAMBA_SERVER", "Samba Server"}});
    SetEntryLoaded(0);
    FillList<NasShareStore>("Error", [this](const SQLite::Table& table) {
        list_->addItem(QString::fromStdString(StoredValue(table, "ip")));
    });
    // In the Remote Manager the page may first fill after the dialog was fitted.
    ui::FitTexts(window());
}

void CNasDialog::ReadFields() {
    server_ = S(server_edit_->text());
    entry_ = S(entry_edit_->text());
    user_ = S(user_edit_->text());
    password_ = S(password_edit_->text());
    save_password_ = save_password_box_->isChecked() ? 1 : 0;
}

void CNasDialog::WriteFields() {
    server_edit_->setText(Q(server_));
    entry_edit_->setText(Q(entry_));
    user_edit_->setText(Q(user_));
    password_edit_->setText(Q(password_));
    save_password_box_->setChecked(save_password_ == 1);
}

void CNasDialog::OnAdd() {
    ReadFields();
    if (server_.empty() || !MayAdd<NasShareStore>(server_)) return;
    ServerConnectionRecord record;
    record.SetIp(server_);
    record.SetServerName(entry_);
    record.SetUser(user_);
    record.SetSaveEnable(save_password_ ? "1" : "0");
    record.SetPassword(save_password_ ? password_ : "");
    NasShareStore store(store_file);
    // A line the store does not hold would vanish on the next opening.
    if (store.Insert(record) != 0) {
        ShowStoreWriteFailure();
        return;
    }
    list_->addItem(Q(server_));
}

void CNasDialog::OnListSelChange() {
    QListWidgetItem* item = list_->currentItem();
    if (!item) return;
    const std::string line = S(item->text());
    NasShareStore store(store_file);
    const ServerConnectionRecord record = store.SelectByIp(line);
    if (record.GetIp() != line) return;
    server_ = line;
    password_ = record.GetPassword();
    user_ = record.GetUser();
    entry_ = record.GetServerName();
    save_password_ = record.GetSaveEnable() == "1" ? 1 : 0;
    WriteFields();
    SetEntryLoaded(1);
}

void CNasDialog::OnEdit() {
    ReadFields();
    const int row = list_->currentRow();
    if (row < 0) return;
    const std::string old_line = S(list_->item(row)->text());
    if (!old_line.empty()) {
        ServerConnectionRecord record;
        record.SetIp(server_);
        record.SetUser(user_);
        record.SetPassword(password_);
        record.SetServerName(entry_);
        record.SetSaveEnable(save_password_ == 1 ? "1" : "0");
        NasShareStore store(store_file);
        if (store.Replace(old_line, record) == 0) {
            const QSignalBlocker quiet(list_);
            list_->item(row)->setText(Q(server_));
        } else {
            ShowStoreWriteFailure();
        }
    }
    SetEntryLoaded(0);
}

void CNasDialog::OnDelete() {
    ReadFields();
    const int row = list_->currentRow();
    if (row >= 0) {
        // The line's own address: the server edit may have been changed since the line was picked.
        NasShareStore store(store_file);
        if (store.DeleteByIp(S(list_->item(row)->text())) == 0) {
            const QSignalBlocker quiet(list_);
            delete list_->takeItem(row);
            list_->setCurrentRow(-1);
            server_.clear();
            entry_.clear();
            user_.clear();
            password_.clear();
            save_password_ = 0;
            WriteFields();
        } else {
            ShowStoreWriteFailure();
        }
    }
    SetEntryLoaded(0);
}

void CNasDialog::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton || event->button() == Qt::MiddleButton) SetEntryLoaded(0);
    QWidget::mousePressEvent(event);
}

ServerConnectionRecord CNasDialog::GetRecord() {
    ReadFields();
    ServerConnectionRecord record;
    record.SetIp(server_);
    record.SetServerName(entry_);
    record.SetUser(user_);
    record.SetPassword(password_);
    return record;
}

std::string CNasDialog::SharePath(const std::string& server, const std::string& entry) {
    return "\\\\" + server + "\\" + entry;
}

int CNasDialog::NasConnectionTest() { return share::TestShare(SharePath(server_, entry_), user_, password_); }

void CNasDialog::OnTestConnection() {
    ReadFields();
    if (server_.empty()) {
        platform::ShowMessageBox("The samba server field is empty!", "Error");
        return;
    }
    EnableControls(0);
    PostWindowMessage(this, notify, WM_ENABLE_BUTTONS, 0, 0);
    test_result_ = 0;
    worker.Run(this, kTestTickLimit, [this] { test_result_ = NasConnectionTest(); });
    const std::string text =
        SharePath(server_, entry_) + "  " +
        (test_result_ == 1 ? TranslateText("MSG_SUCCESS_CONNECT", "Connection success!")
                           : TranslateText("MSG_FAILED_CONNECT", "Connection failed!"));
    platform::ShowMessageBox(text, test_result_ == 1 ? "Message" : "Error");
    EnableControls(1);
    PostWindowMessage(this, notify, WM_ENABLE_BUTTONS, 1, 0);
}
