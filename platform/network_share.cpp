#include "platform/network_share.h"

#include <dlfcn.h>
#include <libsmbclient.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/data_file.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// libsmbclient keeps its working memory (talloc stack frames) process-wide, with no
// thread set-up this build exports: one call into it at a time, whatever the server.
std::mutex g_library_mutex;
// Every caller waits on this one pair: a finished call and an abort both wake it.
std::mutex g_wait_mutex;
std::condition_variable g_wait_cv;
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

// libsmbclient is opened on the first share path, not linked: its hundred-odd
// Samba libraries cost every program ~10 ms to load at start, and most runs
// never read a share. Without it every share call fails.
struct SmbClient {
    bool loaded = false;
    decltype(&::smbc_free_context) free_context = nullptr;
    decltype(&::smbc_getFunctionClose) getFunctionClose = nullptr;
    decltype(&::smbc_getFunctionClosedir) getFunctionClosedir = nullptr;
    decltype(&::smbc_getFunctionFstat) getFunctionFstat = nullptr;
    decltype(&::smbc_getFunctionLseek) getFunctionLseek = nullptr;
    decltype(&::smbc_getFunctionOpen) getFunctionOpen = nullptr;
    decltype(&::smbc_getFunctionOpendir) getFunctionOpendir = nullptr;
    decltype(&::smbc_getFunctionPurgeCachedServers) getFunctionPurgeCachedServers = nullptr;
    decltype(&::smbc_getFunctionRead) getFunctionRead = nullptr;
    decltype(&::smbc_getFunctionReaddir) getFunctionReaddir = nullptr;
    decltype(&::smbc_getFunctionStat) getFunctionStat = nullptr;
    decltype(&::smbc_getOptionUserData) getOptionUserData = nullptr;
    decltype(&::smbc_init_context) init_context = nullptr;
    decltype(&::smbc_new_context) new_context = nullptr;
    decltype(&::smbc_setDebug) setDebug = nullptr;
    decltype(&::smbc_setFunctionAuthDataWithContext) setFunctionAuthDataWithContext = nullptr;
    decltype(&::smbc_setOptionFallbackAfterKerberos) setOptionFallbackAfterKerberos = nullptr;
    decltype(&::smbc_setOptionNoAutoAnonymousLogin) setOptionNoAutoAnonymousLogin = nullptr;
    decltype(&::smbc_setOptionUseCCache) setOptionUseCCache = nullptr;
    decltype(&::smbc_setOptionUseKerberos) setOptionUseKerberos = nullptr;
    decltype(&::smbc_setOptionUserData) setOptionUserData = nullptr;
    decltype(&::smbc_setPort) setPort = nullptr;
    decltype(&::smbc_setTimeout) setTimeout = nullptr;
};

template <typename Function>
bool Bind(void* library, const char* name, Function* function) {
    *function = reinterpret_cast<Function>(::dlsym(library, name));
    return *function != nullptr;
}

SmbClient LoadSmbClient() {
    SmbClient smb;
    // Kept open for the life of the process: contexts and their callbacks live in it.
    void* library = ::dlopen("libsmbclient.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!library) return smb;
    smb.loaded = Bind(library, "smbc_free_context", &smb.free_context) &&
                 Bind(library, "smbc_getFunctionClose", &smb.getFunctionClose) &&
                 Bind(library, "smbc_getFunctionClosedir", &smb.getFunctionClosedir) &&
                 Bind(library, "smbc_getFunctionFstat", &smb.getFunctionFstat) &&
                 Bind(library, "smbc_getFunctionLseek", &smb.getFunctionLseek) &&
                 Bind(library, "smbc_getFunctionOpen", &smb.getFunctionOpen) &&
                 Bind(library, "smbc_getFunctionOpendir", &smb.getFunctionOpendir) &&
                 Bind(library, "smbc_getFunctionPurgeCachedServers", &smb.getFunctionPurgeCachedServers) &&
                 Bind(library, "smbc_getFunctionRead", &smb.getFunctionRead) &&
                 Bind(library, "smbc_getFunctionReaddir", &smb.getFunctionReaddir) &&
                 Bind(library, "smbc_getFunctionStat", &smb.getFunctionStat) &&
                 Bind(library, "smbc_getOptionUserData", &smb.getOptionUserData) &&
                 Bind(library, "smbc_init_context", &smb.init_context) &&
                 Bind(library, "smbc_new_context", &smb.new_context) &&
                 Bind(library, "smbc_setDebug", &smb.setDebug) &&
                 Bind(library, "smbc_setFunctionAuthDataWithContext", &smb.setFunctionAuthDataWithContext) &&
                 Bind(library, "smbc_setOptionFallbackAfterKerberos", &smb.setOptionFallbackAfterKerberos) &&
                 Bind(library, "smbc_setOptionNoAutoAnonymousLogin", &smb.setOptionNoAutoAnonymousLogin) &&
                 Bind(library, "smbc_setOptionUseCCache", &smb.setOptionUseCCache) &&
                 Bind(library, "smbc_setOptionUseKerberos", &smb.setOptionUseKerberos) &&
                 Bind(library, "smbc_setOptionUserData", &smb.setOptionUserData) &&
                 Bind(library, "smbc_setPort", &smb.setPort) &&
                 Bind(library, "smbc_setTimeout", &smb.setTimeout);
    return smb;
}

const SmbClient& Smb() {
    static const SmbClient smb = LoadSmbClient();
    return smb;
}

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
    bool done = false;  // under g_wait_mutex
    bool abandoned = false;  // under g_wait_mutex
};

// One server: its credentials and the thread that makes every libsmbclient
// call on it, on a context of its own.
class ShareServer {
public:
    explicit ShareServer(std::string host) : host_(std::move(host)), port_(PortFromEnvironment()) {
        thread_ = std::thread([this] { Run(); });
    }

    ~ShareServer() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

    // Runs work on the server's thread; false when the work did not end in
    // time or the caller's owner aborted the wait (the work's result is then dropped).
    bool Call(Work work) {
        ShareCallAbort* abort = t_abort;
        if (abort && abort->Aborted()) return false;
        auto job = std::make_shared<Job>();
        job->work = std::move(work);
        job->deadline = Clock::now() + std::chrono::milliseconds(kShareCallDeadlineMs);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            // A server stuck past a deadline, or just found unreachable, would hold every later
            // call as long again (the window thread marks a month's days one call each).
            const Clock::time_point now = Clock::now();
            if ((current_has_deadline_ && now > current_deadline_) || now < unreachable_until_) return false;
            queue_.push_back(job);
        }
        cv_.notify_one();
        std::unique_lock<std::mutex> lock(g_wait_mutex);
        g_wait_cv.wait_until(lock, job->deadline, [&] { return job->done || (abort && abort->Aborted()); });
        if (job->done) return true;
        job->abandoned = true;
        return false;
    }

    // Work nobody waits for (closing a file).
    void Post(Work work) {
        auto job = std::make_shared<Job>();
        job->work = std::move(work);
        job->deadline = Clock::time_point::max();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(job);
        }
        cv_.notify_one();
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
        Smb().getFunctionPurgeCachedServers(ctx)(ctx);
        errno = 0;
        bool reached = false;
        if (server_only) {
            if (SMBCFILE* dir = Smb().getFunctionOpendir(ctx)(ctx, url.c_str())) {
                Smb().getFunctionClosedir(ctx)(ctx, dir);
                reached = true;
            }
        } else {
            struct stat st;
            reached = Smb().getFunctionStat(ctx)(ctx, url.c_str(), &st) == 0;
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
        auto* self = static_cast<ShareServer*>(Smb().getOptionUserData(ctx));
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
        if (!Smb().loaded) return nullptr;
        SMBCCTX* ctx = Smb().new_context();
        if (!ctx) return nullptr;
        Smb().setDebug(ctx, 0);
        Smb().setOptionUserData(ctx, this);
        Smb().setFunctionAuthDataWithContext(ctx, &ShareServer::Authenticate);
        Smb().setTimeout(ctx, kShareTimeoutMs);
        Smb().setOptionUseKerberos(ctx, false);
        Smb().setOptionFallbackAfterKerberos(ctx, true);
        Smb().setOptionUseCCache(ctx, false);
        // A wrong password must fail, not fall back to a guest login.
        Smb().setOptionNoAutoAnonymousLogin(ctx, true);
        if (port_) Smb().setPort(ctx, port_);
        if (!Smb().init_context(ctx)) {
            Smb().free_context(ctx, 1);
            return nullptr;
        }
        return ctx;
    }

    void Run() {
        SMBCCTX* ctx = NewContext();
        for (;;) {
            std::shared_ptr<Job> job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
                if (queue_.empty()) break;
                job = std::move(queue_.front());
                queue_.pop_front();
                current_has_deadline_ = job->deadline != Clock::time_point::max();
                current_deadline_ = job->deadline;
            }
            int error = 0;
            {
                std::lock_guard<std::mutex> library(g_library_mutex);
                // Another server's call may have held the library meanwhile.
                bool skip = !ctx;
                {
                    std::lock_guard<std::mutex> lock(g_wait_mutex);
                    skip = skip || job->abandoned || Clock::now() > job->deadline;
                }
                if (!skip) error = job->work(ctx);
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                const Clock::time_point now = Clock::now();
                if (Unreachable(error) || (current_has_deadline_ && now > current_deadline_))
                    unreachable_until_ = now + std::chrono::milliseconds(kShareTimeoutMs);
                current_has_deadline_ = false;
            }
            {
                std::lock_guard<std::mutex> lock(g_wait_mutex);
                job->done = true;
            }
            g_wait_cv.notify_all();
        }
        if (ctx) {
            std::lock_guard<std::mutex> library(g_library_mutex);
            Smb().free_context(ctx, 1);
        }
    }

    const std::string host_;
    const uint16_t port_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::shared_ptr<Job>> queue_;
    bool stop_ = false;
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
            SMBCFILE* dir = Smb().getFunctionOpendir(ctx)(ctx, url.c_str());
            if (!dir) return errno;
            Smb().getFunctionClosedir(ctx)(ctx, dir);
            struct stat st {};
            st.st_mode = S_IFDIR;
            *result = st;
            return 0;
        }
        struct stat st;
        if (Smb().getFunctionStat(ctx)(ctx, url.c_str(), &st) != 0) return errno;
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
    {
        std::lock_guard<std::mutex> lock(g_wait_mutex);
        aborted_ = true;
    }
    g_wait_cv.notify_all();
}

ScopedShareCallAbort::ScopedShareCallAbort(ShareCallAbort* abort) : previous_(t_abort) { t_abort = abort; }

ScopedShareCallAbort::~ScopedShareCallAbort() { t_abort = previous_; }

namespace share_files {

class OpenFile {
public:
    OpenFile(std::shared_ptr<ShareServer> server, SMBCFILE* file) : server_(std::move(server)), file_(file) {}
    ~OpenFile() {
        SMBCFILE* file = file_;
        server_->Post([file](SMBCCTX* ctx) { return Smb().getFunctionClose(ctx)(ctx, file) == 0 ? 0 : errno; });
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
        SMBCFILE* dir = Smb().getFunctionOpendir(ctx)(ctx, url.c_str());
        if (!dir) return errno;
        *opened = true;
        while (const smbc_dirent* d = Smb().getFunctionReaddir(ctx)(ctx, dir)) {
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
        Smb().getFunctionClosedir(ctx)(ctx, dir);
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
        SMBCFILE* file = Smb().getFunctionOpen(ctx)(ctx, url.c_str(), O_RDONLY, 0);
        if (!file) return errno;
        struct stat st;
        if (Smb().getFunctionFstat(ctx)(ctx, file, &st) != 0) {
            const int error = errno;
            Smb().getFunctionClose(ctx)(ctx, file);
            return error;
        }
        if (!S_ISREG(st.st_mode)) {
            Smb().getFunctionClose(ctx)(ctx, file);
            return 0;
        }
        *opened = file;
        return 0;
    });
    if (done) return *opened ? std::make_shared<OpenFile>(target->server, *opened) : nullptr;
    // The open may still succeed after the wait was given up: close it then.
    std::shared_ptr<ShareServer> server = target->server;
    server->Post([opened](SMBCCTX* ctx) {
        if (*opened) Smb().getFunctionClose(ctx)(ctx, *opened);
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
        if (Smb().getFunctionLseek(ctx)(ctx, handle, static_cast<off_t>(offset), SEEK_SET) < 0) return errno;
        data->resize(size);
        size_t got = 0;
        int error = 0;
        while (got < size) {
            const ssize_t n = Smb().getFunctionRead(ctx)(ctx, handle, data->data() + got, size - got);
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
        if (Smb().getFunctionFstat(ctx)(ctx, handle, &st) != 0) return errno;
        *size = st.st_size;
        return 0;
    });
    return done ? *size : -1;
}

}  // namespace share_files
}  // namespace platform
