// "View Record Files" on a share whose server takes the connection and never
// answers. The dialog's calls return while the share's request is still
// unanswered (the server holds it, the client still waits on it), so the
// window thread never waited on the share: the folder check and month marks
// at opening, another month, the close, and the share scan and day list cut
// short at the busy window's limit.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTimer>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "mainwindow/calendar_grid.h"
#include "mainwindow/ui/calendar.h"
#include "mainwindow/ui/time_line_bar.h"
#include "mainwindow/ui/window_message.h"
#include "platform/network_share.h"
#include "sources/ui/select_dlg.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/sources/ui/ui_test_support.h"
#include "tests/support/temp_folder.h"

namespace {

using Boxes = std::vector<sel_test::Box>;

// A share server at address that accepts and never answers. Every such server of the
// test runs on the port the share layer is told to use.
class SilentShare {
public:
    explicit SilentShare(const char* address) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0) return;
        const int on = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(Port()));
        ::inet_pton(AF_INET, address, &addr.sin_addr);
        socklen_t size = sizeof addr;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener_, 8) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
            ::close(listener_);
            listener_ = -1;
            return;
        }
        if (Port() == 0) {
            Port() = ntohs(addr.sin_port);
            ::setenv(platform::kSharePortVariable, std::to_string(Port()).c_str(), 1);
        }
    }
    ~SilentShare() {
        if (caller_ >= 0) ::close(caller_);
        if (listener_ >= 0) ::close(listener_);
    }
    bool Listening() const { return listener_ >= 0; }

    // Blocks until a client connected and sent its first request (which is never answered).
    bool HoldsARequest() {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 10000) != 1) return false;
        caller_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (caller_ < 0) return false;
        pollfd q{caller_, POLLIN, 0};
        return ::poll(&q, 1, 10000) == 1;
    }
    // The client still waits for the answer: it has not given up on its request.
    bool CallerStillWaits() {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::recv(caller_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }

private:
    static int& Port() {
        static int port = 0;
        return port;
    }
    int listener_ = -1;
    int caller_ = -1;
};

bool Marked(const CCalendar* calendar, int day) {
    const CalendarGrid& grid = calendar->Grid();
    return grid.StateOf(grid.CellOfDay(day)) == CalendarGrid::kStateMarked;
}

// One 10 ms timer event delivered on the window thread.
bool WindowTicks() {
    bool ticked = false;
    QTimer::singleShot(10, [&] { ticked = true; });
    return control_test::RunUntil([&] { return ticked; }, 10000);
}

class ShareWaitsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream(tmp_.Sub("history.ini")) << "[playbackhistory]\n";
        dlg_.history_path = tmp_.Sub("history.ini");
        dlg_.worker.pause_ms = 0;
    }
    // Share mode on the silent server at address, last at 2012-03-05.
    void OnShare(const char* address) {
        dlg_.source_mode = CSelectDlg::kShareMode;
        dlg_.record_source.path = std::string("//") + address + "/data/avdata";
        dlg_.record_source.year = 2012;
        dlg_.record_source.month = 3;
        dlg_.record_source.day = 5;
        ServerConnectionRecord& server = dlg_.engine().server();
        server.SetIp(address);
        server.SetUser("viewer");
        server.SetPassword("pw");
    }

    control_test::ApplicationGuard app_;
    TempFolder tmp_;
    sel_test::BoxRecorder boxes_;
    CSelectDlg dlg_;
};

TEST_F(ShareWaitsTest, OpeningAndAnotherMonthAskTheShareOnAWorkerAndCloseEndsTheWait) {
    SilentShare share("127.0.0.31");
    ASSERT_TRUE(share.Listening());
    OnShare("127.0.0.31");
    dlg_.OnInitDialog();
    EXPECT_TRUE(dlg_.ShareAnswerPending());
    ASSERT_TRUE(share.HoldsARequest());
    // The window runs its events while the share holds the request.
    EXPECT_TRUE(WindowTicks());
    EXPECT_TRUE(dlg_.ShareAnswerPending());
    EXPECT_TRUE(share.CallerStillWaits());

    // Another month: the stalled check is cut short, the new month's is asked on the worker.
    dlg_.calendar()->SetYear(2012);
    dlg_.calendar()->SetMonth(4);
    dlg_.OnWndMsg(WM_CALENDAR_NOTIFY, 0, 0);
    EXPECT_TRUE(dlg_.ShareAnswerPending());
    EXPECT_TRUE(share.CallerStillWaits());

    dlg_.reject();
    EXPECT_FALSE(dlg_.ShareAnswerPending());
    EXPECT_TRUE(share.CallerStillWaits());
    // Nothing that came late is applied.
    EXPECT_TRUE(WindowTicks());
    for (int day = 1; day <= 31; ++day) EXPECT_FALSE(Marked(dlg_.calendar(), day)) << day;
    EXPECT_TRUE(boxes_.Take().empty());
}

TEST_F(ShareWaitsTest, ScanCutShortAtTheBusyWindowsLimitFailsWithoutWaitingForTheShare) {
    SilentShare share("127.0.0.32");
    ASSERT_TRUE(share.Listening());
    dlg_.worker.tick_limit_cap = 4;
    dlg_.OnInitDialog();
    OnShare("127.0.0.32");
    dlg_.ConnectShare("\\\\127.0.0.32 ", false);
    ASSERT_TRUE(share.HoldsARequest());
    EXPECT_TRUE(share.CallerStillWaits());
    const Boxes boxes = boxes_.Take();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, "\\\\127.0.0.32 Login failed!");
    EXPECT_EQ(boxes[0].second, "Error");
}

TEST_F(ShareWaitsTest, DayListCutShortAtTheBusyWindowsLimitShowsNothing) {
    SilentShare share("127.0.0.33");
    ASSERT_TRUE(share.Listening());
    dlg_.worker.tick_limit_cap = 4;
    dlg_.OnInitDialog();
    OnShare("127.0.0.33");
    dlg_.calendar()->SetYear(2012);
    dlg_.calendar()->SetMonth(3);
    dlg_.record_source.day = 0;
    dlg_.calendar()->MarkDay(5);
    ASSERT_TRUE(dlg_.calendar()->SelectDay(5));
    dlg_.OnWndMsg(WM_CALENDAR_NOTIFY, 1, 0);
    ASSERT_TRUE(share.HoldsARequest());
    EXPECT_TRUE(share.CallerStillWaits());
    EXPECT_TRUE(dlg_.time_line()->Model().Segments().empty());
    // The day was not taken: the range handed back names no day of the stalled share.
    EXPECT_EQ(dlg_.record_source.day, 0);
    EXPECT_TRUE(boxes_.Take().empty());
}

}  // namespace
