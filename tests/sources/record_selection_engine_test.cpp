#include "sources/record_selection_engine.h"

// The system's cpp-httplib library is built with these; its classes' layout depends on them.
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#ifndef CPPHTTPLIB_ZLIB_SUPPORT
#define CPPHTTPLIB_ZLIB_SUPPORT
#endif
#ifndef CPPHTTPLIB_BROTLI_SUPPORT
#define CPPHTTPLIB_BROTLI_SUPPORT
#endif
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/disk_format.h"
#include "media/icmp_ping.h"
#include "sources/recent_server_list.h"
#include "tests/support/temp_folder.h"
#include "tools/common/avdata_writer.h"
#include "tools/common/fake_recorder.h"

static bool operator==(const TimeLineSegment& a, const TimeLineSegment& b) {
    return a.channel == b.channel && a.start == b.start && a.end == b.end && a.type == b.type;
}

static std::ostream& operator<<(std::ostream& os, const TimeLineSegment& s) {
    return os << "{" << s.channel << ", " << s.start << ", " << s.end << ", " << s.type << "}";
}

namespace {

using Clock = std::chrono::steady_clock;
using Segments = std::vector<TimeLineSegment>;
using Names = std::array<std::string, 4>;

constexpr int kHour = 3600;

int64_t MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
    const auto start = Clock::now();
    while (!done()) {
        if (MsSince(start) > timeout_ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

RecordSelectionTiming FastTiming() {
    RecordSelectionTiming t;
    t.first_keep_alive_ms = 30;
    t.next_keep_alive_ms = 30;
    t.reconnect_pause_ms = 1;
    return t;
}

// A port on loopback where nothing listens.
int ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    close(fd);
    return ntohs(a.sin_port);
}

// The engine pings before any HTTP; where ICMP is not permitted the loopback counts as answering.
void UseLoopbackPing(RecordSelectionEngine* engine) {
    IcmpPingResult reply;
    if (IcmpPing("127.0.0.1", &reply) != 1) engine->SetPing([](const std::string&) { return true; });
}

// 5 March 2012: records on channels 1+2, 1+3, none (capital mask), and 4 (type 4, unreadable
// minute file); 9 March one record; 20 March 750 records, for two record list pages.
void WriteFixture(const std::string& data) {
    std::string error;
    sample::SampleDay day5{2012, 3, 5, {}, {}, {}};
    day5.entries = {{10 * kHour, 10 * kHour + 59, '3', '1'},
                    {11 * kHour, 11 * kHour + 30, '5', '2'},
                    {12 * kHour, 12 * kHour + 10, 'A', '1'},
                    {13 * kHour, 13 * kHour + 5, '8', '4'}};
    ASSERT_TRUE(sample::WriteDayIndex(data, day5, &error)) << error;
    ASSERT_TRUE(sample::WriteDayIndex(data, {2012, 3, 9, {{8 * kHour, 8 * kHour + 9, '1', '3'}}, {}, {}}, &error));
    sample::SampleDay day20{2012, 3, 20, {}, {}, {}};
    for (int i = 0; i < 750; ++i) day20.entries.push_back({i * 10, i * 10 + 9, '1', '1'});
    ASSERT_TRUE(sample::WriteDayIndex(data, day20, &error)) << error;

    // Minute 10:00 names channels 1 and 2 at its fourth second; channel 3 is not in it.
    sample::SampleMinute m10;
    m10.titles = {u"Front", u"Back door camera", u"Wrong", u"Wrong"};
    m10.seconds[3].channels[0] = sample::SampleChannelSecond{};
    m10.seconds[3].channels[1] = sample::SampleChannelSecond{};
    ASSERT_TRUE(sample::WriteMinuteFile(data, 2012, 3, 5, 10, 0, m10, &error)) << error;
    sample::SampleMinute m11;
    m11.titles = {u"Wrong", u"Wrong", u"Yard", u""};
    m11.seconds[0].channels[0] = sample::SampleChannelSecond{};
    m11.seconds[0].channels[2] = sample::SampleChannelSecond{};
    ASSERT_TRUE(sample::WriteMinuteFile(data, 2012, 3, 5, 11, 0, m11, &error)) << error;
    sample::SampleMinute m13;
    m13.titles = {u"", u"", u"", u"Gate"};
    m13.seconds[0].channels[3] = sample::SampleChannelSecond{};
    m13.truncate_at = 100;  // shorter than its index
    ASSERT_TRUE(sample::WriteMinuteFile(data, 2012, 3, 5, 13, 0, m13, &error)) << error;
}

class RecorderEngineTest : public ::testing::Test {
protected:
    void SetUp() override { WriteFixture(tmp_.Sub("avdata")); }

    void StartRecorder(fake::Fault fault = {}) {
        fake::FakeRecorderOptions options;
        options.data_folder = tmp_.path();
        options.password = "secret";
        options.fault = fault;
        std::string error;
        ASSERT_TRUE(recorder_.Start(options, &error)) << error;
    }

    void Aim(const std::string& password = "secret", int port = -1) {
        engine_.SetTiming(FastTiming());
        UseLoopbackPing(&engine_);
        ServerConnectionRecord& s = engine_.server();
        s.SetServerName("Shop");
        s.SetIp("127.0.0.1");
        s.SetUser("admin");
        s.SetPassword(password);
        s.SetPort(std::to_string(port < 0 ? recorder_.port() : port));
    }

    TempFolder tmp_;
    fake::FakeRecorder recorder_;
    RecordSelectionEngine engine_;
};

TEST_F(RecorderEngineTest, LoginMarksDaysReadsNamesAndKeepsTheSessionAlive) {
    StartRecorder();
    Aim();
    const std::string history = tmp_.Sub("history.ini");
    std::ofstream(history) << "[playbackhistory]\n";
    RecentServerList recent(history);
    recent.Read();
    engine_.SetRecentServers(&recent);

    const LoginOutcome out = engine_.LoginWorker(2012, 3);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.message, "Shop(127.0.0.1) Login success!");
    EXPECT_STREQ(RecordSelectionEngine::ResultCaption(out.result), "Message");
    ASSERT_TRUE(out.days.has_value());
    EXPECT_EQ(*out.days, (std::vector<int>{5, 9, 20}));
    EXPECT_TRUE(out.set_captions);
    EXPECT_EQ(engine_.ChannelNames(), (Names{"CH01 Front", "CH02 Back door c...", "CH03 Yard", "CH04 Camera 4"}));
    EXPECT_TRUE(engine_.KeepAliveRunning());

    RecentServerList reread(history);
    reread.Read();
    EXPECT_EQ(reread.Entry(0), RecentServerList::FormatEntry(engine_.server(), RecentServerList::kRecorderMode));

    // The first tick obtains the session; the recorder's reply format gives its number.
    ASSERT_TRUE(WaitUntil([&] { return engine_.SessionId() >= 0; }, 3000));
    EXPECT_EQ(engine_.SessionId(), 1);
    EXPECT_EQ(engine_.LastStatus(), 200);

    // Other months and the session's day list go over the same connection.
    EXPECT_EQ(engine_.MarkRecordingDays(2012, 4), std::vector<int>{});
    const DayListResult list = engine_.RecorderDayList(2012, 3, 5);
    EXPECT_FALSE(list.deselect_day);
    EXPECT_EQ(list.warning, "");
    // The capital mask digit carries no channel; type 4 stays 4 from the recorder.
    const Segments want = {{1, 36000, 36059, 1}, {2, 36000, 36059, 1}, {1, 39600, 39630, 2},
                           {3, 39600, 39630, 2}, {4, 46800, 46805, 4}};
    EXPECT_EQ(list.segments, want);
    // Two pages: 500 and 250 records.
    EXPECT_EQ(engine_.RecorderDayList(2012, 3, 20).segments.size(), 750u);
    // The day list closed the dialog's connection; later requests still reach the recorder.
    ASSERT_TRUE(engine_.MarkRecordingDays(2012, 3).has_value());
    EXPECT_EQ(engine_.MarkRecordingDays(2012, 3)->size(), 3u);
    EXPECT_TRUE(engine_.ReadChannelNames());

    engine_.KillKeepAliveTimer();
    EXPECT_FALSE(engine_.KeepAliveRunning());
}

// Each recorder has sessions of its own: after a switch the keep-alive asks the new
// recorder for a session instead of renewing the old one there.
TEST_F(RecorderEngineTest, SwitchingRecordersUsesANewSession) {
    StartRecorder();
    Aim();
    HttpGet other_client;
    fake::FakeRecorder other;
    fake::FakeRecorderOptions options;
    options.data_folder = tmp_.path();
    options.password = "secret";
    std::string error;
    ASSERT_TRUE(other.Start(options, &error)) << error;
    // The other recorder has handed out sessions already, so its ids differ from the first's.
    ASSERT_EQ(other_client.Connect("127.0.0.1", "admin", "secret", 3000, 0, other.port()), 1);
    for (int i = 0; i < 4; ++i) {
        char reply[64] = {};
        other_client.Fetch("/play/getid", reply, sizeof reply);
    }

    ASSERT_EQ(engine_.LoginWorker(2012, 3).result, 1);
    ASSERT_TRUE(WaitUntil([&] { return engine_.SessionId() >= 0; }, 3000));
    const int first = engine_.SessionId();

    engine_.PrepareInteractiveLogin();
    engine_.server().SetIp("127.0.0.1");
    engine_.server().SetPort(std::to_string(other.port()));
    ASSERT_EQ(engine_.LoginWorker(2012, 3).result, 1);
    EXPECT_EQ(engine_.SessionId(), -1);  // nothing of the first recorder's session is used
    ASSERT_TRUE(WaitUntil([&] { return engine_.SessionId() >= 0; }, 3000));
    EXPECT_EQ(engine_.SessionId(), 5);
    EXPECT_NE(engine_.SessionId(), first);
    // The keep-alive renews the new id there, and never the old one.
    ASSERT_TRUE(WaitUntil([&] { return other.requests("/play/getid?id=5") >= 1; }, 3000));
    engine_.KillKeepAliveTimer();
    EXPECT_EQ(other.requests("/play/getid?id=" + std::to_string(first)), 0);
}

TEST_F(RecorderEngineTest, LoginFailures) {
    StartRecorder();
    {
        Aim("wrong");  // 401
        const LoginOutcome out = engine_.LoginWorker(2012, 3);
        EXPECT_EQ(out.result, 0);
        EXPECT_EQ(out.message, "Shop(127.0.0.1) Login failed!");
        EXPECT_STREQ(RecordSelectionEngine::ResultCaption(out.result), "Error");
        EXPECT_FALSE(out.days.has_value());
        EXPECT_FALSE(engine_.KeepAliveRunning());
        // Without a login nothing is asked of the recorder, and nothing is taken as an empty month.
        EXPECT_FALSE(engine_.MarkRecordingDays(2012, 3).has_value());
        EXPECT_FALSE(engine_.ReadChannelNames());
    }
    {
        Aim("secret", ClosedPort());
        const LoginOutcome out = engine_.LoginWorker(2012, 3);
        EXPECT_EQ(out.result, 0);
        EXPECT_EQ(out.message, "Shop(127.0.0.1) Connection failed!");
        EXPECT_FALSE(engine_.KeepAliveRunning());
    }
    {
        Aim();
        int pings = 0;
        engine_.SetPing([&](const std::string& host) {
            ++pings;
            EXPECT_EQ(host, "127.0.0.1");
            return false;
        });
        const LoginOutcome out = engine_.LoginWorker(2012, 3);
        EXPECT_EQ(pings, 1);
        EXPECT_EQ(out.result, 0);
        EXPECT_EQ(out.message, "Shop(127.0.0.1) Connection failed!");
        EXPECT_EQ(engine_.LastLogin().message, out.message);
    }
}

// The busy window's limit reached while the login pings: the login ends there, asking the
// recorder nothing (the connect would clear the connection's abort), and the next login is
// not held by that abort.
TEST_F(RecorderEngineTest, AnAbortDuringThePingEndsTheLoginThere) {
    StartRecorder();
    Aim();
    engine_.SetPing([this](const std::string&) {
        engine_.AbortLogin();
        return true;
    });
    const LoginOutcome cut = engine_.LoginWorker(2012, 3);
    EXPECT_EQ(cut.result, 0);
    EXPECT_EQ(cut.message, "Shop(127.0.0.1) Connection failed!");
    EXPECT_EQ(recorder_.requests("/config/login"), 0);
    EXPECT_FALSE(engine_.KeepAliveRunning());

    engine_.SetPing([](const std::string&) { return true; });
    const LoginOutcome next = engine_.LoginWorker(2012, 3);
    EXPECT_EQ(next.result, 1);
    EXPECT_EQ(next.message, "Shop(127.0.0.1) Login success!");
    engine_.KillKeepAliveTimer();
}

TEST_F(RecorderEngineTest, SessionHeldByAnotherUser) {
    StartRecorder({fake::FaultKind::kGetIdBusy, 0});
    Aim();
    ASSERT_EQ(engine_.LoginWorker(2012, 3).result, 1);
    engine_.KillKeepAliveTimer();
    engine_.ObtainSessionId();
    EXPECT_EQ(engine_.LastStatus(), 400);
    EXPECT_EQ(engine_.SessionId(), -1);
    const DayListResult list = engine_.RecorderDayList(2012, 3, 5);
    EXPECT_TRUE(list.deselect_day);
    EXPECT_EQ(list.warning, "Playback is current used by another user.");
    EXPECT_TRUE(list.segments.empty());

    // No session for another reason: no message, the day is still deselected.
    RecordSelectionEngine fresh;
    const DayListResult quiet = fresh.RecorderDayList(2012, 3, 5);
    EXPECT_TRUE(quiet.deselect_day);
    EXPECT_EQ(quiet.warning, "");
}

TEST_F(RecorderEngineTest, BusyRecorderLeavesMarksAndNames) {
    StartRecorder({fake::FaultKind::kUnavailable, 0});
    Aim();
    const LoginOutcome out = engine_.LoginWorker(2012, 3);
    EXPECT_EQ(out.result, 1);
    EXPECT_FALSE(out.days.has_value());
    EXPECT_FALSE(out.set_captions);
    EXPECT_FALSE(engine_.ReadChannelNames());
    EXPECT_EQ(engine_.ChannelNames(), Names{});
}

TEST_F(RecorderEngineTest, FolderMarksDayListAndCaptions) {
    const std::string data = tmp_.Sub("avdata");
    EXPECT_EQ(RecordSelectionEngine::MarkFolderRecordingDays(data, 2012, 3), (std::vector<int>{5, 9, 20}));
    EXPECT_EQ(RecordSelectionEngine::MarkFolderRecordingDays(data, 2012, 4), std::vector<int>{});
    EXPECT_EQ(RecordSelectionEngine::MarkFolderRecordingDays(tmp_.Sub("missing"), 2012, 3), std::vector<int>{});

    // A local type 4 is drawn as type 1; channel 4's minute file cannot be read, so its caption stays empty.
    const Segments want = {{1, 36000, 36059, 1}, {2, 36000, 36059, 1}, {1, 39600, 39630, 2},
                           {3, 39600, 39630, 2}, {4, 46800, 46805, 1}};
    EXPECT_EQ(engine_.FolderDayList(data, 2012, 3, 5), want);
    EXPECT_EQ(engine_.ChannelNames(), (Names{"CH01 Front", "CH02 Back door c...", "CH03 Yard", ""}));

    // A day without records empties the names.
    EXPECT_TRUE(engine_.FolderDayList(data, 2012, 3, 6).empty());
    EXPECT_EQ(engine_.ChannelNames(), Names{});

    struct Case {
        int c, hour, minute;
        std::string name;
    } cases[] = {
        {0, 10, 0, "CH01 Front"}, {1, 10, 0, "CH02 Back door c..."},
        {2, 10, 0, ""},            // channel not in the minute
        {2, 11, 0, "CH03 Yard"},  {3, 11, 0, ""},  // not present
        {3, 13, 0, ""},            // truncated file
        {0, 14, 0, ""},            // no file
        {7, 10, 0, ""},            // no such channel
    };
    for (const Case& c : cases)
        EXPECT_EQ(RecordSelectionEngine::ChannelNameFromRecordingFile(data, 2012, 3, 5, c.c, c.hour, c.minute), c.name)
            << c.c << " " << c.hour;
}

TEST_F(RecorderEngineTest, FolderDayListSurvivesDamagedIndexes) {
    const std::string data = tmp_.Sub("avdata");
    std::string error;
    // Count beyond the file, count beyond the capacity, negative count, garbage digits.
    ASSERT_TRUE(sample::WriteDayIndex(data, {2013, 1, 1, {{0, 9, '1', '1'}}, 5, {}}, &error));
    ASSERT_TRUE(sample::WriteDayIndex(data, {2013, 1, 2, {{0, 9, '1', '1'}}, 2000000000, {}}, &error));
    ASSERT_TRUE(sample::WriteDayIndex(data, {2013, 1, 3, {{0, 9, '1', '1'}}, -1, {}}, &error));
    sample::SampleDay odd{2013, 1, 4, {{0, 9, 'f', '9'}}, {}, {}};
    std::vector<uint8_t> bytes = sample::BuildDayIndex(odd);
    for (int i = 0; i < 12; ++i) bytes[56 + static_cast<size_t>(i)] = 0xFF;
    ASSERT_TRUE(sample::WriteFileBytes(DayIndexPath(data, 2013, 1, 4), bytes, &error));
    for (int day = 1; day <= 3; ++day) EXPECT_TRUE(engine_.FolderDayList(data, 2013, 1, day).empty()) << day;
    const Segments four = engine_.FolderDayList(data, 2013, 1, 4);
    EXPECT_EQ(four.size(), 4u);
    EXPECT_EQ(engine_.ChannelNames(), Names{});
}

// A recorder whose replies the test writes, logging the session requests it gets.
class ScriptedRecorder {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    explicit ScriptedRecorder(const std::vector<std::pair<std::string, Handler>>& routes) {
        for (const auto& [path, handler] : routes) {
            server_.Get(path, [this, handler, path = path](const httplib::Request& req, httplib::Response& res) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    log_.push_back(path + (req.has_param("id") ? "?id=" + req.get_param_value("id") : "") +
                                   (req.has_param("start") ? "&start=" + req.get_param_value("start") : ""));
                }
                handler(req, res);
            });
        }
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~ScriptedRecorder() {
        Release();
        server_.stop();
        thread_.join();
    }
    int port() const { return port_; }
    std::vector<std::string> Log() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return log_;
    }
    size_t Count(const std::string& entry) const {
        const std::vector<std::string> log = Log();
        return static_cast<size_t>(std::count(log.begin(), log.end(), entry));
    }
    // Handlers may hold their reply until the test releases it.
    // At most a minute, so a wait that ends well before shows something else ended it.
    void Hold() {
        const auto until = Clock::now() + std::chrono::seconds(60);
        std::unique_lock<std::mutex> lock(mutex_);
        ++held_;
        held_wake_.wait_until(lock, until, [this] { return released_; });
    }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            released_ = true;
        }
        held_wake_.notify_all();
    }
    int held() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return held_;
    }

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable held_wake_;
    std::vector<std::string> log_;
    bool released_ = false;
    int held_ = 0;
};

void Aim(RecordSelectionEngine* engine, int port) {
    engine->SetTiming(FastTiming());
    engine->server().SetIp("127.0.0.1");
    engine->server().SetPort(std::to_string(port));
}

TEST(KeepAliveTest, ObtainsASessionThenRenewsItWithItsId) {
    ScriptedRecorder recorder({{"/play/getid", [](const httplib::Request& req, httplib::Response& res) {
                                    res.set_content(req.has_param("id") ? "" : "id=7\nlease=60\n", "text/plain");
                                }}});
    RecordSelectionEngine engine;
    Aim(&engine, recorder.port());
    engine.StartKeepAliveTimer(30);
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count("/play/getid?id=7") >= 3; }, 5000));
    // The Remote Manager edits the dialog's record while the timer runs; the timer keeps its recorder.
    engine.server().SetIp("");
    const size_t renewals = recorder.Count("/play/getid?id=7");
    ASSERT_TRUE(WaitUntil([&] { return recorder.Count("/play/getid?id=7") >= renewals + 2; }, 5000));
    engine.KillKeepAliveTimer();
    EXPECT_FALSE(engine.KeepAliveRunning());
    EXPECT_EQ(engine.SessionId(), 7);
    const std::vector<std::string> log = recorder.Log();
    EXPECT_EQ(log.front(), "/play/getid");  // the first tick has no session yet
    EXPECT_EQ(recorder.Count("/play/getid"), 1u);
    const size_t after_kill = log.size();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(recorder.Log().size(), after_kill);

    // A session id handed in by the main dialog is renewed at once.
    engine.server().SetIp("127.0.0.1");
    engine.SetSessionId(42);
    engine.KeepAliveTick();
    EXPECT_EQ(recorder.Log().back(), "/play/getid?id=42");
}

TEST(KeepAliveTest, KillDuringATickStartsNoFurtherTick) {
    ScriptedRecorder* self = nullptr;
    ScriptedRecorder recorder({{"/play/getid", [&self](const httplib::Request&, httplib::Response& res) {
                                    self->Hold();
                                    res.set_content("id=3\nlease=60\n", "text/plain");
                                }}});
    self = &recorder;
    RecordSelectionEngine engine;
    Aim(&engine, recorder.port());
    // The held reply and its deadline last a minute: a kill within a fraction of it aborted
    // the tick's request rather than waiting it out, however loaded the machine.
    constexpr int kReplyMs = 60000;
    RecordSelectionTiming timing = FastTiming();
    timing.receive_timeout_ms = kReplyMs;
    engine.SetTiming(timing);
    engine.StartKeepAliveTimer(10);
    ASSERT_TRUE(WaitUntil([&] { return recorder.held() == 1; }, 30000));
    const auto t = Clock::now();
    engine.KillKeepAliveTimer();
    EXPECT_LT(MsSince(t), kReplyMs / 6);
    EXPECT_FALSE(engine.KeepAliveRunning());
    EXPECT_EQ(engine.SessionId(), -1);
    recorder.Release();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(recorder.Log().size(), 1u);
}

TEST(KeepAliveTest, SessionIdReplies) {
    struct Case {
        int status;
        std::string body;
        int id_before, id_after;
    } cases[] = {
        {200, "id=12\nlease=60\n", -1, 12},
        {200, "nothing", 5, 5},   // no "=": unchanged
        {200, "id=12\n", -1, 0},  // no "lease": 0
        {400, "id=12\nlease=60\n", 5, -1},
        {503, "", 5, 5},
        {500, "<html><meta http-equiv=\"refresh\" content=\"5\">error</html>", 5, 5},  // an error page
    };
    for (const Case& c : cases) {
        ScriptedRecorder recorder({{"/play/getid", [&c](const httplib::Request&, httplib::Response& res) {
                                        res.status = c.status;
                                        res.set_content(c.body, "text/plain");
                                    }}});
        RecordSelectionEngine engine;
        Aim(&engine, recorder.port());
        engine.SetSessionId(c.id_before);
        engine.ObtainSessionId();
        EXPECT_EQ(engine.SessionId(), c.id_after) << c.body;
        EXPECT_EQ(engine.LastStatus(), c.status) << c.body;
    }
}

TEST(RecordListPagingTest, NextPageWhileTotalReachesTheNextStart) {
    const std::string record = "000000000009" "11";
    struct Case {
        int total;
        std::vector<std::string> pages;  // requests expected
    } cases[] = {
        {499, {"/play/reclist?id=1&start=0"}},
        {500, {"/play/reclist?id=1&start=0", "/play/reclist?id=1&start=500"}},
        {750, {"/play/reclist?id=1&start=0", "/play/reclist?id=1&start=500"}},
        {1000, {"/play/reclist?id=1&start=0", "/play/reclist?id=1&start=500", "/play/reclist?id=1&start=1000"}},
        // Claims far more than it sends: the list ends at the first empty page.
        {2000000000, {"/play/reclist?id=1&start=0", "/play/reclist?id=1&start=500", "/play/reclist?id=1&start=1000"}},
    };
    for (const Case& c : cases) {
        ScriptedRecorder recorder({{"/play/reclist", [&](const httplib::Request& req, httplib::Response& res) {
                                        const int start = std::atoi(req.get_param_value("start").c_str());
                                        std::string body = "total=" + std::to_string(c.total) + "\nstart\n";
                                        // Two records on each of the first two pages only.
                                        if (start < 1000 && start < c.total) body += record + "\n" + record + "\n";
                                        res.set_content(body + "end\n", "text/plain");
                                    }}});
        RecordSelectionEngine engine;
        Aim(&engine, recorder.port());
        engine.SetSessionId(1);
        const DayListResult result = engine.RecorderDayList(2012, 3, 5);
        EXPECT_EQ(recorder.Log(), c.pages) << c.total;
        EXPECT_FALSE(result.deselect_day);
        EXPECT_EQ(result.segments.size(), c.total <= 500 ? 2u : 4u) << c.total;
    }
}

TEST(RecordListPagingTest, MalformedPageDeselectsButKeepsEarlierPages) {
    ScriptedRecorder recorder({{"/play/reclist", [](const httplib::Request& req, httplib::Response& res) {
                                    if (req.get_param_value("start") == "0")
                                        res.set_content("total=600\nx\n000000000009" "31\nend\n", "text/plain");
                                    else
                                        res.set_content("garbage\n", "text/plain");
                                }}});
    RecordSelectionEngine engine;
    Aim(&engine, recorder.port());
    engine.SetSessionId(2);
    const DayListResult result = engine.RecorderDayList(2012, 3, 5);
    EXPECT_TRUE(result.deselect_day);
    EXPECT_EQ(result.segments, (Segments{{1, 0, 9, 1}, {2, 0, 9, 1}}));
}

}  // namespace
