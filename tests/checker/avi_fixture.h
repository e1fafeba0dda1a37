#pragma once
// AVI files in the header layout of the playback program's exports, with the
// stream checksum stored where the checker looks for it. Header-only so the
// tests, the benchmark and the fuzz targets share it.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace avifixture {

struct Chunk {
    std::string id = "00dc";
    std::vector<uint8_t> data;
};

struct Layout {
    std::string handler = "MJPG";
    bool msvc_extra = false;   // four more format bytes behind the video "strf"
    bool video_name = true;    // video "strn"
    bool audio = true;         // audio stream list; otherwise a short list (< 64 bytes)
    bool audio_name = true;    // audio "strn"
    uint32_t junk_size = 512;
    std::vector<Chunk> chunks;
    bool store_checksum = true;
    std::optional<uint32_t> stored_value;  // in place of the true checksum
    bool index = true;                     // "idx1" behind the movi list
};

struct Image {
    std::vector<uint8_t> bytes;
    uint64_t checksum_chunk = 0;  // P: the chunk whose data begin with the checksum
    uint64_t movi_list = 0;       // offset of the movi list's "LIST"
    uint64_t first_chunk = 0;
};

// The stream checksum, written out plainly from its definition.
inline uint32_t StreamChecksum(const std::vector<Chunk>& chunks) {
    uint32_t d = 10085;
    uint8_t s = 37;
    for (const Chunk& c : chunks) {
        const uint32_t n = static_cast<uint32_t>(c.data.size());
        if (n == 0) continue;
        for (uint8_t b : c.data) d ^= b;
        if (n & 0x111) d = (d << 1) | (d >> 31);
        const int bit = (s ^ (s >> 2) ^ (s >> 3) ^ (s >> 4)) & 1;
        s = static_cast<uint8_t>((bit << 7) | (s >> 1));
        d ^= s;
    }
    return d;
}

class Bytes {
public:
    std::vector<uint8_t> v;
    size_t Pos() const { return v.size(); }
    void Id(const std::string& id) { v.insert(v.end(), id.begin(), id.begin() + 4); }
    void U32(uint32_t x) {
        for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
    }
    void U16(uint16_t x) {
        v.push_back(static_cast<uint8_t>(x));
        v.push_back(static_cast<uint8_t>(x >> 8));
    }
    void Zeros(size_t n) { v.insert(v.end(), n, 0); }
    void Put32(size_t at, uint32_t x) {
        for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
    }
    // Opens a list or chunk whose size is filled in by End.
    size_t Begin(const std::string& id) {
        Id(id);
        U32(0);
        return Pos();
    }
    void End(size_t data_start) { Put32(data_start - 4, static_cast<uint32_t>(Pos() - data_start)); }
    void Name(const std::string& text) {
        const size_t at = Begin("strn");
        v.insert(v.end(), text.begin(), text.end());
        v.push_back(0);
        End(at);
        if (v.size() & 1) v.push_back(0);
    }
};

inline Image Build(const Layout& layout) {
    Bytes b;
    Image image;
    const size_t riff = b.Begin("RIFF");
    b.Id("AVI ");
    const size_t hdrl = b.Begin("LIST");
    b.Id("hdrl");
    b.Id("avih");
    b.U32(56);
    b.U32(33333);  // microseconds per frame
    b.Zeros(12);
    b.U32(static_cast<uint32_t>(layout.chunks.size()));  // total frames
    b.U32(0);
    b.U32(2);  // streams
    b.U32(0);
    b.U32(320);
    b.U32(240);
    b.Zeros(16);

    const size_t strl = b.Begin("LIST");
    b.Id("strl");
    b.Id("strh");
    b.U32(56);
    b.Id("vids");
    b.Id(layout.handler);
    b.Zeros(12);
    b.U32(1);   // scale
    b.U32(30);  // rate
    b.Zeros(28);
    b.Id("strf");
    b.U32(40);
    b.U32(40);
    b.U32(320);
    b.U32(240);
    b.U16(1);
    b.U16(24);
    b.Id(layout.handler);
    b.U32(320 * 240 * 3);
    b.Zeros(16);
    if (layout.msvc_extra) b.Zeros(4);
    if (layout.video_name) b.Name("Video Stream");
    b.End(strl);

    if (layout.audio) {
        const size_t audio = b.Begin("LIST");
        b.Id("strl");
        b.Id("strh");
        b.U32(56);
        b.Id("auds");
        b.Zeros(16);
        b.U32(1);     // scale: block align
        b.U32(8000);  // rate
        b.Zeros(8);
        b.U32(0);
        b.U32(0);
        b.U32(1);  // sample size
        b.Zeros(8);
        b.Id("strf");
        b.U32(18);
        b.U16(7);  // mu-law
        b.U16(1);
        b.U32(8000);
        b.U32(8000);
        b.U16(1);
        b.U16(8);
        b.U16(0);
        if (layout.audio_name) b.Name("Audio Stream");
        b.End(audio);
    } else {
        const size_t odml = b.Begin("LIST");
        b.Id("odml");
        b.Id("dmlh");
        b.U32(4);
        b.U32(0);
        b.End(odml);
    }
    b.End(hdrl);

    image.checksum_chunk = b.Pos();
    b.Id("JUNK");
    b.U32(layout.junk_size);
    b.Zeros(layout.junk_size);

    image.movi_list = b.Pos();
    const size_t movi = b.Begin("LIST");
    b.Id("movi");
    image.first_chunk = b.Pos();
    std::vector<uint64_t> offsets;
    for (const Chunk& c : layout.chunks) {
        offsets.push_back(b.Pos() - movi + 4);
        b.Id(c.id);
        b.U32(static_cast<uint32_t>(c.data.size()));
        b.v.insert(b.v.end(), c.data.begin(), c.data.end());
        if (c.data.size() & 1) b.v.push_back(0);
    }
    b.End(movi);
    if (layout.index) {
        const size_t idx = b.Begin("idx1");
        for (size_t i = 0; i < layout.chunks.size(); ++i) {
            b.Id(layout.chunks[i].id);
            b.U32(0x10);
            b.U32(static_cast<uint32_t>(offsets[i]));
            b.U32(static_cast<uint32_t>(layout.chunks[i].data.size()));
        }
        b.End(idx);
    }
    b.End(riff);

    if (layout.store_checksum && layout.junk_size >= 4)
        b.Put32(image.checksum_chunk + 8, layout.stored_value.value_or(StreamChecksum(layout.chunks)));
    image.bytes = std::move(b.v);
    return image;
}

// A few video and audio chunks of assorted sizes, odd ones and empty ones included.
inline std::vector<Chunk> SampleChunks(uint32_t seed = 1) {
    std::vector<Chunk> chunks;
    uint32_t x = seed * 2654435761u + 1;
    const size_t sizes[] = {1000, 17, 0, 273, 4096, 1, 2, 0x111, 0x110, 999};
    for (size_t i = 0; i < sizeof(sizes) / sizeof(sizes[0]); ++i) {
        Chunk c;
        c.id = i % 3 == 2 ? "01wb" : "00dc";
        for (size_t k = 0; k < sizes[i]; ++k) {
            x = x * 1103515245u + 12345u;
            c.data.push_back(static_cast<uint8_t>(x >> 16));
        }
        chunks.push_back(std::move(c));
    }
    return chunks;
}

inline uint32_t Le32At(const std::vector<uint8_t>& v, size_t at) {
    uint32_t x = 0;
    std::memcpy(&x, v.data() + at, 4);
    return x;
}

}  // namespace avifixture
