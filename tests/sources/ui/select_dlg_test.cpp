// The record selection dialog driven as a user would: a data folder from the
// chooser, a recorder (the in-process fake), a share that cannot be reached.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QToolButton>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QScrollBar>
#include <QTimeEdit>

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <fstream>
#include <thread>

#include "mainwindow/ui/calendar.h"
#include "mainwindow/ui/time_line_bar.h"
#include "media/civil_date.h"
#include "media/preview_stream_engine.h"
#include "media/ui/preview_wnd.h"
#include "media/ui/ui_services.h"
#include "platform/ini_file.h"
#include "sources/ui/control_ids.h"
#include "sources/ui/remote_dlg.h"
#include "sources/ui/select_dlg.h"
#include "sources/ui/share_connection.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/sources/ui/ui_test_support.h"
#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"
#include "tools/common/fake_recorder.h"

namespace {

using sel_test::Box;
using Boxes = std::vector<Box>;
using control_test::SendMouse;

constexpr int kStart = 14 * 3600 + 7 * 60;  // the small recording's first second

bool Marked(const CCalendar* calendar, int day) {
    const CalendarGrid& grid = calendar->Grid();
    return grid.StateOf(grid.CellOfDay(day)) == CalendarGrid::kStateMarked;
}

// Drags over one row of the time line from second a to second b.
void DragRow(CTimeLineBar* bar, int row, int a, int b) {
    bar->horizontalScrollBar()->setValue(0);
    const TimeLineModel& m = bar->Model();
    const int y = TimeLineModel::kHeaderHeight + (row - 1) * TimeLineModel::kRowHeight + 10;
    QWidget* view = bar->viewport();
    SendMouse(view, QEvent::MouseButtonPress, QPoint(m.XOfSecond(a), y));
    SendMouse(view, QEvent::MouseMove, QPoint(m.XOfSecond(b), y));
    SendMouse(view, QEvent::MouseButtonRelease, QPoint(m.XOfSecond(b), y));
    control_test::DeliverPosted();
}

RecordSelectionTiming FastTiming() {
    RecordSelectionTiming t;
    t.first_keep_alive_ms = 30;
    t.next_keep_alive_ms = 30;
    t.reconnect_pause_ms = 1;
    return t;
}

class SelectDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Recent, so the scan's search back from today finds it.
        const CivilDate today = TodayLocalDate();
        date_ = CivilFromDays(DaysFromCivil(today.year, today.month, today.day) - 3);
        SmallRecording recording;
        recording.date = date_;
        data_ = WriteSmallRecording(tmp_.path(), recording);
        ASSERT_FALSE(data_.empty());
        history_ = tmp_.Sub("history.ini");
        std::ofstream(history_) << "[playbackhistory]\n";
        dlg_.history_path = history_;
        dlg_.worker.pause_ms = 0;
        dlg_.engine().SetTiming(FastTiming());
        if (!sel_test::LoopbackAnswersPing()) dlg_.engine().SetPing([](const std::string&) { return true; });
    }
    void TearDown() override {
        ui::SetFolderChooser({});
        share::SetConnector({});
    }
    void PickDay(int day) {
        dlg_.calendar()->SelectDay(day);
        dlg_.OnWndMsg(WM_CALENDAR_NOTIFY, 1, 0);
        WaitForRecorder();
    }
    // A recorder answers on the engine's worker; the window applies the answers when they come.
    void WaitForRecorder() {
        EXPECT_TRUE(control_test::RunUntil([this] { return !dlg_.RecorderAnswerPending(); }, 10000));
    }
    void ChooseFolder(const std::string& path) {
        ui::SetFolderChooser([path](QWidget*, const std::string&) { return std::optional<std::string>(path); });
        dlg_.OnChooseFolder();
    }

    control_test::ApplicationGuard app_;
    TempFolder tmp_;
    CivilDate date_;
    std::string data_;
    std::string history_;
    sel_test::BoxRecorder boxes_;
    PreviewStreamEngine preview_;  // outlives the dialog, as the main dialog's does
    CSelectDlg dlg_;
};

TEST_F(SelectDlgTest, FolderDayRangeAndChannelGiveTheRecordSource) {
    dlg_.preview_engine = &preview_;
    dlg_.OnInitDialog();
    ChooseFolder(data_);
    EXPECT_TRUE(boxes_.Take().empty());
    EXPECT_EQ(dlg_.source_mode, CSelectDlg::kFolderMode);
    EXPECT_EQ(dlg_.calendar()->Year(), date_.year);
    EXPECT_EQ(dlg_.calendar()->Month(), date_.month);
    EXPECT_TRUE(Marked(dlg_.calendar(), date_.day));
    EXPECT_FALSE(Marked(dlg_.calendar(), date_.day % 28 + 1));

    PickDay(date_.day);
    const std::vector<TimeLineSegment>& segments = dlg_.time_line()->Model().Segments();
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].channel, 1);
    EXPECT_EQ(segments[1].channel, 2);
    EXPECT_EQ(segments[0].start, kStart);
    EXPECT_EQ(dlg_.row_caption(0)->text(), "CH01 Front");
    EXPECT_EQ(dlg_.row_caption(1)->text(), "CH02 Back");
    EXPECT_EQ(dlg_.row_caption(2)->text(), "");

    dlg_.show();
    control_test::DeliverPosted();
    DragRow(dlg_.time_line(), 2, kStart - 300, kStart + 300);
    EXPECT_EQ(dlg_.record_source.start_second, dlg_.time_line()->SelectionStart());
    EXPECT_GT(dlg_.record_source.end_second, 0);
    EXPECT_EQ(dlg_.start_time()->time(), QTime(14, 7, dlg_.record_source.start_second % 60));
    // The range started the local preview of the selected row's channel.
    EXPECT_EQ(preview_.preview_channel, 1);
    EXPECT_EQ(preview_.record_source.path, data_);
    QElapsedTimer clock;
    clock.start();
    while (dlg_.preview_window()->frame_width() <= 0 && clock.elapsed() < 5000) control_test::Pump(20);
    EXPECT_EQ(dlg_.preview_window()->frame_width(), 176);

    dlg_.OnOK();
    EXPECT_TRUE(boxes_.Take().empty());
    EXPECT_EQ(dlg_.result(), QDialog::Accepted);
    EXPECT_EQ(dlg_.source_mode, 0);
    EXPECT_EQ(dlg_.session_id, -1);
    EXPECT_EQ(dlg_.record_source.path, data_);
    EXPECT_EQ(dlg_.record_source.channel_mask, 2);
    EXPECT_EQ((std::array<int, 3>{dlg_.record_source.year, dlg_.record_source.month, dlg_.record_source.day}),
              (std::array<int, 3>{date_.year, date_.month, date_.day}));
    // Without a recorder session the selection block is not written back.
    EXPECT_EQ(dlg_.selection_block, (std::array<int32_t, 13>{}));
}

TEST_F(SelectDlgTest, RefusedFoldersAndPickerChecks) {
    dlg_.OnInitDialog();
    // Not a data folder, however it was refused, gets one box, captioned
    // "Error"; an "avdata" without recordings likewise.
    for (const std::string& path : {tmp_.path(), std::string("/"), std::string("/mnt"), std::string("/mnt/")}) {
        ChooseFolder(path);
        EXPECT_EQ(boxes_.Take(), (Boxes{{"It's not a data folder.", "Error"}})) << path;
    }
    const std::string empty = tmp_.Sub("empty/avdata");
    std::filesystem::create_directories(empty);
    ChooseFolder(empty);
    EXPECT_EQ(boxes_.Take(), (Boxes{{"It's not a data folder.", "Error"}}));
    EXPECT_TRUE(dlg_.record_source.path.empty());
    // A cancelled chooser changes nothing.
    ui::SetFolderChooser([](QWidget*, const std::string&) { return std::optional<std::string>(); });
    dlg_.OnChooseFolder();
    EXPECT_TRUE(boxes_.Take().empty());

    ChooseFolder(data_);
    PickDay(date_.day);
    // A range over no row cannot be played.
    dlg_.record_source.end_second = kStart + 2;
    dlg_.OnOK();
    EXPECT_EQ(boxes_.Take(), (Boxes{{"No channel selected!", "Warning"}}));
    EXPECT_NE(dlg_.result(), QDialog::Accepted);

    // The time pickers: a start not before the end goes back to the last accepted time.
    dlg_.end_time()->setTime(QTime(23, 0, 0));
    dlg_.start_time()->setTime(QTime(14, 0, 0));
    EXPECT_EQ(dlg_.start_time()->time(), QTime(14, 0, 0));
    dlg_.start_time()->setTime(QTime(23, 30, 0));
    EXPECT_EQ(dlg_.start_time()->time(), QTime(14, 0, 0));
    dlg_.end_time()->setTime(QTime(13, 0, 0));
    EXPECT_EQ(dlg_.end_time()->time(), QTime(23, 0, 0));
    control_test::DeliverPosted();
    // The accepted range went to the time line, which snapped it to the recording.
    EXPECT_EQ(dlg_.time_line()->SelectionStart(), kStart);
    EXPECT_EQ(dlg_.record_source.start_second, kStart);
}

// Both toolbar buttons lie in the open, so a click lands on them and Tab
// stops on them, whatever width the style gives the toolbar.
TEST_F(SelectDlgTest, LegendCaptionsCarryTheirControlIds) {
    dlg_.OnInitDialog();
    struct Case {
        const char* caption;
        int id;
    } cases[] = {{"Record Always", 1083}, {"Record on Event", 1082}, {"Record on Motion", 1084}};
    for (const Case& c : cases) {
        int found = 0;
        for (QLabel* label : dlg_.findChildren<QLabel*>()) {
            if (label->text() != c.caption) continue;
            ++found;
            EXPECT_EQ(label->property("controlId").toInt(), c.id) << c.caption;
        }
        EXPECT_EQ(found, 1) << c.caption;
    }
}

TEST_F(SelectDlgTest, ToolbarButtonsAreReachableByMouseAndTab) {
    dlg_.OnInitDialog();
    dlg_.show();
    QApplication::setActiveWindow(&dlg_);
    control_test::DeliverPosted();
    for (int id : {CSelectDlg::kRemoteManagerTool, CSelectDlg::kFolderTool}) {
        SCOPED_TRACE(id);
        auto* tool = FindControl<QToolButton>(&dlg_, id);
        ASSERT_NE(tool, nullptr);
        EXPECT_TRUE(tool->isVisible());
        const QPoint centre = tool->mapTo(&dlg_, tool->rect().center());
        EXPECT_EQ(dlg_.childAt(centre), tool);
    }
    int chooser_calls = 0;
    ui::SetFolderChooser([&](QWidget*, const std::string&) {
        ++chooser_calls;
        return std::optional<std::string>(data_);
    });
    // A click where the user sees the folder tool.
    auto* folder_tool = FindControl<QToolButton>(&dlg_, CSelectDlg::kFolderTool);
    QWidget* under = dlg_.childAt(folder_tool->mapTo(&dlg_, folder_tool->rect().center()));
    ASSERT_NE(under, nullptr);
    control_test::Click(under, under->mapFrom(&dlg_, folder_tool->mapTo(&dlg_, folder_tool->rect().center())));
    EXPECT_EQ(chooser_calls, 1);
    EXPECT_EQ(dlg_.record_source.path, data_);

    // Tab from OK round the whole dialog passes both tools.
    FindControl<QPushButton>(&dlg_, CSelectDlg::kOk)->setFocus();
    std::set<int> visited;
    for (int i = 0; i < 40; ++i) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        visited.insert(focus->property("controlId").toInt());
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(focus, &tab);
    }
    EXPECT_TRUE(visited.count(CSelectDlg::kRemoteManagerTool));
    EXPECT_TRUE(visited.count(CSelectDlg::kFolderTool));
}

TEST_F(SelectDlgTest, RecorderLoginDaysRecordsAndSession) {
    fake::FakeRecorder recorder;
    fake::FakeRecorderOptions options;
    options.data_folder = tmp_.path();
    options.password = "secret";
    std::string error;
    ASSERT_TRUE(recorder.Start(options, &error)) << error;

    dlg_.source_mode = CSelectDlg::kRecorderMode;
    dlg_.server_record.SetIp("127.0.0.1");
    dlg_.server_record.SetPort(std::to_string(recorder.port()));
    dlg_.server_record.SetUser("admin");
    dlg_.server_record.SetPassword("secret");
    dlg_.OnInitDialog();
    // The login at start tells nothing.
    EXPECT_TRUE(boxes_.Take().empty());
    EXPECT_EQ(dlg_.row_caption(0)->text(), "CH01 Front");
    EXPECT_EQ(dlg_.recent().Entry(0), ",127.0.0.1," + std::to_string(recorder.port()) + ",admin,secret,0;");

    dlg_.calendar()->SetYear(date_.year);
    dlg_.calendar()->SetMonth(date_.month);
    dlg_.OnWndMsg(WM_CALENDAR_NOTIFY, 0, 0);
    WaitForRecorder();
    EXPECT_TRUE(Marked(dlg_.calendar(), date_.day));

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (dlg_.engine().SessionId() < 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GE(dlg_.engine().SessionId(), 0);

    PickDay(date_.day);
    EXPECT_TRUE(boxes_.Take().empty());
    ASSERT_EQ(dlg_.time_line()->Model().Segments().size(), 2u);
    dlg_.time_line()->SetSelection(0, 86399);
    control_test::DeliverPosted();
    EXPECT_EQ(dlg_.record_source.start_second, kStart);

    dlg_.OnOK();
    EXPECT_EQ(dlg_.result(), QDialog::Accepted);
    EXPECT_EQ(dlg_.source_mode, 1);
    EXPECT_GE(dlg_.session_id, 0);
    EXPECT_EQ(dlg_.server_record.GetIp(), "127.0.0.1");
    EXPECT_EQ(dlg_.selection_block[0], date_.year);
    EXPECT_EQ(dlg_.selection_block[2], date_.day);
    EXPECT_EQ(dlg_.selection_block[3], 14);
    EXPECT_EQ(dlg_.selection_block[4], 7);
    EXPECT_EQ(dlg_.selection_block[9], 1);
    EXPECT_EQ(dlg_.selection_block[10], 1);
}

TEST_F(SelectDlgTest, RecentRecorderEntryLogsInAgainAndTells) {
    fake::FakeRecorder recorder;
    fake::FakeRecorderOptions options;
    options.data_folder = tmp_.path();
    std::string error;
    ASSERT_TRUE(recorder.Start(options, &error)) << error;
    const std::string port = std::to_string(recorder.port());
    std::ofstream(history_) << "[playbackhistory]\nhistory1=Shop,127.0.0.1," << port << ",admin,,0;\n"
                            << "history2=Wrong,127.0.0.1,1,admin,,0;\n";
    // It keeps passwords: found readable by others, it is narrowed, and the login's rewrite keeps that.
    ASSERT_EQ(::chmod(history_.c_str(), 0644), 0);
    dlg_.OnInitDialog();
    EXPECT_FALSE(dlg_.OnCommand(100));
    EXPECT_TRUE(dlg_.OnCommand(RecentServerList::kFirstCommandId + 5));  // a free entry
    EXPECT_TRUE(boxes_.Take().empty());
    EXPECT_TRUE(dlg_.OnCommand(RecentServerList::kFirstCommandId));
    EXPECT_EQ(boxes_.Take(), (Boxes{{"Shop(127.0.0.1) Login success!", "Message"}}));
    EXPECT_EQ(dlg_.source_mode, CSelectDlg::kRecorderMode);
    EXPECT_EQ(dlg_.engine().server().GetServerName(), "Shop");
    struct stat st;
    ASSERT_EQ(::stat(history_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    // Rewritten: all ten keys are there now.
    EXPECT_EQ(platform::GetProfileString("playbackhistory", "history10", "<none>", 200, history_), "");

    // Cancel hands nothing back, even with a session.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (dlg_.engine().SessionId() < 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GE(dlg_.engine().SessionId(), 0);
    dlg_.reject();
    EXPECT_EQ(dlg_.result(), QDialog::Rejected);
    EXPECT_EQ(dlg_.session_id, -1);
    EXPECT_EQ(dlg_.server_record.GetIp(), "");
}

// A recorder the recent list cannot keep whole is refused, and the user is told.
TEST_F(SelectDlgTest, AnEntryTheRecentListCannotKeepIsReported) {
    fake::FakeRecorder recorder;
    fake::FakeRecorderOptions options;
    options.data_folder = tmp_.path();
    options.password = std::string(600, ',');
    std::string error;
    ASSERT_TRUE(recorder.Start(options, &error)) << error;
    dlg_.source_mode = CSelectDlg::kRecorderMode;
    dlg_.server_record.SetServerName("Shop");
    dlg_.server_record.SetIp("127.0.0.1");
    dlg_.server_record.SetPort(std::to_string(recorder.port()));
    dlg_.server_record.SetUser("admin");
    dlg_.server_record.SetPassword(options.password);
    dlg_.OnInitDialog();
    EXPECT_EQ(boxes_.Take(), (Boxes{{"The recorder could not be kept in the recent list.", "Warning"}}));
    RecentServerList reread(history_);
    reread.Read();
    EXPECT_EQ(reread.Entry(0), "");
}

// Acts on the Remote Manager once it runs modally.
void WhenManagerRuns(std::function<void(CRemoteDlg*)> act) {
    QTimer::singleShot(50, [act] {
        if (auto* manager = qobject_cast<CRemoteDlg*>(QApplication::activeModalWidget())) act(manager);
    });
}

TEST_F(SelectDlgTest, RemoteManagerCancelKeepsTheRecorderAndOkLogsIn) {
    fake::FakeRecorder recorder;
    fake::FakeRecorderOptions options;
    options.data_folder = tmp_.path();
    std::string error;
    ASSERT_TRUE(recorder.Start(options, &error)) << error;
    // The manager's page opens "server.db" in the working folder.
    struct WorkingFolder {
        std::filesystem::path before = std::filesystem::current_path();
        ~WorkingFolder() { std::filesystem::current_path(before); }
    } restore;
    std::filesystem::current_path(tmp_.path());
    dlg_.OnInitDialog();
    ServerConnectionRecord& own = dlg_.engine().server();
    own.SetIp("10.2.2.2");
    own.SetPort("81");

    WhenManagerRuns([](CRemoteDlg* manager) { manager->reject(); });
    dlg_.OnRemoteManager();
    EXPECT_EQ(own.GetIp(), "10.2.2.2");
    EXPECT_EQ(own.GetPort(), "81");
    EXPECT_EQ(dlg_.source_mode, CSelectDlg::kFolderMode);

    const std::string port = std::to_string(recorder.port());
    WhenManagerRuns([port](CRemoteDlg* manager) {
        CServerDlg* page = &manager->server_page();
        FindControl<QLineEdit>(page, CServerDlg::kIpEdit)->setText("127.0.0.1");
        FindControl<QLineEdit>(page, CServerDlg::kPortEdit)->setText(QString::fromStdString(port));
        FindControl<QLineEdit>(page, CServerDlg::kUserEdit)->setText("admin");
        manager->OnOK();
    });
    dlg_.OnRemoteManager();
    Boxes boxes = boxes_.Take();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back(), (Box{"Merlin(127.0.0.1) Login success!", "Message"}));
    EXPECT_EQ(dlg_.source_mode, CSelectDlg::kRecorderMode);
    EXPECT_EQ(own.GetPort(), port);
}

TEST_F(SelectDlgTest, ShareConnectionOutcomes) {
    dlg_.OnInitDialog();
    ServerConnectionRecord& server = dlg_.engine().server();
    server.SetIp("127.0.0.1");
    server.SetServerName("rec");
    struct Case {
        bool connector;
        int code;
        Box box;
    } cases[] = {
        {true, platform::kShareLogonFailure, {"\\\\127.0.0.1 Login failed!", "Error"}},
        {true, share::kCredentialConflict, {"\\\\127.0.0.1 Login failed!", "Error"}},
        {true, share::kConnected, {"\\\\127.0.0.1 Login success! But no record data can be found.", "Message"}},
    };
    for (const Case& c : cases) {
        std::string asked;
        share::SetConnector({});
        if (c.connector)
            share::SetConnector([&](const std::string& name, const std::string&, const std::string&) {
                asked = name;
                return c.code;
            });
        dlg_.ConnectShare("\\\\127.0.0.1 ", true);
        EXPECT_EQ(boxes_.Take(), Boxes{c.box});
        if (c.connector) {
            EXPECT_EQ(asked, "\\\\127.0.0.1");
        }
        EXPECT_EQ(dlg_.source_mode, CSelectDlg::kShareMode);
    }
    // Only the reachable share went into the history.
    EXPECT_EQ(dlg_.recent().Entry(0), "rec,127.0.0.1,1,,,1;");
    EXPECT_EQ(dlg_.recent().Entry(1), "");
}

TEST(SelectDlgStatic, ChannelSelector) {
    EXPECT_EQ(CSelectDlg::ChannelSelector(0), "1,0,0,0,0,0,0,0,0");
    EXPECT_EQ(CSelectDlg::ChannelSelector(3), "0,0,0,1,0,0,0,0,0");
    EXPECT_EQ(CSelectDlg::ChannelSelector(8), "0,0,0,0,0,0,0,0,1");
}

}  // namespace
