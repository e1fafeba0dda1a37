#pragma once
// The AVI export of the cue range from the recorder being played: the user
// picks channels, format and options, and each checked channel is downloaded
// and written as a series of part files while a progress window runs
// modally. Looks and behaves as the disk-copy export's dialog.
#include <QDialog>

#include <array>
#include <string>
#include <vector>

#include "export/remote_export.h"
#include "export/ui/avi_dump_dlg.h"
#include "export/ui/export_settings_page.h"
#include "mainwindow/ui/window_message.h"
#include "media/data_folder.h"
#include "media/server_connection_record.h"

class QPushButton;

class CAviExportDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kResourceId = 133;
    static constexpr int kOkId = 1068;
    static constexpr int kCancelId = 2;
    static constexpr int kBrowseId = 1057;
    static constexpr int kOsdId = ExportSettingsPage::kOsdId;

    explicit CAviExportDlg(QWidget* parent = nullptr);
    ~CAviExportDlg() override;

    // Set by the main dialog before DoModal.
    int view_index = -1;  // kept, not read
    int cue_in_second = 0;
    int cue_out_second = 0;
    int year = 0, month = 0, day = 0;
    RecordSource record_source;
    ServerConnectionRecord server;
    int source_mode = 1;
    // 1: the channel may be exported; 0: its box is disabled.
    std::array<int, 4> channel_flags{1, 1, 1, 1};
    int out_hour = 0, out_minute = 0, out_second = 0;
    // "%d,%d,%d,%.2d,%.2d,%.2d" of the cue-in and the cue-out.
    std::string start_text, end_text;
    int session_id = 0;
    int duration = 0;
    // The folder the main dialog's storage chooser settled on; empty: the stored one.
    std::string chosen_folder;
    // The main dialog's posted messages (WM_DISK_FULL).
    WindowMessageSink message_sink;

    // 2 after an export and after Cancel; 1 after the standard OK command.
    int DoModal();
    void OnInitDialog();
    void OnExport();
    void OnFormatChange(int index) { page_.OnFormatChange(index); }

    QCheckBox* ChannelBox(int index) const { return page_.channel_boxes[static_cast<size_t>(index)]; }
    QComboBox* FormatList() const { return page_.format_list; }
    QComboBox* QualityList() const { return page_.quality_list; }
    QLabel* QualityLabel() const { return page_.quality_label; }
    QCheckBox* WatermarkBox() const { return page_.watermark_box; }
    QCheckBox* OsdBox() const { return page_.osd_box; }
    QLabel* StartTimeText() const { return page_.start_time; }
    QLabel* EndTimeText() const { return page_.end_time; }
    QPushButton* ok_button() const { return buttons_.ok; }
    const std::string& output_folder() const { return output_folder_; }
    void set_output_folder(const std::string& folder) { output_folder_ = folder; }
    // Timings and the free-space query are set here by tests.
    RemoteExport& engine() { return engine_; }
    CAVIDumpDlg& progress_dialog() { return progress_; }
    // The channels (0-3) of the last export that did not complete.
    const std::vector<int>& failed_channels() const { return failed_; }

private:
    std::string output_folder_;
    // Before the engine, which is torn down first: its threads report to the window.
    CAVIDumpDlg progress_;
    RemoteExport engine_;
    ExportSettingsPage page_;
    std::vector<int> failed_;
    ExportDialogButtons buttons_;
};
