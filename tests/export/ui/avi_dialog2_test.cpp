#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "checker/avi_reader.h"
#include "checker/watermark_checks.h"
#include "export/ui/avi_dialog2.h"
#include "export/ui/avi_dump_dlg2.h"
#include "mainwindow/storage_location.h"
#include "media/playback_sinks.h"
#include "platform/message_box.h"
#include "platform/network_share.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/support/program_folder_copy.h"
#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

template <typename T>
std::vector<T*> Controls(QWidget* parent, int id) {
    std::vector<T*> found;
    for (T* child : parent->findChildren<T*>())
        if (child->property("controlId").toInt() == id) found.push_back(child);
    return found;
}

std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) names.insert(e.path().filename().string());
    return names;
}

bool HasPrefix(const std::set<std::string>& names, const std::string& prefix) {
    for (const auto& n : names)
        if (n.rfind(prefix, 0) == 0) return true;
    return false;
}

class AviDialog2Test : public ::testing::Test {
protected:
    void SetUp() override {
        control_test::EnsureApplication();
        SmallRecording rec;
        data = WriteSmallRecording(tmp.path(), rec);
        ASSERT_FALSE(data.empty());
        source.path = data;
        source.year = rec.date.year;
        source.month = rec.date.month;
        source.day = rec.date.day;
        out = tmp.Sub("out");
        fs::create_directories(out);
        dialog = std::make_unique<CAviDialog2>();
        dialog->cue_in_second = rec.start_second;
        dialog->cue_out_second = rec.start_second + rec.seconds - 1;
        dialog->record_source = &source;
        dialog->message_sink = [this](uint32_t message, intptr_t, intptr_t) { messages.push_back(message); };
        dialog->engine().SetFreeBytesFunction([this](const std::string&) { return free_bytes; });
        dialog->OnInitDialog();
        dialog->set_output_folder(out);
        dialog->show();
    }

    // Clicks OK; the progress windows run modally inside. Each tick looks at
    // the running progress window, and on_progress may act on it.
    void Export(const std::function<void(CAviDumpDlg2*)>& on_progress = {}) {
        QTimer watch;
        watch.setInterval(20);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            CAviDumpDlg2* progress = dialog->progress_dialog();
            if (!progress || !progress->isVisible()) return;
            titles.insert(progress->windowTitle().toStdString());
            if (progress->EndTimerActive()) bar_at_end = progress->BarPosition();
            if (on_progress) on_progress(progress);
            // A run that never ends must not hang the test.
            if (++ticks > 1500) progress->reject();
        });
        watch.start();
        Controls<QPushButton>(dialog.get(), CAviDialog2::kOkId)[0]->click();
        QCoreApplication::processEvents();
    }

    TempFolder tmp;
    RecordSource source;
    std::string data;
    std::string out;
    std::unique_ptr<CAviDialog2> dialog;
    std::vector<uint32_t> messages;
    std::set<std::string> titles;
    int bar_at_end = -1;
    int ticks = 0;
    uint64_t free_bytes = 1ULL << 40;
};

TEST_F(AviDialog2Test, ControlsTextsAndFormatSwitch) {
    EXPECT_EQ(dialog->windowTitle().toStdString(), "Export Setting");
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(dialog->ChannelBox(c)->text().toStdString(), "CH0" + std::to_string(c + 1));
        EXPECT_FALSE(dialog->ChannelBox(c)->isChecked());
        EXPECT_TRUE(dialog->ChannelBox(c)->isEnabled());
    }
    // The second channel box and the OSD box share their id.
    const auto shared = Controls<QCheckBox>(dialog.get(), CAviDialog2::kOsdId);
    EXPECT_EQ(shared.size(), 2u);
    EXPECT_EQ(dialog->OsdBox()->text().toStdString(), "Enable OSD");
    EXPECT_EQ(dialog->WatermarkBox()->text().toStdString(), "Enable Watermark");
    EXPECT_EQ(dialog->StartTimeText()->text().toStdString(), "2012/3/5, 14:07:00");
    EXPECT_EQ(dialog->EndTimeText()->text().toStdString(), "2012/3/5, 14:07:02");
    ASSERT_EQ(dialog->FormatList()->count(), 2);
    EXPECT_EQ(dialog->FormatList()->currentIndex(), 0);
    EXPECT_EQ(dialog->QualityList()->currentIndex(), 1);
    EXPECT_EQ(dialog->QualityList()->itemText(0).toStdString(), "Excellent");

    dialog->FormatList()->setCurrentIndex(1);
    EXPECT_FALSE(dialog->QualityList()->isEnabled());
    EXPECT_FALSE(dialog->QualityLabel()->isEnabled());
    EXPECT_FALSE(dialog->OsdBox()->isEnabled());
    dialog->FormatList()->setCurrentIndex(0);
    EXPECT_TRUE(dialog->QualityList()->isEnabled());
    EXPECT_TRUE(dialog->OsdBox()->isEnabled());

    const auto browse = Controls<QPushButton>(dialog.get(), CAviDialog2::kBrowseId);
    ASSERT_EQ(browse.size(), 1u);
    EXPECT_FALSE(browse[0]->isVisible());
    EXPECT_FALSE(browse[0]->isEnabled());

    // Without a stored folder the export goes to the home folder.
    CAviDialog2 fresh;
    fresh.OnInitDialog();
    std::string expected = CAviDialog2::ReadStorageLocation();
    if (expected.empty()) expected = QDir::homePath().toStdString();
    while (expected.size() > 1 && expected.back() == '/') expected.pop_back();
    EXPECT_EQ(fresh.output_folder(), expected);
}

TEST_F(AviDialog2Test, TheFolderChosenForThisExportWinsOverTheStoredOne) {
    ProgramFolderCopy program;
    TempFolder stored, chosen;
    ASSERT_TRUE(WriteStorageLocation(stored.path()));
    CAviDialog2 plain;
    plain.OnInitDialog();
    EXPECT_EQ(plain.output_folder(), stored.path());
    CAviDialog2 handed;
    handed.chosen_folder = chosen.path() + "/";
    handed.OnInitDialog();
    EXPECT_EQ(handed.output_folder(), chosen.path());
}

TEST_F(AviDialog2Test, NoChannelCheckedEndsWithoutWriting) {
    Export();
    EXPECT_EQ(dialog->result(), 1);
    EXPECT_TRUE(titles.empty());
    EXPECT_TRUE(FilesIn(out).empty());
    EXPECT_TRUE(messages.empty());
}

TEST_F(AviDialog2Test, EachCheckedChannelIsExportedBehindItsOwnProgressWindow) {
    dialog->ChannelBox(0)->setChecked(true);
    dialog->ChannelBox(1)->setChecked(true);
    dialog->FormatList()->setCurrentIndex(1);
    dialog->WatermarkBox()->setChecked(true);
    Export();
    EXPECT_EQ(dialog->result(), 1);
    EXPECT_EQ(dialog->progress_dialog(), nullptr);
    const auto files = FilesIn(out);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(HasPrefix(files, "CH01_"));
    EXPECT_TRUE(HasPrefix(files, "CH02_"));
    for (const auto& name : files) {
        EXPECT_TRUE(titles.count("Export - " + name)) << name;
        EXPECT_TRUE(CheckAviTrailer(out + "/" + name)) << name;
        AviReader reader;
        EXPECT_TRUE(reader.Open(out + "/" + name));
        EXPECT_EQ(reader.width(), 176);
    }
    EXPECT_EQ(bar_at_end, 100);
    EXPECT_TRUE(messages.empty());
}

TEST_F(AviDialog2Test, LowDiskStopsAfterTheFirstChannelAndPostsDiskFull) {
    dialog->ChannelBox(0)->setChecked(true);
    dialog->ChannelBox(1)->setChecked(true);
    free_bytes = LocalExport::kMinFreeBytes - 1;
    Export();
    const auto files = FilesIn(out);
    EXPECT_EQ(files.size(), 1u);
    EXPECT_TRUE(HasPrefix(files, "CH01_"));
    QCoreApplication::processEvents();
    EXPECT_EQ(messages, std::vector<uint32_t>{WM_DISK_FULL});
    EXPECT_EQ(dialog->result(), 1);
}

TEST_F(AviDialog2Test, ClosingTheProgressWindowDeletesThePartAndEndsTheExport) {
    dialog->ChannelBox(0)->setChecked(true);
    dialog->ChannelBox(1)->setChecked(true);
    dialog->FormatList()->setCurrentIndex(1);
    bool closed = false;
    Export([&](CAviDumpDlg2* progress) {
        if (!closed && progress->windowTitle().contains(".avi")) {
            closed = true;
            progress->reject();
        }
    });
    EXPECT_TRUE(closed);
    EXPECT_TRUE(FilesIn(out).empty());
    for (const auto& title : titles) EXPECT_EQ(title.find("CH02"), std::string::npos) << "the second channel ran";
    EXPECT_EQ(dialog->result(), 1);
    EXPECT_TRUE(messages.empty());
}

// A data folder on a share whose server is gone: the range is not exported
// whole, and the failure box says which recording could not be read.
TEST_F(AviDialog2Test, ARecordingThatCannotBeReadIsToldInAFailureBox) {
    // A loopback port nobody listens on: the share's server is gone.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(probe, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
    ::close(probe);
    ::setenv(platform::kSharePortVariable, std::to_string(ntohs(address.sin_port)).c_str(), 1);
    std::vector<std::string> boxes;
    const auto previous = platform::SetMessageBoxHandler([&](const std::string& text, const std::string&, int) {
        boxes.push_back(text);
        return platform::kIdOk;
    });
    source.path = "//127.0.0.1/data/avdata";
    dialog->ChannelBox(0)->setChecked(true);
    dialog->ChannelBox(1)->setChecked(true);
    dialog->FormatList()->setCurrentIndex(1);
    Export();
    platform::SetMessageBoxHandler(previous);
    ::unsetenv(platform::kSharePortVariable);

    EXPECT_EQ(dialog->result(), 1);
    EXPECT_TRUE(FilesIn(out).empty());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("Some recordings could not be read from the data folder:\n//127.0.0.1/data/avdata/", 0),
              0u)
        << boxes[0];
    EXPECT_NE(boxes[0].find("REC07.db"), std::string::npos) << boxes[0];
    // The second channel is not tried once the first could not be read.
    for (const auto& title : titles) EXPECT_EQ(title.find("CH02"), std::string::npos) << title;
}

TEST(AviDumpDlg2, AnyTimerTickEndsWithOneAndAbortWithTwo) {
    control_test::EnsureApplication();
    {
        CAviDumpDlg2 progress;
        QTimer::singleShot(0, [&] {
            progress.SetProgress(40);
            progress.SetCaption("CH01_x.avi");
            progress.EndDialog();
        });
        EXPECT_EQ(progress.DoModal(), 1);
        EXPECT_EQ(progress.BarPosition(), 40);
        EXPECT_EQ(progress.windowTitle().toStdString(), "Export - CH01_x.avi");
        EXPECT_EQ(progress.timer_id(), CAviDumpDlg2::kEndTimerId);
    }
    {
        CAviDumpDlg2 progress;
        QTimer::singleShot(0, [&] {
            const auto abort = Controls<QPushButton>(&progress, CAviDumpDlg2::kAbortId);
            ASSERT_EQ(abort.size(), 1u);
            EXPECT_FALSE(abort[0]->isVisible());
            EXPECT_EQ(abort[0]->text().toStdString(), "Abort");
            abort[0]->click();
        });
        EXPECT_EQ(progress.DoModal(), 2);
        EXPECT_EQ(progress.windowTitle().toStdString(), "Export");
    }
}

}  // namespace
