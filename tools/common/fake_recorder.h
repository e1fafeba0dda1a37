#pragma once
// A stand-in recorder on loopback: the recorder's HTTP API served from a disk
// copy, with the framed media stream paced in real time and switchable faults.
// Tests start it in-process on port 0; the fake-recorder tool wraps it.
#include <memory>
#include <string>

namespace fake {

enum class FaultKind {
    kNone,
    kGetIdBusy,    // 400 on every "/play/getid"
    kUnavailable,  // 503 on recdate, avdevlist and the stream
    kStallAfter,   // each stream goes silent after the given seconds
    kDropAfter,    // the stream is closed after the given seconds; later stream requests get no reply
    kGarbage,      // random bytes between packets
    kEndAfter,     // each stream reply ends cleanly after the given seconds (0: an empty reply)
    kUnauthorized, // 401 on the requests the fault covers
    kRedirect,     // 302 to another path on the requests the fault covers
    kTrickle,      // every reply the fault covers is sent one byte every `millis` ms
    kEndless,      // replies the fault covers send their text and then never end
    kErrorPage,    // 500 with an error page that holds "="
    kSilent,       // requests the fault covers are taken and never answered, not even a status line
    kOddStatus,    // "/play/opstatus" answers with a time that is no time of day
    kPartial,      // stream replies the fault covers answer 200 with a length, then hang up before the body
    kSlowLink,     // stream replies are sent at `kbits` kbit/s, the first picture of each second 100 kB
    kNoEndMarker,  // backup streams run on past their end with the clock going on, without the end packet
    kRepeatRange,  // backup streams start their range again at its end, with its dates, without the end packet
};

struct Fault {
    Fault() = default;
    Fault(FaultKind k, int s = 0) : kind(k), seconds(s) {}

    FaultKind kind = FaultKind::kNone;
    int seconds = 0;
    int millis = 0;
    int kbits = 0;
    // Requests whose path begins with this are hit; empty: every request.
    std::string path;

    bool Covers(const std::string& request_path) const { return request_path.rfind(path, 0) == 0; }
};

// "getid-busy", "unavailable", "stall-after=SECONDS", "drop-after=SECONDS", "garbage",
// "end-after=SECONDS", "unauthorized", "redirect", "trickle=MILLISECONDS", "endless",
// "error-page", "silent", "odd-status", "partial", "slow-link=KBITS", "no-end-marker",
// "repeat-range"; any of them may end in ":PATH" to hit
// only requests whose path begins with PATH (a PATH with a query: whose path and query as sent begin with it).
bool ParseFault(const std::string& text, Fault* fault);

struct FakeRecorderOptions {
    std::string bind_address = "127.0.0.1";
    int port = 0;             // 0: any free port
    std::string data_folder;  // "avdata" itself or the folder holding it
    std::string user = "admin";
    std::string password;
    Fault fault;
};

class FakeRecorder {
public:
    FakeRecorder();
    ~FakeRecorder();
    FakeRecorder(const FakeRecorder&) = delete;
    FakeRecorder& operator=(const FakeRecorder&) = delete;

    // Binds and starts serving on a thread of its own; false with a reason when it cannot.
    bool Start(const FakeRecorderOptions& options, std::string* error);
    // Ends every stream and joins the server's threads.
    void Stop();
    int port() const;
    // Stream requests answered with a stream so far.
    int streams_started() const;
    // Requests a "silent" fault holds now, their clients still waiting.
    int requests_held() const;
    // Blocks until a silent fault holds count requests; false when timeout_ms passed first.
    bool WaitForHeld(int count, int timeout_ms) const;
    // Requests received so far whose target (path and query as sent) begins with prefix
    // (every reply, faults included).
    int requests(const std::string& prefix) const;
    // Blocks until count such requests came; false when timeout_ms passed first.
    bool WaitForRequests(const std::string& prefix, int count, int timeout_ms) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace fake
