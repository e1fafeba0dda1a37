// Minute files damaged by the input: either the raw bytes, or a valid file with
// the input's patches and cut applied (random bytes rarely get past the index).
// Every second, channel and entry is walked.

#include <vector>

#include "tools/common/avdata_writer.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "media/minute_file.h"
#include "tests/support/temp_folder.h"

namespace {
// The run's input files live in a temporary folder removed when the run ends.
TempFolder& Folder() {
    static TempFolder folder;
    return folder;
}
std::string TempPath() {
    static const std::string path = Folder().Sub("input.db");
    return path;
}
const std::vector<uint8_t>& Template() {
    static const std::vector<uint8_t> bytes = [] {
        sample::SampleMinute minute;
        minute.titles = {u"One", u"Two", u"Three", u"Four"};
        for (int s = 0; s < 60; s += 7) {
            for (int c = 0; c < 4; ++c) {
                sample::SampleChannelSecond ch;
                for (int i = 0; i < 3; ++i) {
                    sample::SampleFrame f;
                    f.kind = static_cast<uint8_t>(i == 2);
                    f.codec = i == 2 ? 3 : 9;
                    f.data.assign(16, static_cast<uint8_t>(i));
                    ch.frames.push_back(f);
                }
                minute.seconds[s].channels[c] = ch;
            }
        }
        return sample::BuildMinuteFile(minute);
    }();
    return bytes;
}

// Input: 1 mode byte; mode odd: raw file. Else 4 bytes cut length, then 5-byte patches (u32 position, value).
std::vector<uint8_t> FileBytes(const uint8_t* data, size_t size) {
    if (size == 0 || (data[0] & 1)) return std::vector<uint8_t>(data + (size ? 1 : 0), data + size);
    std::vector<uint8_t> file = Template();
    size_t at = 1;
    if (size >= 5) {
        const uint32_t cut = data[1] | (data[2] << 8) | (data[3] << 16) | (static_cast<uint32_t>(data[4]) << 24);
        if (cut < file.size()) file.resize(cut);
        at = 5;
    }
    for (; at + 5 <= size && !file.empty(); at += 5) {
        const uint32_t pos = data[at] | (data[at + 1] << 8) | (data[at + 2] << 16) |
                             (static_cast<uint32_t>(data[at + 3]) << 24);
        file[pos % file.size()] = data[at + 4];
    }
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(TempPath().c_str(), "wb");
    if (!f) return 0;
    const std::vector<uint8_t> bytes = FileBytes(data, size);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    MinuteFile file;
    if (!file.OpenPath(TempPath())) return 0;
    for (int s = 0; s < diskformat::kSecondsPerMinute; ++s) {
        for (int c = 0; c < diskformat::kChannels; ++c) {
            if (!file.Second(s).ChannelPresent(c)) continue;
            ChannelSecondBlock block;
            int64_t pos = 0;
            if (!file.ReadBlock(s, c, &block, &pos)) continue;
            (void)Utf16ToUtf8(block.Title(c));
            (void)Utf16ToUtf8(block.TitleLow(c));
            for (const MinuteFrame& frame : file.ReadFrames(block, pos)) {
                if (frame.data.size() != static_cast<size_t>(frame.entry.length)) __builtin_trap();
            }
        }
    }
    return 0;
}
