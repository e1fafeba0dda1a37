#pragma once
// The AVI export of the cue range of the day being played from a disk copy:
// the user picks channels, format and options, and each checked channel is
// written as a series of part files while a progress window runs modally.
#include <QDialog>

#include <array>
#include <string>

#include "export/local_export.h"
#include "export/ui/export_settings_page.h"
#include "mainwindow/ui/window_message.h"
#include "media/data_folder.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class CAviDumpDlg2;

class CAviDialog2 : public QDialog {
    Q_OBJECT
public:
    static constexpr int kResourceId = 142;
    static constexpr int kOkId = 1057;
    static constexpr int kCancelId = 2;
    static constexpr int kBrowseId = 1068;
    static constexpr int kOsdId = ExportSettingsPage::kOsdId;

    explicit CAviDialog2(QWidget* parent = nullptr);
    ~CAviDialog2() override;

    // Set by the main dialog before DoModal.
    int view_index = -1;  // kept, not read
    int cue_in_second = 0;
    int cue_out_second = 0;
    const RecordSource* record_source = nullptr;
    // The folder the main dialog's storage chooser settled on for this export;
    // empty: the stored storage folder.
    std::string chosen_folder;
    // The main dialog's posted messages (WM_DISK_FULL).
    WindowMessageSink message_sink;

    // 1 after an export (also with no channel checked), 2 after Cancel.
    int DoModal();
    void OnInitDialog();
    void OnExport();
    void OnFormatChange(int index);
    // The storage folder setting, at most 200 characters; "" without the settings file.
    static std::string ReadStorageLocation();
    // Tells the user which parts of the export are not whole.
    static void ReportFailedParts(const std::vector<ExportedPart>& parts);

    QCheckBox* ChannelBox(int index) const { return page_.channel_boxes[static_cast<size_t>(index)]; }
    QComboBox* FormatList() const { return page_.format_list; }
    QComboBox* QualityList() const { return page_.quality_list; }
    QLabel* QualityLabel() const { return page_.quality_label; }
    QCheckBox* WatermarkBox() const { return page_.watermark_box; }
    QCheckBox* OsdBox() const { return page_.osd_box; }
    QLabel* StartTimeText() const { return page_.start_time; }
    QLabel* EndTimeText() const { return page_.end_time; }
    const std::string& output_folder() const { return output_folder_; }
    // Replaces the folder OnInitDialog chose (tests keep their files out of the home folder).
    void set_output_folder(const std::string& folder) { output_folder_ = folder; }
    // Timings and the free-space query are set here by tests.
    LocalExport& engine() { return engine_; }
    // The progress window while a channel runs, else null.
    CAviDumpDlg2* progress_dialog() const { return progress_dialog_; }

private:
    std::string TimeText(int second_of_day) const;

    std::array<int, 4> channel_flags_{1, 1, 1, 1};
    std::string output_folder_;
    LocalExport engine_;
    CAviDumpDlg2* progress_dialog_ = nullptr;

    ExportSettingsPage page_;
    ExportDialogButtons buttons_;
};
