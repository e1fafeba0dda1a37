#include "sources/ui/select_dlg.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTimeEdit>
#include <QToolBar>
#include <QToolButton>

#include <memory>
#include <optional>

#include "mainwindow/ui/calendar.h"
#include "mainwindow/ui/loading_page.h"
#include "mainwindow/ui/my_button.h"
#include "mainwindow/ui/time_line_bar.h"
#include "media/preview_stream_engine.h"
#include "media/recorder_api.h"
#include "media/translate_text.h"
#include "media/ui/preview_wnd.h"
#include "media/ui/queued_call.h"
#include "media/ui/ui_services.h"
#include "platform/data_file.h"
#include "platform/message_box.h"
#include "sources/recorder_replies.h"
#include "sources/ui/control_ids.h"
#include "sources/ui/remote_dlg.h"
#include "sources/ui/share_connection.h"
#include "media/ui/text_fit.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

QRect Box(int left, int top, int right, int bottom) { return QRect(left, top, right - left, bottom - top); }

int SecondsOf(const QTime& t) { return t.hour() * 3600 + t.minute() * 60 + t.second(); }

QTime TimeOfSecond(int second) { return QTime(second / 3600, second / 60 % 60, second % 60); }

// 20 pixels right of the original's place, so channel names have room.
constexpr int kTimeLineLeft = 160;

// COLORREF 0x00BBGGRR as a style sheet colour.
QString StyleColour(uint32_t colorref) {
    return QString("background-color: rgb(%1,%2,%3);")
        .arg(colorref & 0xFF)
        .arg((colorref >> 8) & 0xFF)
        .arg((colorref >> 16) & 0xFF);
}

struct ShareScanResult {
    int result = 0;
    int records_found = 1;
    std::string folder;
    int year = 0;
    int month = 0;
    std::vector<int> days;
};

// The share scan's work; touches no widget.
ShareScanResult ScanShare(const ServerConnectionRecord& server) {
    ShareScanResult out;
    const std::string path = share::SharePath(server.GetIp());
    // The scans look for "/backup" and "avdata" in folder paths built with "/".
    const std::string folder = share::FolderPath(path);
    int scanned = 0;
    if (platform::PathExists(path)) {
        out.result = 1;
        scanned = ScanBackupFolder(folder, &out.folder, &out.year, &out.month);
    } else {
        const int code = share::Connect(path, server.GetUser(), server.GetPassword());
        if (code == share::kConnected) {
            out.result = 1;
            scanned = ScanBackupFolder(folder, &out.folder, &out.year, &out.month);
        } else if (code == share::kCredentialConflict && platform::PathExists(path)) {
            out.result = 1;
            scanned = ScanDataFolder(folder, &out.folder, &out.year, &out.month);
        }
    }
    if (scanned) {
        out.days = RecordSelectionEngine::MarkFolderRecordingDays(out.folder, out.year, out.month);
    } else {
        out.records_found = 0;
        out.folder.clear();
    }
    return out;
}

}  // namespace

CSelectDlg::CSelectDlg(QWidget* parent) : QDialog(parent), recent_(std::string()) { CreateControls(); }

CSelectDlg::~CSelectDlg() {
    AbortRecorderQuery();
    AbortShareQuery();
    engine_.KillKeepAliveTimer();
    engine_.CloseConnection();
    if (preview_engine) {
        preview_engine->SetTarget(nullptr);
        preview_engine->Stop();
    }
}

void CSelectDlg::CreateControls() {
    setWindowTitle("View Record Files");
    setFixedSize(kWidth, kHeight);
    QFont font("Arial");
    font.setPixelSize(16);
    font.setWeight(QFont::Normal);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);

    // No handle and a width from its buttons: a button pushed into the
    // overflow menu could neither be clicked nor reached by Tab.
    auto* toolbar = new QToolBar(this);
    toolbar->setMovable(false);
    toolbar->setIconSize(QSize(32, 32));
    remote_tool_ = SetControlId(new QToolButton(toolbar), kRemoteManagerTool);
    remote_tool_->setIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
    remote_tool_->setFixedSize(40 + 12, 40);
    remote_tool_->setPopupMode(QToolButton::MenuButtonPopup);
    auto* history_menu = new QMenu(remote_tool_);
    remote_tool_->setMenu(history_menu);
    connect(history_menu, &QMenu::aboutToShow, this, [this, history_menu] {
        history_menu->clear();
        for (const RecentServerMenuItem& item : recent_.MenuItems()) {
            const int id = item.command_id;
            history_menu->addAction(Q(item.label), this, [this, id] { OnCommand(id); });
        }
    });
    connect(remote_tool_, &QToolButton::clicked, this, [this] { OnRemoteManager(); });
    toolbar->addWidget(remote_tool_);
    auto* folder_tool = SetControlId(new QToolButton(toolbar), kFolderTool);
    folder_tool->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    folder_tool->setFixedSize(40, 40);
    connect(folder_tool, &QToolButton::clicked, this, [this] { OnChooseFolder(); });
    toolbar->addWidget(folder_tool);
    toolbar->setGeometry(QRect(QPoint(0, 0), toolbar->sizeHint()));

    // Kept from the older layout, hidden and disabled.
    auto* server_button = SetControlId(new CMyButton(this, kServerButton), kServerButton);
    server_button->setGeometry(10, 100, 33, 29);
    server_button->SetImages("images/server_h.bmp", "images/server_n.bmp", "images/server_n.bmp",
                             "images/server_h.bmp");
    auto* disk_button = SetControlId(new CMyButton(this, kOpenDiskButton), kOpenDiskButton);
    disk_button->setGeometry(48, 100, 33, 29);
    disk_button->SetImages("images/opendisk-D.bmp", "images/opendisk-M.bmp", "images/opendisk-M.bmp",
                           "images/opendisk-M.bmp");
    for (QWidget* w : {static_cast<QWidget*>(server_button), static_cast<QWidget*>(disk_button)}) {
        w->setEnabled(false);
        w->hide();
    }

    calendar_ = new CCalendar(this);
    calendar_->Create(Box(12, 50, 220, 210), this);
    calendar_->SetMessageSink([this](uint32_t m, intptr_t w, intptr_t l) { OnWndMsg(m, w, l); });

    auto* period = SetControlId(new QGroupBox(this), kGroupBox);
    period->setGeometry(Box(230, 10, 540, 120));
    period->setTitle(Q(TranslateText("TXT_DATETIME_PERIOD", "Date Time Period")));
    auto* start_caption = SetControlId(new QLabel(this), kStartCaption);
    start_caption->setGeometry(Box(240, 40, 340, 65));
    start_caption->setAlignment(Qt::AlignCenter);
    start_caption->setText(Q(TranslateText("TXT_SATRT_TIME", "Start Time") + " : "));
    auto* end_caption = SetControlId(new QLabel(this), kEndCaption);
    end_caption->setGeometry(Box(240, 75, 340, 95));
    end_caption->setAlignment(Qt::AlignCenter);
    end_caption->setText(Q(TranslateText("TXT_END_TIME", "End Time") + " : "));

    start_date_ = SetControlId(new QDateEdit(this), kStartDate);
    start_date_->setGeometry(Box(350, 40, 440, 65));
    end_date_ = SetControlId(new QDateEdit(this), kEndDate);
    end_date_->setGeometry(Box(350, 75, 440, 100));
    for (QDateEdit* d : {start_date_, end_date_}) {
        d->setDisplayFormat("yyyy/MM/dd");
        d->setReadOnly(true);
        d->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    }
    start_time_ = SetControlId(new QTimeEdit(this), kStartTime);
    start_time_->setGeometry(Box(450, 40, 535, 65));
    end_time_ = SetControlId(new QTimeEdit(this), kEndTime);
    end_time_->setGeometry(Box(450, 75, 535, 100));
    for (QTimeEdit* t : {start_time_, end_time_}) t->setDisplayFormat("HH:mm:ss");
    SetPickerTimes(QTime(0, 0, 0), QTime(23, 59, 59));
    saved_start_ = start_time_->time();
    saved_end_ = end_time_->time();
    connect(start_time_, &QTimeEdit::timeChanged, this, [this] { OnTimeChanged(kStartTime); });
    connect(end_time_, &QTimeEdit::timeChanged, this, [this] { OnTimeChanged(kEndTime); });

    auto* preview_group = SetControlId(new QGroupBox(this), kGroupBox);
    preview_group->setGeometry(Box(550, 10, 820, 245));
    preview_group->setTitle(Q(TranslateText("TXT_VIDEO_PREVIEW", "Video Preview")));
    enable_preview_ = SetControlId(new QCheckBox(this), kEnablePreview);
    enable_preview_->setGeometry(Box(560, 40, 720, 65));
    enable_preview_->setText(Q(TranslateText("CHK_ENABLE_PREVIEW", "Enable Preview")));
    enable_preview_->setChecked(true);
    connect(enable_preview_, &QCheckBox::toggled, this, [this](bool on) { preview_wnd_->setVisible(on); });

    // Channel names are as long as the recorder makes them: the captions
    // reach up to the time line, which stands a little further right for
    // them, and a name longer still is shortened with its whole text as tip.
    for (int k = 0; k < 4; ++k) {
        row_captions_[static_cast<size_t>(k)] = SetControlId(new QLabel(this), kFirstRowCaption + k);
        row_captions_[static_cast<size_t>(k)]->setGeometry(
            Box(5, 280 + 25 * k, kTimeLineLeft - 5, 300 + 25 * k));
    }
    preview_wnd_ = SetControlId(new CPreviewWnd(this), kPreviewWindow);
    preview_wnd_->setGeometry(Box(560, 65, 810, 235));

    time_line_ = new CTimeLineBar(this);
    time_line_->Create(this, Box(kTimeLineLeft, 250, kTimeLineLeft + 685, 420));
    time_line_->SetMessageSink([this](uint32_t m, intptr_t w, intptr_t l) { OnWndMsg(m, w, l); });

    auto* zoom_out = SetControlId(new CMyButton(this, kZoomOut), kZoomOut);
    zoom_out->setGeometry(5, 401, 18, 20);
    zoom_out->SetImages("images/Minus.bmp", "images/Minus.bmp", "images/Minus.bmp", "images/Minus.bmp");
    connect(zoom_out, &CMyButton::clicked, this, [this] { OnZoomOut(); });
    zoom_slider_ = SetControlId(new QSlider(Qt::Horizontal, this), kZoomSlider);
    zoom_slider_->setGeometry(22, 405, 80, 20);
    zoom_slider_->setRange(0, TimeLineModel::kMaxZoom);
    zoom_slider_->setTickInterval(5);
    zoom_slider_->setTickPosition(QSlider::TicksBelow);
    connect(zoom_slider_, &QSlider::valueChanged, this, [this](int position) { OnZoom(position); });
    auto* zoom_in = SetControlId(new CMyButton(this, kZoomIn), kZoomIn);
    zoom_in->setGeometry(100, 401, 18, 20);
    zoom_in->SetImages("images/Plus.bmp", "images/Plus.bmp", "images/Plus.bmp", "images/Plus.bmp");
    connect(zoom_in, &CMyButton::clicked, this, [this] { OnZoomIn(); });

    // Legend marks in the time line's colours of record types 1 and 2.
    auto* always_mark = SetControlId(new QLabel(this), kLegendAlways);
    always_mark->setGeometry(10, 452, 15, 10);
    always_mark->setStyleSheet(StyleColour(CTimeLineBar::kTypeColours[1]));
    // The caption shares its id with the unshown mark of record type 3.
    auto* always = SetControlId(new QLabel(this), kLegendMotion);
    always->setGeometry(Box(30, 450, 200, 470));
    always->setText(Q(TranslateText("TXT_NORMAL_RECORD2 ", "Record Always")));
    auto* event_mark = SetControlId(new QLabel(this), kLegendEvent);
    event_mark->setGeometry(10, 432, 15, 10);
    event_mark->setStyleSheet(StyleColour(CTimeLineBar::kTypeColours[2]));
    auto* event = SetControlId(new QLabel(this), kLegendAlways);
    event->setGeometry(Box(30, 430, 200, 450));
    event->setText(Q(TranslateText("TXT_EVENT_RECORD ", "Record on Event")));
    auto* motion = SetControlId(new QLabel(this), kLegendEvent);
    motion->setGeometry(Box(620, 405, 860, 550));
    motion->setText(Q(TranslateText("TXT_MOTION_RECORD", "Record on Motion")));
    motion->hide();

    auto* ok = SetControlId(new QPushButton(this), kOk);
    ok->setGeometry(660, 450, 80, 25);
    ok->setText(Q(TranslateText("BTN_OK", "OK")));
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    auto* cancel = SetControlId(new QPushButton(this), kCancel);
    cancel->setGeometry(750, 450, 80, 25);
    cancel->setText(Q(TranslateText("BTN_CANCEL", "Cancel")));
    connect(cancel, &QPushButton::clicked, this, [this] { reject(); });

    setWindowTitle(Q(TranslateText("TXT_RECORD_TITLE", "View Record Files")));
    ui::FitTexts(this);
}

void CSelectDlg::PlaceDialog() {
    const QSize screen = ui::ScreenSize();
    // The width the texts gave the dialog, at least the original's.
    if (screen.width() / 2 > width() / 2 && screen.height() / 2 > 320)
        move(screen.width() / 2 - width() / 2, screen.height() / 2 - 320);
}

int CSelectDlg::exec() {
    OnInitDialog();
    return QDialog::exec();
}

void CSelectDlg::OnInitDialog() {
    if (initialised_) return;
    initialised_ = true;
    recent_ = RecentServerList(history_path);
    recent_.Read();
    engine_.SetRecentServers(&recent_);
    if (session_id > 0) engine_.SetSessionId(session_id);
    if (preview_engine) {
        preview_wnd_->SetEngine(preview_engine);
        preview_engine->SetTarget(preview_wnd_);
    }
    if (source_mode == kRecorderMode) {
        if (!server_record.GetIp().empty()) {
            ServerConnectionRecord& own = engine_.server();
            own.SetIp(server_record.GetIp());
            own.SetUser(server_record.GetUser());
            own.SetPassword(server_record.GetPassword());
            own.SetPort(server_record.GetPort());
            // The login adds the recorder to the recent list: without its name it would show as "(ip)" there.
            own.SetServerName(server_record.GetServerName());
            RunLogin(false);
        }
    } else if (source_mode == kShareMode) {
        // The share is asked on a worker whether the folder is still there.
        if (!record_source.path.empty() && record_source.year > 0 && record_source.month > 0 &&
            record_source.day > 0)
            StartShareMonth(record_source.year, record_source.month, true);
    } else if (source_mode == kFolderMode) {
        if (FolderExists() && record_source.year > 0 && record_source.month > 0 && record_source.day > 0) {
            calendar_->SetYear(record_source.year);
            calendar_->SetMonth(record_source.month);
            PostWindowMessage(this, [this](uint32_t m, intptr_t w, intptr_t l) { OnWndMsg(m, w, l); },
                              WM_CALENDAR_NOTIFY, 0, 0);
        }
    }
    PlaceDialog();
}

bool CSelectDlg::FolderExists() const {
    if (record_source.path.empty()) return false;
    // A share answers on a worker only: its last answer stands.
    if (source_mode == kShareMode) return share_folder_exists_;
    return platform::PathExists(record_source.path);
}

void CSelectDlg::SetPickerDates(int year, int month, int day) {
    const QDate date(year, month, day);
    for (QDateEdit* d : {start_date_, end_date_}) {
        const QSignalBlocker quiet(d);
        d->setDate(date);
    }
}

void CSelectDlg::SetPickerTimes(const QTime& start, const QTime& end) {
    {
        const QSignalBlocker quiet(start_time_);
        start_time_->setTime(start);
    }
    const QSignalBlocker quiet(end_time_);
    end_time_->setTime(end);
}

void CSelectDlg::ApplyDays(const std::vector<int>& days) {
    calendar_->ClearMarks();
    for (int day : days) calendar_->MarkDay(day);
    calendar_->update();
}

void CSelectDlg::ShowChannelNames() {
    for (size_t k = 0; k < 4; ++k) {
        QLabel* caption = row_captions_[k];
        const QString name = Q(engine_.ChannelNames()[k]);
        const QString shown = caption->fontMetrics().elidedText(name, Qt::ElideRight, caption->contentsRect().width());
        caption->setText(shown);
        caption->setToolTip(shown == name ? QString() : name);
    }
}

void CSelectDlg::StopPreview() {
    if (!preview_engine) return;
    preview_engine->Stop();
    preview_engine->ClearPicture();
    preview_wnd_->update();
}

void CSelectDlg::ResetView() {
    AbortRecorderQuery();
    AbortShareQuery();
    calendar_->ClearMarks();
    calendar_->update();
    time_line_->ClearSegments();
    time_line_->viewport()->update();
    StopPreview();
    for (QLabel* caption : row_captions_) caption->clear();
}

void CSelectDlg::RunLogin(bool show_message) {
    const int year = calendar_->Year();
    const int month = calendar_->Month();
    LoginOutcome outcome;
    worker.Run(
        this, CLoadingPage::kDefaultTickLimit, [&] { outcome = engine_.LoginWorker(year, month); },
        [this] { engine_.AbortLogin(); });
    if (outcome.days) ApplyDays(*outcome.days);
    if (outcome.set_captions) ShowChannelNames();
    if (show_message)
        platform::ShowMessageBox(outcome.message, RecordSelectionEngine::ResultCaption(outcome.result));
    if (outcome.history_refused) ReportHistoryRefused();
}

void CSelectDlg::ReportHistoryRefused() {
    // A missing "history.ini" is no failure: the list is then never kept.
    if (!recent_.Writable()) return;
    platform::ShowMessageBox(kHistoryRefusedText, "Warning");
}

void CSelectDlg::OnChooseFolder() {
    const std::optional<std::string> chosen =
        ui::ChooseFolder(this, TranslateText("TIP_OPENFOLDER", "Please select a folder."));
    if (!chosen || chosen->empty()) return;
    ResetView();
    std::string folder;
    int year = 0, month = 0;
    if (ScanDataFolder(*chosen, &folder, &year, &month)) {
        record_source.path = folder;
        calendar_->ClearMarks();
        calendar_->SetYear(year);
        calendar_->SetMonth(month);
        ApplyDays(RecordSelectionEngine::MarkFolderRecordingDays(folder, year, month));
        source_mode = kFolderMode;
        return;
    }
    // A path not ending in "avdata" was already refused with this text by the scan itself.
    if (!ScanDataFolderTellsRefusal(*chosen))
        platform::ShowMessageBox(TranslateText("TXT_OPEN_ERROR", "It's not a data folder."),
                                 TranslateText("MSG_ERROR", "Error"));
}

void CSelectDlg::OnRemoteManager() {
    StopPreview();
    ServerConnectionRecord& own = engine_.server();
    // The manager fills a copy: cancelled, it must not leave the recorder in use without its address.
    ServerConnectionRecord picked = own;
    picked.SetIp("");
    CRemoteDlg manager(this);
    manager.result_record = &picked;
    if (manager.exec() != QDialog::Accepted || picked.GetIp().empty()) return;
    AbortRecorderQuery();
    own = picked;
    engine_.KillKeepAliveTimer();
    engine_.CloseConnection();
    ResetView();
    source_mode = manager.result_mode;
    if (source_mode == kRecorderMode) {
        InteractiveLogin();
    } else if (source_mode == kShareMode) {
        ConnectShare("\\\\" + own.GetIp() + " ", true);
    }
}

void CSelectDlg::InteractiveLogin() {
    AbortRecorderQuery();
    StopPreview();
    source_mode = kRecorderMode;
    engine_.PrepareInteractiveLogin();
    time_line_->ClearSegments();
    time_line_->viewport()->update();
    RunLogin(true);
}

void CSelectDlg::ConnectShare(const std::string& prefix, bool add_to_history) {
    AbortRecorderQuery();
    AbortShareQuery();
    share_folder_exists_ = false;
    source_mode = kShareMode;
    // A recorder's session must not be handed back with the share.
    engine_.ForgetSession();
    time_line_->ClearSegments();
    time_line_->viewport()->update();
    StopPreview();
    const ServerConnectionRecord server = engine_.server();
    ShareScanResult scan;
    platform::ShareCallAbort share_calls;
    bool whole = false;  // no call was cut short (the limit may come in the busy window's pause after)
    worker.Run(
        this, kShareScanTicks,
        [&] {
            const platform::ScopedShareCallAbort bound(&share_calls);
            scan = ScanShare(server);
            whole = !share_calls.Aborted();
        },
        [&] { share_calls.Abort(); });
    // Cut short at the busy window's limit: the share did not answer in time.
    if (!whole) scan = ShareScanResult{};
    if (scan.result == 1 && scan.records_found == 1) {
        record_source.path = scan.folder;
        share_folder_exists_ = true;
        calendar_->SetYear(scan.year);
        calendar_->SetMonth(scan.month);
        ApplyDays(scan.days);
    }
    if (scan.result == 1) {
        platform::ShowMessageBox(
            prefix + (scan.records_found ? "Login success!" : "Login success! But no record data can be found."),
            "Message");
        if (add_to_history && !recent_.Add(engine_.server(), kShareMode)) ReportHistoryRefused();
    } else {
        platform::ShowMessageBox(prefix + "Login failed!", "Error");
    }
}

bool CSelectDlg::OnCommand(int command_id) {
    const int first = RecentServerList::kFirstCommandId;
    if (command_id < first || command_id >= first + RecentServerList::kEntryCount) return false;
    StopPreview();
    const std::optional<RecentServerEntry> entry = recent_.EntryForCommand(command_id);
    if (!entry) return true;
    ResetView();
    engine_.KillKeepAliveTimer();
    engine_.CloseConnection();
    ServerConnectionRecord& own = engine_.server();
    own.SetServerName(entry->name);
    own.SetIp(entry->ip);
    own.SetUser(entry->user);
    own.SetPassword(entry->password);
    if (entry->kind == 0) {
        source_mode = kRecorderMode;
        own.SetPort(entry->port);
        RunLogin(true);
    } else {
        own.SetPort("0");
        ConnectShare(entry->ip + " ", false);
    }
    return true;
}

void CSelectDlg::OnWndMsg(uint32_t message, intptr_t wparam, intptr_t) {
    if (message == WM_CALENDAR_NOTIFY) {
        if (wparam == 1) DayPicked();
        if (wparam == 0) MonthChanged();
        time_line_->viewport()->update();
    } else if (message == WM_POSITION_CHANGED) {
        if (wparam == 0) {
            record_source.start_second = time_line_->SelectionStart();
            record_source.end_second = time_line_->SelectionEnd();
            const int s = record_source.start_second, e = record_source.end_second;
            picked_times_ = {s / 3600, s / 60 % 60, s % 60, e / 3600, e / 60 % 60, e % 60};
            SetPickerTimes(TimeOfSecond(s), TimeOfSecond(e));
            saved_start_ = start_time_->time();
            saved_end_ = end_time_->time();
        }
        bool any = false;
        for (int v : picked_times_) any = any || v != 0;
        if (enable_preview_->isChecked() && any) {
            if ((source_mode == kFolderMode || source_mode == kShareMode) && FolderExists()) LocalPreview();
            else if (source_mode == kRecorderMode) RemotePreview();
        }
    } else if (message == WM_STREAM_LOST) {
        StopPreview();
        engine_.KillKeepAliveTimer();
    }
}

void CSelectDlg::DayPicked() {
    time_line_->ClearSegments();
    const int year = calendar_->Year();
    const int month = calendar_->Month();
    const int day = calendar_->GetSelectedDay();
    if (day <= 0) {
        AbortRecorderQuery();
        return;
    }
    picked_day_ = {year, month, day};
    SetPickerDates(year, month, day);
    SetPickerTimes(QTime(0, 0, 0), QTime(0, 0, 0));
    StopPreview();
    if (source_mode == kFolderMode) {
        record_source.year = year;
        record_source.month = month;
        record_source.day = day;
        for (const TimeLineSegment& s : engine_.FolderDayList(record_source.path, year, month, day))
            time_line_->AppendSegment(s);
        ShowChannelNames();
    } else if (source_mode == kRecorderMode) {
        RecorderQuery query;
        query.year = year;
        query.month = month;
        query.day = day;
        StartRecorderQuery(query);
    } else if (source_mode == kShareMode) {
        const ServerConnectionRecord& server = engine_.server();
        record_source.text1 = server.GetIp();
        record_source.text2 = server.GetUser();
        record_source.text3 = server.GetPassword();
        record_source.text4 = server.GetServerName();
        if (!record_source.path.empty()) {
            AbortShareQuery();
            const std::string folder = record_source.path;
            bool exists = false;
            std::vector<TimeLineSegment> segments;
            platform::ShareCallAbort share_calls;
            bool whole = false;
            worker.Run(
                this, kShareDayListTicks,
                [&] {
                    const platform::ScopedShareCallAbort bound(&share_calls);
                    exists = platform::PathExists(folder);
                    if (exists) segments = engine_.FolderDayList(folder, year, month, day);
                    whole = !share_calls.Aborted();
                },
                [&] { share_calls.Abort(); });
            // Cut short at the busy window's limit, what was read is not the day.
            if (!whole) return;
            share_folder_exists_ = exists;
            if (!exists) return;
            record_source.year = year;
            record_source.month = month;
            record_source.day = day;
            for (const TimeLineSegment& s : segments) time_line_->AppendSegment(s);
            ShowChannelNames();
        }
    }
}

void CSelectDlg::MonthChanged() {
    calendar_->ClearMarks();
    time_line_->ClearSegments();
    record_source.channel_mask = 0;
    record_source.start_second = 0;
    record_source.end_second = 0;
    record_source.year = 0;
    record_source.month = 0;
    record_source.day = 0;
    if (source_mode == kFolderMode)
        ApplyDays(RecordSelectionEngine::MarkFolderRecordingDays(record_source.path, calendar_->Year(),
                                                                 calendar_->Month()));
    // The share's marks come from its worker; a month changed before they came asks again.
    if (source_mode == kShareMode) StartShareMonth(calendar_->Year(), calendar_->Month(), false);
    else AbortShareQuery();
    SetPickerTimes(QTime(0, 0, 0), QTime(0, 0, 0));
    saved_start_ = start_time_->time();
    saved_end_ = end_time_->time();
    StopPreview();
    // Only a logged-in recorder has anything to say about another month.
    if (source_mode == kRecorderMode) {
        RecorderQuery query;
        query.year = calendar_->Year();
        query.month = calendar_->Month();
        query.marks = true;
        StartRecorderQuery(query);
    } else {
        AbortRecorderQuery();
    }
}

void CSelectDlg::StartRecorderQuery(RecorderQuery query) {
    // A day picked before the new month's marks came still shows them.
    query.marks = query.marks || pending_marks_;
    pending_marks_ = query.marks;
    QPointer<CSelectDlg> self(this);
    pending_query_ = engine_.StartQuery(query, [self](uint64_t generation) {
        // Queued to the window thread; dropped with the dialog.
        ui::PostQueued(self.data(), [self, generation] {
            if (self) self->ApplyRecorderAnswers(generation);
        });
    });
}

void CSelectDlg::AbortRecorderQuery() {
    engine_.AbortQuery();
    pending_query_ = 0;
    pending_marks_ = false;
}

void CSelectDlg::ApplyRecorderAnswers(uint64_t generation) {
    // A later click or an abort replaced these answers.
    if (generation != pending_query_) return;
    std::optional<RecorderQueryResult> answers = engine_.TakeQueryResult(generation);
    pending_query_ = 0;
    pending_marks_ = false;
    if (!answers) return;
    if (answers->days) ApplyDays(*answers->days);
    if (answers->set_captions) ShowChannelNames();
    if (answers->query.day <= 0) return;
    const DayListResult& list = answers->list;
    if (!list.warning.empty()) platform::ShowMessageBox(list.warning, "Warning");
    if (list.deselect_day) {
        calendar_->MarkDay(answers->query.day);
        calendar_->update();
    }
    for (const TimeLineSegment& s : list.segments) time_line_->AppendSegment(s);
    time_line_->viewport()->update();
}

void CSelectDlg::StartShareMonth(int year, int month, bool opening) {
    const std::string folder = record_source.path;
    if (folder.empty()) {
        AbortShareQuery();
        return;
    }
    auto answer = std::make_shared<ShareMonthAnswer>();
    QPointer<CSelectDlg> self(this);
    pending_share_ = share_query_.Start(
        [answer, folder, year, month] {
            answer->exists = platform::PathExists(folder);
            if (answer->exists) answer->days = RecordSelectionEngine::MarkFolderRecordingDays(folder, year, month);
        },
        [self, answer, year, month, opening](uint64_t generation) {
            // Queued to the window thread; dropped with the dialog.
            ui::PostQueued(self.data(), [self, answer, year, month, opening, generation] {
                if (self) self->ApplyShareMonth(generation, *answer, year, month, opening);
            });
        });
}

void CSelectDlg::AbortShareQuery() {
    share_query_.Abort();
    pending_share_ = 0;
}

void CSelectDlg::ApplyShareMonth(uint64_t generation, const ShareMonthAnswer& answer, int year, int month,
                                 bool opening) {
    if (generation != pending_share_ || !share_query_.Finish(generation)) return;
    pending_share_ = 0;
    share_folder_exists_ = answer.exists;
    if (!answer.exists) return;
    if (opening) {
        // The folder is still there: open at the last date, as a change of month would.
        calendar_->SetYear(year);
        calendar_->SetMonth(month);
        OnWndMsg(WM_CALENDAR_NOTIFY, 0, 0);
        return;
    }
    ApplyDays(answer.days);
}

void CSelectDlg::OnTimeChanged(int control_id) {
    const QTime start = start_time_->time();
    const QTime end = end_time_->time();
    if (!(SecondsOf(start) < SecondsOf(end))) {
        QTimeEdit* changed = control_id == kStartTime ? start_time_ : end_time_;
        const QSignalBlocker quiet(changed);
        changed->setTime(control_id == kStartTime ? saved_start_ : saved_end_);
        return;
    }
    if (control_id == kStartTime) saved_start_ = start;
    else saved_end_ = end;
    time_line_->SetSelection(SecondsOf(start), SecondsOf(end));
}

void CSelectDlg::OnZoom(int position) { time_line_->SetZoom(position); }

void CSelectDlg::OnZoomIn() {
    if (zoom_slider_->value() < TimeLineModel::kMaxZoom) zoom_slider_->setValue(zoom_slider_->value() + 1);
}

void CSelectDlg::OnZoomOut() {
    if (zoom_slider_->value() > 0) zoom_slider_->setValue(zoom_slider_->value() - 1);
}

int CSelectDlg::ChannelMaskFromRows() const {
    int mask = 0;
    for (int k = 1; k <= 4; ++k)
        if (time_line_->RowFlag(k)) mask |= 1 << (k - 1);
    return mask;
}

std::string CSelectDlg::ChannelSelector(int channel) { return recorder_api::ChannelSelector(channel); }

void CSelectDlg::LocalPreview() {
    if (!preview_engine || record_source.end_second <= 0) return;
    SetPickerTimes(TimeOfSecond(record_source.start_second), TimeOfSecond(record_source.end_second));
    record_source.channel_mask = ChannelMaskFromRows();
    if (record_source.channel_mask == 0) return;
    int channel = 0;
    while (!(record_source.channel_mask & (1 << channel))) ++channel;
    preview_engine->StopThreads();
    if (source_mode == kShareMode) {
        preview_engine->SetUser(engine_.server().GetUser());
        preview_engine->SetPassword(engine_.server().GetPassword());
    }
    preview_engine->preview_channel = channel;
    preview_engine->record_source = record_source;
    if (!preview_engine->Running()) preview_engine->StartLocal();
}

void CSelectDlg::RemotePreview() {
    if (!preview_engine) return;
    const auto now = std::chrono::steady_clock::now();
    if (preview_requested_ && now - last_remote_preview_ < std::chrono::milliseconds(kRemotePreviewGapMs)) return;
    preview_requested_ = true;
    last_remote_preview_ = now;
    int channel = 0;
    for (int k = 4; k >= 1; --k)
        if (time_line_->RowFlag(k)) channel = k - 1;
    const std::string selector = ChannelSelector(channel);
    preview_engine->Stop();
    const std::array<int, 3>& d = picked_day_;
    const std::array<int, 6>& t = picked_times_;
    const int id = engine_.SessionId();
    const std::string search = recorder_api::SearchPath(id, recorder_api::TimeText(d[0], d[1], d[2], t[0], t[1], t[2]),
                                                        recorder_api::TimeText(d[0], d[1], d[2], t[3], t[4], t[5]),
                                                        selector);
    const std::string stream = recorder_api::StreamPath(id, selector, 1);
    const ServerConnectionRecord& server = engine_.server();
    preview_engine->SetSearchRequest(search);
    preview_engine->SetStreamRequest(stream);
    preview_engine->SetServer(server.GetIp(), server.GetUser(), server.GetPassword(),
                              LeadingDecimal(server.GetPort()), 0);
    preview_engine->SetSessionId(std::to_string(id));
    if (preview_engine->Running()) preview_engine->StopThreads();
    if (!preview_engine->Running()) preview_engine->StartRemote();
}

void CSelectDlg::OnOK() {
    const int mask = ChannelMaskFromRows();
    // A range over no channel would play nothing.
    if (record_source.end_second > 0 && mask == 0) {
        platform::ShowMessageBox("No channel selected!", "Warning");
        return;
    }
    if (preview_engine) {
        preview_engine->Stop();
        preview_engine->SetTarget(nullptr);
    }
    preview_wnd_->SetEngine(nullptr);
    AbortRecorderQuery();
    AbortShareQuery();
    record_source.channel_mask = mask;
    session_id = engine_.SessionId();
    // Without a recorder session the caller keeps its recorder and selection.
    if (session_id >= 0) {
        server_record = engine_.server();
        selection_block = {picked_day_[0],   picked_day_[1],   picked_day_[2],   picked_times_[0], picked_times_[1],
                           picked_times_[2], picked_times_[3], picked_times_[4], picked_times_[5], (mask & 1) ? 1 : 0,
                           (mask & 2) ? 1 : 0, (mask & 4) ? 1 : 0, (mask & 8) ? 1 : 0};
    }
    done(QDialog::Accepted);
}

void CSelectDlg::reject() {
    if (preview_engine) {
        preview_engine->Stop();
        preview_engine->SetTarget(nullptr);
    }
    preview_wnd_->SetEngine(nullptr);
    AbortRecorderQuery();
    AbortShareQuery();
    QDialog::reject();
}
