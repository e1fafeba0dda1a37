#include "checker/watermark_checks.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/checker/avi_fixture.h"
#include "tests/support/temp_folder.h"

namespace {

using avifixture::Chunk;
using avifixture::Layout;

std::string Write(const TempFolder& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir.Sub(name);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
}

void Put32(std::vector<uint8_t>& v, uint64_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

Layout SampleLayout() {
    Layout layout;
    layout.chunks = avifixture::SampleChunks();
    return layout;
}

TEST(AviStreamChecksum, KnownValues) {
    TempFolder dir;
    // One chunk of a single zero byte: 10085 (0x2765) rotated to 0x4ECA (size AND 0x111 = 1),
    // the register steps 37 -> 18, 0x4ECA ^ 0x12 = 0x4ED8.
    Layout one;
    one.chunks = {Chunk{"00dc", {0x00}}};
    one.stored_value = 0x4ED8;
    EXPECT_TRUE(CheckAviStreamChecksum(Write(dir, "one.avi", avifixture::Build(one).bytes)));
    one.stored_value = 0x4ED9;
    EXPECT_FALSE(CheckAviStreamChecksum(Write(dir, "one.avi", avifixture::Build(one).bytes)));

    // Size 2 has no bit of 0x111: no rotation. 0x2765 ^ (0xA0 ^ 0x0B) = 0x27CE; ^ 18 = 0x27DC.
    Layout two;
    two.chunks = {Chunk{"01wb", {0xA0, 0x0B}}};
    two.stored_value = 0x27DC;
    EXPECT_TRUE(CheckAviStreamChecksum(Write(dir, "two.avi", avifixture::Build(two).bytes)));

    // An empty movi list keeps the starting value.
    Layout empty;
    empty.stored_value = 10085;
    EXPECT_TRUE(CheckAviStreamChecksum(Write(dir, "empty.avi", avifixture::Build(empty).bytes)));
}

TEST(AviStreamChecksum, HeaderVariantsAndChecksumPosition) {
    TempFolder dir;
    struct Case {
        const char* name;
        std::string handler;
        bool msvc_extra, video_name, audio, audio_name;
        bool passes;
    };
    const Case cases[] = {
        {"mjpeg", "MJPG", false, true, true, true, true},
        {"msvc with extra format bytes", "MSVC", true, true, true, true, true},
        {"msvc without", "MSVC", false, true, true, true, true},
        {"no audio name", "H264", false, true, true, false, true},
        // The checksum position needs the video "strn" and a second list.
        {"no video name", "MJPG", false, false, true, true, false},
        {"no audio stream", "MJPG", false, true, false, true, false},
    };
    for (const Case& c : cases) {
        Layout layout = SampleLayout();
        layout.handler = c.handler;
        layout.msvc_extra = c.msvc_extra;
        layout.video_name = c.video_name;
        layout.audio = c.audio;
        layout.audio_name = c.audio_name;
        const avifixture::Image image = avifixture::Build(layout);
        const std::string path = Write(dir, "v.avi", image.bytes);
        EXPECT_EQ(CheckAviStreamChecksum(path), c.passes) << c.name;
        if (c.passes) {
            EXPECT_EQ(FindAviChecksumPosition(path), image.checksum_chunk) << c.name;
        }
        if (!c.video_name) {
            EXPECT_EQ(FindAviChecksumPosition(path), 0u) << c.name;
        }

        // Any data byte of any chunk counts, video, audio or empty-sized neighbours alike.
        for (uint64_t at : {image.first_chunk + 8, image.first_chunk + 8 + 999, image.movi_list + 8 + 4 + 1008 + 8}) {
            std::vector<uint8_t> bad = image.bytes;
            bad[at] ^= 0x40;
            EXPECT_FALSE(CheckAviStreamChecksum(Write(dir, "bad.avi", bad))) << c.name << " at " << at;
        }
    }
}

TEST(AviStreamChecksum, EmptyChunksChangeNothing) {
    TempFolder dir;
    Layout layout = SampleLayout();
    const uint32_t without = avifixture::StreamChecksum(layout.chunks);
    layout.chunks.insert(layout.chunks.begin() + 3, Chunk{"00dc", {}});
    layout.chunks.push_back(Chunk{"JUNK", {}});
    layout.stored_value = without;
    EXPECT_TRUE(CheckAviStreamChecksum(Write(dir, "z.avi", avifixture::Build(layout).bytes)));
}

TEST(AviStreamChecksum, MalformedFilesFail) {
    TempFolder dir;
    const avifixture::Image image = avifixture::Build(SampleLayout());
    ASSERT_TRUE(CheckAviStreamChecksum(Write(dir, "ok.avi", image.bytes)));
    const uint64_t movi_size_at = image.movi_list + 4;
    const uint64_t chunk_size_at = image.first_chunk + 4;
    const uint32_t movi_size = avifixture::Le32At(image.bytes, movi_size_at);

    struct Case {
        const char* name;
        uint64_t at;
        uint32_t value;
    };
    const Case cases[] = {
        {"chunk larger than the buffer", chunk_size_at, 4000001},
        {"chunk size at the limit of 32 bits", chunk_size_at, 0xFFFFFFFFu},
        {"chunk past the end of the movi list", chunk_size_at, movi_size},
        {"chunk past the end of the file", chunk_size_at, static_cast<uint32_t>(image.bytes.size())},
        {"movi list past the end of the file", movi_size_at, movi_size + 1000000},
        {"movi list ending inside a chunk header", movi_size_at, movi_size + 3},
        {"movi list cut inside a chunk", movi_size_at, movi_size - 10},
        {"movi size 0", movi_size_at, 0},
        {"movi size 3", movi_size_at, 3},
        {"JUNK past the end of the file", image.checksum_chunk + 4, 0xFFFFFFF0u},
        {"video name size huge", 212 + 4, 0xFFFFFFFFu},
        // Below 64 the audio list is taken for a further list and skipped by its size.
        {"audio list size too small", 212 + 8 + 14 + 4, 10},
        {"audio list size just below 64", 212 + 8 + 14 + 4, 63},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bad = image.bytes;
        Put32(bad, c.at, c.value);
        EXPECT_FALSE(CheckAviStreamChecksum(Write(dir, "bad.avi", bad))) << c.name;
    }
    // Cut anywhere before the end of the movi list.
    const uint64_t movi_end = image.movi_list + 8 + movi_size;
    for (uint64_t cut = 0; cut < movi_end; cut += 13) {
        std::vector<uint8_t> bad(image.bytes.begin(), image.bytes.begin() + cut);
        const std::string path = Write(dir, "cut.avi", bad);
        EXPECT_FALSE(CheckAviStreamChecksum(path)) << cut;
        // The position comes from the headers alone; when found it is the true one.
        const uint64_t p = FindAviChecksumPosition(path);
        EXPECT_TRUE(p == 0 || p == image.checksum_chunk) << cut;
    }
    EXPECT_FALSE(CheckAviStreamChecksum(dir.Sub("missing.avi")));
    EXPECT_FALSE(CheckAviStreamChecksum(dir.path()));
    EXPECT_EQ(FindAviChecksumPosition(dir.Sub("missing.avi")), 0u);
}

TEST(AviTrailer, LastFourBytes) {
    TempFolder dir;
    struct Case {
        std::vector<uint8_t> bytes;
        bool passes;
    };
    const Case cases[] = {
        {{}, false},
        {{0x27, 0x00, 0x00}, false},
        {{0x65, 0x27, 0x00, 0x00}, true},
        {{0x01, 0x65, 0x27, 0x00, 0x00}, true},
        {{0x65, 0x27, 0x00, 0x00, 0x00}, false},
        {{0x00, 0x00, 0x27, 0x65}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(CheckAviTrailer(Write(dir, "t.avi", c.bytes)), c.passes) << c.bytes.size();
    EXPECT_FALSE(CheckAviTrailer(dir.Sub("missing.avi")));
    EXPECT_FALSE(CheckAviTrailer(dir.path()));
}

}  // namespace
