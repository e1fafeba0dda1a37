#pragma once
// The settings both export dialogs show before an export: channel boxes,
// format list, watermark and OSD boxes, start and end times, quality list;
// and the buttons and output folder the two have alike.
// Ids, texts and pixel places are the same in both; what differs (the second
// format's name, the time labels' English wording) is handed in.
#include <QFont>

#include <array>
#include <string>

class QCheckBox;
class QComboBox;
class QDialog;
class QLabel;
class QPushButton;

struct ExportSettingsWording {
    const char* original_format;  // the format list's second entry
    const char* start_label;      // English default of TXT_SATRT_TIME
    const char* end_label;        // English default of TXT_END_TIME
};

class ExportSettingsPage {
public:
    static constexpr int kChannelLabelId = 1085;
    static constexpr int kFirstChannelId = 1086;
    static constexpr int kFormatLabelId = 1073;
    static constexpr int kFormatListId = 1074;
    static constexpr int kWatermarkId = 1075;
    // Shared with the second channel box; the dialogs never look controls up by id.
    static constexpr int kOsdId = 1087;
    static constexpr int kStartLabelId = 1076;
    static constexpr int kStartTimeId = 1077;
    static constexpr int kEndLabelId = 1078;
    static constexpr int kEndTimeId = 1079;
    static constexpr int kQualityLabelId = 1081;
    static constexpr int kQualityListId = 1080;
    static constexpr int kQualityValues[3] = {85, 80, 77};

    // Creates the controls on dialog once; a channel whose flag is 0 gets a disabled box.
    void Create(QDialog* dialog, const ExportSettingsWording& wording, const std::array<int, 4>& channel_flags);
    bool created() const { return format_list != nullptr; }
    void SetTimes(const std::string& start, const std::string& end);
    // Quality list, its label and the OSD box serve the re-encoding format (entry 0) only.
    void OnFormatChange(int index);
    bool AnyChannelChecked() const;
    // 85, 80 or 77 from the quality list's entry.
    int Quality() const;

    // "%d/%d/%d, %d:%.2d:%.2d": the day and a second of it.
    static std::string TimeText(int year, int month, int day, int second_of_day);

    std::array<QCheckBox*, 4> channel_boxes{};
    QComboBox* format_list = nullptr;
    QComboBox* quality_list = nullptr;
    QLabel* quality_label = nullptr;
    QCheckBox* watermark_box = nullptr;
    QCheckBox* osd_box = nullptr;
    QLabel* start_time = nullptr;
    QLabel* end_time = nullptr;

private:
    QFont font_;
};

// The buttons both export dialogs place alike: OK (the default button, so
// Enter starts the export rather than closing the dialog unasked), Cancel
// (ends the dialog with 2), and the "..." button their resources hold, kept
// hidden and disabled (its save-file question never reached the export).
// Each dialog has its own ids and connects OK itself.
struct ExportDialogButtons {
    void Create(QDialog* dialog, int ok_id, int cancel_id, int browse_id);
    // The language's texts, at each OnInitDialog.
    void SetTexts();

    QPushButton* ok = nullptr;
    QPushButton* cancel = nullptr;
    QPushButton* browse = nullptr;
};

// Where an export writes: the folder chosen for it, else the stored storage
// folder, else the user's home folder; without a trailing separator.
std::string ExportOutputFolder(const std::string& chosen_folder);
