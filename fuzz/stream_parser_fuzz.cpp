// The recorder's stream as the input gives it, fed in pieces whose sizes the
// input's first bytes choose (through start codes, above the carry-over size).
// Every packet must respect the format's limits, and the whole stream fed again
// in one piece must give the same packets: how it was cut may not matter.
// With the first byte's top bit set, each next piece is fed right after the
// first packet of the last one, before its input is used up: a piece that does
// not fit beside what is left is refused, and taken once the input is used up.
// With its next bit set, twice the carry-over size of filler follows the
// stream's first bytes (as many as the next byte says), so that more than the
// carry-over buffer holds can be left unparsed in place behind a packet.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "media/stream_packet_parser.h"

namespace {

struct Summary {
    int32_t kind;
    int32_t size;
    uint32_t first, last;
    bool operator==(const Summary&) const = default;
};

std::vector<Summary> Parse(StreamPacketParser& parser, const uint8_t* data, size_t size, const uint8_t* sizes,
                           size_t size_count, bool feed_early) {
    parser.Reset();
    std::vector<Summary> out;
    auto take = [&](const uint8_t* payload) {
        const int32_t length = parser.payload_size();
        if (length < 1 || length > streamformat::kMaxPayloadSize) std::abort();
        const int32_t kind = parser.kind();
        if (kind < 0 || kind > 7 || !parser.GetHeader()) std::abort();
        out.push_back({kind, length, payload[0], payload[length - 1]});
    };
    auto drain = [&] {
        while (const uint8_t* payload = parser.NextPacket()) take(payload);
    };
    // Pieces parsed in place must outlive their parsing; fed early, that can be
    // after the next piece came, so every piece is kept.
    std::deque<std::vector<uint8_t>> pieces;
    size_t at = 0, k = 0;
    while (at < size) {
        size_t n = size - at;
        if (size_count) {
            const uint8_t s = sizes[k++ % size_count];
            n = std::min(n, s >= 0xF0 ? streamformat::kCarryOverSize * (s - 0xEE) / 2 : static_cast<size_t>(s) + 1);
        }
        if (!feed_early) pieces.clear();
        std::vector<uint8_t>& piece = pieces.emplace_back(data + at, data + at + n);
        if (!parser.Feed(piece.data(), piece.size())) {
            if (!feed_early) std::abort();
            drain();
            if (!parser.Feed(piece.data(), piece.size())) std::abort();
        }
        if (feed_early) {
            if (const uint8_t* payload = parser.NextPacket()) take(payload);
        } else {
            drain();
            std::memset(piece.data(), 0xAA, piece.size());
        }
        at += n;
    }
    drain();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static StreamPacketParser parser;
    if (size < 2) return 0;
    const size_t size_count = std::min<size_t>(data[0] % 16, size - 2);
    const bool feed_early = (data[0] & 0x80) != 0;
    const uint8_t* sizes = data + 2;
    std::vector<uint8_t> stream(data + 2 + size_count, data + size);
    if (data[0] & 0x40) {
        const size_t at = std::min<size_t>(data[1], stream.size());
        stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(at), 2 * streamformat::kCarryOverSize, 0);
    }
    const std::vector<Summary> in_pieces =
        Parse(parser, stream.data(), stream.size(), sizes, size_count, feed_early);
    const std::vector<Summary> whole = Parse(parser, stream.data(), stream.size(), nullptr, 0, false);
    if (!(in_pieces == whole)) std::abort();
    return 0;
}
