// The user's road to an export during remote playback: Open on the fake
// recorder, cue in and out, the AVI export command, the recorder export
// dialog as the program builds it, OK. The files are checked from outside.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "export/ui/avi_export_dlg.h"
#include "mainwindow/ui/kestrel_playback_dlg.h"
#include "mainwindow/ui/playback_app.h"
#include "media/http_get.h"
#include "media/ui/ui_services.h"
#include "platform/message_box.h"
#include "tests/export/avi_test_support.h"
#include "tests/mainwindow/ui/control_test_support.h"
#include "tests/support/program_folder_copy.h"
#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"
#include "tools/common/fake_recorder.h"

namespace fs = std::filesystem;
using avitest::RunCommand;

namespace {

TEST(RecorderExportFlow, ExportCommandDuringRemotePlaybackWritesTheCheckedChannel) {
    control_test::EnsureApplication();
    ProgramFolderCopy program;
    ui::SetScreenSizeSource([] { return QSize(1280, 1024); });
    std::vector<std::string> boxes;
    platform::SetMessageBoxHandler([&](const std::string& text, const std::string&, int) {
        boxes.push_back(text);
        return platform::kIdOk;
    });
    TempFolder out;
    ui::SetFolderChooser([&](QWidget*, const std::string&) -> std::optional<std::string> { return out.path(); });

    TempFolder tmp;
    SmallRecording recording;
    ASSERT_FALSE(WriteSmallRecording(tmp.path(), recording).empty());
    fake::FakeRecorderOptions options;
    options.data_folder = tmp.path();
    fake::FakeRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.Start(options, &error)) << error;
    const int start = recording.start_second, end = recording.start_second + 2;

    {
        CKestrelPlaybackDlg dlg;
        dlg.hooks.run_recorder_export = StandardDialogHooks().run_recorder_export;
        // Stands for the record selection: logs in, searches the range and writes back rows 1 and 2.
        dlg.hooks.run_record_selection = [&](const RecordSelectionRequest& request) {
            HttpGet login;
            login.Connect("127.0.0.1", "admin", "", 3000, 0, recorder.port());
            char reply[128] = {};
            if (login.Fetch("/play/getid", reply, sizeof reply) && reply[0] == 'i') *request.session_id = std::atoi(reply + 3);
            request.server->SetIp("127.0.0.1");
            request.server->SetPort(std::to_string(recorder.port()));
            request.server->SetUser("admin");
            const CivilDate& d = recording.date;
            *request.selection = {d.year, d.month, d.day, start / 3600, start / 60 % 60, start % 60,
                                  end / 3600, end / 60 % 60, end % 60, 1, 1, 0, 0};
            char search[256];
            std::snprintf(search, sizeof search,
                          "/play/searchdata?id=%d&recstarttime=%d,%d,%d,%d,%d,%d&recendtime=%d,%d,%d,%d,%d,%d&avdevids=1,1,0,0",
                          *request.session_id, d.year, d.month, d.day, start / 3600, start / 60 % 60, start % 60,
                          d.year, d.month, d.day, end / 3600, end / 60 % 60, end % 60);
            login.Fetch(search, reply, sizeof reply);
            RecordSelectionResult chosen;
            chosen.result = kDialogOk;
            chosen.source_mode = 1;
            return chosen;
        };
        dlg.OnInitDialog();
        dlg.show();
        dlg.OnOpen();
        // The recorder's answers to the open arrive by message.
        control_test::RunUntil([&] { return !dlg.engine().RemoteOpenRunning(); }, 10000);
        ASSERT_EQ(dlg.engine().Status().play_state, PlaybackEngine::kPlaying);
        dlg.status_panel().SetCueIn(start);
        dlg.status_panel().SetCueOut(end);

        // The export dialog, once it is up: what it was handed, then channel 1 in original frames with the trailer.
        bool seen = false;
        std::vector<bool> enabled;
        std::string start_text, folder;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* d = qobject_cast<CAviExportDlg*>(QApplication::activeModalWidget());
            if (!d || seen) return;
            seen = true;
            for (int c = 0; c < 4; ++c) enabled.push_back(d->ChannelBox(c)->isEnabled());
            start_text = d->StartTimeText()->text().toStdString();
            folder = d->output_folder();
            RemoteExportTimings fast;
            fast.download_start_ms = fast.between_requests_ms = fast.teardown_ms = 0;
            d->engine().SetTimings(fast);
            d->ChannelBox(0)->setChecked(true);
            d->FormatList()->setCurrentIndex(1);
            d->WatermarkBox()->setChecked(true);
            d->ok_button()->click();
        });
        poll.start(20);
        dlg.OnExportAvi();
        poll.stop();

        ASSERT_TRUE(seen);
        EXPECT_EQ(enabled, (std::vector<bool>{true, true, false, false}));
        EXPECT_EQ(start_text, "2012/3/5, 14:07:00");
        EXPECT_EQ(folder, out.path());
        EXPECT_EQ(dlg.status_panel().CueIn(), -1);
        EXPECT_EQ(dlg.status_panel().CueOut(), -1);
        EXPECT_EQ(dlg.engine().Status().play_state, PlaybackEngine::kStopped);
        EXPECT_TRUE(boxes.empty());
        dlg.OnStop();
    }
    recorder.Stop();

    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(out.path())) files.push_back(e.path().string());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(fs::path(files[0]).filename().string().rfind("CH01_", 0), 0u) << files[0];
    EXPECT_EQ(RunCommand("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + files[0] + "'"),
              "mjpeg\npcm_s16le\n");
    EXPECT_EQ(RunCommand("ffmpeg -v error -i '" + files[0] + "' -f null - 2>&1"), "");
    EXPECT_EQ(RunCommand("'" + program.build_folder() + "/watermark-check' '" + files[0] + "'"), files[0] + "\tV\n");

    ui::SetFolderChooser(nullptr);
    platform::SetMessageBoxHandler(nullptr);
    ui::SetScreenSizeSource(nullptr);
}

}  // namespace
