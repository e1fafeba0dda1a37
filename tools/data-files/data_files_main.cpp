// data-files FOLDER
// Lays the data files Larkspur keeps beside itself into FOLDER, each only
// where it is missing.
#include <cstdio>
#include <string>

#include "tools/common/program_data_files.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: data-files FOLDER\n");
        return 2;
    }
    std::string error;
    if (!shipped::LayDataFiles(argv[1], &error)) {
        std::fprintf(stderr, "data-files: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
