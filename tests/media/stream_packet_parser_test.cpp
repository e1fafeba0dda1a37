#include "media/stream_packet_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace streamformat;
using Bytes = std::vector<uint8_t>;

struct Parsed {
    int32_t kind = 0;
    Bytes payload;
    Bytes header;
    int32_t width = 0, height = 0;
    std::string time_text;
    bool operator==(const Parsed&) const = default;
};

Bytes Payload(size_t size, uint8_t seed) {
    Bytes p(size);
    for (size_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(seed + i * 31);
    // Start codes inside a payload are data, not packets.
    if (size >= 8) {
        const uint8_t code[] = {0x00, 0x00, 0x01, kVideoStartCode};
        std::memcpy(&p[size / 2], code, 4);
    }
    return p;
}

Bytes VideoPacket(int32_t frame_type, uint16_t width, uint16_t height, const Bytes& payload, int32_t seconds = 100,
                  int32_t micros = 250000) {
    StreamPacketHeader h = StreamPacketHeader::Video();
    h.SetI32(kOffSeconds, seconds);
    h.SetI32(kOffMicroseconds, micros);
    h.SetI32(kOffFrameType, frame_type);
    h.SetU16(kOffVideoChannelMask, 2);
    h.SetU16(kOffWidth, width);
    h.SetU16(kOffHeight, height);
    h.SetU16(kOffDate, 2012);
    return BuildStreamPacket(h, payload.data(), payload.size());
}

Bytes AudioPacket(int32_t type, const Bytes& payload) {
    StreamPacketHeader h = StreamPacketHeader::Audio();
    h.SetI32(kOffSeconds, 7);
    h.SetI32(kOffMicroseconds, 1999);
    h.SetI32(kOffAudioType, type);
    h.SetU16(kOffAudioChannelMask, 1);
    h.SetI32(kOffSampleRate, 8000);
    return BuildStreamPacket(h, payload.data(), payload.size());
}

// A packet sequence with every kind, the smallest and a large payload, and its expected result.
struct Sequence {
    Bytes stream;
    std::vector<size_t> starts;  // offset of each packet's start code
    std::vector<Parsed> expected;

    void Add(const Bytes& packet, int32_t kind, const Bytes& payload, int32_t w, int32_t h, const std::string& time) {
        starts.push_back(stream.size());
        stream.insert(stream.end(), packet.begin(), packet.end());
        const size_t header_size = packet[3] == kVideoStartCode ? kVideoHeaderSize : kAudioHeaderSize;
        expected.push_back({kind, payload, Bytes(packet.begin(), packet.begin() + header_size), w, h, time});
    }
    void AddGarbage(const Bytes& g) { stream.insert(stream.end(), g.begin(), g.end()); }
};

Sequence MakeSequence() {
    Sequence s;
    const Bytes p1 = Payload(300, 1), p2 = Payload(1, 2), p3 = Payload(100000, 3), p4 = Payload(160, 4),
                p5 = Payload(25000, 5), p6 = Payload(33, 6), p7 = Payload(64, 7), p8 = Payload(9, 8);
    s.Add(VideoPacket(103, 704, 576, p1), 0, p1, 704, 576, "100250");
    s.Add(AudioPacket(201, p2), 3, p2, 0, 0, "7001");
    s.Add(VideoPacket(101, 352, 288, p3), 1, p3, 352, 288, "100250");
    s.Add(AudioPacket(999, p4), 7, p4, 0, 0, "7001");
    s.Add(VideoPacket(105, 1280, 720, p5, 1300000000, 999999), 2, p5, 1280, 720, "2919877607");
    s.Add(AudioPacket(204, p6), 5, p6, 0, 0, "7001");
    s.Add(AudioPacket(203, p7), 6, p7, 0, 0, "7001");
    s.Add(AudioPacket(202, p8), 4, p8, 0, 0, "7001");
    return s;
}

// Feeds the pieces through a buffer that is overwritten once the parser is done with it, so a
// parser that kept pointing into a piece it had not copied would return garbage.
std::vector<Parsed> ParseInPieces(const Bytes& stream, const std::vector<size_t>& cuts) {
    StreamPacketParser parser;
    std::vector<Parsed> out;
    Bytes piece;
    size_t begin = 0;
    std::vector<size_t> ends = cuts;
    ends.push_back(stream.size());
    for (size_t end : ends) {
        if (end <= begin) continue;
        piece.assign(stream.begin() + static_cast<std::ptrdiff_t>(begin), stream.begin() + static_cast<std::ptrdiff_t>(end));
        EXPECT_TRUE(parser.Feed(piece.data(), piece.size()));
        while (const uint8_t* payload = parser.NextPacket()) {
            Parsed p;
            p.kind = parser.kind();
            p.payload.assign(payload, payload + parser.payload_size());
            const size_t header_size = IsVideoPacketKind(p.kind) ? kVideoHeaderSize : kAudioHeaderSize;
            p.header.assign(parser.GetHeader(), parser.GetHeader() + header_size);
            p.width = parser.width();
            p.height = parser.height();
            p.time_text = parser.GetTimeText();
            out.push_back(std::move(p));
        }
        std::fill(piece.begin(), piece.end(), 0xAA);
        begin = end;
    }
    return out;
}

using CutMaker = std::function<std::vector<size_t>(const Sequence&)>;

std::vector<std::pair<const char*, CutMaker>> FeedStrategies() {
    return {
        {"whole", [](const Sequence&) { return std::vector<size_t>{}; }},
        {"one byte at a time",
         [](const Sequence& s) {
             std::vector<size_t> cuts;
             for (size_t i = 1; i < s.stream.size(); ++i) cuts.push_back(i);
             return cuts;
         }},
        {"random sizes, some above the carry-over size",
         [](const Sequence& s) {
             std::mt19937 rng(12345);
             std::vector<size_t> cuts;
             for (size_t at = 0;;) {
                 at += 1 + rng() % (rng() % 4 == 0 ? 30000 : 3000);
                 if (at >= s.stream.size()) return cuts;
                 cuts.push_back(at);
             }
         }},
        {"cut inside every start code and length field",
         [](const Sequence& s) {
             std::vector<size_t> cuts;
             for (size_t start : s.starts) {
                 if (start > 0) cuts.push_back(start);
                 cuts.push_back(start + 2);
                 cuts.push_back(start + 3);
                 cuts.push_back(start + 6);
                 cuts.push_back(start + 10);
             }
             return cuts;
         }},
    };
}

TEST(StreamPacketParserTest, SamePacketsWhateverThePieces) {
    const Sequence s = MakeSequence();
    for (const auto& [name, cuts] : FeedStrategies()) {
        EXPECT_EQ(ParseInPieces(s.stream, cuts(s)), s.expected) << name;
    }
}

TEST(StreamPacketParserTest, GarbageAndFalseStartCodesBetweenPacketsAreSkipped) {
    const Sequence clean = MakeSequence();
    const auto header = [](uint8_t code, int32_t length, std::optional<int32_t> size = {}) {
        Bytes b = {0x00, 0x00, 0x01, code};
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(length) >> (8 * i)));
        if (size)
            for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(static_cast<uint32_t>(*size) >> (8 * i)));
        return b;
    };
    const std::vector<Bytes> garbage = {
        {0x12, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0xF4, 0xFF},  // near misses
        {0x00, 0x00, 0x01},                                              // a start code's first bytes only
        header(kVideoStartCode, 0),
        header(kVideoStartCode, 8),
        header(kVideoStartCode, 11),
        header(kVideoStartCode, 129),
        header(kVideoStartCode, -1),
        header(kAudioStartCode, 49),
        header(kAudioStartCode, 0x7FFFFFFF),
        header(kVideoStartCode, 128, 0),
        header(kVideoStartCode, 128, -5),
        header(kAudioStartCode, 48, kMaxPayloadSize + 1),
        // A false start code directly before a real one: the real one lies in its length or size field.
        {0x00, 0x00, 0x01, kVideoStartCode},
        {0x00, 0x00, 0x01, kAudioStartCode, 0x30, 0x00, 0x00, 0x00},
    };
    Sequence s;
    for (size_t i = 0; i < clean.expected.size(); ++i) {
        s.AddGarbage(garbage[i % garbage.size()]);
        s.AddGarbage(garbage[(i + 7) % garbage.size()]);
        const size_t from = clean.starts[i];
        const size_t to = i + 1 < clean.starts.size() ? clean.starts[i + 1] : clean.stream.size();
        const Bytes packet(clean.stream.begin() + static_cast<std::ptrdiff_t>(from),
                           clean.stream.begin() + static_cast<std::ptrdiff_t>(to));
        const Parsed& e = clean.expected[i];
        s.Add(packet, e.kind, e.payload, e.width, e.height, e.time_text);
    }
    for (const Bytes& g : garbage) s.AddGarbage(g);
    for (const auto& [name, cuts] : FeedStrategies()) {
        EXPECT_EQ(ParseInPieces(s.stream, cuts(s)), s.expected) << name;
    }
}

TEST(StreamPacketParserTest, PayloadSizeLimits) {
    const Bytes largest = Payload(kMaxPayloadSize, 9);
    const Bytes small = Payload(5, 1);
    Bytes stream = VideoPacket(103, 2, 2, largest);
    // One byte over the limit: the header is dropped, its payload bytes are searched as garbage.
    Bytes too_big = VideoPacket(103, 2, 2, small);
    too_big[kOffPayloadSize] = 0x01;
    too_big[kOffPayloadSize + 2] = 0x20;
    stream.insert(stream.end(), too_big.begin(), too_big.end());
    const Bytes last = AudioPacket(201, small);
    stream.insert(stream.end(), last.begin(), last.end());

    const std::vector<Parsed> got = ParseInPieces(stream, {});
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].payload, largest);
    EXPECT_EQ(got[1].kind, 3);
    EXPECT_EQ(got[1].payload, small);
}

TEST(StreamPacketParserTest, KindsAndHelpers) {
    struct Case {
        bool video;
        int32_t code;
        int32_t kind;
    } cases[] = {{true, 100, 0}, {true, 101, 1}, {true, 102, 1}, {true, 103, 0}, {true, 104, 2}, {true, 105, 2},
                 {true, 0, 0},   {false, 201, 3}, {false, 202, 4}, {false, 203, 6}, {false, 204, 5}, {false, 999, 7},
                 {false, 200, 7}};
    for (const Case& c : cases) {
        StreamPacketHeader h = c.video ? StreamPacketHeader::Video() : StreamPacketHeader::Audio();
        h.SetI32(c.video ? kOffFrameType : kOffAudioType, c.code);
        EXPECT_EQ(StreamPacketKind(h), c.kind) << c.code;
        EXPECT_EQ(IsVideoPacketKind(c.kind), c.video ? 1 : 0);
    }
    EXPECT_EQ(StreamPacketKind(StreamPacketHeader{}), -1);
    EXPECT_EQ(StreamTimeMs(1300000000u, 999999u), 2919877607u);
    EXPECT_EQ(StreamTimeMs(0xFFFFFFFFu, 0xFFFFFFFFu), 0xFFFFFFFFu * 1000u + 0xFFFFFFFFu / 1000u);
}

TEST(StreamPacketParserTest, PacketEndingInsideAPieceCarriesTheRestOver) {
    const Bytes a = Payload(40, 1), b = Payload(50, 2);
    Bytes stream = VideoPacket(103, 8, 8, a);
    const Bytes second = AudioPacket(202, b);
    stream.insert(stream.end(), second.begin(), second.end());
    const size_t cut = stream.size() - 10;

    StreamPacketParser parser;
    ASSERT_TRUE(parser.Feed(stream.data(), cut));
    const uint8_t* first = parser.NextPacket();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Bytes(first, first + parser.payload_size()), a);
    EXPECT_EQ(parser.NextPacket(), nullptr);
    ASSERT_TRUE(parser.Feed(stream.data() + cut, 10));
    const uint8_t* last = parser.NextPacket();
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(parser.kind(), 4);
    EXPECT_EQ(Bytes(last, last + parser.payload_size()), b);
    EXPECT_EQ(parser.NextPacket(), nullptr);
    EXPECT_EQ(parser.GetTimestampMs(), 7001);
}

TEST(StreamPacketParserTest, FeedingBeforeTheInputIsUsedUpAppendsWithinTheCarryOverBuffer) {
    const Bytes a = Payload(100, 1), b = Payload(200, 2);
    const Bytes p1 = VideoPacket(103, 8, 8, a), p2 = AudioPacket(201, b);

    StreamPacketParser parser;
    ASSERT_TRUE(parser.Feed(p1.data(), 50));
    ASSERT_TRUE(parser.Feed(p1.data() + 50, p1.size() - 50));  // the first 50 bytes were not parsed yet
    ASSERT_TRUE(parser.Feed(p2.data(), p2.size()));
    const Bytes big(kCarryOverSize, 0x55);
    EXPECT_FALSE(parser.Feed(big.data(), big.size()));  // would not fit: refused, nothing lost

    const uint8_t* got = parser.NextPacket();
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(Bytes(got, got + parser.payload_size()), a);
    got = parser.NextPacket();
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(Bytes(got, got + parser.payload_size()), b);
    EXPECT_EQ(parser.NextPacket(), nullptr);
}

// A piece larger than the carry-over buffer is parsed in place; with more
// than the buffer holds still unparsed behind a packet, a further piece is
// refused without touching anything, and taken once the input is used up.
TEST(StreamPacketParserTest, FeedRefusedWhileMoreThanTheCarryOverIsUnparsedInPlace) {
    const Bytes a = Payload(10, 1), b = Payload(kCarryOverSize + 100, 2), c = Payload(30, 3);
    Bytes stream = VideoPacket(103, 8, 8, a);
    const Bytes second = VideoPacket(103, 8, 8, b), third = AudioPacket(201, c);
    stream.insert(stream.end(), second.begin(), second.end() - 5);

    StreamPacketParser parser;
    ASSERT_TRUE(parser.Feed(stream.data(), stream.size()));
    const uint8_t* got = parser.NextPacket();
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(Bytes(got, got + parser.payload_size()), a);
    Bytes rest(second.end() - 5, second.end());
    rest.insert(rest.end(), third.begin(), third.end());
    EXPECT_FALSE(parser.Feed(rest.data(), rest.size()));
    EXPECT_EQ(parser.NextPacket(), nullptr);
    ASSERT_TRUE(parser.Feed(rest.data(), rest.size()));
    got = parser.NextPacket();
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(Bytes(got, got + parser.payload_size()), b);
    got = parser.NextPacket();
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(Bytes(got, got + parser.payload_size()), c);
    EXPECT_EQ(parser.NextPacket(), nullptr);
}

TEST(StreamPacketParserTest, ResetDropsAPartialPacket) {
    const Bytes a = Payload(100, 1), b = Payload(10, 2);
    const Bytes p1 = VideoPacket(103, 8, 8, a), p2 = AudioPacket(201, b);
    StreamPacketParser parser;
    ASSERT_TRUE(parser.Feed(p1.data(), 140));
    EXPECT_EQ(parser.NextPacket(), nullptr);
    parser.Reset();
    EXPECT_EQ(parser.GetTimeText(), "");
    EXPECT_EQ(parser.GetTimestampMs(), 0);
    ASSERT_TRUE(parser.Feed(p2.data(), p2.size()));
    const uint8_t* got = parser.NextPacket();
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(parser.kind(), 3);
    EXPECT_EQ(Bytes(got, got + parser.payload_size()), b);
}

}  // namespace
