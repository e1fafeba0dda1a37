#include "mainwindow/ui/playback_app.h"

#include <QLockFile>
#include <QStandardPaths>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>

#include "export/ui/avi_dialog2.h"
#include "export/ui/avi_export_dlg.h"
#include "mainwindow/ui/image_adjust_dlg.h"
#include "mainwindow/ui/kestrel_playback_dlg.h"
#include "mainwindow/ui/setting_dlg.h"
#include "sources/ui/select_dlg.h"
#include "platform/message_box.h"

namespace fs = std::filesystem;

std::string InstanceLockPath(const std::string& own_name) {
    if (own_name.empty()) return std::string();
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) return std::string();
    return folder.toStdString() + "/" + own_name + ".lock";
}

std::string OwnExecutableName() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string() : exe.filename().string();
}

KestrelDialogHooks StandardDialogHooks() {
    KestrelDialogHooks hooks;
    hooks.run_record_selection = [](const RecordSelectionRequest& request) {
        CSelectDlg dialog(request.owner);
        dialog.source_mode = request.source_mode;
        dialog.session_id = request.last_session_id;
        if (request.server) dialog.server_record = *request.server;
        dialog.record_source.path = request.data_folder;
        dialog.record_source.year = request.year;
        dialog.record_source.month = request.month;
        dialog.record_source.day = request.day;
        dialog.preview_engine = request.preview;
        RecordSelectionResult chosen;
        chosen.result = dialog.exec();
        if (chosen.result == kDialogOk) {
            // Only a recorder session replaces the caller's; a folder or share
            // choice leaves its session, recorder and selection as they were.
            if (dialog.session_id >= 0) {
                if (request.session_id) *request.session_id = dialog.session_id;
                if (request.server) *request.server = dialog.server_record;
                if (request.selection)
                    std::copy(dialog.selection_block.begin(), dialog.selection_block.end(), request.selection->begin());
            }
            chosen.source_mode = dialog.source_mode;
            chosen.source = dialog.record_source;
        }
        return chosen;
    };
    hooks.run_folder_export = [](const FolderExportRequest& request) {
        CAviDialog2 dialog(request.owner);
        dialog.view_index = request.channel_index;
        dialog.cue_in_second = request.cue_in;
        dialog.cue_out_second = request.cue_out;
        dialog.record_source = &request.source;
        dialog.chosen_folder = request.output_folder;
        dialog.message_sink = request.post_message;
        return dialog.DoModal();
    };
    hooks.run_recorder_export = [](const RecorderExportRequest& request) {
        CAviExportDlg dialog(request.owner);
        dialog.view_index = request.channel_index;
        dialog.cue_in_second = request.cue_in;
        dialog.cue_out_second = request.cue_out;
        dialog.year = request.year;
        dialog.month = request.month;
        dialog.day = request.day;
        dialog.record_source = request.source;
        dialog.server = request.server;
        dialog.source_mode = request.source_mode;
        dialog.channel_flags = request.channels;
        dialog.out_hour = request.out_hour;
        dialog.out_minute = request.out_minute;
        dialog.out_second = request.out_second;
        dialog.start_text = request.start_text;
        dialog.end_text = request.end_text;
        dialog.session_id = request.session_id;
        dialog.duration = request.duration;
        dialog.chosen_folder = request.output_folder;
        dialog.message_sink = request.post_message;
        return dialog.DoModal();
    };
    hooks.run_settings = [](QWidget* owner, const std::array<OsdStyleRecord*, 4>& styles) {
        CSettingDlg dialog(owner);
        dialog.osd_styles = styles;
        return dialog.DoModal();
    };
    hooks.run_adjust_image = [](QWidget* owner, CMyViewer* viewer) {
        CAdjustImage dialog(owner);
        dialog.viewer = viewer;
        return dialog.DoModal();
    };
    return hooks;
}

bool CKestrelPlaybackApp::InitInstance() {
    // One lock file per user and executable name, taken atomically: of two
    // starts at the same moment exactly one gets it, and other users'
    // processes or other programs of the same name never hold it. The lock
    // of a copy that died is found stale and taken over. Without a runtime
    // folder there is no check and the program starts.
    std::unique_ptr<QLockFile> lock;
    const std::string lock_path = InstanceLockPath(OwnExecutableName());
    if (!lock_path.empty()) {
        lock = std::make_unique<QLockFile>(QString::fromStdString(lock_path));
        lock->setStaleLockTime(0);
        if (!lock->tryLock(0) && lock->error() == QLockFile::LockFailedError) {
            refused_ = true;
            platform::ShowMessageBox("Playback manager is running!");
            return false;
        }
    }
    CKestrelPlaybackDlg dialog;
    dialog.hooks.run_record_selection = hooks.run_record_selection;
    dialog.hooks.run_folder_export = hooks.run_folder_export;
    dialog.hooks.run_recorder_export = hooks.run_recorder_export;
    dialog.hooks.run_settings = hooks.run_settings;
    dialog.hooks.run_adjust_image = hooks.run_adjust_image;
    if (hooks.run_backup) dialog.hooks.run_backup = hooks.run_backup;
    dialog.initial_data_folder = initial_data_folder;
    dialog.DoModal();
    return false;
}
