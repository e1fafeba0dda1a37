// A disk copy on a real smbd, used as the user does: the Remote Manager's share
// page adds and tests the share, the record selection scans it, marks its days,
// lists a day, previews and hands the range to the main dialog, which plays it;
// the recent list reaches it again; export and backup read it as they read the
// same copy on local disk.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "export/backup_worker.h"
#include "export/local_export.h"
#include "mainwindow/ui/calendar.h"
#include "mainwindow/ui/kestrel_playback_dlg.h"
#include "mainwindow/ui/my_button.h"
#include "mainwindow/ui/time_line_bar.h"
#include "media/civil_date.h"
#include "media/preview_stream_engine.h"
#include "media/ui/preview_wnd.h"
#include "media/ui/ui_services.h"
#include "media/ui/viewer_grid.h"
#include "platform/network_share.h"
#include "sources/nas_share_store.h"
#include "sources/ui/control_ids.h"
#include "sources/ui/remote_dlg.h"
#include "sources/ui/select_dlg.h"
#include "sources/ui/share_connection.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/sources/ui/ui_test_support.h"
#include "tests/support/samba_server.h"
#include "tests/support/sample_recording.h"
#include "tests/support/skip.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using sel_test::Box;
using Boxes = std::vector<Box>;

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
    control_test::SendMouse(view, QEvent::MouseButtonPress, QPoint(m.XOfSecond(a), y));
    control_test::SendMouse(view, QEvent::MouseMove, QPoint(m.XOfSecond(b), y));
    control_test::SendMouse(view, QEvent::MouseButtonRelease, QPoint(m.XOfSecond(b), y));
    control_test::DeliverPosted();
}

std::map<std::string, std::string> FilesBelow(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        std::ifstream in(e.path(), std::ios::binary);
        files[fs::relative(e.path(), root).string()] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

class ShareFlowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        tree_ = new TempFolder;
        // Recent, so the scans' search back from today finds it.
        const CivilDate today = TodayLocalDate();
        date_ = CivilFromDays(DaysFromCivil(today.year, today.month, today.day) - 3);
        SmallRecording recording;
        recording.date = date_;
        const std::string root = tree_->Sub("share");
        WriteSmallRecording(root, recording);
        // The same recording as a backup folder beside the data folder.
        fs::copy(root + "/avdata", root + "/backup", fs::copy_options::recursive);
        server_ = new SambaServer(root);
        if (server_->Running()) ::setenv(platform::kSharePortVariable, std::to_string(server_->port()).c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete server_;
        delete tree_;
        ::unsetenv(platform::kSharePortVariable);
    }
    void SetUp() override {
        if (!server_->Running()) SKIP_WITHOUT_INSTALLED("smbd cannot start here: " << server_->error());
        // The stores open "server.db" and "shared.db" in the working folder.
        cwd_ = fs::current_path();
        fs::current_path(tmp_.path());
        history_ = tmp_.Sub("history.ini");
        std::ofstream(history_) << "[playbackhistory]\n";
        dlg_.history_path = history_;
        dlg_.worker.pause_ms = 0;
        dlg_.preview_engine = &preview_;
    }
    void TearDown() override {
        share::SetConnector({});
        if (!cwd_.empty()) fs::current_path(cwd_);
    }
    static std::string Local(const std::string& tail) { return tree_->Sub("share") + tail; }
    void PickDay(int day) {
        dlg_.calendar()->SelectDay(day);
        dlg_.OnWndMsg(WM_CALENDAR_NOTIFY, 1, 0);
    }
    std::string HistoryEntry(const std::string& ip, const std::string& password) const {
        return "data," + ip + ",1," + server_->user() + "," + password + ",1;";
    }

    static TempFolder* tree_;
    static SambaServer* server_;
    static CivilDate date_;

    control_test::ApplicationGuard app_;
    TempFolder tmp_;
    fs::path cwd_;
    std::string history_;
    sel_test::BoxRecorder boxes_;
    PreviewStreamEngine preview_;  // outlives the dialog, as the main dialog's does
    CSelectDlg dlg_;
};

TempFolder* ShareFlowTest::tree_ = nullptr;
SambaServer* ShareFlowTest::server_ = nullptr;
CivilDate ShareFlowTest::date_;

TEST_F(ShareFlowTest, SharePageToRecordSelectionToPlayback) {
    const std::string store = tmp_.Sub("shared.db");
    ASSERT_TRUE(sel_test::CreateStore(store, sel_test::kShareTable));
    Boxes manager_boxes;
    bool managed = false;
    dlg_.OnInitDialog();
    // The Remote Manager runs modally: drive it from inside its loop.
    QTimer::singleShot(0, [&] {
        auto* manager = qobject_cast<CRemoteDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(manager, nullptr);
        CNasDialog& page = manager->nas_page();
        page.store_file = store;
        page.worker.pause_ms = 0;
        manager->tab()->setCurrentIndex(1);
        FindControl<QLineEdit>(&page, CNasDialog::kServerEdit)->setText("127.0.0.1");
        FindControl<QLineEdit>(&page, CNasDialog::kEntryEdit)->setText("data");
        FindControl<QLineEdit>(&page, CNasDialog::kUserEdit)->setText(QString::fromStdString(server_->user()));
        FindControl<QLineEdit>(&page, CNasDialog::kPasswordEdit)->setText(SambaServer::kPassword);
        FindControl<QCheckBox>(&page, CNasDialog::kSavePassword)->setChecked(true);
        page.OnAdd();
        page.OnTestConnection();
        manager_boxes = boxes_.Take();
        managed = true;
        manager->OnOK();
    });
    dlg_.OnRemoteManager();
    ASSERT_TRUE(managed);
    // (The recorder page before it may have missed its own "server.db" here.)
    ASSERT_FALSE(manager_boxes.empty());
    EXPECT_EQ(manager_boxes.back(), (Box{"\\\\127.0.0.1\\data  Connection success!", "Message"}));
    const ServerConnectionRecord stored = NasShareStore(store).SelectByIp("127.0.0.1");
    EXPECT_EQ(stored.GetServerName(), "data");
    EXPECT_EQ(stored.GetPassword(), SambaServer::kPassword);

    // The share scan found the backup folder on it.
    EXPECT_EQ(boxes_.Take(), (Boxes{{"\\\\127.0.0.1\\data Login success!", "Message"}}));
    EXPECT_EQ(dlg_.source_mode, CSelectDlg::kShareMode);
    EXPECT_EQ(dlg_.record_source.path, "//127.0.0.1/data/backup");
    EXPECT_EQ(dlg_.calendar()->Year(), date_.year);
    EXPECT_EQ(dlg_.calendar()->Month(), date_.month);
    EXPECT_TRUE(Marked(dlg_.calendar(), date_.day));
    EXPECT_FALSE(Marked(dlg_.calendar(), date_.day % 28 + 1));
    EXPECT_EQ(dlg_.recent().Entry(0), HistoryEntry("127.0.0.1\\data", SambaServer::kPassword));

    PickDay(date_.day);
    const std::vector<TimeLineSegment>& segments = dlg_.time_line()->Model().Segments();
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].channel, 1);
    EXPECT_EQ(segments[1].channel, 2);
    EXPECT_EQ(segments[0].start, kStart);
    EXPECT_EQ(dlg_.row_caption(0)->text(), "CH01 Front");
    EXPECT_EQ(dlg_.row_caption(1)->text(), "CH02 Back");
    EXPECT_EQ(dlg_.record_source.text1, "127.0.0.1\\data");
    EXPECT_EQ(dlg_.record_source.text4, "data");

    // A range on row 2: the preview reads its picture from the share.
    dlg_.show();
    control_test::DeliverPosted();
    DragRow(dlg_.time_line(), 2, kStart - 300, kStart + 300);
    EXPECT_GT(dlg_.record_source.end_second, kStart);
    EXPECT_EQ(preview_.record_source.path, "//127.0.0.1/data/backup");
    QElapsedTimer clock;
    clock.start();
    while (dlg_.preview_window()->frame_width() <= 0 && clock.elapsed() < 8000) control_test::Pump(20);
    EXPECT_EQ(dlg_.preview_window()->frame_width(), 176);

    dlg_.OnOK();
    EXPECT_TRUE(boxes_.Take().empty());
    ASSERT_EQ(dlg_.result(), QDialog::Accepted);
    EXPECT_EQ(dlg_.record_source.channel_mask, 2);

    // The main dialog plays what the record selection handed back.
    ui::SetScreenSizeSource([] { return QSize(1280, 1024); });
    {
        CKestrelPlaybackDlg main;
        main.hooks.run_record_selection = [&](const RecordSelectionRequest&) {
            RecordSelectionResult chosen;
            chosen.result = kDialogOk;
            chosen.source_mode = dlg_.source_mode;
            chosen.source = dlg_.record_source;
            return chosen;
        };
        main.OnInitDialog();
        main.show();
        static_cast<CMyButton*>(main.Control(kestrel_id::kOpen))->click();
        EXPECT_EQ(main.engine().Status().play_state, PlaybackEngine::kPlaying);
        clock.restart();
        while (!main.grid().Viewer(1)->HasVideo() && clock.elapsed() < 8000) control_test::Pump(20);
        EXPECT_TRUE(main.grid().Viewer(1)->HasVideo());
        EXPECT_FALSE(main.grid().Viewer(0)->HasVideo());
    }
    ui::SetScreenSizeSource(nullptr);
}

// The recent list reaches shares as the Remote Manager does; a share that
// cannot be reached fails; a connection that exists under other credentials
// is used as it stands, and the data folder scan finds the day.
TEST_F(ShareFlowTest, RecentEntriesFailuresAndOtherCredentials) {
    {
        std::ofstream(history_) << "[playbackhistory]\n"
                                << "history1=" << HistoryEntry("127.0.0.1\\data", SambaServer::kPassword) << "\n"
                                << "history2=" << HistoryEntry("127.0.0.2\\data", SambaServer::kPassword) << "\n"
                                << "history3=" << HistoryEntry("localhost\\data", "wrong") << "\n";
    }
    dlg_.OnInitDialog();
    const int first = RecentServerList::kFirstCommandId;
    EXPECT_TRUE(dlg_.OnCommand(first));
    EXPECT_EQ(boxes_.Take(), (Boxes{{"127.0.0.1\\data Login success!", "Message"}}));
    EXPECT_EQ(dlg_.record_source.path, "//127.0.0.1/data/backup");
    EXPECT_TRUE(Marked(dlg_.calendar(), date_.day));
    for (int i : {1, 2}) {
        dlg_.OnCommand(first + i);
        const std::string ip = i == 1 ? "127.0.0.2\\data" : "localhost\\data";
        EXPECT_EQ(boxes_.Take(), (Boxes{{ip + " Login failed!", "Error"}})) << ip;
    }

    // Another program's connection to the server is in place; the page's credentials differ.
    share::SetConnector([this](const std::string& name, const std::string& user, const std::string&) {
        EXPECT_EQ(platform::ConnectShare(name, user, SambaServer::kPassword), platform::kShareConnected);
        return share::kCredentialConflict;
    });
    ServerConnectionRecord& server = dlg_.engine().server();
    server.SetIp("localhost\\data\\avdata");
    server.SetUser(server_->user());
    server.SetPassword("other");
    dlg_.ConnectShare("\\\\localhost\\data\\avdata ", false);
    EXPECT_EQ(boxes_.Take(), (Boxes{{"\\\\localhost\\data\\avdata Login success!", "Message"}}));
    EXPECT_EQ(dlg_.record_source.path, "//localhost/data/avdata");
    EXPECT_TRUE(Marked(dlg_.calendar(), date_.day));
    share::SetConnector({});

    // A share the server does not have.
    server.SetIp("localhost\\nosuch");
    server.SetPassword(SambaServer::kPassword);
    dlg_.ConnectShare("\\\\localhost\\nosuch ", false);
    EXPECT_EQ(boxes_.Take(), (Boxes{{"\\\\localhost\\nosuch Login failed!", "Error"}}));
}

class EndSink : public LocalExportProgressSink {
public:
    void SetProgress(int) override {}
    void SetCaption(const std::string&) override {}
    void EndDialog() override {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
        cv_.notify_all();
    }
    bool Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(30), [this] { return ended_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool ended_ = false;
};

TEST_F(ShareFlowTest, ExportAndBackupFromTheShareEqualThoseFromLocalDisk) {
    ASSERT_EQ(platform::ConnectShare(server_->SharePath(), server_->user(), SambaServer::kPassword),
              platform::kShareConnected);
    std::tm now{};
    now.tm_year = 120;
    now.tm_mday = 1;
    now.tm_hour = 9;
    auto run_export = [&](const std::string& folder, const std::string& out) {
        fs::create_directories(out);
        RecordSource source;
        source.path = folder;
        source.year = date_.year;
        source.month = date_.month;
        source.day = date_.day;
        for (int channel : {0, 1}) {
            LocalExport exporter;
            exporter.SetFreeBytesFunction([](const std::string&) { return uint64_t{1} << 40; });
            exporter.Configure(source, kStart, kStart + 2, out);
            exporter.BeginExport();
            EndSink sink;
            exporter.BeginChannel(channel, LocalExport::kFormatOriginal, 80, false, now, &sink);
            EXPECT_TRUE(sink.Wait());
            exporter.EndChannel(1);
        }
        return FilesBelow(out);
    };
    const auto from_share = run_export("//127.0.0.1/data/avdata", tmp_.Sub("share-export"));
    const auto from_disk = run_export(Local("/avdata"), tmp_.Sub("disk-export"));
    EXPECT_EQ(from_share.size(), 2u);
    EXPECT_TRUE(from_share == from_disk) << "the exports differ";

    auto run_backup = [&](const std::string& folder, const std::string& out) {
        BackupJob job;
        job.source = folder;
        job.destination = out + "/avdata";
        fs::create_directories(out);
        job.range.start_year = job.range.end_year = date_.year;
        job.range.start_month = job.range.end_month = date_.month;
        job.range.start_day = job.range.end_day = date_.day;
        job.range.start_hour = 0;
        job.range.start_minute = 0;
        job.channel_mask = 3;
        BackupWorker worker;
        EXPECT_TRUE(worker.Start(job, nullptr));
        worker.Wait();
        EXPECT_EQ(worker.Tally().failures, 0);
        return FilesBelow(out);
    };
    const auto backup_share = run_backup("\\\\127.0.0.1\\data\\backup", tmp_.Sub("share-backup"));
    const auto backup_disk = run_backup(Local("/backup"), tmp_.Sub("disk-backup"));
    EXPECT_GE(backup_share.size(), 2u);
    EXPECT_TRUE(backup_share == backup_disk) << "the backups differ";
}

// A listener at the test port that takes connections and never answers.
class SilentServer {
public:
    SilentServer(const char* address, int port) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, address, &addr.sin_addr);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener_, 4) != 0) {
            ::close(listener_);
            listener_ = -1;
        }
    }
    ~SilentServer() {
        if (connection_ >= 0) ::close(connection_);
        if (listener_ >= 0) ::close(listener_);
    }
    bool Listening() const { return listener_ >= 0; }
    // Waits for a client's connection and its first request.
    bool TakeRequest() {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 10000) != 1) return false;
        connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        pollfd q{connection_, POLLIN, 0};
        return connection_ >= 0 && ::poll(&q, 1, 10000) == 1;
    }
    // The client still waits for an answer (it has not hung up).
    bool ClientWaits() const {
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(connection_, buf, sizeof buf, MSG_DONTWAIT)) > 0) {
        }
        return n != 0;
    }

private:
    int listener_ = -1;
    int connection_ = -1;
};

// Cancelling a backup or an export whose reader waits on a server that does
// not answer ends that wait: the stop is back before the share client gives up.
TEST_F(ShareFlowTest, StopsEndTheirReadersWaitOnASilentServer) {
    {
        SilentServer silent("127.0.0.5", server_->port());
        ASSERT_TRUE(silent.Listening());
        BackupJob job;
        job.source = "//127.0.0.5/data/backup";
        job.destination = tmp_.Sub("backup/avdata");
        fs::create_directories(tmp_.Sub("backup"));
        job.range.start_year = job.range.end_year = date_.year;
        job.range.start_month = job.range.end_month = date_.month;
        job.range.start_day = job.range.end_day = date_.day;
        job.channel_mask = 3;
        BackupWorker worker;
        ASSERT_TRUE(worker.Start(job, nullptr));
        ASSERT_TRUE(silent.TakeRequest());
        worker.Stop();
        EXPECT_TRUE(silent.ClientWaits()) << "the backup's stop waited for the share client";
    }
    {
        SilentServer silent("127.0.0.6", server_->port());
        ASSERT_TRUE(silent.Listening());
        RecordSource source;
        source.path = "//127.0.0.6/data/avdata";
        source.year = date_.year;
        source.month = date_.month;
        source.day = date_.day;
        fs::create_directories(tmp_.Sub("export"));
        LocalExport exporter;
        exporter.Configure(source, kStart, kStart + 2, tmp_.Sub("export"));
        exporter.BeginExport();
        EndSink sink;
        exporter.BeginChannel(0, LocalExport::kFormatOriginal, 80, false, std::tm{}, &sink);
        ASSERT_TRUE(silent.TakeRequest());
        exporter.EndChannel(0);
        EXPECT_TRUE(silent.ClientWaits()) << "the export's stop waited for the share client";
    }
}

}  // namespace
