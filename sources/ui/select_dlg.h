#pragma once
// "View Record Files": where recordings come from (data folder, recorder or
// share), the day, the time range and channel rows, with a preview. The
// creator sets the public inputs, runs exec() and reads the results back.
#include <QDialog>
#include <QTime>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "media/data_folder.h"
#include "media/server_connection_record.h"
#include "sources/recent_server_list.h"
#include "sources/record_selection_engine.h"
#include "sources/share_query_worker.h"
#include "sources/ui/busy_worker.h"

class CCalendar;
class CPreviewWnd;
class CTimeLineBar;
class PreviewStreamEngine;
class QCheckBox;
class QDateEdit;
class QLabel;
class QSlider;
class QTimeEdit;
class QToolButton;

class CSelectDlg : public QDialog {
    Q_OBJECT
public:
    enum ControlId {
        kOk = 1,
        kCancel = 2,
        kStartCaption = 1008,
        kEndCaption = 1009,
        kStartDate = 1010,
        kStartTime = 1011,
        kEndDate = 1012,
        kEndTime = 1013,
        kEnablePreview = 1014,
        kGroupBox = 1015,
        kServerButton = 1027,
        kFirstRowCaption = 1028,
        kZoomOut = 1037,
        kZoomIn = 1038,
        kZoomSlider = 1040,
        kPreviewWindow = 1047,
        kOpenDiskButton = 1048,
        kLegendAlways = 1082,
        kLegendMotion = 1083,
        kLegendEvent = 1084,
        kRemoteManagerTool = 1088,
        kFolderTool = 1089,
    };
    enum SourceMode { kFolderMode = 0, kRecorderMode = 1, kShareMode = 2 };
    static constexpr int kWidth = 850;
    static constexpr int kHeight = 515;
    static constexpr int kSelectionBlockSize = 13;
    static constexpr int kShareScanTicks = 520;
    static constexpr int kShareDayListTicks = 12000;
    static constexpr int kRemotePreviewGapMs = 500;
    static constexpr const char* kHistoryRefusedText = "The recorder could not be kept in the recent list.";

    explicit CSelectDlg(QWidget* parent = nullptr);
    ~CSelectDlg() override;

    // Inputs and results (see the class comment).
    int source_mode = kFolderMode;
    // In: the last session id (when above 0). Out after OK: the recorder's session, -1 none.
    int session_id = RecordSelectionEngine::kNoSession;
    // In: the recorder to log in to at start in recorder mode. Out after OK with a session: the one in use.
    ServerConnectionRecord server_record;
    // Year, month, day, start h/m/s, end h/m/s, rows 1-4 selected; written by OK.
    std::array<int32_t, kSelectionBlockSize> selection_block{};
    // In: the data folder (and, optionally, the last date). Out: folder, channel mask, range and date.
    RecordSource record_source;
    // Lent by the creator for the dialog's lifetime; may stay null.
    PreviewStreamEngine* preview_engine = nullptr;
    std::string history_path = RecentServerList::DefaultPath();
    BusyWorker worker;

    // Runs OnInitDialog first.
    int exec() override;
    void OnInitDialog();

    void OnChooseFolder();
    void OnRemoteManager();
    void InteractiveLogin();
    // The share in the dialog's record; prefix starts the message shown afterwards.
    void ConnectShare(const std::string& prefix, bool add_to_history);
    // Menu commands of the recent recorders.
    bool OnCommand(int command_id);
    void OnWndMsg(uint32_t message, intptr_t wparam, intptr_t lparam);
    void OnTimeChanged(int control_id);
    void OnZoom(int position);
    void OnZoomIn();
    void OnZoomOut();
    void OnOK();
    void reject() override;
    void ResetView();

    // A recorder's answers to the last day click or change of month are still to come.
    bool RecorderAnswerPending() const { return pending_query_ != 0; }
    // The share's answer to the opening or the last change of month is still to come.
    bool ShareAnswerPending() const { return pending_share_ != 0; }
    RecordSelectionEngine& engine() { return engine_; }
    RecentServerList& recent() { return recent_; }
    CCalendar* calendar() const { return calendar_; }
    CTimeLineBar* time_line() const { return time_line_; }
    CPreviewWnd* preview_window() const { return preview_wnd_; }
    QLabel* row_caption(int row) const { return row_captions_.at(static_cast<size_t>(row)); }
    QTimeEdit* start_time() const { return start_time_; }
    QTimeEdit* end_time() const { return end_time_; }

    // "1,0,0,0,0,0,0,0,0" with the 1 at channel (0-8).
    static std::string ChannelSelector(int channel);

private:
    void CreateControls();
    void PlaceDialog();
    void RunLogin(bool show_message);
    // The recent list refused an entry it should have kept.
    void ReportHistoryRefused();
    void ApplyDays(const std::vector<int>& days);
    void ShowChannelNames();
    void StopPreview();
    void LocalPreview();
    void RemotePreview();
    // The recorder's requests run on the engine's worker; ApplyRecorderAnswers shows their answers.
    void StartRecorderQuery(RecorderQuery query);
    void ApplyRecorderAnswers(uint64_t generation);
    void AbortRecorderQuery();
    // Share mode: whether the folder is there and the month's marks, from the share's worker.
    struct ShareMonthAnswer {
        bool exists = false;
        std::vector<int> days;
    };
    // opening: at the dialog's start, which then opens at that month as a change of month does.
    void StartShareMonth(int year, int month, bool opening);
    void ApplyShareMonth(uint64_t generation, const ShareMonthAnswer& answer, int year, int month, bool opening);
    void AbortShareQuery();
    void DayPicked();
    void MonthChanged();
    void SetPickerDates(int year, int month, int day);
    void SetPickerTimes(const QTime& start, const QTime& end);
    bool FolderExists() const;
    int ChannelMaskFromRows() const;

    RecordSelectionEngine engine_;
    ShareQueryWorker share_query_;
    RecentServerList recent_;
    bool initialised_ = false;

    CCalendar* calendar_ = nullptr;
    CTimeLineBar* time_line_ = nullptr;
    CPreviewWnd* preview_wnd_ = nullptr;
    QCheckBox* enable_preview_ = nullptr;
    QDateEdit* start_date_ = nullptr;
    QDateEdit* end_date_ = nullptr;
    QTimeEdit* start_time_ = nullptr;
    QTimeEdit* end_time_ = nullptr;
    QSlider* zoom_slider_ = nullptr;
    QToolButton* remote_tool_ = nullptr;
    std::array<QLabel*, 4> row_captions_{};

    QTime saved_start_;
    QTime saved_end_;
    std::array<int, 3> picked_day_{};
    std::array<int, 6> picked_times_{};
    uint64_t pending_query_ = 0;  // generation of the query whose answers are to come
    bool pending_marks_ = false;  // that query still owes the month's marks
    uint64_t pending_share_ = 0;  // generation of the share's answer to come
    bool share_folder_exists_ = false;  // the share's last answer on the data folder
    bool preview_requested_ = false;
    std::chrono::steady_clock::time_point last_remote_preview_{};
};
