// The AVI checks on damaged files: either the raw input, or a valid export
// with the input's patches and cut applied (random bytes rarely get past the
// header walk).

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "checker/verification.h"
#include "checker/watermark_checks.h"
#include "tests/checker/avi_fixture.h"
#include "tests/support/temp_folder.h"

namespace {
// The run's input files live in a temporary folder removed when the run ends.
TempFolder& Folder() {
    static TempFolder folder;
    return folder;
}
const std::string& TempPath() {
    static const std::string path = Folder().Sub("input.avi");
    return path;
}

const std::vector<uint8_t>& Template() {
    static const std::vector<uint8_t> bytes = [] {
        avifixture::Layout layout;
        layout.junk_size = 16;
        for (auto& chunk : avifixture::SampleChunks()) {
            if (chunk.data.size() > 64) chunk.data.resize(chunk.data.size() % 64);
            layout.chunks.push_back(chunk);
        }
        return avifixture::Build(layout).bytes;
    }();
    return bytes;
}

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

// Input: 1 mode byte; odd: raw file. Else 4 bytes cut length, then 5-byte patches (u32 position, value).
std::vector<uint8_t> FileBytes(const uint8_t* data, size_t size, bool* pristine) {
    *pristine = false;
    if (size == 0 || (data[0] & 1)) return std::vector<uint8_t>(data + (size ? 1 : 0), data + size);
    std::vector<uint8_t> file = Template();
    *pristine = true;
    size_t at = 1;
    if (size >= 5) {
        const uint32_t cut = Le32(data + 1);
        if (cut < file.size()) {
            file.resize(cut);
            *pristine = false;
        }
        at = 5;
    }
    for (; at + 5 <= size && !file.empty(); at += 5) {
        uint8_t& byte = file[Le32(data + at) % file.size()];
        if (byte != data[at + 4]) *pristine = false;
        byte = data[at + 4];
    }
    return file;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bool pristine = false;
    const std::vector<uint8_t> bytes = FileBytes(data, size, &pristine);
    FILE* f = std::fopen(TempPath().c_str(), "wb");
    if (!f) return 0;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    const bool summed = CheckAviStreamChecksum(TempPath());
    const bool trailed = CheckAviTrailer(TempPath());
    (void)FindAviChecksumPosition(TempPath());
    if (pristine && !summed) __builtin_trap();
    if ((VerifyFile(TempPath()) == "V") != (summed || trailed)) __builtin_trap();
    return 0;
}
