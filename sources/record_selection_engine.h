#pragma once
// The record selection's work without its window: the recorder login, the
// playback session id and its keep-alive, and the month marks, day lists and
// channel names from a recorder or a data folder. The dialog owns one, runs the
// login worker on its worker thread and applies the results it returns on the
// window thread.
#include <array>
#include <cstdint>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "mainwindow/time_line_model.h"
#include "media/http_get.h"
#include "media/icmp_ping.h"
#include "media/server_connection_record.h"
#include "platform/cancellable_wait.h"

class RecentServerList;

// What a change of month or a click on a day asks a recorder, in this order.
struct RecorderQuery {
    int year = 0;
    int month = 0;
    int day = 0;         // above 0: the day's records
    bool marks = false;  // the month's recording days
    bool names = true;   // the channel names
};

struct RecordSelectionTiming {
    int connect_timeout_ms = 3000;
    int first_keep_alive_ms = 2000;
    int next_keep_alive_ms = 1000;
    int session_id_pause_ms = 10;
    int reconnect_pause_ms = 500;
    // Bounds each whole reply (HttpGet's receive timeout); tests shorten it.
    int receive_timeout_ms = HttpGet::kReceiveTimeoutMs;
};

// What the login worker leaves for the window thread.
struct LoginOutcome {
    int result = 0;  // 1 success
    std::string message;
    // Marks of the calendar's month; none when they are to stay as they are.
    std::optional<std::vector<int>> days;
    bool set_captions = false;  // show ChannelNames() on the row captions
    bool history_refused = false;  // the recent list could not take the recorder
};

struct DayListResult {
    std::vector<TimeLineSegment> segments;
    bool deselect_day = false;
    std::string warning;  // shown with caption "Warning" when not empty
};

// A query's answers, applied on the window thread.
struct RecorderQueryResult {
    RecorderQuery query;
    std::optional<std::vector<int>> days;  // none: the marks stay as they are
    bool set_captions = false;             // show ChannelNames() on the row captions
    DayListResult list;
};

class RecordSelectionEngine {
public:
    static constexpr int kNoSession = -1;
    static constexpr size_t kReplyBufferSize = 1024;
    static constexpr size_t kLoginBufferSize = 512;
    static constexpr size_t kKeepAliveBufferSize = 64;
    static constexpr size_t kChannelListBufferSize = 8200;
    static constexpr size_t kRecordListBufferSize = 24000;
    static constexpr int kRecordsPerPage = 500;
    // A recorder that keeps claiming more records is not followed further.
    static constexpr int kMaxRecordPages = 200;
    static constexpr int kFolderEntryCapacity = 10000;
    static constexpr int kFirstCalendarYear = 2005;

    RecordSelectionEngine();
    ~RecordSelectionEngine();
    RecordSelectionEngine(const RecordSelectionEngine&) = delete;
    RecordSelectionEngine& operator=(const RecordSelectionEngine&) = delete;

    // The recorder in use; set before the login worker starts. The keep-alive timer works on
    // the copy taken when it started, so the dialog may edit this while it runs.
    ServerConnectionRecord& server() { return server_; }
    // Before any login or keep-alive runs.
    void SetTiming(const RecordSelectionTiming& timing) { timing_ = timing; }
    // The list a successful login is added to; none: nothing is recorded.
    void SetRecentServers(RecentServerList* list) { recent_ = list; }
    // Stands in for the ICMP echo (tests, hosts without ICMP permission).
    void SetPing(std::function<bool(const std::string&)> ping) { ping_ = std::move(ping); }

    // Login worker: logs in to server() and, on success, starts the keep-alive,
    // reads the marks of year/month and the channel names. Runs on the worker
    // thread; the outcome is also kept for LastLogin().
    LoginOutcome LoginWorker(int year, int month);
    const LoginOutcome& LastLogin() const { return last_login_; }
    // Start of an interactive login: the keep-alive ends and the connection closes.
    void PrepareInteractiveLogin();
    // Any thread: the login worker's requests fail at once until the next login.
    void AbortLogin();
    // "Message" for result 1, else "Error".
    static const char* ResultCaption(int result) { return result == 1 ? "Message" : "Error"; }

    // Runs query on the query worker, after aborting and joining the one still running, so the
    // window thread never waits on the recorder. done runs on the worker once the answers are
    // in, unless an abort or a later query replaced them; it gets the query's generation.
    uint64_t StartQuery(const RecorderQuery& query, std::function<void(uint64_t)> done);
    // The answers of generation, once; none when another query or an abort replaced them.
    // Sets ChannelNames() when the recorder named its channels.
    std::optional<RecorderQueryResult> TakeQueryResult(uint64_t generation);
    // Any query's requests fail at once; returns when its worker has ended. Its answers are dropped.
    void AbortQuery();
    bool QueryRunning() const { return query_running_ != 0; }

    // "/play/getid" on a fresh connection: sets the session id and the last status.
    void ObtainSessionId();
    // One keep-alive turn (the timer thread runs it; a dialog may drive it itself).
    void KeepAliveTick();
    // One-shot timer: the first tick after delay_ms, each next one next_keep_alive_ms after.
    void StartKeepAliveTimer(int delay_ms);
    // Returns once no tick runs and none will; safe to call when none runs.
    void KillKeepAliveTimer();
    bool KeepAliveRunning() const { return keep_alive_running_ != 0; }

    int SessionId() const { return session_id_; }
    // The last id the main dialog handed in; it belongs to the first recorder logged in to.
    void SetSessionId(int id) { session_id_ = id; }
    // No session: the source changed to a share, or to another recorder (the login does that).
    void ForgetSession();
    int LastStatus() const { return last_status_; }
    int HttpBusy() const { return http_busy_; }

    // Recording days of a month from the recorder; none when the marks stay as they are.
    std::optional<std::vector<int>> MarkRecordingDays(int year, int month);
    // Channel names from the recorder; true when the captions are to show ChannelNames().
    bool ReadChannelNames();
    // Records of a day from the recorder, one segment per channel of each record.
    DayListResult RecorderDayList(int year, int month, int day);

    // Days 1-31 of the month whose day index opens.
    static std::vector<int> MarkFolderRecordingDays(const std::string& folder, int year, int month);
    // Records of a day from a data folder; sets ChannelNames() from the recording files.
    std::vector<TimeLineSegment> FolderDayList(const std::string& folder, int year, int month, int day);
    // Caption of channel index c (0-3) from the minute file hour:minute; empty when unreadable.
    static std::string ChannelNameFromRecordingFile(const std::string& folder, int year, int month, int day,
                                                    int c, int hour, int minute);

    const std::array<std::string, 4>& ChannelNames() const { return channel_names_; }
    void ClearChannelNames() { channel_names_ = {}; }

    void CloseConnection();

private:
    struct ChannelNamesReply {
        bool answered = false;
        bool complete = false;
        std::array<std::string, 4> names;
    };
    std::optional<std::vector<int>> FetchRecordingDays(const ServerConnectionRecord& server, int year, int month);
    ChannelNamesReply FetchChannelNames(const ServerConnectionRecord& server);
    DayListResult FetchDayList(const ServerConnectionRecord& server, int year, int month, int day);
    void RunQuery(RecorderQuery query, ServerConnectionRecord server, uint64_t generation,
                  std::function<void(uint64_t)> done);
    // Waits ms or until a query abort; false when aborted.
    bool QueryWait(int ms);
    void AbortQueryLocked();

    // Connects an HttpGet to a recorder as the login does.
    int ConnectTo(HttpGet& http, const ServerConnectionRecord& server) const;
    int ConnectTo(HttpGet& http) const { return ConnectTo(http, server_); }
    // The timer's copy on the timer thread, server() elsewhere.
    ServerConnectionRecord KeepAliveServer() const;
    // Requests on the dialog's connection reconnect it after a day list closed it.
    bool EnsureConnected(const ServerConnectionRecord& server);
    // 1 when a reply came; text is the reply up to its first zero byte.
    int FetchText(HttpGet& http, const std::string& path, size_t capacity, std::string* text);
    void RunKeepAlive(int delay_ms);
    void KillKeepAliveLocked();
    // Waits ms or until the keep-alive is killed; false when killed.
    bool KeepAliveWait(int ms);
    // The tick's own connection, so a kill can abort it.
    void SetTickConnection(HttpGet* http);

    ServerConnectionRecord server_;
    RecordSelectionTiming timing_;
    RecentServerList* recent_ = nullptr;
    std::function<bool(const std::string&)> ping_;
    IcmpPingAbort ping_abort_;  // the default ping's, so AbortLogin cuts its wait short

    HttpGet connection_;
    bool logged_in_ = false;
    std::atomic<int> http_busy_{0};
    std::atomic<int> login_aborted_{0};
    std::atomic<int> session_id_{kNoSession};
    std::string session_owner_;  // "ip:port" of the recorder the session id came from
    std::atomic<int> last_status_{0};
    std::array<std::string, 4> channel_names_;
    LoginOutcome last_login_;

    std::mutex query_control_;  // start and abort
    std::mutex query_mutex_;
    // Stopped while an abort ends the query thread; its pauses end at once.
    platform::CancellableWait query_stop_;
    std::atomic<int> query_running_{0};
    uint64_t query_generation_ = 0;
    std::optional<RecorderQueryResult> query_result_;
    ChannelNamesReply query_names_;
    std::thread query_thread_;

    std::mutex keep_alive_control_;  // start and kill
    mutable std::mutex keep_alive_mutex_;
    // Stopped by a kill; the timer's waits end at once.
    platform::CancellableWait keep_alive_stop_;
    HttpGet* tick_connection_ = nullptr;
    std::thread::id keep_alive_id_;  // the timer thread while it runs
    ServerConnectionRecord keep_alive_server_;
    std::thread keep_alive_thread_;
    std::atomic<int> keep_alive_running_{0};
};
