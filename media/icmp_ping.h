#pragma once
// One ICMP echo to a recorder before any HTTP is tried. An unprivileged ICMP
// datagram socket is used when the system allows it, else a raw socket.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct IcmpPingResult {
    uint32_t address = 0;  // IPv4 address of the replying host, network order
    uint32_t round_trip_ms = 0;
};

// Last-error values of a failed ping (per thread); socket failures give their errno.
constexpr int kIcmpErrorTimeout = 10060;
constexpr int kIcmpErrorAborted = ECANCELED;
constexpr int kIcmpErrorUnexpectedReply = 59;
constexpr int kIcmpErrorHostNotFound = 11001;
constexpr int kIcmpTimeoutMs = 5000;
constexpr size_t kIcmpEchoSize = 44;

// Lets the owner of a ping cut its wait short from any thread. Once aborted it stays so, and
// every ping given it fails at once, until Reset.
class IcmpPingAbort {
public:
    IcmpPingAbort();
    ~IcmpPingAbort();
    IcmpPingAbort(const IcmpPingAbort&) = delete;
    IcmpPingAbort& operator=(const IcmpPingAbort&) = delete;
    void Abort();
    void Reset();
    bool Aborted() const;
    // Readable once aborted.
    int fd() const { return fd_; }

private:
    int fd_;
};

// 1 when a matching echo reply arrived within 5 s, 0 otherwise (see IcmpPingLastError);
// abort, when given, ends the wait at once with kIcmpErrorAborted.
int IcmpPing(const std::string& host, IcmpPingResult* result, const IcmpPingAbort* abort = nullptr);
// The wait for our echo reply on a socket the request went out on (with_ip_header for raw
// sockets), at most timeout_ms: 1 with the result filled, or 0 with the last error set.
int WaitForEchoReply(int fd, bool with_ip_header, uint16_t identifier, uint16_t sequence, int timeout_ms,
                     const IcmpPingAbort* abort, IcmpPingResult* result);
int IcmpPingLastError();

// RFC 1071 checksum, as stored in the message (the message's own byte order).
uint16_t InternetChecksum(const uint8_t* data, size_t size);
// The 44-byte echo request: identifier, sequence and tick count in little-endian, payload 0x45.
std::vector<uint8_t> BuildEchoRequest(uint16_t identifier, uint32_t tick_ms, uint16_t sequence = 0);

enum class EchoReplyMatch { kMatch, kIgnore, kMismatch };
// Judges one received datagram: with_ip_header for raw sockets. Echo requests (our own,
// looped back to a raw socket) are ignored, and so are echo replies to other pings (another
// identifier or sequence); anything else but our echo reply is a mismatch.
EchoReplyMatch MatchEchoReply(const uint8_t* data, size_t size, bool with_ip_header, uint16_t identifier,
                              uint16_t sequence = 0);
