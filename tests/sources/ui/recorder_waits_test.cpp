// The login and the connection test against a recorder that answers slowly or
// never ends its reply: the window thread keeps running its events (no gap over
// 100 ms, measured by a timer on it), and each ends with the message its reply
// deserves, at its deadline or at the busy window's tick limit.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "mainwindow/calendar_grid.h"
#include "mainwindow/ui/calendar.h"
#include "mainwindow/ui/time_line_bar.h"
#include "mainwindow/ui/window_message.h"
#include "sources/ui/control_ids.h"
#include "sources/ui/select_dlg.h"
#include "sources/ui/server_dlg.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/sources/ui/ui_test_support.h"
#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"
#include "tests/support/window_gap.h"
#include "tools/common/fake_recorder.h"

namespace {

using sel_test::Box;
using Boxes = std::vector<Box>;

using window_gap::LongestWindowGapMs;

// How many times the window thread ran a 10 ms timer while pending() held during act: none when
// act waited for the answer itself, however loaded the machine, since pending() is then over
// before the timer can run.
int WindowTicksWhile(const std::function<bool()>& pending, const std::function<void()>& act) {
    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (pending()) ++ticks;
    });
    timer.start();
    act();
    timer.stop();
    return ticks;
}

struct Case {
    const char* fault;
    int tick_limit_cap;  // 0: the reply's deadline ends the wait
    const char* login_end;
    const char* test_end;
};
// The reply deadline is 400 ms; a cap of 6 ticks (300 ms) closes the busy window first.
const Case kCases[] = {
    {"trickle=150", 0, "Login failed!", "Connection failed!"},
    {"endless", 0, "Login success!", "Connection success!"},
    {"trickle=150", 6, "Connection failed!", "Connection failed!"},
    {"endless", 6, "Connection failed!", "Connection failed!"},
};

class RecorderWaitsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(WriteSmallRecording(tmp_.path(), SmallRecording{}).empty());
    }
    void StartRecorder(const char* fault) {
        recorder_ = std::make_unique<fake::FakeRecorder>();
        fake::FakeRecorderOptions options;
        options.data_folder = tmp_.path();
        ASSERT_TRUE(fake::ParseFault(fault, &options.fault)) << fault;
        std::string error;
        ASSERT_TRUE(recorder_->Start(options, &error)) << error;
    }

    control_test::ApplicationGuard app_;
    TempFolder tmp_;
    sel_test::BoxRecorder boxes_;
    std::unique_ptr<fake::FakeRecorder> recorder_;
};

TEST_F(RecorderWaitsTest, LoginKeepsTheWindowThreadRunning) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.fault) + " cap " + std::to_string(c.tick_limit_cap));
        StartRecorder(c.fault);
        const std::string history = tmp_.Sub("history.ini");
        std::ofstream(history) << "[playbackhistory]\n";
        CSelectDlg dlg;
        dlg.history_path = history;
        dlg.worker.pause_ms = 0;
        dlg.worker.tick_limit_cap = c.tick_limit_cap;
        RecordSelectionTiming timing;
        timing.receive_timeout_ms = c.tick_limit_cap ? 5000 : 400;
        timing.first_keep_alive_ms = 60000;
        dlg.engine().SetTiming(timing);
        dlg.engine().SetPing([](const std::string&) { return true; });
        dlg.source_mode = CSelectDlg::kRecorderMode;
        dlg.server_record.SetServerName("Shop");
        dlg.server_record.SetIp("127.0.0.1");
        dlg.server_record.SetPort(std::to_string(recorder_->port()));
        dlg.server_record.SetUser("admin");
        // The login at start shows no message; the recent-list entry tells how it ended.
        const int64_t gap = LongestWindowGapMs([&] { dlg.OnInitDialog(); });
        EXPECT_LT(gap, 100);
        const LoginOutcome& outcome = dlg.engine().LastLogin();
        EXPECT_EQ(outcome.message, std::string("Shop(127.0.0.1) ") + c.login_end);
        dlg.engine().KillKeepAliveTimer();
        boxes_.Take();
        recorder_->Stop();
    }
}

TEST_F(RecorderWaitsTest, ConnectionTestKeepsTheWindowThreadRunning) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.fault) + " cap " + std::to_string(c.tick_limit_cap));
        StartRecorder((std::string(c.fault) + ":/config/datetime").c_str());
        CServerDlg page;
        page.store_file = tmp_.Sub("server.db");
        page.worker.pause_ms = 0;
        page.worker.tick_limit_cap = c.tick_limit_cap;
        page.receive_timeout_ms = c.tick_limit_cap ? 5000 : 400;
        page.ping = [](const std::string&) { return true; };
        page.OnInitDialog();
        boxes_.Take();  // the missing store
        FindControl<QLineEdit>(&page, CServerDlg::kServerEdit)->setText("Shop");
        FindControl<QLineEdit>(&page, CServerDlg::kIpEdit)->setText("127.0.0.1");
        FindControl<QLineEdit>(&page, CServerDlg::kPortEdit)->setText(QString::number(recorder_->port()));
        FindControl<QLineEdit>(&page, CServerDlg::kUserEdit)->setText("admin");
        const int64_t gap = LongestWindowGapMs([&] { page.OnTestConnection(); });
        EXPECT_LT(gap, 100);
        const Boxes boxes = boxes_.Take();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].first, std::string("Shop(127.0.0.1) ") + c.test_end);
        recorder_->Stop();
    }
}

// The busy window's limit reached while the test still pings: it ends there, and the recorder
// is not asked afterwards (the connect would have cleared the connection's abort).
TEST_F(RecorderWaitsTest, ConnectionTestCutShortDuringThePingAsksNothing) {
    StartRecorder("endless:/config/datetime");
    CServerDlg page;
    page.store_file = tmp_.Sub("server.db");
    page.worker.pause_ms = 0;
    page.worker.tick_limit_cap = 2;
    // Stands for a ping still waiting well after the busy window closed (at 2 ticks, 100 ms).
    page.ping = [](const std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        return true;
    };
    page.OnInitDialog();
    boxes_.Take();  // the missing store
    FindControl<QLineEdit>(&page, CServerDlg::kServerEdit)->setText("Shop");
    FindControl<QLineEdit>(&page, CServerDlg::kIpEdit)->setText("127.0.0.1");
    FindControl<QLineEdit>(&page, CServerDlg::kPortEdit)->setText(QString::number(recorder_->port()));
    FindControl<QLineEdit>(&page, CServerDlg::kUserEdit)->setText("admin");
    page.OnTestConnection();
    const Boxes boxes = boxes_.Take();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, "Shop(127.0.0.1) Connection failed!");
    EXPECT_EQ(recorder_->requests("/config/datetime"), 0);
    recorder_->Stop();
}


bool Marked(const CCalendar* calendar, int day) {
    const CalendarGrid& grid = calendar->Grid();
    return grid.StateOf(grid.CellOfDay(day)) == CalendarGrid::kStateMarked;
}

// "View Record Files" logged in to the test's recorder, with the session the day list needs.
class LoggedInDialog {
public:
    LoggedInDialog(const std::string& history, int port, int receive_timeout_ms) {
        std::ofstream(history) << "[playbackhistory]\n";
        dlg.history_path = history;
        dlg.worker.pause_ms = 0;
        RecordSelectionTiming timing;
        timing.receive_timeout_ms = receive_timeout_ms;
        timing.first_keep_alive_ms = 10;
        timing.next_keep_alive_ms = 50;
        timing.reconnect_pause_ms = 50;
        dlg.engine().SetTiming(timing);
        dlg.engine().SetPing([](const std::string&) { return true; });
        dlg.source_mode = CSelectDlg::kRecorderMode;
        dlg.server_record.SetIp("127.0.0.1");
        dlg.server_record.SetPort(std::to_string(port));
        dlg.server_record.SetUser("admin");
        dlg.OnInitDialog();
        control_test::RunUntil([this] { return dlg.engine().SessionId() >= 0; }, 30000);
        dlg.calendar()->SetYear(2012);
        dlg.calendar()->SetMonth(3);
    }
    void ChangeMonth() { dlg.OnWndMsg(WM_CALENDAR_NOTIFY, 0, 0); }
    void PickDay(int day) {
        dlg.calendar()->SelectDay(day);
        dlg.OnWndMsg(WM_CALENDAR_NOTIFY, 1, 0);
    }
    bool Answered() {
        return control_test::RunUntil([this] { return !dlg.RecorderAnswerPending(); }, 30000);
    }

    CSelectDlg dlg;
};

struct QueryCase {
    const char* fault;
    bool marked;        // day 5 marked after the change of month
    size_t segments;    // on the time line after the click on day 5
    const char* caption;  // row 1 after the click
    bool month_stalls;    // the month's marks or channel names wait for the stalled reply
    bool day_stalls;      // the day's records or channel names do
};
// Replies stall until the 400 ms deadline (endless: with their text; silent: without any).
const QueryCase kQueryCases[] = {
    {"endless:/play/rec", true, 2, "CH01 Front", true, false},
    {"endless:/live/avdevlist", true, 2, "CH01 Front", true, true},
    {"trickle=100:/play/reclist", true, 0, "CH01 Front", false, true},
    {"silent:/play/rec", false, 0, "CH01 Front", true, false},
    {"silent:/live/avdevlist", true, 2, "", true, true},
};

TEST_F(RecorderWaitsTest, DayAndMonthAnswersComeWithoutHoldingTheWindowThread) {
    for (const QueryCase& c : kQueryCases) {
        SCOPED_TRACE(c.fault);
        StartRecorder(c.fault);
        LoggedInDialog logged_in(tmp_.Sub("history.ini"), recorder_->port(), 400);
        CSelectDlg& dlg = logged_in.dlg;
        ASSERT_GE(dlg.engine().SessionId(), 0) << dlg.engine().LastLogin().message << " status " << dlg.engine().LastStatus();
        boxes_.Take();
        if (std::string(c.fault).find("avdevlist") != std::string::npos) dlg.row_caption(0)->clear();

        // A stalled reply is waited for up to its 400 ms deadline: the window thread runs on meanwhile.
        const auto pending = [&dlg] { return dlg.RecorderAnswerPending(); };
        const int month_ticks = WindowTicksWhile(pending, [&] {
            logged_in.ChangeMonth();
            EXPECT_TRUE(logged_in.Answered());
        });
        if (c.month_stalls) {
            EXPECT_GT(month_ticks, 0);
        }
        EXPECT_EQ(Marked(dlg.calendar(), 5), c.marked);

        const int day_ticks = WindowTicksWhile(pending, [&] {
            logged_in.PickDay(5);
            EXPECT_TRUE(logged_in.Answered());
        });
        if (c.day_stalls) {
            EXPECT_GT(day_ticks, 0);
        }
        EXPECT_EQ(dlg.time_line()->Model().Segments().size(), c.segments);
        EXPECT_EQ(dlg.row_caption(0)->text().toStdString(), c.caption);
        EXPECT_TRUE(boxes_.Take().empty());
        dlg.reject();
        recorder_->Stop();
    }
}

// A recorder that never answers the day list, with a minute's deadline: the dialog's close and
// a change of month end the wait within a fraction of it (however loaded the machine), and the
// late answer changes nothing.
TEST_F(RecorderWaitsTest, CloseOrAnotherMonthCutsADayListShort) {
    constexpr int kReplyMs = 60000;
    StartRecorder("silent:/play/reclist");
    {
        LoggedInDialog logged_in(tmp_.Sub("history.ini"), recorder_->port(), kReplyMs);
        CSelectDlg& dlg = logged_in.dlg;
        ASSERT_GE(dlg.engine().SessionId(), 0) << dlg.engine().LastLogin().message << " status " << dlg.engine().LastStatus();
        logged_in.ChangeMonth();
        ASSERT_TRUE(logged_in.Answered());
        logged_in.PickDay(5);
        EXPECT_TRUE(dlg.RecorderAnswerPending());
        QElapsedTimer close;
        close.start();
        dlg.reject();
        EXPECT_LT(close.elapsed(), kReplyMs / 6);
        EXPECT_FALSE(dlg.RecorderAnswerPending());
        EXPECT_FALSE(dlg.engine().QueryRunning());
    }
    {
        LoggedInDialog logged_in(tmp_.Sub("history.ini"), recorder_->port(), kReplyMs);
        CSelectDlg& dlg = logged_in.dlg;
        ASSERT_GE(dlg.engine().SessionId(), 0) << dlg.engine().LastLogin().message << " status " << dlg.engine().LastStatus();
        logged_in.ChangeMonth();
        ASSERT_TRUE(logged_in.Answered());
        logged_in.PickDay(5);
        EXPECT_TRUE(dlg.RecorderAnswerPending());
        EXPECT_LT(LongestWindowGapMs([&] {
                      logged_in.ChangeMonth();
                      EXPECT_TRUE(logged_in.Answered());
                  }),
                  100);
        EXPECT_TRUE(Marked(dlg.calendar(), 5));
        EXPECT_TRUE(dlg.time_line()->Model().Segments().empty());
        QElapsedTimer close;
        close.start();
        dlg.reject();
        EXPECT_LT(close.elapsed(), kReplyMs / 6);
    }
    EXPECT_TRUE(boxes_.Take().empty());
}

}  // namespace

namespace {

// Runs act with a 10 ms timer on the window thread: true when the timer ran ten times while the
// recorder held a request unanswered (a 1 s hold), which a wait on the window thread would have
// prevented. The recorder sees a client go within 50 ms: fewer ticks could follow such a wait.
bool WindowRanWhileHeld(const fake::FakeRecorder& recorder, const std::function<void()>& act) {
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ticks += recorder.requests_held() > 0; });
    timer.start(10);
    act();
    timer.stop();
    return ticks >= 10;
}

TEST_F(RecorderWaitsTest, TheWindowRunsWhileTheRecorderHoldsARequest) {
    enum Flow { kLogin, kConnectionTest, kMonthMarks, kDayList };
    struct HeldCase {
        Flow flow;
        const char* fault;
    };
    const HeldCase cases[] = {
        {kLogin, "silent:/config/login"},
        {kConnectionTest, "silent:/config/datetime"},
        {kMonthMarks, "silent:/play/recdate"},
        {kDayList, "silent:/play/reclist"},
    };
    for (const HeldCase& c : cases) {
        SCOPED_TRACE(c.fault);
        StartRecorder(c.fault);
        if (c.flow == kLogin) {
            const std::string history = tmp_.Sub("history.ini");
            std::ofstream(history) << "[playbackhistory]\n";
            CSelectDlg dlg;
            dlg.history_path = history;
            dlg.worker.pause_ms = 0;
            RecordSelectionTiming timing;
            timing.receive_timeout_ms = 1000;
            timing.first_keep_alive_ms = 60000;
            dlg.engine().SetTiming(timing);
            dlg.engine().SetPing([](const std::string&) { return true; });
            dlg.source_mode = CSelectDlg::kRecorderMode;
            dlg.server_record.SetServerName("Shop");
            dlg.server_record.SetIp("127.0.0.1");
            dlg.server_record.SetPort(std::to_string(recorder_->port()));
            dlg.server_record.SetUser("admin");
            EXPECT_TRUE(WindowRanWhileHeld(*recorder_, [&] { dlg.OnInitDialog(); }));
            EXPECT_EQ(dlg.engine().LastLogin().message, "Shop(127.0.0.1) Connection failed!");
            dlg.engine().KillKeepAliveTimer();
        } else if (c.flow == kConnectionTest) {
            CServerDlg page;
            page.store_file = tmp_.Sub("server.db");
            page.worker.pause_ms = 0;
            page.receive_timeout_ms = 1000;
            page.ping = [](const std::string&) { return true; };
            page.OnInitDialog();
            boxes_.Take();  // the missing store
            FindControl<QLineEdit>(&page, CServerDlg::kServerEdit)->setText("Shop");
            FindControl<QLineEdit>(&page, CServerDlg::kIpEdit)->setText("127.0.0.1");
            FindControl<QLineEdit>(&page, CServerDlg::kPortEdit)->setText(QString::number(recorder_->port()));
            FindControl<QLineEdit>(&page, CServerDlg::kUserEdit)->setText("admin");
            EXPECT_TRUE(WindowRanWhileHeld(*recorder_, [&] { page.OnTestConnection(); }));
            const Boxes boxes = boxes_.Take();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].first, "Shop(127.0.0.1) Connection failed!");
        } else {
            LoggedInDialog logged_in(tmp_.Sub("history.ini"), recorder_->port(), 1000);
            ASSERT_GE(logged_in.dlg.engine().SessionId(), 0) << logged_in.dlg.engine().LastLogin().message;
            boxes_.Take();
            EXPECT_TRUE(WindowRanWhileHeld(*recorder_, [&] {
                if (c.flow == kMonthMarks) {
                    logged_in.ChangeMonth();
                } else {
                    logged_in.ChangeMonth();
                    ASSERT_TRUE(logged_in.Answered());
                    logged_in.PickDay(5);
                }
                EXPECT_TRUE(logged_in.Answered());
            }));
            logged_in.dlg.reject();
        }
        boxes_.Take();
        recorder_->Stop();
    }
}

}  // namespace
