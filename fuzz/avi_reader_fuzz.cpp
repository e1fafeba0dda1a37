// Arbitrary bytes as an AVI file read and decoded as the checker's preview
// does, and as a Video 1 frame of a size taken from the first bytes.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "checker/avi_reader.h"
#include "checker/msvc16_decoder.h"
#include "tests/support/temp_folder.h"

namespace {
// The run's input files live in a temporary folder removed when the run ends.
TempFolder& Folder() {
    static TempFolder folder;
    return folder;
}

const std::string& Path() {
    static const std::string path = Folder().Sub("input.avi");
    return path;
}

void ReadFile() {
    static std::vector<uint8_t> chunk(4000000);
    static std::vector<uint16_t> picture;
    static std::vector<uint8_t> bgr;
    AviReader reader;
    if (!reader.Open(Path())) return;
    const size_t pixels = static_cast<size_t>(reader.width()) * static_cast<size_t>(reader.height());
    if (picture.size() < pixels) {
        picture.resize(pixels);
        bgr.resize(pixels * 3);
    }
    uint32_t size = 0;
    bool decoded = false;
    while (reader.ReadChunk(chunk.data(), chunk.size(), &size)) {
        if (reader.last_chunk_kind() != AviReader::kChunkVideo || reader.codec() != AviReader::kCodecMsvc)
            continue;
        DecodeMsvc16(picture.data(), chunk.data(), size, reader.width(), reader.height());
        decoded = true;
    }
    // Once per file: a picture of the largest size is slow to convert.
    if (decoded) Rgb555ToBgr24(bgr.data(), picture.data(), reader.width(), reader.height());
    reader.Close();
}

void DecodeRaw(const uint8_t* data, size_t size) {
    if (size < 2) return;
    const int width = 1 + data[0] % 64;
    const int height = 1 + data[1] % 64;
    std::vector<uint16_t> picture(static_cast<size_t>(width) * height);
    // The data in a block of their own, so a read past them is caught.
    std::vector<uint8_t> frame(data + 2, data + size);
    Msvc16BlockCounts counts;
    DecodeMsvc16(picture.data(), frame.data(), frame.size(), width, height, &counts);
    if (counts.skipped + counts.one_colour + counts.two_colour + counts.eight_colour >
        static_cast<uint64_t>(width / 4) * (height / 4))
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(Path().c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    ReadFile();
    DecodeRaw(data, size);
    return 0;
}
