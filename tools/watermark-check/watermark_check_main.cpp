// watermark-check FILE...
// Prints "FILE<TAB>V" or "FILE<TAB>X" per file, as the checker's verification marks it.
#include <cstdio>
#include <string>

#include "checker/verification.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: watermark-check FILE...\n");
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string verdict = VerifyFile(argv[i]);
        std::printf("%s\t%s\n", argv[i], verdict.c_str());
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
