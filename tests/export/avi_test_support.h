#pragma once
// Reading the export writers' files back: the chunks through the checker's
// reader, raw header fields, the idx1 index, and ffprobe when it is installed.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "checker/avi_reader.h"

namespace avitest {

struct ReadChunk {
    int kind;
    std::string id;
    std::vector<uint8_t> data;
};

inline std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline uint32_t Le32(const std::vector<uint8_t>& v, size_t at) {
    return v[at] | (v[at + 1] << 8) | (v[at + 2] << 16) | (static_cast<uint32_t>(v[at + 3]) << 24);
}

inline uint16_t Le16(const std::vector<uint8_t>& v, size_t at) {
    return static_cast<uint16_t>(v[at] | (v[at + 1] << 8));
}

inline std::string IdAt(const std::vector<uint8_t>& v, size_t at) {
    return std::string(reinterpret_cast<const char*>(v.data() + at), 4);
}

// Every movi chunk in file order; failed is set when the reader stopped early.
inline std::vector<ReadChunk> Chunks(AviReader& reader, bool* failed) {
    std::vector<ReadChunk> out;
    std::vector<uint8_t> buffer(8 << 20);
    uint32_t size = 0;
    while (reader.ReadChunk(buffer.data(), buffer.size(), &size))
        out.push_back({reader.last_chunk_kind(), reader.last_chunk_id(),
                       std::vector<uint8_t>(buffer.begin(), buffer.begin() + size)});
    *failed = reader.failed();
    return out;
}

struct IndexEntry {
    std::string id;
    uint32_t flags;
    uint32_t offset;  // from the "movi" type field
    uint32_t size;
};

struct Layout {
    uint64_t movi_list = 0;  // offset of the movi list's "LIST"
    uint32_t movi_size = 0;
    std::vector<IndexEntry> index;
    bool has_index = false;
};

// Walks the top level of the RIFF file.
inline Layout TopLevel(const std::vector<uint8_t>& f) {
    Layout l;
    for (size_t at = 12; at + 8 <= f.size();) {
        const std::string id = IdAt(f, at);
        const uint32_t size = Le32(f, at + 4);
        if (id == "LIST" && IdAt(f, at + 8) == "movi") {
            l.movi_list = at;
            l.movi_size = size;
        } else if (id == "idx1") {
            l.has_index = true;
            for (size_t e = at + 8; e + 16 <= at + 8 + size && e + 16 <= f.size(); e += 16)
                l.index.push_back({IdAt(f, e), Le32(f, e + 4), Le32(f, e + 8), Le32(f, e + 12)});
        }
        at += 8 + size + (size & 1);
    }
    return l;
}

// Offsets of the fixed header layout both writers produce.
constexpr size_t kAvihData = 32;
constexpr size_t kVideoStrh = 108;
constexpr size_t kVideoStrf = 172;
constexpr size_t kAudioStrh = 254;
constexpr size_t kAudioStrf = 318;

inline bool HaveFfprobe() { return std::system("ffprobe -version >/dev/null 2>&1") == 0; }

inline std::string RunCommand(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

inline std::string Ffprobe(const std::string& path) {
    return RunCommand("ffprobe -v error -show_streams '" + path + "' 2>&1");
}

}  // namespace avitest
