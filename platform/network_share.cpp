#include "platform/network_share.h"

#include <libsmbclient.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/cancellable_wait.h"
#include "platform/data_file.h"
#include "platform/lazy_library.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// libsmbclient keeps its working memory (talloc stack frames) process-wide, with no
// thread set-up this build exports: one call into it at a time, whatever the server.
std::mutex g_library_mutex;
// Every caller waits on this one wait (never stopped): a finished call and an abort both wake it.
CancellableWait g_call_wait;
thread_local ShareCallAbort* t_abort = nullptr;

struct SharePathParts {
    std::string host;
    std::vector<std::string> rest;  // share, then folders and file
};

std::optional<SharePathParts> SplitSharePath(const std::string& path) {
    if (!IsSharePath(path)) return std::nullopt;
    SharePathParts parts;
    std::string part;
    bool first = true;
    for (size_t i = 2; i <= path.size(); ++i) {
        const char c = i < path.size() ? path[i] : '/';
        if (c != '/' && c != '\\') {
            part += c;
            continue;
        }
        if (part.empty()) continue;
        if (first) parts.host = part;
        else parts.rest.push_back(part);
        first = false;
        part.clear();
    }
    if (parts.host.empty()) return std::nullopt;
    return parts;
}

// libsmbclient decodes %XX in every part of the URL; "?" would start its options.
std::string Escape(const std::string& part) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : part) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~' || c == '$' || c >= 0x80) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

uint16_t PortFromEnvironment() {
    const char* text = std::getenv(kSharePortVariable);
    if (!text || !*text) return 0;
    char* end = nullptr;
    const long port = std::strtol(text, &end, 10);
    return (*end == '\0' && port > 0 && port < 65536) ? static_cast<uint16_t>(port) : 0;
}

// Opened on the first share path (lazy_library.h).
LazyLibrary g_smbclient("libsmbclient.so.0");

// What a call found when it failed: 0, or the errno of the failing libsmbclient call.
using Work = std::function<int(SMBCCTX*)>;

// The server could not be talked to at all (as opposed to a missing file or a refused login).
bool Unreachable(int error) {
    switch (error) {
        case ECONNREFUSED:
        case ECONNRESET:
        case ECONNABORTED:
        case EHOSTUNREACH:
        case EHOSTDOWN:
        case ENETUNREACH:
        case ENETRESET:
        case ENOTCONN:
        case EPIPE:
        case ETIMEDOUT: return true;
        default: return false;
    }
}

struct Job {
    Work work;
    Clock::time_point deadline;
    bool done = false;  // under g_call_wait's lock
    bool abandoned = false;  // under g_call_wait's lock
};

// One server: its credentials and the thread that makes every libsmbclient
// call on it, on a context of its own.
class ShareServer {
public:
    explicit ShareServer(std::string host) : host_(std::move(host)), port_(PortFromEnvironment()) {
        thread_ = std::thread([this] { Run(); });
    }

    // The thread finishes the work queued before it ends.
    ~ShareServer() { StopThread(work_, thread_); }

    // Runs work on the server's thread; false when the work did not end in
    // time or the caller's owner aborted the wait (the work's result is then dropped).
    bool Call(Work work) {
        ShareCallAbort* abort = t_abort;
        if (abort && abort->Aborted()) return false;
        auto job = std::make_shared<Job>();
        job->work = std::move(work);
        job->deadline = Clock::now() + std::chrono::milliseconds(kShareCallDeadlineMs);
        const bool queued = work_.Update([&] {
            // A server stuck past a deadline, or just found unreachable, would hold every later
            // call as long again (the window thread marks a month's days one call each).
            const Clock::time_point now = Clock::now();
            if ((current_has_deadline_ && now > current_deadline_) || now < unreachable_until_) return false;
            queue_.push_back(job);
            return true;
        });
        if (!queued) return false;
        g_call_wait.WaitUntil(job->deadline, [&] { return job->done || (abort && abort->Aborted()); });
        // Done after all, or given up: the server's thread then skips or drops it.
        return g_call_wait.Update([&] {
            if (job->done) return true;
            job->abandoned = true;
            return false;
        });
    }

    // Work nobody waits for (closing a file).
    void Post(Work work) {
        auto job = std::make_shared<Job>();
        job->work = std::move(work);
        job->deadline = Clock::time_point::max();
        work_.Update([&] { queue_.push_back(job); });
    }

    // On the server's thread only (inside Call's work).
    // *error as a call's work reports it.
    int Connect(SMBCCTX* ctx, const std::string& url, bool server_only, const std::string& user,
                const std::string& password, int* error_out) {
        *error_out = 0;
        {
            std::lock_guard<std::mutex> lock(credentials_mutex_);
            if (connected_) {
                if (user != user_ || password != password_) return kShareCredentialConflict;
            } else {
                user_ = user;
                password_ = password;
                trying_ = true;
            }
        }
        // Connections made before (without credentials) must not answer for these.
        PLATFORM_LAZY(g_smbclient, smbc_getFunctionPurgeCachedServers)(ctx)(ctx);
        errno = 0;
        bool reached = false;
        if (server_only) {
            if (SMBCFILE* dir = PLATFORM_LAZY(g_smbclient, smbc_getFunctionOpendir)(ctx)(ctx, url.c_str())) {
                PLATFORM_LAZY(g_smbclient, smbc_getFunctionClosedir)(ctx)(ctx, dir);
                reached = true;
            }
        } else {
            struct stat st;
            reached = PLATFORM_LAZY(g_smbclient, smbc_getFunctionStat)(ctx)(ctx, url.c_str(), &st) == 0;
        }
        const int error = errno;
        if (!reached) *error_out = error;
        std::lock_guard<std::mutex> lock(credentials_mutex_);
        trying_ = false;
        if (reached) {
            connected_ = true;
            return kShareConnected;
        }
        if (!connected_) {
            user_.clear();
            password_.clear();
        }
        switch (error) {
            case EACCES:
            case EPERM: return kShareLogonFailure;
            case ENOENT:
            case ENOTDIR:
            case ENODEV:
            case EINVAL: return kShareBadNetName;
            case ETIMEDOUT: return kShareTimeout;
            default: return kShareBadNetPath;
        }
    }

private:
    static void Authenticate(SMBCCTX* ctx, const char*, const char*, char*, int, char* user, int user_room,
                             char* password, int password_room) {
        auto* self = static_cast<ShareServer*>(PLATFORM_LAZY(g_smbclient, smbc_getOptionUserData)(ctx));
        std::lock_guard<std::mutex> lock(self->credentials_mutex_);
        const bool known = self->connected_ || self->trying_;
        const std::string u = known ? self->user_ : std::string();
        const std::string p = known ? self->password_ : std::string();
        if (user_room > 0) {
            std::strncpy(user, u.c_str(), static_cast<size_t>(user_room) - 1);
            user[user_room - 1] = '\0';
        }
        if (password_room > 0) {
            std::strncpy(password, p.c_str(), static_cast<size_t>(password_room) - 1);
            password[password_room - 1] = '\0';
        }
    }

    SMBCCTX* NewContext() {
        std::lock_guard<std::mutex> library(g_library_mutex);
        SMBCCTX* ctx = PLATFORM_LAZY(g_smbclient, smbc_new_context)();
        if (!ctx) return nullptr;
        PLATFORM_LAZY(g_smbclient, smbc_setDebug)(ctx, 0);
        PLATFORM_LAZY(g_smbclient, smbc_setOptionUserData)(ctx, this);
        PLATFORM_LAZY(g_smbclient, smbc_setFunctionAuthDataWithContext)(ctx, &ShareServer::Authenticate);
        PLATFORM_LAZY(g_smbclient, smbc_setTimeout)(ctx, kShareTimeoutMs);
        PLATFORM_LAZY(g_smbclient, smbc_setOptionUseKerberos)(ctx, false);
        PLATFORM_LAZY(g_smbclient, smbc_setOptionFallbackAfterKerberos)(ctx, true);
        PLATFORM_LAZY(g_smbclient, smbc_setOptionUseCCache)(ctx, false);
        // A wrong password must fail, not fall back to a guest login.
        PLATFORM_LAZY(g_smbclient, smbc_setOptionNoAutoAnonymousLogin)(ctx, true);
        if (port_) PLATFORM_LAZY(g_smbclient, smbc_setPort)(ctx, port_);
        if (!PLATFORM_LAZY(g_smbclient, smbc_init_context)(ctx)) {
            PLATFORM_LAZY(g_smbclient, smbc_free_context)(ctx, 1);
            return nullptr;
        }
        return ctx;
    }

    void Run() {
        SMBCCTX* ctx = NewContext();
        for (;;) {
            // Stopped, the queue is still worked off before the thread ends.
            if (!work_.Wait([this] { return !queue_.empty(); })) break;
            const std::shared_ptr<Job> job = work_.Update([this] {
                std::shared_ptr<Job> next = std::move(queue_.front());
                queue_.pop_front();
                current_has_deadline_ = next->deadline != Clock::time_point::max();
                current_deadline_ = next->deadline;
                return next;
            });
            int error = 0;
            {
                std::lock_guard<std::mutex> library(g_library_mutex);
                // Another server's call may have held the library meanwhile.
                bool skip = !ctx;
                skip = skip || g_call_wait.Read([&] { return job->abandoned; }) || Clock::now() > job->deadline;
                if (!skip) error = job->work(ctx);
            }
            work_.Update([&] {
                const Clock::time_point now = Clock::now();
                if (Unreachable(error) || (current_has_deadline_ && now > current_deadline_))
                    unreachable_until_ = now + std::chrono::milliseconds(kShareTimeoutMs);
                current_has_deadline_ = false;
            });
            g_call_wait.Update([&] { job->done = true; });
        }
        if (ctx) {
            std::lock_guard<std::mutex> library(g_library_mutex);
            PLATFORM_LAZY(g_smbclient, smbc_free_context)(ctx, 1);
        }
    }

    const std::string host_;
    const uint16_t port_;
    // Its lock guards the queue and the deadlines below; stopped when the server goes.
    CancellableWait work_;
    std::deque<std::shared_ptr<Job>> queue_;
    // The job in progress has a deadline (is not a posted close), and which.
    bool current_has_deadline_ = false;
    Clock::time_point current_deadline_;
    // Calls fail at once until then: the last call found the server unreachable.
    Clock::time_point unreachable_until_;
    std::thread thread_;

    std::mutex credentials_mutex_;
    bool connected_ = false;
    bool trying_ = false;
    std::string user_, password_;
};

std::shared_ptr<ShareServer> ServerFor(const std::string& host) {
    static std::mutex lock;
    static std::map<std::string, std::shared_ptr<ShareServer>> servers;
    std::lock_guard<std::mutex> guard(lock);
    std::shared_ptr<ShareServer>& server = servers[Lower(host)];
    if (!server) server = std::make_shared<ShareServer>(host);
    return server;
}

struct Target {
    std::shared_ptr<ShareServer> server;
    std::string url;
    bool server_only = false;  // "\\host" names the server's list of shares
};

std::optional<Target> TargetOf(const std::string& path) {
    const std::optional<SharePathParts> parts = SplitSharePath(path);
    if (!parts) return std::nullopt;
    return Target{ServerFor(parts->host), ShareUrl(path), parts->rest.empty()};
}

// stat's answer, or nullopt when the path is missing, unreachable or the call ran out of time.
std::optional<struct stat> Stat(const std::string& path) {
    const std::optional<Target> target = TargetOf(path);
    if (!target) return std::nullopt;
    auto result = std::make_shared<std::optional<struct stat>>();
    const std::string url = target->url;
    const bool server_only = target->server_only;
    const bool done = target->server->Call([result, url, server_only](SMBCCTX* ctx) {
        if (server_only) {
            SMBCFILE* dir = PLATFORM_LAZY(g_smbclient, smbc_getFunctionOpendir)(ctx)(ctx, url.c_str());
            if (!dir) return errno;
            PLATFORM_LAZY(g_smbclient, smbc_getFunctionClosedir)(ctx)(ctx, dir);
            struct stat st {};
            st.st_mode = S_IFDIR;
            *result = st;
            return 0;
        }
        struct stat st;
        if (PLATFORM_LAZY(g_smbclient, smbc_getFunctionStat)(ctx)(ctx, url.c_str(), &st) != 0) return errno;
        *result = st;
        return 0;
    });
    return done ? *result : std::nullopt;
}

}  // namespace

bool IsSharePath(const std::string& path) {
    return path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/');
}

std::string ShareUrl(const std::string& path) {
    const std::optional<SharePathParts> parts = SplitSharePath(path);
    if (!parts) return "";
    std::string url = "smb://" + Escape(parts->host);
    for (const std::string& part : parts->rest) url += "/" + Escape(part);
    return url;
}

int ConnectShare(const std::string& remote_name, const std::string& user, const std::string& password) {
    const std::optional<Target> target = TargetOf(remote_name);
    if (!target) return kShareBadNetName;
    auto result = std::make_shared<int>(kShareTimeout);
    ShareServer* server = target->server.get();
    const std::string url = target->url;
    const bool server_only = target->server_only;
    const bool done = server->Call([result, server, url, server_only, user, password](SMBCCTX* ctx) {
        int error = 0;
        *result = server->Connect(ctx, url, server_only, user, password, &error);
        return error;
    });
    return done ? *result : kShareTimeout;
}

void ShareCallAbort::Abort() {
    g_call_wait.Update([this] { aborted_ = true; });
}

ScopedShareCallAbort::ScopedShareCallAbort(ShareCallAbort* abort) : previous_(t_abort) { t_abort = abort; }

ScopedShareCallAbort::~ScopedShareCallAbort() { t_abort = previous_; }

namespace share_files {

class OpenFile {
public:
    OpenFile(std::shared_ptr<ShareServer> server, SMBCFILE* file) : server_(std::move(server)), file_(file) {}
    ~OpenFile() {
        SMBCFILE* file = file_;
        server_->Post([file](SMBCCTX* ctx) {
            return PLATFORM_LAZY(g_smbclient, smbc_getFunctionClose)(ctx)(ctx, file) == 0 ? 0 : errno;
        });
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    ShareServer& server() const { return *server_; }
    SMBCFILE* file() const { return file_; }

private:
    std::shared_ptr<ShareServer> server_;
    SMBCFILE* file_;
};

bool Exists(const std::string& path) { return Stat(path).has_value(); }

bool IsFolder(const std::string& path) {
    const std::optional<struct stat> st = Stat(path);
    return st && S_ISDIR(st->st_mode);
}

std::vector<FolderEntry> List(const std::string& path, bool* listed) {
    if (listed) *listed = false;
    const std::optional<Target> target = TargetOf(path);
    if (!target) return {};
    auto entries = std::make_shared<std::vector<FolderEntry>>();
    auto opened = std::make_shared<bool>(false);
    const std::string url = target->url;
    const bool done = target->server->Call([entries, opened, url](SMBCCTX* ctx) {
        SMBCFILE* dir = PLATFORM_LAZY(g_smbclient, smbc_getFunctionOpendir)(ctx)(ctx, url.c_str());
        if (!dir) return errno;
        *opened = true;
        while (const smbc_dirent* d = PLATFORM_LAZY(g_smbclient, smbc_getFunctionReaddir)(ctx)(ctx, dir)) {
            const std::string name(d->name, strnlen(d->name, d->namelen ? d->namelen : std::strlen(d->name)));
            if (name.empty() || name == "." || name == "..") continue;
            FolderEntry entry;
            entry.name = name;
            entry.is_folder = d->smbc_type == SMBC_DIR || d->smbc_type == SMBC_FILE_SHARE;
            entry.is_symlink = d->smbc_type == SMBC_LINK;
            if (d->smbc_type == SMBC_DIR || d->smbc_type == SMBC_FILE || d->smbc_type == SMBC_LINK ||
                d->smbc_type == SMBC_FILE_SHARE)
                entries->push_back(std::move(entry));
        }
        PLATFORM_LAZY(g_smbclient, smbc_getFunctionClosedir)(ctx)(ctx, dir);
        return 0;
    });
    if (!done) return {};
    if (listed) *listed = *opened;
    std::sort(entries->begin(), entries->end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return std::move(*entries);
}

std::shared_ptr<OpenFile> Open(const std::string& path) {
    const std::optional<Target> target = TargetOf(path);
    if (!target || target->server_only) return nullptr;
    auto opened = std::make_shared<SMBCFILE*>(nullptr);
    const std::string url = target->url;
    const bool done = target->server->Call([opened, url](SMBCCTX* ctx) {
        SMBCFILE* file = PLATFORM_LAZY(g_smbclient, smbc_getFunctionOpen)(ctx)(ctx, url.c_str(), O_RDONLY, 0);
        if (!file) return errno;
        struct stat st;
        if (PLATFORM_LAZY(g_smbclient, smbc_getFunctionFstat)(ctx)(ctx, file, &st) != 0) {
            const int error = errno;
            PLATFORM_LAZY(g_smbclient, smbc_getFunctionClose)(ctx)(ctx, file);
            return error;
        }
        if (!S_ISREG(st.st_mode)) {
            PLATFORM_LAZY(g_smbclient, smbc_getFunctionClose)(ctx)(ctx, file);
            return 0;
        }
        *opened = file;
        return 0;
    });
    if (done) return *opened ? std::make_shared<OpenFile>(target->server, *opened) : nullptr;
    // The open may still succeed after the wait was given up: close it then.
    std::shared_ptr<ShareServer> server = target->server;
    server->Post([opened](SMBCCTX* ctx) {
        if (*opened) PLATFORM_LAZY(g_smbclient, smbc_getFunctionClose)(ctx)(ctx, *opened);
        return 0;
    });
    return nullptr;
}

size_t ReadAt(const OpenFile& file, uint64_t offset, void* buffer, size_t size) {
    if (size == 0 || offset > static_cast<uint64_t>(INT64_MAX) || size > static_cast<uint64_t>(INT64_MAX) - offset)
        return 0;
    auto data = std::make_shared<std::vector<char>>();
    SMBCFILE* handle = file.file();
    const bool done = file.server().Call([data, handle, offset, size](SMBCCTX* ctx) {
        const auto seek = PLATFORM_LAZY(g_smbclient, smbc_getFunctionLseek)(ctx);
        if (seek(ctx, handle, static_cast<off_t>(offset), SEEK_SET) < 0) return errno;
        data->resize(size);
        size_t got = 0;
        int error = 0;
        while (got < size) {
            const ssize_t n =
                PLATFORM_LAZY(g_smbclient, smbc_getFunctionRead)(ctx)(ctx, handle, data->data() + got, size - got);
            if (n < 0) error = errno;
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        data->resize(got);
        return error;
    });
    if (!done) return 0;
    std::memcpy(buffer, data->data(), data->size());
    return data->size();
}

int64_t Size(const OpenFile& file) {
    auto size = std::make_shared<int64_t>(-1);
    SMBCFILE* handle = file.file();
    const bool done = file.server().Call([size, handle](SMBCCTX* ctx) {
        struct stat st;
        if (PLATFORM_LAZY(g_smbclient, smbc_getFunctionFstat)(ctx)(ctx, handle, &st) != 0) return errno;
        *size = st.st_size;
        return 0;
    });
    return done ? *size : -1;
}

}  // namespace share_files
}  // namespace platform
