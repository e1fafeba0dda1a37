#include "export/avi_recompress_writer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>

#include "checker/avi_reader.h"
#include "checker/msvc16_decoder.h"
#include "checker/watermark_checks.h"
#include "media/watermark_writer.h"
#include "tests/export/avi_test_support.h"
#include "tests/support/skip.h"
#include "tests/support/temp_folder.h"

namespace {

using namespace avitest;

// Flat 8x8 tiles of varied colours with a smooth ramp over the lower third,
// and a top half clearly unlike the bottom half so a wrong row order shows.
std::vector<uint8_t> TestPicture(int width, int height) {
    std::vector<uint8_t> p(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* px = &p[(static_cast<size_t>(y) * width + x) * 3];
            const int tile = (x / 8) * 31 + (y / 8) * 17;
            if (y * 3 >= height * 2) {
                px[0] = static_cast<uint8_t>(x * 255 / std::max(1, width - 1));
                px[1] = 128;
                px[2] = static_cast<uint8_t>(y * 255 / std::max(1, height - 1));
            } else if (y * 2 < height) {
                px[0] = static_cast<uint8_t>(20 + tile % 60);
                px[1] = static_cast<uint8_t>(40 + tile % 90);
                px[2] = static_cast<uint8_t>(200 + tile % 50);
            } else {
                px[0] = static_cast<uint8_t>(180 + tile % 70);
                px[1] = static_cast<uint8_t>(tile % 120);
                px[2] = static_cast<uint8_t>(30 + tile % 40);
            }
        }
    return p;
}

std::vector<uint8_t> FlipRows(const std::vector<uint8_t>& p, int width, int height) {
    std::vector<uint8_t> out(p.size());
    const size_t row = static_cast<size_t>(width) * 3;
    for (int y = 0; y < height; ++y)
        std::copy_n(p.begin() + static_cast<ptrdiff_t>(y * row), row,
                    out.begin() + static_cast<ptrdiff_t>((height - 1 - y) * row));
    return out;
}

struct Decoded {
    int width = 0, height = 0;
    std::vector<std::vector<uint8_t>> frames;  // BGR24, top row first
    std::vector<Msvc16BlockCounts> counts;
    int audio_chunks = 0;
    bool clean = true;
};

Decoded DecodeFile(const std::string& path) {
    Decoded d;
    AviReader reader;
    if (reader.Open(path) != 1 || reader.codec() != AviReader::kCodecMsvc) {
        d.clean = false;
        return d;
    }
    d.width = reader.width();
    d.height = reader.height();
    bool failed = false;
    const std::vector<ReadChunk> chunks = Chunks(reader, &failed);
    d.clean = !failed;
    std::vector<uint16_t> picture(static_cast<size_t>(d.width) * d.height);
    for (const ReadChunk& c : chunks) {
        if (c.kind == AviReader::kChunkAudio) ++d.audio_chunks;
        if (c.kind != AviReader::kChunkVideo) continue;
        Msvc16BlockCounts counts;
        d.clean = DecodeMsvc16(picture.data(), c.data.data(), c.data.size(), d.width, d.height, &counts) && d.clean;
        std::vector<uint8_t> bgr(picture.size() * 3);
        Rgb555ToBgr24(bgr.data(), picture.data(), d.width, d.height);
        d.frames.push_back(std::move(bgr));
        d.counts.push_back(counts);
    }
    return d;
}

// Mean and largest per-channel difference over the input's width x height.
struct Error {
    double mean;
    int largest;
};

Error Compare(const std::vector<uint8_t>& decoded, int decoded_width, const std::vector<uint8_t>& input, int width,
              int height) {
    double sum = 0;
    int largest = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                const int a = decoded[(static_cast<size_t>(y) * decoded_width + x) * 3 + c];
                const int b = input[(static_cast<size_t>(y) * width + x) * 3 + c];
                sum += std::abs(a - b);
                largest = std::max(largest, std::abs(a - b));
            }
    return {sum / (static_cast<double>(width) * height * 3), largest};
}

// Within what 5-bit colour and two-colour 4x4 blocks lose on this picture.
constexpr double kMeanLoss = 6.0;

bool OpenDefault(AviRecompressWriter& w, const std::string& path, int width, int height) {
    return w.Open(path, 80, 30, 8, 1, 8000, 1, width, height);
}

TEST(AviRecompressWriter, PicturesDecodeWithinTheCodecsLossInEitherRowOrder) {
    TempFolder dir;
    constexpr int kW = 352, kH = 288;
    const std::vector<uint8_t> top_first = TestPicture(kW, kH);
    struct Case {
        const char* what;
        uint8_t flip;
        std::vector<uint8_t> given;
    };
    const Case cases[] = {{"top row first, flipped", 1, top_first},
                          {"bottom row first", 0, FlipRows(top_first, kW, kH)}};
    for (const Case& c : cases) {
        const std::string path = dir.Sub("flip" + std::to_string(c.flip) + ".avi");
        AviRecompressWriter w;
        ASSERT_TRUE(OpenDefault(w, path, kW, kH));
        ASSERT_TRUE(w.WriteVideoFrame(c.given.data(), c.flip, 0, kW, kH));
        ASSERT_TRUE(w.WriteVideoFrame(c.given.data(), c.flip, 33, kW, kH));
        ASSERT_TRUE(w.Close());

        const Decoded d = DecodeFile(path);
        ASSERT_TRUE(d.clean) << c.what;
        ASSERT_EQ(d.width, kW);
        ASSERT_EQ(d.height, kH);
        ASSERT_EQ(d.frames.size(), 2u);
        for (const auto& frame : d.frames) {
            const Error e = Compare(frame, kW, top_first, kW, kH);
            EXPECT_LT(e.mean, kMeanLoss) << c.what;
            EXPECT_LE(e.largest, 64) << c.what;
        }
    }
    // A single row is its own mirror image.
    const std::string path = dir.Sub("one_row.avi");
    const std::vector<uint8_t> row = TestPicture(64, 1);
    for (uint8_t flip : {0, 1}) {
        AviRecompressWriter w;
        ASSERT_TRUE(OpenDefault(w, path, 64, 1));
        ASSERT_TRUE(w.WriteVideoFrame(row.data(), flip, 0, 64, 1));
        ASSERT_TRUE(w.Close());
        const Decoded d = DecodeFile(path);
        ASSERT_EQ(d.frames.size(), 1u);
        EXPECT_LT(Compare(d.frames[0], d.width, row, 64, 1).mean, kMeanLoss) << int(flip);
    }
}

// Second picture's stamp (first at 0) -> times it is repeated after it is written.
TEST(AviRecompressWriter, EachPictureIsHeldUntilTheNextOnTheGrid) {
    TempFolder dir;
    struct Case {
        int32_t second;
        int repeats;
    };
    const Case cases[] = {{500, 11}, {133, 0}, {100, 0}, {200, 2}, {10000, 30}, {-300, 0}};
    constexpr int kW = 64, kH = 48;
    const std::vector<uint8_t> a = TestPicture(kW, kH);
    std::vector<uint8_t> b = a;
    for (auto& v : b) v = static_cast<uint8_t>(255 - v);
    AviRecompressWriter w;
    for (const Case& c : cases) {
        const std::string path = dir.Sub("hold" + std::to_string(c.second) + ".avi");
        ASSERT_TRUE(OpenDefault(w, path, kW, kH));
        const int32_t base = 3600000;  // stamps of every file count from its own first picture
        ASSERT_TRUE(w.WriteVideoFrame(a.data(), 1, base, kW, kH));
        ASSERT_TRUE(w.WriteVideoFrame(b.data(), 1, base + c.second, kW, kH));
        EXPECT_EQ(w.video_count(), 2 + c.repeats) << c.second;
        ASSERT_TRUE(w.Close());

        const Decoded d = DecodeFile(path);
        ASSERT_TRUE(d.clean);
        ASSERT_EQ(d.frames.size(), static_cast<size_t>(2 + c.repeats)) << c.second;
        EXPECT_LT(Compare(d.frames[0], kW, a, kW, kH).mean, kMeanLoss);
        for (size_t i = 1; i < d.frames.size(); ++i)
            EXPECT_LT(Compare(d.frames[i], kW, b, kW, kH).mean, kMeanLoss) << c.second << " frame " << i;
    }
}

TEST(AviRecompressWriter, KeyFramesAtLeastEveryThirtyFrames) {
    TempFolder dir;
    const std::string path = dir.Sub("keys.avi");
    constexpr int kW = 96, kH = 64;
    const std::vector<uint8_t> picture = TestPicture(kW, kH);
    AviRecompressWriter w;
    ASSERT_TRUE(OpenDefault(w, path, kW, kH));
    // 4 s of one still picture: written once, then held by repeats.
    for (int32_t t = 0; t <= 4000; t += 1000) ASSERT_TRUE(w.WriteVideoFrame(picture.data(), 1, t, kW, kH));
    const int64_t frames = w.video_count();
    ASSERT_TRUE(w.Close());

    const Decoded d = DecodeFile(path);
    ASSERT_TRUE(d.clean);
    ASSERT_EQ(static_cast<int64_t>(d.frames.size()), frames);
    ASSERT_GT(frames, 110);
    // A still picture leaves every block of a delta frame skipped; key frames skip none.
    std::vector<size_t> keys;
    for (size_t i = 0; i < d.counts.size(); ++i)
        if (d.counts[i].skipped == 0) keys.push_back(i);
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(keys.front(), 0u);
    for (size_t k = 1; k < keys.size(); ++k) EXPECT_LE(keys[k] - keys[k - 1], 30u) << keys[k];
    EXPECT_LE(d.counts.size() - keys.back(), 30u);
    for (const auto& frame : d.frames) EXPECT_LT(Compare(frame, kW, picture, kW, kH).mean, kMeanLoss);
}

TEST(AviRecompressWriter, SizesAreRoundedToWholeBlocksAndOtherPictureSizesScaled) {
    TempFolder dir;
    {
        const std::string path = dir.Sub("odd.avi");
        const std::vector<uint8_t> picture = TestPicture(102, 70);
        AviRecompressWriter w;
        ASSERT_TRUE(OpenDefault(w, path, 102, 70));
        EXPECT_EQ(w.coded_width(), 104);
        EXPECT_EQ(w.coded_height(), 72);
        ASSERT_TRUE(w.WriteVideoFrame(picture.data(), 1, 0, 102, 70));
        ASSERT_TRUE(w.Close());
        const Decoded d = DecodeFile(path);
        ASSERT_TRUE(d.clean);
        ASSERT_EQ(d.width, 104);
        ASSERT_EQ(d.height, 72);
        ASSERT_EQ(d.frames.size(), 1u);
        EXPECT_LT(Compare(d.frames[0], 104, picture, 102, 70).mean, kMeanLoss);
    }
    {
        // A flat picture keeps its colour through any scaling.
        const std::string path = dir.Sub("scaled.avi");
        std::vector<uint8_t> small(160 * 120 * 3);
        for (size_t i = 0; i < small.size(); i += 3) {
            small[i] = 40;
            small[i + 1] = 160;
            small[i + 2] = 220;
        }
        const std::vector<uint8_t> large_expected = [&] {
            std::vector<uint8_t> v(320 * 240 * 3);
            for (size_t i = 0; i < v.size(); ++i) v[i] = small[i % 3];
            return v;
        }();
        AviRecompressWriter w;
        ASSERT_TRUE(OpenDefault(w, path, 320, 240));
        ASSERT_TRUE(w.WriteVideoFrame(small.data(), 1, 0, 160, 120));
        ASSERT_TRUE(w.Close());
        const Decoded d = DecodeFile(path);
        ASSERT_EQ(d.frames.size(), 1u);
        ASSERT_EQ(d.width, 320);
        EXPECT_LT(Compare(d.frames[0], 320, large_expected, 320, 240).mean, kMeanLoss);
    }
}

TEST(AviRecompressWriter, OrdinaryToolsReadTheFileAndTheTrailerPasses) {
    TempFolder dir;
    const std::string path = dir.Sub("export.avi");
    constexpr int kW = 176, kH = 144;
    const std::vector<uint8_t> picture = TestPicture(kW, kH);
    const std::vector<uint8_t> pcm(640, 0x10);
    AviRecompressWriter w;
    ASSERT_TRUE(w.Open(path, 85, 30, 16, 1, 8000, 0, kW, kH));
    for (int i = 0; i < 10; ++i) {
        // Pictures that move, and gaps held by repeats across key frames.
        std::vector<uint8_t> moved(picture.size());
        for (size_t k = 0; k < picture.size(); ++k) moved[k] = picture[(k + i * 3 * 4) % picture.size()];
        ASSERT_TRUE(w.WriteVideoFrame(moved.data(), 1, i * 200, kW, kH));
        w.WriteAudio(pcm.data(), static_cast<int>(pcm.size()));
    }
    const int64_t frames = w.video_count();
    ASSERT_TRUE(w.Close());

    const std::vector<uint8_t> f = ReadAll(path);
    EXPECT_EQ(IdAt(f, kVideoStrh + 4), "MSVC");
    EXPECT_EQ(Le32(f, kVideoStrh + 40), 8500u);
    EXPECT_EQ(Le32(f, kVideoStrh + 32), static_cast<uint32_t>(frames));
    EXPECT_EQ(Le16(f, kVideoStrf + 14), 16);
    EXPECT_EQ(Le16(f, kAudioStrf), 1);
    const Decoded d = DecodeFile(path);
    EXPECT_EQ(d.audio_chunks, 10);
    EXPECT_EQ(static_cast<int64_t>(d.frames.size()), frames);

    ASSERT_TRUE(AppendWatermarkTrailer(path));
    EXPECT_TRUE(CheckAviTrailer(path));
    EXPECT_NE(FindAviChecksumPosition(path), 0u);
    EXPECT_TRUE(DecodeFile(path).clean);

    if (!HaveFfprobe()) SKIP_WITHOUT_INSTALLED("ffprobe not installed");
    const std::string streams = Ffprobe(path);
    EXPECT_NE(streams.find("codec_name=msvideo1"), std::string::npos) << streams;
    EXPECT_NE(streams.find("width=176"), std::string::npos) << streams;
    EXPECT_NE(streams.find("codec_name=pcm_s16le"), std::string::npos) << streams;
    const std::string counted = RunCommand(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 '" + path +
        "' 2>&1");
    EXPECT_EQ(counted, std::to_string(frames) + "\n");
    EXPECT_EQ(RunCommand("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "");
}

// Sound chunks hold whole samples, whatever length a damaged entry gives,
// so players take every chunk; a part opened before its first sound can
// still declare the sound it will hold.
TEST(AviRecompressWriter, SoundChunksHoldWholeSamplesAndTheFormatCanFollowTheFirstSound) {
    struct Case {
        const char* name;
        int bits, channels;
        int redeclare_bits;  // 0: kept as opened
        int mu_law;
        std::vector<int> lengths;
        std::vector<size_t> chunk_sizes;
        int format_tag;
    };
    const Case cases[] = {
        {"16-bit mono", 16, 1, 0, 0, {641, 3, 1, 640}, {640, 2, 640}, 1},
        {"16-bit stereo", 16, 2, 0, 0, {645, 7, 4}, {644, 4, 4}, 1},
        {"8-bit mono", 8, 1, 0, 0, {641, 1}, {641, 1}, 1},
        {"opened 16-bit, sound is G.711", 16, 1, 8, 1, {641, 3}, {641, 3}, 7},
    };
    constexpr int kW = 176, kH = 144;
    const std::vector<uint8_t> picture = TestPicture(kW, kH);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder dir;
        const std::string path = dir.Sub("sound.avi");
        AviRecompressWriter w;
        ASSERT_TRUE(w.Open(path, 85, 30, c.bits, c.channels, 8000, 0, kW, kH));
        ASSERT_TRUE(w.WriteVideoFrame(picture.data(), 1, 0, kW, kH));
        if (c.redeclare_bits) {
            EXPECT_TRUE(w.RedeclareAudio(c.redeclare_bits, c.channels, 8000, c.mu_law));
        }
        for (int length : c.lengths) {
            const std::vector<uint8_t> sound(static_cast<size_t>(length), 0x21);
            w.WriteAudio(sound.data(), length);
        }
        // Once sound is in the file its format stays.
        EXPECT_FALSE(w.RedeclareAudio(16, 2, 16000, 0));
        ASSERT_TRUE(w.Close());

        AviReader reader;
        ASSERT_TRUE(reader.Open(path));
        EXPECT_EQ(reader.audio_format(), c.format_tag == 7 ? AviReader::kAudioMuLaw : AviReader::kAudioPcm);
        EXPECT_EQ(reader.audio_bits_per_sample(), c.redeclare_bits ? c.redeclare_bits : c.bits);
        EXPECT_EQ(reader.audio_channels(), c.channels);
        EXPECT_EQ(reader.audio_sample_rate(), 8000);
        bool failed = false;
        std::vector<size_t> sizes;
        for (const auto& chunk : Chunks(reader, &failed))
            if (chunk.kind == AviReader::kChunkAudio) sizes.push_back(chunk.data.size());
        EXPECT_FALSE(failed);
        EXPECT_EQ(sizes, c.chunk_sizes);
        if (HaveFfprobe()) {
            EXPECT_EQ(RunCommand("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "");
        }
    }
}

TEST(AviRecompressWriter, FailedWritesAreReported) {
    TempFolder dir;
    const std::string path = dir.Sub("full.avi");
    constexpr int kW = 320, kH = 240;
    const std::vector<uint8_t> picture = TestPicture(kW, kH);
    AviRecompressWriter w;
    EXPECT_FALSE(w.WriteVideoFrame(picture.data(), 1, 0, kW, kH));  // not open
    EXPECT_FALSE(w.Open(path, 80, 30, 0, 1, 8000, 0, kW, kH));       // no audio block align
    EXPECT_FALSE(std::filesystem::exists(path));
    bool refused = false;
    {
        struct Limit {
            rlimit saved{};
            sighandler_t old;
            Limit() {
                getrlimit(RLIMIT_FSIZE, &saved);
                old = signal(SIGXFSZ, SIG_IGN);
                rlimit r = saved;
                r.rlim_cur = 100 * 1024;
                setrlimit(RLIMIT_FSIZE, &r);
            }
            ~Limit() {
                setrlimit(RLIMIT_FSIZE, &saved);
                signal(SIGXFSZ, old);
            }
        } limit;
        ASSERT_TRUE(OpenDefault(w, path, kW, kH));
        // Every key frame is a whole picture of coded blocks; the limit is soon reached.
        for (int i = 0; i < 200 && !refused; ++i)
            refused = !w.WriteVideoFrame(picture.data(), 1, i * 1000, kW, kH);
        EXPECT_TRUE(refused);
        EXPECT_FALSE(w.Close());
    }
    const Decoded d = DecodeFile(path);
    EXPECT_TRUE(d.clean);
    EXPECT_FALSE(d.frames.empty());
}

}  // namespace
