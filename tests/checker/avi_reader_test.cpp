#include "checker/avi_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/skip.h"
#include "tests/support/temp_folder.h"

namespace {

struct Chunk {
    std::string id;
    std::vector<uint8_t> data;
};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
}

// The layout the playback program's export writes: hdrl with avih, a video
// strl (strh, strf, strn), an audio strl (strh, 18-byte strf, strn), a JUNK
// chunk, the movi list and idx1.
struct Layout {
    std::string handler = "MSVC";
    uint32_t width = 176;
    uint32_t height = 144;
    uint32_t scale = 1;
    uint32_t rate = 30;
    uint32_t video_format_size = 40;
    bool video_name = true;
    bool audio = true;  // else a short "odml" list stands in its place
    uint16_t audio_tag = 7;
    uint16_t audio_channels = 1;
    uint32_t audio_rate = 8000;
    uint16_t audio_bits = 8;
    bool audio_name = true;
    bool junk = true;
    std::vector<Chunk> chunks = {
        {"00dc", Pattern(300, 1)}, {"01wb", Pattern(5, 2)}, {"00dc", {}}, {"01wb", Pattern(64, 3)},
        {"00dc", Pattern(4097, 4)},
    };
};

struct Image {
    std::vector<uint8_t> bytes;
    size_t riff_size = 0;   // offsets of size fields and header data, for the damage tests
    size_t avih = 0;
    size_t video_strh = 0;
    size_t movi_list = 0;
    std::vector<size_t> chunk_at;
    size_t movi_end = 0;
};

class Writer {
public:
    std::vector<uint8_t> v;
    void Id(const std::string& id) { v.insert(v.end(), id.begin(), id.begin() + 4); }
    void U16(uint16_t x) {
        v.push_back(static_cast<uint8_t>(x));
        v.push_back(static_cast<uint8_t>(x >> 8));
    }
    void U32(uint32_t x) {
        U16(static_cast<uint16_t>(x));
        U16(static_cast<uint16_t>(x >> 16));
    }
    void Zeros(size_t n) { v.insert(v.end(), n, 0); }
    size_t Begin(const std::string& id) {
        Id(id);
        U32(0);
        return v.size();
    }
    void End(size_t data) {
        Put32(data - 4, static_cast<uint32_t>(v.size() - data));
        if (v.size() & 1) v.push_back(0);
    }
    void Put32(size_t at, uint32_t x) {
        for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
    }
    void Name(const std::string& text) {
        const size_t at = Begin("strn");
        v.insert(v.end(), text.begin(), text.end());
        v.push_back(0);
        End(at);
    }
};

Image Build(const Layout& l) {
    Writer w;
    Image image;
    const size_t riff = w.Begin("RIFF");
    image.riff_size = riff - 4;
    w.Id("AVI ");
    const size_t hdrl = w.Begin("LIST");
    w.Id("hdrl");
    const size_t avih = w.Begin("avih");
    image.avih = avih;
    w.U32(1000000 / std::max<uint32_t>(l.rate, 1));
    w.Zeros(12);
    w.U32(3);  // total frames
    w.U32(0);
    w.U32(l.audio ? 2 : 1);
    w.U32(l.width * l.height * 3);
    w.U32(l.width);
    w.U32(l.height);
    w.Zeros(16);
    w.End(avih);

    const size_t video = w.Begin("LIST");
    w.Id("strl");
    const size_t strh = w.Begin("strh");
    image.video_strh = strh;
    w.Id("vids");
    w.Id(l.handler);
    w.Zeros(12);
    w.U32(l.scale);
    w.U32(l.rate);
    w.Zeros(8);
    w.U32(l.width * l.height * 3);
    w.U32(10000);
    w.U32(0);
    w.U32(0);
    w.U16(static_cast<uint16_t>(l.width));
    w.U16(static_cast<uint16_t>(l.height));
    w.End(strh);
    const size_t strf = w.Begin("strf");
    w.U32(40);
    w.U32(l.width);
    w.U32(l.height);
    w.U16(1);
    w.U16(24);
    w.Id(l.handler);
    w.U32(l.width * l.height * 3);
    w.Zeros(16 + (l.video_format_size - 40));
    w.End(strf);
    if (l.video_name) w.Name("Video Stream");
    w.End(video);

    if (l.audio) {
        const size_t audio = w.Begin("LIST");
        w.Id("strl");
        const size_t astrh = w.Begin("strh");
        w.Id("auds");
        w.Zeros(16);
        const uint16_t align = static_cast<uint16_t>(l.audio_bits * l.audio_channels / 8);
        w.U32(align);
        w.U32(align * l.audio_rate);
        w.Zeros(16);
        w.U32(1);
        w.Zeros(8);
        w.End(astrh);
        const size_t astrf = w.Begin("strf");
        w.U16(l.audio_tag);
        w.U16(l.audio_channels);
        w.U32(l.audio_rate);
        w.U32(align * l.audio_rate);
        w.U16(align);
        w.U16(l.audio_bits);
        w.U16(0);
        w.End(astrf);
        if (l.audio_name) w.Name("Audio Stream");
        w.End(audio);
    } else {
        const size_t odml = w.Begin("LIST");
        w.Id("odml");
        const size_t dmlh = w.Begin("dmlh");
        w.U32(3);
        w.End(dmlh);
        w.End(odml);
    }
    w.End(hdrl);

    if (l.junk) {
        const size_t junk = w.Begin("JUNK");
        w.Zeros(16);
        w.End(junk);
    }

    image.movi_list = w.v.size();
    const size_t movi = w.Begin("LIST");
    w.Id("movi");
    for (const Chunk& c : l.chunks) {
        image.chunk_at.push_back(w.v.size());
        const size_t at = w.Begin(c.id);
        w.v.insert(w.v.end(), c.data.begin(), c.data.end());
        w.End(at);
    }
    w.End(movi);
    image.movi_end = w.v.size();

    const size_t idx1 = w.Begin("idx1");
    for (size_t i = 0; i < l.chunks.size(); ++i) {
        w.Id(l.chunks[i].id);
        w.U32(0x10);
        w.U32(static_cast<uint32_t>(image.chunk_at[i] - movi + 4));
        w.U32(static_cast<uint32_t>(l.chunks[i].data.size()));
    }
    w.End(idx1);
    w.End(riff);
    image.bytes = std::move(w.v);
    return image;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes, size_t length) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, length, f), length);
    std::fclose(f);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    WriteFile(path, bytes, bytes.size());
}

void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

struct ReadResult {
    std::vector<Chunk> chunks;
    std::vector<int> kinds;
    bool failed = false;
};

ReadResult ReadAll(AviReader& reader, size_t capacity = 4000000) {
    ReadResult r;
    std::vector<uint8_t> buffer(capacity);
    uint32_t size = 0;
    while (reader.ReadChunk(buffer.data(), buffer.size(), &size)) {
        r.chunks.push_back({reader.last_chunk_id(), {buffer.begin(), buffer.begin() + size}});
        r.kinds.push_back(reader.last_chunk_kind());
        if (r.chunks.size() > 100000) break;
    }
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(reader.movi_bytes_left(), 0u);
    r.failed = reader.failed();
    return r;
}

TEST(AviReader, ReadsOwnExportLayout) {
    TempFolder tmp;
    const Layout layout;
    const Image image = Build(layout);
    WriteFile(tmp.Sub("a.avi"), image.bytes);

    AviReader reader;
    ASSERT_EQ(reader.Open(tmp.Sub("a.avi")), 1);
    EXPECT_EQ(reader.width(), 176);
    EXPECT_EQ(reader.height(), 144);
    EXPECT_EQ(reader.total_frames(), 3);
    EXPECT_EQ(reader.codec(), AviReader::kCodecMsvc);
    EXPECT_DOUBLE_EQ(reader.frames_per_second(), 30.0);
    EXPECT_EQ(reader.audio_format(), AviReader::kAudioMuLaw);
    EXPECT_EQ(reader.audio_sample_rate(), 8000);
    EXPECT_EQ(reader.audio_channels(), 1);
    EXPECT_EQ(reader.audio_bits_per_sample(), 8);
    EXPECT_EQ(reader.movi_bytes_left(), image.movi_end - image.movi_list - 12);

    std::vector<uint8_t> buffer(8192);
    uint32_t size = 0;
    ASSERT_EQ(reader.ReadChunk(buffer.data(), buffer.size(), &size), 1);
    EXPECT_EQ(size, 300u);
    EXPECT_EQ(reader.last_chunk_kind(), AviReader::kChunkVideo);
    // The odd chunk reports its own size and consumes its padding byte too.
    const uint64_t before = reader.movi_bytes_left();
    ASSERT_EQ(reader.ReadChunk(buffer.data(), buffer.size(), &size), 1);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(before - reader.movi_bytes_left(), 14u);
    EXPECT_EQ(reader.last_chunk_kind(), AviReader::kChunkAudio);
    EXPECT_EQ(reader.last_chunk_id(), "01wb");

    const ReadResult rest = ReadAll(reader);
    EXPECT_FALSE(rest.failed);
    ASSERT_EQ(rest.chunks.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(rest.chunks[i].id, layout.chunks[i + 2].id);
        EXPECT_EQ(rest.chunks[i].data, layout.chunks[i + 2].data);
    }
    EXPECT_EQ(rest.kinds, (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(reader.ReadChunk(buffer.data(), buffer.size(), &size), 0);
}

TEST(AviReader, HeaderVariants) {
    struct Case {
        const char* what;
        std::function<void(Layout&)> change;
        int codec;
        int audio_format;
        int audio_rate, audio_channels;
        int audio_kind;  // kind of the "01wb" chunks
    };
    const Case cases[] = {
        {"MJPG", [](Layout& l) { l.handler = "MJPG"; }, 0, 1, 8000, 1, 1},
        {"DIVX", [](Layout& l) { l.handler = "DIVX"; }, 1, 1, 8000, 1, 1},
        {"XVID", [](Layout& l) { l.handler = "XVID"; }, 1, 1, 8000, 1, 1},
        {"H264", [](Layout& l) { l.handler = "H264"; }, 2, 1, 8000, 1, 1},
        {"h264", [](Layout& l) { l.handler = "h264"; }, 2, 1, 8000, 1, 1},
        {"mjpg", [](Layout& l) { l.handler = "mjpg"; }, -1, 1, 8000, 1, 1},
        {"MSVC with four more format bytes",
         [](Layout& l) { l.video_format_size = 44; }, 3, 1, 8000, 1, 1},
        {"MSVC with more format bytes and no names",
         [](Layout& l) {
             l.video_format_size = 44;
             l.video_name = l.audio_name = false;
         },
         3, 1, 8000, 1, 1},
        {"PCM stereo",
         [](Layout& l) {
             l.audio_tag = 1;
             l.audio_channels = 2;
             l.audio_rate = 16000;
             l.audio_bits = 16;
         },
         3, 0, 16000, 2, 1},
        {"audio neither PCM nor mu-law is not handed out as audio",
         [](Layout& l) { l.audio_tag = 0x55; }, 3, 0, 0, 1, 2},
        {"no audio stream, a short list in its place",
         [](Layout& l) { l.audio = false; }, 3, 0, 0, 1, 2},
    };
    TempFolder tmp;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Layout layout;
        c.change(layout);
        WriteFile(tmp.Sub("a.avi"), Build(layout).bytes);
        AviReader reader;
        ASSERT_EQ(reader.Open(tmp.Sub("a.avi")), 1);
        EXPECT_EQ(reader.codec(), c.codec);
        EXPECT_EQ(reader.audio_format(), c.audio_format);
        EXPECT_EQ(reader.audio_sample_rate(), c.audio_rate);
        EXPECT_EQ(reader.audio_channels(), c.audio_channels);
        const ReadResult r = ReadAll(reader);
        EXPECT_FALSE(r.failed);
        ASSERT_EQ(r.kinds.size(), layout.chunks.size());
        for (size_t i = 0; i < r.kinds.size(); ++i)
            EXPECT_EQ(r.kinds[i], layout.chunks[i].id == "01wb" ? c.audio_kind : 0) << i;
    }
}

TEST(AviReader, ReopeningForgetsThePreviousFile) {
    TempFolder tmp;
    Layout mulaw;
    Layout other;
    other.audio_tag = 0x55;
    other.handler = "XVID";
    other.width = 320;
    WriteFile(tmp.Sub("a.avi"), Build(mulaw).bytes);
    WriteFile(tmp.Sub("b.avi"), Build(other).bytes);
    AviReader reader;
    ASSERT_EQ(reader.Open(tmp.Sub("a.avi")), 1);
    ASSERT_EQ(reader.audio_format(), AviReader::kAudioMuLaw);
    ASSERT_EQ(reader.Open(tmp.Sub("b.avi")), 1);
    EXPECT_EQ(reader.audio_format(), AviReader::kAudioPcm);
    EXPECT_EQ(reader.audio_sample_rate(), 0);
    EXPECT_EQ(reader.codec(), AviReader::kCodecMpeg4);
    EXPECT_EQ(reader.width(), 320);
    EXPECT_EQ(ReadAll(reader).chunks.size(), other.chunks.size());
    EXPECT_EQ(reader.Open(tmp.Sub("missing.avi")), 0);
    EXPECT_FALSE(reader.IsOpen());
    uint8_t b[8];
    uint32_t size = 7;
    EXPECT_EQ(reader.ReadChunk(b, sizeof(b), &size), 0);
    EXPECT_EQ(size, 0u);
}

TEST(AviReader, FrameRateIsAlwaysUsableForPacing) {
    struct Case {
        uint32_t scale, rate;
        double fps;
    } cases[] = {
        {1, 15, 15.0},         {1001, 30000, 30000.0 / 1001.0}, {0, 30, 1.0},           {1, 0, 1.0},
        {0, 0, 1.0},           {1, 0xFFFFFFFF, 1000.0},         {0xFFFFFFFF, 1, 1.0},   {4, 1, 1.0},
    };
    TempFolder tmp;
    for (const Case& c : cases) {
        Layout layout;
        layout.scale = c.scale;
        layout.rate = c.rate;
        WriteFile(tmp.Sub("a.avi"), Build(layout).bytes);
        AviReader reader;
        ASSERT_EQ(reader.Open(tmp.Sub("a.avi")), 1) << c.scale << "/" << c.rate;
        EXPECT_DOUBLE_EQ(reader.frames_per_second(), c.fps) << c.scale << "/" << c.rate;
    }
}

// What a damaged file must do: not open, or open and end its reading with
// failure after the given number of chunks.
TEST(AviReader, DamagedFilesFailCleanly) {
    constexpr int kNoOpen = -1;
    const Image good = Build(Layout());
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&, const Image&)> damage;
        int chunks_before_failure;
        size_t capacity = 4000000;
    };
    const auto chunk_size = [](size_t k, uint32_t size) {
        return [k, size](std::vector<uint8_t>& v, const Image& im) { Put32(v, im.chunk_at[k] + 4, size); };
    };
    const Case cases[] = {
        {"chunk larger than the buffer", [](std::vector<uint8_t>&, const Image&) {}, 4, 4096},
        {"chunk size 0xFFFFFFFF", chunk_size(1, 0xFFFFFFFF), 1},
        {"chunk runs past the movi list into idx1", chunk_size(4, 4097 + 16), 4},
        {"chunk runs past the end of the file", chunk_size(4, 0x7FFFFFF0), 4},
        {"movi size 0", [](std::vector<uint8_t>& v, const Image& im) { Put32(v, im.movi_list + 4, 0); },
         kNoOpen},
        {"movi size 3", [](std::vector<uint8_t>& v, const Image& im) { Put32(v, im.movi_list + 4, 3); },
         kNoOpen},
        {"movi list ends inside a chunk header",
         [](std::vector<uint8_t>& v, const Image& im) {
             Put32(v, im.movi_list + 4, static_cast<uint32_t>(im.chunk_at[2] + 4 - im.movi_list - 8));
         },
         2},
        {"width 0", [](std::vector<uint8_t>& v, const Image& im) { Put32(v, im.avih + 32, 0); }, kNoOpen},
        {"height 0", [](std::vector<uint8_t>& v, const Image& im) { Put32(v, im.avih + 36, 0); }, kNoOpen},
        {"width 4097", [](std::vector<uint8_t>& v, const Image& im) { Put32(v, im.avih + 32, 4097); },
         kNoOpen},
        {"height 0xFFFFFFFF",
         [](std::vector<uint8_t>& v, const Image& im) { Put32(v, im.avih + 36, 0xFFFFFFFF); }, kNoOpen},
        {"avih shorter than its fields",
         [](std::vector<uint8_t>& v, const Image& im) { Put32(v, im.avih - 4, 8); }, kNoOpen},
        {"avih runs past its list",
         [](std::vector<uint8_t>& v, const Image& im) { Put32(v, im.avih - 4, 0x10000); }, kNoOpen},
        {"strh shorter than its fields",
         [](std::vector<uint8_t>& v, const Image& im) { Put32(v, im.video_strh - 4, 20); }, kNoOpen},
        {"no video stream",
         [](std::vector<uint8_t>& v, const Image& im) { std::memcpy(&v[im.video_strh], "txts", 4); }, kNoOpen},
        {"RIFF size ends inside the movi list",
         [](std::vector<uint8_t>& v, const Image& im) {
             Put32(v, im.riff_size, static_cast<uint32_t>(im.chunk_at[3] - 8));
         },
         3},
    };
    TempFolder tmp;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes = good.bytes;
        c.damage(bytes, good);
        WriteFile(tmp.Sub("a.avi"), bytes);
        AviReader reader;
        if (c.chunks_before_failure == kNoOpen) {
            EXPECT_EQ(reader.Open(tmp.Sub("a.avi")), 0);
            continue;
        }
        ASSERT_EQ(reader.Open(tmp.Sub("a.avi")), 1);
        const ReadResult r = ReadAll(reader, c.capacity);
        EXPECT_TRUE(r.failed);
        EXPECT_EQ(r.chunks.size(), static_cast<size_t>(c.chunks_before_failure));
    }

    Layout no_junk;
    no_junk.junk = false;
    WriteFile(tmp.Sub("a.avi"), Build(no_junk).bytes);
    AviReader reader;
    EXPECT_EQ(reader.Open(tmp.Sub("a.avi")), 0);
}

// Every cut of a file: no open before the movi list header, then the chunks
// that lie whole before the cut, and a failure unless the movi list is whole.
TEST(AviReader, EveryTruncationReadsTheWholeChunksBeforeTheCut) {
    Layout layout;
    layout.chunks = {{"00dc", Pattern(30, 1)}, {"01wb", Pattern(5, 2)}, {"00dc", {}}, {"00dc", Pattern(9, 3)}};
    const Image image = Build(layout);
    TempFolder tmp;
    for (size_t cut = 0; cut <= image.bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        WriteFile(tmp.Sub("a.avi"), image.bytes, cut);
        AviReader reader;
        if (cut < image.movi_list + 12) {
            EXPECT_EQ(reader.Open(tmp.Sub("a.avi")), 0);
            continue;
        }
        ASSERT_EQ(reader.Open(tmp.Sub("a.avi")), 1);
        const ReadResult r = ReadAll(reader);
        size_t whole = 0;
        while (whole < layout.chunks.size() &&
               image.chunk_at[whole] + 8 + layout.chunks[whole].data.size() <= cut)
            ++whole;
        ASSERT_EQ(r.chunks.size(), whole);
        for (size_t i = 0; i < whole; ++i) EXPECT_EQ(r.chunks[i].data, layout.chunks[i].data);
        EXPECT_EQ(r.failed, cut < image.movi_end);
    }
}

TEST(AviReader, UnknownMoviChunksAreNeitherVideoNorAudio) {
    Layout layout;
    layout.chunks = {{"ix00", Pattern(24, 1)}, {"JUNK", Pattern(8, 2)}, {"02wb", Pattern(4, 3)},
                     {"01dc", Pattern(4, 4)},  {"00db", Pattern(6, 5)}, {"01wb", Pattern(2, 6)}};
    TempFolder tmp;
    WriteFile(tmp.Sub("a.avi"), Build(layout).bytes);
    AviReader reader;
    ASSERT_EQ(reader.Open(tmp.Sub("a.avi")), 1);
    EXPECT_EQ(ReadAll(reader).kinds, (std::vector<int>{2, 2, 2, 2, 0, 1}));
}

// Files of another writer: streams carry extra chunks, and the header lists
// hold padding and information lists in other places.
TEST(AviReader, ReadsFilesOfOtherTools) {
    if (std::system("test -x /usr/bin/ffmpeg") != 0) SKIP_WITHOUT_INSTALLED("no /usr/bin/ffmpeg");
    TempFolder tmp;
    struct Case {
        const char* audio;
        int format, rate, channels, bits;
    } cases[] = {
        {"", -1, 0, 0, 0},
        {"-f lavfi -i sine=frequency=440:sample_rate=8000 -c:a pcm_mulaw", 1, 8000, 1, 8},
        {"-f lavfi -i sine=frequency=440:sample_rate=22050 -ac 2 -c:a pcm_s16le", 0, 22050, 2, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.audio);
        const std::string path = tmp.Sub("f.avi");
        const std::string cmd = "/usr/bin/ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=176x144:rate=15 " +
                                std::string(c.audio) + " -t 2 -c:v msvideo1 " + path;
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        AviReader reader;
        ASSERT_EQ(reader.Open(path), 1);
        EXPECT_EQ(reader.width(), 176);
        EXPECT_EQ(reader.height(), 144);
        EXPECT_EQ(reader.codec(), AviReader::kCodecMsvc);
        EXPECT_DOUBLE_EQ(reader.frames_per_second(), 15.0);
        if (c.format >= 0) {
            EXPECT_EQ(reader.audio_format(), c.format);
            EXPECT_EQ(reader.audio_sample_rate(), c.rate);
            EXPECT_EQ(reader.audio_channels(), c.channels);
            EXPECT_EQ(reader.audio_bits_per_sample(), c.bits);
        }
        const ReadResult r = ReadAll(reader);
        EXPECT_FALSE(r.failed);
        const auto count = [&r](int kind) { return std::count(r.kinds.begin(), r.kinds.end(), kind); };
        EXPECT_EQ(count(AviReader::kChunkVideo), reader.total_frames());
        EXPECT_EQ(count(AviReader::kChunkVideo), 30);
        EXPECT_EQ(count(AviReader::kChunkAudio) > 0, c.format >= 0);
        EXPECT_EQ(count(AviReader::kChunkOther), 0);
    }
}

}  // namespace
