#include "sources/ui/share_connection.h"

#include <mutex>

#include "platform/data_file.h"

namespace share {
namespace {

std::mutex& ConnectorLock() {
    static std::mutex lock;
    return lock;
}

Connector& Current() {
    static Connector connector;
    return connector;
}

}  // namespace

Connector SetConnector(Connector connector) {
    std::lock_guard<std::mutex> lock(ConnectorLock());
    Connector previous = std::move(Current());
    Current() = std::move(connector);
    return previous;
}

int Connect(const std::string& remote_name, const std::string& user, const std::string& password) {
    Connector connector;
    {
        std::lock_guard<std::mutex> lock(ConnectorLock());
        connector = Current();
    }
    if (!connector) return platform::ConnectShare(remote_name, user, password);
    return connector(remote_name, user, password);
}

std::string SharePath(const std::string& host) {
    if (!host.empty() && host[0] == '\\') return host;
    return "\\\\" + host;
}

std::string FolderPath(const std::string& share_path) {
    std::string path = share_path;
    for (char& c : path)
        if (c == '\\') c = '/';
    while (path.size() > 2 && path.back() == '/') path.pop_back();
    return path;
}

int TestShare(const std::string& path, const std::string& user, const std::string& password) {
    if (platform::PathExists(path)) return 1;
    const int result = Connect(path, user, password);
    if (result == kConnected) return 1;
    if (result == kCredentialConflict) return platform::PathExists(path) ? 1 : 0;
    return 0;
}

}  // namespace share
