#include "media/http_get.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/lazy_library.h"

namespace {

// Reply bytes held while the caller has not read them; past this the transfer pauses, so a
// fast stream never grows memory and the recorder feels back-pressure.
constexpr size_t kReplyBufferLimit = 256 * 1024;
// No connect timeout given: what a connection attempt may take before the reply wait starts.
constexpr int kDefaultConnectWaitMs = 60000;
// Upper bound of one poll; an abort wakes it earlier.
constexpr int kPollSliceMs = 1000;

// Loaded at the first request: only runs that talk to a recorder need it.
platform::LazyLibrary g_curl_library("libcurl.so.4");
#define CURL_CALL(function) PLATFORM_LAZY(g_curl_library, function)

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { CURL_CALL(curl_global_init)(CURL_GLOBAL_DEFAULT); });
}

// UTF-16 code units of a UTF-8 text; malformed bytes become U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    size_t i = 0;
    while (i < text.size()) {
        const uint8_t b = static_cast<uint8_t>(text[i]);
        uint32_t cp = 0xFFFD;
        size_t extra = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07;
            extra = 3;
        }
        bool ok = b < 0x80 || extra > 0;
        for (size_t k = 1; ok && k <= extra; ++k) {
            if (i + k >= text.size() || (static_cast<uint8_t>(text[i + k]) & 0xC0) != 0x80) {
                ok = false;
            } else {
                cp = cp << 6 | (static_cast<uint8_t>(text[i + k]) & 0x3F);
            }
        }
        if (!ok) {
            cp = 0xFFFD;
            extra = 0;
        }
        i += 1 + extra;
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp > 0x10FFFF ? 0xFFFD : cp));
        }
    }
    return out;
}

std::atomic<std::thread::id> g_watched_thread{};
std::atomic<int> g_watched_calls{0};

void NoteCall() {
    if (std::this_thread::get_id() == g_watched_thread.load()) ++g_watched_calls;
}

bool IsLoopbackHost(const std::string& host) {
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

}  // namespace

std::string Base64Encode(const uint8_t* bytes, size_t length) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    if (!bytes) return out;
    out.reserve((length + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const uint32_t v = static_cast<uint32_t>(bytes[i]) << 16 | static_cast<uint32_t>(bytes[i + 1]) << 8 | bytes[i + 2];
        out.push_back(kAlphabet[v >> 18 & 63]);
        out.push_back(kAlphabet[v >> 12 & 63]);
        out.push_back(kAlphabet[v >> 6 & 63]);
        out.push_back(kAlphabet[v & 63]);
    }
    if (length - i == 2) {
        const uint32_t v = static_cast<uint32_t>(bytes[i]) << 16 | static_cast<uint32_t>(bytes[i + 1]) << 8;
        out.push_back(kAlphabet[v >> 18 & 63]);
        out.push_back(kAlphabet[v >> 12 & 63]);
        out.push_back(kAlphabet[v >> 6 & 63]);
        out.push_back('=');
    } else if (length - i == 1) {
        const uint32_t v = static_cast<uint32_t>(bytes[i]) << 16;
        out.push_back(kAlphabet[v >> 18 & 63]);
        out.push_back(kAlphabet[v >> 12 & 63]);
        out += "==";
    }
    return out;
}

std::string BasicCredentialBytes(const std::string& user, const std::string& password) {
    const std::u16string units = Utf8ToUtf16(user) + u":" + Utf8ToUtf16(password);
    std::string bytes;
    bytes.reserve(units.size());
    for (char16_t u : units) bytes.push_back(static_cast<char>(u & 0xFF));
    return bytes;
}

std::string BasicAuthorizationHeader(const std::string& user, const std::string& password) {
    if (user.empty()) return {};
    const std::string bytes = BasicCredentialBytes(user, password);
    return "Authorization: Basic " + Base64Encode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

struct HttpGet::Request {
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    std::vector<uint8_t> buffer;
    size_t read_pos = 0;
    bool paused = false;
    bool headers_done = false;
    bool done = false;
    CURLcode result = CURLE_OK;
    long status = 0;
    int64_t sent_ms = 0;  // when the request went out

    size_t Buffered() const { return buffer.size() - read_pos; }

    static size_t OnBody(char* data, size_t size, size_t count, void* user) {
        Request* r = static_cast<Request*>(user);
        const size_t length = size * count;
        if (r->Buffered() > 0 && r->Buffered() + length > kReplyBufferLimit) {
            r->paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        if (r->read_pos > 0) {
            r->buffer.erase(r->buffer.begin(), r->buffer.begin() + static_cast<std::ptrdiff_t>(r->read_pos));
            r->read_pos = 0;
        }
        r->buffer.insert(r->buffer.end(), data, data + length);
        return length;
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
        Request* r = static_cast<Request*>(user);
        const size_t length = size * count;
        const bool blank = (length == 2 && data[0] == '\r' && data[1] == '\n') || (length == 1 && data[0] == '\n');
        if (blank) {
            long code = 0;
            CURL_CALL(curl_easy_getinfo)(r->easy, CURLINFO_RESPONSE_CODE, &code);
            // An interim 1xx reply is followed by the real one.
            if (code >= 200) {
                r->status = code;
                r->headers_done = true;
            }
        }
        return length;
    }
};

HttpGet::HttpGet() : scratch_(new uint8_t[kScratchSize]) {}

HttpGet::~HttpGet() { Close(); }

int HttpGet::Connect(const std::string& host, const std::string& user, const std::string& password,
                     int connect_timeout_ms, int secure, int port) {
    std::lock_guard<std::mutex> op(op_mutex_);
    host_ = host;
    user_ = user;
    password_ = password;
    secure_ = secure >= 1 ? 1 : 0;
    port_ = secure_ ? 443 : 80;
    if (port != 0) port_ = port & 0xFFFF;
    connect_timeout_ms_ = connect_timeout_ms;
    CloseLocked();
    aborted_ = false;
    if (host_.empty()) return 0;
    // Every other call needs a session, so the library starts here, not with the object.
    GlobalInit();
    CURLM* multi = CURL_CALL(curl_multi_init)();
    if (!multi) return 0;
    std::lock_guard<std::mutex> handles(handle_mutex_);
    session_ = multi;
    connected_ = true;
    return 1;
}

void HttpGet::WatchThread(std::thread::id id) {
    g_watched_thread = id;
    g_watched_calls = 0;
}

int HttpGet::CallsOnWatchedThread() { return g_watched_calls.load(); }

int HttpGet::SendRequest(const std::string& path) {
    NoteCall();
    std::lock_guard<std::mutex> op(op_mutex_);
    return SendRequestLocked(path);
}

int HttpGet::SendRequestLocked(const std::string& path) {
    if (!connected_ || !session_) return 0;
    CloseRequestLocked();
    if (aborted_) return 0;

    auto request = std::make_unique<Request>();
    request->easy = CURL_CALL(curl_easy_init)();
    if (!request->easy) return 0;
    CURL* easy = request->easy;

    std::string authority = host_;
    if (authority.find(':') != std::string::npos && authority.front() != '[') authority = "[" + authority + "]";
    const std::string url = std::string(secure_ ? "https://" : "http://") + authority + ":" + std::to_string(port_) +
                            (path.empty() || path.front() != '/' ? "/" : "") + path;
    const std::string auth = BasicAuthorizationHeader(user_, password_);
    if (!auth.empty()) request->headers = CURL_CALL(curl_slist_append)(nullptr, auth.c_str());

    CURL_CALL(curl_easy_setopt)(easy, CURLOPT_URL, url.c_str());
    CURL_CALL(curl_easy_setopt)(easy, CURLOPT_HTTPGET, 1L);
    CURL_CALL(curl_easy_setopt)(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    CURL_CALL(curl_easy_setopt)(easy, CURLOPT_PATH_AS_IS, 1L);
    CURL_CALL(curl_easy_setopt)(easy, CURLOPT_USERAGENT, kUserAgent);
    CURL_CALL(curl_easy_setopt)(easy, CURLOPT_HTTPHEADER, request->headers);
    CURL_CALL(curl_easy_setopt)(easy, CURLOPT_NOSIGNAL, 1L);
    if (connect_timeout_ms_ > 0) CURL_CALL(curl_easy_setopt)(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect_timeout_ms_));
    // The recorder sits on the local network; a desktop proxy setting must not catch loopback.
    if (IsLoopbackHost(host_)) CURL_CALL(curl_easy_setopt)(easy, CURLOPT_PROXY, "");
    CURL_CALL(curl_easy_setopt)(easy, CURLOPT_WRITEFUNCTION, &Request::OnBody);
    CURL_CALL(curl_easy_setopt)(easy, CURLOPT_WRITEDATA, request.get());
    CURL_CALL(curl_easy_setopt)(easy, CURLOPT_HEADERFUNCTION, &Request::OnHeader);
    CURL_CALL(curl_easy_setopt)(easy, CURLOPT_HEADERDATA, request.get());
    if (CURL_CALL(curl_multi_add_handle)(static_cast<CURLM*>(session_), easy) != CURLM_OK) {
        CURL_CALL(curl_slist_free_all)(request->headers);
        CURL_CALL(curl_easy_cleanup)(easy);
        return 0;
    }
    request_ = std::move(request);

    // Until the request is out the connect timeout bounds the wait; from then on the receive timeout.
    const int connect_wait = connect_timeout_ms_ > 0 ? connect_timeout_ms_ : kDefaultConnectWaitMs;
    int64_t deadline = NowMs() + connect_wait + receive_timeout_ms_;
    bool sent = false;
    const Wait w = Drive(deadline, [this, &deadline, &sent] {
        if (!sent) {
            long request_bytes = 0;
            CURL_CALL(curl_easy_getinfo)(request_->easy, CURLINFO_REQUEST_SIZE, &request_bytes);
            if (request_bytes > 0) {
                sent = true;
                request_->sent_ms = NowMs();
                deadline = request_->sent_ms + receive_timeout_ms_;
            }
        }
        return request_->headers_done;
    });
    if (w == Wait::kReady) {
        if (!sent) request_->sent_ms = NowMs();
        return 1;
    }
    CloseRequestLocked();
    return 0;
}

template <typename Ready>
HttpGet::Wait HttpGet::Drive(const int64_t& deadline_ms, Ready ready) {
    CURLM* multi = static_cast<CURLM*>(session_);
    for (;;) {
        if (aborted_) return Wait::kFailed;
        int running = 0;
        if (CURL_CALL(curl_multi_perform)(multi, &running) != CURLM_OK) return Wait::kFailed;
        int queued = 0;
        while (CURLMsg* msg = CURL_CALL(curl_multi_info_read)(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == request_->easy) {
                request_->done = true;
                request_->result = msg->data.result;
            }
        }
        if (ready()) return Wait::kReady;
        if (request_->done) return Wait::kDone;
        const int64_t left = deadline_ms - NowMs();
        if (left <= 0) return Wait::kTimeout;
        CURL_CALL(curl_multi_poll)(multi, nullptr, 0, static_cast<int>(std::min<int64_t>(left, kPollSliceMs)), nullptr);
    }
}

int HttpGet::ReadAvailable(void* buffer, size_t capacity, size_t* bytes_read) {
    return ReadAvailable(buffer, capacity, bytes_read, -1);
}

int HttpGet::ReadAvailable(void* buffer, size_t capacity, size_t* bytes_read, int wait_ms) {
    NoteCall();
    std::lock_guard<std::mutex> op(op_mutex_);
    return ReadLocked(buffer, capacity, bytes_read, NowMs() + (wait_ms >= 0 ? wait_ms : receive_timeout_ms_));
}

int HttpGet::ReadLocked(void* buffer, size_t capacity, size_t* bytes_read, int64_t deadline_ms) {
    if (bytes_read) *bytes_read = 0;
    if (!buffer || !bytes_read || !request_ || aborted_) return 0;
    Request& r = *request_;
    if (r.Buffered() == 0 && !r.done) {
        const Wait w = Drive(deadline_ms, [&r] { return r.Buffered() > 0; });
        if (w == Wait::kFailed) return 0;
    }
    if (r.Buffered() == 0) {
        // Ended cleanly, or nothing before the deadline: both read as 0 bytes.
        return !r.done || r.result == CURLE_OK ? 1 : 0;
    }
    const size_t n = std::min(capacity, r.Buffered());
    std::memcpy(buffer, r.buffer.data() + r.read_pos, n);
    r.read_pos += n;
    if (r.read_pos == r.buffer.size()) {
        r.buffer.clear();
        r.read_pos = 0;
    }
    if (r.paused && r.Buffered() < kReplyBufferLimit) {
        r.paused = false;
        CURL_CALL(curl_easy_pause)(r.easy, CURLPAUSE_CONT);
    }
    *bytes_read = n;
    return 1;
}

int HttpGet::Fetch(const std::string& path, char* buffer, size_t capacity) {
    NoteCall();
    std::lock_guard<std::mutex> op(op_mutex_);
    if (!SendRequestLocked(path)) return 0;
    if (!buffer) return 0;
    std::memset(scratch_.get(), 0, kScratchSize);
    // The whole reply shares one deadline from the sent request, so a recorder that
    // trickles its reply or never ends it holds the caller no longer than the receive timeout.
    const int64_t deadline = request_->sent_ms + receive_timeout_ms_;
    size_t total = 0;
    // Pieces are cut to what still fits, so the reply fills all but the last byte.
    while (request_ && total + 1 < capacity) {
        size_t n = 0;
        const size_t want = std::min(kScratchSize, capacity - 1 - total);
        if (!ReadLocked(scratch_.get(), want, &n, deadline) || n == 0) break;
        std::memcpy(buffer + total, scratch_.get(), n);
        total += n;
    }
    return 1;
}

void HttpGet::CloseRequestLocked() {
    if (!request_) return;
    if (session_) CURL_CALL(curl_multi_remove_handle)(static_cast<CURLM*>(session_), request_->easy);
    CURL_CALL(curl_easy_cleanup)(request_->easy);
    CURL_CALL(curl_slist_free_all)(request_->headers);
    request_.reset();
}

void HttpGet::CloseLocked() {
    CloseRequestLocked();
    connected_ = false;
    std::lock_guard<std::mutex> handles(handle_mutex_);
    if (session_) CURL_CALL(curl_multi_cleanup)(static_cast<CURLM*>(session_));
    session_ = nullptr;
}

int HttpGet::Close() {
    Abort();
    std::lock_guard<std::mutex> op(op_mutex_);
    CloseLocked();
    aborted_ = false;
    return 1;
}

void HttpGet::Abort() {
    aborted_ = true;
    std::lock_guard<std::mutex> handles(handle_mutex_);
    if (session_) CURL_CALL(curl_multi_wakeup)(static_cast<CURLM*>(session_));
}

void HttpGet::ClearAbort() { aborted_ = false; }

int HttpGet::QueryStatusCode() const {
    std::lock_guard<std::mutex> op(op_mutex_);
    return request_ ? static_cast<int>(request_->status) : 0;
}

bool HttpGet::HasOpenRequest() const {
    std::lock_guard<std::mutex> op(op_mutex_);
    return request_ != nullptr;
}

bool HttpGet::IsConnected() const {
    std::lock_guard<std::mutex> op(op_mutex_);
    return connected_;
}

void HttpGet::SetReceiveTimeout(int ms) {
    std::lock_guard<std::mutex> op(op_mutex_);
    receive_timeout_ms_ = ms > 0 ? ms : kReceiveTimeoutMs;
}
