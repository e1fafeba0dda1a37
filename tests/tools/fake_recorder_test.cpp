#include "tools/common/fake_recorder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "media/http_get.h"
#include "media/stream_packet_parser.h"
#include "platform/program_folder.h"
#include "tests/support/temp_folder.h"
#include "tools/common/avdata_writer.h"

namespace {

using namespace streamformat;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kMinuteStart = 14 * 3600 + 7 * 60;

// One packet as a client sees it.
struct Packet {
    int channel = -1;
    int32_t kind = -1;
    int32_t marker = 0;
    Bytes payload;
    int width = 0, height = 0;
    int second = -1;  // of the minute, video only
    std::u16string title;
    int64_t at_ms = 0;  // arrival, from the start of the collection
    bool operator==(const Packet& o) const {
        return channel == o.channel && kind == o.kind && payload == o.payload && width == o.width &&
               height == o.height && second == o.second && title == o.title;
    }
};

std::ostream& operator<<(std::ostream& os, const Packet& p) {
    return os << "{ch " << p.channel << " kind " << p.kind << " " << p.payload.size() << " bytes, s " << p.second << "}";
}

Bytes FrameData(int channel, int second, int index, size_t size) {
    Bytes d(size);
    for (size_t i = 0; i < size; ++i) d[i] = static_cast<uint8_t>(channel * 61 + second * 17 + index * 5 + i);
    return d;
}

// Minute 14:07 of 5 March 2012, seconds 0-2: channel 1 MJPEG with audio, channel 2 H.264.
class FakeRecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string data = tmp_.Sub("avdata");
        sample::SampleMinute minute;
        minute.titles = {u"Gate", u"Yard", u"", u""};
        const int64_t base = 1330956420000;
        for (int s = 0; s < 3; ++s) {
            sample::SampleChannelSecond ch0, ch1;
            for (int i = 0; i < 3; ++i) {
                sample::SampleFrame f;
                f.codec = 7;
                f.key = 1;
                f.time_stamp_ms = base + s * 1000 + i * 250;
                f.width = 320;
                f.height = 240;
                f.data = FrameData(0, s, i, 200 + 700 * i);
                ch0.frames.push_back(f);
                expected_[0].push_back({0, 0, 0, f.data, 320, 240, s, u"Gate"});
            }
            sample::SampleFrame a;
            a.kind = 1;
            a.codec = 2;
            a.time_stamp_ms = base + s * 1000 + 900;
            a.bits = 8;
            a.sample_rate = 8000;
            a.channels = 1;
            a.data = FrameData(0, s, 9, 320);
            ch0.frames.push_back(a);
            expected_[0].push_back({0, 3, 0, a.data, 0, 0, -1, u""});
            for (int i = 0; i < 2; ++i) {
                sample::SampleFrame f;
                f.codec = 9;
                f.key = i == 0;
                f.time_stamp_ms = base + s * 1000 + i * 400 + 10;
                f.width = 640;
                f.height = 480;
                f.data = FrameData(1, s, i, 5000 + 100 * i);
                ch1.frames.push_back(f);
                expected_[1].push_back({1, 2, 0, f.data, 640, 480, s, u"Yard"});
            }
            minute.seconds[static_cast<size_t>(s)].channels[0] = ch0;
            minute.seconds[static_cast<size_t>(s)].channels[1] = ch1;
        }
        std::string error;
        ASSERT_TRUE(sample::WriteMinuteFile(data, 2012, 3, 5, 14, 7, minute, &error)) << error;
        ASSERT_TRUE(sample::WriteDayIndex(
            data, {2012, 3, 5, {{kMinuteStart, kMinuteStart + 2, '3', '1'}, {50000, 50100, '5', '4'}}, {}, {}}, &error));
        ASSERT_TRUE(sample::WriteDayIndex(data, {2012, 3, 9, {{0, 10, '1', '2'}}, {}, {}}, &error));
        sample::SampleDay many{2012, 3, 20, {}, {}, {}};
        for (int i = 0; i < 750; ++i) many.entries.push_back({i * 60, i * 60 + 30, 'f', '1'});
        ASSERT_TRUE(sample::WriteDayIndex(data, many, &error));
    }

    void Start(fake::Fault fault = {}) {
        fake::FakeRecorderOptions options;
        options.data_folder = tmp_.path();
        options.password = "pw";
        options.fault = fault;
        std::string error;
        ASSERT_TRUE(recorder_.Start(options, &error)) << error;
        ASSERT_EQ(control_.Connect("127.0.0.1", "admin", "pw", 3000, 0, recorder_.port()), 1);
    }

    std::string Get(const std::string& path, int* status = nullptr) {
        std::vector<char> buffer(65536, 0);
        EXPECT_EQ(control_.Fetch(path, buffer.data(), buffer.size()), 1) << path;
        if (status) *status = control_.QueryStatusCode();
        return buffer.data();
    }

    std::string NewSession() {
        const std::string reply = Get("/play/getid");
        const size_t eq = reply.find('='), lease = reply.find("lease");
        EXPECT_NE(eq, std::string::npos);
        EXPECT_NE(lease, std::string::npos);
        return std::to_string(std::atoi(reply.substr(eq + 1, lease - eq - 1).c_str()));
    }

    // Searches 14:07:00-14:07:02 and opens the stream of the given channel flags.
    std::string OpenStream(const std::string& flags = "1,1,0,0", const std::string& before_stream = "") {
        const std::string id = NewSession();
        Get("/play/searchdata?id=" + id + "&recstarttime=2012,3,5,14,7,0&recendtime=2012,3,5,14,7,2&avdevids=" + flags);
        if (!before_stream.empty()) Get(before_stream + "?id=" + id + "&mode=1&jumptime=2");
        EXPECT_EQ(stream_.Connect("127.0.0.1", "admin", "pw", 3000, 0, recorder_.port()), 1);
        stream_.SetReceiveTimeout(200);
        EXPECT_EQ(stream_.SendRequest("/play/mav/nvrprofilestream?id=" + id + "&avdevid=" + flags + "&profile=1"), 1);
        EXPECT_EQ(stream_.QueryStatusCode(), 200);
        parser_.Reset();
        collect_start_ = Clock::now();
        return id;
    }

    // Reads until want packets arrived, the time is up, or the reply fails or ends.
    std::vector<Packet> Collect(size_t want, int timeout_ms, bool* failed = nullptr, size_t* bytes = nullptr) {
        std::vector<Packet> got;
        uint8_t buffer[8192];
        const auto until = Clock::now() + std::chrono::milliseconds(timeout_ms);
        while (got.size() < want && Clock::now() < until) {
            size_t n = 0;
            if (!stream_.ReadAvailable(buffer, sizeof buffer, &n)) {
                if (failed) *failed = true;
                break;
            }
            if (bytes) *bytes += n;
            parser_.Feed(buffer, n);
            while (const uint8_t* payload = parser_.NextPacket()) {
                const bool video = IsVideoPacketKind(parser_.kind());
                const StreamPacketHeader h =
                    StreamPacketHeader::FromBytes(parser_.GetHeader(), video ? kVideoHeaderSize : kAudioHeaderSize);
                Packet p;
                p.channel = h.Channel();
                p.kind = parser_.kind();
                p.marker = h.marker();
                p.payload.assign(payload, payload + parser_.payload_size());
                p.width = parser_.width();
                p.height = parser_.height();
                if (video) {
                    p.second = h.U16(kOffDate + 10);
                    EXPECT_EQ(h.U16(kOffDate), 2012);
                    EXPECT_EQ(h.U16(kOffDate + 6), 14);
                    EXPECT_EQ(h.U16(kOffDate + 8), 7);
                    EXPECT_EQ(h.I32(kOffCharWidth), 2);
                    for (int i = 0; i < kTitleSize / 2 && h.U16(kOffTitle + 2 * i); ++i) p.title += h.U16(kOffTitle + 2 * i);
                } else {
                    EXPECT_EQ(h.I32(kOffSampleRate), 8000);
                    EXPECT_EQ(h.I32(kOffBitsPerSample), 8);
                    EXPECT_EQ(h.U16(kOffAudioChannels), 1);
                }
                p.at_ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - collect_start_).count();
                got.push_back(std::move(p));
            }
        }
        return got;
    }

    static std::map<int, std::vector<Packet>> ByChannel(const std::vector<Packet>& packets) {
        std::map<int, std::vector<Packet>> out;
        for (const Packet& p : packets) out[p.channel].push_back(p);
        return out;
    }

    TempFolder tmp_;
    fake::FakeRecorder recorder_;
    HttpGet control_, stream_;
    StreamPacketParser parser_;
    std::map<int, std::vector<Packet>> expected_;
    Clock::time_point collect_start_;
};

std::vector<std::string> Lines(const std::string& reply) {
    std::vector<std::string> lines;
    size_t begin = 0;
    for (size_t nl; (nl = reply.find('\n', begin)) != std::string::npos; begin = nl + 1) lines.push_back(reply.substr(begin, nl - begin));
    lines.push_back(reply.substr(begin));
    return lines;
}

TEST_F(FakeRecorderTest, RepliesFollowTheFormatsTheClientsParse) {
    Start();
    EXPECT_EQ(Get("/config/login").rfind("login=", 0), 0u);
    EXPECT_EQ(Get("/config/datetime").rfind("date", 0), 0u);
    const std::string id = NewSession();
    EXPECT_NE(id, NewSession());
    EXPECT_EQ(Get("/play/getid?id=" + id).rfind("id", 0), 0u);
    int status = 0;
    Get("/play/getid?id=999", &status);
    EXPECT_EQ(status, 400);

    // Days: the number after each line's last comma; the empty piece after the last line feed is not a day.
    std::vector<int> days;
    const std::vector<std::string> recdate = Lines(Get("/play/recdate?recyear=2012&recmonth=3"));
    for (size_t i = 0; i + 1 < recdate.size(); ++i) days.push_back(std::atoi(recdate[i].substr(recdate[i].rfind(',') + 1).c_str()));
    EXPECT_EQ(days, (std::vector<int>{5, 9, 20}));
    EXPECT_EQ(Get("/play/recdate?recyear=2012&recmonth=4"), "");

    // Names: cut each line one column after the first line's '=', up to the ';'.
    const std::vector<std::string> devices = Lines(Get("/live/avdevlist"));
    const size_t eq = devices[0].find('=');
    ASSERT_GT(eq, 0u);
    ASSERT_EQ(std::atoi(devices[0].substr(eq + 1).c_str()), 4);
    const char* names[] = {"Gate", "Yard", "Camera 3", "Camera 4"};
    for (int n = 1; n <= 4; ++n) {
        const std::string rest = devices[static_cast<size_t>(n)].substr(eq + 1);
        EXPECT_EQ(rest.substr(0, rest.find(';')), names[n - 1]);
    }
    EXPECT_EQ(Get("/play/opstatus?id=" + id), "time=0,0,0,0,0,0\nplayop=0\nspeed=1\n");
}

TEST_F(FakeRecorderTest, RecordListComesInPagesOf500) {
    Start();
    const std::string id = NewSession();
    const auto page = [&](int day, int start) {
        return Lines(Get("/play/reclist?id=" + id + "&start=" + std::to_string(start) + "&recyear=2012&recmonth=3&recday=" +
                         std::to_string(day)));
    };
    // Records are lines 2 to n-3 of the n pieces.
    const auto records = [](const std::vector<std::string>& lines) {
        return lines.size() >= 5 ? std::vector<std::string>(lines.begin() + 2, lines.end() - 2) : std::vector<std::string>{};
    };
    struct Case {
        int day, start;
        size_t count;
        std::string first;
    } cases[] = {
        {20, 0, 500, "000000000030f1"},
        {20, 500, 250, "082000082030f1"},
        {20, 1000, 0, ""},
        {5, 0, 2, "14070014070231"},
        {6, 0, 0, ""},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> lines = page(c.day, c.start);
        const std::string total = lines[0].substr(lines[0].find('=') + 1);
        EXPECT_EQ(std::atoi(total.c_str()), c.day == 20 ? 750 : c.day == 5 ? 2 : 0);
        const std::vector<std::string> got = records(lines);
        ASSERT_EQ(got.size(), c.count) << c.day << " from " << c.start;
        if (c.count) {
            EXPECT_EQ(got[0], c.first);
        }
    }
    EXPECT_EQ(records(page(5, 0))[1], "13532013550054");
}

TEST_F(FakeRecorderTest, StreamCarriesTheDiskCopysFramesInRealTime) {
    Start();
    const std::string id = OpenStream();
    const std::vector<Packet> got = Collect(18, 8000);
    ASSERT_EQ(got.size(), 18u);
    const auto by_channel = ByChannel(got);
    EXPECT_EQ(by_channel.at(0), expected_[0]);
    EXPECT_EQ(by_channel.at(1), expected_[1]);
    // Each recorded second takes a second: the last one starts no sooner than about 2 s in.
    // How soon after is the machine's load, not the recorder's pace; the collect's deadline
    // stops a recorder that never sends it.
    EXPECT_GE(got.back().at_ms, 1900);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    EXPECT_EQ(Get("/play/opstatus?id=" + id), "time=2012,3,5,14,7,2\nplayop=1\nspeed=1\n");

    // The stream's channel list, not the search's, chooses what is sent.
    OpenStream("0,1,0,0");
    EXPECT_EQ(Collect(6, 8000), expected_[1]);
}

TEST_F(FakeRecorderTest, SpeedStepsFollowTheRecordersCodes) {
    Start();
    const std::string id = NewSession();
    Get("/play/searchdata?id=" + id + "&recstarttime=2012,3,5,14,7,0&recendtime=2012,3,5,14,7,2&avdevids=1,0,0,0");
    const auto speed = [&] {
        const std::string s = Get("/play/opstatus?id=" + id);
        return std::atoi(s.substr(s.find("speed=") + 6).c_str());
    };
    std::vector<int> codes;
    for (int i = 0; i < 6; ++i) {
        Get("/play/speedup?id=" + id);
        codes.push_back(speed());
    }
    EXPECT_EQ(codes, (std::vector<int>{102, 104, 108, 116, 132, 132}));
    codes.clear();
    for (int i = 0; i < 12; ++i) {
        Get("/play/speeddown?id=" + id);
        codes.push_back(speed());
    }
    EXPECT_EQ(codes, (std::vector<int>{116, 108, 104, 102, 1, 502, 504, 508, 516, 532, 532, 532}));
    Get("/play/opplay?id=" + id);
    EXPECT_EQ(speed(), 1);
}

TEST_F(FakeRecorderTest, PauseHoldsTheStreamAndPlayResumesIt) {
    Start();
    const std::string id = OpenStream("1,0,0,0");
    ASSERT_EQ(Collect(1, 3000).size(), 1u);
    Get("/play/oppause?id=" + id);
    EXPECT_NE(Get("/play/opstatus?id=" + id).find("playop=2"), std::string::npos);
    const size_t in_flight = Collect(12, 400).size();
    EXPECT_TRUE(Collect(12, 1200).empty());
    Get("/play/opplay?id=" + id);
    EXPECT_EQ(Collect(11 - in_flight, 5000).size(), 11 - in_flight);
}

TEST_F(FakeRecorderTest, JumpsMoveThePosition) {
    Start();
    for (const std::string request : {"/play/timejump", "/play/timeslider"}) {
        const std::string id = OpenStream("1,1,0,0", request);
        EXPECT_NE(Get("/play/opstatus?id=" + id).find("time=2012,3,5,14,7,2\n"), std::string::npos) << request;
        const std::vector<Packet> got = Collect(6, 3000);
        ASSERT_EQ(got.size(), 6u);
        for (const Packet& p : got)
            if (p.second >= 0) {
                EXPECT_EQ(p.second, 2) << request;
            }
    }
}

TEST_F(FakeRecorderTest, BackupStreamSendsOneChannelUnpacedAndEndsWithState2) {
    Start();
    const std::string id = NewSession();
    Get("/play/backup?id=" + id + "&avdevid=1&starttime=2012,3,5,14,07,00&endtime=2012,3,5,14,07,02");
    ASSERT_EQ(stream_.Connect("127.0.0.1", "admin", "pw", 3000, 0, recorder_.port()), 1);
    stream_.SetReceiveTimeout(200);
    ASSERT_EQ(stream_.SendRequest("/play/mav/nvrprofilestream?id=" + id + "&avdevid=0,1,0,0&profile=0&mode=1"), 1);
    collect_start_ = Clock::now();
    std::vector<Packet> got = Collect(7, 3000);
    ASSERT_EQ(got.size(), 7u);
    EXPECT_EQ(got.back().marker, 2);
    EXPECT_EQ(got.back().channel, 1);
    // Paced, the last of the three seconds could not even start before about 2 s (see the
    // stream above): the whole backup came before that, with no wait for its time.
    EXPECT_LT(got.back().at_ms, 1900);
    got.pop_back();
    EXPECT_EQ(got, expected_[1]);
    uint8_t rest[64];
    size_t n = 1;
    EXPECT_EQ(stream_.ReadAvailable(rest, sizeof rest, &n), 1);
    EXPECT_EQ(n, 0u);
}

TEST_F(FakeRecorderTest, UnavailableRecorderAnswers503) {
    Start({fake::FaultKind::kUnavailable, 0});
    const std::string id = NewSession();
    for (const std::string& path : std::vector<std::string>{"/play/recdate?recyear=2012&recmonth=3", "/live/avdevlist",
                                   "/play/mav/nvrprofilestream?id=" + id + "&avdevid=1,0,0,0&profile=0"}) {
        int status = 0;
        Get(path, &status);
        EXPECT_EQ(status, 503) << path;
    }
}

TEST_F(FakeRecorderTest, WrongCredentialsAre401Everywhere) {
    Start();
    ASSERT_EQ(control_.Connect("127.0.0.1", "admin", "nope", 3000, 0, recorder_.port()), 1);
    for (const std::string path : {"/config/login", "/play/getid", "/play/mav/nvrprofilestream?id=1&avdevid=1,0,0,0&profile=0"}) {
        int status = 0;
        Get(path, &status);
        EXPECT_EQ(status, 401) << path;
    }
}

TEST_F(FakeRecorderTest, StallLeavesTheStreamOpenButSilent) {
    Start({fake::FaultKind::kStallAfter, 1});
    OpenStream();
    bool failed = false;
    const std::vector<Packet> got = Collect(18, 3000, &failed);
    EXPECT_FALSE(failed);
    EXPECT_GE(got.size(), 6u);
    EXPECT_LT(got.size(), 18u);
    EXPECT_TRUE(stream_.HasOpenRequest());
}

TEST_F(FakeRecorderTest, DropClosesTheStreamAndRefusesLaterOnes) {
    Start({fake::FaultKind::kDropAfter, 1});
    const std::string id = OpenStream();
    const auto t0 = Clock::now();
    uint8_t buffer[8192];
    size_t n = 1;
    // Read until the reply breaks off or ends. A stream that went on sending would hold the
    // loop for its minute: an end within a fraction of it is the drop's, however loaded the machine.
    while (stream_.ReadAvailable(buffer, sizeof buffer, &n) && (n > 0 || Clock::now() - t0 < std::chrono::milliseconds(1500)) &&
           Clock::now() - t0 < std::chrono::seconds(60)) {
    }
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(10));
    EXPECT_EQ(stream_.SendRequest("/play/mav/nvrprofilestream?id=" + id + "&avdevid=1,1,0,0&profile=1"), 0);
    EXPECT_EQ(Get("/play/getid?id=" + id).rfind("id", 0), 0u);
}

TEST_F(FakeRecorderTest, GarbageBetweenPacketsLeavesTheFramesIntact) {
    Start({fake::FaultKind::kGarbage, 0});
    OpenStream();
    size_t bytes = 0;
    const std::vector<Packet> got = Collect(18, 8000, nullptr, &bytes);
    ASSERT_EQ(got.size(), 18u);
    const auto by_channel = ByChannel(got);
    EXPECT_EQ(by_channel.at(0), expected_[0]);
    EXPECT_EQ(by_channel.at(1), expected_[1]);
    size_t packet_bytes = 0;
    for (const Packet& p : got) packet_bytes += p.payload.size() + (p.second >= 0 ? kVideoHeaderSize : kAudioHeaderSize);
    EXPECT_GE(bytes, packet_bytes + 18);  // at least a byte of garbage before every packet
}

TEST(FakeRecorderFaultTest, FaultTexts) {
    struct Case {
        std::string text;
        bool ok;
        fake::FaultKind kind;
        int seconds, millis;
        std::string path;
    } cases[] = {
        {"getid-busy", true, fake::FaultKind::kGetIdBusy, 0, 0, ""},
        {"unavailable", true, fake::FaultKind::kUnavailable, 0, 0, ""},
        {"stall-after=3", true, fake::FaultKind::kStallAfter, 3, 0, ""},
        {"drop-after=0", true, fake::FaultKind::kDropAfter, 0, 0, ""},
        {"garbage", true, fake::FaultKind::kGarbage, 0, 0, ""},
        {"end-after=2", true, fake::FaultKind::kEndAfter, 2, 0, ""},
        {"unauthorized:/play/mav", true, fake::FaultKind::kUnauthorized, 0, 0, "/play/mav"},
        {"redirect", true, fake::FaultKind::kRedirect, 0, 0, ""},
        {"trickle=250:/config/login", true, fake::FaultKind::kTrickle, 0, 250, "/config/login"},
        {"endless", true, fake::FaultKind::kEndless, 0, 0, ""},
        {"error-page:/play/getid", true, fake::FaultKind::kErrorPage, 0, 0, "/play/getid"},
        {"silent:/play/searchdata", true, fake::FaultKind::kSilent, 0, 0, "/play/searchdata"},
        {"repeat-range", true, fake::FaultKind::kRepeatRange, 0, 0, ""},
        {"stall-after=", false, {}, 0, 0, ""},
        {"drop-after=-1", false, {}, 0, 0, ""},
        {"slow", false, {}, 0, 0, ""},
        {"trickle=0", false, {}, 0, 0, ""},
        {"redirect:", false, {}, 0, 0, ""},
        {"redirect:play", false, {}, 0, 0, ""},
    };
    for (const Case& c : cases) {
        fake::Fault f;
        EXPECT_EQ(fake::ParseFault(c.text, &f), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(f.kind, c.kind) << c.text;
            EXPECT_EQ(f.seconds, c.seconds) << c.text;
            EXPECT_EQ(f.millis, c.millis) << c.text;
            EXPECT_EQ(f.path, c.path) << c.text;
        }
    }
}

// The refusing faults answer only the requests their path names.
TEST_F(FakeRecorderTest, RefusingFaultsAnswerTheRequestsTheyCover) {
    struct Case {
        std::string fault;
        int status;
        std::string body_holds;
    } cases[] = {
        {"unauthorized:/play/mav", 401, "error="},
        {"redirect:/play/mav", 302, "moved="},
        {"error-page:/play/mav", 500, "="},
    };
    for (const Case& c : cases) {
        fake::FakeRecorder recorder;
        fake::FakeRecorderOptions options;
        options.data_folder = tmp_.path();
        ASSERT_TRUE(fake::ParseFault(c.fault, &options.fault));
        std::string error;
        ASSERT_TRUE(recorder.Start(options, &error)) << error;
        HttpGet http;
        ASSERT_EQ(http.Connect("127.0.0.1", "admin", "", 3000, 0, recorder.port()), 1);
        char reply[512] = {};
        ASSERT_EQ(http.Fetch("/config/login", reply, sizeof reply), 1);
        EXPECT_EQ(http.QueryStatusCode(), 200) << c.fault;
        std::memset(reply, 0, sizeof reply);
        ASSERT_EQ(http.Fetch("/play/mav/nvrprofilestream?id=1&avdevid=1,0,0,0&profile=0", reply, sizeof reply), 1);
        EXPECT_EQ(http.QueryStatusCode(), c.status) << c.fault;
        EXPECT_NE(std::string(reply).find(c.body_holds), std::string::npos) << c.fault << ": " << reply;
    }
}

TEST_F(FakeRecorderTest, EndAfterEndsTheStreamReplyCleanly) {
    Start({fake::FaultKind::kEndAfter, 1});
    OpenStream();
    bool failed = false;
    const std::vector<Packet> got = Collect(18, 4000, &failed);
    EXPECT_FALSE(failed);
    EXPECT_GE(got.size(), 3u);
    EXPECT_LT(got.size(), 18u);
    // Ended: further reads come back empty at once, not after the read's minute-long wait.
    stream_.SetReceiveTimeout(60000);
    uint8_t buffer[64];
    size_t n = 1;
    const auto t0 = Clock::now();
    EXPECT_EQ(stream_.ReadAvailable(buffer, sizeof buffer, &n), 1);
    EXPECT_EQ(n, 0u);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(10));
}

TEST_F(FakeRecorderTest, TrickleSendsTheStreamByteByByte) {
    fake::Fault fault(fake::FaultKind::kTrickle);
    fault.millis = 20;
    fault.path = "/play/mav";
    Start(fault);
    const auto begun = Clock::now();
    OpenStream();
    size_t bytes = 0;
    const std::vector<Packet> got = Collect(1, 600, nullptr, &bytes);
    // At most one byte per 20 ms since the request, however long a loaded machine made the wait.
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun).count();
    EXPECT_TRUE(got.empty());  // a packet head alone is longer than 30 bytes
    EXPECT_GE(bytes, 5u);
    EXPECT_LE(bytes, static_cast<size_t>(elapsed / 20 + 1));
    EXPECT_EQ(Get("/config/login").rfind("login=", 0), 0u);  // other replies come whole
}

TEST(FakeRecorderPortTest, APortAlreadyHeldIsRefused) {
    TempFolder tmp;
    fake::FakeRecorder first, second;
    fake::FakeRecorderOptions options;
    options.data_folder = tmp.path();
    std::string error;
    ASSERT_TRUE(first.Start(options, &error)) << error;
    options.port = first.port();
    EXPECT_FALSE(second.Start(options, &error));
    EXPECT_NE(error.find(std::to_string(first.port())), std::string::npos) << error;
}

TEST(FakeRecorderToolTest, CommandLineServesUntilKilled) {
    TempFolder tmp;
    ASSERT_TRUE(std::filesystem::create_directory(tmp.Sub("avdata")));
    const std::string tool = platform::ProgramFolder() + "/fake-recorder";
    ASSERT_EQ(access(tool.c_str(), X_OK), 0) << tool;

    const std::string bad = "'" + tool + "' --port 0 --fault slow --data '" + tmp.path() + "' 2>/dev/null";
    EXPECT_EQ(WEXITSTATUS(std::system(bad.c_str())), 2);

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execl(tool.c_str(), tool.c_str(), "--port", "0", "--data", tmp.Sub("avdata").c_str(), "--user", "u",
              "--password", "p", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    FILE* lines = fdopen(out[0], "r");
    char line[64] = {};
    ASSERT_NE(std::fgets(line, sizeof line, lines), nullptr);
    int port = 0;
    ASSERT_EQ(std::sscanf(line, "listening on %d", &port), 1) << line;
    HttpGet http;
    ASSERT_EQ(http.Connect("127.0.0.1", "u", "p", 3000, 0, port), 1);
    char reply[64] = {};
    ASSERT_EQ(http.Fetch("/config/login", reply, sizeof reply), 1);
    EXPECT_EQ(std::string(reply).rfind("login=", 0), 0u);
    http.Close();
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::fclose(lines);
}

}  // namespace
