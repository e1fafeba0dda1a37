#pragma once
// Data folders on a network share, "\\host\share\dir" or "//host/share/dir",
// read through libsmbclient. libsmbclient calls block, so each server's calls
// run on a thread of their own (and, the library not being thread-safe, one
// call at a time in the process); a caller waits for its call at most
// kShareCallDeadlineMs, and less when its owner aborts the wait
// (ShareCallAbort), after which the call's result is dropped.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct FolderEntry;

// Result codes of ConnectShare, numbered as the network-connection call that
// stands here numbers them.
constexpr int kShareConnected = 0;
constexpr int kShareBadNetPath = 53;    // the server did not answer
constexpr int kShareBadNetName = 67;    // no such share or folder on it
constexpr int kShareCredentialConflict = 1219;  // connected already, under other credentials
constexpr int kShareLogonFailure = 1326;
constexpr int kShareTimeout = 1460;

// libsmbclient's own timeout on each network operation; a call waits a little longer.
constexpr int kShareTimeoutMs = 5000;
constexpr int kShareCallDeadlineMs = kShareTimeoutMs + 1000;

// Tests run their server on another port; programs leave this unset (the standard port).
constexpr char kSharePortVariable[] = "LARKSPUR_SMB_PORT";

bool IsSharePath(const std::string& path);
// "smb://host/share/dir" for "\\host\share\dir"; empty when the path names no server.
std::string ShareUrl(const std::string& path);

// Authenticates with user and password at the server of remote_name and checks
// that remote_name is there. On success the credentials stay with that server
// for the life of the process; every later call on its paths uses them.
int ConnectShare(const std::string& remote_name, const std::string& user, const std::string& password);

// Held by the owner of a thread that reads shares; the thread binds it with
// ScopedShareCallAbort. Abort ends the thread's current and later share calls
// at once (they fail) until Reset.
class ShareCallAbort {
public:
    void Abort();
    void Reset() { aborted_ = false; }
    bool Aborted() const { return aborted_; }

private:
    std::atomic<bool> aborted_{false};
};

class ScopedShareCallAbort {
public:
    explicit ScopedShareCallAbort(ShareCallAbort* abort);
    ~ScopedShareCallAbort();
    ScopedShareCallAbort(const ScopedShareCallAbort&) = delete;
    ScopedShareCallAbort& operator=(const ScopedShareCallAbort&) = delete;

private:
    ShareCallAbort* previous_;
};

// The share side of data_file.h.
namespace share_files {

class OpenFile;

bool Exists(const std::string& path);
bool IsFolder(const std::string& path);
// listed, when given, tells an empty folder from one that could not be read.
std::vector<FolderEntry> List(const std::string& path, bool* listed = nullptr);
// Only regular files open; null otherwise.
std::shared_ptr<OpenFile> Open(const std::string& path);
size_t ReadAt(const OpenFile& file, uint64_t offset, void* buffer, size_t size);
int64_t Size(const OpenFile& file);

}  // namespace share_files
}  // namespace platform
