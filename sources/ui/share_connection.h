#pragma once
// Reaching a network share "\\host\share\...": by default through the
// platform's share client; tests may install a connector of their own.
#include <functional>
#include <string>

#include "platform/network_share.h"

namespace share {

constexpr int kConnected = platform::kShareConnected;
// A connection to that server exists already under other credentials.
constexpr int kCredentialConflict = platform::kShareCredentialConflict;

// Result code of a connection attempt (kConnected on success).
using Connector = std::function<int(const std::string& remote_name, const std::string& user,
                                    const std::string& password)>;

// Window thread only; returns the previous connector; an empty one restores the default.
Connector SetConnector(Connector connector);
int Connect(const std::string& remote_name, const std::string& user, const std::string& password);

// "\\" + host, unless the host already begins with a backslash.
std::string SharePath(const std::string& host);
// The same share path with "/" separators, as folder paths are built here.
std::string FolderPath(const std::string& share_path);
// 1 when the share path exists or a connection makes it reachable
// (a credential conflict counts only when the path then exists).
int TestShare(const std::string& path, const std::string& user, const std::string& password);

}  // namespace share
