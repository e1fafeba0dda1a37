#include "media/http_get.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_folder.h"
#include "tools/common/avdata_writer.h"
#include "tools/common/fake_recorder.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

TEST(Base64Test, PublishedVectorsAndCredentials) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},         {"f", "Zg=="},        {"fo", "Zm8="},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xff\xfe", "//4="},
        {"\x01", "AQ=="},  // the unused low bits of the last character are zero
    };
    for (const auto& [in, out] : vectors)
        EXPECT_EQ(Base64Encode(reinterpret_cast<const uint8_t*>(in.data()), in.size()), out) << in;

    struct Case {
        std::string user, password, bytes;
    } cases[] = {
        {"admin", "", "admin:"},
        {"admin", "1234", "admin:1234"},
        {"J\xc3\xbc", "p", "J\xfc:p"},               // U+00FC keeps its low byte
        {"\xe4\xb8\xad", "", std::string("\x2d:", 2)},  // U+4E2D gives 0x2D
        {"a", "\xf0\x9f\x98\x80", std::string("a:\x3d\x00", 4)},  // a surrogate pair gives two bytes
    };
    for (const Case& c : cases) EXPECT_EQ(BasicCredentialBytes(c.user, c.password), c.bytes) << c.user;
    EXPECT_EQ(BasicAuthorizationHeader("admin", ""), "Authorization: Basic YWRtaW46");
    EXPECT_EQ(BasicAuthorizationHeader("", "secret"), "");
}

class HttpGetTest : public ::testing::Test {
protected:
    void Start(fake::Fault fault = {}, std::string password = "secret") {
        sample::SampleDay day{2012, 3, 5, {}, {}, {}};
        for (int i = 0; i < 300; ++i) day.entries.push_back({i * 10, i * 10 + 9, '1', '1'});
        std::string error;
        ASSERT_TRUE(sample::WriteDayIndex(tmp_.Sub("avdata"), day, &error)) << error;
        fake::FakeRecorderOptions options;
        options.data_folder = tmp_.path();
        options.password = std::move(password);
        options.fault = fault;
        ASSERT_TRUE(recorder_.Start(options, &error)) << error;
    }
    int Connect(HttpGet& http, const std::string& user = "admin", const std::string& password = "secret") {
        return http.Connect("127.0.0.1", user, password, 3000, 0, recorder_.port());
    }
    std::string Get(HttpGet& http, const std::string& path) {
        std::vector<char> buffer(65536, 0);
        EXPECT_EQ(http.Fetch(path, buffer.data(), buffer.size()), 1) << path;
        return buffer.data();
    }
    // A session playing day 5 from 00:00:00, its stream request sent.
    int OpenStream(HttpGet& control, HttpGet& stream) {
        EXPECT_EQ(Connect(control), 1);
        const std::string id = Get(control, "/play/getid").substr(3);
        const int session = std::atoi(id.c_str());
        Get(control, "/play/searchdata?id=" + std::to_string(session) +
                         "&recstarttime=2012,3,5,0,0,0&recendtime=2012,3,5,0,50,0&avdevids=1,0,0,0");
        EXPECT_EQ(Connect(stream), 1);
        EXPECT_EQ(stream.SendRequest("/play/mav/nvrprofilestream?id=" + std::to_string(session) +
                                     "&avdevid=1,0,0,0&profile=0"),
                  1);
        EXPECT_EQ(stream.QueryStatusCode(), 200);
        return session;
    }

    TempFolder tmp_;
    fake::FakeRecorder recorder_;
};

TEST_F(HttpGetTest, BasicAuthorisationDecidesTheStatus) {
    Start();
    struct Case {
        std::string user, password;
        int status;
    } cases[] = {{"admin", "secret", 200}, {"admin", "wrong", 401}, {"", "secret", 401}, {"Admin", "secret", 401}};
    for (const Case& c : cases) {
        HttpGet http;
        ASSERT_EQ(Connect(http, c.user, c.password), 1);
        const std::string reply = Get(http, "/config/login");
        EXPECT_EQ(http.QueryStatusCode(), c.status) << c.user << ":" << c.password;
        EXPECT_EQ(reply.rfind("login=", 0) == 0, c.status == 200) << reply;
    }
}

TEST_F(HttpGetTest, EmptyPasswordIsSentAfterTheColon) {
    Start({}, "");
    HttpGet http;
    ASSERT_EQ(Connect(http, "admin", ""), 1);
    EXPECT_EQ(Get(http, "/config/login").rfind("login=", 0), 0u);
}

TEST_F(HttpGetTest, StatusCodesOfTheLastReply) {
    struct Case {
        fake::Fault fault;
        std::string path;
        int status;
    } cases[] = {
        {{}, "/play/getid", 200},
        {{fake::FaultKind::kGetIdBusy, 0}, "/play/getid", 400},
        {{fake::FaultKind::kUnavailable, 0}, "/play/recdate?recyear=2012&recmonth=3", 503},
        {{}, "/no/such/request", 404},
    };
    for (const Case& c : cases) {
        TempFolder tmp;
        fake::FakeRecorder recorder;
        fake::FakeRecorderOptions options;
        options.data_folder = tmp.path();
        options.fault = c.fault;
        std::string error;
        ASSERT_TRUE(recorder.Start(options, &error)) << error;
        HttpGet http;
        ASSERT_EQ(http.Connect("127.0.0.1", "admin", "", 3000, 0, recorder.port()), 1);
        char buffer[256] = {};
        EXPECT_EQ(http.Fetch(c.path, buffer, sizeof buffer), 1);
        EXPECT_EQ(http.QueryStatusCode(), c.status) << c.path;
    }
}

TEST_F(HttpGetTest, FetchNeverFillsTheLastByte) {
    Start();
    HttpGet http;
    ASSERT_EQ(Connect(http), 1);
    const std::string id = Get(http, "/play/getid").substr(3);
    const std::string path = "/play/reclist?id=" + std::to_string(std::atoi(id.c_str())) +
                             "&start=0&recyear=2012&recmonth=3&recday=5";
    const std::string full = Get(http, path);
    ASSERT_GT(full.size(), 4000u);

    for (size_t capacity : {full.size() + 1, full.size(), full.size() / 2, size_t{10}, size_t{1}}) {
        std::vector<char> buffer(capacity + 64, 0);
        std::memset(buffer.data() + capacity, 0x5A, 64);
        ASSERT_EQ(http.Fetch(path, buffer.data(), capacity), 1);
        const std::string got(buffer.data());
        // All but the last byte are filled: the reply cut to the buffer, never an empty result.
        EXPECT_EQ(got, full.substr(0, capacity - 1)) << "capacity " << capacity;
        for (size_t i = capacity; i < capacity + 64; ++i) ASSERT_EQ(buffer[i], 0x5A) << "written past " << capacity;
    }
}

// A recorder that trickles its reply or never ends it holds a fetch no longer than the
// receive timeout from the sent request; what came by then is kept.
TEST_F(HttpGetTest, AFetchEndsAtItsDeadlineWhateverTheReply) {
    // The deadline is long against a loaded machine's reply time, and the trickle slow
    // enough that the whole text could not come before it: what ends the fetch is then
    // the deadline, which the part-text case shows without timing it.
    constexpr int kDeadlineMs = 3000;
    struct Case {
        fake::Fault fault;
        bool whole;  // the whole text came before the deadline; else a part of it
    } cases[] = {{fake::Fault(fake::FaultKind::kEndless), true}, {fake::Fault(fake::FaultKind::kTrickle), false}};
    cases[1].fault.millis = kDeadlineMs / 4;
    for (const Case& c : cases) {
        TempFolder tmp;
        fake::FakeRecorder recorder;
        fake::FakeRecorderOptions options;
        options.data_folder = tmp.path();
        options.fault = c.fault;
        std::string error;
        ASSERT_TRUE(recorder.Start(options, &error)) << error;
        HttpGet http;
        http.SetReceiveTimeout(kDeadlineMs);
        ASSERT_EQ(http.Connect("127.0.0.1", "admin", "", 3000, 0, recorder.port()), 1);
        char buffer[512] = {};
        const auto t0 = Clock::now();
        EXPECT_EQ(http.Fetch("/config/login", buffer, sizeof buffer), 1);
        // Never before the deadline (an endless reply is read until it), never long after.
        const int64_t took = MsSince(t0);
        EXPECT_GE(took, kDeadlineMs - 20);
        EXPECT_LT(took, 10 * kDeadlineMs);
        const std::string got(buffer), full = "login=ok\n";
        if (c.whole) {
            EXPECT_EQ(got, full);
        } else {
            EXPECT_LT(got.size(), full.size());
            EXPECT_EQ(full.compare(0, got.size(), got), 0) << got;
        }
    }
}

TEST_F(HttpGetTest, AFetchIsAbortedFromAnotherThread) {
    Start(fake::Fault(fake::FaultKind::kEndless));
    HttpGet http;
    ASSERT_EQ(Connect(http), 1);
    // Left to its deadline the fetch would take a minute: an answer within a fraction of
    // it can only be the abort's, however loaded the machine.
    constexpr int kDeadlineMs = 60000;
    http.SetReceiveTimeout(kDeadlineMs);
    Clock::time_point returned;
    std::thread fetcher([&] {
        char buffer[512] = {};
        http.Fetch("/config/login", buffer, sizeof buffer);
        returned = Clock::now();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto asked = Clock::now();
    http.Abort();
    fetcher.join();
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(returned - asked).count(), kDeadlineMs / 6);
}

TEST_F(HttpGetTest, FetchWithoutBufferStillSendsTheRequest) {
    Start();
    HttpGet http;
    ASSERT_EQ(Connect(http), 1);
    const std::string id = std::to_string(std::atoi(Get(http, "/play/getid").substr(3).c_str()));
    Get(http, "/play/searchdata?id=" + id + "&recstarttime=2012,3,5,0,0,0&recendtime=2012,3,5,1,0,0&avdevids=1,0,0,0");
    EXPECT_EQ(http.Fetch("/play/oppause?id=" + id, nullptr, 100), 0);
    EXPECT_NE(Get(http, "/play/opstatus?id=" + id).find("playop=2"), std::string::npos);
}

TEST_F(HttpGetTest, ConnectionLifecycle) {
    Start();
    HttpGet http;
    char buffer[16];
    size_t n = 99;
    EXPECT_EQ(http.SendRequest("/config/login"), 0);
    EXPECT_EQ(http.ReadAvailable(buffer, sizeof buffer, &n), 0);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(http.Connect("", "admin", "secret", 3000, 0, 0), 0);
    EXPECT_FALSE(http.IsConnected());

    struct PortCase {
        int secure, port, expected;
    } ports[] = {{0, 0, 80}, {1, 0, 443}, {1, 8080, 8080}, {2, 0, 443}, {0, 65536 + 81, 81}};
    for (const PortCase& p : ports) {
        ASSERT_EQ(http.Connect("127.0.0.1", "admin", "secret", 3000, p.secure, p.port), 1);
        EXPECT_EQ(http.port(), p.expected);
        EXPECT_EQ(http.secure(), p.secure >= 1 ? 1 : 0);
    }

    ASSERT_EQ(Connect(http), 1);
    ASSERT_EQ(http.SendRequest("/config/login"), 1);
    EXPECT_EQ(http.ReadAvailable(nullptr, 16, &n), 0);
    EXPECT_EQ(http.Close(), 1);
    EXPECT_FALSE(http.HasOpenRequest());
    EXPECT_EQ(http.QueryStatusCode(), 0);
    EXPECT_EQ(http.SendRequest("/config/login"), 0);
    ASSERT_EQ(Connect(http), 1);
    EXPECT_EQ(Get(http, "/config/login").rfind("login=", 0), 0u);

    // Nothing listens there: the lazy connect succeeds, the request does not.
    http.Close();
    HttpGet closed;
    const int port = recorder_.port();
    recorder_.Stop();
    ASSERT_EQ(closed.Connect("127.0.0.1", "admin", "secret", 1000, 0, port), 1);
    EXPECT_EQ(closed.SendRequest("/config/login"), 0);
    EXPECT_FALSE(closed.HasOpenRequest());
    EXPECT_TRUE(closed.IsConnected());
}

TEST_F(HttpGetTest, ASilentServerTimesTheRequestOut) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

    // The connect timeout is far longer than the receive timeout, so an answer at the
    // receive timeout shows it runs from the sent request, not after the connect timeout.
    constexpr int kConnectMs = 60000, kReceiveMs = 1000;
    HttpGet http;
    ASSERT_EQ(http.Connect("127.0.0.1", "admin", "", kConnectMs, 0, ntohs(address.sin_port)), 1);
    http.SetReceiveTimeout(kReceiveMs);
    const auto t0 = Clock::now();
    EXPECT_EQ(http.SendRequest("/config/login"), 0);
    const int64_t took = MsSince(t0);
    EXPECT_GE(took, kReceiveMs - 20);
    EXPECT_LT(took, kConnectMs / 6);
    close(listener);
}

TEST_F(HttpGetTest, AReadOnAStalledStreamReturnsEmptyAfterTheReceiveTimeout) {
    Start({fake::FaultKind::kStallAfter, 0});
    HttpGet control, stream;
    OpenStream(control, stream);
    stream.SetReceiveTimeout(300);
    uint8_t buffer[8192];
    size_t n = 1;
    const auto t0 = Clock::now();
    EXPECT_EQ(stream.ReadAvailable(buffer, sizeof buffer, &n), 1);
    EXPECT_EQ(n, 0u);
    EXPECT_GE(MsSince(t0), 280);
    EXPECT_TRUE(stream.HasOpenRequest());
}

TEST_F(HttpGetTest, ABlockedReadIsAbortedFromAnotherThread) {
    Start({fake::FaultKind::kStallAfter, 0});
    // Left alone the read would wait its minute-long receive timeout: an answer within a
    // fraction of it can only be the abort's or close's, however loaded the machine.
    constexpr int kReceiveMs = 60000;
    for (const bool close : {false, true}) {
        HttpGet control, stream;
        OpenStream(control, stream);
        stream.SetReceiveTimeout(kReceiveMs);
        int result = -1;
        Clock::time_point returned;
        std::thread reader([&] {
            uint8_t buffer[8192];
            size_t n = 0;
            result = stream.ReadAvailable(buffer, sizeof buffer, &n);
            returned = Clock::now();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto asked = Clock::now();
        if (close) {
            stream.Close();
        } else {
            stream.Abort();
        }
        reader.join();
        const int64_t latency = std::chrono::duration_cast<std::chrono::milliseconds>(returned - asked).count();
        EXPECT_LT(latency, kReceiveMs / 6) << (close ? "Close" : "Abort");
        EXPECT_EQ(result, 0);
        // An aborted connection stays unusable until it is connected again.
        EXPECT_EQ(stream.SendRequest("/config/login"), 0);
        ASSERT_EQ(Connect(stream), 1);
        EXPECT_EQ(Get(stream, "/config/login").rfind("login=", 0), 0u);
    }
}

}  // namespace
