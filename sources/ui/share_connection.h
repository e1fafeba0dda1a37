#pragma once
// Reaching a network share "\\host\share\...". Connecting one needs a share
// client this build does not have, so by default a connection attempt fails;
// tests and a build with a share client install their own connector.
#include <functional>
#include <string>

namespace share {

constexpr int kConnected = 0;
// A connection to that server exists already under other credentials.
constexpr int kCredentialConflict = 1219;
// What the default connector answers: no network to reach the share through.
constexpr int kNoNetwork = 1222;

// Result code of a connection attempt (kConnected on success).
using Connector = std::function<int(const std::string& remote_name, const std::string& user,
                                    const std::string& password)>;

// Window thread only; returns the previous connector; an empty one restores the default.
Connector SetConnector(Connector connector);
int Connect(const std::string& remote_name, const std::string& user, const std::string& password);

// "\\" + host, unless the host already begins with a backslash.
std::string SharePath(const std::string& host);
// 1 when the share path exists or a connection makes it reachable
// (a credential conflict counts only when the path then exists).
int TestShare(const std::string& path, const std::string& user, const std::string& password);

}  // namespace share
