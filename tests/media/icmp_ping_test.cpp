#include "media/icmp_ping.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include <cerrno>
#include <chrono>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(IcmpPingTest, EchoRequestLayoutAndChecksum) {
    const Bytes m = BuildEchoRequest(0x1234, 0xA1B2C3D4);
    ASSERT_EQ(m.size(), kIcmpEchoSize);
    EXPECT_EQ(m[0], 8);
    EXPECT_EQ(m[1], 0);
    EXPECT_EQ(m[4], 0x34);
    EXPECT_EQ(m[5], 0x12);
    EXPECT_EQ(m[6], 0);
    EXPECT_EQ(m[7], 0);
    EXPECT_EQ(m[8], 0xD4);
    EXPECT_EQ(m[11], 0xA1);
    for (size_t i = 12; i < m.size(); ++i) EXPECT_EQ(m[i], 0x45);
    // Summed again with the stored checksum, a correct message gives 0.
    EXPECT_EQ(InternetChecksum(m.data(), m.size()), 0);
    const uint8_t odd[] = {0x01, 0x02, 0x03};
    EXPECT_EQ(InternetChecksum(odd, 3), static_cast<uint16_t>(~(0x0201 + 0x03)));
}

Bytes Reply(uint8_t type, uint16_t id, int ip_header_words, uint16_t sequence = 7) {
    Bytes b;
    if (ip_header_words > 0) {
        b.assign(static_cast<size_t>(ip_header_words) * 4, 0);
        b[0] = static_cast<uint8_t>(0x40 | ip_header_words);
    }
    const Bytes icmp = {type, 0, 0, 0, static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8),
                        static_cast<uint8_t>(sequence), static_cast<uint8_t>(sequence >> 8), 0x45, 0x45};
    b.insert(b.end(), icmp.begin(), icmp.end());
    return b;
}

TEST(IcmpPingTest, ReplyMatching) {
    struct Case {
        const char* name;
        Bytes data;
        bool with_ip;
        EchoReplyMatch match;
    } cases[] = {
        {"raw reply", Reply(0, 0x4242, 5), true, EchoReplyMatch::kMatch},
        {"raw reply after IP options", Reply(0, 0x4242, 7), true, EchoReplyMatch::kMatch},
        {"datagram reply", Reply(0, 0x4242, 0), false, EchoReplyMatch::kMatch},
        // Not ours, and no failure: a raw socket sees every echo reply on the host.
        {"another process's reply", Reply(0, 0x4243, 5), true, EchoReplyMatch::kIgnore},
        {"another ping's reply", Reply(0, 0x4242, 5, 8), true, EchoReplyMatch::kIgnore},
        {"another ping's reply, sequence's high byte", Reply(0, 0x4242, 0, 0x0107), false, EchoReplyMatch::kIgnore},
        {"our own request looped back", Reply(8, 0x4242, 5), true, EchoReplyMatch::kIgnore},
        {"destination unreachable", Reply(3, 0x4242, 5), true, EchoReplyMatch::kMismatch},
        {"cut short", Reply(0, 0x4242, 5), true, EchoReplyMatch::kMismatch},
        {"header length beyond the datagram", Reply(0, 0x4242, 5), false, EchoReplyMatch::kMismatch},
    };
    cases[8].data.resize(27);
    cases[9].data[0] = 0x4F;
    cases[9].with_ip = true;
    for (const Case& c : cases)
        EXPECT_EQ(MatchEchoReply(c.data.data(), c.data.size(), c.with_ip, 0x4242, 7), c.match) << c.name;
    const Bytes m = BuildEchoRequest(0x1234, 0, 0xBEEF);
    EXPECT_EQ(m[6], 0xEF);
    EXPECT_EQ(m[7], 0xBE);
    EXPECT_EQ(InternetChecksum(m.data(), m.size()), 0);
}

TEST(IcmpPingTest, LoopbackAnswers) {
    IcmpPingResult result;
    if (!IcmpPing("127.0.0.1", &result)) {
        const int error = IcmpPingLastError();
        if (error == EPERM || error == EACCES) GTEST_SKIP() << "neither ICMP datagram nor raw sockets are permitted";
        FAIL() << "ping failed with " << error;
    }
    EXPECT_EQ(result.address, htonl(INADDR_LOOPBACK));
    EXPECT_LT(result.round_trip_ms, 1000u);
}

// Pings running at once each wait for their own reply: none takes another's, none fails.
TEST(IcmpPingTest, ConcurrentPingsEachGetTheirOwnReply) {
    constexpr int kPings = 8;
    std::vector<int> results(kPings, -1), errors(kPings, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < kPings; ++i) {
        threads.emplace_back([&results, &errors, i] {
            IcmpPingResult result;
            results[static_cast<size_t>(i)] = IcmpPing("127.0.0.1", &result);
            errors[static_cast<size_t>(i)] = IcmpPingLastError();
        });
    }
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < kPings; ++i) {
        if (errors[static_cast<size_t>(i)] == EPERM || errors[static_cast<size_t>(i)] == EACCES)
            GTEST_SKIP() << "ICMP sockets not permitted";
        EXPECT_EQ(results[static_cast<size_t>(i)], 1) << "ping " << i << " error " << errors[static_cast<size_t>(i)];
    }
}

TEST(IcmpPingTest, FailuresAndTheirErrors) {
    IcmpPingResult result;
    EXPECT_EQ(IcmpPing("nonexistent-host.invalid", &result), 0);
    EXPECT_EQ(IcmpPingLastError(), kIcmpErrorHostNotFound);
    EXPECT_EQ(IcmpPing("", &result), 0);
    EXPECT_EQ(IcmpPingLastError(), kIcmpErrorHostNotFound);

    // A documentation address: silence gives the timeout after 5 s; a router may instead
    // answer "unreachable" (an unexpected reply) or the machine may have no route at all.
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_EQ(IcmpPing("203.0.113.9", &result), 0);
    const auto took = std::chrono::steady_clock::now() - t1;
    const int error = IcmpPingLastError();
    if (error == EPERM || error == EACCES) GTEST_SKIP() << "ICMP sockets not permitted";
    EXPECT_LT(took, std::chrono::milliseconds(5500));
    if (error == kIcmpErrorTimeout) {
        EXPECT_GE(took, std::chrono::milliseconds(4900));
    } else {
        EXPECT_TRUE(error == kIcmpErrorUnexpectedReply || error == ENETUNREACH || error == EHOSTUNREACH) << error;
    }
}

}  // namespace
