#include "media/icmp_ping.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstring>

namespace {

thread_local int last_error = 0;

int Fail(int error) {
    last_error = error;
    return 0;
}

class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

uint16_t ReadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool Resolve(const std::string& host, in_addr* address) {
    if (inet_aton(host.c_str(), address)) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

}  // namespace

int IcmpPingLastError() { return last_error; }

IcmpPingAbort::IcmpPingAbort() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

IcmpPingAbort::~IcmpPingAbort() {
    if (fd_ >= 0) close(fd_);
}

void IcmpPingAbort::Abort() {
    const uint64_t one = 1;
    if (fd_ >= 0 && write(fd_, &one, sizeof one) < 0) {
        // The counter is full: it is signalled already.
    }
}

void IcmpPingAbort::Reset() {
    uint64_t count = 0;
    if (fd_ >= 0 && read(fd_, &count, sizeof count) < 0) {
        // Nothing to drain: it was not signalled.
    }
}

bool IcmpPingAbort::Aborted() const {
    pollfd p{fd_, POLLIN, 0};
    return fd_ >= 0 && poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

uint16_t InternetChecksum(const uint8_t* data, size_t size) {
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 1 < size; i += 2) sum += ReadLe16(data + i);
    if (i < size) sum += data[i];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

std::vector<uint8_t> BuildEchoRequest(uint16_t identifier, uint32_t tick_ms, uint16_t sequence) {
    std::vector<uint8_t> m(kIcmpEchoSize, 0);
    m[0] = 8;
    m[4] = static_cast<uint8_t>(identifier);
    m[5] = static_cast<uint8_t>(identifier >> 8);
    m[6] = static_cast<uint8_t>(sequence);
    m[7] = static_cast<uint8_t>(sequence >> 8);
    for (int i = 0; i < 4; ++i) m[8 + i] = static_cast<uint8_t>(tick_ms >> (8 * i));
    std::memset(&m[12], 0x45, 32);
    const uint16_t sum = InternetChecksum(m.data(), m.size());
    m[2] = static_cast<uint8_t>(sum);
    m[3] = static_cast<uint8_t>(sum >> 8);
    return m;
}

EchoReplyMatch MatchEchoReply(const uint8_t* data, size_t size, bool with_ip_header, uint16_t identifier,
                              uint16_t sequence) {
    if (!data || size == 0) return EchoReplyMatch::kMismatch;
    const size_t header = with_ip_header ? static_cast<size_t>(data[0] & 0x0F) * 4 : 0;
    if (size < header + 8) return EchoReplyMatch::kMismatch;
    const uint8_t type = data[header];
    if (type == 8) return EchoReplyMatch::kIgnore;
    if (type != 0) return EchoReplyMatch::kMismatch;
    // A raw socket sees every echo reply on the host: another program's, or a concurrent
    // ping's of this one, is not ours and is not a failure either.
    if (ReadLe16(data + header + 4) != identifier || ReadLe16(data + header + 6) != sequence)
        return EchoReplyMatch::kIgnore;
    return EchoReplyMatch::kMatch;
}

int IcmpPing(const std::string& host, IcmpPingResult* result, const IcmpPingAbort* abort) {
    last_error = 0;
    if (abort && abort->Aborted()) return Fail(kIcmpErrorAborted);
    in_addr address{};
    if (!Resolve(host, &address)) return Fail(kIcmpErrorHostNotFound);

    bool raw = false;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        raw = true;
    }
    if (fd < 0) return Fail(errno);
    Socket sock(fd);

    uint16_t identifier = static_cast<uint16_t>(getpid() & 0xFFFF);
    if (!raw) {
        // A datagram socket's identifier is its local port; ask for ours, take what is given.
        sockaddr_in local{};
        local.sin_family = AF_INET;
        std::memcpy(&local.sin_port, &identifier, sizeof identifier);
        if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            local.sin_port = 0;
            bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);
        }
        socklen_t length = sizeof local;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
            std::memcpy(&identifier, &local.sin_port, sizeof identifier);
        }
    }

    static std::atomic<uint16_t> next_sequence{0};
    const uint16_t sequence = next_sequence.fetch_add(1);
    const std::vector<uint8_t> request = BuildEchoRequest(identifier, static_cast<uint32_t>(NowMs()), sequence);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr = address;
    if (sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&target), sizeof target) < 0)
        return Fail(errno);
    return WaitForEchoReply(fd, raw, identifier, sequence, kIcmpTimeoutMs, abort, result);
}

int WaitForEchoReply(int fd, bool with_ip_header, uint16_t identifier, uint16_t sequence, int timeout_ms,
                     const IcmpPingAbort* abort, IcmpPingResult* result) {
    last_error = 0;
    const auto sent_at = std::chrono::steady_clock::now();
    const int64_t deadline = NowMs() + timeout_ms;
    for (;;) {
        const int64_t left = deadline - NowMs();
        if (left <= 0) return Fail(kIcmpErrorTimeout);
        pollfd p[2] = {{fd, POLLIN, 0}, {abort ? abort->fd() : -1, POLLIN, 0}};
        const int ready = poll(p, 2, static_cast<int>(left));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return Fail(errno);
        }
        if (p[1].revents & POLLIN) return Fail(kIcmpErrorAborted);
        if (ready == 0) return Fail(kIcmpErrorTimeout);

        uint8_t reply[1024];
        sockaddr_in from{};
        socklen_t from_length = sizeof from;
        const ssize_t got = recvfrom(fd, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), &from_length);
        if (got < 0) return Fail(errno);
        const auto received_at = std::chrono::steady_clock::now();
        switch (MatchEchoReply(reply, static_cast<size_t>(got), with_ip_header, identifier, sequence)) {
            case EchoReplyMatch::kIgnore: continue;
            case EchoReplyMatch::kMismatch: return Fail(kIcmpErrorUnexpectedReply);
            case EchoReplyMatch::kMatch:
                if (result) {
                    result->address = from.sin_addr.s_addr;
                    result->round_trip_ms = static_cast<uint32_t>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(received_at - sent_at).count());
                }
                return 1;
        }
    }
}
