// The Remote Manager and its recorder list and share pages on temporary
// store files, with message boxes captured.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>

#include <array>
#include <filesystem>
#include <fstream>

#include "sources/nas_share_store.h"
#include "sources/server_manager.h"
#include "sources/ui/control_ids.h"
#include "sources/ui/nas_dialog.h"
#include "sources/ui/remote_dlg.h"
#include "sources/ui/server_dlg.h"
#include "sources/ui/share_connection.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/sources/ui/ui_test_support.h"
#include "tests/support/temp_folder.h"
#include "tools/common/fake_recorder.h"

namespace {

using sel_test::Box;
using Boxes = std::vector<Box>;

QStringList Lines(const QListWidget* list) {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
}

class ServerPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        file_ = tmp_.Sub("server.db");
        page_.store_file = file_;
        page_.worker.pause_ms = 0;
    }
    void Open() { page_.OnInitDialog(); }
    QLineEdit* Edit(int id) { return FindControl<QLineEdit>(&page_, id); }
    QPushButton* Button(int id) { return FindControl<QPushButton>(&page_, id); }
    QListWidget* List() { return FindControl<QListWidget>(&page_, CServerDlg::kServerList); }
    QCheckBox* Save() { return FindControl<QCheckBox>(&page_, CServerDlg::kSavePassword); }
    void Type(const std::string& server, const std::string& ip, const std::string& port, const std::string& user,
              const std::string& password, bool save) {
        Edit(CServerDlg::kServerEdit)->setText(QString::fromStdString(server));
        Edit(CServerDlg::kIpEdit)->setText(QString::fromStdString(ip));
        Edit(CServerDlg::kPortEdit)->setText(QString::fromStdString(port));
        Edit(CServerDlg::kUserEdit)->setText(QString::fromStdString(user));
        Edit(CServerDlg::kPasswordEdit)->setText(QString::fromStdString(password));
        Save()->setChecked(save);
    }
    // add, delete, edit enabled
    std::array<bool, 3> ButtonStates() {
        return {Button(CServerDlg::kAddButton)->isEnabled(), Button(CServerDlg::kDeleteButton)->isEnabled(),
                Button(CServerDlg::kEditButton)->isEnabled()};
    }
    ServerConnectionRecord Stored(const std::string& ip) {
        CServerManager store(file_);
        return store.SelectByIp(ip);
    }

    control_test::ApplicationGuard app_;
    TempFolder tmp_;
    std::string file_;
    sel_test::BoxRecorder boxes_;
    CServerDlg page_;
};

TEST_F(ServerPageTest, MissingStoreIsToldOnOpeningAndOnAdd) {
    Open();
    EXPECT_EQ(boxes_.Take(), (Boxes{{"The database does not exist.", "Message"}}));
    EXPECT_EQ(Edit(CServerDlg::kServerEdit)->text(), "Merlin");
    EXPECT_EQ(Edit(CServerDlg::kPortEdit)->text(), "80");
    EXPECT_EQ(ButtonStates(), (std::array<bool, 3>{true, false, false}));

    // Opening the store left an empty file without the table behind.
    std::filesystem::remove(file_);
    Type("Shop", "10.0.0.5", "80", "admin", "pw", true);
    page_.OnAdd();
    EXPECT_EQ(boxes_.Take(), (Boxes{{"The database does not exist.", "Error"}}));
    // Nothing was stored, so nothing is listed.
    EXPECT_EQ(List()->count(), 0);
}

TEST_F(ServerPageTest, AddSelectEditDeleteKeepListAndStoreTogether) {
    ASSERT_TRUE(sel_test::CreateStore(file_, sel_test::kServerTable));
    {
        CServerManager store(file_);
        ServerConnectionRecord r;
        r.SetSaveEnable("1");
        r.SetServerName("Depot");
        r.SetIp("10.0.0.1");
        r.SetPort("8080");
        r.SetUser("op");
        r.SetPassword("pw1");
        ASSERT_EQ(store.Insert(r), 0);
    }
    Open();
    EXPECT_TRUE(boxes_.Take().empty());
    EXPECT_EQ(Lines(List()), QStringList{"Depot(10.0.0.1)"});

    // An empty address does nothing and says nothing.
    Type("X", "", "80", "u", "p", true);
    page_.OnAdd();
    EXPECT_TRUE(boxes_.Take().empty());
    // The address is compared exactly: other letter case is another recorder.
    Type("Cam", "10.0.0.1", "80", "u", "p", true);
    page_.OnAdd();
    EXPECT_EQ(boxes_.Take(), (Boxes{{"The IP address exists", "Warning"}}));
    Type("Lobby", "cam.LOCAL", "81", "admin", "secret", false);
    page_.OnAdd();
    Type("Yard", "cam.local", "82", "admin", "kept", true);
    page_.OnAdd();
    EXPECT_TRUE(boxes_.Take().empty());
    EXPECT_EQ(Lines(List()), (QStringList{"Depot(10.0.0.1)", "Lobby(cam.LOCAL)", "Yard(cam.local)"}));
    // Unchecked "Save Password" stores no password.
    EXPECT_EQ(Stored("cam.LOCAL").GetPassword(), "");
    EXPECT_EQ(Stored("cam.LOCAL").GetSaveEnable(), "0");
    EXPECT_EQ(Stored("cam.local").GetPassword(), "kept");

    // Selecting a stored line loads it.
    List()->setCurrentRow(0);
    EXPECT_EQ(Edit(CServerDlg::kServerEdit)->text(), "Depot");
    EXPECT_EQ(Edit(CServerDlg::kIpEdit)->text(), "10.0.0.1");
    EXPECT_EQ(Edit(CServerDlg::kPortEdit)->text(), "8080");
    EXPECT_EQ(Edit(CServerDlg::kUserEdit)->text(), "op");
    EXPECT_EQ(Edit(CServerDlg::kPasswordEdit)->text(), "pw1");
    EXPECT_TRUE(Save()->isChecked());
    EXPECT_EQ(page_.EntryLoaded(), 1);
    EXPECT_EQ(ButtonStates(), (std::array<bool, 3>{false, true, true}));

    // Edit of the unsaved entry with a typed password keeps it with save flag "0".
    List()->setCurrentRow(1);
    Edit(CServerDlg::kServerEdit)->setText("Hall");
    Edit(CServerDlg::kPasswordEdit)->setText("typed");
    Save()->setChecked(false);
    page_.OnEdit();
    EXPECT_EQ(Lines(List()), (QStringList{"Depot(10.0.0.1)", "Hall(cam.LOCAL)", "Yard(cam.local)"}));
    EXPECT_EQ(Stored("cam.LOCAL").GetServerName(), "Hall");
    EXPECT_EQ(Stored("cam.LOCAL").GetPassword(), "typed");
    EXPECT_EQ(Stored("cam.LOCAL").GetSaveEnable(), "0");
    EXPECT_EQ(ButtonStates(), (std::array<bool, 3>{true, false, false}));

    // Delete removes the selected line's recorder even when the IP edit was changed meanwhile.
    List()->setCurrentRow(2);
    Edit(CServerDlg::kIpEdit)->setText("10.0.0.1");
    page_.OnDelete();
    EXPECT_EQ(Lines(List()), (QStringList{"Depot(10.0.0.1)", "Hall(cam.LOCAL)"}));
    EXPECT_EQ(Stored("cam.local").GetIp(), "");
    EXPECT_EQ(Stored("10.0.0.1").GetIp(), "10.0.0.1");
    EXPECT_EQ(Edit(CServerDlg::kIpEdit)->text(), "");
    EXPECT_FALSE(Save()->isChecked());

    // A reopened page lists what the store holds.
    CServerDlg again;
    again.store_file = file_;
    again.OnInitDialog();
    EXPECT_EQ(Lines(FindControl<QListWidget>(&again, CServerDlg::kServerList)), Lines(List()));
}

// A name holding parentheses is loaded, edited and deleted like any other.
TEST_F(ServerPageTest, NamesWithParenthesesAreLoadedEditedAndDeleted) {
    ASSERT_TRUE(sel_test::CreateStore(file_, std::string(sel_test::kServerTable) +
                                                 "insert into server values('1','Cam(1)','10.0.0.1','81','op','pw');"));
    Open();
    EXPECT_TRUE(boxes_.Take().empty());
    ASSERT_EQ(Lines(List()), QStringList{"Cam(1)(10.0.0.1)"});
    List()->setCurrentRow(0);
    EXPECT_EQ(page_.EntryLoaded(), 1);
    EXPECT_EQ(Edit(CServerDlg::kServerEdit)->text(), "Cam(1)");
    EXPECT_EQ(Edit(CServerDlg::kIpEdit)->text(), "10.0.0.1");
    EXPECT_EQ(Edit(CServerDlg::kPortEdit)->text(), "81");

    Edit(CServerDlg::kServerEdit)->setText("(Gate) east");
    page_.OnEdit();
    EXPECT_TRUE(boxes_.Take().empty());
    EXPECT_EQ(Lines(List()), QStringList{"(Gate) east(10.0.0.1)"});
    EXPECT_EQ(Stored("10.0.0.1").GetServerName(), "(Gate) east");

    Type("Yard (north)", "10.0.0.2", "80", "admin", "pw", true);
    page_.OnAdd();
    ASSERT_EQ(Lines(List()), (QStringList{"(Gate) east(10.0.0.1)", "Yard (north)(10.0.0.2)"}));
    List()->setCurrentRow(1);
    EXPECT_EQ(Edit(CServerDlg::kServerEdit)->text(), "Yard (north)");
    List()->setCurrentRow(0);
    EXPECT_EQ(Edit(CServerDlg::kServerEdit)->text(), "(Gate) east");
    page_.OnDelete();
    EXPECT_EQ(Lines(List()), QStringList{"Yard (north)(10.0.0.2)"});
    EXPECT_EQ(Stored("10.0.0.1").GetIp(), "");
    List()->setCurrentRow(0);
    EXPECT_EQ(Edit(CServerDlg::kIpEdit)->text(), "10.0.0.2");
}

// A store whose statements fail says so; the list never shows what was not stored.
TEST_F(ServerPageTest, FailedStatementsAreReportedNotShownAsDone) {
    // A file without the table: nothing can be listed or added.
    ASSERT_TRUE(sel_test::CreateStore(file_, "create table other(x text);"));
    Open();
    EXPECT_EQ(boxes_.Take(), (Boxes{{"The database could not be read.", "Error"}}));
    Type("Shop", "10.0.0.5", "80", "admin", "pw", true);
    page_.OnAdd();
    EXPECT_EQ(boxes_.Take(), (Boxes{{"The database could not be changed.", "Error"}}));
    EXPECT_EQ(List()->count(), 0);

    // A store that refuses changes (as a read-only or full one does): Edit and Delete keep the line.
    std::filesystem::remove(file_);
    ASSERT_TRUE(sel_test::CreateStore(file_, std::string(sel_test::kServerTable) +
                                                 "insert into server values('1','Depot','10.0.0.1','80','op','pw');"
                                                 "create trigger no_delete before delete on server"
                                                 " begin select raise(abort, 'refused'); end;"));
    CServerDlg page;
    page.store_file = file_;
    page.OnInitDialog();
    auto* list = FindControl<QListWidget>(&page, CServerDlg::kServerList);
    ASSERT_EQ(Lines(list), QStringList{"Depot(10.0.0.1)"});
    list->setCurrentRow(0);
    FindControl<QLineEdit>(&page, CServerDlg::kServerEdit)->setText("Renamed");
    page.OnEdit();
    EXPECT_EQ(boxes_.Take(), (Boxes{{"The database could not be changed.", "Error"}}));
    EXPECT_EQ(Lines(list), QStringList{"Depot(10.0.0.1)"});
    list->setCurrentRow(0);
    page.OnDelete();
    EXPECT_EQ(boxes_.Take(), (Boxes{{"The database could not be changed.", "Error"}}));
    EXPECT_EQ(Lines(list), QStringList{"Depot(10.0.0.1)"});
    EXPECT_EQ(Stored("10.0.0.1").GetServerName(), "Depot");
}

TEST(ServerPageLines, ParseListEntry) {
    struct Case {
        std::string line;
        bool ok;
        std::string server, ip;
    } cases[] = {
        {"Merlin(192.168.0.20)", true, "Merlin", "192.168.0.20"},
        {"Cam(1)(10.0.0.1)", true, "Cam", "1)(10.0.0.1"},
        {"(10.0.0.1)", false, "", ""},
        {"NoParen", false, "", ""},
        {"A()", true, "A", ""},
    };
    for (const Case& c : cases) {
        std::string server, ip;
        EXPECT_EQ(CServerDlg::ParseListEntry(c.line, &server, &ip), c.ok) << c.line;
        if (c.ok) {
            EXPECT_EQ(server, c.server) << c.line;
            EXPECT_EQ(ip, c.ip) << c.line;
        }
    }
}

TEST_F(ServerPageTest, ConnectionTestChecksFieldsThenAsksTheRecorder) {
    ASSERT_TRUE(sel_test::CreateStore(file_, sel_test::kServerTable));
    Open();
    struct Case {
        std::string ip, user, port, box;
    } checks[] = {{"", "admin", "80", "The ip field is empty!"},
                  {"127.0.0.1", "", "80", "The user name field is empty!"},
                  {"127.0.0.1", "admin", "", "The port number field is empty!"}};
    for (const Case& c : checks) {
        Type("Shop", c.ip, c.port, c.user, "", true);
        page_.OnTestConnection();
        EXPECT_EQ(boxes_.Take(), (Boxes{{c.box, "Error"}}));
    }

    TempFolder data;
    fake::FakeRecorder recorder;
    fake::FakeRecorderOptions options;
    options.data_folder = data.path();
    options.password = "secret";
    std::string error;
    ASSERT_TRUE(recorder.Start(options, &error)) << error;
    if (!sel_test::LoopbackAnswersPing()) page_.ping = [](const std::string&) { return true; };

    std::vector<control_test::Posted> posted;
    page_.notify = [&](uint32_t m, intptr_t w, intptr_t l) { posted.push_back({m, w, l}); };
    Type("Shop", "127.0.0.1", std::to_string(recorder.port()), "admin", "secret", true);
    page_.OnTestConnection();
    EXPECT_EQ(boxes_.Take(), (Boxes{{"Shop(127.0.0.1) Connection success!", "Message"}}));
    control_test::DeliverPosted();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].message, WM_ENABLE_BUTTONS);
    EXPECT_EQ(posted[0].wparam, 0);
    EXPECT_EQ(posted[1].wparam, 1);
    EXPECT_TRUE(Button(CServerDlg::kTestButton)->isEnabled());
    EXPECT_EQ(ButtonStates(), (std::array<bool, 3>{true, false, false}));

    // No ping reply, and a port where nothing listens.
    page_.ping = [](const std::string&) { return false; };
    page_.OnTestConnection();
    EXPECT_EQ(boxes_.Take(), (Boxes{{"Shop(127.0.0.1) Connection failed!", "Error"}}));
    page_.ping = [](const std::string&) { return true; };
    recorder.Stop();
    page_.OnTestConnection();
    EXPECT_EQ(boxes_.Take(), (Boxes{{"Shop(127.0.0.1) Connection failed!", "Error"}}));
}

TEST(RemoteManagerTest, OkChecksTheFieldsAndHandsOutTheRecorder) {
    control_test::ApplicationGuard app;
    TempFolder tmp;
    sel_test::BoxRecorder boxes;
    CRemoteDlg dlg;
    dlg.server_page().store_file = tmp.Sub("server.db");
    ServerConnectionRecord result;
    result.SetSaveEnable("1");
    dlg.result_record = &result;
    dlg.result_mode = 0;
    dlg.OnInitDialog();
    boxes.Take();  // the missing store
    EXPECT_EQ(dlg.tab()->count(), 2);
    EXPECT_EQ(dlg.tab()->property("controlId").toInt(), CRemoteDlg::kTabControlId);

    CServerDlg* page = &dlg.server_page();
    auto edit = [&](int id) { return FindControl<QLineEdit>(page, id); };
    edit(CServerDlg::kIpEdit)->setText("");
    dlg.OnOK();
    edit(CServerDlg::kIpEdit)->setText("10.1.1.1");
    edit(CServerDlg::kUserEdit)->setText("");
    dlg.OnOK();
    edit(CServerDlg::kUserEdit)->setText(" ");
    edit(CServerDlg::kPortEdit)->setText("");
    dlg.OnOK();
    EXPECT_EQ(boxes.Take(), (Boxes{{"The ip field is empty!", "Error"},
                                   {"The user name field is empty!", "Error"},
                                   {"The port number field is empty!", "Error"}}));
    EXPECT_EQ(dlg.result(), 0);
    EXPECT_EQ(result.GetIp(), "");

    edit(CServerDlg::kPortEdit)->setText("8080");
    edit(CServerDlg::kPasswordEdit)->setText("pw");
    dlg.OnOK();
    EXPECT_TRUE(boxes.Take().empty());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.result_mode, 1);
    EXPECT_EQ(result.GetIp(), "10.1.1.1");
    EXPECT_EQ(result.GetServerName(), "Merlin");
    EXPECT_EQ(result.GetPort(), "8080");
    EXPECT_EQ(result.GetUser(), " ");  // spaces count as content
    EXPECT_EQ(result.GetPassword(), "pw");
    EXPECT_EQ(result.GetSaveEnable(), "1");

    // A connection test greys out OK and Cancel until it is over.
    QPushButton* ok = FindControl<QPushButton>(&dlg, 1);
    QPushButton* cancel = FindControl<QPushButton>(&dlg, 2);
    dlg.OnWndMsg(WM_ENABLE_BUTTONS, 0, 0);
    EXPECT_FALSE(ok->isEnabled());
    EXPECT_FALSE(cancel->isEnabled());
    dlg.OnWndMsg(WM_ENABLE_BUTTONS, 7, 0);
    EXPECT_FALSE(ok->isEnabled());
    dlg.OnWndMsg(WM_ENABLE_BUTTONS, 1, 0);
    EXPECT_TRUE(ok->isEnabled());
    EXPECT_TRUE(cancel->isEnabled());
}

int ModeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

// The store keeps saved passwords in plain text: the file that opening the Remote Manager
// on a missing store leaves behind, and the first Add then writes to, is its owner's alone.
TEST(RemoteManagerTest, FirstAddOnAMissingStoreLeavesItOwnerOnly) {
    control_test::ApplicationGuard app;
    TempFolder tmp;
    sel_test::BoxRecorder boxes;
    const std::string store = tmp.Sub("server.db");
    {
        CRemoteDlg dlg;
        dlg.server_page().store_file = store;
        dlg.OnInitDialog();
        dlg.show();
        EXPECT_EQ(boxes.Take(), (Boxes{{"The database does not exist.", "Message"}}));
        EXPECT_EQ(ModeOf(store), 0600);

        CServerDlg* page = &dlg.server_page();
        FindControl<QLineEdit>(page, CServerDlg::kIpEdit)->setText("10.0.0.5");
        FindControl<QLineEdit>(page, CServerDlg::kPasswordEdit)->setText("pw");
        FindControl<QCheckBox>(page, CServerDlg::kSavePassword)->setChecked(true);
        QPushButton* add = FindControl<QPushButton>(page, CServerDlg::kAddButton);
        control_test::Click(add, add->rect().center());
        // The file made by opening holds no table.
        EXPECT_EQ(boxes.Take(), (Boxes{{"The database could not be changed.", "Error"}}));
        EXPECT_EQ(ModeOf(store), 0600);
    }

    // With its table, one found readable by others is narrowed as the page opens it, and the Add is kept.
    std::filesystem::remove(store);
    ASSERT_TRUE(sel_test::CreateStore(store, sel_test::kServerTable));
    ASSERT_EQ(::chmod(store.c_str(), 0644), 0);
    CRemoteDlg again;
    again.server_page().store_file = store;
    again.OnInitDialog();
    again.show();
    EXPECT_EQ(ModeOf(store), 0600);
    CServerDlg* page = &again.server_page();
    FindControl<QLineEdit>(page, CServerDlg::kIpEdit)->setText("10.0.0.5");
    FindControl<QLineEdit>(page, CServerDlg::kPasswordEdit)->setText("pw");
    FindControl<QCheckBox>(page, CServerDlg::kSavePassword)->setChecked(true);
    QPushButton* add = FindControl<QPushButton>(page, CServerDlg::kAddButton);
    control_test::Click(add, add->rect().center());
    EXPECT_TRUE(boxes.Take().empty());
    EXPECT_EQ(CServerManager(store).SelectByIp("10.0.0.5").GetPassword(), "pw");
    EXPECT_EQ(ModeOf(store), 0600);
}

TEST(RemoteManagerTest, OkOnTheSharePageHandsOutTheShare) {
    control_test::ApplicationGuard app;
    TempFolder tmp;
    sel_test::BoxRecorder boxes;
    CRemoteDlg dlg;
    dlg.server_page().store_file = tmp.Sub("server.db");
    dlg.nas_page().store_file = tmp.Sub("shared.db");
    ServerConnectionRecord result;
    dlg.result_record = &result;
    dlg.OnInitDialog();
    boxes.Take();
    dlg.tab()->setCurrentIndex(1);
    EXPECT_EQ(dlg.CurrentPage(), 1);
    EXPECT_EQ(dlg.tab()->tabText(1), "Samba Server");
    // The page was filled when it was first shown.
    EXPECT_EQ(boxes.Take(), (Boxes{{"The database does not exist.", "Error"}}));

    auto edit = [&](int id) { return FindControl<QLineEdit>(&dlg.nas_page(), id); };
    dlg.OnOK();
    EXPECT_EQ(boxes.Take(), (Boxes{{"The samba server field is empty!", "Error"}}));
    EXPECT_EQ(dlg.result(), 0);

    struct Case {
        const char* entry;
        const char* ip;
    } cases[] = {{"rec\\avdata", "nas.local\\rec\\avdata"}, {"", "nas.local"}};
    for (const Case& c : cases) {
        edit(CNasDialog::kServerEdit)->setText("nas.local");
        edit(CNasDialog::kEntryEdit)->setText(c.entry);
        edit(CNasDialog::kUserEdit)->setText("viewer");
        edit(CNasDialog::kPasswordEdit)->setText("pw");
        dlg.setResult(0);
        dlg.OnOK();
        EXPECT_TRUE(boxes.Take().empty());
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        EXPECT_EQ(dlg.result_mode, 2);
        EXPECT_EQ(result.GetIp(), c.ip);
        EXPECT_EQ(result.GetServerName(), c.entry);
        EXPECT_EQ(result.GetUser(), "viewer");
        EXPECT_EQ(result.GetPassword(), "pw");
    }
}

class SharePageTest : public ::testing::Test {
protected:
    void SetUp() override {
        file_ = tmp_.Sub("shared.db");
        page_.store_file = file_;
        page_.worker.pause_ms = 0;
    }
    void TearDown() override { share::SetConnector({}); }
    QLineEdit* Edit(int id) { return FindControl<QLineEdit>(&page_, id); }
    QListWidget* List() { return FindControl<QListWidget>(&page_, CNasDialog::kShareList); }
    QCheckBox* Save() { return FindControl<QCheckBox>(&page_, CNasDialog::kSavePassword); }
    void Type(const std::string& server, const std::string& entry, const std::string& user,
              const std::string& password, bool save) {
        Edit(CNasDialog::kServerEdit)->setText(QString::fromStdString(server));
        Edit(CNasDialog::kEntryEdit)->setText(QString::fromStdString(entry));
        Edit(CNasDialog::kUserEdit)->setText(QString::fromStdString(user));
        Edit(CNasDialog::kPasswordEdit)->setText(QString::fromStdString(password));
        Save()->setChecked(save);
    }
    ServerConnectionRecord Stored(const std::string& ip) {
        NasShareStore store(file_);
        return store.SelectByIp(ip);
    }

    control_test::ApplicationGuard app_;
    TempFolder tmp_;
    std::string file_;
    sel_test::BoxRecorder boxes_;
    CNasDialog page_;
};

TEST_F(SharePageTest, StoreRoundTrip) {
    ASSERT_TRUE(sel_test::CreateStore(file_, sel_test::kShareTable));
    page_.OnInitDialog();
    EXPECT_TRUE(boxes_.Take().empty());

    Type("192.168.0.240", "folder1\\folder2", "guest", "pw", false);
    page_.OnAdd();
    Type("nas.local", "rec's", "admin", "it's secret", true);  // apostrophes stay data
    page_.OnAdd();
    Type("nas.local", "other", "admin", "x", true);  // one share per server
    page_.OnAdd();
    EXPECT_EQ(boxes_.Take(), (Boxes{{"The IP address exists", "Warning"}}));
    EXPECT_EQ(Lines(List()), (QStringList{"192.168.0.240", "nas.local"}));
    EXPECT_EQ(Stored("192.168.0.240").GetServerName(), "folder1\\folder2");
    EXPECT_EQ(Stored("192.168.0.240").GetPassword(), "");
    EXPECT_EQ(Stored("192.168.0.240").GetSaveEnable(), "0");
    EXPECT_EQ(Stored("nas.local").GetPassword(), "it's secret");

    List()->setCurrentRow(1);
    EXPECT_EQ(Edit(CNasDialog::kEntryEdit)->text(), "rec's");
    EXPECT_EQ(Edit(CNasDialog::kPasswordEdit)->text(), "it's secret");
    EXPECT_TRUE(Save()->isChecked());
    EXPECT_EQ(page_.EntryLoaded(), 1);

    // Edit stores the typed password whatever the check box says.
    List()->setCurrentRow(0);
    Edit(CNasDialog::kServerEdit)->setText("192.168.0.241");
    Edit(CNasDialog::kPasswordEdit)->setText("new");
    page_.OnEdit();
    EXPECT_EQ(Lines(List()), (QStringList{"192.168.0.241", "nas.local"}));
    EXPECT_EQ(Stored("192.168.0.240").GetIp(), "");
    EXPECT_EQ(Stored("192.168.0.241").GetPassword(), "new");
    EXPECT_EQ(Stored("192.168.0.241").GetSaveEnable(), "0");
    EXPECT_EQ(page_.EntryLoaded(), 0);

    List()->setCurrentRow(1);
    page_.OnDelete();
    EXPECT_EQ(Lines(List()), QStringList{"192.168.0.241"});
    EXPECT_EQ(Stored("nas.local").GetIp(), "");
    EXPECT_EQ(Edit(CNasDialog::kServerEdit)->text(), "");

    CNasDialog again;
    again.store_file = file_;
    again.OnInitDialog();
    EXPECT_EQ(Lines(FindControl<QListWidget>(&again, CNasDialog::kShareList)), QStringList{"192.168.0.241"});
}

TEST_F(SharePageTest, FailedStatementsAreReportedNotShownAsDone) {
    std::ofstream(file_) << "this is no database, though it has the name of one";
    page_.OnInitDialog();
    EXPECT_EQ(boxes_.Take(), (Boxes{{"The database could not be read.", "Error"}}));
    Type("nas", "rec", "guest", "pw", true);
    page_.OnAdd();
    EXPECT_EQ(boxes_.Take(), (Boxes{{"The database could not be changed.", "Error"}}));
    EXPECT_EQ(List()->count(), 0);
}

TEST_F(SharePageTest, MissingStoreAndConnectionTest) {
    page_.OnInitDialog();
    EXPECT_EQ(boxes_.Take(), (Boxes{{"The database does not exist.", "Error"}}));

    Type("", "x", "u", "p", true);
    page_.OnTestConnection();
    EXPECT_EQ(boxes_.Take(), (Boxes{{"The samba server field is empty!", "Error"}}));

    struct Case {
        int code;
        int result;
    } cases[] = {{share::kConnected, 1}, {share::kCredentialConflict, 0}, {53, 0}};
    for (const Case& c : cases) {
        std::string asked;
        share::SetConnector([&](const std::string& name, const std::string& user, const std::string& password) {
            asked = name + "|" + user + "|" + password;
            return c.code;
        });
        Type("nas", "rec\\cam", "guest", "pw", false);
        page_.OnTestConnection();
        EXPECT_EQ(asked, "\\\\nas\\rec\\cam|guest|pw");
        EXPECT_EQ(page_.TestResult(), c.result) << c.code;
        const std::string tail = c.result ? "  Connection success!" : "  Connection failed!";
        EXPECT_EQ(boxes_.Take(), (Boxes{{"\\\\nas\\rec\\cam" + tail, c.result ? "Message" : "Error"}}));
    }
}

}  // namespace
