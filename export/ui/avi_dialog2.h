#pragma once
// The AVI export of the cue range of the day being played from a disk copy:
// the user picks channels, format and options, and each checked channel is
// written as a series of part files while a progress window runs modally.
#include <QDialog>
#include <QFont>

#include <array>
#include <string>

#include "export/local_export.h"
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
    static constexpr int kChannelLabelId = 1085;
    static constexpr int kFirstChannelId = 1086;
    static constexpr int kFormatLabelId = 1073;
    static constexpr int kFormatListId = 1074;
    static constexpr int kWatermarkId = 1075;
    // Shared with the second channel box; the dialog never looks controls up by id.
    static constexpr int kOsdId = 1087;
    static constexpr int kStartLabelId = 1076;
    static constexpr int kStartTimeId = 1077;
    static constexpr int kEndLabelId = 1078;
    static constexpr int kEndTimeId = 1079;
    static constexpr int kQualityLabelId = 1081;
    static constexpr int kQualityListId = 1080;
    static constexpr int kQualityValues[3] = {85, 80, 77};

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

    QCheckBox* ChannelBox(int index) const { return channel_boxes_[static_cast<size_t>(index)]; }
    QComboBox* FormatList() const { return format_list_; }
    QComboBox* QualityList() const { return quality_list_; }
    QLabel* QualityLabel() const { return quality_label_; }
    QCheckBox* WatermarkBox() const { return watermark_box_; }
    QCheckBox* OsdBox() const { return osd_box_; }
    QLabel* StartTimeText() const { return start_time_; }
    QLabel* EndTimeText() const { return end_time_; }
    const std::string& output_folder() const { return output_folder_; }
    // Replaces the folder OnInitDialog chose (tests keep their files out of the home folder).
    void set_output_folder(const std::string& folder) { output_folder_ = folder; }
    // Timings and the free-space query are set here by tests.
    LocalExport& engine() { return engine_; }
    // The progress window while a channel runs, else null.
    CAviDumpDlg2* progress_dialog() const { return progress_dialog_; }

private:
    QLabel* AddLabel(int id, const std::string& text, int left, int top, int right, int bottom);
    QCheckBox* AddCheckBox(int id, const std::string& text, int left, int top, int right, int bottom);
    QComboBox* AddList(int id, int left, int top, int right, int bottom);
    std::string TimeText(int second_of_day) const;

    std::array<int, 4> channel_flags_{1, 1, 1, 1};
    std::string output_folder_;
    LocalExport engine_;
    CAviDumpDlg2* progress_dialog_ = nullptr;
    bool controls_created_ = false;

    QFont font_;
    std::array<QCheckBox*, 4> channel_boxes_{};
    QComboBox* format_list_ = nullptr;
    QComboBox* quality_list_ = nullptr;
    QLabel* quality_label_ = nullptr;
    QCheckBox* watermark_box_ = nullptr;
    QCheckBox* osd_box_ = nullptr;
    QLabel* start_time_ = nullptr;
    QLabel* end_time_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* browse_ = nullptr;
};
