// The recorder export dialog offscreen against the fake recorder, as the
// main dialog runs it; its files are checked from outside.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "checker/avi_reader.h"
#include "export/ui/avi_dump_dlg.h"
#include "export/ui/avi_export_dlg.h"
#include "media/http_get.h"
#include "platform/message_box.h"
#include "platform/program_folder.h"
#include "tests/export/avi_test_support.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"
#include "tools/common/fake_recorder.h"

namespace fs = std::filesystem;
using avitest::RunCommand;

namespace {

template <typename T>
std::vector<T*> Controls(QWidget* parent, int id) {
    std::vector<T*> found;
    for (T* child : parent->findChildren<T*>(QString(), Qt::FindDirectChildrenOnly))
        if (child->property("controlId").toInt() == id) found.push_back(child);
    return found;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) names.insert(e.path().filename().string());
    return {names.begin(), names.end()};
}

std::string WatermarkCheck(const std::string& path) {
    const std::string line = RunCommand("'" + platform::ProgramFolder() + "/watermark-check' '" + path + "'");
    return line.substr(line.find('\t') + 1, 1);
}

struct Box {
    std::string text, caption;
};

class AviExportDlgTest : public ::testing::Test {
protected:
    void Start(fake::Fault fault = {}, int seconds = 3, int fps = 5) {
        rec_.seconds = seconds;
        rec_.fps = fps;
        ASSERT_FALSE(WriteSmallRecording(tmp_.path(), rec_).empty());
        fake::FakeRecorderOptions options;
        options.data_folder = tmp_.path();
        options.password = "secret";
        options.fault = fault;
        std::string error;
        ASSERT_TRUE(recorder_.Start(options, &error)) << error;
        HttpGet control;
        ASSERT_EQ(control.Connect("127.0.0.1", "admin", "secret", 3000, 0, recorder_.port()), 1);
        std::vector<char> reply(256, 0);
        ASSERT_EQ(control.Fetch("/play/getid", reply.data(), reply.size()), 1);
        const int session = std::atoi(std::string(reply.data()).substr(3).c_str());

        fs::create_directories(out_);
        dialog_ = std::make_unique<CAviExportDlg>();
        CAviExportDlg& d = *dialog_;
        d.cue_in_second = rec_.start_second;
        d.cue_out_second = rec_.start_second + rec_.seconds - 1;
        d.year = rec_.date.year;
        d.month = rec_.date.month;
        d.day = rec_.date.day;
        d.server.SetIp("127.0.0.1");
        d.server.SetUser("admin");
        d.server.SetPassword("secret");
        d.server.SetPort(std::to_string(recorder_.port()));
        d.session_id = session;
        d.duration = d.cue_out_second - d.cue_in_second;
        d.channel_flags = flags_;
        d.message_sink = [this](uint32_t message, intptr_t, intptr_t) { messages_.push_back(message); };
        RemoteExportTimings fast;
        fast.download_start_ms = fast.between_requests_ms = fast.teardown_ms = 0;
        fast.retry_ms = 50;
        fast.connect_timeout_ms = 3000;
        fast.receive_timeout_ms = 300;
        fast.resend_steps = 2;
        fast.resend_step_ms = 10;
        d.engine().SetTimings(fast);
        d.OnInitDialog();
        d.set_output_folder(out_);
        d.show();
    }
    void SetUp() override {
        control_test::EnsureApplication();
        platform::SetMessageBoxHandler([this](const std::string& text, const std::string& caption, int) {
            boxes_.push_back({text, caption});
            return platform::kIdOk;
        });
    }
    void TearDown() override {
        dialog_.reset();
        platform::SetMessageBoxHandler(nullptr);
    }

    // Clicks OK; each channel's progress window runs modally inside, and
    // on_progress may act on it at every tick.
    void Export(const std::function<void(CAVIDumpDlg&)>& on_progress = {}) {
        QTimer watch;
        watch.setInterval(20);
        int ticks = 0;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            CAVIDumpDlg& progress = dialog_->progress_dialog();
            if (!progress.isVisible()) return;
            titles_.insert(progress.windowTitle().toStdString());
            if (progress.timer_running()) bar_at_finish_ = progress.BarPosition();
            if (on_progress) on_progress(progress);
            // A run that never ends must not hang the test.
            if (++ticks > 1000) progress.reject();
        });
        watch.start();
        dialog_->ok_button()->click();
        QCoreApplication::processEvents();
    }

    std::string Path(const std::string& name) const { return out_ + "/" + name; }
    void ExpectChannelOneReportedFailed(bool file_expected);

    SmallRecording rec_;
    std::array<int, 4> flags_{1, 1, 1, 1};
    TempFolder tmp_;
    std::string out_ = tmp_.Sub("out");
    fake::FakeRecorder recorder_;
    std::unique_ptr<CAviExportDlg> dialog_;
    std::vector<Box> boxes_;
    std::vector<uint32_t> messages_;
    std::set<std::string> titles_;
    int bar_at_finish_ = -1;
};

TEST_F(AviExportDlgTest, StartValuesAndTheGuardsBeforeAnExport) {
    flags_ = {1, 0, 1, 1};
    Start();
    CAviExportDlg& d = *dialog_;
    EXPECT_EQ(d.windowTitle().toStdString(), "Export Setting");
    EXPECT_EQ(d.ok_button()->text().toStdString(), "OK");
    EXPECT_EQ(Controls<QPushButton>(&d, CAviExportDlg::kCancelId)[0]->text().toStdString(), "Cancel");
    const auto browse = Controls<QPushButton>(&d, CAviExportDlg::kBrowseId);
    ASSERT_EQ(browse.size(), 1u);
    EXPECT_FALSE(browse[0]->isVisible());
    EXPECT_FALSE(browse[0]->isEnabled());
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(d.ChannelBox(c)->text().toStdString(), "CH0" + std::to_string(c + 1));
        EXPECT_FALSE(d.ChannelBox(c)->isChecked());
        EXPECT_EQ(d.ChannelBox(c)->isEnabled(), c != 1) << c;
    }
    EXPECT_EQ(Controls<QCheckBox>(&d, CAviExportDlg::kOsdId).size(), 2u);
    EXPECT_EQ(d.OsdBox()->text().toStdString(), "Enable OSD");
    EXPECT_EQ(d.WatermarkBox()->text().toStdString(), "Enable Watermark");
    EXPECT_EQ(Controls<QLabel>(&d, 1076)[0]->text().toStdString(), "Start Time: ");
    EXPECT_EQ(Controls<QLabel>(&d, 1078)[0]->text().toStdString(), "End Time: ");
    EXPECT_EQ(d.StartTimeText()->text().toStdString(), "2012/3/5, 14:07:00");
    EXPECT_EQ(d.EndTimeText()->text().toStdString(), "2012/3/5, 14:07:02");
    ASSERT_EQ(d.FormatList()->count(), 2);
    EXPECT_EQ(d.FormatList()->itemText(0).toStdString(), "AVI (Microsoft Video 1)");
    EXPECT_EQ(d.FormatList()->itemText(1).toStdString(), "Original Format");
    EXPECT_EQ(d.FormatList()->currentIndex(), 0);
    EXPECT_EQ(d.QualityList()->currentIndex(), 1);
    d.FormatList()->setCurrentIndex(1);
    EXPECT_FALSE(d.QualityList()->isEnabled());
    EXPECT_FALSE(d.QualityLabel()->isEnabled());
    EXPECT_FALSE(d.OsdBox()->isEnabled());
    d.FormatList()->setCurrentIndex(0);
    EXPECT_TRUE(d.QualityList()->isEnabled());
    EXPECT_TRUE(d.OsdBox()->isEnabled());

    // OK without a channel: the fixed warning, and the dialog stays.
    d.ok_button()->click();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "No channel selected!");
    EXPECT_EQ(boxes_[0].caption, "Warning");
    EXPECT_TRUE(d.isVisible());
    EXPECT_TRUE(FilesIn(out_).empty());
    EXPECT_EQ(recorder_.streams_started(), 0);
}

TEST_F(AviExportDlgTest, OkExportsEachCheckedChannelIntoFilesThatDecodeWhole) {
    Start();
    struct Case {
        int channel;
        int format;
        bool watermark, osd;
        std::string codec;
    };
    // Channel 1 is MJPEG with PCM audio, channel 2 H.264 without audio.
    const Case cases[] = {
        {0, 1, true, false, "mjpeg"},
        {0, 0, false, true, "msvideo1"},
        {1, 0, true, false, "msvideo1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "channel " << c.channel << " format " << c.format);
        fs::remove_all(out_);
        fs::create_directories(out_);
        titles_.clear();
        bar_at_finish_ = -1;
        dialog_->show();
        for (int k = 0; k < 4; ++k) dialog_->ChannelBox(k)->setChecked(k == c.channel);
        dialog_->FormatList()->setCurrentIndex(c.format);
        dialog_->WatermarkBox()->setChecked(c.watermark);
        dialog_->OsdBox()->setChecked(c.osd);
        Export();
        EXPECT_FALSE(dialog_->isVisible());
        EXPECT_TRUE(dialog_->failed_channels().empty());
        EXPECT_TRUE(boxes_.empty());
        EXPECT_TRUE(messages_.empty());
        const std::vector<std::string> files = FilesIn(out_);
        ASSERT_EQ(files.size(), 1u);
        const std::string& name = files[0];
        EXPECT_EQ(name.rfind("CH0" + std::to_string(c.channel + 1) + "_", 0), 0u) << name;
        EXPECT_EQ(titles_.count("Export - " + name), 1u);
        EXPECT_EQ(bar_at_finish_, 100);
        const std::string streams =
            RunCommand("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + Path(name) + "' 2>&1");
        EXPECT_EQ(streams.substr(0, c.codec.size()), c.codec) << streams;
        EXPECT_EQ(RunCommand("ffmpeg -v error -i '" + Path(name) + "' -f null - 2>&1"), "");
        EXPECT_EQ(WatermarkCheck(Path(name)), c.watermark ? "V" : "X");
    }
}

TEST_F(AviExportDlgTest, ClosingTheProgressWindowStopsAfterThatChannel) {
    // The stream stalls after a second: the channel never completes by itself.
    Start({fake::FaultKind::kStallAfter, 1}, 60, 25);
    for (int c = 0; c < 4; ++c) dialog_->ChannelBox(c)->setChecked(true);
    dialog_->FormatList()->setCurrentIndex(1);
    dialog_->WatermarkBox()->setChecked(true);
    bool abort_clicked = false, closed = false;
    Export([&](CAVIDumpDlg& progress) {
        if (progress.BarPosition() == 0) return;
        // The hidden Abort changes nothing; the close box ends the run.
        if (!abort_clicked) {
            abort_clicked = true;
            progress.abort_button()->click();
            return;
        }
        if (!closed) {
            EXPECT_TRUE(progress.isVisible());
            closed = true;
            progress.reject();
        }
    });
    EXPECT_TRUE(closed);
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(dialog_->failed_channels().empty());
    const std::vector<std::string> files = FilesIn(out_);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].rfind("CH01_", 0), 0u) << files[0];
    EXPECT_EQ(RunCommand("ffmpeg -v error -i '" + Path(files[0]) + "' -f null - 2>&1"), "");
    EXPECT_EQ(WatermarkCheck(Path(files[0])), "V");
}

TEST_F(AviExportDlgTest, LowDiskEndsTheExportWithTheMessageToTheMainDialog) {
    Start();
    dialog_->engine().SetFreeBytesFunction([](const std::string&) { return RemoteExport::kMinFreeBytes - 1; });
    dialog_->ChannelBox(0)->setChecked(true);
    dialog_->ChannelBox(1)->setChecked(true);
    dialog_->FormatList()->setCurrentIndex(1);
    Export();
    control_test::DeliverPosted();
    EXPECT_EQ(messages_, std::vector<uint32_t>{WM_DISK_FULL});
    EXPECT_TRUE(boxes_.empty());
    // Channel 1's file is closed as it stood; channel 2 is not started.
    const std::vector<std::string> files = FilesIn(out_);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].rfind("CH01_", 0), 0u) << files[0];
    AviReader reader;
    EXPECT_EQ(reader.Open(Path(files[0])), 1);
}

TEST_F(AviExportDlgTest, APartThatCannotBeWrittenWholeIsReported) {
    Start();
    dialog_->ChannelBox(0)->setChecked(true);
    dialog_->ChannelBox(1)->setChecked(true);
    dialog_->FormatList()->setCurrentIndex(1);
    dialog_->WatermarkBox()->setChecked(true);
    // Files of this process stop growing at 20,000 bytes, as on a drive that filled after the free-space check.
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto previous = signal(SIGXFSZ, SIG_IGN);
    rlimit limited = before;
    limited.rlim_cur = 20000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    Export();
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(dialog_->failed_channels(), std::vector<int>{0});
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "These channels could not be exported whole: CH01");
    EXPECT_EQ(boxes_[0].caption, "Error");
    // No further channel; the cut part is not vouched for by the trailer.
    const std::vector<std::string> files = FilesIn(out_);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].rfind("CH01_", 0), 0u) << files[0];
    EXPECT_EQ(WatermarkCheck(Path(files[0])), "X");
}

TEST_F(AviExportDlgTest, HiddenAbortLeavesTheChannelToFinish) {
    Start();
    dialog_->ChannelBox(0)->setChecked(true);
    bool clicked = false;
    Export([&](CAVIDumpDlg& progress) {
        if (!clicked) progress.abort_button()->click();
        clicked = true;
    });
    EXPECT_TRUE(clicked);
    EXPECT_TRUE(dialog_->failed_channels().empty());
    ASSERT_EQ(FilesIn(out_).size(), 1u);
    EXPECT_EQ(RunCommand("ffmpeg -v error -i '" + Path(FilesIn(out_)[0]) + "' -f null - 2>&1"), "");
}

// Channels 1 and 3 checked; the recorder stops answering during channel 1.
void AviExportDlgTest::ExpectChannelOneReportedFailed(bool file_expected) {
    std::mutex hold;
    hold.lock();
    bool held = true;
    // The writer is held back meanwhile, so the recorder is still sending when it stops.
    dialog_->engine().SetFreeBytesFunction([&](const std::string&) -> uint64_t {
        std::lock_guard<std::mutex> wait(hold);
        return 1ULL << 40;
    });
    QTimer::singleShot(1500, [&] {
        hold.unlock();
        held = false;
    });
    dialog_->ChannelBox(0)->setChecked(true);
    dialog_->ChannelBox(2)->setChecked(true);
    dialog_->FormatList()->setCurrentIndex(1);
    dialog_->WatermarkBox()->setChecked(true);
    Export();
    while (held) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(dialog_->failed_channels(), std::vector<int>{0});
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "These channels could not be exported whole: CH01");
    EXPECT_EQ(boxes_[0].caption, "Error");
    EXPECT_EQ(bar_at_finish_, -1);
    const std::vector<std::string> files = FilesIn(out_);
    // Never a later channel; what arrived is a whole, closed file.
    ASSERT_EQ(files.size(), file_expected ? 1u : 0u);
    for (const std::string& name : files) {
        EXPECT_EQ(name.rfind("CH01_", 0), 0u) << name;
        EXPECT_EQ(RunCommand("ffmpeg -v error -i '" + Path(name) + "' -f null - 2>&1"), "");
        EXPECT_EQ(WatermarkCheck(Path(name)), "V");
    }
}

TEST_F(AviExportDlgTest, RecorderThatRefusesIsReportedNotFinished) {
    Start({fake::FaultKind::kUnavailable, 0});
    ExpectChannelOneReportedFailed(false);
}

TEST_F(AviExportDlgTest, RecorderThatStopsMidExportIsReportedNotFinished) {
    // More than the sockets hold, cut after a second.
    Start({fake::FaultKind::kDropAfter, 1}, 60, 25);
    ExpectChannelOneReportedFailed(true);
}

TEST(AviDumpDlg, ProgressFinishAndTimer) {
    control_test::EnsureApplication();
    CAVIDumpDlg dlg;
    dlg.OnInitDialog();
    // Nothing while the window is not shown.
    dlg.OnSetProgress(300, 600);
    EXPECT_EQ(dlg.BarPosition(), 0);
    dlg.OnFinish();
    EXPECT_FALSE(dlg.timer_running());
    dlg.show();
    struct Case {
        int done, total, bar;
        const char* text;
    };
    const Case cases[] = {{0, 600, 0, "0%"}, {6, 600, 2, "1%"}, {300, 600, 51, "50%"},
                          {600, 600, 100, "100%"}, {700, 600, 100, "100%"}};
    for (const Case& c : cases) {
        dlg.OnSetProgress(c.done, c.total);
        EXPECT_EQ(dlg.BarPosition(), c.bar) << c.done;
        EXPECT_EQ(dlg.PercentText().toStdString(), c.text) << c.done;
    }
    dlg.OnSetProgress(1, 0);
    EXPECT_EQ(dlg.PercentText().toStdString(), "100%");
    dlg.OnShowFileName("CH01_20130504-93005.avi");
    EXPECT_EQ(dlg.windowTitle().toStdString(), "Export - CH01_20130504-93005.avi");
    dlg.OnAbort();
    EXPECT_TRUE(dlg.isVisible());
    dlg.hide();
}

}  // namespace
