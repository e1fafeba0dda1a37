// avdata-dump day FOLDER YEAR MONTH DAY
// avdata-dump minute FOLDER YEAR MONTH DAY HOUR MINUTE
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "tools/common/avdata_dump.h"

namespace {
int Usage() {
    std::fprintf(stderr,
                 "usage: avdata-dump day FOLDER YEAR MONTH DAY\n"
                 "       avdata-dump minute FOLDER YEAR MONTH DAY HOUR MINUTE\n");
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
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    const int want = command == "day" ? 6 : command == "minute" ? 8 : -1;
    if (want < 0 || argc != want) return Usage();
    int v[5] = {};
    for (int i = 3; i < argc; ++i) {
        if (!ParseInt(argv[i], &v[i - 3])) return Usage();
    }
    std::string error;
    const bool ok = command == "day" ? sample::DumpDay(argv[2], v[0], v[1], v[2], std::cout, &error)
                                     : sample::DumpMinute(argv[2], v[0], v[1], v[2], v[3], v[4], std::cout, &error);
    std::cout.flush();
    if (!ok) {
        std::fprintf(stderr, "avdata-dump: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
