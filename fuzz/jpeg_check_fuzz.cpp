// The JPEG watermark check on arbitrary bytes; then, taking the bytes as an
// encoder's output, the watermark inserted into them must always check.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "checker/verification.h"
#include "checker/watermark_checks.h"
#include "media/watermark_writer.h"
#include "tests/support/temp_folder.h"

namespace {
// The run's input files live in a temporary folder removed when the run ends.
TempFolder& Folder() {
    static TempFolder folder;
    return folder;
}
const std::string& TempPath() {
    static const std::string path = Folder().Sub("input.jpg");
    return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(TempPath().c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    const bool raw = CheckJpegWatermark(TempPath());
    if ((VerifyFile(TempPath()) == "V") != raw) __builtin_trap();

    std::vector<uint8_t> copy;
    const bool inserted = InsertJpegWatermark(copy, TempPath());
    if (inserted != (size >= 2)) __builtin_trap();
    if (inserted && (copy.size() != size + 8 || !CheckJpegWatermark(TempPath()))) __builtin_trap();
    return 0;
}
