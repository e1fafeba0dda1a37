#include "tools/common/fake_recorder.h"

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
#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "media/data_folder.h"
#include "media/disk_format.h"
#include "media/http_get.h"
#include "media/minute_file.h"
#include "media/stream_packet_parser.h"
#include "platform/data_file.h"
#include "tools/common/avdata_dump.h"

namespace fake {

namespace {

using namespace streamformat;

constexpr int kSecondsPerDay = 86400;
constexpr int kRecordsPerPage = 500;
// Day indexes larger than this are damage, not recordings.
constexpr int32_t kMaxDayEntries = 200000;
// Minute files looked into for channel titles at start-up.
constexpr int kTitleSearchFiles = 200;
// The first picture of each second on a slow link.
constexpr size_t kSlowLinkPicture = 100 * 1000;
const int kSpeedLadder[] = {532, 516, 508, 504, 502, 1, 102, 104, 108, 116, 132};

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool ParseInt(const std::string& text, int* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || v < -1000000000L || v > 1000000000L) return false;
    *out = static_cast<int>(v);
    return true;
}

bool ParseList(const std::string& text, std::vector<int>* out) {
    out->clear();
    size_t begin = 0;
    for (;;) {
        const size_t comma = text.find(',', begin);
        int v = 0;
        if (!ParseInt(text.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin), &v))
            return false;
        out->push_back(v);
        if (comma == std::string::npos) return true;
        begin = comma + 1;
    }
}

bool Param(const httplib::Request& req, const char* key, int* out) {
    return req.has_param(key) && ParseInt(req.get_param_value(key), out);
}

// Channel flags "1,0,1,0" (or the preview's nine) to a mask of channels 1-4.
bool ParseChannels(const httplib::Request& req, const char* key, int* mask) {
    std::vector<int> flags;
    if (!req.has_param(key) || !ParseList(req.get_param_value(key), &flags)) return false;
    *mask = 0;
    for (size_t c = 0; c < flags.size() && c < 4; ++c)
        if (flags[c] == 1) *mask |= 1 << c;
    return true;
}

struct DayTime {
    int year = 0, month = 0, day = 0, second = 0;
};

// "y,m,d,h,m,s" to a date and the second of that day.
bool ParseDayTime(const httplib::Request& req, const char* key, DayTime* out) {
    std::vector<int> v;
    if (!req.has_param(key) || !ParseList(req.get_param_value(key), &v) || v.size() != 6) return false;
    if (v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31 || v[3] < 0 || v[3] > 23 || v[4] < 0 || v[4] > 59 ||
        v[5] < 0 || v[5] > 59)
        return false;
    *out = {v[0], v[1], v[2], v[3] * 3600 + v[4] * 60 + v[5]};
    return true;
}

double SpeedFactor(int code) {
    if (code > 100 && code < 200) return code - 100;
    if (code > 500 && code < 600) return 1.0 / (code - 500);
    return 1.0;
}

int StepSpeed(int code, int direction) {
    const int n = static_cast<int>(std::size(kSpeedLadder));
    int i = 5;
    for (int k = 0; k < n; ++k)
        if (kSpeedLadder[k] == code) i = k;
    return kSpeedLadder[std::clamp(i + direction, 0, n - 1)];
}

std::string HhMmSs(int32_t second) {
    second = std::clamp(second, 0, kSecondsPerDay - 1);
    char text[16];
    std::snprintf(text, sizeof text, "%.2d%.2d%.2d", second / 3600, second / 60 % 60, second % 60);
    return text;
}

void Reply(httplib::Response& res, int status, const std::string& body) {
    res.status = status;
    res.set_content(body, "text/plain");
}

bool SameSocket(int fd, const httplib::Request& req) {
    sockaddr_storage local{}, peer{};
    socklen_t local_length = sizeof local, peer_length = sizeof peer;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_length) != 0 ||
        getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_length) != 0)
        return false;
    char address[INET6_ADDRSTRLEN] = {};
    int local_port = -1, peer_port = -1;
    if (peer.ss_family == AF_INET) {
        const auto* p = reinterpret_cast<const sockaddr_in*>(&peer);
        inet_ntop(AF_INET, &p->sin_addr, address, sizeof address);
        peer_port = ntohs(p->sin_port);
        local_port = ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
    } else if (peer.ss_family == AF_INET6) {
        const auto* p = reinterpret_cast<const sockaddr_in6*>(&peer);
        inet_ntop(AF_INET6, &p->sin6_addr, address, sizeof address);
        peer_port = ntohs(p->sin6_port);
        local_port = ntohs(reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port);
    } else {
        return false;
    }
    return local_port == req.local_port && peer_port == req.remote_port && req.remote_addr == address;
}

// The server library hides the socket of a request; the fault paths need it to hang up
// without a reply and to notice a client that left a silent stream.
int FindRequestSocket(const httplib::Request& req) {
    for (const platform::FolderEntry& e : platform::ListFolder("/proc/self/fd")) {
        const int fd = std::atoi(e.name.c_str());
        if (fd > 2 && SameSocket(fd, req)) return fd;
    }
    return -1;
}

bool PeerGone(int fd) {
    if (fd < 0) return false;
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    if (poll(&p, 1, 0) <= 0) return false;
    if (p.revents & (POLLHUP | POLLERR | POLLRDHUP)) return true;
    char c = 0;
    return (p.revents & POLLIN) && recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

int32_t FrameTypeCode(const MinuteFrameEntry& e) {
    switch (e.codec) {
        case diskformat::kCodecMpeg4: return e.key == 1 ? kFrameMpeg4Key : kFrameMpeg4;
        case diskformat::kCodecH264: return e.key == 1 ? kFrameH264Key : kFrameH264;
        default: return kFrameMjpeg;
    }
}

int32_t AudioTypeCode(uint8_t codec) {
    switch (codec) {
        case diskformat::kAudioAac: return kAudioAac;
        case diskformat::kAudioG711A: return kAudioG711First;
        case diskformat::kAudioG711B: return kAudioG711Second;
        case diskformat::kAudioG726: return kAudioG726;
        default: return kAudioPcm;
    }
}

void SetTime(StreamPacketHeader* h, int64_t ms) {
    const uint64_t u = static_cast<uint64_t>(ms);
    h->SetI32(kOffSeconds, static_cast<int32_t>(u / 1000));
    h->SetI32(kOffMicroseconds, static_cast<int32_t>(u % 1000 * 1000));
}

uint16_t U16Clamp(int32_t v) { return static_cast<uint16_t>(std::clamp(v, 0, 65535)); }

struct Session {
    bool searched = false;
    DayTime start;
    int end_second = 0;
    int channels = 0;
    int position = 0;
    int playop = 0;  // 0 nothing selected, 1 playing, 2 paused
    int speed = 1;
    uint64_t seek_serial = 0;
    uint64_t stream_serial = 0;
    bool backup = false;
    int backup_channel = 0;
    DayTime backup_start;
    int backup_end_second = 0;
};

}  // namespace

bool ParseFault(const std::string& text, Fault* fault) {
    Fault f;
    std::string kind = text;
    const size_t colon = text.find(':');
    if (colon != std::string::npos) {
        kind = text.substr(0, colon);
        f.path = text.substr(colon + 1);
        if (f.path.empty() || f.path.front() != '/') return false;
    }
    const auto number = [&kind](const char* prefix, int* out) {
        const size_t n = std::strlen(prefix);
        return kind.rfind(prefix, 0) == 0 && ParseInt(kind.substr(n), out) && *out >= 0;
    };
    int value = 0;
    if (kind == "getid-busy") {
        f.kind = FaultKind::kGetIdBusy;
    } else if (kind == "unavailable") {
        f.kind = FaultKind::kUnavailable;
    } else if (kind == "garbage") {
        f.kind = FaultKind::kGarbage;
    } else if (kind == "unauthorized") {
        f.kind = FaultKind::kUnauthorized;
    } else if (kind == "redirect") {
        f.kind = FaultKind::kRedirect;
    } else if (kind == "endless") {
        f.kind = FaultKind::kEndless;
    } else if (kind == "error-page") {
        f.kind = FaultKind::kErrorPage;
    } else if (kind == "silent") {
        f.kind = FaultKind::kSilent;
    } else if (number("stall-after=", &value)) {
        f.kind = FaultKind::kStallAfter;
        f.seconds = value;
    } else if (number("drop-after=", &value)) {
        f.kind = FaultKind::kDropAfter;
        f.seconds = value;
    } else if (number("end-after=", &value)) {
        f.kind = FaultKind::kEndAfter;
        f.seconds = value;
    } else if (kind == "odd-status") {
        f.kind = FaultKind::kOddStatus;
    } else if (kind == "partial") {
        f.kind = FaultKind::kPartial;
    } else if (kind == "no-end-marker") {
        f.kind = FaultKind::kNoEndMarker;
    } else if (kind == "repeat-range") {
        f.kind = FaultKind::kRepeatRange;
    } else if (number("slow-link=", &value) && value > 0) {
        f.kind = FaultKind::kSlowLink;
        f.kbits = value;
    } else if (number("trickle=", &value) && value > 0) {
        f.kind = FaultKind::kTrickle;
        f.millis = value;
    } else {
        return false;
    }
    *fault = std::move(f);
    return true;
}

namespace {

// What the request handlers and the stream replies share.
struct ServerState {
    FakeRecorderOptions options;
    std::string avdata;
    std::array<std::string, 4> names;
    std::string authorization;

    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::map<int, Session> sessions;
    int next_id = 1;
    std::atomic<bool> drop_tripped{false};
    std::atomic<int> streams{0};
    std::atomic<int> held{0};  // silent requests whose client still waits
    mutable std::mutex paths_mutex;
    std::condition_variable path_added;  // a request came, or a silent fault holds one more
    std::vector<std::string> paths;  // target (path and query) of every request, in order

    // False once stopping; waits at most ms otherwise.
    bool WaitFor(int64_t ms) {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait_for(lock, std::chrono::milliseconds(std::max<int64_t>(ms, 1)), [this] { return stopping; });
        return !stopping;
    }
};

// One stream reply: reads the disk copy second by second and writes packets through the sink.
class StreamJob {
public:
    StreamJob(ServerState* impl, int id, uint64_t serial, int channels, bool backup, int fd, std::string path)
        : impl_(impl), id_(id), serial_(serial), channels_(channels), backup_(backup), fd_(fd), path_(std::move(path)),
          started_ms_(NowMs()), rng_(static_cast<uint32_t>(id * 7919 + serial)) {}

    bool Provide(httplib::DataSink& sink);

private:
    bool Current(Session* s);
    // shown_second: the second the packets say they are of (the one read unless given).
    void Load(const DayTime& day, int second, int channels, int shown_second = -1);
    void Advance(const Session& s);
    bool Write(httplib::DataSink& sink, const std::vector<uint8_t>& packet);
    bool ProvideBackup(httplib::DataSink& sink, const Session& s);
    std::vector<uint8_t> Garbage();

    ServerState* impl_;
    int id_;
    uint64_t serial_;
    int channels_;
    bool backup_;
    int fd_;
    std::string path_;
    int64_t started_ms_;
    std::mt19937 rng_;

    uint64_t seek_serial_ = 0;
    bool seek_known_ = false;
    int loaded_second_ = -1;
    bool ended_ = false;
    std::vector<std::vector<uint8_t>> packets_;
    size_t next_ = 0;
    int64_t second_started_ms_ = 0;
    int backup_second_ = -1;

    MinuteFile minute_;
    std::string minute_key_;
    bool minute_ok_ = false;
};

bool StreamJob::Current(Session* s) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    auto it = impl_->sessions.find(id_);
    // A newer stream request of the same session ends this one, as one session plays one stream.
    if (impl_->stopping || it == impl_->sessions.end() || it->second.stream_serial != serial_) return false;
    *s = it->second;
    return true;
}

void StreamJob::Load(const DayTime& day, int second, int channels, int shown_second) {
    packets_.clear();
    next_ = 0;
    const int hour = second / 3600, minute = second / 60 % 60, s = second % 60;
    if (shown_second < 0) shown_second = second;
    const int64_t shift_ms = (shown_second - second) * 1000LL;
    const int shown[3] = {shown_second / 3600 % 24, shown_second / 60 % 60, shown_second % 60};
    bool padded = false;
    char key[48];
    std::snprintf(key, sizeof key, "%d-%d-%d-%d-%d", day.year, day.month, day.day, hour, minute);
    if (minute_key_ != key) {
        minute_key_ = key;
        minute_ok_ = minute_.Open(impl_->avdata, day.year, day.month, day.day, hour, minute);
    }
    if (!minute_ok_) return;
    struct Item {
        int64_t stamp;
        std::vector<uint8_t> bytes;
    };
    std::vector<Item> items;
    for (int c = 0; c < 4; ++c) {
        if (!(channels & (1 << c)) || !minute_.Second(s).ChannelPresent(c)) continue;
        ChannelSecondBlock block;
        int64_t position = 0;
        if (!minute_.ReadBlock(s, c, &block, &position)) continue;
        const std::u16string title = block.Title(c);
        for (const MinuteFrame& f : minute_.ReadFrames(block, position)) {
            const MinuteFrameEntry& e = f.entry;
            StreamPacketHeader h = e.kind == diskformat::kKindVideo ? StreamPacketHeader::Video() : StreamPacketHeader::Audio();
            SetTime(&h, e.time_stamp_full + shift_ms);
            std::vector<uint8_t> payload = f.data;
            if (e.kind == diskformat::kKindVideo) {
                const int date[6] = {day.year, day.month, day.day, shown[0], shown[1], shown[2]};
                // A large key picture: the bytes after the picture's end are ignored by decoders.
                if (impl_->options.fault.kind == FaultKind::kSlowLink && !padded) {
                    padded = true;
                    if (payload.size() < kSlowLinkPicture) payload.resize(kSlowLinkPicture, 0);
                }
                for (int i = 0; i < 6; ++i) h.SetU16(kOffDate + 2 * i, U16Clamp(date[i]));
                h.SetI32(kOffCharWidth, 2);
                for (size_t i = 0; i < title.size() && i < static_cast<size_t>(kTitleSize / 2 - 1); ++i) h.SetU16(kOffTitle + 2 * static_cast<int>(i), title[i]);
                h.SetI32(kOffFrameType, FrameTypeCode(e));
                h.SetU16(kOffVideoChannelMask, static_cast<uint16_t>(1 << c));
                h.SetU16(kOffWidth, U16Clamp(e.width));
                h.SetU16(kOffHeight, U16Clamp(e.height));
            } else {
                h.SetI32(kOffAudioType, AudioTypeCode(e.codec));
                h.SetU16(kOffAudioChannelMask, static_cast<uint16_t>(1 << c));
                h.SetU16(kOffAudioChannels, U16Clamp(e.channels));
                h.SetI32(kOffSampleRate, e.sample_rate);
                h.SetI32(kOffBitsPerSample, e.bits);
            }
            items.push_back({e.time_stamp_full, BuildStreamPacket(h, payload.data(), payload.size())});
        }
    }
    std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.stamp < b.stamp; });
    for (Item& item : items) packets_.push_back(std::move(item.bytes));
}

void StreamJob::Advance(const Session& s) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    auto it = impl_->sessions.find(id_);
    if (it != impl_->sessions.end() && it->second.seek_serial == seek_serial_ && it->second.position == loaded_second_) {
        if (loaded_second_ < s.end_second) {
            it->second.position = loaded_second_ + 1;
        } else {
            ended_ = true;
        }
    }
    loaded_second_ = -1;
    packets_.clear();
    next_ = 0;
}

std::vector<uint8_t> StreamJob::Garbage() {
    std::vector<uint8_t> g(1 + rng_() % 48);
    for (uint8_t& b : g) {
        b = static_cast<uint8_t>(rng_());
        if (b == 0x01) b = 0x00;  // no "00 00 01" inside, so no start code either
    }
    if (rng_() % 4 == 0) {
        const uint8_t near_miss[] = {0x00, 0x00, 0x01, static_cast<uint8_t>(0x02 + rng_() % 0xF0)};
        g.insert(g.end(), near_miss, near_miss + 4);
        if (g.back() == kVideoStartCode || g.back() == kAudioStartCode) g.back() = 0x7F;
    }
    return g;
}

bool StreamJob::Write(httplib::DataSink& sink, const std::vector<uint8_t>& packet) {
    const Fault& fault = impl_->options.fault;
    if (fault.kind == FaultKind::kGarbage) {
        const std::vector<uint8_t> g = Garbage();
        if (!sink.write(reinterpret_cast<const char*>(g.data()), g.size())) return false;
    }
    if (fault.kind == FaultKind::kTrickle && fault.Covers(path_)) {
        for (uint8_t byte : packet) {
            if (PeerGone(fd_) || !impl_->WaitFor(fault.millis)) return false;
            if (!sink.write(reinterpret_cast<const char*>(&byte), 1)) return false;
        }
        return true;
    }
    if (fault.kind == FaultKind::kSlowLink && fault.Covers(path_)) {
        // A steady link: a piece every 10 ms, never a pause longer than that.
        const size_t piece = std::max<size_t>(1, static_cast<size_t>(fault.kbits) * 10 / 8);
        for (size_t at = 0; at < packet.size(); at += piece) {
            if (PeerGone(fd_) || !impl_->WaitFor(10)) return false;
            const size_t n = std::min(piece, packet.size() - at);
            if (!sink.write(reinterpret_cast<const char*>(packet.data() + at), n)) return false;
        }
        return true;
    }
    return sink.write(reinterpret_cast<const char*>(packet.data()), packet.size());
}

bool StreamJob::ProvideBackup(httplib::DataSink& sink, const Session& s) {
    if (backup_second_ < 0) backup_second_ = s.backup_start.second;
    if (backup_second_ > s.backup_end_second && impl_->options.fault.kind == FaultKind::kNoEndMarker) {
        // The range's pictures again, their clock going on past the end.
        const int length = s.backup_end_second - s.backup_start.second + 1;
        const int shown = backup_second_++;
        Load(s.backup_start, s.backup_start.second + (shown - s.backup_start.second) % length, 1 << s.backup_channel,
             shown);
        for (const std::vector<uint8_t>& p : packets_)
            if (!Write(sink, p)) return false;
        return true;
    }
    if (backup_second_ > s.backup_end_second && impl_->options.fault.kind == FaultKind::kRepeatRange)
        backup_second_ = s.backup_start.second;
    if (backup_second_ > s.backup_end_second) {
        // State 2 ends the exported channel; the payload is a dummy byte, as empty packets are invalid.
        StreamPacketHeader h = StreamPacketHeader::Video();
        h.SetI32(kOffMarker, 2);
        const int end = s.backup_end_second;
        const int date[6] = {s.backup_start.year, s.backup_start.month, s.backup_start.day, end / 3600, end / 60 % 60, end % 60};
        for (int i = 0; i < 6; ++i) h.SetU16(kOffDate + 2 * i, U16Clamp(date[i]));
        h.SetI32(kOffCharWidth, 2);
        h.SetU16(kOffVideoChannelMask, static_cast<uint16_t>(1 << s.backup_channel));
        const uint8_t dummy = 0;
        const bool ok = Write(sink, BuildStreamPacket(h, &dummy, 1));
        sink.done();
        return ok;
    }
    Load(s.backup_start, backup_second_++, 1 << s.backup_channel);
    for (const std::vector<uint8_t>& p : packets_)
        if (!Write(sink, p)) return false;
    return true;
}

bool StreamJob::Provide(httplib::DataSink& sink) {
    if (PeerGone(fd_)) return false;
    const Fault& fault = impl_->options.fault;
    const int64_t elapsed = NowMs() - started_ms_;
    if (fault.kind == FaultKind::kStallAfter && elapsed >= fault.seconds * 1000LL) return impl_->WaitFor(100);
    if (fault.kind == FaultKind::kDropAfter && elapsed >= fault.seconds * 1000LL) {
        impl_->drop_tripped = true;
        return false;
    }
    if (fault.kind == FaultKind::kEndAfter && elapsed >= fault.seconds * 1000LL) {
        sink.done();
        return true;
    }
    Session s;
    if (!Current(&s)) return false;
    if (!seek_known_ || s.seek_serial != seek_serial_) {
        seek_known_ = true;
        seek_serial_ = s.seek_serial;
        loaded_second_ = -1;
        packets_.clear();
        ended_ = false;
    }
    if (backup_) return ProvideBackup(sink, s);
    if (s.playop != 1 || ended_) return impl_->WaitFor(50);

    if (loaded_second_ < 0) {
        Load(s.start, s.position, channels_);
        loaded_second_ = s.position;
        second_started_ms_ = NowMs();
        // A gap is passed over at once, as the recorder skips to the next recording.
        if (packets_.empty()) Advance(s);
        return true;
    }
    const int64_t second_ms = std::max<int64_t>(1, static_cast<int64_t>(1000.0 / SpeedFactor(s.speed)));
    const int64_t now = NowMs();
    if (next_ < packets_.size()) {
        const int64_t due = second_started_ms_ + second_ms * static_cast<int64_t>(next_) / static_cast<int64_t>(packets_.size());
        if (now < due) return impl_->WaitFor(std::min<int64_t>(due - now, 100));
        return Write(sink, packets_[next_++]);
    }
    if (now < second_started_ms_ + second_ms) return impl_->WaitFor(std::min<int64_t>(second_started_ms_ + second_ms - now, 100));
    Advance(s);
    return true;
}

}  // namespace

struct FakeRecorder::Impl {
    ServerState state;
    httplib::Server server;
    std::thread thread;
    int port = 0;
    bool used = false;

    void FindChannelNames();
    void Routes();
    // Registers a route whose replies the trickle and endless faults may reshape.
    template <typename Handler>
    void Get(const std::string& pattern, Handler handler) {
        server.Get(pattern, [this, handler](const httplib::Request& req, httplib::Response& res) {
            handler(req, res);
            ShapeReply(req, res);
        });
    }
    void ShapeReply(const httplib::Request& req, httplib::Response& res);
    bool SessionOf(const httplib::Request& req, httplib::Response& res, int* id);
    void Stream(const httplib::Request& req, httplib::Response& res);
};

void FakeRecorder::Impl::FindChannelNames() {
    for (int c = 0; c < 4; ++c) state.names[static_cast<size_t>(c)].clear();
    int files = 0;
    for (const auto& y : platform::ListFolder(state.avdata)) {
        for (const auto& m : platform::ListFolder(state.avdata + "/" + y.name)) {
            for (const auto& d : platform::ListFolder(state.avdata + "/" + y.name + "/" + m.name)) {
                const int year = std::atoi(y.name.c_str()), month = std::atoi(m.name.c_str()), day = std::atoi(d.name.c_str());
                DayIndexHeader header;
                if (!ReadRecordListHeader(state.avdata, year, month, day, &header)) continue;
                const int32_t count = header.count();
                if (count <= 0 || count > kMaxDayEntries) continue;
                std::vector<DayIndexEntry> entries(static_cast<size_t>(count));
                const int n = ReadRecordList(state.avdata, year, month, day, entries.data(), count);
                for (int i = 0; i < n && files < kTitleSearchFiles; ++i) {
                    const int32_t start = entries[static_cast<size_t>(i)].StartSecond();
                    if (start < 0 || start >= kSecondsPerDay) continue;
                    MinuteFile file;
                    ++files;
                    if (!file.Open(state.avdata, year, month, day, start / 3600, start / 60 % 60)) continue;
                    for (int c = 0; c < 4; ++c) {
                        for (int s = 0; s < 60 && state.names[static_cast<size_t>(c)].empty(); ++s) {
                            ChannelSecondBlock block;
                            int64_t position = 0;
                            if (file.Second(s).ChannelPresent(c) && file.ReadBlock(s, c, &block, &position))
                                state.names[static_cast<size_t>(c)] = Utf16ToUtf8(block.Title(c));
                        }
                    }
                }
            }
        }
    }
    for (int c = 0; c < 4; ++c) {
        std::string& name = state.names[static_cast<size_t>(c)];
        // A name may not break the reply's line and field separators.
        std::replace_if(name.begin(), name.end(), [](char ch) { return ch == ';' || ch == '\n' || ch == '\r'; }, ' ');
        if (name.empty()) name = "Camera " + std::to_string(c + 1);
    }
}

bool FakeRecorder::Impl::SessionOf(const httplib::Request& req, httplib::Response& res, int* id) {
    if (!Param(req, "id", id) || state.sessions.find(*id) == state.sessions.end()) {
        Reply(res, 400, "error=no session\n");
        return false;
    }
    return true;
}

void FakeRecorder::Impl::Stream(const httplib::Request& req, httplib::Response& res) {
    if (state.options.fault.kind == FaultKind::kUnavailable) return Reply(res, 503, "error=busy\n");
    if (state.drop_tripped) {
        const int fd = FindRequestSocket(req);
        if (fd >= 0) shutdown(fd, SHUT_RDWR);
        return Reply(res, 500, "");
    }
    int id = 0, channels = 0, mode = 0;
    bool backup = false;
    uint64_t serial = 0;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (!SessionOf(req, res, &id)) return;
        if (!ParseChannels(req, "avdevid", &channels)) return Reply(res, 400, "error=bad channels\n");
        Session& s = state.sessions[id];
        backup = Param(req, "mode", &mode) && mode == 1 && s.backup;
        if (!backup && !s.searched) return Reply(res, 400, "error=no search\n");
        serial = ++s.stream_serial;
    }
    ++state.streams;
    if (state.options.fault.kind == FaultKind::kPartial && state.options.fault.Covers(req.path)) {
        // The status line and a length, then the connection closes with none of the body.
        res.status = 200;
        res.set_content_provider(1 << 20, "application/octet-stream",
                                 [](size_t, size_t, httplib::DataSink&) { return false; });
        return;
    }
    auto job = std::make_shared<StreamJob>(&state, id, serial, channels, backup, FindRequestSocket(req), req.path);
    res.status = 200;
    res.set_chunked_content_provider("application/octet-stream",
                                     [job](size_t, httplib::DataSink& sink) { return job->Provide(sink); });
}

void FakeRecorder::Impl::ShapeReply(const httplib::Request& req, httplib::Response& res) {
    const Fault& fault = state.options.fault;
    if ((fault.kind != FaultKind::kTrickle && fault.kind != FaultKind::kEndless) || !fault.Covers(req.path) ||
        res.content_provider_)
        return;
    auto body = std::make_shared<std::string>(std::move(res.body));
    res.body.clear();
    const std::string type = res.get_header_value("Content-Type");
    res.headers.erase("Content-Type");
    auto sent = std::make_shared<size_t>(0);
    const int fd = FindRequestSocket(req);
    ServerState* st = &state;
    res.set_chunked_content_provider(type, [st, fault, body, sent, fd](size_t, httplib::DataSink& sink) {
        if (PeerGone(fd)) return false;
        if (*sent < body->size()) {
            const size_t n = fault.kind == FaultKind::kTrickle ? 1 : body->size() - *sent;
            if (fault.kind == FaultKind::kTrickle && !st->WaitFor(fault.millis)) return false;
            if (!sink.write(body->data() + *sent, n)) return false;
            *sent += n;
            return true;
        }
        if (fault.kind == FaultKind::kEndless) return st->WaitFor(100);
        sink.done();
        return true;
    });
}

void FakeRecorder::Impl::Routes() {
    using httplib::Request;
    using httplib::Response;
    server.set_pre_routing_handler([this](const Request& req, Response& res) {
        {
            std::lock_guard<std::mutex> lock(state.paths_mutex);
            state.paths.push_back(req.target.empty() ? req.path : req.target);
        }
        state.path_added.notify_all();
        if (req.get_header_value("Authorization") != state.authorization) {
            res.set_header("WWW-Authenticate", "Basic realm=\"recorder\"");
            Reply(res, 401, "error=unauthorized\n");
            return httplib::Server::HandlerResponse::Handled;
        }
        const Fault& fault = state.options.fault;
        // A fault path with a query names one request exactly as sent.
        if (!fault.Covers(fault.path.find('?') == std::string::npos ? req.path : req.target))
            return httplib::Server::HandlerResponse::Unhandled;
        switch (fault.kind) {
            case FaultKind::kUnauthorized:
                res.set_header("WWW-Authenticate", "Basic realm=\"recorder\"");
                Reply(res, 401, "error=unauthorized\n");
                break;
            case FaultKind::kRedirect:
                res.set_redirect("/moved" + req.path);
                Reply(res, 302, "moved=elsewhere\n");
                break;
            case FaultKind::kErrorPage:
                Reply(res, 500,
                      "<html><head><meta http-equiv=\"refresh\" content=\"5\"></head>"
                      "<body>error=internal</body></html>\n");
                break;
            case FaultKind::kSilent: {
                // Holds the request until the client gives up or the recorder stops.
                const int fd = FindRequestSocket(req);
                {
                    std::lock_guard<std::mutex> lock(state.paths_mutex);
                    ++state.held;
                }
                state.path_added.notify_all();
                while (!PeerGone(fd) && state.WaitFor(50)) {
                }
                --state.held;
                Reply(res, 500, "");
                break;
            }
            default: return httplib::Server::HandlerResponse::Unhandled;
        }
        return httplib::Server::HandlerResponse::Handled;
    });

    Get("/config/login", [](const Request&, Response& res) { Reply(res, 200, "login=ok\n"); });
    Get("/config/datetime", [](const Request&, Response& res) {
        const std::time_t now = std::time(nullptr);
        std::tm t{};
        localtime_r(&now, &t);
        char text[96];
        std::snprintf(text, sizeof text, "date=%d,%d,%d\ntime=%d,%d,%d\n", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                      t.tm_hour, t.tm_min, t.tm_sec);
        Reply(res, 200, text);
    });
    Get("/play/getid", [this](const Request& req, Response& res) {
        if (state.options.fault.kind == FaultKind::kGetIdBusy) return Reply(res, 400, "error=busy\n");
        std::lock_guard<std::mutex> lock(state.mutex);
        int id = 0;
        if (req.has_param("id")) {
            if (!SessionOf(req, res, &id)) return;
        } else {
            id = state.next_id++;
            state.sessions[id] = Session{};
        }
        Reply(res, 200, "id=" + std::to_string(id) + "\nlease=60\n");
    });
    Get("/play/recdate", [this](const Request& req, Response& res) {
        if (state.options.fault.kind == FaultKind::kUnavailable) return Reply(res, 503, "error=busy\n");
        int year = 0, month = 0;
        if (!Param(req, "recyear", &year) || !Param(req, "recmonth", &month) || month < 1 || month > 12)
            return Reply(res, 400, "error=bad date\n");
        std::string body;
        for (int day = 1; day <= 31; ++day) {
            DayIndexHeader header;
            if (ReadRecordListHeader(state.avdata, year, month, day, &header))
                body += std::to_string(year) + "," + std::to_string(month) + "," + std::to_string(day) + "\n";
        }
        Reply(res, 200, body);
    });
    Get("/play/reclist", [this](const Request& req, Response& res) {
        int id = 0, start = 0, year = 0, month = 0, day = 0;
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            if (!SessionOf(req, res, &id)) return;
        }
        if (!Param(req, "start", &start) || !Param(req, "recyear", &year) || !Param(req, "recmonth", &month) ||
            !Param(req, "recday", &day) || start < 0)
            return Reply(res, 400, "error=bad request\n");
        std::vector<DayIndexEntry> entries;
        DayIndexHeader header;
        if (ReadRecordListHeader(state.avdata, year, month, day, &header) && header.count() > 0 &&
            header.count() <= kMaxDayEntries) {
            entries.resize(static_cast<size_t>(header.count()));
            entries.resize(static_cast<size_t>(ReadRecordList(state.avdata, year, month, day, entries.data(), header.count())));
        }
        const int total = static_cast<int>(entries.size());
        std::string body = "total=" + std::to_string(total) + "\nstart=" + std::to_string(start) + "\n";
        for (int i = start; i < total && i < start + kRecordsPerPage; ++i) {
            const DayIndexEntry& e = entries[static_cast<size_t>(i)];
            const char mask = e.bytes[12];
            const char type = e.bytes[13];
            body += HhMmSs(e.StartSecond()) + HhMmSs(e.EndSecond());
            body += (mask >= '0' && mask <= '9') || (mask >= 'a' && mask <= 'f') ? mask : '0';
            body += type >= '0' && type <= '9' ? type : '1';
            body += "\n";
        }
        Reply(res, 200, body + "end\n");
    });
    Get("/live/avdevlist", [this](const Request&, Response& res) {
        if (state.options.fault.kind == FaultKind::kUnavailable) return Reply(res, 503, "error=busy\n");
        // The name starts one column after the '=' of the first line.
        std::string body = "avdevnum=4\n";
        for (int c = 0; c < 4; ++c) body += "avdevid" + std::to_string(c + 1) + "=" + state.names[static_cast<size_t>(c)] + ";1\n";
        Reply(res, 200, body);
    });
    Get("/play/searchdata", [this](const Request& req, Response& res) {
        std::lock_guard<std::mutex> lock(state.mutex);
        int id = 0, channels = 0;
        if (!SessionOf(req, res, &id)) return;
        DayTime start, end;
        if (!ParseDayTime(req, "recstarttime", &start) || !ParseDayTime(req, "recendtime", &end) ||
            !ParseChannels(req, "avdevids", &channels) || end.second < start.second)
            return Reply(res, 400, "error=bad request\n");
        Session& s = state.sessions[id];
        s.searched = true;
        s.start = start;
        s.end_second = end.second;
        s.channels = channels;
        s.position = start.second;
        s.playop = 1;
        s.speed = 1;
        s.backup = false;
        ++s.seek_serial;
        Reply(res, 200, "searchdata=ok\n");
    });
    Get("/play/backup", [this](const Request& req, Response& res) {
        std::lock_guard<std::mutex> lock(state.mutex);
        int id = 0, channel = 0;
        if (!SessionOf(req, res, &id)) return;
        DayTime start, end;
        if (!Param(req, "avdevid", &channel) || channel < 0 || channel > 3 || !ParseDayTime(req, "starttime", &start) ||
            !ParseDayTime(req, "endtime", &end) || end.second < start.second)
            return Reply(res, 400, "error=bad request\n");
        Session& s = state.sessions[id];
        s.backup = true;
        s.backup_channel = channel;
        s.backup_start = start;
        s.backup_end_second = end.second;
        Reply(res, 200, "backup=ok\n");
    });
    Get("/play/mav/nvrprofilestream", [this](const Request& req, Response& res) { Stream(req, res); });

    // Transport requests act on the session; its stream follows them.
    const auto transport = [this](const char* name, auto action) {
        Get(std::string("/play/") + name, [this, name, action](const Request& req, Response& res) {
            std::lock_guard<std::mutex> lock(state.mutex);
            int id = 0;
            if (!SessionOf(req, res, &id)) return;
            Session& s = state.sessions[id];
            if (!action(req, s)) return Reply(res, 400, "error=bad request\n");
            Reply(res, 200, std::string(name) + "=ok\n");
        });
    };
    transport("opplay", [](const Request&, Session& s) {
        if (s.searched) s.playop = 1;
        s.speed = 1;
        return true;
    });
    transport("oppause", [](const Request&, Session& s) {
        if (s.searched) s.playop = 2;
        return true;
    });
    transport("speedup", [](const Request&, Session& s) {
        s.speed = StepSpeed(s.speed, 1);
        return true;
    });
    transport("speeddown", [](const Request&, Session& s) {
        s.speed = StepSpeed(s.speed, -1);
        return true;
    });
    const auto jump = [](const Request& req, Session& s) {
        int jump_time = 0;
        if (!Param(req, "jumptime", &jump_time) || !s.searched) return false;
        s.position = std::clamp(s.start.second + jump_time, s.start.second, s.end_second);
        ++s.seek_serial;
        return true;
    };
    transport("timejump", jump);
    transport("timeslider", jump);
    Get("/play/opstatus", [this](const Request& req, Response& res) {
        std::lock_guard<std::mutex> lock(state.mutex);
        int id = 0;
        if (!SessionOf(req, res, &id)) return;
        const Session& s = state.sessions[id];
        char text[128];
        int p = s.searched ? s.position : 0;
        // Hour 25.
        if (state.options.fault.kind == FaultKind::kOddStatus && state.options.fault.Covers(req.path)) p = 25 * 3600;
        std::snprintf(text, sizeof text, "time=%d,%d,%d,%d,%d,%d\nplayop=%d\nspeed=%d\n", s.start.year, s.start.month,
                      s.start.day, p / 3600, p / 60 % 60, p % 60, s.playop, s.speed);
        Reply(res, 200, text);
    });
}

FakeRecorder::FakeRecorder() : impl_(std::make_unique<Impl>()) {}

FakeRecorder::~FakeRecorder() { Stop(); }

bool FakeRecorder::Start(const FakeRecorderOptions& options, std::string* error) {
    Impl& d = *impl_;
    if (d.used) {
        *error = "a recorder object serves once";
        return false;
    }
    d.used = true;
    d.state.options = options;
    d.state.avdata = sample::ResolveDataFolder(options.data_folder);
    if (options.data_folder.empty() || !platform::IsFolder(d.state.avdata)) {
        *error = "no data folder at " + options.data_folder;
        return false;
    }
    d.state.authorization.clear();
    const std::string header = BasicAuthorizationHeader(options.user, options.password);
    const std::string prefix = "Authorization: ";
    if (!header.empty()) d.state.authorization = header.substr(prefix.size());
    d.FindChannelNames();
    // A client that hangs up mid-stream must not end the process.
    std::signal(SIGPIPE, SIG_IGN);

    d.server.new_task_queue = [] { return new httplib::ThreadPool(64); };
    d.server.set_keep_alive_max_count(100000);
    d.server.set_keep_alive_timeout(2);
    d.server.set_write_timeout(60, 0);
    d.server.set_tcp_nodelay(true);
    // No port sharing: a second server on a port already held must fail to start, not split its clients.
    d.server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    d.Routes();
    if (options.port == 0) {
        d.port = d.server.bind_to_any_port(options.bind_address);
    } else {
        d.port = d.server.bind_to_port(options.bind_address, options.port) ? options.port : -1;
    }
    if (d.port <= 0) {
        *error = "cannot listen on " + options.bind_address + ":" + std::to_string(options.port);
        return false;
    }
    d.thread = std::thread([&d] { d.server.listen_after_bind(); });
    // The library's stop acts only on a running server and offers no ready event: a Stop right
    // after Start would otherwise leave the accept loop running.
    const int64_t until = NowMs() + 5000;
    while (!d.server.is_running() && NowMs() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void FakeRecorder::Stop() {
    Impl& d = *impl_;
    if (!d.thread.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(d.state.mutex);
        d.state.stopping = true;
    }
    d.state.wake.notify_all();
    d.server.stop();
    d.thread.join();
}

int FakeRecorder::port() const { return impl_->port; }

int FakeRecorder::streams_started() const { return impl_->state.streams; }

int FakeRecorder::requests_held() const { return impl_->state.held; }

int FakeRecorder::requests(const std::string& prefix) const {
    std::lock_guard<std::mutex> lock(impl_->state.paths_mutex);
    return static_cast<int>(std::count_if(impl_->state.paths.begin(), impl_->state.paths.end(),
                                          [&](const std::string& p) { return p.rfind(prefix, 0) == 0; }));
}

bool FakeRecorder::WaitForHeld(int count, int timeout_ms) const {
    std::unique_lock<std::mutex> lock(impl_->state.paths_mutex);
    return impl_->state.path_added.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                            [&] { return impl_->state.held >= count; });
}

bool FakeRecorder::WaitForRequests(const std::string& prefix, int count, int timeout_ms) const {
    std::unique_lock<std::mutex> lock(impl_->state.paths_mutex);
    return impl_->state.path_added.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
        return std::count_if(impl_->state.paths.begin(), impl_->state.paths.end(),
                             [&](const std::string& p) { return p.rfind(prefix, 0) == 0; }) >= count;
    });
}

}  // namespace fake
