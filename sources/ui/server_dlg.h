#pragma once
// The Remote Manager's recorder list page: the recorders of "server.db", five
// entry fields, Add / Delete / Edit, and a connection test behind the busy window.
#include <atomic>
#include <functional>
#include <string>

#include "mainwindow/ui/window_message.h"
#include "media/http_get.h"
#include "media/icmp_ping.h"
#include "media/server_connection_record.h"
#include "sources/server_manager.h"
#include "sources/ui/store_list_page.h"

class QLineEdit;
class QListWidgetItem;

class CServerDlg : public StoreListPage {
    Q_OBJECT
public:
    enum ControlId {
        kServerEdit = 1010,
        kIpEdit = 1011,
        kPortEdit = 1012,
        kUserEdit = 1013,
        kPasswordEdit = 1014,
        kSavePassword = 1015,
        kTestButton = 1016,
        kAddButton = 1017,
        kDeleteButton = 1018,
        kEditButton = 1019,
        kServerLabel = 1021,
        kIpLabel = 1022,
        kPortLabel = 1023,
        kUserLabel = 1024,
        kPasswordLabel = 1025,
        kServerList = 1026,
    };
    explicit CServerDlg(QWidget* parent = nullptr);

    // Stands in for the ICMP echo; empty: the real echo.
    std::function<bool(const std::string& host)> ping;
    // Bounds the test's reply; tests shorten it.
    int receive_timeout_ms = HttpGet::kReceiveTimeoutMs;

    void OnInitDialog();
    void OnTestConnection() override;
    void OnAdd() override;
    void OnDelete() override;
    void OnEdit() override;
    void OnListSelChange() override;
    void FillServerList();

    // The five edits into record (IP address, port, user, password, server name).
    void GetRecord(ServerConnectionRecord* record) const;
    // Server name and IP address of a list line; false when the line has no "(" after its first character.
    static bool ParseListEntry(const std::string& line, std::string* server, std::string* ip);
    // Item data roles of a list line: its server name and its IP address.
    static constexpr int kLineServerRole = 0x0100 + 1;  // Qt::UserRole + 1
    static constexpr int kLineIpRole = 0x0100 + 2;
    static std::string ListLine(const std::string& server, const std::string& ip) {
        return server + "(" + ip + ")";
    }

    // Runs on the worker: 1 when the recorder answers ping and "/config/datetime".
    int TestConnection();
    int TestResult() const { return test_result_; }
    const std::string& TestResultText() const { return test_result_text_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    HttpGet test_http_;  // the connection test's, so the busy window's limit can cut it short
    std::atomic<int> test_aborted_{0};
    IcmpPingAbort test_ping_abort_;
    void AddLine(const std::string& server, const std::string& ip);
    static void SetLineFields(QListWidgetItem* item, const std::string& server, const std::string& ip);
    // The line's own name and address; lines without them are split from their text.
    static bool LineFields(const QListWidgetItem* item, std::string* server, std::string* ip);
    void ReadFields();
    void WriteFields();
    void ClearFields();
    // 0 when stored.
    int AddToStore();

    QLineEdit* server_edit_ = nullptr;
    QLineEdit* ip_edit_ = nullptr;
    QLineEdit* port_edit_ = nullptr;
    QLineEdit* user_edit_ = nullptr;
    QLineEdit* password_edit_ = nullptr;

    std::string server_, ip_, port_, user_, password_;
    int save_password_ = 0;
    int test_result_ = 0;
    std::string test_result_text_;
};
