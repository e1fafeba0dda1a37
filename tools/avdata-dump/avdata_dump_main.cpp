// avdata-dump [--user NAME --password PASSWORD] day FOLDER YEAR MONTH DAY
// avdata-dump [--user NAME --password PASSWORD] minute FOLDER YEAR MONTH DAY HOUR MINUTE
// FOLDER may be on a network share ("\\host\share\dir" or "//host/share/dir");
// the user and password log in to it first.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "platform/network_share.h"
#include "tools/common/avdata_dump.h"

namespace {
int Usage() {
    std::fprintf(stderr,
                 "usage: avdata-dump [--user NAME --password PASSWORD] day FOLDER YEAR MONTH DAY\n"
                 "       avdata-dump [--user NAME --password PASSWORD] minute FOLDER YEAR MONTH DAY HOUR MINUTE\n");
    return 2;
}

bool ParseInt(const char* text, int* out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < -1000000 || v > 1000000) return false;
    *out = static_cast<int>(v);
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    std::string user, password;
    bool login = false;
    while (argc >= 3 && (std::strcmp(argv[1], "--user") == 0 || std::strcmp(argv[1], "--password") == 0)) {
        (std::strcmp(argv[1], "--user") == 0 ? user : password) = argv[2];
        login = true;
        argc -= 2;
        argv += 2;
    }
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    const int want = command == "day" ? 6 : command == "minute" ? 8 : -1;
    if (want < 0 || argc != want) return Usage();
    int v[5] = {};
    for (int i = 3; i < argc; ++i) {
        if (!ParseInt(argv[i], &v[i - 3])) return Usage();
    }
    const std::string folder = argv[2];
    if (login && platform::IsSharePath(folder)) {
        const int code = platform::ConnectShare(folder, user, password);
        if (code != platform::kShareConnected) {
            std::fprintf(stderr, "avdata-dump: cannot log in to %s (error %d)\n", folder.c_str(), code);
            return 1;
        }
    }
    std::string error;
    const bool ok = command == "day" ? sample::DumpDay(folder, v[0], v[1], v[2], std::cout, &error)
                                     : sample::DumpMinute(folder, v[0], v[1], v[2], v[3], v[4], std::cout, &error);
    std::cout.flush();
    if (!ok) {
        std::fprintf(stderr, "avdata-dump: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
