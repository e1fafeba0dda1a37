#include "media/recorder_api.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "media/status_reply.h"

namespace recorder_api {

namespace {

std::string WithId(const char* path, int session_id) { return std::string(path) + std::to_string(session_id); }

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

}  // namespace

std::string LoginPath() { return "/config/login"; }

std::string DateTimePath() { return "/config/datetime"; }

std::string NewSessionPath() { return "/play/getid"; }

std::string SessionPath(int session_id) { return WithId("/play/getid?id=", session_id); }

std::string RecordingDaysPath(int year, int month) {
    return "/play/recdate?recyear=" + std::to_string(year) + "&recmonth=" + std::to_string(month);
}

std::string RecordListPath(int session_id, int start, int year, int month, int day) {
    return WithId("/play/reclist?id=", session_id) + "&start=" + std::to_string(start) +
           "&recyear=" + std::to_string(year) + "&recmonth=" + std::to_string(month) +
           "&recday=" + std::to_string(day);
}

std::string ChannelListPath() { return "/live/avdevlist"; }

std::string TimeText(int year, int month, int day, int hour, int minute, int second) {
    char text[80];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d,%d,%d", year, month, day, hour, minute, second);
    return text;
}

std::string PaddedTimeText(int year, int month, int day, int second) {
    char text[80];
    std::snprintf(text, sizeof text, "%d,%d,%d,%.2d,%.2d,%.2d", year, month, day, second / 3600, second / 60 % 60,
                  second % 60);
    return text;
}

std::string ChannelFlags(const std::array<int, 4>& flags) {
    std::string list;
    for (size_t c = 0; c < flags.size(); ++c) {
        if (c) list += ",";
        list += flags[c] == 1 ? "1" : "0";
    }
    return list;
}

std::string ChannelSelector(int channel) {
    std::string selector;
    for (int i = 0; i < 9; ++i) {
        if (i) selector += ",";
        selector += i == channel ? "1" : "0";
    }
    return selector;
}

std::string SearchPath(int session_id, const std::string& start, const std::string& end,
                       const std::string& channels) {
    return WithId("/play/searchdata?id=", session_id) + "&recstarttime=" + start + "&recendtime=" + end +
           "&avdevids=" + channels;
}

std::string StreamPath(int session_id, const std::string& channels, int profile) {
    return WithId("/play/mav/nvrprofilestream?id=", session_id) + "&avdevid=" + channels +
           "&profile=" + std::to_string(profile);
}

std::string ExportStreamPath(int session_id, int channel) {
    std::array<int, 4> flags{};
    if (channel >= 0 && channel < 4) flags[static_cast<size_t>(channel)] = 1;
    return StreamPath(session_id, ChannelFlags(flags), 0) + "&mode=1";
}

std::string BackupPath(int session_id, int channel, const std::string& start, const std::string& end) {
    return WithId("/play/backup?id=", session_id) + "&avdevid=" + std::to_string(channel) + "&starttime=" + start +
           "&endtime=" + end;
}

std::string PlayPath(int session_id) { return WithId("/play/opplay?id=", session_id); }

std::string PausePath(int session_id) { return WithId("/play/oppause?id=", session_id); }

std::string SpeedUpPath(int session_id) { return WithId("/play/speedup?id=", session_id); }

std::string SpeedDownPath(int session_id) { return WithId("/play/speeddown?id=", session_id); }

std::string TimeJumpPath(int session_id, int jump) {
    return WithId("/play/timejump?id=", session_id) + "&jumptime=" + std::to_string(jump) + "&mode=1";
}

std::string TimeSliderPath(int session_id, int jump) {
    return WithId("/play/timeslider?id=", session_id) + "&mode=1&jumptime=" + std::to_string(jump);
}

std::string StatusPath(int session_id) { return WithId("/play/opstatus?id=", session_id); }

bool IsLoginReply(const std::string& reply) { return StartsWith(reply, "login="); }

bool IsDateTimeReply(const std::string& reply) { return StartsWith(reply, "date"); }

bool IsSessionReply(const std::string& reply) { return StartsWith(reply, "id"); }

int Connect(HttpGet& http, const ServerConnectionRecord& server, int connect_timeout_ms) {
    return http.Connect(server.GetIp(), server.GetUser(), server.GetPassword(), connect_timeout_ms, 0,
                        LeadingDecimal(server.GetPort()));
}

bool AnswersDateTime(HttpGet& http, const ServerConnectionRecord& server, int connect_timeout_ms,
                     size_t reply_capacity, const std::atomic<int>& aborted) {
    // Connect clears an abort that came before it: the flag keeps it.
    if (Connect(http, server, connect_timeout_ms) != 1 || aborted) return false;
    std::vector<char> buffer(reply_capacity > 0 ? reply_capacity : 1, 0);
    http.Fetch(DateTimePath(), buffer.data(), buffer.size());
    http.Close();
    // Cut short by the owner: no answer in time.
    return IsDateTimeReply(std::string(buffer.data(), strnlen(buffer.data(), buffer.size()))) && !aborted;
}

}  // namespace recorder_api

void RecorderRequestWorker::Start(const ServerConnectionRecord& server, std::string path,
                                  std::function<void(bool)> done, std::chrono::milliseconds rest) {
    Abort();
    abort_.Reset();
    ended_ = false;
    http_.SetReceiveTimeout(receive_timeout_ms_);
    thread_ = std::thread([this, server, path = std::move(path), done = std::move(done), rest] {
        bool connected = false;
        abort_.WaitFor(std::chrono::duration_cast<std::chrono::milliseconds>(rest));
        {
            // Connect clears an abort that came before it: under the lock an abort comes before
            // the check or after the Connect, never between.
            std::lock_guard<std::mutex> lock(abort_lock_);
            connected = !abort_.StopRequested() && recorder_api::Connect(http_, server, kConnectTimeoutMs) == 1;
        }
        const bool sent = connected && http_.SendRequest(path) == 1 && !abort_.StopRequested();
        http_.Close();
        ended_ = true;
        if (done) done(sent);
    });
}

void RecorderRequestWorker::Abort() {
    if (!thread_.joinable()) return;
    // The stop comes before the lock: a worker past its check has its request aborted once its
    // Connect is done.
    platform::StopThread(abort_, thread_, [this] {
        std::lock_guard<std::mutex> lock(abort_lock_);
        http_.Abort();
    });
    http_.ClearAbort();
}

void RecorderRequestWorker::Join() {
    // A later Start's worker may run by now: only an ended one is joined.
    if (thread_.joinable() && ended_) thread_.join();
}
