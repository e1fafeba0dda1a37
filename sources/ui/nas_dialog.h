#pragma once
// The Remote Manager's share page: the shares of "shared.db" (server address,
// entry path, user, password), Add / Delete / Edit, and a reachability test
// behind the busy window.
#include <string>

#include "media/server_connection_record.h"
#include "sources/nas_share_store.h"
#include "sources/ui/store_list_page.h"

class QLineEdit;

class CNasDialog : public StoreListPage {
    Q_OBJECT
public:
    enum ControlId {
        kServerEdit = 1010,
        kUserEdit = 1011,
        kPasswordEdit = 1012,
        kEntryEdit = 1013,
        kSavePassword = 1014,
        kAddButton = 1057,
        kDeleteButton = 1060,
        kEditButton = 1061,
        kShareList = 1062,
        kServerLabel = 1063,
        kUserLabel = 1064,
        kPasswordLabel = 1065,
        kTestButton = 1072,
        kEntryLabel = 1076,
    };
    static constexpr int kTestTickLimit = 520;

    explicit CNasDialog(QWidget* parent = nullptr);

    void OnInitDialog();
    void OnTestConnection() override;
    void OnAdd() override;
    void OnDelete() override;
    void OnEdit() override;
    void OnListSelChange() override;

    // The share in the fields: IP address = server address, server name = entry, user, password.
    ServerConnectionRecord GetRecord();
    // "\\" server "\" entry.
    static std::string SharePath(const std::string& server, const std::string& entry);
    // Runs on the worker: 1 when the share can be reached.
    int NasConnectionTest();
    int TestResult() const { return test_result_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void ReadFields();
    void WriteFields();

    QLineEdit* server_edit_ = nullptr;
    QLineEdit* entry_edit_ = nullptr;
    QLineEdit* user_edit_ = nullptr;
    QLineEdit* password_edit_ = nullptr;

    std::string server_, user_, password_, entry_;
    int save_password_ = 0;
    int test_result_ = 0;
};
