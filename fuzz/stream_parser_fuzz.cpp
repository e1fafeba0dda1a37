// The recorder's stream as the input gives it, fed in pieces whose sizes the
// input's first bytes choose (through start codes, above the carry-over size).
// Every packet must respect the format's limits, and the whole stream fed again
// in one piece must give the same packets: how it was cut may not matter.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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
                           size_t size_count) {
    parser.Reset();
    std::vector<Summary> out;
    std::vector<uint8_t> piece;
    size_t at = 0, k = 0;
    while (at < size) {
        size_t n = size - at;
        if (size_count) {
            const uint8_t s = sizes[k++ % size_count];
            n = std::min(n, s >= 0xF0 ? streamformat::kCarryOverSize + s : static_cast<size_t>(s) + 1);
        }
        piece.assign(data + at, data + at + n);
        if (!parser.Feed(piece.data(), piece.size())) std::abort();
        while (const uint8_t* payload = parser.NextPacket()) {
            const int32_t length = parser.payload_size();
            if (length < 1 || length > streamformat::kMaxPayloadSize) std::abort();
            const int32_t kind = parser.kind();
            if (kind < 0 || kind > 7 || !parser.GetHeader()) std::abort();
            out.push_back({kind, length, payload[0], payload[length - 1]});
        }
        std::memset(piece.data(), 0xAA, piece.size());
        at += n;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static StreamPacketParser parser;
    const size_t size_count = size ? std::min<size_t>(data[0] % 16, size - 1) : 0;
    const uint8_t* sizes = data + 1;
    const uint8_t* stream = data + 1 + size_count;
    const size_t stream_size = size ? size - 1 - size_count : 0;
    const std::vector<Summary> in_pieces = Parse(parser, stream, stream_size, sizes, size_count);
    const std::vector<Summary> whole = Parse(parser, stream, stream_size, nullptr, 0);
    if (!(in_pieces == whole)) std::abort();
    return 0;
}
