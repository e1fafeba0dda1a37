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
};

struct Fault {
    FaultKind kind = FaultKind::kNone;
    int seconds = 0;
};

// "getid-busy", "unavailable", "stall-after=SECONDS", "drop-after=SECONDS", "garbage".
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

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace fake
