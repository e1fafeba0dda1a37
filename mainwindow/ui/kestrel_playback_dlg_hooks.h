#pragma once
// The modal dialogs the main dialog runs but does not build itself. Each is a
// function the owner of the main dialog installs: the program the real dialogs,
// tests a double. A missing function means the command has nothing to run.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "media/data_folder.h"
#include "media/server_connection_record.h"

class CMyViewer;
class OsdStyleRecord;
class PreviewStreamEngine;
class QWidget;

inline constexpr int kDialogOk = 1;

// Posts a window message to the main dialog (WM_DISK_FULL from the exports).
using PostToMainDialog = std::function<void(uint32_t message, intptr_t wparam, intptr_t lparam)>;

// Year, month, day, start hour, minute, second, end hour, minute, second, row 1-4 flags.
using SelectionBlock = std::array<int, 13>;

// The record selection. The dialog writes session id, recorder and selection
// block through the pointers, as far as it gets; source mode and record source
// are read back on OK only.
struct RecordSelectionRequest {
    QWidget* owner = nullptr;
    PreviewStreamEngine* preview = nullptr;
    int source_mode = 0;
    int last_session_id = -1;  // -1 when there is none worth offering
    std::string data_folder;  // empty: none known
    int year = 0, month = 0, day = 0;
    int* session_id = nullptr;
    ServerConnectionRecord* server = nullptr;
    SelectionBlock* selection = nullptr;
};
struct RecordSelectionResult {
    int result = 0;  // kDialogOk or another dialog result
    int source_mode = 0;
    RecordSource source;
};

// Export from the disk copy (modes 0 and 2).
struct FolderExportRequest {
    QWidget* owner = nullptr;
    int channel_index = -1;
    int cue_in = 0, cue_out = 0;
    RecordSource source;
    // Where the files go: the folder the storage chooser settled on.
    std::string output_folder;
    PostToMainDialog post_message;
};

// Export from the recorder (mode 1).
struct RecorderExportRequest {
    QWidget* owner = nullptr;
    int channel_index = -1;
    int cue_in = 0, cue_out = 0;
    int year = 0, month = 0, day = 0;
    RecordSource source;
    ServerConnectionRecord server;
    int source_mode = 1;
    std::array<int, 4> channels{};
    int out_hour = 0, out_minute = 0, out_second = 0;
    std::string start_text, end_text;
    int session_id = -1;
    int duration = 0;
    // Where the files go: the folder the storage chooser settled on.
    std::string output_folder;
    PostToMainDialog post_message;
};

struct KestrelDialogHooks {
    std::function<RecordSelectionResult(const RecordSelectionRequest&)> run_record_selection;
    std::function<int(const FolderExportRequest&)> run_folder_export;
    std::function<int(const RecorderExportRequest&)> run_recorder_export;
    // The four styles are edited in place; returns the dialog result.
    std::function<int(QWidget* owner, const std::array<OsdStyleRecord*, 4>& styles)> run_settings;
    std::function<int(QWidget* owner, CMyViewer* viewer)> run_adjust_image;
    std::function<int(QWidget* owner, const std::string& source_folder)> run_backup;
};
