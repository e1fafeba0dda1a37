#pragma once
// Every request the program sends to a recorder, built in one place, byte for
// byte as the recorder expects it, and the checks of its short replies (the
// status reply's reader is status_reply.h, the record selection's readers are
// sources/recorder_replies.h). Also the one-shot worker that sends a request
// off the window thread.
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "media/http_get.h"
#include "media/server_connection_record.h"
#include "platform/cancellable_wait.h"

namespace recorder_api {

// Login and the connection test.
std::string LoginPath();
std::string DateTimePath();
// A new playback session ("/play/getid"), and the check or keep-alive of one.
std::string NewSessionPath();
std::string SessionPath(int session_id);
// The record selection: a month's recording days, a page of a day's records, the channel names.
std::string RecordingDaysPath(int year, int month);
std::string RecordListPath(int session_id, int start, int year, int month, int day);
std::string ChannelListPath();

// "y,m,d,h,mi,s" as the playback and the preview send it.
std::string TimeText(int year, int month, int day, int hour, int minute, int second);
// "y,m,d,hh,mm,ss" of a second of the day, as the export sends it.
std::string PaddedTimeText(int year, int month, int day, int second);
// "a,b,c,d": 1 for each of the four channels whose flag is 1, else 0.
std::string ChannelFlags(const std::array<int, 4>& flags);
// "1,0,0,0,0,0,0,0,0" with the 1 at channel (0-8), as the preview names its channel.
std::string ChannelSelector(int channel);

// The range to play; start and end are time texts, channels a flag list.
std::string SearchPath(int session_id, const std::string& start, const std::string& end,
                       const std::string& channels);
// The stream of the searched range; profile 0 main stream, 1 sub stream.
std::string StreamPath(int session_id, const std::string& channels, int profile);
// One channel's stream for an export.
std::string ExportStreamPath(int session_id, int channel);
// One channel's range for an export.
std::string BackupPath(int session_id, int channel, const std::string& start, const std::string& end);

// Transport and the status poll.
std::string PlayPath(int session_id);
std::string PausePath(int session_id);
std::string SpeedUpPath(int session_id);
std::string SpeedDownPath(int session_id);
std::string TimeJumpPath(int session_id, int jump);
std::string TimeSliderPath(int session_id, int jump);
std::string StatusPath(int session_id);

// The login's reply begins "login=".
bool IsLoginReply(const std::string& reply);
// The connection test's reply begins "date".
bool IsDateTimeReply(const std::string& reply);
// A live session's reply begins "id".
bool IsSessionReply(const std::string& reply);

// Connects as every request to the recorder does: the record's address, user,
// password and port (its leading number).
int Connect(HttpGet& http, const ServerConnectionRecord& server, int connect_timeout_ms);

// The connection test's request on http (its receive timeout as set), closed afterwards: true
// when the recorder answered with its time. aborted set (an abort of http with it) ends it false.
bool AnswersDateTime(HttpGet& http, const ServerConnectionRecord& server, int connect_timeout_ms,
                     size_t reply_capacity, const std::atomic<int>& aborted);

}  // namespace recorder_api

// Sends one request on a fresh connection of its own, on a worker, its reply
// headers awaited but the body not read, so the window thread never waits on
// the recorder. The owner starts it, is told by done (on the worker, last
// thing it does) and joins it afterwards, or aborts it at any time.
class RecorderRequestWorker {
public:
    static constexpr int kConnectTimeoutMs = 3000;

    RecorderRequestWorker() = default;
    ~RecorderRequestWorker() { Abort(); }
    RecorderRequestWorker(const RecorderRequestWorker&) = delete;
    RecorderRequestWorker& operator=(const RecorderRequestWorker&) = delete;

    // Aborts one still running first. done gets whether the recorder took the request. rest: how
    // long the recorder is left alone first (a stream it just ended needs it); an abort ends it.
    void Start(const ServerConnectionRecord& server, std::string path, std::function<void(bool)> done,
               std::chrono::milliseconds rest = std::chrono::milliseconds(0));
    // Cuts the request short (done still runs) and returns once the worker has ended.
    void Abort();
    // Joins a worker whose done has been called; returns at once otherwise (none runs, or the
    // one running is a later Start's), so a late answer never makes its owner wait.
    void Join();
    bool Running() const { return thread_.joinable(); }
    // Tests shorten the reply's wait.
    void SetReceiveTimeout(int ms) { receive_timeout_ms_ = ms; }

private:
    HttpGet http_;
    std::mutex abort_lock_;
    // Stopped by Abort: ends the worker's rest at once.
    platform::CancellableWait abort_;
    std::atomic<bool> ended_{false};  // the worker is done with the request
    int receive_timeout_ms_ = HttpGet::kReceiveTimeoutMs;
    std::thread thread_;
};
