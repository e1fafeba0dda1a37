// The main dialog's commands: Open, Power, the viewer commands, the cue marks
// and the commands that run a further dialog.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "mainwindow/storage_location.h"
#include "mainwindow/ui/kestrel_playback_dlg.h"
#include "mainwindow/ui/my_button.h"
#include "platform/message_box.h"
#include "media/translate_text.h"
#include "media/ui/info_box.h"
#include "media/ui/queued_call.h"
#include "media/ui/ui_services.h"

using namespace kestrel_id;

void CKestrelPlaybackDlg::OnOpen() {
    PlaybackEngine& engine = *engine_;
    EnableButton(kAviExport, true);

    const PlaybackEngine::Snapshot before = engine.Status();
    // The selection logs in anew and writes the session and the recorder back here.
    int session_id = before.session_id;
    ServerConnectionRecord server = before.server;
    RecordSelectionRequest request;
    request.owner = this;
    request.preview = &preview_;
    request.source_mode = before.source_mode;
    request.last_session_id = before.session_id > 0 ? before.session_id : -1;
    request.data_folder = !before.record_source.path.empty() ? before.record_source.path : initial_data_folder;
    request.year = before.record_source.year;
    request.month = before.record_source.month;
    request.day = before.record_source.day;
    request.session_id = &session_id;
    request.server = &server;
    request.selection = &selection;

    OnStop();
    KillStatusTimer();
    preview_.StopThreads();

    RecordSelectionResult chosen;
    if (hooks.run_record_selection) chosen = hooks.run_record_selection(request);
    preview_.Stop();
    engine.SetRecorder(server, session_id);
    if (chosen.result == kDialogOk) {
        engine.EnableAllChannels();
        engine.SetSourceMode(chosen.source_mode);
        if (chosen.source_mode == 1) {
            // The preview's threads have ended; the recorder is asked off the window thread.
            StartRecorderPlayback();
        } else {
            // StopPlayback returns once the old reader and workers have ended, so
            // the new playback starts at once.
            engine.StopPlayback();
            const RecordSource& source = chosen.source;
            if (PlaybackEngine::IsPlayRange(source.start_second, source.end_second)) {
                engine.SetLocalSource(source);
                int first = 0;
                int count = 0;
                for (int c = 3; c >= 0; --c) {
                    if (source.channel_mask >> c & 1) {
                        first = c;
                        ++count;
                    }
                }
                SelectViewer(first);
                if (count == 1) {
                    OnView1x1();
                } else {
                    ShowQuadView();
                }
                engine.StartLocalPlayback();
            }
        }
    }
    EnableButton(kBackup, engine.Status().source_mode != 1);
}

void CKestrelPlaybackDlg::StartRecorderPlayback() {
    export_end_.Abort();
    // The recorder is asked on the engine's worker; its answer arrives as WM_REMOTE_OPENED.
    engine_->StartRecorderPlayback(selection);
}

void CKestrelPlaybackDlg::OnPower() {
    // Every thread of the playback has ended when StopPlayback returns.
    engine_->StopPlayback();
    QDialog::done(QDialog::Accepted);
}

void CKestrelPlaybackDlg::OnSnapShot() {
    if (CMyViewer* viewer = SelectedViewer()) viewer->Snapshot();
}

void CKestrelPlaybackDlg::OnPrint() {
    CMyViewer* viewer = SelectedViewer();
    // Viewer 0's print covers the whole 2x2 grid.
    if (viewer && viewer->layout() == 2) viewer = grid_.Viewer(0);
    if (viewer) viewer->Print();
}

void CKestrelPlaybackDlg::OnMinimize() { showMinimized(); }

int CKestrelPlaybackDlg::CurrentSecond() const {
    const PlaybackEngine::Snapshot engine = engine_->Status();
    if (engine.source_mode == 1) return engine.remote_time[3] * 3600 + engine.remote_time[4] * 60 + engine.remote_time[5];
    const RecordSource& source = engine.record_source;
    const int scale = source.end_second - source.start_second > 10000 ? 10 : 1;
    return source.start_second + engine.slider_position * scale;
}

void CKestrelPlaybackDlg::SetCueMark(bool in) {
    // The position is what the window last applied; a nap here would only hold back the updates it waits for.
    const int second = CurrentSecond();
    if (in) {
        panel_.SetCueIn(second);
    } else {
        panel_.SetCueOut(second);
    }
}

void CKestrelPlaybackDlg::OnCueIn() { SetCueMark(true); }
void CKestrelPlaybackDlg::OnCueOut() { SetCueMark(false); }

void CKestrelPlaybackDlg::OnZoomIn() {
    if (CMyViewer* viewer = SelectedViewer()) viewer->Zoom(4);
}

void CKestrelPlaybackDlg::OnZoomOut() {
    if (CMyViewer* viewer = SelectedViewer()) viewer->Zoom(-4);
}

void CKestrelPlaybackDlg::RunSettings() {
    if (!hooks.run_settings) return;
    const std::array<OsdStyleRecord*, 4> styles{&osd_styles_[0], &osd_styles_[1], &osd_styles_[2], &osd_styles_[3]};
    if (hooks.run_settings(this, styles) != kDialogOk) return;
    for (int k = 0; k < 4; ++k) {
        if (CMyViewer* viewer = grid_.Viewer(k)) viewer->ApplyOsdStyle(osd_styles_[static_cast<size_t>(k)]);
    }
    RegisterTooltips(true);
    switch (engine_->Status().play_state) {
        case PlaybackEngine::kPlaying: panel_.SetStatusText(TranslateText("STATUS_PLAY", "PLAY")); break;
        case PlaybackEngine::kPaused: panel_.SetStatusText(TranslateText("STATUS_PAUSE", "PAUSE")); break;
        default: panel_.SetStatusText(TranslateText("STATUS_STOP", "STOP")); break;
    }
}

int CKestrelPlaybackDlg::ChooseFolder() {
    chosen_folder_.clear();
    std::error_code error;
    const std::string stored = ReadStorageLocation();
    if (!stored.empty() && std::filesystem::is_directory(stored, error)) {
        chosen_folder_ = stored;
        return 1;
    }
    const auto chosen = ui::ChooseFolder(this, TranslateText("TIP_OPENFOLDER", "Please select a folder."));
    if (!chosen) return 0;
    if (chosen->empty()) {
        platform::ShowMessageBox(TranslateText("TXT_OPEN_ERROR", "It's not a data folder."),
                                 TranslateText("MSG_ERROR", "Error"));
        return 0;
    }
    // Remembered when the settings file exists; used for this export either way.
    WriteStorageLocation(*chosen);
    chosen_folder_ = *chosen;
    return 1;
}

void CKestrelPlaybackDlg::RunExport() {
    const int cue_in = panel_.CueIn();
    const int cue_out = panel_.CueOut();
    if (cue_in < 0 || cue_out < 0) {
        platform::ShowMessageBox(
            TranslateText("CUE_ERROR", "Please use CUE control to set up start/end time and then retry again."),
            TranslateText("MSG", "Message"));
        return;
    }
    if (cue_out <= cue_in) {
        platform::ShowMessageBox(TranslateText("TIMERANGE_ERROR", "Cuein Time must be early than Cueout Time."),
                                 TranslateText("MSG", "Message"));
        return;
    }
    const bool was_playing = engine_->Status().play_state == PlaybackEngine::kPlaying;
    KillStatusTimer();
    OnPause();
    if (!ChooseFolder()) {
        if (engine_->Status().source_mode == 1) engine_->StartStatusTimer();
        // Back to what it was: Play from paused or stopped would start what the user had not.
        if (was_playing) OnPlay();
        return;
    }
    int channel = -1;
    for (int i = 0; i < 4; ++i) {
        if (CMyViewer* viewer = grid_.Viewer(i); viewer && viewer->IsSelected()) channel = i;
    }
    const PostToMainDialog post = [this](uint32_t message, intptr_t wparam, intptr_t lparam) {
        PostMessage(message, wparam, lparam);
    };
    const PlaybackEngine::Snapshot engine = engine_->Status();
    if (engine.source_mode != 1) {
        FolderExportRequest request{this, channel, cue_in, cue_out, engine.record_source, chosen_folder_, post};
        if (hooks.run_folder_export) hooks.run_folder_export(request);
    } else {
        // The receiver must have ended before its connection is closed; the export ends stopped anyway.
        engine_->StopPlayback();
        RecorderExportRequest request;
        request.owner = this;
        request.channel_index = channel;
        request.cue_in = cue_in;
        request.cue_out = cue_out;
        request.year = engine.remote_time[0];
        request.month = engine.remote_time[1];
        request.day = engine.remote_time[2];
        request.source = engine.record_source;
        request.server = engine.server;
        request.source_mode = engine.source_mode;
        for (int c = 0; c < 4; ++c)
            request.channels[static_cast<size_t>(c)] = selection[static_cast<size_t>(9 + c)] == 1 ? 1 : 0;
        request.out_hour = cue_out / 3600;
        request.out_minute = cue_out / 60 % 60;
        request.out_second = cue_out % 60;
        request.start_text = recorder_api::PaddedTimeText(request.year, request.month, request.day, cue_in);
        request.end_text = recorder_api::PaddedTimeText(request.year, request.month, request.day, cue_out);
        request.session_id = engine.session_id;
        request.duration = cue_out - cue_in;
        request.output_folder = chosen_folder_;
        request.post_message = post;
        if (hooks.run_recorder_export) hooks.run_recorder_export(request);

        // Sent on a worker: the window thread never waits on the recorder. A new open aborts it. The
        // recorder gets the rest after the export's last stream that it gets between two channels.
        const std::array<int, 4> channels{selection[9], selection[10], selection[11], selection[12]};
        export_end_.Start(
            engine.server, recorder_api::StreamPath(engine.session_id, recorder_api::ChannelFlags(channels), 0),
            [this](bool) { ui::PostQueued(this, [this] { export_end_.Join(); }); },
            export_end_rest);
    }
    panel_.SetCueIn(-1);
    panel_.SetCueOut(-1);
    OnStop();
}

void CKestrelPlaybackDlg::OnAdjustImage() {
    if (hooks.run_adjust_image) hooks.run_adjust_image(this, SelectedViewer());
}

void CKestrelPlaybackDlg::OnBackup() {
    OnPause();
    if (hooks.run_backup) hooks.run_backup(this, engine_->Status().record_source.path);
}
