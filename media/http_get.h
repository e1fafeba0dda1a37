#pragma once
// One HTTP connection to the recorder: GET requests with Basic authorisation,
// the reply read whole into a bounded buffer or pulled piece by piece with a
// receive timeout. libcurl does the protocol; an easy handle driven by a multi
// handle gives pull-style reads that another thread can abort.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// RFC 4648 with padding, no line breaks.
std::string Base64Encode(const uint8_t* bytes, size_t length);
// The credentials as the recorder expects them: "user:password", one byte per
// UTF-16 code unit (its low 8 bits) of the UTF-8 texts.
std::string BasicCredentialBytes(const std::string& user, const std::string& password);
// "Authorization: Basic ..." or empty when the user name is empty.
std::string BasicAuthorizationHeader(const std::string& user, const std::string& password);

class HttpGet {
public:
    static constexpr size_t kScratchSize = 8200;
    static constexpr int kReceiveTimeoutMs = 5000;
    static constexpr const char* kUserAgent = "InetURL/1.0";

    HttpGet();
    virtual ~HttpGet();
    HttpGet(const HttpGet&) = delete;
    HttpGet& operator=(const HttpGet&) = delete;

    // Stores the parameters; the TCP connection is made by the first request. Port 0 means the
    // scheme's default. 1 ok, 0 failure (empty host, no session).
    int Connect(const std::string& host, const std::string& user, const std::string& password,
                int connect_timeout_ms, int secure, int port);
    // 1 once the reply's status line and headers are in; 0 when not connected, aborted, or no
    // reply came (connect timeout, then the receive timeout).
    int SendRequest(const std::string& path);
    // Waits up to the receive timeout for reply bytes. 1 with *bytes_read 0 when nothing came in
    // time or the reply ended; 0 without buffer or open request, on a transfer error or abort.
    int ReadAvailable(void* buffer, size_t capacity, size_t* bytes_read);
    // The same with its own wait; a stream reader paces its empty reads by it.
    int ReadAvailable(void* buffer, size_t capacity, size_t* bytes_read, int wait_ms);
    // Sends the request and reads the reply into buffer until all but its last byte are filled
    // (so at least one byte stays as the caller zeroed it), the reply ends, or the receive
    // timeout since the request went out has passed. 1 when sent and a buffer was given.
    int Fetch(const std::string& path, char* buffer, size_t capacity);
    // Request, connection, session, in that order. Safe from another thread: an operation in
    // progress there is aborted first. Returns 1.
    int Close();
    // Any thread: the blocked operation and every later one fail until Close or Connect.
    void Abort();
    // Once the aborted operation has ended: later ones run again on the same connection.
    void ClearAbort();

    // Numeric HTTP status of the open request, 0 when none.
    int QueryStatusCode() const;
    bool HasOpenRequest() const;
    bool IsConnected() const;
    // Bounds the wait for a reply and for the whole of a fetched reply; 5000 ms unless set
    // (tests shorten it). Kept over Connect and Close.
    void SetReceiveTimeout(int ms);

    // The window thread may never wait on a recorder: tests name it here, and every request,
    // read or fetch made on it (by any HttpGet) is counted.
    static void WatchThread(std::thread::id id);
    static int CallsOnWatchedThread();

    const std::string& host() const { return host_; }
    int port() const { return port_; }
    int secure() const { return secure_; }

private:
    struct Request;

    int SendRequestLocked(const std::string& path);
    int ReadLocked(void* buffer, size_t capacity, size_t* bytes_read, int64_t deadline_ms);
    void CloseRequestLocked();
    void CloseLocked();
    enum class Wait { kReady, kDone, kTimeout, kFailed };
    template <typename Ready>
    // The deadline may be moved by ready() while the wait runs.
    Wait Drive(const int64_t& deadline_ms, Ready ready);

    std::string host_, user_, password_;
    int port_ = 0;
    int connect_timeout_ms_ = 0;
    int secure_ = 0;
    int receive_timeout_ms_ = kReceiveTimeoutMs;
    std::unique_ptr<uint8_t[]> scratch_;

    void* session_ = nullptr;  // the multi handle; its connection cache keeps the connection alive
    bool connected_ = false;
    std::unique_ptr<Request> request_;

    mutable std::mutex op_mutex_;      // one operation at a time
    mutable std::mutex handle_mutex_;  // guards session_ for Abort's wake-up
    std::atomic<bool> aborted_{false};
};
