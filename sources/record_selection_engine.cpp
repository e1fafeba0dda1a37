#include "sources/record_selection_engine.h"

#include <chrono>
#include <cstring>

#include "media/icmp_ping.h"
#include "media/recorder_api.h"
#include "media/translate_text.h"
#include "sources/recent_server_list.h"
#include "sources/recorder_replies.h"

namespace {

constexpr int kStatusOk = 200;
constexpr int kStatusNoSession = 400;
constexpr int kStatusBusy = 503;

}  // namespace

RecordSelectionEngine::RecordSelectionEngine()
    : ping_([this](const std::string& host) {
          IcmpPingResult reply;
          return IcmpPing(host, &reply, &ping_abort_) == 1;
      }) {}

RecordSelectionEngine::~RecordSelectionEngine() {
    AbortQuery();
    KillKeepAliveTimer();
    connection_.Close();
}

void RecordSelectionEngine::CloseConnection() {
    // A query works on this connection.
    AbortQuery();
    connection_.Close();
    logged_in_ = false;
}

int RecordSelectionEngine::ConnectTo(HttpGet& http, const ServerConnectionRecord& server) const {
    http.SetReceiveTimeout(timing_.receive_timeout_ms);
    return recorder_api::Connect(http, server, timing_.connect_timeout_ms);
}

ServerConnectionRecord RecordSelectionEngine::KeepAliveServer() const {
    std::lock_guard<std::mutex> lock(keep_alive_mutex_);
    return keep_alive_id_ == std::this_thread::get_id() ? keep_alive_server_ : server_;
}

bool RecordSelectionEngine::EnsureConnected(const ServerConnectionRecord& server) {
    if (connection_.IsConnected()) return !query_stop_.StopRequested();
    // Connect clears an abort that came before it: the flag keeps it.
    return logged_in_ && !query_stop_.StopRequested() && ConnectTo(connection_, server) == 1 && !query_stop_.StopRequested();
}

int RecordSelectionEngine::FetchText(HttpGet& http, const std::string& path, size_t capacity, std::string* text) {
    std::vector<char> buffer(capacity, 0);
    const int sent = http.Fetch(path, buffer.data(), buffer.size());
    // Fetch leaves at least the last byte zero.
    text->assign(buffer.data(), strnlen(buffer.data(), buffer.size()));
    return sent;
}

LoginOutcome RecordSelectionEngine::LoginWorker(int year, int month) {
    // An abort stays until the next login: the busy window may abort once the work has ended.
    login_aborted_ = 0;
    ping_abort_.Reset();
    CloseConnection();
    // A session belongs to the recorder that gave it: another recorder needs its own.
    const std::string recorder = server_.GetIp() + ":" + std::to_string(LeadingDecimal(server_.GetPort()));
    if (!session_owner_.empty() && session_owner_ != recorder) ForgetSession();
    session_owner_ = recorder;
    const std::string prefix = server_.GetServerName() + "(" + server_.GetIp() + ") ";
    LoginOutcome outcome;
    outcome.message = prefix + TranslateText("MSG_FAILED_CONNECT", "Connection failed!");
    if (!ping_(server_.GetIp())) return last_login_ = outcome;

    // A refused or silent recorder shows only at the first request, as the connect is lazy.
    std::string reply;
    http_busy_ = 1;
    // Connect clears an abort that came before it (during the ping): the flag keeps it.
    const bool reached = !login_aborted_ && ConnectTo(connection_) == 1 && !login_aborted_ &&
                         FetchText(connection_, recorder_api::LoginPath(), kLoginBufferSize, &reply) == 1 &&
                         !login_aborted_;  // cut short by the busy window's limit: no answer in time
    http_busy_ = 0;
    if (!reached) {
        CloseConnection();
        return last_login_ = outcome;
    }
    if (!recorder_api::IsLoginReply(reply)) {
        CloseConnection();
        outcome.message = prefix + "Login failed!";
        return last_login_ = outcome;
    }
    logged_in_ = true;
    StartKeepAliveTimer(timing_.first_keep_alive_ms);
    outcome.days = MarkRecordingDays(year, month);
    outcome.set_captions = ReadChannelNames();
    if (recent_) outcome.history_refused = !recent_->Add(server_, RecentServerList::kRecorderMode);
    outcome.message = prefix + "Login success!";
    outcome.result = 1;
    return last_login_ = outcome;
}

void RecordSelectionEngine::AbortLogin() {
    login_aborted_ = 1;
    ping_abort_.Abort();
    connection_.Abort();
}

void RecordSelectionEngine::ForgetSession() {
    session_id_ = kNoSession;
    last_status_ = 0;
    session_owner_.clear();
}

void RecordSelectionEngine::PrepareInteractiveLogin() {
    KillKeepAliveTimer();
    CloseConnection();
}

void RecordSelectionEngine::ObtainSessionId() {
    HttpGet http;
    std::string reply;
    if (ConnectTo(http, KeepAliveServer()) == 1) {
        SetTickConnection(&http);
        FetchText(http, recorder_api::NewSessionPath(), kReplyBufferSize, &reply);
    }
    const int status = http.QueryStatusCode();
    last_status_ = status;
    SetTickConnection(nullptr);
    http.Close();
    if (status == kStatusNoSession) {
        session_id_ = kNoSession;
        return;
    }
    int id = 0;
    // Only the recorder's answer names a session: an error page may hold a "=" too.
    if (status == kStatusOk && ParseSessionIdReply(reply, &id)) session_id_ = id;
    KeepAliveWait(timing_.session_id_pause_ms);
}

void RecordSelectionEngine::KeepAliveTick() {
    if (http_busy_ == 1) return;
    if (session_id_ < 0) {
        ObtainSessionId();
        return;
    }
    HttpGet http;
    if (ConnectTo(http, KeepAliveServer()) == 1) {
        SetTickConnection(&http);
        std::string ignored;
        FetchText(http, recorder_api::SessionPath(session_id_), kKeepAliveBufferSize, &ignored);
        SetTickConnection(nullptr);
    }
    http.Close();
}

void RecordSelectionEngine::SetTickConnection(HttpGet* http) {
    std::lock_guard<std::mutex> lock(keep_alive_mutex_);
    tick_connection_ = http;
    // A kill that came before this tick registered still ends its request.
    if (http && keep_alive_stop_.StopRequested() && keep_alive_id_ == std::this_thread::get_id()) http->Abort();
}

bool RecordSelectionEngine::KeepAliveWait(int ms) {
    bool on_timer = false;
    {
        std::lock_guard<std::mutex> lock(keep_alive_mutex_);
        on_timer = keep_alive_id_ == std::this_thread::get_id();
    }
    if (!on_timer) {
        // Driven by the dialog itself: a plain pause.
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return true;
    }
    return keep_alive_stop_.WaitFor(ms);
}

void RecordSelectionEngine::RunKeepAlive(int delay_ms) {
    {
        std::lock_guard<std::mutex> lock(keep_alive_mutex_);
        keep_alive_id_ = std::this_thread::get_id();
    }
    // The next wait starts when the tick has ended, and a kill during the tick starts none.
    for (int delay = delay_ms; KeepAliveWait(delay); delay = timing_.next_keep_alive_ms) KeepAliveTick();
    keep_alive_running_ = 0;
}

void RecordSelectionEngine::StartKeepAliveTimer(int delay_ms) {
    std::lock_guard<std::mutex> control(keep_alive_control_);
    KillKeepAliveLocked();
    {
        std::lock_guard<std::mutex> lock(keep_alive_mutex_);
        keep_alive_stop_.Reset();
        keep_alive_server_ = server_;
    }
    keep_alive_running_ = 1;
    keep_alive_thread_ = std::thread([this, delay_ms] { RunKeepAlive(delay_ms); });
}

void RecordSelectionEngine::KillKeepAliveTimer() {
    std::lock_guard<std::mutex> control(keep_alive_control_);
    KillKeepAliveLocked();
}

void RecordSelectionEngine::KillKeepAliveLocked() {
    // A tick that registers its connection after this abort sees the stop and aborts it itself.
    platform::StopThread(keep_alive_stop_, keep_alive_thread_, [this] {
        std::lock_guard<std::mutex> lock(keep_alive_mutex_);
        if (tick_connection_) tick_connection_->Abort();
    });
    std::lock_guard<std::mutex> lock(keep_alive_mutex_);
    keep_alive_id_ = std::thread::id();
    keep_alive_running_ = 0;
}

std::optional<std::vector<int>> RecordSelectionEngine::MarkRecordingDays(int year, int month) {
    return FetchRecordingDays(server_, year, month);
}

bool RecordSelectionEngine::ReadChannelNames() {
    const ChannelNamesReply reply = FetchChannelNames(server_);
    if (reply.answered) channel_names_ = reply.names;
    return reply.complete;
}

DayListResult RecordSelectionEngine::RecorderDayList(int year, int month, int day) {
    return FetchDayList(server_, year, month, day);
}

std::optional<std::vector<int>> RecordSelectionEngine::FetchRecordingDays(const ServerConnectionRecord& server,
                                                                          int year, int month) {
    const std::string path = recorder_api::RecordingDaysPath(year, month);
    std::string reply;
    http_busy_ = 1;
    const bool answered = EnsureConnected(server) && FetchText(connection_, path, kReplyBufferSize, &reply) == 1;
    const int status = connection_.QueryStatusCode();
    http_busy_ = 0;
    // No answer is not an empty month.
    if (!answered || status == 0 || status == kStatusBusy) return std::nullopt;
    return ParseRecordingDays(reply);
}

RecordSelectionEngine::ChannelNamesReply RecordSelectionEngine::FetchChannelNames(
    const ServerConnectionRecord& server) {
    ChannelNamesReply out;
    std::string reply;
    http_busy_ = 1;
    const bool answered =
        EnsureConnected(server) && FetchText(connection_, recorder_api::ChannelListPath(), kChannelListBufferSize, &reply) == 1;
    const int status = connection_.QueryStatusCode();
    http_busy_ = 0;
    if (!answered || status == 0 || status == kStatusBusy) return out;
    const ChannelNameList list = ParseChannelNames(reply);
    out.answered = true;
    out.names = list.names;
    out.complete = list.complete;
    return out;
}

DayListResult RecordSelectionEngine::FetchDayList(const ServerConnectionRecord& server, int year, int month,
                                                  int day) {
    DayListResult result;
    const int id = session_id_;
    if (id < 0) {
        if (last_status_ == kStatusNoSession) result.warning = "Playback is current used by another user.";
        result.deselect_day = true;
        return result;
    }
    connection_.Close();
    if (!QueryWait(timing_.reconnect_pause_ms)) return result;
    ConnectTo(connection_, server);
    int start = 0;
    for (int page = 0; page < kMaxRecordPages && !query_stop_.StopRequested(); ++page) {
        std::string reply;
        FetchText(connection_, recorder_api::RecordListPath(id, start, year, month, day), kRecordListBufferSize,
                  &reply);
        RecordListPage parsed = ParseRecordListPage(reply);
        if (!parsed.valid) {
            result.deselect_day = true;
            break;
        }
        if (parsed.total == 0) break;
        result.segments.insert(result.segments.end(), parsed.segments.begin(), parsed.segments.end());
        start += kRecordsPerPage;
        // A page without records ends the list even when the total claims more.
        if (parsed.total < start || parsed.record_lines == 0) break;
    }
    connection_.Close();
    return result;
}

bool RecordSelectionEngine::QueryWait(int ms) { return query_stop_.WaitFor(ms); }

uint64_t RecordSelectionEngine::StartQuery(const RecorderQuery& query, std::function<void(uint64_t)> done) {
    std::lock_guard<std::mutex> control(query_control_);
    AbortQueryLocked();
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(query_mutex_);
        generation = ++query_generation_;
    }
    query_running_ = 1;
    query_thread_ = std::thread(
        [this, query, server = server_, generation, done = std::move(done)]() mutable {
            RunQuery(query, std::move(server), generation, std::move(done));
        });
    return generation;
}

void RecordSelectionEngine::RunQuery(RecorderQuery query, ServerConnectionRecord server, uint64_t generation,
                                     std::function<void(uint64_t)> done) {
    RecorderQueryResult result;
    result.query = query;
    ChannelNamesReply names;
    if (query.marks) result.days = FetchRecordingDays(server, query.year, query.month);
    if (query.names && !query_stop_.StopRequested()) names = FetchChannelNames(server);
    if (query.day > 0 && !query_stop_.StopRequested()) result.list = FetchDayList(server, query.year, query.month, query.day);
    result.set_captions = names.complete;
    bool current = false;
    {
        std::lock_guard<std::mutex> lock(query_mutex_);
        current = generation == query_generation_ && !query_stop_.StopRequested();
        if (current) {
            query_result_ = std::move(result);
            query_names_ = names;
        }
    }
    query_running_ = 0;
    if (current && done) done(generation);
}

std::optional<RecorderQueryResult> RecordSelectionEngine::TakeQueryResult(uint64_t generation) {
    std::optional<RecorderQueryResult> taken;
    {
        std::lock_guard<std::mutex> lock(query_mutex_);
        if (generation != query_generation_ || !query_result_) return std::nullopt;
        taken.swap(query_result_);
        if (query_names_.answered) channel_names_ = query_names_.names;
    }
    return taken;
}

void RecordSelectionEngine::AbortQuery() {
    std::lock_guard<std::mutex> control(query_control_);
    AbortQueryLocked();
}

void RecordSelectionEngine::AbortQueryLocked() {
    {
        std::lock_guard<std::mutex> lock(query_mutex_);
        ++query_generation_;
        query_result_.reset();
    }
    if (!query_thread_.joinable()) return;
    platform::StopThread(query_stop_, query_thread_, [this] { connection_.Abort(); });
    query_stop_.Reset();
    // The aborted request has ended: the connection serves the next one.
    connection_.ClearAbort();
}
